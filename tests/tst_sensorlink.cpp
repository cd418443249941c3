// Drives Qt's own RTU master against the simulated sensor, so that the tests
// of the program can trust what the simulator answers and what it logs.

#include "sensorlink.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QVariant>

#include <cstring>
#include <memory>

Q_DECLARE_METATYPE(QModbusDevice::Error)

namespace {

struct Result
{
    QModbusDevice::Error error = QModbusDevice::UnknownError;
    int exceptionCode = 0;
    QVector<quint16> values;
    qint64 elapsedMs = 0;
};

float highWordFirst(quint16 high, quint16 low)
{
    const quint32 bits = (quint32(high) << 16) | low;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

QStringList actions(const QList<SensorLink::Request>& journal)
{
    QStringList out;
    for (const auto& r : journal)
        out << r.action;
    return out;
}

// A request that timed out was sent once plus its retries; on a loaded machine Qt's master has
// been seen to send one try more, so a timed-out request only has to be tried at least that often.
QStringList retriesSeen(QStringList seen, const QStringList& expected, QModbusDevice::Error error)
{
    if (error != QModbusDevice::TimeoutError || expected.isEmpty())
        return seen;
    while (seen.size() > expected.size() && seen.last() == expected.last())
        seen.removeLast();
    return seen;
}

} // namespace

class TestSensorLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void stateBlockFollowsVersion_data();
    void stateBlockFollowsVersion();
    void writesAreStoredAndLogged_data();
    void writesAreStoredAndLogged();
    void faults_data();
    void faults();
    void slaveAddressing_data();
    void slaveAddressing();
    void commandsAreChecked_data();
    void commandsAreChecked();
    void sensorCanBeReplacedOnTheSamePort();
    void cutLineLeavesMasterWithoutPort();

private:
    bool open(const QStringList& simArgs = {});
    Result run(QModbusReply* reply);
    Result read(int address, int count, int slave = 1);
    Result raw(const QModbusRequest& request, int slave = 1);

    std::unique_ptr<SensorLink> m_link;
    std::unique_ptr<QModbusRtuSerialMaster> m_master;
};

void TestSensorLink::init()
{
    m_link = std::make_unique<SensorLink>();
}

void TestSensorLink::cleanup()
{
    if (m_master)
        m_master->disconnectDevice();
    m_master.reset();
    m_link.reset();
}

bool TestSensorLink::open(const QStringList& simArgs)
{
    if (!m_link->start(simArgs))
        return false;
    m_master = std::make_unique<QModbusRtuSerialMaster>();
    m_master->setConnectionParameter(QModbusDevice::SerialPortNameParameter, m_link->programPort());
    m_master->setConnectionParameter(QModbusDevice::SerialBaudRateParameter, QSerialPort::Baud115200);
    m_master->setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
    m_master->setConnectionParameter(QModbusDevice::SerialParityParameter, QSerialPort::NoParity);
    m_master->setConnectionParameter(QModbusDevice::SerialStopBitsParameter, QSerialPort::OneStop);
    m_master->setTimeout(500);
    m_master->setNumberOfRetries(3);
    if (!m_master->connectDevice()) {
        qWarning("cannot connect the master: %s", qPrintable(m_master->errorString()));
        return false;
    }
    return QTest::qWaitFor([this] { return m_master->state() == QModbusDevice::ConnectedState; }, 5000);
}

Result TestSensorLink::run(QModbusReply* reply)
{
    Result r;
    if (!reply)
        return r;
    QElapsedTimer clock;
    clock.start();
    if (!reply->isFinished()) {
        QSignalSpy finished(reply, &QModbusReply::finished);
        // Worst case is a silent sensor: 4 × 500 ms.
        finished.wait(15000);
    }
    r.elapsedMs = clock.elapsed();
    r.error = reply->isFinished() ? reply->error() : QModbusDevice::UnknownError;
    if (reply->rawResult().isException())
        r.exceptionCode = reply->rawResult().exceptionCode();
    r.values = reply->result().values();
    reply->deleteLater();
    return r;
}

Result TestSensorLink::read(int address, int count, int slave)
{
    const QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, address, quint16(count));
    QElapsedTimer clock;
    clock.start();
    Result r = run(m_master->sendReadRequest(unit, slave));
    r.elapsedMs = clock.elapsed();
    return r;
}

Result TestSensorLink::raw(const QModbusRequest& request, int slave)
{
    return run(m_master->sendRawRequest(request, slave));
}

