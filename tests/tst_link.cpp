// The shared Modbus link on Qt's real RTU master against the simulated sensor, without a
// window: what goes out on the line, in which order, and which outcome each request gets.

#include "beforequeuedcall.h"
#include "modbuslink.h"
#include "sensorlink.h"
#include "steadyload.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QSerialPort>
#include <QTimer>
#include <QSignalSpy>
#include <QTest>
#include <QVariant>

#include <algorithm>
#include <functional>
#include <memory>

namespace {
using Request = SensorLink::Request;

QStringList seen(const QList<Request>& journal)
{
    QStringList out;
    for (const Request& r : journal)
        out << QStringLiteral("%1@%2:%3").arg(r.function).arg(r.address).arg(r.action);
    return out;
}
}

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void slaveAddress_data();
    void slaveAddress();
    void readsAndWritesAreAnswered();
    void refusedRequestsSendNothing();
    void oneStatusReadOutstanding();
    void answersForOtherRegistersAreMismatches_data();
    void answersForOtherRegistersAreMismatches();
    void echoOfAnotherRegisterIsNoAnswer();
    void requestsGoOutOneAtATime();
    void disconnectDropsEverythingSilently();
    void disconnectInTheTurnOfTheSend_data();
    void disconnectInTheTurnOfTheSend();
    void queuedRefusalStandsOnDisconnect();
    void endOfConnectionIsFinal();
    void connectWhileTheEndIsReportedIsRefused();
    void lineLossIsReportedOnce();
    void refusalKeepsItsPlaceInOrder_data();
    void refusalKeepsItsPlaceInOrder();
    void handlerWithEventLoopHoldsNothingUp();
    void outcomesWaitingTogetherReachAHandlersLoop();
    void stuckMasterIsGivenUp_data();
    void stuckMasterIsGivenUp();
    void lossQueuedBeforeReconnectLeavesItAlone();
    void earlierConnectionsOutcomeAfterReconnect_data();
    void earlierConnectionsOutcomeAfterReconnect();

private:
    // The handler of the first report of request `id` runs an event loop of its own for
    // `holdMs`, as a message box does, and calls `inside` from it.
    struct HeldReport {
        quint64 id = 0;
        bool held = false;
        bool released = false;
        QModbusDevice::State masterAtReport = QModbusDevice::ConnectedState;
        // What was reported while it was held.
        QList<ModbusOutcome> during;
    };
    void holdReport(HeldReport& hold, int holdMs, const std::function<void()>& inside = {});

    bool open(const QStringList& simArgs = {});
    ModbusOutcome outcomeOf(quint64 id);

    std::unique_ptr<SensorLink> m_sensor;
    std::unique_ptr<QModbusRtuSerialMaster> m_master;
    std::unique_ptr<ModbusLink> m_link;
    LineSettings m_line;
    QList<ModbusOutcome> m_outcomes;
};

void TestLink::init()
{
    qRegisterMetaType<QModbusDevice::Error>();
    m_outcomes.clear();
    m_sensor = std::make_unique<SensorLink>();
}

void TestLink::cleanup()
{
    m_link.reset();
    if (m_master)
        m_master->disconnectDevice();
    m_master.reset();
    m_sensor.reset();
}

bool TestLink::open(const QStringList& simArgs)
{
    if (!m_sensor->start(simArgs))
        return false;
    m_master = std::make_unique<QModbusRtuSerialMaster>();
    m_line.portName = m_sensor->programPort();
    m_line.timeoutMs = 300;
    m_line.retries = 1;
    m_link = std::make_unique<ModbusLink>(m_master.get());
    connect(m_link.get(), &ModbusLink::finished, this, [this](const ModbusOutcome& o) { m_outcomes << o; });
    return m_link->connectDevice(m_line) && QTest::qWaitFor([this] { return m_link->connected(); }, 5000);
}

