#include "graphdrawer.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>

#include <algorithm>
#include <cmath>

#include "csvformat.h"
#include "programdir.h"
#include "wholefile.h"

namespace {
const char* const quantityFragments[VibroQuantityCount] = {"ускорен", "скорост", "перемещен"};
const char* const valueAxisLabels[VibroQuantityCount] = {
    QT_TRANSLATE_NOOP("GraphDrawer", "СКЗ виброускорения A [м/с2]"),
    QT_TRANSLATE_NOOP("GraphDrawer", "СКЗ виброскорости V [мм/с]"),
    QT_TRANSLATE_NOOP("GraphDrawer", "СКЗ виброперемещения S [мкм]"),
};
const char* const graphNames[3] = {
    QT_TRANSLATE_NOOP("GraphDrawer", "Ось X"),
    QT_TRANSLATE_NOOP("GraphDrawer", "Ось Y"),
    QT_TRANSLATE_NOOP("GraphDrawer", "Ось Z"),
};
const Qt::GlobalColor graphColours[3] = {Qt::blue, Qt::red, Qt::black};
const char* const imageNames[VibroQuantityCount] = {
    QT_TRANSLATE_NOOP("GraphDrawer", "График виброускорения [%1, %2].png"),
    QT_TRANSLATE_NOOP("GraphDrawer", "График виброскорости [%1, %2].png"),
    QT_TRANSLATE_NOOP("GraphDrawer", "График виброперемещения [%1, %2].png"),
};
const char* const tableNames[VibroQuantityCount] = {
    QT_TRANSLATE_NOOP("GraphDrawer", "Vibroacceleration [%1, %2].csv"),
    QT_TRANSLATE_NOOP("GraphDrawer", "Vibrovelocity [%1, %2].csv"),
    QT_TRANSLATE_NOOP("GraphDrawer", "Vibrodisplacement [%1, %2].csv"),
};
const qint64 clickLimitMs = 99;
const QPoint menuOffset(30, 20);
// Replies that come faster than the screen's frames are drawn together.
const double frameMs = 33;
// The most of the time that drawing new samples may take. A long run's redraw is slow
// (all samples are walked), and polling must keep its pace all the same.
const double drawShare = 0.04;

int quantityOfText(const QString& text)
{
    for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
        if (text.indexOf(QString::fromUtf8(quantityFragments[quantity]), 0, Qt::CaseInsensitive) >= 0)
            return quantity;
    }
    return -1;
}

// The range an axis takes when it is fitted to `found`, as QCPAxis::rescale does it.
void fitAxis(QCPAxis* axis, bool haveRange, QCPRange found)
{
    if (!haveRange)
        return;
    if (!QCPRange::validRange(found)) {
        const double centre = (found.lower + found.upper) * 0.5;
        found.lower = centre - axis->range().size() / 2.0;
        found.upper = centre + axis->range().size() / 2.0;
    }
    axis->setRange(found);
}

// The file names of the jobs that did not come through; nothing is tried in a folder
// that could not be made.
QStringList failedNames(bool folderReady, const QVector<WholeFile::Job>& jobs, bool textMode)
{
    QStringList failedPaths;
    if (folderReady) {
        failedPaths = WholeFile::saveAll(jobs, textMode);
    } else {
        for (const WholeFile::Job& job : jobs)
            failedPaths << job.path;
    }
    QStringList failed;
    for (const QString& path : failedPaths)
        failed << QFileInfo(path).fileName();
    return failed;
}
}