void TestSensorLink::stateBlockFollowsVersion_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("stateCount");

    QTest::newRow("1") << 1 << 16;
    QTest::newRow("11") << 11 << 16;
    QTest::newRow("12") << 12 << 34;
    QTest::newRow("14") << 14 << 34;
    QTest::newRow("10013") << 10013 << 40;
    QTest::newRow("10014") << 10014 << 40;
    QTest::newRow("unknown 15") << 15 << 34;
}

void TestSensorLink::stateBlockFollowsVersion()
{
    QFETCH(int, version);
    QFETCH(int, stateCount);
    QVERIFY2(open({"--version", QString::number(version)}), qPrintable(m_link->errorString()));

    const Result config = read(0, 13);
    QCOMPARE(config.error, QModbusDevice::NoError);
    QCOMPARE(config.values.size(), 13);
    QCOMPARE(int(config.values.at(1)), version);
    QCOMPARE(qint16(config.values.at(5)), qint16(-2));

    const Result state = read(13, stateCount);
    QCOMPARE(state.error, QModbusDevice::NoError);
    QCOMPARE(state.values.size(), stateCount);

    const Result beyond = read(13, stateCount + 1);
    QCOMPARE(beyond.error, QModbusDevice::ProtocolError);
    QCOMPARE(beyond.exceptionCode, int(QModbusPdu::IllegalDataAddress));

    // A value whose halves differ, so that a swapped decoding cannot pass.
    QVERIFY(m_link->command("freeze on"));
    QVERIFY(m_link->command("setfloat 15 -1234.5"));
    const Result fixed = read(15, 2);
    QCOMPARE(fixed.error, QModbusDevice::NoError);
    QCOMPARE(highWordFirst(fixed.values.at(0), fixed.values.at(1)), -1234.5f);
    QVERIFY(highWordFirst(fixed.values.at(1), fixed.values.at(0)) != -1234.5f);
    QCOMPARE(read(13, stateCount).values, read(13, stateCount).values);

    QVERIFY(m_link->command("freeze off"));
    const Result first = read(13, stateCount);
    const Result second = read(13, stateCount);
    QCOMPARE(second.error, QModbusDevice::NoError);
    for (int at : {2, stateCount - 2}) {
        const float a = highWordFirst(first.values.at(at), first.values.at(at + 1));
        const float b = highWordFirst(second.values.at(at), second.values.at(at + 1));
        QVERIFY2(b != a, qPrintable(QString("float at %1 stayed %2").arg(13 + at).arg(a)));
    }
}

void TestSensorLink::writesAreStoredAndLogged_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("address");
    QTest::addColumn<QVector<quint16>>("values");
    QTest::addColumn<int>("exceptionCode"); // 0: accepted

    QTest::newRow("fn 16 one register") << 16 << 9 << QVector<quint16>{2} << 0;
    QTest::newRow("fn 16 two registers") << 16 << 3 << QVector<quint16>{0xABCD, 0xFFFF} << 0;
    QTest::newRow("fn 6") << 6 << 12 << QVector<quint16>{4321} << 0;
    QTest::newRow("fn 16 state block") << 16 << 13 << QVector<quint16>{5} << 2;
    QTest::newRow("fn 16 across the end") << 16 << 12 << QVector<quint16>{1, 2} << 2;
    QTest::newRow("fn 6 state block") << 6 << 20 << QVector<quint16>{1} << 2;
}

void TestSensorLink::writesAreStoredAndLogged()
{
    QFETCH(int, function);
    QFETCH(int, address);
    QFETCH(QVector<quint16>, values);
    QFETCH(int, exceptionCode);
    QVERIFY2(open(), qPrintable(m_link->errorString()));

    const QVector<quint16> before = read(0, 13).values;
    QCOMPARE(before.size(), 13);
    m_link->clearJournal();

    const QModbusRequest request =
        function == 6 ? QModbusRequest(QModbusRequest::WriteSingleRegister, quint16(address), values.at(0))
                      : QModbusRequest(QModbusRequest::WriteMultipleRegisters, quint16(address),
                                       quint16(values.size()), quint8(2 * values.size()), values);
    const Result written = raw(request);
    if (exceptionCode) {
        QCOMPARE(written.error, QModbusDevice::ProtocolError);
        QCOMPARE(written.exceptionCode, exceptionCode);
    } else {
        QCOMPARE(written.error, QModbusDevice::NoError);
    }

    const auto journal = m_link->journal();
    QCOMPARE(journal.size(), 1);
    QCOMPARE(journal.at(0).function, function);
    QCOMPARE(journal.at(0).address, address);
    QCOMPARE(journal.at(0).count, values.size());
    QCOMPARE(journal.at(0).values, values);

    QVector<quint16> expected = before;
    if (!exceptionCode)
        std::copy(values.begin(), values.end(), expected.begin() + address);
    QCOMPARE(read(0, 13).values, expected);
}

