#pragma once

#include <QString>
#include <QStringList>

// A register-description file: line k describes register index k, the description
// being everything after the first "=" of the line (blanks kept). Only as many lines
// as `descriptions` has entries are read; an entry whose line is missing or has no "="
// keeps what it held. Returns false when the file cannot be opened.
bool readRegisterDescriptions(const QString& path, QStringList& descriptions);
