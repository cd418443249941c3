// What every edition's real window shows and logs of its requests, against the simulated
// sensor: a failed read, an invalid slave address, a thread held or busy while a read is
// unanswered, poll counters past 32 bits, and a line that goes away. Built once per window.

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QModbusClient>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QThread>

#include "modbuslink.h"
#include "modbustexts.h"
#include "sensorwindow.h"
#include "steadyload.h"

namespace {
using Request = SensorLink::Request;
const QString connectCaption = QStringLiteral("Подключиться");
const QString disconnectCaption = QStringLiteral("Отключиться");
// A failed read, the master's own text in the middle.
const QString readTimedOut = QStringLiteral("Ошибка чтения 2: Request timeout. (code: 0x5)");
const QString refusedByTheSensor = QStringLiteral("Ошибка чтения 1: Modbus Exception Response. (Modbus exception: 0x%1)");

// Read and write errors go to the status bar and to the log with the same text.
bool errorsShownAreLogged(const SensorWindow& t, const StatusMessages& messages, QString& why)
{
    QStringList shown;
    for (const QString& text : messages.shown()) {
        if (text.startsWith(QStringLiteral("Ошибка чтения")) || text.startsWith(QStringLiteral("Ошибка записи")))
            shown << text;
    }
    QStringList malformed;
    const QStringList logged = startingWith(t.logTexts(&malformed), QStringLiteral("Ошибка"));
    if (!malformed.isEmpty()) {
        why = QStringLiteral("malformed log lines: ") + malformed.join(QLatin1String(" / "));
        return false;
    }
    if (shown != logged) {
        why = QStringLiteral("shown: [%1] logged: [%2]").arg(shown.join(QLatin1String(" / ")), logged.join(QLatin1String(" / ")));
        return false;
    }
    return true;
}
}

class TestRequests : public QObject
{
    Q_OBJECT

private slots:
    void failedReadShownAndLogged_data();
    void failedReadShownAndLogged();
    void invalidSlaveAddressSendsNothing_data();
    void invalidSlaveAddressSendsNothing();
    void heldThreadIsNoTimeOfTheMaster();
    void steadyLoadLeavesTimeOutToMaster_data();
    void steadyLoadLeavesTimeOutToMaster();
    void countersPast32Bits();
    void lineLossTakesLinkDown();
    void lineLossGivesOneMessage_data();
    void lineLossGivesOneMessage();
};

void TestRequests::failedReadShownAndLogged_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("onConfig");
    QTest::addColumn<QString>("message");
    const int state = windowKind().stateCount;

    QTest::newRow("state exception") << "exception 3 13 4" << false << refusedByTheSensor.arg(4);
    // Qt's master drops a frame with a bad checksum: the request runs out of time.
    QTest::newRow("state bad crc") << "badcrc 3 13" << false << readTimedOut;
    QTest::newRow("state two registers too many")
        << "countdelta 3 13 2" << false << ModbusTexts::readMismatch(13, state, 13, state + 2);
    QTest::newRow("state three registers short")
        << "countdelta 3 13 -3" << false
        << QStringLiteral("Ошибка чтения 3: ответ не соответствует запросу (запрошено регистров: %1 с адреса 13, "
                          "получено: %2 с адреса 13)")
               .arg(state)
               .arg(state - 3);
    QTest::newRow("configuration two registers too many")
        << "countdelta 3 0 2 1" << true
        << "Ошибка чтения 3: ответ не соответствует запросу (запрошено регистров: 13 с адреса 0, получено: 15 с адреса 0)";
    QTest::newRow("configuration exception") << "exception 3 0 2 1" << true << refusedByTheSensor.arg(2);
    QTest::newRow("configuration unanswered")
        << QStringLiteral("silent 3 0 %1").arg(windowKind().tries()) << true << readTimedOut;
}