void TestLink::holdReport(HeldReport& hold, int holdMs, const std::function<void()>& inside)
{
    connect(m_link.get(), &ModbusLink::finished, this, [this, &hold, holdMs, inside](const ModbusOutcome& o) {
        if (o.id != hold.id || hold.held)
            return;
        hold.held = true;
        hold.masterAtReport = m_master->state();
        const int before = m_outcomes.size();
        QEventLoop box;
        QTimer::singleShot(holdMs, &box, &QEventLoop::quit);
        if (inside)
            QTimer::singleShot(0, &box, inside);
        box.exec();
        hold.during = m_outcomes.mid(before);
        hold.released = true;
    });
}

ModbusOutcome TestLink::outcomeOf(quint64 id)
{
    // A missing outcome shows in the caller's comparison.
    (void)QTest::qWaitFor(
        [&] {
            for (const ModbusOutcome& o : m_outcomes) {
                if (o.id == id)
                    return true;
            }
            return false;
        },
        10000);
    for (const ModbusOutcome& o : m_outcomes) {
        if (o.id == id)
            return o;
    }
    ModbusOutcome none;
    none.errorString = QStringLiteral("<no outcome>");
    return none;
}

void TestLink::slaveAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("address");
    QTest::newRow("lowest") << "1" << 1;
    QTest::newRow("highest") << "247" << 247;
    QTest::newRow("leading zero") << "017" << 17;
    QTest::newRow("broadcast") << "0" << -1;
    QTest::newRow("above") << "248" << -1;
    QTest::newRow("negative") << "-5" << -1;
    QTest::newRow("letters") << "x1" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("fraction") << "2.0" << -1;
}

void TestLink::slaveAddress()
{
    QFETCH(QString, text);
    QFETCH(int, address);
    int found = 0;
    QString problem;
    QCOMPARE(ModbusLink::slaveAddress(text, found, problem), address > 0);
    if (address > 0) {
        QCOMPARE(found, address);
    } else {
        QCOMPARE(problem,
            QStringLiteral("недопустимый адрес устройства \"%1\" (нужно целое число от 1 до 247)").arg(text));
    }
}

void TestLink::readsAndWritesAreAnswered()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    QVERIFY(m_sensor->command(QStringLiteral("set 5 1234")));
    const ModbusOutcome read = outcomeOf(m_link->read(QStringLiteral("1"), 0, 13));
    QCOMPARE(read.kind, ModbusOutcome::Done);
    QCOMPARE(read.unit.startAddress(), 0);
    QCOMPARE(int(read.unit.valueCount()), 13);
    QCOMPARE(read.unit.value(5), quint16(1234));

    const quint64 id = m_link->write(QStringLiteral("1"), 6, {300});
    m_link->waitFor(id);
    QVERIFY(!m_link->outstanding(id));
    const ModbusOutcome write = outcomeOf(id);
    QCOMPARE(write.kind, ModbusOutcome::Done);
    QVERIFY(write.isWrite);
    QCOMPARE(outcomeOf(m_link->read(QStringLiteral("1"), 6, 1)).unit.value(0), quint16(300));
}

void TestLink::refusedRequestsSendNothing()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    m_sensor->clearJournal();
    // Refused at once, inside the call.
    const quint64 read = m_link->read(QStringLiteral("0"), 0, 13);
    const quint64 write = m_link->write(QStringLiteral("300"), 0, {1});
    QCOMPARE(m_outcomes.size(), 2);
    QCOMPARE(m_outcomes.at(0).id, read);
    QCOMPARE(m_outcomes.at(0).kind, ModbusOutcome::Refused);
    QCOMPARE(m_outcomes.at(1).id, write);
    QCOMPARE(m_outcomes.at(1).kind, ModbusOutcome::Refused);
    QVERIFY(m_outcomes.at(1).errorString.contains(QStringLiteral("\"300\"")));
    m_link->waitFor(write);
    // A request that does go out afterwards is the first the sensor sees.
    QCOMPARE(outcomeOf(m_link->read(QStringLiteral("1"), 13, 2)).kind, ModbusOutcome::Done);
    QCOMPARE(seen(m_sensor->journal()), QStringList {"3@13:ok"});
}

