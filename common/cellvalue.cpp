#include "cellvalue.h"

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
    if (!ok || shown < lowest(displayScale) || shown > highest(displayScale))
        return false;
    value = quint16(shown / displayScale);
    return true;
}
