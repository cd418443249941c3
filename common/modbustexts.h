#pragma once

#include <QModbusDevice>
#include <QString>

class QModbusReply;
struct ModbusOutcome;

// Status-bar and log texts of failed Modbus requests; the numbers are hexadecimal.
namespace ModbusTexts {
QString readRefused(const QString& reason);
QString readFailed(QModbusDevice::Error error, const QString& errorString, int exceptionCode);
QString readFailed(const QModbusReply& reply);
QString readMismatch(int requestedStart, int requestedCount, int receivedStart, int receivedCount);
QString writeRefused(const QString& reason);
QString writeFailed(QModbusDevice::Error error, const QString& errorString, int exceptionCode);
QString writeFailed(const QModbusReply& reply);
QString writeMismatch(int requestedAddress, int requestedCount, int confirmedAddress, int confirmedCount);
// What to show and log for a request that did not succeed; empty for one that did, and
// for one dropped by a disconnect.
QString failure(const ModbusOutcome& outcome);
// A value cell whose text is no whole number from `lowest` to `highest`: nothing is written.
QString writeValueRejected(const QString& text, int address, qint64 lowest, qint64 highest);
}
