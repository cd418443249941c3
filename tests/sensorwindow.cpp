#include "sensorwindow.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QModbusClient>
#include <QModbusReply>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>

#include "modbuslink.h"
#include "modbustexts.h"

SensorWindow::SensorWindow(bool withTables)
    : dir(withTables)
{
}

bool SensorWindow::findSharedWidgets(QMainWindow* window)
{
    ports = window->findChild<QComboBox*>(QStringLiteral("comboBoxPorts"));
    openButton = window->findChild<QPushButton*>(QStringLiteral("pushButtonOpenPort"));
    readButton = window->findChild<QPushButton*>(QStringLiteral("pushButtonCfgRead"));
    writeButton = window->findChild<QPushButton*>(QStringLiteral("pushButtonCfgWrite"));
    slave = window->findChild<QLineEdit*>(QStringLiteral("lineEdiSlaveAddr"));
    period = window->findChild<QSpinBox*>(QStringLiteral("spinBoxStatusTime"));
    counter = window->findChild<QLabel*>(QStringLiteral("label_counter_state"));
    cfg = window->findChild<QTableWidget*>(QStringLiteral("tableCfg"));
    status = window->findChild<QTableWidget*>(QStringLiteral("tableStatus"));
    return ports && openButton && readButton && writeButton && slave && period && counter && cfg && status;
}

bool SensorWindow::stopPollsAndSettle()
{
    stopPolls();
    return waitForStatusRead();
}

bool SensorWindow::waitForStatusRead()
{
    return QTest::qWaitFor([&] { return !modbusLink()->statusReadOutstanding(); }, 10000);
}

void SensorWindow::clickConnect(const QString& port)
{
    ports->addItem(port);
    ports->setCurrentIndex(ports->count() - 1);
    QTest::mouseClick(openButton, Qt::LeftButton);
}

bool SensorWindow::connectAndWaitFor(const std::function<bool()>& done)
{
    static const char* const kinds[] = {"done", "refused", "failed", "mismatch", "given up", "dropped"};
    QStringList failures;
    const QMetaObject::Connection watch
        = QObject::connect(modbusLink(), &ModbusLink::finished, [&](const ModbusOutcome& outcome) {
              if (outcome.kind == ModbusOutcome::Done)
                  return;
              failures << QStringLiteral("%1 of %2 registers from %3: %4 %5")
                              .arg(QLatin1String(outcome.isWrite ? "write" : "read"))
                              .arg(outcome.requestedCount)
                              .arg(outcome.requestedStart)
                              .arg(QLatin1String(kinds[outcome.kind]), ModbusTexts::failure(outcome));
          });
    clickConnect(link.programPort());
    const bool ok = QTest::qWaitFor(done, 10000);
    QObject::disconnect(watch);
    if (!ok) {
        qWarning("connecting to the sensor: requests [%s], link %s, status bar \"%s\", log [%s], the sensor saw [%s], "
                 "and said [%s]",
            qPrintable(failures.join(QLatin1String("; "))), linkConnected() ? "up" : "down",
            qPrintable(statusBar()->currentMessage()), qPrintable(logTexts().join(QLatin1String("; "))),
            qPrintable(Journal::describe(link.journal())), qPrintable(link.notices().join(QLatin1String("; "))));
    }
    return ok;
}

void SensorWindow::clickDisconnect()
{
    QTest::mouseClick(openButton, Qt::LeftButton);
}

bool SensorWindow::replaceSensor(const QStringList& simArgs)
{
    if (!stopPollsAndSettle())
        return false;
    const auto lineQuiet = [&] {
        const QList<QModbusReply*> replies = master()->findChildren<QModbusReply*>();
        return std::all_of(replies.cbegin(), replies.cend(), [](const QModbusReply* r) { return r->isFinished(); });
    };
    if (!QTest::qWaitFor(lineQuiet, 10000))
        return false;
    clickDisconnect();
    return link.start(simArgs);
}

void SensorWindow::clickRead()
{
    QTest::mouseClick(readButton, Qt::LeftButton);
}

