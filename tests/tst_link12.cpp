// The window of the earlier editions against the simulated sensor: connecting with the
// combo boxes' settings, the configuration read and its fix-ups, the status poll and its
// decoding, the samples and the plot, the text export, an unwritable log and closing. What
// every window shares is in tst_writepass and tst_requests.

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QTest>
#include <QTimer>

#include "window12.h"

namespace {
using Request = SensorLink::Request;

int stateReads(Window12& t)
{
    return t.stateReads().size();
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
    void timerDrivesPolls_data();
    void timerDrivesPolls();
    void stateDecoding();
    void samplesCollectedAndDrawn();
    void exportWritesSamples();
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

void TestLink12::timerDrivesPolls_data()
{
    QTest::addColumn<int>("seconds");
    QTest::newRow("every second") << 1;
    QTest::newRow("every 3 seconds") << 3;
}

// The status timer sends the polls: its first tick 2 s after start-up, then one a
// period (in seconds, from the box) apart.
void TestLink12::timerDrivesPolls()
{
    QFETCH(int, seconds);
    Window12 t;
    QVERIFY(ready(t));
    t.period->setValue(seconds);
    t.tabs->setCurrentIndex(1);
    QTRY_VERIFY_WITH_TIMEOUT(stateReads(t) >= 3, 2000 + 3 * seconds * 1000 + 5000);
    const auto reads = Journal::only(t.link.journal(), Journal::isStateRead);
    // The timer may be late on a busy machine, and early by its coarseness only.
    for (int i = 1; i < 3; ++i) {
        const qint64 gap = reads.at(i).msec - reads.at(i - 1).msec;
        QVERIFY2(gap >= seconds * 900 && gap < seconds * 1000 + 800, qPrintable(QString::number(gap)));
    }
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
