#include "wholefile.h"

#include <QSaveFile>

bool WholeFile::save(const QString& path, bool textMode, const Writer& write)
{
    // Unbuffered: Qt 5's QSaveFile misses a write error of its final flush and would
    // commit a cut-off file over the earlier one.
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (textMode)
        mode |= QIODevice::Text;
    QSaveFile file(path);
    if (!file.open(mode))
        return false;
    if (!write(file)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QStringList WholeFile::saveAll(const QVector<Job>& jobs, bool textMode)
{
    QStringList failed;
    for (const Job& job : jobs) {
        if (!save(job.path, textMode, job.write))
            failed << job.path;
    }
    return failed;
}
