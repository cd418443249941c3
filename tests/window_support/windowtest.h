#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <functional>

class QSerialPort;
class QTableWidget;
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

// Keeps files of this process below `bytes` while it lives; writing past the limit
// fails with EFBIG instead of ending the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous {};
    void (*previousHandler)(int) = nullptr;
};

// The delivered register-table files.
QString deliveredTablesDir();

// Runs a plain event loop until `done` holds or the time is up. Unlike QTest::qWait it
// does not sleep between turns, so Modbus round trips keep their real pace.
bool runUntil(const std::function<bool()>& done, int timeoutMs, int checkEveryMs = 5);

// The window's raw console port (its only direct QSerialPort child; the Modbus master
// keeps its own port below itself), and whether it is open.
QSerialPort* rawPort(QWidget& window);
bool rawOpen(QWidget& window);

// The texts of `column` that do not fit their cell on one line (as "row N: text"): the
// view wraps them, and the row's height cuts the second line off.
QStringList textsCutOff(const QTableWidget& table, int column);