void TestSensorLink::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QModbusDevice::Error>("error");
    QTest::addColumn<int>("exceptionCode");
    QTest::addColumn<QStringList>("journal");
    QTest::addColumn<int>("valueCount"); // of a successful reply to a read of 13
    QTest::addColumn<int>("minMs");

    const auto times = [](int n, const QString& action) {
        QStringList list;
        while (n-- > 0)
            list << action;
        return list;
    };

    QTest::newRow("exception") << "exception 3 0 4" << QModbusDevice::ProtocolError << 4
                               << QStringList{"exception"} << 0 << 0;
    QTest::newRow("exception, any fn and address") << "exception * * 6" << QModbusDevice::ProtocolError << 6
                                                   << QStringList{"exception"} << 0 << 0;
    QTest::newRow("exception at another address") << "exception 3 5 4" << QModbusDevice::NoError << 0
                                                  << QStringList{"ok"} << 13 << 0;
    QTest::newRow("exception for another function") << "exception 16 0 4" << QModbusDevice::NoError << 0
                                                    << QStringList{"ok"} << 13 << 0;
    QTest::newRow("silent") << "silent 3 0" << QModbusDevice::TimeoutError << 0 << times(4, "silent") << 0
                            << 1500;
    QTest::newRow("silent for two tries") << "silent 3 0 2" << QModbusDevice::NoError << 0
                                          << QStringList{"silent", "silent", "ok"} << 13 << 750;
    QTest::newRow("silent all") << "silent all on" << QModbusDevice::TimeoutError << 0 << times(4, "silent")
                                << 0 << 1500;
    QTest::newRow("delay") << "delay 3 0 200" << QModbusDevice::NoError << 0 << QStringList{"delayed"} << 13
                           << 200;
    QTest::newRow("delay all") << "delay all 200" << QModbusDevice::NoError << 0 << QStringList{"delayed"}
                               << 13 << 200;
    QTest::newRow("bad crc") << "badcrc 3 0" << QModbusDevice::TimeoutError << 0 << times(4, "badcrc") << 0
                             << 1500;
    QTest::newRow("bad crc once") << "badcrc 3 0 1" << QModbusDevice::NoError << 0
                                  << QStringList{"badcrc", "ok"} << 13 << 0;
    QTest::newRow("two registers more") << "countdelta 3 0 2" << QModbusDevice::NoError << 0
                                        << QStringList{"countdelta"} << 15 << 0;
    QTest::newRow("three registers fewer") << "countdelta 3 0 -3" << QModbusDevice::NoError << 0
                                           << QStringList{"countdelta"} << 10 << 0;
}

void TestSensorLink::faults()
{
    QFETCH(QString, fault);
    QFETCH(QModbusDevice::Error, error);
    QFETCH(int, exceptionCode);
    QFETCH(QStringList, journal);
    QFETCH(int, valueCount);
    QFETCH(int, minMs);
    QVERIFY2(open(), qPrintable(m_link->errorString()));
    QVERIFY2(m_link->command(fault), qPrintable(m_link->errorString()));

    const Result r = read(0, 13);
    QCOMPARE(r.error, error);
    QCOMPARE(r.exceptionCode, exceptionCode);
    if (error == QModbusDevice::NoError)
        QCOMPARE(r.values.size(), valueCount);
    QVERIFY2(r.elapsedMs >= minMs, qPrintable(QString("answered after %1 ms").arg(r.elapsedMs)));

    QVERIFY(m_link->waitForRequests(journal.size()));
    const auto seen = m_link->journal();
    QCOMPARE(retriesSeen(actions(seen), journal, error), journal);
    for (const auto& req : seen) {
        QVERIFY2(req.slave == 1 && req.function == 3 && req.address == 0 && req.count == 13,
                 qPrintable(req.toString()));
    }

    QVERIFY(m_link->command("clear"));
    const Result after = read(0, 13);
    QCOMPARE(after.error, QModbusDevice::NoError);
    QCOMPARE(after.values.size(), 13);
}

