#pragma once

#include <QByteArray>
#include <QIODevice>

#include "vibroseries.h"

// Appends `value` in fixed notation with `decimals` decimals, byte for byte as
// QString::number(value, 'f', decimals) writes it, only faster.
void appendFixed(QByteArray& out, double value, int decimals);

// Writes the CSV table of one quantity to `device` in pieces of about `chunkBytes`: an
// optional "time,X,Y,Z,M" header, then one row per value of the Z series with the X key
// and the X, Y, Z and M values; a series that is shorter than Z leaves its field empty.
// False when a write fell short.
bool writeVibroCsv(QIODevice& device, const VibroSeries (&axes)[VibroAxisCount], bool withHeader,
    int chunkBytes = 1 << 20);
