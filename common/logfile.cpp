#include "logfile.h"

#include <QFile>

#include "programdir.h"

bool LogFile::append(const QString& line)
{
    QFile file(ProgramDir::filePath(QStringLiteral("log.txt")));
    // No Text mode: the line feed is one byte on every platform.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    file.write((line + QLatin1Char('\n')).toUtf8());
    file.close();
    return true;
}