void TestLink::oneStatusReadOutstanding()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    QVERIFY(m_sensor->command(QStringLiteral("delay 3 13 200 1")));
    const quint64 first = m_link->read(QStringLiteral("1"), 13, 16, true);
    QVERIFY(first != 0);
    QVERIFY(m_link->statusReadOutstanding());
    QCOMPARE(m_link->read(QStringLiteral("1"), 13, 16, true), quint64(0));
    // Other reads are not held back by it.
    const quint64 plain = m_link->read(QStringLiteral("1"), 0, 13);
    QVERIFY(plain != 0);
    QCOMPARE(outcomeOf(first).kind, ModbusOutcome::Done);
    QVERIFY(outcomeOf(first).statusRead);
    QCOMPARE(outcomeOf(plain).kind, ModbusOutcome::Done);
    QVERIFY(!m_link->statusReadOutstanding());
    QVERIFY(m_link->read(QStringLiteral("1"), 13, 16, true) != 0);
}

void TestLink::answersForOtherRegistersAreMismatches_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("receivedCount");
    QTest::newRow("read with one register more") << "countdelta 3 0 1 1" << false << 14;
    QTest::newRow("read with one register less") << "countdelta 3 0 -1 1" << false << 12;
    QTest::newRow("write echo with another count") << "countdelta 16 0 1 1" << true << 2;
}

void TestLink::answersForOtherRegistersAreMismatches()
{
    QFETCH(QString, fault);
    QFETCH(bool, write);
    QFETCH(int, receivedCount);
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    QVERIFY(m_sensor->command(fault));
    const quint64 id = write ? m_link->write(QStringLiteral("1"), 0, {7}) : m_link->read(QStringLiteral("1"), 0, 13);
    const ModbusOutcome outcome = outcomeOf(id);
    QCOMPARE(outcome.kind, ModbusOutcome::Mismatch);
    QCOMPARE(outcome.requestedStart, 0);
    QCOMPARE(outcome.requestedCount, write ? 1 : 13);
    QCOMPARE(outcome.receivedStart, 0);
    QCOMPARE(outcome.receivedCount, receivedCount);
}

// The master pairs an answer with its request by server and function only. The sensor
// answers the first write late, after the master has asked again; the first echo ends the
// retry, and the echo of the retry comes while the next write is on the line. It names
// register 0, so it is no answer to the write of register 4, which the sensor refuses.
void TestLink::echoOfAnotherRegisterIsNoAnswer()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    const int lateMs = m_line.timeoutMs * 3 / 2;
    QVERIFY(m_sensor->command(QStringLiteral("delay 16 0 %1 2").arg(lateMs)));
    QVERIFY(m_sensor->command(QStringLiteral("exception 16 4 2")));
    const quint64 first = m_link->write(QStringLiteral("1"), 0, {7});
    const quint64 next = m_link->write(QStringLiteral("1"), 4, {9});
    QCOMPARE(outcomeOf(first).kind, ModbusOutcome::Done);
    const ModbusOutcome outcome = outcomeOf(next);
    // Paired with the stray echo, or, on a machine slow enough that it came while nothing
    // was on the line, with the sensor's refusal: never done.
    if (outcome.kind == ModbusOutcome::Mismatch) {
        QCOMPARE(outcome.receivedStart, 0);
        QCOMPARE(outcome.receivedCount, 1);
    } else {
        QCOMPARE(outcome.kind, ModbusOutcome::Failed);
        QCOMPARE(outcome.exceptionCode, 2);
    }
}