// Nothing of a failed reply reaches the tables; its message, with the master's own text in
// it, is shown for 3 s and logged with the same text, and the next good reply is shown again.
void TestRequests::failedReadShownAndLogged()
{
    QFETCH(QString, fault);
    QFETCH(bool, onConfig);
    QFETCH(QString, message);

    const auto t = connectedWindow();
    QVERIFY(t);
    QVERIFY(t->link.command(QStringLiteral("freeze on")));
    QVERIFY(t->link.command(QStringLiteral("setfloat 15 2.5")));
    StatusMessages messages(t->statusBar());
    const auto failures = [&] { return t->logCount(message); };

    if (onConfig) {
        t->stopPolls();
        QVERIFY(t->link.command(QStringLiteral("set 12 77")));
        QVERIFY(t->link.command(fault));
        t->setCfgValue(4, QStringLiteral("kept"));
        t->clickRead();
        QTRY_COMPARE_WITH_TIMEOUT(failures(), 1, 5000);
        QCOMPARE(messages.startingWith(QStringLiteral("Ошибка")), QStringList {message});
        QCOMPARE(t->statusBar()->currentMessage(), message);
        QCOMPARE(t->messageDuration(), 3000);
        QCOMPARE(t->logTexts(), QStringList {message});
        QCOMPARE(t->cfgValue(4), QStringLiteral("kept"));
        QCOMPARE(t->cfgValue(13), QStringLiteral("5"));
        QVERIFY(t->link.command(QStringLiteral("clear")));
        t->clickRead();
        QTRY_COMPARE_WITH_TIMEOUT(t->cfgValue(13), QStringLiteral("77"), 5000);
    } else {
        t->pollEvery(50);
        QTRY_COMPARE_WITH_TIMEOUT(t->statusValue(3), QStringLiteral("2.500"), 10000);
        const QStringList before = t->statusValues();
        // New values behind the fault: every reply that shows them was decoded in spite of it.
        QVERIFY(t->link.command(fault));
        QVERIFY(t->link.command(QStringLiteral("setfloat 15 99")));
        QVERIFY(t->link.command(QStringLiteral("set 13 4242")));
        QTRY_VERIFY_WITH_TIMEOUT(failures() >= (fault.startsWith(QLatin1String("badcrc")) ? 1 : 3), 15000);
        QCOMPARE(t->statusValues(), before);
        QVERIFY(t->link.command(QStringLiteral("clear")));
        QTRY_COMPARE_WITH_TIMEOUT(t->statusValue(3), QStringLiteral("99.000"), 10000);
        QCOMPARE(t->statusValue(1), QStringLiteral("4242"));
    }
    QVERIFY(messages.shown().contains(message));
    for (int ms : messages.durationsOf(message))
        QCOMPARE(ms, 3000);
    QString why;
    QVERIFY2(errorsShownAreLogged(*t, messages, why), qPrintable(why));
    QVERIFY(t->linkConnected());
}

void TestRequests::invalidSlaveAddressSendsNothing_data()
{
    QTest::addColumn<QString>("address");
    // The polls' refusals are watched in one case only.
    QTest::addColumn<bool>("watchPolls");
    QTest::newRow("zero (broadcast)") << "0" << true;
    QTest::newRow("248") << "248" << false;
    QTest::newRow("letters") << "abc" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("negative") << "-1" << false;
    QTest::newRow("fraction") << "1.5" << false;
}

void TestRequests::invalidSlaveAddressSendsNothing()
{
    QFETCH(QString, address);
    QFETCH(bool, watchPolls);

    const auto t = connectedWindow();
    QVERIFY(t);
    t->stopPolls();
    t->slave->setText(address);
    t->setCfgValue(2, QString());
    StatusMessages messages(t->statusBar());

    const QString problem =
        QStringLiteral("недопустимый адрес устройства \"%1\" (нужно целое число от 1 до 247)").arg(address);
    const QString readText = QStringLiteral("Ошибка чтения: ") + problem;
    const QString writeText = QStringLiteral("Ошибка записи 4: ") + problem;
    t->clickRead();
    QCOMPARE(t->statusBar()->currentMessage(), readText);
    QCOMPARE(t->messageDuration(), 5000);
    QCOMPARE(t->logTexts(), QStringList {readText});

    t->tick(3);
    t->clickWrite();
    QVERIFY(messages.shown().contains(writeText));
    QCOMPARE(t->logCount(writeText), 1);
    // The access code was refused: the row is skipped.
    QCOMPARE(t->choiceColour(3), QColor(Qt::blue));

    if (watchPolls) {
        const int refused = t->logCount(readText);
        t->pollEvery(50);
        QTRY_VERIFY_WITH_TIMEOUT(t->logCount(readText) >= refused + 3, 10000);
        t->stopPolls();
    }
    QVERIFY2(t->link.journal().isEmpty(), qPrintable(Journal::describe(t->link.journal())));
    QVERIFY(t->linkConnected());
    QString why;
    QVERIFY2(errorsShownAreLogged(*t, messages, why), qPrintable(why));

    // A valid address again: the next read is the only thing the sensor ever saw.
    t->slave->setText(QStringLiteral("1"));
    t->clickRead();
    QTRY_COMPARE_WITH_TIMEOUT(t->cfgValue(2), QStringLiteral("14"), 5000);
    const auto journal = t->link.journal();
    QCOMPARE(journal.size(), 1);
    QVERIFY(Journal::isConfigRead(journal.first()));
}

