#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

class QWidget;

// A temporary program directory for one test: the program's file lookups (register
// tables, log, exports) go there instead of beside the test binary.
class ProgramDirFixture
{
public:
    // Copies the delivered register tables into the directory unless told otherwise.
    explicit ProgramDirFixture(bool withTables = true);
    ~ProgramDirFixture();

    QString path() const;
    QString filePath(const QString& name) const;
    bool writeFile(const QString& name, const QByteArray& bytes) const;
    QByteArray readFile(const QString& name) const;

private:
    QTemporaryDir m_dir;
};

// Closes every modal dialog (message boxes included) as soon as it shows, and keeps
// what each one said: "title | text".
class ModalWatcher : public QObject
{
public:
    ModalWatcher();
    QStringList seen() const { return m_seen; }
    int count() const { return m_seen.size(); }
    void clear() { m_seen.clear(); }

private:
    void check();

    QTimer m_timer;
    QStringList m_seen;
};

// The delivered register-table files.
QString deliveredTablesDir();
