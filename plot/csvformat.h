#pragma once

#include <QByteArray>

#include "vibroseries.h"

// Appends `value` in fixed notation with `decimals` decimals, byte for byte as
// QString::number(value, 'f', decimals) writes it, only faster.
void appendFixed(QByteArray& out, double value, int decimals);

// The CSV table of one quantity: an optional "time,X,Y,Z,M" header, then one row per
// value of the Z series with the X key and the X, Y, Z and M values; a series that is
// shorter than Z leaves its field empty.
QByteArray vibroCsv(const VibroSeries (&axes)[VibroAxisCount], bool withHeader);