// The thread held up for 1.6 s (as by a long export) just after a state read went out to a
// sensor that leaves it unanswered: that time was none of the master's, so what is reported
// is the master's own time-out, and the link stays up.
void TestRequests::heldThreadIsNoTimeOfTheMaster()
{
    const auto t = pollingWindow();
    QVERIFY(t);
    StatusMessages messages(t->statusBar());
    QVERIFY(t->leaveStateReadsUnanswered(1));
    QThread::msleep(1600);
    QTRY_VERIFY_WITH_TIMEOUT(!t->logStartingWith(QStringLiteral("Ошибка")).isEmpty(), 10000);
    const int answered = t->stateReadsWith(QStringLiteral("ok")).size();
    QTRY_VERIFY_WITH_TIMEOUT(t->stateReadsWith(QStringLiteral("ok")).size() >= answered + 5, 15000);

    QCOMPARE(t->stateReadsWith(QStringLiteral("silent")).size(), windowKind().tries());
    const QStringList failures = t->logStartingWith(QStringLiteral("Ошибка"));
    QCOMPARE(failures, QStringList {readTimedOut});
    QCOMPARE(messages.startingWith(QStringLiteral("Ошибка")), failures);
    QVERIFY(t->linkConnected());
    QCOMPARE(t->openButton->text(), disconnectCaption);
    QVERIFY(t->readButton->isEnabled());
}

void TestRequests::steadyLoadLeavesTimeOutToMaster_data()
{
    QTest::addColumn<int>("busyMs");
    QTest::newRow("60 ms a turn") << 60;
    QTest::newRow("90 ms a turn") << 90;
    QTest::newRow("150 ms a turn") << 150;
}

// The thread busy for a while in every turn of its event loop (as a zoom dragged over a
// long run keeps it) while the sensor leaves state reads unanswered: each of the master's
// tries costs it a few turns, and what the window shows is still the master's own
// time-out; the link stays up and the poll goes on once the load is over.
void TestRequests::steadyLoadLeavesTimeOutToMaster()
{
    QFETCH(int, busyMs);
    const auto t = pollingWindow();
    QVERIFY(t);
    StatusMessages messages(t->statusBar());
    QSignalSpy lost(t->modbusLink(), &ModbusLink::lineLost);
    QVERIFY(t->link.command(QStringLiteral("silent 3 13")));

    SteadyLoad load(busyMs);
    load.start();
    QElapsedTimer loaded;
    loaded.start();
    bool stayedUp = true;
    (void)runUntil(
        [&] {
            stayedUp = stayedUp && t->linkConnected();
            return loaded.elapsed() >= 9000;
        },
        20000);
    load.stop();
    QVERIFY(t->link.command(QStringLiteral("clear")));
    const int answered = t->stateReadsWith(QStringLiteral("ok")).size();
    QTRY_VERIFY_WITH_TIMEOUT(t->stateReadsWith(QStringLiteral("ok")).size() >= answered + 3, 15000);

    const QStringList failures = t->logStartingWith(QStringLiteral("Ошибка"));
    QVERIFY(!failures.isEmpty());
    for (const QString& text : failures)
        QCOMPARE(text, readTimedOut);
    QCOMPARE(messages.startingWith(QStringLiteral("Ошибка")), failures);
    QVERIFY(stayedUp);
    QCOMPARE(lost.count(), 0);
    QVERIFY(t->linkConnected());
    QCOMPARE(t->openButton->text(), disconnectCaption);
}

