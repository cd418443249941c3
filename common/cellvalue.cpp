#include "cellvalue.h"

namespace {
const int scaledRegister = 2;
const int scaledRegisterFactor = 10;
}

int CellValue::displayScale(int address)
{
    return address == scaledRegister ? scaledRegisterFactor : 1;
}

QString CellValue::shownText(int address, quint16 value, bool asSigned)
{
    const int scale = displayScale(address);
    if (scale != 1)
        return QString::number(qint64(value) * scale);
    return asSigned ? QString::number(qint16(value)) : QString::number(value);
}

qint64 CellValue::lowest(int displayScale)
{
    return qint64(-32768) * displayScale;
}

qint64 CellValue::highest(int displayScale)
{
    return qint64(65535) * displayScale;
}

bool CellValue::toRegister(const QString& text, int displayScale, quint16& value)
{
    if (displayScale < 1)
        return false;
    bool ok = false;
    const qint64 shown = text.toLongLong(&ok, 10);
    if (!ok || shown % displayScale != 0 || shown < lowest(displayScale) || shown > highest(displayScale))
        return false;
    value = quint16(shown / displayScale);
    return true;
}