void TestLink::requestsGoOutOneAtATime()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    m_sensor->clearJournal();
    // A read that gets no answer holds the line through its tries; the write behind it is
    // not on the line before, and so is not timed while it waits.
    QVERIFY(m_sensor->command(QStringLiteral("silent 3 13 2")));
    const quint64 read = m_link->read(QStringLiteral("1"), 13, 16, true);
    const quint64 write = m_link->write(QStringLiteral("1"), 4, {9});
    m_link->waitFor(write);
    QCOMPARE(outcomeOf(read).kind, ModbusOutcome::Failed);
    QCOMPARE(outcomeOf(read).error, QModbusDevice::TimeoutError);
    QCOMPARE(outcomeOf(write).kind, ModbusOutcome::Done);
    const QStringList requests = seen(m_sensor->journal());
    QVERIFY2(requests.size() >= 3, qPrintable(requests.join(' ')));
    QCOMPARE(requests.last(), QStringLiteral("16@4:ok"));
    for (int i = 0; i < requests.size() - 1; ++i)
        QCOMPARE(requests.at(i), QStringLiteral("3@13:silent"));
}

void TestLink::disconnectDropsEverythingSilently()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    m_sensor->clearJournal();
    QVERIFY(m_sensor->command(QStringLiteral("delay 3 13 300 1")));
    const quint64 onLine = m_link->read(QStringLiteral("1"), 13, 16, true);
    const quint64 queued = m_link->write(QStringLiteral("1"), 4, {9});
    QVERIFY(m_sensor->waitForRequests(1));
    m_link->disconnectDevice();
    QCOMPARE(outcomeOf(onLine).kind, ModbusOutcome::Dropped);
    QCOMPARE(outcomeOf(queued).kind, ModbusOutcome::Dropped);
    QVERIFY(!m_link->outstanding(queued));
    QVERIFY(!m_link->statusReadOutstanding());
    // The aborted answer reports nothing more, and the dropped write never went out.
    QTest::qWait(600);
    QCOMPARE(m_outcomes.size(), 2);
    QCOMPARE(seen(m_sensor->journal()), QStringList {"3@13:delayed"});
}

void TestLink::disconnectInTheTurnOfTheSend_data()
{
    QTest::addColumn<bool>("write");
    QTest::newRow("a read") << false;
    QTest::newRow("a write") << true;
}

// The master writes a request from a timer of its own: handed over and disconnected in one
// turn of the event loop, it fails on the closed port, which is no news of the link's.
void TestLink::disconnectInTheTurnOfTheSend()
{
    QFETCH(bool, write);
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    m_sensor->clearJournal();
    QSignalSpy masterErrors(m_master.get(), &QModbusDevice::errorOccurred);
    QSignalSpy deviceErrors(m_link.get(), &ModbusLink::deviceError);
    const quint64 id = write ? m_link->write(QStringLiteral("1"), 4, {9}) : m_link->read(QStringLiteral("1"), 0, 13);
    m_link->disconnectDevice();
    // A connect in the same turn that fails leaves the link as it was: not counted, and as
    // deaf to the closed port as before.
    const quint64 connections = m_link->connectionCount();
    LineSettings gone = m_line;
    gone.portName += QStringLiteral("-gone");
    QVERIFY(!m_link->connectDevice(gone));
    QVERIFY(!m_link->connectErrorString().isEmpty());
    QCOMPARE(m_link->connectErrorString(), m_master->errorString());
    const int afterConnect = masterErrors.count();
    QCOMPARE(outcomeOf(id).kind, ModbusOutcome::Dropped);
    QTRY_VERIFY_WITH_TIMEOUT(masterErrors.count() > afterConnect, 5000);
    QCOMPARE(deviceErrors.count(), 0);
    QCOMPARE(m_link->connectionCount(), connections);
    QCOMPARE(m_outcomes.size(), 1);
    QVERIFY2(m_sensor->journal().isEmpty(), qPrintable(seen(m_sensor->journal()).join(' ')));

    // A connect that opens is counted and heard.
    QVERIFY(m_link->connectDevice(m_line));
    QCOMPARE(m_link->connectionCount(), connections + 1);
    emit m_master->errorOccurred(QModbusDevice::UnknownError);
    QCOMPARE(deviceErrors.count(), 1);
}

