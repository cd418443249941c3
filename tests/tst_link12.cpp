// The window of the earlier editions against the simulated sensor: connecting with the
// combo boxes' settings, the configuration read, the status poll and its decoding, the
// samples and the plot, the text export, the write pass, and what failures show.

#include <QDateTime>
#include <QElapsedTimer>
#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "modbustexts.h"
#include "pollcounterseam.h"
#include "steadyload.h"
#include "window12.h"

namespace {
using Request = SensorLink::Request;

// The writes as "register:value:action", in the order the sensor saw them.
QStringList writesSeen(Window12& t)
{
    QStringList out;
    for (const Request& r : Journal::only(t.link.journal(), Journal::isWrite)) {
        QStringList values;
        for (quint16 v : r.values)
            values << QString::number(v);
        out << QStringLiteral("%1:%2:%3").arg(r.address).arg(values.join(QLatin1Char(','))).arg(r.action);
    }
    return out;
}

int stateReads(Window12& t)
{
    return Journal::only(t.link.journal(), Journal::isStateRead).size();
}

// Whether the configuration block was read after the pass's last write, told once a
// read of our own has gone out behind anything the pass sent.
bool passReadTableAgain(Window12& t)
{
    const auto before = t.link.journal();
    const auto writes = Journal::only(before, Journal::isWrite);
    const qint64 since = writes.isEmpty() ? 0 : writes.last().msec;
    for (int row = 1; row < t.cfg->rowCount(); ++row)
        t.setCfgValue(row, QString());
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return !t.cfgValue(13).isEmpty(); }, 5000))
        return true;
    const auto reads = Journal::only(t.link.journal(),
        [&](const Request& r) { return Journal::isConfigRead(r) && r.msec >= since; });
    return reads.size() != 1;
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

// Connected, the configuration read, and the journal cleared.
bool ready(Window12& t, const QStringList& simArgs = {})
{
    if (!t.start(simArgs) || !t.connectToSensor())
        return false;
    t.link.clearJournal();
    return true;
}

const QStringList simConfiguration = {"0", "14", "70", "100", "3", "65534", "10", "1", "50", "0", "2", "20", "5"};
}

class TestLink12 : public QObject
{
    Q_OBJECT

private slots:
    void connectWithBoxSettings_data();
    void connectWithBoxSettings();
    void configurationFixUps();
    void pollOnlyOffConfigurationTab();
    void timerDrivesPolls();
    void stateDecoding();
    void samplesCollectedAndDrawn();
    void exportWritesSamples();
    void failedReadShownAndLogged_data();
    void failedReadShownAndLogged();
    void heldThreadIsNoTimeOfTheMaster();
    void steadyLoadLeavesTimeOutToMaster_data();
    void steadyLoadLeavesTimeOutToMaster();
    void countersPast32Bits();
    void invalidSlaveAddressSendsNothing_data();
    void invalidSlaveAddressSendsNothing();
    void writesTickedRowsInOrder_data();
    void writesTickedRowsInOrder();
    void failedWrite_data();
    void failedWrite();
    void measurementMode_data();
    void measurementMode();
    void invalidValueIsNotWritten_data();
    void invalidValueIsNotWritten();
    void untickingClearsColour();
    void secondPassRefusedDuringPass();
    void lineLossGivesOneMessage_data();
    void lineLossGivesOneMessage();
    void unwritableLogStopsNothing();
    void closingWhileConnected();
};

void TestLink12::connectWithBoxSettings_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("speedIndex");
    QTest::addColumn<int>("parityIndex");
    QTest::addColumn<int>("stopIndex");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");

    QTest::newRow("defaults") << QStringList{} << -1 << -1 << -1 << 115200 << int(QSerialPort::NoParity)
                              << int(QSerialPort::OneStop);
    QTest::newRow("9600, even, two stop bits")
        << QStringList{"--baud", "9600", "--parity", "E", "--stop", "2"} << 3 << 1 << 1 << 9600
        << int(QSerialPort::EvenParity) << int(QSerialPort::TwoStop);
    QTest::newRow("38400, odd") << QStringList{"--baud", "38400", "--parity", "O"} << 5 << 2 << 0 << 38400
                                << int(QSerialPort::OddParity) << int(QSerialPort::OneStop);
}

