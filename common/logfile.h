#pragma once

#include <QString>

// The program's log, "log.txt" in the program's directory. Each call appends `line`
// (already formatted by the caller) and a LF, encoded as UTF-8, and closes the file at
// once. A log that cannot be opened loses the line and stops nothing: false then.
namespace LogFile {
bool append(const QString& line);
}