// A request refused for its slave address is refused when it is made; it waits in the
// queue only to keep its place, and a disconnect does not turn it into a dropped one.
void TestLink::queuedRefusalStandsOnDisconnect()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    QVERIFY(m_sensor->command(QStringLiteral("delay 3 0 300 1")));
    const quint64 onLine = m_link->read(QStringLiteral("1"), 0, 13);
    const quint64 refused = m_link->write(QStringLiteral("0"), 4, {9});
    const quint64 queued = m_link->read(QStringLiteral("1"), 13, 16);
    QVERIFY(m_sensor->waitForRequests(1));
    QVERIFY(m_outcomes.isEmpty());
    m_link->disconnectDevice();
    QCOMPARE(m_outcomes.size(), 3);
    QCOMPARE(m_outcomes.at(0).id, onLine);
    QCOMPARE(m_outcomes.at(0).kind, ModbusOutcome::Dropped);
    QCOMPARE(m_outcomes.at(1).id, refused);
    QCOMPARE(m_outcomes.at(1).kind, ModbusOutcome::Refused);
    QVERIFY(m_outcomes.at(1).errorString.contains(QStringLiteral("\"0\"")));
    QCOMPARE(m_outcomes.at(2).id, queued);
    QCOMPARE(m_outcomes.at(2).kind, ModbusOutcome::Dropped);
}

// The user disconnects in the turn between a write's answer and its report, and the handler
// of that report runs an event loop of its own. By then the connection is off the line: the
// read that was on it (its first try unanswered), the write queued behind it and a read asked
// for from inside that loop never reach the sensor, and every outcome comes in the order of
// its request, the write that the sensor took done and the rest dropped.
void TestLink::endOfConnectionIsFinal()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    m_sensor->clearJournal();
    QVERIFY(m_sensor->command(QStringLiteral("silent 3 13 1")));
    HeldReport answered;
    quint64 askedInLoop = 0;
    holdReport(answered, 900, [&] { askedInLoop = m_link->read(QStringLiteral("1"), 0, 13); });
    const BeforeQueuedCall disconnect(m_link.get(), [&] { m_link->disconnectDevice(); });
    answered.id = m_link->write(QStringLiteral("1"), 4, {9});
    const quint64 onLine = m_link->read(QStringLiteral("1"), 13, 16, true);
    const quint64 queued = m_link->write(QStringLiteral("1"), 6, {5});
    QTRY_VERIFY_WITH_TIMEOUT(disconnect.ran() && askedInLoop != 0 && m_outcomes.size() >= 4, 10000);
    QList<quint64> ids;
    QList<int> kinds;
    for (const ModbusOutcome& o : std::as_const(m_outcomes)) {
        ids << o.id;
        kinds << int(o.kind);
    }
    QCOMPARE(ids, (QList<quint64> {answered.id, onLine, queued, askedInLoop}));
    QCOMPARE(kinds,
        (QList<int> {ModbusOutcome::Done, ModbusOutcome::Dropped, ModbusOutcome::Dropped, ModbusOutcome::Dropped}));
    QVERIFY(!m_link->outstanding(askedInLoop));
    QVERIFY(answered.released);
    const QStringList requests = seen(m_sensor->journal());
    QVERIFY2(!requests.isEmpty() && requests.first() == QStringLiteral("16@4:ok"), qPrintable(requests.join(' ')));
    for (const QString& request : requests.mid(1))
        QVERIFY2(request == QStringLiteral("3@13:silent"), qPrintable(requests.join(' ')));
    QCOMPARE(answered.masterAtReport, QModbusDevice::UnconnectedState);
}

