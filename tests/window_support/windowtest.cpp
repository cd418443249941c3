#include "windowtest.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QSerialPort>
#include <QStyle>
#include <QTableWidget>

#include <csignal>

#include "programdir.h"

QString deliveredTablesDir()
{
    return QStringLiteral(TARVEX_TABLES_DIR);
}

ProgramDirFixture::ProgramDirFixture(bool withTables)
{
    if (withTables) {
        const QDir tables(deliveredTablesDir());
        for (const QString& name : tables.entryList({QStringLiteral("*.rgt")}, QDir::Files))
            QFile::copy(tables.filePath(name), filePath(name));
    }
    ProgramDir::setOverride(m_dir.path());
}

ProgramDirFixture::~ProgramDirFixture()
{
    ProgramDir::setOverride(QString());
}

QString ProgramDirFixture::path() const
{
    return m_dir.path();
}

QString ProgramDirFixture::filePath(const QString& name) const
{
    return m_dir.filePath(name);
}

bool ProgramDirFixture::writeFile(const QString& name, const QByteArray& bytes) const
{
    QFile file(filePath(name));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray ProgramDirFixture::readFile(const QString& name) const
{
    QFile file(filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
}

ModalWatcher::ModalWatcher()
{
    connect(&m_timer, &QTimer::timeout, this, [this] { check(); });
    m_timer.start(20);
}

void ModalWatcher::check()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    QString text;
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        text = box->text();
    m_seen << modal->windowTitle() + QStringLiteral(" | ") + text;
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->done(QDialog::Accepted);
    else
        modal->close();
}

bool runUntil(const std::function<bool()>& done, int timeoutMs, int checkEveryMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() >= timeoutMs)
            loop.quit();
    });
    check.start(checkEveryMs);
    if (!done())
        loop.exec();
    return done();
}

QSerialPort* rawPort(QWidget& window)
{
    const auto ports = window.findChildren<QSerialPort*>(QString(), Qt::FindDirectChildrenOnly);
    return ports.size() == 1 ? ports.first() : nullptr;
}

bool rawOpen(QWidget& window)
{
    QSerialPort* port = rawPort(window);
    return port && port->isOpen();
}

QStringList textsCutOff(const QTableWidget& table, int column)
{
    // The view keeps a focus-frame margin free on either side of a cell's text.
    const int margin = 2 * (table.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &table) + 1);
    const QFontMetrics metrics(table.font());
    QStringList cut;
    for (int row = 0; row < table.rowCount(); ++row) {
        const QTableWidgetItem* item = table.item(row, column);
        if (item && metrics.horizontalAdvance(item->text()) + margin > table.columnWidth(column))
            cut << QStringLiteral("row %1: %2").arg(row).arg(item->text());
    }
    return cut;
}