void SensorWindow::clickWrite()
{
    QTest::mouseClick(writeButton, Qt::LeftButton);
}

QStatusBar* SensorWindow::statusBar() const
{
    return mainWindow()->statusBar();
}

QModbusClient* SensorWindow::master() const
{
    return mainWindow()->findChild<QModbusClient*>();
}

ModbusLink* SensorWindow::modbusLink() const
{
    return mainWindow()->findChild<ModbusLink*>();
}

bool SensorWindow::linkConnected() const
{
    return master() && master()->state() == QModbusDevice::ConnectedState;
}

int SensorWindow::messageDuration() const
{
    return messageDurationOf(statusBar());
}

QStringList SensorWindow::logTexts(QStringList* malformed) const
{
    return logLineTexts(dir.readFile(QStringLiteral("log.txt")), logLineForm(), malformed);
}

int SensorWindow::logCount(const QString& text) const
{
    return logTexts().count(text);
}

QStringList SensorWindow::logStartingWith(const QString& prefix) const
{
    return startingWith(logTexts(), prefix);
}

QStringList SensorWindow::writesSeen()
{
    QStringList out;
    for (const SensorLink::Request& r : Journal::only(link.journal(), Journal::isWrite)) {
        QStringList values;
        for (quint16 v : r.values)
            values << QString::number(v);
        out << QStringLiteral("%1:%2:%3").arg(r.address).arg(values.join(QLatin1Char(','))).arg(r.action);
    }
    return out;
}

QList<SensorLink::Request> SensorWindow::configReads()
{
    return Journal::only(link.journal(), Journal::isConfigRead);
}

QList<SensorLink::Request> SensorWindow::stateReads()
{
    return Journal::only(link.journal(), Journal::isStateRead);
}

QList<SensorLink::Request> SensorWindow::stateReadsWith(const QString& action)
{
    return Journal::only(
        link.journal(), [&](const SensorLink::Request& r) { return Journal::isStateRead(r) && r.action == action; });
}

bool SensorWindow::leaveStateReadsUnanswered(int reads)
{
    const int silentBefore = stateReadsWith(QStringLiteral("silent")).size();
    const int tries = master()->numberOfRetries() + 1;
    return link.command(QStringLiteral("silent 3 13 %1").arg(reads * tries))
        && QTest::qWaitFor([&] { return stateReadsWith(QStringLiteral("silent")).size() > silentBefore; }, 10000);
}

bool pollCounterValues(const QString& label, quint64& pollsSent, quint64& statusValuesReceived)
{
    static const QRegularExpression form(QStringLiteral("^Счетчик: (\\d+)/(\\d+)$"));
    const QRegularExpressionMatch m = form.match(label);
    bool sentOk = false;
    bool receivedOk = false;
    if (m.hasMatch()) {
        pollsSent = m.captured(1).toULongLong(&sentOk);
        statusValuesReceived = m.captured(2).toULongLong(&receivedOk);
    }
    return sentOk && receivedOk;
}

QStringList startingWith(const QStringList& texts, const QString& prefix)
{
    QStringList out;
    for (const QString& text : texts) {
        if (text.startsWith(prefix))
            out << text;
    }
    return out;
}

QColor colourNamed(const QString& name)
{
    if (name == QLatin1String("green"))
        return QColor(Qt::green);
    if (name == QLatin1String("red"))
        return QColor(Qt::red);
    if (name == QLatin1String("blue"))
        return QColor(Qt::blue);
    return QColor(Qt::transparent);
}

namespace {
qint64 cpuMsec()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}
}

bool idleForASecond(QString& why)
{
    const qint64 cpuStart = cpuMsec();
    QElapsedTimer passed;
    passed.start();
    QTest::qWait(1000);
    const qint64 cpu = cpuMsec() - cpuStart;
    why = QStringLiteral("%1 ms CPU in %2 ms").arg(cpu).arg(passed.elapsed());
    return cpu < passed.elapsed() / 2;
}
