#include "modbustexts.h"

#include <QCoreApplication>

#include "cellvalue.h"
#include "modbuslink.h"

namespace {
QString tr(const char* text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QString hex(int number)
{
    return QString::number(number, 16);
}
}

QString ModbusTexts::connectFailed(const QString& reason)
{
    return tr("Ошибка подключения: ") + reason;
}

QString ModbusTexts::readRefused(const QString& reason)
{
    return tr("Ошибка чтения: ") + reason;
}

QString ModbusTexts::readFailed(QModbusDevice::Error error, const QString& errorString, int exceptionCode)
{
    if (error == QModbusDevice::ProtocolError)
        return tr("Ошибка чтения 1: %1 (Modbus exception: 0x%2)").arg(errorString, hex(exceptionCode));
    return tr("Ошибка чтения 2: %1 (code: 0x%2)").arg(errorString, hex(int(error)));
}

QString ModbusTexts::readMismatch(int requestedStart, int requestedCount, int receivedStart, int receivedCount)
{
    return tr("Ошибка чтения 3: ответ не соответствует запросу (запрошено регистров: %1 с адреса %2, получено: %3 с адреса %4)")
        .arg(requestedCount)
        .arg(requestedStart)
        .arg(receivedCount)
        .arg(receivedStart);
}

QString ModbusTexts::writeRefused(const QString& reason)
{
    return tr("Ошибка записи 4: ") + reason;
}

QString ModbusTexts::writeFailed(QModbusDevice::Error error, const QString& errorString, int exceptionCode)
{
    if (error == QModbusDevice::ProtocolError)
        return tr("Ошибка записи 1: %1 (Modbus exception: 0x%2)").arg(errorString, hex(exceptionCode));
    if (error == QModbusDevice::TimeoutError)
        return tr("Ошибка записи 2: %1 (Modbus exception: 0x%2)").arg(errorString, hex(exceptionCode));
    return tr("Ошибка записи 3: %1 (code: 0x%2)").arg(errorString, hex(int(error)));
}

QString ModbusTexts::writeMismatch(int requestedAddress, int requestedCount, int confirmedAddress, int confirmedCount)
{
    return tr("Ошибка записи 3: ответ не соответствует запросу (записано регистров: %1 с адреса %2, подтверждено: %3 с адреса %4)")
        .arg(requestedCount)
        .arg(requestedAddress)
        .arg(confirmedCount)
        .arg(confirmedAddress);
}

QString ModbusTexts::failure(const ModbusOutcome& outcome)
{
    switch (outcome.kind) {
    case ModbusOutcome::Done:
    case ModbusOutcome::Dropped:
        return QString();
    case ModbusOutcome::Refused:
        return outcome.isWrite ? writeRefused(outcome.errorString) : readRefused(outcome.errorString);
    case ModbusOutcome::Failed:
    case ModbusOutcome::GivenUp:
        return outcome.isWrite ? writeFailed(outcome.error, outcome.errorString, outcome.exceptionCode)
                               : readFailed(outcome.error, outcome.errorString, outcome.exceptionCode);
    case ModbusOutcome::Mismatch:
        return outcome.isWrite ? writeMismatch(outcome.requestedStart, outcome.requestedCount, outcome.receivedStart,
                                     outcome.receivedCount)
                               : readMismatch(outcome.requestedStart, outcome.requestedCount, outcome.receivedStart,
                                     outcome.receivedCount);
    }
    return QString();
}

ModbusTexts::Notice ModbusTexts::notice(const ModbusOutcome& outcome)
{
    if (outcome.kind == ModbusOutcome::Done)
        return outcome.isWrite ? Notice {tr("Успешно!"), 3000, false} : Notice {};
    const QString text = failure(outcome);
    if (text.isEmpty())
        return {};
    const bool readRefused = outcome.kind == ModbusOutcome::Refused && !outcome.isWrite;
    return {text, readRefused ? 5000 : 3000, true};
}

QString ModbusTexts::pollCounter(quint64 pollsSent, quint64 statusValuesReceived)
{
    return tr("Счетчик: %1/%2").arg(pollsSent).arg(statusValuesReceived);
}

QString ModbusTexts::writeValueRejected(const QString& text, int address)
{
    const int scale = CellValue::displayScale(address);
    const QString lowest = QString::number(CellValue::lowest(scale));
    const QString highest = QString::number(CellValue::highest(scale));
    if (scale == 1)
        return tr("Ошибка записи: недопустимое значение \"%1\" регистра %2 (нужно целое число от %3 до %4)")
            .arg(text, QString::number(address), lowest, highest);
    return tr("Ошибка записи: недопустимое значение \"%1\" регистра %2 (нужно целое число, кратное %3, от %4 до %5)")
        .arg(text, QString::number(address), QString::number(scale), lowest, highest);
}