void TestLink12::connectWithBoxSettings()
{
    QFETCH(QStringList, simArgs);
    QFETCH(int, speedIndex);
    QFETCH(int, parityIndex);
    QFETCH(int, stopIndex);
    QFETCH(int, baudRate);
    QFETCH(int, parity);
    QFETCH(int, stopBits);

    Window12 t;
    QVERIFY(t.start(simArgs));
    if (speedIndex >= 0) {
        // Chosen while unlocked; unticking keeps them for the connect.
        t.settings->click();
        t.speed->setCurrentIndex(speedIndex);
        t.parity->setCurrentIndex(parityIndex);
        t.stopBits->setCurrentIndex(stopIndex);
        t.settings->click();
    }
    QVERIFY(t.connectToSensor());
    QTRY_COMPARE(t.openButton->text(), QStringLiteral("Отключиться"));
    QVERIFY(t.readButton->isEnabled());
    QVERIFY(t.writeButton->isEnabled());

    QModbusClient* master = t.master();
    QCOMPARE(master->connectionParameter(QModbusDevice::SerialPortNameParameter).toString(), t.link.programPort());
    QCOMPARE(master->connectionParameter(QModbusDevice::SerialBaudRateParameter).toInt(), baudRate);
    QCOMPARE(master->connectionParameter(QModbusDevice::SerialParityParameter).toInt(), parity);
    QCOMPARE(master->connectionParameter(QModbusDevice::SerialDataBitsParameter).toInt(), 8);
    QCOMPARE(master->connectionParameter(QModbusDevice::SerialStopBitsParameter).toInt(), stopBits);
    QCOMPARE(master->timeout(), 500);
    QCOMPARE(master->numberOfRetries(), 1);

    // One read of the configuration block, shown as the editions show it.
    const auto reads = Journal::only(t.link.journal(), Journal::isConfigRead);
    QCOMPARE(reads.size(), 1);
    QCOMPARE(reads.first().count, 13);
    QCOMPARE(reads.first().slave, 1);
    QCOMPARE(t.cfgValues(), simConfiguration);

    QTest::mouseClick(t.openButton, Qt::LeftButton);
    QVERIFY(!t.readButton->isEnabled());
    QVERIFY(!t.writeButton->isEnabled());
    QTRY_COMPARE(t.openButton->text(), QStringLiteral("Подключиться"));
    QVERIFY(!t.linkConnected());
}

void TestLink12::configurationFixUps()
{
    Window12 t;
    QVERIFY(ready(t));
    const struct {
        QStringList commands;
        QStringList shown; // registers 0, 1, 2, 5
    } cases[] = {
        {{"set 0 1001", "set 1 5"}, {"1", "1", "70", "65534"}},
        {{"set 0 0", "set 1 1"}, {"0", "0", "70", "65534"}},
        {{"set 0 0", "set 1 7"}, {"0", "7", "70", "65534"}},
        {{"set 0 65535", "set 1 7", "set 2 65535", "set 5 65535"}, {"-1", "1", "655350", "65535"}},
    };
    for (const auto& c : cases) {
        for (const QString& command : c.commands)
            QVERIFY(t.link.command(command));
        for (int row = 1; row <= 13; ++row)
            t.setCfgValue(row, QString());
        QTest::mouseClick(t.readButton, Qt::LeftButton);
        QTRY_VERIFY(!t.cfgValue(13).isEmpty());
        QCOMPARE((QStringList{t.cfgValue(1), t.cfgValue(2), t.cfgValue(3), t.cfgValue(6)}), c.shown);
    }
}

void TestLink12::pollOnlyOffConfigurationTab()
{
    Window12 t;
    QVERIFY(ready(t));
    QVERIFY(t.poll(0));
    QCOMPARE(stateReads(t), 0);
    QCOMPARE(t.counter->text(), QStringLiteral("Счетчик: "));

    QVERIFY(t.poll());
    QCOMPARE(t.counter->text(), QStringLiteral("Счетчик: 1/0"));
    QVERIFY(t.poll());
    QCOMPARE(t.counter->text(), QStringLiteral("Счетчик: 2/16"));
    const auto reads = Journal::only(t.link.journal(), Journal::isStateRead);
    QCOMPARE(reads.size(), 2);
    QCOMPARE(reads.first().count, 16);

    // A period of 0 stops polling; the plot tab polls as the data tab does.
    t.period->setValue(0);
    QVERIFY(t.poll());
    QCOMPARE(t.counter->text(), QStringLiteral("Счетчик: 2/16"));
    t.period->setValue(1);
    QVERIFY(t.poll(2));
    QCOMPARE(t.counter->text(), QStringLiteral("Счетчик: 3/32"));
    QCOMPARE(stateReads(t), 3);

    // A disconnect and a new connection go on counting.
    QTest::mouseClick(t.openButton, Qt::LeftButton);
    QVERIFY(t.poll());
    QCOMPARE(t.counter->text(), QStringLiteral("Счетчик: 3/32"));
    QTest::mouseClick(t.openButton, Qt::LeftButton);
    QTRY_VERIFY(t.linkConnected());
    QVERIFY(t.poll());
    QCOMPARE(t.counter->text(), QStringLiteral("Счетчик: 4/48"));
}