GraphDrawer::GraphDrawer(QCustomPlot* plot, QWidget* parent)
    : QWidget(parent)
    , plot(plot)
    , clock([] { return QDateTime::currentDateTime(); })
{
    connect(plot, SIGNAL(mouseMove(QMouseEvent*)), this, SLOT(slotMouseMove(QMouseEvent*)));
    connect(plot, SIGNAL(mouseDoubleClick(QMouseEvent*)), this, SLOT(slotMouseDoubleClick(QMouseEvent*)));
    connect(plot, SIGNAL(mousePress(QMouseEvent*)), this, SLOT(slotMousePress(QMouseEvent*)));
    connect(plot, SIGNAL(mouseRelease(QMouseEvent*)), this, SLOT(slotMouseRelease(QMouseEvent*)));
    for (int graph = 0; graph < 3; ++graph)
        plot->addGraph(nullptr, nullptr);
    plot->legend->setVisible(true);
    plot->setInteraction(QCP::iRangeDrag, true);
    plot->setInteraction(QCP::iRangeZoom, true);

    redrawTimer.setSingleShot(true);
    // The plot as context object: a timeout never reaches a plot that is gone.
    connect(&redrawTimer, &QTimer::timeout, plot, [this] {
        if (redrawPending && this->plot->isVisible())
            this->plot->replot();
    });
    // Every redraw, the user's too, shows all samples so far.
    connect(plot, &QCustomPlot::afterReplot, this, [this] {
        redrawPending = false;
        redrawTimer.stop();
        sinceRedraw.start();
    });
    plot->installEventFilter(this);
}

GraphDrawer::~GraphDrawer() = default;

QPair<QVector<double>*, QVector<double>*> GraphDrawer::seriesForRegister(int index)
{
    if (index < 3 || index > 25 || index % 2 == 0)
        return {nullptr, nullptr};
    const int slot = (index - 3) / 2;
    VibroSeries& target = series[slot / VibroAxisCount][slot % VibroAxisCount];
    return {&target.keys, &target.values};
}

const VibroSeries& GraphDrawer::seriesOf(VibroQuantity quantity, VibroAxis axis) const
{
    return series[quantity][axis];
}

void GraphDrawer::setClock(std::function<QDateTime()> newClock)
{
    clock = std::move(newClock);
}

void GraphDrawer::setRedrawDeferred(bool deferred)
{
    redrawDeferred = deferred;
}

void GraphDrawer::plotVibroparameter(const QString& quantityText)
{
    const int found = quantityOfText(quantityText);
    if (found < 0)
        return;
    const auto quantity = VibroQuantity(found);
    plot->yAxis->setLabel(tr(valueAxisLabels[quantity]));
    const bool rebuild = quantity != drawnQuantity;
    for (int graph = 0; graph < 3; ++graph)
        syncGraph(graph, series[quantity][graph], rebuild);
    drawnQuantity = quantity;
    plot->xAxis->setLabel(tr("Время T [с]"));
    for (int graph = 0; graph < 3; ++graph) {
        plot->graph(graph)->setPen(QPen(graphColours[graph]));
        plot->graph(graph)->setName(tr(graphNames[graph]));
    }
    fitAxes(quantity);
    scheduleRedraw();
}

// A hidden plot is drawn when it is shown again (see eventFilter).
void GraphDrawer::scheduleRedraw()
{
    if (!redrawDeferred) {
        plot->replot();
        return;
    }
    redrawPending = true;
    if (!plot->isVisible() || redrawTimer.isActive())
        return;
    const double cost = plot->replotTime(true);
    const double gap = std::max(frameMs - cost, cost * (1 / drawShare - 1));
    const double waited = sinceRedraw.isValid() ? double(sinceRedraw.elapsed()) : gap;
    redrawTimer.start(int(std::ceil(std::max(0.0, gap - waited))));
}

// What waits to be drawn is drawn once the plot is shown again, and before a press or a
// wheel turn, so that the user zooms what the axes show.
bool GraphDrawer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == plot && redrawPending) {
        const QEvent::Type type = event->type();
        if (type == QEvent::Show || type == QEvent::MouseButtonPress || type == QEvent::Wheel)
            plot->replot();
    }
    return QWidget::eventFilter(watched, event);
}

