#pragma once

#include <QPoint>

#include <qcustomplot.h>

// The right-button zoom drag of a plot: every move is measured from the state at the
// press, so moves do not feed each other, a return to the press point gives back the
// ranges of the press, and no range ever gets a width of zero or less.
struct DragZoomPress {
    QPoint pos;
    QCPRange xRange{0, 0};
    QCPRange yRange{0, 0};
    double xCoordPerPixel = 0;
    double yCoordPerPixel = 0;
};

// The state of the plot's two drag axes (of axis rect 0) at a press at `pos`.
DragZoomPress dragZoomPress(QCustomPlot* plot, const QPoint& pos);

// Sets the ranges of the linear drag axes for the pointer at `pos`; an axis whose new
// range would be empty or turned inside out keeps its range. Does not replot.
void applyDragZoom(QCustomPlot* plot, const DragZoomPress& press, const QPoint& pos);

// One axis: the range at the press widened by the coordinate distance the pointer moved
// (pressPixel - pixel) * coordPerPixelAtPress on both ends; false when the result would
// not be a valid range with upper > lower.
bool zoomedRange(double coordPerPixelAtPress, const QCPRange& atPress, int pressPixel, int pixel, QCPRange& zoomed);