// The status timer sends the polls: its first tick 2 s after start-up, then one a
// period (in seconds) apart.
void TestLink12::timerDrivesPolls()
{
    Window12 t;
    QVERIFY(ready(t));
    t.tabs->setCurrentIndex(1);
    QTRY_VERIFY_WITH_TIMEOUT(stateReads(t) >= 2, 8000);
    const auto reads = Journal::only(t.link.journal(), Journal::isStateRead);
    const qint64 gap = reads.at(1).msec - reads.at(0).msec;
    QVERIFY2(gap >= 900 && gap < 2500, qPrintable(QString::number(gap)));
    QVERIFY(t.counter->text().startsWith(QStringLiteral("Счетчик: ")));
}

void TestLink12::stateDecoding()
{
    Window12 t;
    QVERIFY(ready(t));
    for (const char* command : {"freeze on", "set 13 1002", "set 14 9", "setfloat 15 1.0", "setfloat 17 -2.5",
             "setfloat 19 21.4", "setfloat 21 0", "setfloat 23 3.25", "setfloat 25 1000000",
             "setfloat 27 0.125"})
        QVERIFY(t.link.command(QLatin1String(command)));
    QVERIFY(t.poll());
    QCOMPARE(t.statusValues(),
        (QStringList{"2", "1", "1.000", "--", "-2.500", "--", "21.4", "--", "0.000", "--", "3.250", "--",
            "1000000.000", "--", "0.125", "--"}));
    QStringList malformed;
    QCOMPARE(t.logTexts(&malformed), QStringList{"No SPI data"});
    QCOMPARE(malformed, QStringList());

    // A zero temperature is no missing data; the other pairs are.
    for (const char* command : {"setfloat 19 0", "setfloat 21 5", "set 13 0", "set 14 1"})
        QVERIFY(t.link.command(QLatin1String(command)));
    QVERIFY(t.poll());
    QCOMPARE(t.statusValues().mid(0, 9), (QStringList{"0", "0", "1.000", "--", "-2.500", "--", "0.0", "--", "5.000"}));
    QCOMPARE(t.logTexts(), QStringList{"No SPI data"});
}

// Every state reply adds a sample to the three series; the box governs only drawing.
void TestLink12::samplesCollectedAndDrawn()
{
    Window12 t;
    QVERIFY(ready(t));
    for (int i = 0; i < 3; ++i)
        QVERIFY(t.poll(2));
    QCOMPARE(t.canvas->graph(0)->dataCount(), 0);
    QCOMPARE(t.average->text(), QString());

    // Each state read moves the simulated values by a quarter: acceleration is
    // 1.5 + 0.25 n at the n-th read, velocity 3 + 0.25 n, displacement 10.5 + 0.25 n.
    t.plotting->click();
    QVERIFY(t.poll());
    QCPGraph* graph = t.canvas->graph(0);
    QCOMPARE(graph->dataCount(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(graph->data()->at(i)->key, double(i + 1));
        QCOMPARE(graph->data()->at(i)->value, 1.5 + 0.25 * (i + 1));
    }
    QCOMPARE(t.average->text(), QStringLiteral("2.125"));
    QCOMPARE(t.averageLabel->text(), QStringLiteral("Среднее значение A [м/с2]"));
    QCOMPARE(t.canvas->xAxis->label(), QStringLiteral("Время T [с]"));
    QCOMPARE(t.canvas->yAxis->label(), QStringLiteral("Виброускорение A [м/с2]"));
    QVERIFY(t.canvas->xAxis->range().contains(1) && t.canvas->xAxis->range().contains(4));

    // A configuration reply redraws the quantity chosen, adding nothing.
    t.velocity->click();
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    QTRY_COMPARE(t.averageLabel->text(), QStringLiteral("Среднее значение V [м/с]"));
    QCOMPARE(t.canvas->graph(0)->dataCount(), 4);
    QCOMPARE(t.average->text(), QStringLiteral("3.625"));
    QCOMPARE(t.canvas->yAxis->label(), QStringLiteral("Виброскорость V [м/с]"));
    t.displacement->click();
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    QTRY_COMPARE(t.averageLabel->text(), QStringLiteral("Среднее значение S [мкм]"));
    QCOMPARE(t.average->text(), QStringLiteral("11.125"));
    QCOMPARE(t.canvas->yAxis->label(), QStringLiteral("Виброперемещение S [мкм]"));

    // After a clear the keys go on from the poll count.
    QTest::mouseClick(t.clearButton, Qt::LeftButton);
    t.acceleration->click();
    QVERIFY(t.poll());
    QCOMPARE(t.canvas->graph(0)->dataCount(), 1);
    QCOMPARE(t.canvas->graph(0)->data()->at(0)->key, 5.0);
    QCOMPARE(t.average->text(), QStringLiteral("2.750"));
}

void TestLink12::exportWritesSamples()
{
    Window12 t;
    QVERIFY(ready(t));
    for (int i = 0; i < 3; ++i)
        QVERIFY(t.poll());
    if (QTime::currentTime().second() >= 58)
        QTest::qWait(2500);
    const QDateTime before = QDateTime::currentDateTime();
    QTest::mouseClick(t.exportButton, Qt::LeftButton);
    const QString time = before.time().toString(QStringLiteral("HH-mm"));
    const QString date = before.date().toString(QStringLiteral("dd.MM.yyyy"));
    const QString stamp = QStringLiteral(" [%1, %2].txt").arg(time, date);

    QCOMPARE(t.dir.readFile(QStringLiteral("Vibroacceleration") + stamp), QByteArray("1.75000000\n2.00000000\n2.25000000\n"));
    QCOMPARE(t.dir.readFile(QStringLiteral("Vibrovelocity") + stamp), QByteArray("3.25000000\n3.50000000\n3.75000000\n"));
    QCOMPARE(t.dir.readFile(QStringLiteral("Vibrodisplacement") + stamp),
        QByteArray("10.75000000\n11.00000000\n11.25000000\n"));
    QCOMPARE(t.modals->count(), 0);
}

void TestLink12::failedReadShownAndLogged_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("suffix");

    QTest::newRow("exception") << "exception 3 0 2 1" << "Ошибка чтения 1: " << " (Modbus exception: 0x2)";
    QTest::newRow("no answer") << "silent 3 0 2" << "Ошибка чтения 2: " << " (code: 0x5)";
}

