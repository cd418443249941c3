#include "dragzoom.h"

namespace {
// The coordinate step of one pixel on a linear axis as it is laid out now. Kept from the
// press: the zoom changes the tick labels, and with them the size of the axis rect.
double coordPerPixel(QCPAxis* axis)
{
    if (!axis)
        return 0;
    const bool horizontal = axis->orientation() == Qt::Horizontal;
    const int pixels = horizontal ? axis->axisRect()->width() : axis->axisRect()->height();
    if (pixels <= 0)
        return 0;
    const double sign = (horizontal ? 1.0 : -1.0) * (axis->rangeReversed() ? -1.0 : 1.0);
    return sign * axis->range().size() / pixels;
}

void zoomAxis(QCPAxis* axis, double coordPerPixelAtPress, const QCPRange& atPress, int pressPixel, int pixel)
{
    QCPRange zoomed;
    if (axis && axis->scaleType() == QCPAxis::stLinear
        && zoomedRange(coordPerPixelAtPress, atPress, pressPixel, pixel, zoomed))
        axis->setRange(zoomed);
}
}

DragZoomPress dragZoomPress(QCustomPlot* plot, const QPoint& pos)
{
    DragZoomPress press;
    press.pos = pos;
    QCPAxisRect* rect = plot->axisRect(0);
    if (!rect)
        return press;
    QCPAxis* horizontal = rect->rangeDragAxis(Qt::Horizontal);
    QCPAxis* vertical = rect->rangeDragAxis(Qt::Vertical);
    if (horizontal) {
        press.xRange = horizontal->range();
        press.xCoordPerPixel = coordPerPixel(horizontal);
    }
    if (vertical) {
        press.yRange = vertical->range();
        press.yCoordPerPixel = coordPerPixel(vertical);
    }
    return press;
}

void applyDragZoom(QCustomPlot* plot, const DragZoomPress& press, const QPoint& pos)
{
    QCPAxisRect* rect = plot->axisRect(0);
    if (!rect)
        return;
    zoomAxis(rect->rangeDragAxis(Qt::Horizontal), press.xCoordPerPixel, press.xRange, press.pos.x(), pos.x());
    zoomAxis(rect->rangeDragAxis(Qt::Vertical), press.yCoordPerPixel, press.yRange, press.pos.y(), pos.y());
}

bool zoomedRange(double coordPerPixelAtPress, const QCPRange& atPress, int pressPixel, int pixel, QCPRange& zoomed)
{
    const double d = (pressPixel - pixel) * coordPerPixelAtPress;
    const double lower = atPress.lower + d;
    const double upper = atPress.upper - d;
    // Checked before QCPRange sees the bounds: it would swap those of a range turned inside out.
    if (!(upper > lower))
        return false;
    const QCPRange range(lower, upper);
    if (!QCPRange::validRange(range))
        return false;
    zoomed = range;
    return true;
}
