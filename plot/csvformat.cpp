#include "csvformat.h"

#include <QString>

#include <charconv>
#include <cmath>

namespace {
// A value that lies exactly half-way between two results may be rounded differently
// by std::to_chars and by Qt; those, and anything unusual, take Qt's own path.
bool needsQtFormatting(double value, int decimals)
{
    if (!std::isfinite(value) || value == 0.0 || std::fabs(value) >= 1e15)
        return true;
    const double scaled = std::ldexp(value, decimals + 1);
    return scaled == std::floor(scaled) && std::fmod(scaled, 2.0) != 0.0;
}
}

void appendFixed(QByteArray& out, double value, int decimals)
{
    if (needsQtFormatting(value, decimals)) {
        out.append(QString::number(value, 'f', decimals).toLatin1());
        return;
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) {
        // More digits than the buffer holds.
        out.append(QString::number(value, 'f', decimals).toLatin1());
        return;
    }
    out.append(buffer, int(result.ptr - buffer));
}

bool writeVibroCsv(QIODevice& device, const VibroSeries (&axes)[VibroAxisCount], bool withHeader, int chunkBytes)
{
    // Built and written a piece at a time: a table of a long run may pass what one QByteArray holds.
    QByteArray out;
    out.reserve(chunkBytes + 256);
    const auto flush = [&] {
        const bool written = device.write(out) == out.size();
        out.clear();
        return written;
    };
    if (withHeader)
        out.append("time,X,Y,Z,M\n");
    const int rows = axes[Z].values.size();
    for (int i = 0; i < rows; ++i) {
        if (i < axes[X].keys.size())
            appendFixed(out, axes[X].keys.at(i), 0);
        for (int axis = X; axis <= M; ++axis) {
            out.append(',');
            if (i < axes[axis].values.size())
                appendFixed(out, axes[axis].values.at(i), 8);
        }
        out.append('\n');
        if (out.size() >= chunkBytes && !flush())
            return false;
    }
    return out.isEmpty() || flush();
}