void TestLink12::failedReadShownAndLogged()
{
    QFETCH(QString, fault);
    QFETCH(QString, prefix);
    QFETCH(QString, suffix);

    Window12 t;
    QVERIFY(ready(t));
    StatusMessages messages(t.window->statusBar());
    QVERIFY(t.link.command(fault));
    t.setCfgValue(4, QStringLiteral("kept"));
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!startingWith(messages.shown(), prefix).isEmpty(), 5000);
    const QStringList shown = startingWith(messages.shown(), QStringLiteral("Ошибка"));
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().endsWith(suffix), qPrintable(shown.first()));
    QCOMPARE(t.window->statusBar()->currentMessage(), shown.first());
    QCOMPARE(t.messageDuration(), 3000);
    QCOMPARE(t.logTexts(), shown);
    QCOMPARE(t.cfgValue(4), QStringLiteral("kept"));
}

// The thread held up for 1.6 s (as by a long export) just after a state read went out to a
// sensor that leaves it unanswered: that time was none of the master's, so what is reported
// is the master's own time-out, and the link stays up.
void TestLink12::heldThreadIsNoTimeOfTheMaster()
{
    Window12 t;
    QVERIFY(ready(t));
    StatusMessages messages(t.window->statusBar());
    const auto stateReadsWith = [&](const QString& action) {
        return Journal::only(t.link.journal(), [&](const Request& r) { return Journal::isStateRead(r) && r.action == action; })
            .size();
    };
    // Both tries of one read go unanswered.
    QVERIFY(t.link.command(QStringLiteral("silent 3 13 2")));
    t.tabs->setCurrentIndex(1);
    QMetaObject::invokeMethod(t.window.get(), "slotTimerTimeout");
    t.tabs->setCurrentIndex(0);
    QTRY_VERIFY_WITH_TIMEOUT(stateReadsWith(QStringLiteral("silent")) > 0, 5000);
    QThread::msleep(1600);
    QTRY_VERIFY_WITH_TIMEOUT(!startingWith(t.logTexts(), QStringLiteral("Ошибка")).isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!t.modbusLink()->statusReadOutstanding(), 5000);

    QCOMPARE(stateReadsWith(QStringLiteral("silent")), 2);
    const QStringList failures = startingWith(t.logTexts(), QStringLiteral("Ошибка"));
    QCOMPARE(failures.size(), 1);
    QVERIFY2(failures.first().startsWith(QStringLiteral("Ошибка чтения 2: "))
            && failures.first().endsWith(QStringLiteral(" (code: 0x5)"))
            && !failures.first().contains(QStringLiteral("ответ не получен")),
        qPrintable(failures.first()));
    QCOMPARE(startingWith(messages.shown(), QStringLiteral("Ошибка")), failures);
    QVERIFY(t.linkConnected());
    QCOMPARE(t.openButton->text(), QStringLiteral("Отключиться"));
    QVERIFY(t.readButton->isEnabled());

    // The poll goes on at its period.
    t.tabs->setCurrentIndex(1);
    QTRY_VERIFY_WITH_TIMEOUT(stateReadsWith(QStringLiteral("ok")) >= 2, 10000);
    QVERIFY(t.linkConnected());
}