// A growing series only needs its new samples appended (QCustomPlot merges them in
// should a key go back); the whole graph is reloaded after a change of quantity or
// anything unexpected.
void GraphDrawer::syncGraph(int graph, const VibroSeries& source, bool rebuild)
{
    QCPGraph* target = plot->graph(graph);
    const int drawn = drawnCount[graph];
    const int size = source.keys.size();
    const bool appendable = !rebuild && drawn <= size && target->dataCount() == drawn
        && (drawn == 0 || drawn == size || source.keys.at(drawn) >= source.keys.at(drawn - 1));
    if (!appendable)
        target->setData(source.keys, source.values, false);
    else if (size > drawn) {
        const QVector<double> keys = source.keys.mid(drawn);
        target->addData(keys, source.values.mid(drawn), std::is_sorted(keys.constBegin(), keys.constEnd()));
    }
    drawnCount[graph] = size;
}

const GraphDrawer::SeriesExtent& GraphDrawer::extentOf(VibroQuantity quantity, int axis)
{
    SeriesExtent& extent = extents[quantity][axis];
    const VibroSeries& source = series[quantity][axis];
    if (extent.scanned > source.values.size())
        extent = SeriesExtent();
    for (int i = extent.scanned; i < source.values.size(); ++i) {
        const double value = source.values.at(i);
        if (std::isnan(value))
            continue;
        // The lowest and highest key, as the fit of a sorted graph finds them.
        const double key = source.keys.at(i);
        if (!extent.haveKeys || key < extent.firstKey)
            extent.firstKey = key;
        if (!extent.haveKeys || key > extent.lastKey)
            extent.lastKey = key;
        extent.haveKeys = true;
        if (!extent.haveValues || value < extent.minValue)
            extent.minValue = value;
        if (!extent.haveValues || value > extent.maxValue)
            extent.maxValue = value;
        extent.haveValues = true;
    }
    extent.scanned = source.values.size();
    return extent;
}

// Fits both axes to the three graphs exactly as QCustomPlot::rescaleAxes does, but
// from the kept extents instead of a scan of every sample.
void GraphDrawer::fitAxes(VibroQuantity quantity)
{
    if (plot->xAxis->scaleType() != QCPAxis::stLinear || plot->yAxis->scaleType() != QCPAxis::stLinear) {
        plot->rescaleAxes(false);
        return;
    }
    bool haveKeys = false;
    bool haveValues = false;
    QCPRange keys;
    QCPRange values;
    for (int axis = X; axis <= Z; ++axis) {
        const SeriesExtent& extent = extentOf(quantity, axis);
        if (extent.haveKeys) {
            const QCPRange range(extent.firstKey, extent.lastKey);
            if (haveKeys)
                keys.expand(range);
            else
                keys = range;
            haveKeys = true;
        }
        if (extent.haveValues) {
            const QCPRange range(extent.minValue, extent.maxValue);
            if (haveValues)
                values.expand(range);
            else
                values = range;
            haveValues = true;
        }
    }
    fitAxis(plot->xAxis, haveKeys, keys);
    fitAxis(plot->yAxis, haveValues, values);
}

void GraphDrawer::clearCanvas()
{
    for (auto& quantity : series) {
        for (auto& axis : quantity)
            axis.keys.clear();
    }
    for (auto& quantity : series) {
        for (auto& axis : quantity)
            axis.values.clear();
    }
    for (int graph = 0; graph < 3; ++graph) {
        plot->graph(graph)->data()->clear();
        drawnCount[graph] = 0;
    }
    for (auto& quantity : extents) {
        for (auto& extent : quantity)
            extent = SeriesExtent();
    }
    plot->replot();
    plot->update();
}

bool GraphDrawer::ensureFolder(const QString& name, QString& path) const
{
    path = ProgramDir::filePath(name);
    QDir folder(path);
    return folder.exists() || folder.mkpath(QStringLiteral("."));
}

void GraphDrawer::reportExport(const QString& folder, const QString& successText, const QStringList& failed)
{
    if (failed.isEmpty()) {
        QMessageBox::information(plot->window(), QStringLiteral("Успешно"), successText, QMessageBox::Ok);
        return;
    }
    QMessageBox::warning(plot->window(), QStringLiteral("Ошибка"),
        QStringLiteral("Не удалось сохранить в папке %1:\n\n%2").arg(folder, failed.join(QLatin1Char('\n'))),
        QMessageBox::Ok);
}

