#pragma once

#include <QByteArray>
#include <QList>
#include <QModbusRequest>
#include <QModbusResponse>

// Data part of a function-16 (write multiple registers) request: start address,
// register count, byte count, then the values, all big-endian.
QByteArray writeRegistersData(int address, const QList<quint16>& values);
QModbusRequest writeRegistersRequest(int address, const QList<quint16>& values);

// Start address and register count that a function-16 reply confirms; false when the
// reply is not a well-formed function-16 answer.
bool writeRegistersEcho(const QModbusResponse& response, int& address, int& count);