void TestLink12::steadyLoadLeavesTimeOutToMaster_data()
{
    QTest::addColumn<int>("busyMs");
    QTest::newRow("60 ms a turn") << 60;
    QTest::newRow("90 ms a turn") << 90;
    QTest::newRow("150 ms a turn") << 150;
}

// The thread busy for a while in every turn of its event loop while the sensor leaves
// state reads unanswered: what the window shows is still the master's own time-out, the
// link stays up, and the poll goes on once the load is over.
void TestLink12::steadyLoadLeavesTimeOutToMaster()
{
    QFETCH(int, busyMs);
    Window12 t;
    QVERIFY(ready(t));
    StatusMessages messages(t.window->statusBar());
    QSignalSpy lost(t.modbusLink(), &ModbusLink::lineLost);
    const auto answeredStateReads = [&] {
        return Journal::only(t.link.journal(), [](const Request& r) {
            return Journal::isStateRead(r) && r.action == QLatin1String("ok");
        }).size();
    };
    QVERIFY(t.link.command(QStringLiteral("silent 3 13")));
    t.period->setValue(1);
    t.tabs->setCurrentIndex(1);

    SteadyLoad load(busyMs);
    load.start();
    QElapsedTimer loaded;
    loaded.start();
    bool stayedUp = true;
    (void)runUntil(
        [&] {
            stayedUp = stayedUp && t.linkConnected();
            return loaded.elapsed() >= 9000;
        },
        20000);
    load.stop();
    QVERIFY(t.link.command(QStringLiteral("clear")));
    const int answered = answeredStateReads();
    QTRY_VERIFY_WITH_TIMEOUT(answeredStateReads() >= answered + 3, 15000);

    const QStringList failures = startingWith(t.logTexts(), QStringLiteral("Ошибка"));
    QVERIFY(!failures.isEmpty());
    for (const QString& text : failures) {
        QVERIFY2(text.startsWith(QStringLiteral("Ошибка чтения 2: ")) && text.endsWith(QStringLiteral(" (code: 0x5)"))
                && !text.contains(QStringLiteral("ответ не получен")),
            qPrintable(text));
    }
    QCOMPARE(startingWith(messages.shown(), QStringLiteral("Ошибка")), failures);
    QVERIFY(stayedUp);
    QCOMPARE(lost.count(), 0);
    QVERIFY(t.linkConnected());
    QCOMPARE(t.openButton->text(), QStringLiteral("Отключиться"));
}

// Past 2^31 polls and 2^32 values the counters go on counting, and the label says so.
void TestLink12::countersPast32Bits()
{
    Window12 t;
    QVERIFY(ready(t));
    const quint64 sentBefore = (quint64(1) << 31) - 1;
    const quint64 receivedBefore = (quint64(1) << 32) - 10;
    PollCounterSeam::set(*t.window, sentBefore, receivedBefore);
    for (int i = 0; i < 3; ++i)
        QVERIFY(t.poll());
    quint64 sent = 0;
    quint64 received = 0;
    QVERIFY2(PollCounterSeam::read(t.counter->text(), sent, received), qPrintable(t.counter->text()));
    // The label is set as a poll goes out: two polls of 16 values each are in by the third.
    QCOMPARE(sent, sentBefore + 3);
    QCOMPARE(received, receivedBefore + 2 * 16);
}

void TestLink12::invalidSlaveAddressSendsNothing_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("0, the broadcast") << "0";
    QTest::newRow("248") << "248";
    QTest::newRow("letters") << "abc";
    QTest::newRow("empty") << "";
}

void TestLink12::invalidSlaveAddressSendsNothing()
{
    QFETCH(QString, address);
    Window12 t;
    QVERIFY(ready(t));
    t.slave->setText(address);
    t.setCfgValue(2, QString());
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    const QString shown = t.window->statusBar()->currentMessage();
    QVERIFY2(shown.startsWith(QStringLiteral("Ошибка чтения: ")), qPrintable(shown));
    QCOMPARE(t.messageDuration(), 5000);
    QCOMPARE(t.logTexts(), QStringList{shown});
    t.tick(4);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);
    QCOMPARE(t.choiceColour(4), QColor(Qt::blue));

    // A valid address again: the next read is the only thing the sensor ever saw.
    t.slave->setText(QStringLiteral("1"));
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    QTRY_COMPARE(t.cfgValue(2), QStringLiteral("14"));
    const auto journal = t.link.journal();
    QCOMPARE(journal.size(), 1);
    QVERIFY(Journal::isConfigRead(journal.first()));
}