void GraphDrawer::exportDataPng()
{
    QString folder;
    const bool folderReady = ensureFolder(QStringLiteral("Plots"), folder);
    const QDateTime now = clock();
    const QString time = now.time().toString(QStringLiteral("HH-mm"));
    const QString date = now.toString(QStringLiteral("dd.MM.yyyy"));
    QVector<WholeFile::Job> jobs;
    for (const char* pattern : imageNames) {
        const QString name = tr(pattern).arg(time, date);
        plotVibroparameter(name);
        // The plot shows each image as it is made, not a frame later.
        plot->replot();
        // Rendered as savePng does it (widget size, scale 1, 96 dpi), but saved whole so
        // that a failed write leaves an earlier image in place.
        QImage image = plot->toPixmap(0, 0, 1.0).toImage();
        const int dotsPerMeter = int(96 / 0.0254);
        image.setDotsPerMeterX(dotsPerMeter);
        image.setDotsPerMeterY(dotsPerMeter);
        jobs.append({folder + QLatin1Char('/') + name,
            [image](QIODevice& device) { return !image.isNull() && image.save(&device, "PNG", -1); }});
    }
    reportExport(QStringLiteral("Plots"),
        QStringLiteral("Текущие графики сохранены в папке Plots, находящейся в корневом пути программы."),
        failedNames(folderReady, jobs, false));
}

void GraphDrawer::exportDataTxt()
{
    const QDateTime now = clock();
    const QString time = now.time().toString(QStringLiteral("HH-mm"));
    const QString date = now.toString(QStringLiteral("dd.MM.yyyy"));
    QString folder;
    const bool folderReady = ensureFolder(QStringLiteral("Data"), folder);
    QVector<WholeFile::Job> jobs;
    for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
        const VibroSeries(&axes)[VibroAxisCount] = series[quantity];
        const bool withHeader = quantity == Acceleration;
        jobs.append({folder + QLatin1Char('/') + tr(tableNames[quantity]).arg(time, date),
            [&axes, withHeader](QIODevice& device) { return writeVibroCsv(device, axes, withHeader); }});
    }
    reportExport(QStringLiteral("Data"),
        QStringLiteral("Измеряемые вибровеличины сохранены в папке Data, находящейся в корневом пути программы."),
        failedNames(folderReady, jobs, true));
}

void GraphDrawer::slotMouseDoubleClick(QMouseEvent*)
{
}

void GraphDrawer::slotMousePress(QMouseEvent* event)
{
    if (event->button() != Qt::RightButton)
        return;
    pressTimer.start();
    plot->setCursor(Qt::ClosedHandCursor);
    dragging = true;
    press = dragZoomPress(plot, event->pos());
}

void GraphDrawer::slotMouseMove(QMouseEvent* event)
{
    if (!dragging)
        return;
    applyDragZoom(plot, press, event->pos());
    plot->replot();
}

void GraphDrawer::slotMouseRelease(QMouseEvent* event)
{
    if (event->button() != Qt::RightButton)
        return;
    plot->setCursor(Qt::ArrowCursor);
    const bool pressed = dragging;
    dragging = false;
    if (!pressed || !pressTimer.isValid() || pressTimer.elapsed() > clickLimitMs)
        return;
    auto* menu = new QMenu(this);
    menu->addAction(tr("Сохранить графики в .png"), this, SLOT(exportDataPng()), QKeySequence());
    menu->addAction(tr("Сохранить данные в .csv"), this, SLOT(exportDataTxt()), QKeySequence());
    QAction* restore = menu->addAction(tr("Восстановить размер"));
    restore->setShortcut(QKeySequence());
    connect(restore, &QAction::triggered, this, [this] { restoreSize(); });
    menu->addAction(tr("Очистить график"), this, SLOT(clearCanvas()), QKeySequence());
    menu->exec(plot->mapToGlobal(event->pos() + menuOffset));
    delete menu;
}

void GraphDrawer::restoreSize()
{
    plot->rescaleAxes(false);
    plot->replot();
}
