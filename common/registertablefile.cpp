#include "registertablefile.h"

#include <QFile>
#include <QTextStream>

bool readRegisterDescriptions(const QString& path, QStringList& descriptions)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    // The delivered tables are UTF-8, whatever the locale of the machine says.
    stream.setCodec("UTF-8");
    for (int k = 0; k < descriptions.size(); ++k) {
        const QString line = stream.readLine();
        const int separator = line.indexOf(QLatin1Char('='));
        if (!line.isNull() && separator >= 0)
            descriptions[k] = line.mid(separator + 1);
    }
    return true;
}
