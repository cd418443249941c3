#pragma once

#include <QVector>

enum VibroQuantity { Acceleration, Velocity, Displacement, VibroQuantityCount };
enum VibroAxis { X, Y, Z, M, VibroAxisCount };

// One measured series: the poll count of each sample and its value.
// Both grow together, one element per sample.
struct VibroSeries {
    QVector<double> keys;
    QVector<double> values;
};