void TestLink12::writesTickedRowsInOrder_data()
{
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QStringList>("edits"); // "row=text"
    QTest::addColumn<QStringList>("writes");

    QTest::newRow("rows 4 and 7 as read") << QList<int>{4, 7} << QStringList{}
                                          << QStringList{"0:0:ok", "3:100:ok", "0:0:ok", "6:10:ok"};
    // Register 2 is shown ten times its value; register 1 is written as it stands.
    QTest::newRow("row 3 divided, row 2 as shown")
        << QList<int>{2, 3} << QStringList{"3=79"} << QStringList{"0:0:ok", "1:14:ok", "0:0:ok", "2:7:ok"};
    QTest::newRow("edited values") << QList<int>{7, 13} << QStringList{"1=1234", "7=300", "13=-1"}
                                   << QStringList{"0:1234:ok", "6:300:ok", "0:1234:ok", "12:65535:ok"};
}

void TestLink12::writesTickedRowsInOrder()
{
    QFETCH(QList<int>, ticked);
    QFETCH(QStringList, edits);
    QFETCH(QStringList, writes);

    Window12 t;
    QVERIFY(ready(t));
    StatusMessages messages(t.window->statusBar());
    for (const QString& edit : edits)
        t.setCfgValue(edit.section(QLatin1Char('='), 0, 0).toInt(), edit.section(QLatin1Char('='), 1));
    for (int row : ticked)
        t.tick(row);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);
    const QString shownAtEnd = t.window->statusBar()->currentMessage();

    QCOMPARE(writesSeen(t), writes);
    const auto seen = Journal::only(t.link.journal(), Journal::isWrite);
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY2(seen.at(i).msec - seen.at(i - 1).msec >= 200, qPrintable(Journal::describe(seen)));
    for (int row = 1; row < t.cfg->rowCount(); ++row)
        QCOMPARE(t.choiceColour(row), ticked.contains(row) ? QColor(Qt::green) : QColor(Qt::transparent));
    QCOMPARE(shownAtEnd, QStringLiteral("Успешно!"));
    QCOMPARE(startingWith(messages.shown(), QStringLiteral("Ошибка")), QStringList());
    QCOMPARE(t.logTexts(), QStringList());
    QVERIFY(t.writeButton->isEnabled());
    QVERIFY(!passReadTableAgain(t));
}

void TestLink12::failedWrite_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QString>("colour4");
    QTest::addColumn<QString>("colour7");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("suffix");

    // Rows 4 and 7 are ticked.
    QTest::newRow("access code times out")
        << "silent 16 0 2" << QStringList{"0:0:silent", "0:0:silent", "0:0:ok", "6:10:ok"} << "blue" << "green"
        << "Ошибка записи 2: " << " (Modbus exception: 0xff)";
    QTest::newRow("access code refused") << "exception 16 0 3 1" << QStringList{"0:0:exception", "0:0:ok", "6:10:ok"}
                                         << "blue" << "green" << "Ошибка записи 1: " << " (Modbus exception: 0x3)";
    QTest::newRow("value refused") << "exception 16 3 2 1" << QStringList{"0:0:ok", "3:100:exception", "0:0:ok", "6:10:ok"}
                                   << "red" << "green" << "Ошибка записи 1: " << " (Modbus exception: 0x2)";
}

void TestLink12::failedWrite()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, writes);
    QFETCH(QString, colour4);
    QFETCH(QString, colour7);
    QFETCH(QString, prefix);
    QFETCH(QString, suffix);

    Window12 t;
    QVERIFY(ready(t));
    StatusMessages messages(t.window->statusBar());
    QVERIFY(t.link.command(fault));
    t.tick(4);
    t.tick(7);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);

    QCOMPARE(writesSeen(t), writes);
    QCOMPARE(t.choiceColour(4), colourNamed(colour4));
    QCOMPARE(t.choiceColour(7), colourNamed(colour7));
    const QStringList shown = startingWith(messages.shown(), QStringLiteral("Ошибка записи"));
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith(prefix) && shown.first().endsWith(suffix), qPrintable(shown.first()));
    QCOMPARE(t.logTexts(), shown);
    // A failed pass reads the table again.
    QTRY_COMPARE_WITH_TIMEOUT(Journal::only(t.link.journal(), Journal::isConfigRead).size(), 1, 5000);
    QVERIFY(t.writeButton->isEnabled());
}

