#pragma once

#include <QString>

// The directory the program keeps its files in (register tables, log, exports).
// Normally the directory of the executable; tests point it at a temporary directory.
namespace ProgramDir {
QString path();
QString filePath(const QString& name);
void setOverride(const QString& directory);
}
