#include "programdir.h"

#include <QCoreApplication>

namespace {
QString& overridePath()
{
    static QString directory;
    return directory;
}
}

QString ProgramDir::path()
{
    return overridePath().isEmpty() ? QCoreApplication::applicationDirPath() : overridePath();
}

QString ProgramDir::filePath(const QString& name)
{
    return path() + QLatin1Char('/') + name;
}

void ProgramDir::setOverride(const QString& directory)
{
    overridePath() = directory;
}