void TestLink12::measurementMode_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("sent");

    QTest::newRow("4") << "4" << 4;
    QTest::newRow("-1") << "-1" << 65535;
    QTest::newRow("3") << "3" << 3;
}

// Edition 1.2.1 refuses a measurement mode outside 0..3 and ends the pass there;
// edition 1.2 writes whatever the row shows.
void TestLink12::measurementMode()
{
    QFETCH(QString, mode);
    QFETCH(int, sent);

    Window12 t;
    QVERIFY(ready(t));
    t.setCfgValue(10, mode);
    t.tick(4);
    t.tick(10);
    t.tick(12);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);

    const bool refused = !isEdition12 && (sent < 0 || sent > 3);
    if (refused) {
        QCOMPARE(writesSeen(t), (QStringList{"0:0:ok", "3:100:ok"}));
        QCOMPARE(t.choiceColour(4), QColor(Qt::green));
        QCOMPARE(t.choiceColour(10), QColor(Qt::red));
        QCOMPARE(t.choiceColour(12), QColor(Qt::transparent));
        QCOMPARE(t.modals->seen(),
            QStringList{QStringLiteral("Внимание | Режим измерения принимает значения от 0 до 3 включительно, где: \n\n"
                                       "0 - измерение по модулю осей\n1 - измерение по оси X\n"
                                       "2 - измерение по оси Y\n3 - измерение по оси Z\n")});
    } else {
        QCOMPARE(writesSeen(t),
            (QStringList{"0:0:ok", "3:100:ok", "0:0:ok", QStringLiteral("9:%1:ok").arg(sent), "0:0:ok", "11:20:ok"}));
        for (int row : {4, 10, 12})
            QCOMPARE(t.choiceColour(row), QColor(Qt::green));
        QCOMPARE(t.modals->seen(), QStringList());
    }
    QVERIFY(!passReadTableAgain(t));
    QVERIFY(t.writeButton->isEnabled());
}

void TestLink12::invalidValueIsNotWritten_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("range");
    QTest::addColumn<QStringList>("writes");

    // Rows 3 and 7 are ticked; a bad value is never sent as 0 or cut to 16 bits.
    const QStringList onlyRow3 = {"0:0:ok", "2:7:ok"};
    const QStringList onlyRow7 = {"0:0:ok", "6:10:ok"};
    const QString plain = QStringLiteral("-32768 до 65535");
    QTest::newRow("letters") << 7 << "abc" << plain << onlyRow3;
    QTest::newRow("above 65535") << 7 << "70000" << plain << onlyRow3;
    QTest::newRow("fraction") << 7 << "1.5" << plain << onlyRow3;
    QTest::newRow("empty") << 7 << "" << plain << onlyRow3;
    QTest::newRow("shown row beyond its scale") << 3 << "655360" << QStringLiteral("-327680 до 655350") << onlyRow7;
    QTest::newRow("access code") << 1 << "-40000" << plain << QStringList{};
}

void TestLink12::invalidValueIsNotWritten()
{
    QFETCH(int, row);
    QFETCH(QString, text);
    QFETCH(QString, range);
    QFETCH(QStringList, writes);

    Window12 t;
    QVERIFY(ready(t));
    StatusMessages messages(t.window->statusBar());
    t.setCfgValue(row, text);
    t.tick(3);
    t.tick(7);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);

    QCOMPARE(writesSeen(t), writes);
    const QString expected =
        QStringLiteral("Ошибка записи: недопустимое значение \"%1\" регистра %2 (нужно целое число от %3)")
            .arg(text, QString::number(row - 1), range);
    QVERIFY2(messages.shown().contains(expected), qPrintable(messages.shown().join(QLatin1Char('\n'))));
    QCOMPARE(t.logTexts().count(expected), row == 1 ? 2 : 1);
    for (int ticked : {3, 7})
        QCOMPARE(t.choiceColour(ticked), row == 1 || row == ticked ? QColor(Qt::red) : QColor(Qt::green));
    // A failed pass reads the table again: the bad text gives way to the sensor's value.
    QTRY_COMPARE_WITH_TIMEOUT(t.cfgValue(row), simConfiguration.at(row - 1), 5000);
}

