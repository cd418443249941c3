#include "writerequest.h"

QByteArray writeRegistersData(int address, const QList<quint16>& values)
{
    const int count = values.size();
    QByteArray data;
    data.reserve(5 + 2 * count);
    data.append(char((address >> 8) & 0xff));
    data.append(char(address & 0xff));
    data.append(char((count >> 8) & 0xff));
    data.append(char(count & 0xff));
    data.append(char((2 * count) & 0xff));
    for (quint16 value : values) {
        data.append(char(value >> 8));
        data.append(char(value & 0xff));
    }
    return data;
}

QModbusRequest writeRegistersRequest(int address, const QList<quint16>& values)
{
    return QModbusRequest(QModbusPdu::WriteMultipleRegisters, writeRegistersData(address, values));
}

bool writeRegistersEcho(const QModbusResponse& response, int& address, int& count)
{
    const QByteArray data = response.data();
    if (response.functionCode() != QModbusPdu::WriteMultipleRegisters || data.size() != 4)
        return false;
    address = (quint8(data.at(0)) << 8) | quint8(data.at(1));
    count = (quint8(data.at(2)) << 8) | quint8(data.at(3));
    return true;
}
