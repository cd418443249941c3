#pragma once

#include <QString>
#include <QtGlobal>

// The value cells of the configuration table. A cell shows a register's value times its
// display scale; the write pass takes back only a whole decimal number that is a multiple
// of that scale and whose raw value fits a register as signed or unsigned 16 bits, so that
// what goes out is exactly the number the cell shows.
namespace CellValue {
// Register 2 is shown ten times its raw value; every other register as it is.
int displayScale(int address);
// What the cell of register `address` shows for `value`: a scaled register its unsigned
// value times the scale, any other the value as signed or unsigned 16 bits.
QString shownText(int address, quint16 value, bool asSigned);

// The lowest and highest number a cell of that scale may show: -32768 and 65535 times it.
qint64 lowest(int displayScale);
qint64 highest(int displayScale);
// The raw register value of `text`, the shown number divided by the scale. False, leaving
// `value` alone, for text that is no whole number, is no multiple of the scale or lies
// outside the range above.
bool toRegister(const QString& text, int displayScale, quint16& value);
}