// A connect asked for from a handler of an ended connection's outcome is refused: every
// outcome of that connection comes first. Once they are out, a connect goes through, and
// its first outcome is the only one after it.
void TestLink::connectWhileTheEndIsReportedIsRefused()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    // Unanswered, so that nothing of it is left on the line for the next connection.
    QVERIFY(m_sensor->command(QStringLiteral("silent 3 0 1")));
    const quint64 connections = m_link->connectionCount();
    const quint64 onLine = m_link->read(QStringLiteral("1"), 0, 13);
    const quint64 queued = m_link->write(QStringLiteral("1"), 4, {9});
    QVERIFY(m_sensor->waitForRequests(1));
    bool tried = false;
    bool reconnected = true;
    QString why;
    connect(m_link.get(), &ModbusLink::finished, this, [&](const ModbusOutcome& o) {
        if (o.id != onLine || tried)
            return;
        tried = true;
        reconnected = m_link->connectDevice(m_line);
        why = m_link->connectErrorString();
    });
    m_link->disconnectDevice();
    QVERIFY(tried);
    QVERIFY(!reconnected);
    QCOMPARE(why, QStringLiteral("предыдущее подключение ещё не завершено"));
    QCOMPARE(m_link->connectionCount(), connections);
    QVERIFY(!m_link->connected());
    QCOMPARE(m_outcomes.size(), 2);
    QCOMPARE(m_outcomes.at(0).id, onLine);
    QCOMPARE(m_outcomes.at(1).id, queued);
    QCOMPARE(m_outcomes.at(1).kind, ModbusOutcome::Dropped);

    QVERIFY(m_link->connectDevice(m_line));
    QCOMPARE(m_link->connectionCount(), connections + 1);
    QTRY_VERIFY_WITH_TIMEOUT(m_link->connected(), 5000);
    const quint64 next = m_link->read(QStringLiteral("1"), 13, 16);
    QCOMPARE(outcomeOf(next).kind, ModbusOutcome::Done);
    QCOMPARE(m_outcomes.size(), 3);
}

void TestLink::lineLossIsReportedOnce()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    QSignalSpy deviceErrors(m_link.get(), &ModbusLink::deviceError);
    QSignalSpy lost(m_link.get(), &ModbusLink::lineLost);
    QVERIFY(m_sensor->command(QStringLiteral("delay 3 13 500 1")));
    const quint64 onLine = m_link->read(QStringLiteral("1"), 13, 16, true);
    const quint64 queued = m_link->write(QStringLiteral("1"), 4, {9});
    QVERIFY(m_sensor->waitForRequests(1));
    m_sensor->cutLine();
    m_link->waitFor(queued);
    QVERIFY(lost.count() == 1 || lost.wait(5000));
    QVERIFY(!m_link->connected());
    QCOMPARE(outcomeOf(onLine).kind, ModbusOutcome::Dropped);
    QCOMPARE(outcomeOf(queued).kind, ModbusOutcome::Dropped);
    QTest::qWait(200);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(deviceErrors.count(), 1);
}

// A handler that runs an event loop of its own (a message box) while the master is still
// inside the signal that finished the reply: the requests behind it are answered meanwhile.
void TestLink::handlerWithEventLoopHoldsNothingUp()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    const int holdMs = 2 * m_link->givenUpAfterMs();
    HeldReport first;
    holdReport(first, holdMs);
    first.id = m_link->read(QStringLiteral("1"), 0, 13);
    const quint64 second = m_link->read(QStringLiteral("1"), 13, 16, true);
    const quint64 third = m_link->write(QStringLiteral("1"), 4, {9});
    QTRY_VERIFY_WITH_TIMEOUT(first.released && !m_link->outstanding(third), 3 * holdMs);
    QCOMPARE(first.during.size(), 2);
    QCOMPARE(first.during.at(0).id, second);
    QCOMPARE(first.during.at(0).kind, ModbusOutcome::Done);
    QCOMPARE(first.during.at(1).id, third);
    QCOMPARE(first.during.at(1).kind, ModbusOutcome::Done);
    QVERIFY(m_link->connected());
    QCOMPARE(seen(m_sensor->journal()).mid(0, 3), (QStringList {"3@0:ok", "3@13:ok", "16@4:ok"}));
}

