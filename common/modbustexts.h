#pragma once

#include <QModbusDevice>
#include <QString>

struct ModbusOutcome;

// Status-bar and log texts of failed Modbus requests; the numbers are hexadecimal.
namespace ModbusTexts {
QString connectFailed(const QString& reason);
QString readRefused(const QString& reason);
QString readFailed(QModbusDevice::Error error, const QString& errorString, int exceptionCode);
QString readMismatch(int requestedStart, int requestedCount, int receivedStart, int receivedCount);
QString writeRefused(const QString& reason);
QString writeFailed(QModbusDevice::Error error, const QString& errorString, int exceptionCode);
QString writeMismatch(int requestedAddress, int requestedCount, int confirmedAddress, int confirmedCount);
// What to show and log for a request that did not succeed; empty for one that did, and
// for one dropped by a disconnect.
QString failure(const ModbusOutcome& outcome);

// What a window's status bar shows for the outcome of a request, for how long, and
// whether the log gets it too. No text for a read that succeeded (its values are shown)
// and for a request dropped by a disconnect.
struct Notice {
    QString text;
    int durationMs = 0;
    bool logged = false;
};
Notice notice(const ModbusOutcome& outcome);

// The poll counter's label: polls sent and state values received.
QString pollCounter(quint64 pollsSent, quint64 statusValuesReceived);
// The value cell of register `address` shows what cannot go out: it names what the cell
// takes, a whole number in its range and, where the cell is scaled, a multiple of the scale.
QString writeValueRejected(const QString& text, int address);
}
