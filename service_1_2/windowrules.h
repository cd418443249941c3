#pragma once

#include <QList>
#include <QString>
#include <QTime>
#include <QVector>

// The rules of the 1.2 editions' window that need no window: the line settings named
// by the combo boxes, the adjustment of the first two values of a reply, and the
// formats of the log and of the exported samples.
namespace Edition12 {
// The baud rate, parity and stop bits (QSerialPort values) that the boxes' texts name.
int baudRateFromText(const QString& text);
int parityFromText(const QString& text);
int stopBitsFromText(const QString& text);

// The sensor reports its identity in the first two registers of each block with
// values of its own; this turns them into what the tables show.
void fixUpLeadingValues(QList<quint16>& values);

// A log line without its line end: "[HH:mm:ss.zzz] " and the text.
QString logLine(const QTime& time, const QString& text);

// One value per line, fixed notation with 8 decimals.
QString exportText(const QVector<double>& values);
}