void TestLink12::untickingClearsColour()
{
    Window12 t;
    QVERIFY(ready(t));
    t.tick(4);
    t.tick(7);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);
    QCOMPARE(t.choiceColour(4), QColor(Qt::green));

    t.choice(4)->setCheckState(Qt::Unchecked);
    emit t.cfg->itemClicked(t.choice(4));
    QCOMPARE(t.choiceColour(4), QColor(Qt::transparent));
    // A ticked cell, and a click in another column, keep the colour.
    emit t.cfg->itemClicked(t.choice(7));
    QCOMPARE(t.choiceColour(7), QColor(Qt::green));
    t.choice(7)->setCheckState(Qt::Unchecked);
    emit t.cfg->itemClicked(t.cfg->item(7, 2));
    QCOMPARE(t.choiceColour(7), QColor(Qt::green));

    // Nothing ticked: the pass clears every colour and writes nothing.
    QTest::mouseClick(t.writeButton, Qt::LeftButton);
    QCOMPARE(t.choiceColour(7), QColor(Qt::transparent));
    QCOMPARE(writesSeen(t).size(), 4);
}

void TestLink12::secondPassRefusedDuringPass()
{
    Window12 t;
    QVERIFY(ready(t));
    QVERIFY(t.link.command(QStringLiteral("delay 16 * 200")));
    t.tick(4);
    bool checked = false;
    bool enabledDuringPass = true;
    QTimer::singleShot(100, [&] {
        checked = true;
        enabledDuringPass = t.writeButton->isEnabled();
        QMetaObject::invokeMethod(t.window.get(), "on_pushButtonCfgWrite_clicked");
    });
    QTest::mouseClick(t.writeButton, Qt::LeftButton);
    QVERIFY(checked);
    QVERIFY(!enabledDuringPass);
    QCOMPARE(writesSeen(t), (QStringList{"0:0:delayed", "3:100:delayed"}));
    QCOMPARE(t.choiceColour(4), QColor(Qt::green));
    QVERIFY(t.writeButton->isEnabled());
}

void TestLink12::lineLossGivesOneMessage_data()
{
    QTest::addColumn<bool>("readOnLine");
    QTest::newRow("a read on the line") << true;
    // Sent while the loss is known but the link not yet down: the master fails it on
    // the closed port afterwards.
    QTest::newRow("a read sent as the line goes") << false;
}

// A line that goes away is noticed once: one message, buttons disabled, and the reads
// it cut short are neither shown nor logged.
void TestLink12::lineLossGivesOneMessage()
{
    QFETCH(bool, readOnLine);
    Window12 t;
    QVERIFY(ready(t));
    StatusMessages messages(t.window->statusBar());
    if (readOnLine) {
        QVERIFY(t.link.command(QStringLiteral("delay 3 13 400")));
        QVERIFY(t.poll());
        QVERIFY(t.link.waitForRequests(1));
        t.link.cutLine();
    } else {
        t.link.cutLine();
        QVERIFY(t.poll());
    }
    QTRY_COMPARE(t.openButton->text(), QStringLiteral("Подключиться"));
    QVERIFY(!t.readButton->isEnabled());
    QVERIFY(!t.writeButton->isEnabled());
    // Let anything that would still report reach the window.
    QTest::qWait(300);
    QCOMPARE(messages.shown().size(), 1);
    QVERIFY2(!messages.shown().first().startsWith(QStringLiteral("Ошибка")), qPrintable(messages.shown().first()));
    QCOMPARE(t.logTexts(), QStringList());

    // A new line on the same path: connecting works again.
    QVERIFY(t.link.start());
    for (int row = 1; row <= 13; ++row)
        t.setCfgValue(row, QString());
    QVERIFY(t.connectToSensor());
    QVERIFY(t.readButton->isEnabled());
}

void TestLink12::unwritableLogStopsNothing()
{
    Window12 t;
    QVERIFY(ready(t));
    QVERIFY(QDir(t.dir.path()).mkdir(QStringLiteral("log.txt")));
    QVERIFY(t.link.command(QStringLiteral("exception 3 0 2 1")));
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    QTRY_VERIFY(t.window->statusBar()->currentMessage().startsWith(QStringLiteral("Ошибка чтения 1: ")));
    t.setCfgValue(1, QString());
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    QTRY_COMPARE(t.cfgValue(1), QStringLiteral("0"));
}

// Closing the window while replies are on their way: nothing reaches it once it is gone.
void TestLink12::closingWhileConnected()
{
    Window12 t;
    QVERIFY(ready(t));
    QVERIFY(t.link.command(QStringLiteral("delay all 150")));
    t.tabs->setCurrentIndex(1);
    t.plotting->click();
    QMetaObject::invokeMethod(t.window.get(), "slotTimerTimeout");
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    QVERIFY(t.modbusLink()->statusReadOutstanding());
    t.window.reset();
    QTest::qWait(400);
    QVERIFY(t.link.isSensorRunning());
}

QTEST_MAIN(TestLink12)
#include "tst_link12.moc"