// Past 2^31 polls and 2^32 values the counters go on counting, and the label says so.
void TestRequests::countersPast32Bits()
{
    const auto t = connectedWindow();
    QVERIFY(t);
    t->stopPolls();
    const quint64 sentBefore = (quint64(1) << 31) - 1;
    const quint64 receivedBefore = (quint64(1) << 32) - 10;
    t->setPollCounters(sentBefore, receivedBefore);
    for (int i = 0; i < 3; ++i)
        QVERIFY(t->pollOnce());
    quint64 sent = 0;
    quint64 received = 0;
    QVERIFY2(pollCounterValues(t->counter->text(), sent, received), qPrintable(t->counter->text()));
    // The label is set as a poll goes out: with one read at a time, every earlier poll has
    // been answered with a whole state block.
    QCOMPARE(sent, sentBefore + 3);
    QCOMPARE(received, receivedBefore + quint64(windowKind().stateCount) * (sent - sentBefore - 1));
    QVERIFY(received > (quint64(1) << 32));
}

void TestRequests::lineLossTakesLinkDown()
{
    const auto t = pollingWindow();
    QVERIFY(t);

    StatusMessages messages(t->statusBar());
    int deviceErrors = 0;
    QObject::connect(t->master(), &QModbusDevice::errorOccurred, [&](QModbusDevice::Error) { ++deviceErrors; });
    const int loggedBefore = t->logTexts().size();
    QElapsedTimer clock;
    clock.start();
    t->link.cutLine();
    QTRY_COMPARE_WITH_TIMEOUT(t->openButton->text(), connectCaption, 5000);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!t->linkConnected());
    QVERIFY(!t->readButton->isEnabled());
    QVERIFY(!t->writeButton->isEnabled());

    // Once the link is down the line raises nothing more and costs no time.
    const int errorsAtDown = deviceErrors;
    QString why;
    QVERIFY2(idleForASecond(why), qPrintable(why));
    QVERIFY2(deviceErrors - errorsAtDown <= 2, qPrintable(QString::number(deviceErrors - errorsAtDown)));
    QVERIFY2(messages.changes() <= 6, qPrintable(messages.shown().join(QLatin1String(" / "))));
    QVERIFY(!messages.shown().isEmpty());
    QVERIFY2(t->logTexts().size() - loggedBefore <= 2, qPrintable(t->logTexts().join(QLatin1String(" / "))));
    QCOMPARE(t->openButton->text(), connectCaption);

    // A new line on the same path: connecting works again.
    QVERIFY2(t->link.start(), qPrintable(t->link.errorString()));
    t->link.clearJournal();
    QVERIFY(t->connectToSensor());
    QCOMPARE(t->openButton->text(), disconnectCaption);
    QTRY_VERIFY_WITH_TIMEOUT(t->stateReadsWith(QStringLiteral("ok")).size() >= 2, 10000);
}

void TestRequests::lineLossGivesOneMessage_data()
{
    QTest::addColumn<bool>("readOnLine");
    QTest::newRow("a read on the line") << true;
    // Sent while the loss is known but the link not yet down: the master fails it on
    // the closed port afterwards.
    QTest::newRow("a read sent as the line goes") << false;
}

// A line that goes away is noticed once: one message, the device's own, buttons disabled,
// and the reads it cut short are neither shown nor logged.
void TestRequests::lineLossGivesOneMessage()
{
    QFETCH(bool, readOnLine);
    const auto t = pollingWindow();
    QVERIFY(t);
    StatusMessages messages(t->statusBar());
    if (readOnLine) {
        QVERIFY(t->link.command(QStringLiteral("delay 3 13 400")));
        QTRY_VERIFY_WITH_TIMEOUT(!t->stateReadsWith(QStringLiteral("delayed")).isEmpty(), 10000);
        t->link.cutLine();
    } else {
        QVERIFY(t->stopPollsAndSettle());
        t->link.cutLine();
        QVERIFY(t->pollOnce());
    }
    QTRY_COMPARE_WITH_TIMEOUT(t->openButton->text(), connectCaption, 5000);
    QVERIFY(!t->readButton->isEnabled());
    QVERIFY(!t->writeButton->isEnabled());
    // Let anything that would still report reach the window.
    QTest::qWait(300);
    QCOMPARE(messages.shown().size(), 1);
    QVERIFY2(!messages.shown().first().startsWith(QStringLiteral("Ошибка")), qPrintable(messages.shown().first()));
    QCOMPARE(t->logTexts(), QStringList());

    // A new line on the same path: connecting works again.
    QVERIFY(t->link.start());
    for (int row = 1; row <= 13; ++row)
        t->setCfgValue(row, QString());
    QVERIFY(t->connectToSensor());
    QVERIFY(t->readButton->isEnabled());
}

QTEST_MAIN(TestRequests)
#include "tst_requests.moc"