// An answer and a refusal behind it wait for the event loop together; the handler of the
// answer runs an event loop of its own, and the refusal reaches the handlers from inside it.
void TestLink::outcomesWaitingTogetherReachAHandlersLoop()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    QVERIFY(m_sensor->command(QStringLiteral("delay 3 0 100 1")));
    HeldReport answered;
    holdReport(answered, 500);
    answered.id = m_link->read(QStringLiteral("1"), 0, 13);
    const quint64 refused = m_link->read(QStringLiteral("0"), 0, 13);
    QTRY_VERIFY_WITH_TIMEOUT(answered.released && !m_link->outstanding(refused), 5000);
    QCOMPARE(m_outcomes.size(), 2);
    QCOMPARE(m_outcomes.at(0).id, answered.id);
    QCOMPARE(answered.during.size(), 1);
    QCOMPARE(answered.during.first().id, refused);
    QCOMPARE(answered.during.first().kind, ModbusOutcome::Refused);
}

void TestLink::refusalKeepsItsPlaceInOrder_data()
{
    QTest::addColumn<QString>("slave");
    QTest::addColumn<int>("start");
    QTest::newRow("refused by the master") << "1" << -1;
    QTest::newRow("refused for its slave address") << "0" << 0;
}

// A request refused at once is reported in its place: after the outcome of the request
// before it, which the sensor answers late.
void TestLink::refusalKeepsItsPlaceInOrder()
{
    QFETCH(QString, slave);
    QFETCH(int, start);
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    QVERIFY(m_sensor->command(QStringLiteral("delay 3 0 200 1")));
    const quint64 answered = m_link->read(QStringLiteral("1"), 0, 13);
    const quint64 refused = m_link->read(slave, start, 13);
    QCOMPARE(outcomeOf(refused).kind, ModbusOutcome::Refused);
    QCOMPARE(m_outcomes.size(), 2);
    QCOMPARE(m_outcomes.at(0).id, answered);
    QCOMPARE(m_outcomes.at(0).kind, ModbusOutcome::Done);
    QCOMPARE(m_outcomes.at(1).id, refused);
}

void TestLink::stuckMasterIsGivenUp_data()
{
    QTest::addColumn<int>("busyMs");
    QTest::newRow("idle thread") << 0;
    QTest::newRow("thread busy 60 ms every turn") << 60;
}

// A master that never finishes a request, although the event loop runs, is given up once
// it had the whole bound, and taken down: nothing it still holds may go out later. Time
// is counted in ticks of ModbusLink::workTickMs, at most one a turn of the event loop, so
// with a busy thread the bound is that many turns.
void TestLink::stuckMasterIsGivenUp()
{
    QFETCH(int, busyMs);
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    QSignalSpy lost(m_link.get(), &ModbusLink::lineLost);
    // Its port's signals never reach it: what it writes is never known to be written, and
    // no answer is ever seen.
    QSerialPort* port = m_master->findChild<QSerialPort*>();
    QVERIFY(port);
    port->blockSignals(true);
    // By the time it is reported, the stuck request and the one behind it are off the line
    // and the master is down.
    QModbusDevice::State masterAtReport = QModbusDevice::ConnectedState;
    connect(m_link.get(), &ModbusLink::finished, this, [&](const ModbusOutcome& o) {
        if (o.kind == ModbusOutcome::GivenUp)
            masterAtReport = m_master->state();
    });
    SteadyLoad load(busyMs);
    if (busyMs > 0)
        load.start();
    QElapsedTimer clock;
    clock.start();
    const quint64 stuck = m_link->read(QStringLiteral("1"), 0, 13);
    const quint64 behind = m_link->write(QStringLiteral("1"), 4, {9});
    const int ticks = m_link->givenUpAfterMs() / ModbusLink::workTickMs;
    const int bound = ticks * std::max(ModbusLink::workTickMs, busyMs + 10);
    (void)QTest::qWaitFor([&] { return !m_link->outstanding(stuck); }, 3 * bound + 5000);
    const qint64 took = clock.elapsed();
    load.stop();
    const ModbusOutcome outcome = outcomeOf(stuck);
    QCOMPARE(outcome.kind, ModbusOutcome::GivenUp);
    QCOMPARE(outcome.error, QModbusDevice::TimeoutError);
    QCOMPARE(outcome.errorString, QStringLiteral("ответ не получен за %1 мс").arg(m_link->givenUpAfterMs()));
    QVERIFY2(took >= m_link->givenUpAfterMs(), qPrintable(QString::number(took)));
    // Generous for a loaded machine: twice the stated bound and a second more.
    QVERIFY2(took <= 2 * bound + 1000, qPrintable(QStringLiteral("%1 ms, bound %2 ms").arg(took).arg(bound)));
    QCOMPARE(masterAtReport, QModbusDevice::UnconnectedState);
    QCOMPARE(m_outcomes.first().id, stuck);
    QCOMPARE(outcomeOf(behind).kind, ModbusOutcome::Dropped);
    QVERIFY(lost.count() == 1 || lost.wait(5000));
    QVERIFY(!m_link->connected());
    port->blockSignals(false);
    QTest::qWait(300);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(m_outcomes.size(), 2);
    for (const Request& r : m_sensor->journal())
        QVERIFY2(r.function != 16, qPrintable(r.toString()));
}