void TestSensorLink::slaveAddressing_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("slave");
    QTest::addColumn<QModbusDevice::Error>("error");
    QTest::addColumn<QStringList>("journal");

    QTest::newRow("own address") << QStringList{"--slave", "5"} << 5 << QModbusDevice::NoError
                                 << QStringList{"ok"};
    QTest::newRow("another sensor's address")
        << QStringList{} << 2 << QModbusDevice::TimeoutError
        << QStringList{"ignored", "ignored", "ignored", "ignored"};
}

void TestSensorLink::slaveAddressing()
{
    QFETCH(QStringList, simArgs);
    QFETCH(int, slave);
    QFETCH(QModbusDevice::Error, error);
    QFETCH(QStringList, journal);
    QVERIFY2(open(simArgs), qPrintable(m_link->errorString()));

    QCOMPARE(read(0, 13, slave).error, error);
    QVERIFY(m_link->waitForRequests(journal.size()));
    const auto seen = m_link->journal();
    QCOMPARE(retriesSeen(actions(seen), journal, error), journal);
    QCOMPARE(seen.at(0).slave, slave);
}

void TestSensorLink::commandsAreChecked_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("exception until cleared") << "exception 3 0 2 -1" << true;
    QTest::newRow("countdelta five times") << "countdelta 3 13 -2 5" << true;
    QTest::newRow("set last state register") << "set 46 65535" << true;
    QTest::newRow("setfloat last pair") << "setfloat 45 -2.5" << true;
    QTest::newRow("delay all off") << "delay all 0" << true;
    QTest::newRow("silent all off") << "silent all off" << true;
    QTest::newRow("exception without code") << "exception 3 0" << false;
    QTest::newRow("set beyond state block") << "set 47 1" << false;
    QTest::newRow("set too large") << "set 0 65536" << false;
    QTest::newRow("setfloat beyond state block") << "setfloat 46 1.0" << false;
    QTest::newRow("setfloat not a number") << "setfloat 15 fast" << false;
    QTest::newRow("count zero") << "silent 3 0 0" << false;
    QTest::newRow("negative delay") << "delay 3 0 -5" << false;
    QTest::newRow("freeze maybe") << "freeze maybe" << false;
    QTest::newRow("unknown") << "reboot" << false;
}

void TestSensorLink::commandsAreChecked()
{
    QFETCH(QString, line);
    QFETCH(bool, accepted);
    QVERIFY2(m_link->start(), qPrintable(m_link->errorString()));

    QCOMPARE(m_link->command(line), accepted);
    // A refused command must not leave the simulator out of step with us.
    QVERIFY2(m_link->command("clear"), qPrintable(m_link->errorString()));
}

void TestSensorLink::sensorCanBeReplacedOnTheSamePort()
{
    QVERIFY2(open({"--version", "14"}), qPrintable(m_link->errorString()));
    QCOMPARE(int(read(0, 13).values.value(1)), 14);

    QVERIFY2(m_link->start({"--version", "11"}), qPrintable(m_link->errorString()));
    const Result r = read(0, 13);
    QCOMPARE(r.error, QModbusDevice::NoError);
    QCOMPARE(int(r.values.value(1)), 11);
}

void TestSensorLink::cutLineLeavesMasterWithoutPort()
{
    QVERIFY2(open(), qPrintable(m_link->errorString()));
    QCOMPARE(read(0, 13).error, QModbusDevice::NoError);

    // Counted by hand: the master reports the loss in a tight loop, and a
    // QSignalSpy would keep every emission.
    int errors = 0;
    QModbusDevice::Error last = QModbusDevice::NoError;
    connect(m_master.get(), &QModbusDevice::errorOccurred, this, [&](QModbusDevice::Error e) {
        ++errors;
        last = e;
    });

    const QString port = m_link->programPort();
    m_link->cutLine();
    QVERIFY(!QFileInfo::exists(port));
    QTRY_VERIFY_WITH_TIMEOUT(errors > 0, 10000);
    QCOMPARE(last, QModbusDevice::ReadError);

    m_master->disconnectDevice();
    QTRY_COMPARE_WITH_TIMEOUT(m_master->state(), QModbusDevice::UnconnectedState, 5000);

    // The sensor noticed and stays responsive to the test.
    QVERIFY(m_link->command("freeze on"));
    QVERIFY2(m_link->notices().filter("LOST").size() == 1, qPrintable(m_link->notices().join('\n')));
}

QTEST_GUILESS_MAIN(TestSensorLink)
#include "tst_sensorlink.moc"
