#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QPair>
#include <QPoint>
#include <QTimer>
#include <QVector>
#include <QWidget>
#include <functional>

#include <qcustomplot.h>

#include "dragzoom.h"
#include "vibroseries.h"

// The vibration plot: twelve sample series (three quantities on the axes X, Y, Z and
// the modulus M), of which one quantity's X, Y and Z are drawn on the form's plot
// widget, the right-button zoom and context menu, and the PNG and CSV export.
class GraphDrawer : public QWidget
{
    Q_OBJECT

public:
    GraphDrawer(QCustomPlot* plot, QWidget* parent);
    ~GraphDrawer() override;

    // The (keys, values) lists fed by the value at `index` of a state reply, or two
    // null pointers when that position feeds no series.
    QPair<QVector<double>*, QVector<double>*> seriesForRegister(int index);
    // Takes the quantity named in `quantityText` into the graphs and fits the axes. The
    // pixels follow with the next frame, or when the plot is shown again if it is hidden.
    void plotVibroparameter(const QString& quantityText);

    const VibroSeries& seriesOf(VibroQuantity quantity, VibroAxis axis) const;
    // The clock that names export files; the system clock unless a test sets another.
    void setClock(std::function<QDateTime()> clock);
    // Off, every call of plotVibroparameter draws at once, as the plot used to; kept for
    // measuring the two side by side.
    void setRedrawDeferred(bool deferred);

public slots:
    void exportDataTxt();
    void clearCanvas();
    void exportDataPng();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void slotMouseDoubleClick(QMouseEvent* event);
    void slotMouseRelease(QMouseEvent* event);
    void slotMousePress(QMouseEvent* event);
    void slotMouseMove(QMouseEvent* event);

private:
    // What a series holds, kept up to date as it grows, so that a redraw does not
    // rescan all samples to fit the axes.
    struct SeriesExtent {
        int scanned = 0;
        bool haveKeys = false;
        double firstKey = 0;
        double lastKey = 0;
        bool haveValues = false;
        double minValue = 0;
        double maxValue = 0;
    };

    void restoreSize();
    void scheduleRedraw();
    void syncGraph(int graph, const VibroSeries& source, bool rebuild);
    void fitAxes(VibroQuantity quantity);
    const SeriesExtent& extentOf(VibroQuantity quantity, int axis);
    bool ensureFolder(const QString& name, QString& path) const;
    void reportExport(const QString& folder, const QString& successText, const QStringList& failed);

    bool dragging = false;
    DragZoomPress press;
    QElapsedTimer pressTimer;
    QCustomPlot* plot;
    VibroSeries series[VibroQuantityCount][VibroAxisCount];

    int drawnQuantity = -1;
    int drawnCount[3] = {0, 0, 0};
    SeriesExtent extents[VibroQuantityCount][VibroAxisCount];
    std::function<QDateTime()> clock;

    // New samples wait for the next frame, and for the plot to be seen, to be drawn.
    QTimer redrawTimer;
    QElapsedTimer sinceRedraw;
    bool redrawPending = false;
    bool redrawDeferred = true;
};
