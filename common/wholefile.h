#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// Export files are written complete or not at all: a file whose writing fails in any
// way keeps what it held before (or stays absent), never a cut-off or emptied copy.
namespace WholeFile {
using Writer = std::function<bool(QIODevice& device)>;

// Writes `path` through `write`, which returns false when anything it wrote fell short.
// `textMode` opens the file in text mode (platform line ends).
bool save(const QString& path, bool textMode, const Writer& write);

struct Job {
    QString path;
    Writer write;
};
// Saves every job in order, each on its own; returns the paths that failed.
QStringList saveAll(const QVector<Job>& jobs, bool textMode);
}