// A line fault queues the takedown of the line it hit; a connect made before that runs
// is another line and stays up.
void TestLink::lossQueuedBeforeReconnectLeavesItAlone()
{
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    QSignalSpy lost(m_link.get(), &ModbusLink::lineLost);
    QSignalSpy deviceErrors(m_link.get(), &ModbusLink::deviceError);
    emit m_master->errorOccurred(QModbusDevice::ReadError);
    QCOMPARE(deviceErrors.count(), 1);
    m_link->disconnectDevice();
    QVERIFY(m_link->connectDevice(m_line));
    QTRY_VERIFY_WITH_TIMEOUT(m_link->connected(), 5000);
    const ModbusOutcome read = outcomeOf(m_link->read(QStringLiteral("1"), 0, 13));
    QCOMPARE(read.kind, ModbusOutcome::Done);
    QVERIFY(m_link->connected());
    QCOMPARE(lost.count(), 0);
}

void TestLink::earlierConnectionsOutcomeAfterReconnect_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("kind");
    // An answer to a read decides nothing once its line is gone; a write that the sensor
    // took is never reported as failed.
    QTest::newRow("a status read answered") << false << int(ModbusOutcome::Dropped);
    QTest::newRow("a write answered") << true << int(ModbusOutcome::Done);
}

// The user disconnects and connects again in the one turn between an answer and its
// report: the outcome is settled before the new connection, and holds nothing up there.
void TestLink::earlierConnectionsOutcomeAfterReconnect()
{
    QFETCH(bool, write);
    QFETCH(int, kind);
    QVERIFY2(open(), qPrintable(m_sensor->errorString()));
    quint64 id = 0;
    bool reconnected = false;
    bool heldUpOnNewLine = true;
    QList<ModbusOutcome> afterReconnect;
    connect(m_link.get(), &ModbusLink::finished, this, [&](const ModbusOutcome& o) {
        if (reconnected)
            afterReconnect << o;
    });
    const BeforeQueuedCall reconnect(m_link.get(), [&] {
        m_link->disconnectDevice();
        reconnected = m_link->connectDevice(m_line);
        heldUpOnNewLine = m_link->statusReadOutstanding() || m_link->outstanding(id);
    });
    id = write ? m_link->write(QStringLiteral("1"), 4, {9}) : m_link->read(QStringLiteral("1"), 13, 16, true);
    QTRY_VERIFY_WITH_TIMEOUT(reconnect.ran(), 5000);
    QVERIFY(reconnected);
    QVERIFY(!heldUpOnNewLine);
    QCOMPARE(int(outcomeOf(id).kind), kind);

    // Whatever was still queued runs before the new line's first outcome.
    QTRY_VERIFY_WITH_TIMEOUT(m_link->connected(), 5000);
    const quint64 next = m_link->read(QStringLiteral("1"), 13, 16, true);
    QVERIFY(next != 0);
    QCOMPARE(outcomeOf(next).kind, ModbusOutcome::Done);
    QCOMPARE(afterReconnect.size(), 1);
    QCOMPARE(afterReconnect.first().id, next);
}

QTEST_MAIN(TestLink)
#include "tst_link.moc"
