#pragma once

#include <QByteArray>
#include <QList>
#include <QModbusRequest>

// Data part of a function-16 (write multiple registers) request: start address,
// register count, byte count, then the values, all big-endian.
QByteArray writeRegistersData(int address, const QList<quint16>& values);
QModbusRequest writeRegistersRequest(int address, const QList<quint16>& values);
