#include "portlist.h"

#include <QComboBox>
#include <QSerialPortInfo>

void mergePortEntries(QComboBox& box, const QStringList& present)
{
    for (int i = box.count() - 1; i >= 0; --i) {
        if (!present.contains(box.itemText(i)))
            box.removeItem(i);
    }
    for (const QString& entry : present) {
        if (box.findText(entry, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
            box.addItem(entry);
    }
}

QStringList presentPortEntries()
{
    QStringList entries;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        entries << QStringLiteral("%1 (%2)").arg(info.portName(), info.description());
    return entries;
}
