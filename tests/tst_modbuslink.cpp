// The Modbus link of the current edition's real window against the simulated sensor:
// connecting, the choice of register map by firmware version, the status poll and its
// decoding, feeding the plot, and what a silent sensor does. What every window shares is
// in tst_writepass and tst_requests.

#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QModbusRtuSerialMaster>
#include <QPointer>
#include <QSerialPort>
#include <QTest>

#include "beforequeuedcall.h"
#include "linkedwindow.h"

namespace {
const QString connectCaption = QStringLiteral("Подключиться");
const QString disconnectCaption = QStringLiteral("Отключиться");

// Holds every modal box open for `holdMs`, as a person reading it would: `opened` runs when
// a box shows, `closing` just before it is closed.
class BoxHolder
{
public:
    BoxHolder(int holdMs, std::function<void(QWidget*)> opened, std::function<void()> closing = {})
    {
        QObject::connect(&m_timer, &QTimer::timeout, [=] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            if (modal != m_box) {
                m_box = modal;
                m_held.start();
                opened(modal);
                return;
            }
            if (m_held.elapsed() < holdMs)
                return;
            if (closing)
                closing();
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->done(QDialog::Accepted);
        });
        m_timer.start(20);
    }

private:
    QTimer m_timer;
    QPointer<QWidget> m_box;
    QElapsedTimer m_held;
};

// The samples of a drawn graph: keys count 1, 2, 3... (the poll that fed them) and each
// value is what the simulator held then: (slot + 1) × 1.5 plus 0.25 for every state read.
bool graphHoldsSeries(QCPGraph* graph, int slot, QString& why)
{
    const double base = (slot + 1) * 1.5;
    for (int i = 0; i < graph->dataCount(); ++i) {
        const double key = graph->data()->at(i)->key;
        const double value = graph->data()->at(i)->value;
        if (key != i + 1 || value != base + 0.25 * key) {
            why = QStringLiteral("sample %1 is (%2, %3), expected (%4, %5)")
                      .arg(i)
                      .arg(key)
                      .arg(value)
                      .arg(i + 1)
                      .arg(base + 0.25 * (i + 1));
            return false;
        }
    }
    return true;
}
}

class TestModbusLink : public QObject
{
    Q_OBJECT

private slots:
    void connectReadsConfiguration();
    void configurationDecoding_data();
    void configurationDecoding();
    void versionCheckedOnEveryConnect();
    void unknownVersionWarnsOnceAndKeepsMap();
    void warningBoxHoldsNothingUp();
    void lineLostUnderWarningBox();
    void reconnectBeforeFirstReplyIsHandled();
    void writeWaitsForFirmwareVersion_data();
    void writeWaitsForFirmwareVersion();
    void statusPollDecodesState();
    void valuesFollowTheirDescriptions();
    void tablesWithoutFileTakeNoValues();
    void pollFeedsPlot_data();
    void pollFeedsPlot();
    void configReplyRedrawsWithoutAdding();
    void silentSensorKeepsOneReadOutstanding();
    void unopenablePort_data();
    void unopenablePort();
};

void TestModbusLink::connectReadsConfiguration()
{
    LinkedWindow t;
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    QCOMPARE(t.openButton->text(), connectCaption);
    QVERIFY(!t.readButton->isEnabled());
    QVERIFY(!t.writeButton->isEnabled());

    QVERIFY(t.connectToSensor());
    QCOMPARE(t.openButton->text(), disconnectCaption);
    QVERIFY(t.readButton->isEnabled());
    QVERIFY(t.writeButton->isEnabled());
    QVERIFY(t.linkConnected());

    QModbusClient* master = t.master();
    QCOMPARE(master->connectionParameter(QModbusDevice::SerialPortNameParameter).toString(), t.link.programPort());
    QCOMPARE(master->connectionParameter(QModbusDevice::SerialBaudRateParameter).toInt(), int(QSerialPort::Baud115200));
    QCOMPARE(master->connectionParameter(QModbusDevice::SerialDataBitsParameter).toInt(), int(QSerialPort::Data8));
    QCOMPARE(master->connectionParameter(QModbusDevice::SerialParityParameter).toInt(), int(QSerialPort::NoParity));
    QCOMPARE(master->connectionParameter(QModbusDevice::SerialStopBitsParameter).toInt(), int(QSerialPort::OneStop));
    QCOMPARE(master->timeout(), 500);
    QCOMPARE(master->numberOfRetries(), 3);

    // Read once to learn the version, once more into the table of that version.
    const auto reads = t.configReads();
    QCOMPARE(reads.size(), 2);
    for (const SensorLink::Request& r : reads) {
        QCOMPARE(r.count, 13);
        QCOMPARE(r.slave, 1);
        QCOMPARE(r.action, QStringLiteral("ok"));
    }
    const QStringList expected = {"0", "14", "70", "100", "3", "-2", "10", "1", "50", "0", "2", "20", "5"};
    QCOMPARE(t.cfg->rowCount(), 14);
    for (int row = 1; row <= 13; ++row)
        QCOMPARE(t.cfgValue(row), expected.at(row - 1));
    QVERIFY2(t.modals->seen().isEmpty(), qPrintable(t.modals->seen().join('\n')));

    t.clickDisconnect();
    QCOMPARE(t.openButton->text(), connectCaption);
    QVERIFY(!t.readButton->isEnabled());
    QVERIFY(!t.writeButton->isEnabled());
    QVERIFY(!t.linkConnected());
}

void TestModbusLink::configurationDecoding_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("shown");

    QTest::newRow("register 2 is shown times ten") << 2 << 12 << "120";
    QTest::newRow("register 2 is unsigned") << 2 << 65535 << "655350";
    QTest::newRow("register 2 zero") << 2 << 0 << "0";
    QTest::newRow("signed -16") << 5 << 0xFFF0 << "-16";
    QTest::newRow("signed lowest") << 5 << 0x8000 << "-32768";
    QTest::newRow("signed highest") << 12 << 0x7FFF << "32767";
    QTest::newRow("access code") << 0 << 1234 << "1234";
}

void TestModbusLink::configurationDecoding()
{
    QFETCH(int, address);
    QFETCH(int, raw);
    QFETCH(QString, shown);

    LinkedWindow t;
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    QVERIFY(t.connectToSensor());
    QVERIFY(t.link.command(QStringLiteral("set %1 %2").arg(address).arg(raw)));
    const int before = t.configReads().size();
    QVERIFY(t.cfgValue(address + 1) != shown);
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(t.cfgValue(address + 1), shown, 5000);
    QCOMPARE(t.configReads().size(), before + 1);
}

void TestModbusLink::versionCheckedOnEveryConnect()
{
    struct Step {
        int version;
        int stateCount;
        int statusRows;
    };
    // The state block and the status table follow the version of each connect.
    const Step steps[] = {{11, 16, 10}, {10013, 40, 22}, {14, 34, 19}, {11, 16, 10}};

    LinkedWindow t;
    QVERIFY2(t.start({"--version", "11"}), qPrintable(t.link.errorString()));
    t.period->setValue(50);
    bool first = true;
    for (const Step& step : steps) {
        const QString version = QString::number(step.version);
        if (!first) {
            QVERIFY2(t.replaceSensor({"--version", version}), qPrintable(t.link.errorString()));
            QVERIFY(!t.linkConnected());
            t.pollEvery(50);
        }
        first = false;
        t.link.clearJournal();
        QVERIFY2(t.connectToSensor(), qPrintable(version));
        QCOMPARE(t.configReads().size(), 2);
        QCOMPARE(t.cfgValue(2), version);

        // Reads sent before the map changed may still use the old count.
        const qint64 reread = t.configReads().last().msec;
        QTRY_VERIFY_WITH_TIMEOUT(
            !Journal::only(t.stateReads(), [&](const SensorLink::Request& r) { return r.msec > reread; }).isEmpty(),
            5000);
        for (const SensorLink::Request& r : t.stateReads()) {
            if (r.msec > reread)
                QCOMPARE(r.count, step.stateCount);
        }
        QCOMPARE(t.status->rowCount(), step.statusRows);
        QCOMPARE(t.cfg->rowCount(), 14);
    }
    QVERIFY2(t.modals->seen().isEmpty(), qPrintable(t.modals->seen().join('\n')));
}

void TestModbusLink::unknownVersionWarnsOnceAndKeepsMap()
{
    LinkedWindow t;
    QVERIFY2(t.start({"--version", "11"}), qPrintable(t.link.errorString()));
    t.period->setValue(50);
    QVERIFY(t.connectToSensor());
    QTRY_VERIFY_WITH_TIMEOUT(!t.stateReads().isEmpty(), 5000);
    QCOMPARE(t.stateReads().last().count, 16);

    QVERIFY2(t.replaceSensor({"--version", "15"}), qPrintable(t.link.errorString()));
    t.pollEvery(50);
    t.link.clearJournal();
    // The table keeps the values of the last connect; blank them, so that a value
    // seen under the box was decoded under it.
    for (int row = 1; row < t.cfg->rowCount(); ++row)
        t.setCfgValue(row, QString());

    // The warning is held open while more configuration reads are asked for and the
    // poll ticks on; none of their replies may open another one.
    t.modals.reset();
    QStringList boxes;
    bool writableUnderBox = false;
    const BoxHolder holder(300, [&](QWidget* modal) {
        auto* message = qobject_cast<QMessageBox*>(modal);
        boxes << modal->windowTitle() + QStringLiteral(" | ") + (message ? message->text() : QString());
        writableUnderBox = writableUnderBox || t.writeButton->isEnabled();
        QMetaObject::invokeMethod(t.window.get(), "on_pushButtonCfgRead_clicked");
        QMetaObject::invokeMethod(t.window.get(), "on_pushButtonCfgRead_clicked");
    });

    t.clickConnect(t.link.programPort());
    // The first reply, the two asked for under the box, and the re-read after it.
    QTRY_COMPARE_WITH_TIMEOUT(t.configReads().size(), 4, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(t.cfgValue(1), QStringLiteral("0"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(t.cfgValue(13), QStringLiteral("5"), 5000);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(boxes, QStringList {QStringLiteral("Внимание - не найдена таблица регистров | Переустановите Tarvex-Сервис.")});
    // "Записать" waits for the reply's handling, box and all, and is enabled once it is
    // handled, over the table kept from before.
    QVERIFY(!writableUnderBox);
    QVERIFY(t.writeButton->isEnabled());
    QCOMPARE(t.cfgValue(2), QStringLiteral("15"));
    for (const SensorLink::Request& r : t.configReads())
        QCOMPARE(r.action, QStringLiteral("ok"));

    // The map of version 11 stays: sixteen state registers, its status table.
    const qint64 lastConfig = t.configReads().last().msec;
    QTRY_VERIFY_WITH_TIMEOUT(!Journal::only(t.stateReads(), [&](const SensorLink::Request& r) {
        return r.msec > lastConfig;
    }).isEmpty(), 5000);
    for (const SensorLink::Request& r : t.stateReads())
        QCOMPARE(r.count, 16);
    QCOMPARE(t.status->rowCount(), 10);

    // A reconnect checks again.
    t.clickDisconnect();
    t.clickConnect(t.link.programPort());
    QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 2, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 10000);
}

// A message box opened while a reply is handled (here the warning that no register table
// fits the firmware) holds nothing up: the state is polled and shown while it is open.
void TestModbusLink::warningBoxHoldsNothingUp()
{
    LinkedWindow t;
    QVERIFY2(t.start({"--version", "15"}), qPrintable(t.link.errorString()));
    t.period->setValue(50);
    t.modals.reset();
    StatusMessages messages(t.window->statusBar());
    const int holdMs = 8000;

    QStringList boxes;
    int answeredAtOpen = -1;
    int answeredUnderBox = -1;
    QString valueAtOpen;
    QString valueAtClose;
    bool upAtClose = false;
    const BoxHolder holder(
        holdMs,
        [&](QWidget* modal) {
            boxes << modal->windowTitle();
            answeredAtOpen = t.stateReadsWith(QStringLiteral("ok")).size();
            valueAtOpen = t.statusValue(3);
        },
        [&] {
            answeredUnderBox = t.stateReadsWith(QStringLiteral("ok")).size() - answeredAtOpen;
            valueAtClose = t.statusValue(3);
            upAtClose = t.linkConnected() && t.openButton->text() == disconnectCaption && t.readButton->isEnabled();
        });

    t.clickConnect(t.link.programPort());
    QTRY_VERIFY_WITH_TIMEOUT(answeredUnderBox >= 0, 3 * holdMs);
    QCOMPARE(boxes, QStringList {QStringLiteral("Внимание - не найдена таблица регистров")});
    QVERIFY2(answeredUnderBox >= 20, qPrintable(QString::number(answeredUnderBox)));
    QVERIFY2(valueAtClose != valueAtOpen, qPrintable(valueAtClose));
    QVERIFY(upAtClose);

    const int answered = t.stateReadsWith(QStringLiteral("ok")).size();
    QTRY_VERIFY_WITH_TIMEOUT(t.stateReadsWith(QStringLiteral("ok")).size() >= answered + 5, 5000);
    QVERIFY(t.linkConnected());
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(messages.startingWith(QStringLiteral("Ошибка")).isEmpty(), qPrintable(messages.shown().join('\n')));
    QCOMPARE(t.logTexts(), QStringList());
}

// The line goes away while the warning that no register table fits the firmware is open.
// The loss is handled under the box; once the box is closed, nothing is asked of the
// closed line and nothing more is shown or logged.
void TestModbusLink::lineLostUnderWarningBox()
{
    LinkedWindow t;
    QVERIFY2(t.start({"--version", "15"}), qPrintable(t.link.errorString()));
    t.modals.reset();
    StatusMessages messages(t.window->statusBar());
    int boxes = 0;
    bool lostUnderBox = false;
    int shownAtClose = -1;
    int loggedAtClose = -1;
    const BoxHolder holder(
        2000,
        [&](QWidget*) {
            ++boxes;
            t.link.cutLine();
        },
        [&] {
            lostUnderBox = t.openButton->text() == connectCaption && !t.linkConnected();
            shownAtClose = messages.shown().size();
            loggedAtClose = t.logTexts().size();
        });

    t.clickConnect(t.link.programPort());
    QTRY_VERIFY_WITH_TIMEOUT(shownAtClose >= 0, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 5000);
    // Let anything that would still report reach the window.
    QTest::qWait(500);
    QCOMPARE(boxes, 1);
    QVERIFY(lostUnderBox);
    QCOMPARE(t.openButton->text(), connectCaption);
    QVERIFY(!t.readButton->isEnabled());
    QVERIFY2(messages.shown().size() == shownAtClose, qPrintable(messages.shown().join(QLatin1String(" / "))));
    QVERIFY2(t.logTexts().size() == loggedAtClose, qPrintable(t.logTexts().join(QLatin1String(" / "))));
    QVERIFY2(messages.startingWith(QStringLiteral("Ошибка")).isEmpty(), qPrintable(messages.shown().join(QLatin1String(" / "))));
    QVERIFY2(t.logStartingWith(QStringLiteral("Ошибка")).isEmpty(), qPrintable(t.logTexts().join(QLatin1String(" / "))));
}

// The user disconnects from a sensor with firmware 11 and connects to one with firmware 14
// before the first sensor's configuration reply has reached the window: that reply is not
// handled on the new connection, and the window takes the new sensor's register map.
void TestModbusLink::reconnectBeforeFirstReplyIsHandled()
{
    LinkedWindow t;
    QVERIFY2(t.start({"--version", "11"}), qPrintable(t.link.errorString()));
    SensorLink second;
    QVERIFY2(second.start({"--version", "14"}), qPrintable(second.errorString()));
    t.period->setValue(50);
    auto* link = t.window->findChild<ModbusLink*>();
    QVERIFY(link);
    const BeforeQueuedCall reconnect(link, [&] {
        t.clickDisconnect();
        t.clickConnect(second.programPort());
    });

    t.clickConnect(t.link.programPort());
    QTRY_VERIFY_WITH_TIMEOUT(reconnect.ran(), 5000);
    QVERIFY(t.linkConnected());
    QTRY_VERIFY_WITH_TIMEOUT(Journal::only(second.journal(), Journal::isConfigRead).size() >= 2, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(t.cfgValue(2), QStringLiteral("14"), 5000);
    QCOMPARE(t.status->rowCount(), 19);
    QTRY_VERIFY_WITH_TIMEOUT(!Journal::only(second.journal(), Journal::isStateRead).isEmpty(), 5000);
    const qint64 reread = Journal::only(second.journal(), Journal::isConfigRead).at(1).msec;
    for (const SensorLink::Request& r : Journal::only(second.journal(), Journal::isStateRead)) {
        if (r.msec > reread)
            QCOMPARE(r.count, 34);
    }
    QCOMPARE(Journal::only(t.link.journal(), Journal::isConfigRead).size(), 1);
    QVERIFY2(t.modals->seen().isEmpty(), qPrintable(t.modals->seen().join('\n')));
}

void TestModbusLink::writeWaitsForFirmwareVersion_data()
{
    QTest::addColumn<int>("unansweredTries");
    // The first configuration read of the connection is answered at the master's second try,
    // or at none of them.
    QTest::newRow("first read answered late") << 1;
    QTest::newRow("first read fails") << MainWindow::modbusRetries + 1;
}

// The first configuration reply of a connection rebuilds the tables, ticks included: until it
// has been handled, "Записать" is disabled and a click writes nothing, so that no pass runs
// under a rebuild.
void TestModbusLink::writeWaitsForFirmwareVersion()
{
    QFETCH(int, unansweredTries);
    LinkedWindow t;
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    t.stopPolls();
    QVERIFY(t.link.command(QStringLiteral("silent 3 0 %1").arg(unansweredTries)));
    const QList<int> ticked = {4, 7, 9};
    for (int row : ticked)
        t.tick(row);
    const auto clickWriteAnyway = [&] {
        t.clickWrite();
        QMetaObject::invokeMethod(t.window.get(), "on_pushButtonCfgWrite_clicked");
    };

    t.clickConnect(t.link.programPort());
    QVERIFY(t.linkConnected());
    QVERIFY(t.readButton->isEnabled());
    QVERIFY(!t.writeButton->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!t.configReads().isEmpty(), 5000);
    QVERIFY(!t.writeButton->isEnabled());
    clickWriteAnyway();
    if (unansweredTries > MainWindow::modbusRetries) {
        // The read fails: "Записать" stays disabled until "Считать все" brings the version.
        const QString timedOut = QStringLiteral("Ошибка чтения 2: Request timeout. (code: 0x5)");
        QTRY_COMPARE_WITH_TIMEOUT(t.logTexts(), QStringList {timedOut}, 10000);
        QVERIFY(!t.writeButton->isEnabled());
        QVERIFY(t.readButton->isEnabled());
        clickWriteAnyway();
        t.clickRead();
    }
    QTRY_VERIFY_WITH_TIMEOUT(t.writeButton->isEnabled(), 10000);
    QVERIFY(t.writesSeen().isEmpty());
    // Enabled once the reply was handled: the rebuilt table took the ticks, and the values
    // after the version (which the read that follows shows again).
    QCOMPARE(t.cfgValue(3), QStringLiteral("70"));
    for (int row : ticked)
        QCOMPARE(t.choice(row)->checkState(), Qt::Unchecked);

    QTRY_COMPARE_WITH_TIMEOUT(t.cfgValue(2), QStringLiteral("14"), 5000);
    for (int row : ticked)
        t.tick(row);
    t.clickWrite();
    QCOMPARE(t.writesSeen(), (QStringList {"0:0:ok", "3:100:ok", "0:0:ok", "6:10:ok", "0:0:ok", "8:50:ok"}));
    for (int row : ticked)
        QCOMPARE(t.choiceColour(row), QColor(Qt::green));
    QVERIFY(t.writeButton->isEnabled());
}

void TestModbusLink::statusPollDecodesState()
{
    LinkedWindow t;
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    struct Shown {
        const char* command;
        int row;
        const char* text;
    };
    const Shown values[] = {
        {"set 13 65535", 1, "65535"},
        {"set 14 40000", 2, "40000"},
        {"setfloat 15 12.345", 3, "12.345"},
        {"setfloat 17 -0.5", 4, "-0.500"},
        {"setfloat 19 0", 5, "0.000"},
        {nullptr, 6, "6.000"},
        {"setfloat 29 1e-4", 10, "0.000"},
        {"setfloat 45 1e6", 18, "1000000.000"},
    };
    QVERIFY(t.link.command(QStringLiteral("freeze on")));
    for (const Shown& v : values) {
        if (v.command)
            QVERIFY(t.link.command(QString::fromLatin1(v.command)));
    }
    QVERIFY(t.connectToSensor());
    t.period->setValue(50);
    QTRY_VERIFY_WITH_TIMEOUT(t.counterValues().first >= 4, 5000);
    for (const Shown& v : values)
        QCOMPARE(t.statusValue(v.row), QString::fromUtf8(v.text));
    for (const SensorLink::Request& r : t.stateReads())
        QCOMPARE(r.count, 34);

    // Sent polls over the state values received when each was sent: with one read
    // at a time every earlier poll has been answered.
    const QPair<int, int> counter = t.counterValues();
    QCOMPARE(counter.second, 34 * (counter.first - 1));

    // Only the pair (19, 20) is zero: one log line per decoded reply. Both counts are
    // compared once the polls have stopped and the last reply is in.
    QVERIFY(t.stopPollsAndSettle());
    QTRY_COMPARE_WITH_TIMEOUT(t.logCount(QStringLiteral("Empty data from sensor")), t.stateReadsWith(QStringLiteral("ok")).size(), 5000);
    QCOMPARE(t.logTexts().size(), t.logCount(QStringLiteral("Empty data from sensor")));
}

// A register-table file may hide a state entry ("параметр") before shown ones: each
// value still lands in the row that names it.
void TestModbusLink::valuesFollowTheirDescriptions()
{
    LinkedWindow t;
    QByteArray table;
    for (int k = 0; k <= 12; ++k)
        table += "R" + QByteArray::number(k) + "=Настройка " + QByteArray::number(k) + "\n";
    for (int index = 13; index <= 46; ++index) {
        const bool hidden = index == 13 || index == 16;
        table += "R" + QByteArray::number(index) + "=" + (hidden ? "Резервный параметр" : "Величина ")
            + QByteArray::number(index) + "\n";
    }
    QVERIFY(t.dir.writeFile(QStringLiteral("table_12.rgt"), table));
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    for (const char* command : {"freeze on", "set 14 77", "setfloat 15 1.5", "setfloat 17 2.5", "setfloat 19 3.5",
             "setfloat 21 4.5"})
        QVERIFY(t.link.command(QString::fromLatin1(command)));
    QVERIFY(t.connectToSensor());
    t.period->setValue(50);
    QTRY_VERIFY_WITH_TIMEOUT(t.counterValues().first >= 3 && !t.statusValue(4).isEmpty(), 5000);

    QCOMPARE(t.status->rowCount(), 1 + 32);
    const struct {
        int row;
        const char* label;
        const char* description;
        const char* value;
    } rows[] = {{1, "14", "Величина 14", "77"}, {2, "15", "Величина 15", "1.500"}, {3, "19", "Величина 17", "3.500"},
        {4, "21", "Величина 18", "4.500"}};
    for (const auto& r : rows) {
        QCOMPARE(t.status->item(r.row, 0)->text(), QString::fromLatin1(r.label));
        QCOMPARE(t.status->item(r.row, 1)->text(), QString::fromUtf8(r.description));
        QCOMPARE(t.statusValue(r.row), QString::fromLatin1(r.value));
    }
    QVERIFY(!t.statusValues().contains(QStringLiteral("2.500")));
}

// Without a register-table file both tables hold their caption row only; replies
// then write no cell and leave the captions as they are.
void TestModbusLink::tablesWithoutFileTakeNoValues()
{
    LinkedWindow t;
    QVERIFY(QFile::remove(t.dir.filePath(QStringLiteral("table_12.rgt"))));
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    t.clickConnect(t.link.programPort());
    t.period->setValue(50);
    QTRY_VERIFY_WITH_TIMEOUT(t.stateReadsWith(QStringLiteral("ok")).size() >= 3, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(Journal::only(t.link.journal(), Journal::isConfigRead).size() >= 2, 10000);
    for (QTableWidget* table : {t.cfg, t.status}) {
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("Адрес"));
        QCOMPARE(table->item(0, 2)->text(), QStringLiteral("Значение"));
    }
    QVERIFY(t.linkConnected());
}

void TestModbusLink::pollFeedsPlot_data()
{
    QTest::addColumn<int>("version");
    // Per quantity (acceleration, velocity, displacement): whether its X, Y and Z are
    // within the state block of that version.
    QTest::addColumn<QList<bool>>("fed");

    QTest::newRow("16 registers") << 11 << QList<bool> {true, true, false};
    QTest::newRow("34 registers") << 14 << QList<bool> {true, true, true};
    QTest::newRow("40 registers") << 10013 << QList<bool> {true, true, true};
}

void TestModbusLink::pollFeedsPlot()
{
    QFETCH(int, version);
    QFETCH(QList<bool>, fed);

    static const char* const axisLabels[] = {
        "СКЗ виброускорения A [м/с2]", "СКЗ виброскорости V [мм/с]", "СКЗ виброперемещения S [мкм]"};
    LinkedWindow t;
    QVERIFY2(t.start({"--version", QString::number(version)}), qPrintable(t.link.errorString()));
    t.plotting->setChecked(true);
    QVERIFY(t.connectToSensor());
    for (int quantity = 0; quantity < 3; ++quantity) {
        t.quantity->setCurrentIndex(quantity);
        t.pollEvery(50);
        const int before = t.stateReadsWith(QStringLiteral("ok")).size();
        // The chosen quantity is drawn with the next state reply.
        QTRY_COMPARE_WITH_TIMEOUT(t.canvas->yAxis->label(), QString::fromUtf8(axisLabels[quantity]), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(t.stateReadsWith(QStringLiteral("ok")).size() >= before + 3, 5000);
        // Samples and replies are counted once the polls have stopped and the last reply is in.
        QVERIFY(t.stopPollsAndSettle());
        for (int axis = 0; axis < 3; ++axis) {
            QCPGraph* graph = t.canvas->graph(axis);
            if (!fed.at(quantity)) {
                QCOMPARE(graph->dataCount(), 0);
                continue;
            }
            // One sample per state reply.
            QTRY_COMPARE_WITH_TIMEOUT(graph->dataCount(), t.stateReadsWith(QStringLiteral("ok")).size(), 5000);
            QString why;
            QVERIFY2(graphHoldsSeries(graph, quantity * 4 + axis, why), qPrintable(why));
        }
    }
}

void TestModbusLink::configReplyRedrawsWithoutAdding()
{
    LinkedWindow t;
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    // One status poll 2 s after the start, the next one 10 s later.
    t.period->setValue(10000);
    t.plotting->setChecked(true);
    QVERIFY(t.connectToSensor());
    QTRY_COMPARE_WITH_TIMEOUT(t.canvas->graph(0)->dataCount(), 1, 5000);
    QCOMPARE(t.canvas->graph(0)->data()->at(0)->value, 1.75);

    // A change of quantity alone does not redraw; the next configuration reply does.
    t.quantity->setCurrentIndex(1);
    QCOMPARE(t.canvas->graph(0)->data()->at(0)->value, 1.75);
    const int reads = t.configReads().size();
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(t.canvas->graph(0)->data()->at(0)->value, 7.75, 5000);
    QCOMPARE(t.configReads().size(), reads + 1);
    QCOMPARE(t.stateReads().size(), 1);
    for (int axis = 0; axis < 3; ++axis)
        QCOMPARE(t.canvas->graph(axis)->dataCount(), 1);

    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(t.readButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(t.configReads().size(), reads + 4, 5000);
    t.quantity->setCurrentIndex(0);
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(t.canvas->graph(0)->data()->at(0)->value, 1.75, 5000);
    for (int axis = 0; axis < 3; ++axis)
        QCOMPARE(t.canvas->graph(axis)->dataCount(), 1);
}

void TestModbusLink::silentSensorKeepsOneReadOutstanding()
{
    LinkedWindow t;
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    QVERIFY(t.connectToSensor());
    t.period->setValue(50);
    QTRY_VERIFY_WITH_TIMEOUT(t.stateReadsWith(QStringLiteral("ok")).size() >= 3, 5000);

    t.link.clearJournal();
    QVERIFY(t.link.command(QStringLiteral("silent all on")));
    const auto silentReads = [&] {
        return Journal::only(t.stateReads(), [](const SensorLink::Request& r) { return r.action == QLatin1String("silent"); });
    };
    // Once the sensor saw a read it does not answer, every earlier reply is in.
    QTRY_VERIFY_WITH_TIMEOUT(!silentReads().isEmpty(), 5000);
    const QStringList shownBefore = t.statusValues();
    const QPair<int, int> counterBefore = t.counterValues();

    // Two requests with three retries each, four time-outs of 500 ms apart: nothing
    // else is sent while one is outstanding, whatever the poll period.
    QTRY_VERIFY_WITH_TIMEOUT(silentReads().size() >= 8, 10000);
    // Counted over the whole span rather than gap by gap: one late arrival at the sensor
    // must not pass for a burst.
    const auto silent = silentReads();
    QVERIFY2(silent.size() <= (silent.last().msec - silent.first().msec) / 400 + 2, qPrintable(Journal::describe(silent)));
    const auto all = t.link.journal();
    QCOMPARE(Journal::only(all, [](const SensorLink::Request& r) { return r.action != QLatin1String("silent"); }).size(),
        Journal::only(all, [&](const SensorLink::Request& r) { return r.msec < silent.first().msec; }).size());
    const QPair<int, int> counterAfter = t.counterValues();
    QVERIFY2(counterAfter.first - counterBefore.first <= 3,
        qPrintable(QStringLiteral("%1 polls counted while two were sent").arg(counterAfter.first - counterBefore.first)));
    QCOMPARE(counterAfter.second, counterBefore.second);
    QCOMPARE(t.statusValues(), shownBefore);
    QVERIFY(!t.logStartingWith(QStringLiteral("Ошибка чтения 2: ")).isEmpty());
    for (const QString& text : t.logStartingWith(QStringLiteral("Ошибка чтения")))
        QCOMPARE(text, QStringLiteral("Ошибка чтения 2: Request timeout. (code: 0x5)"));

    // Back again: the poll goes on at its period, with no queue of reads to catch up.
    t.link.clearJournal();
    QVERIFY(t.link.command(QStringLiteral("silent all off")));
    QVERIFY(runUntil([&] { return t.stateReadsWith(QStringLiteral("ok")).size() >= 6; }, 10000));
    const auto back = t.stateReads();
    QVERIFY2(back.size() <= (back.last().msec - back.first().msec) / 40 + 2, qPrintable(Journal::describe(back)));
    QTRY_VERIFY_WITH_TIMEOUT(t.statusValues() != shownBefore, 5000);
}

void TestModbusLink::unopenablePort_data()
{
    QTest::addColumn<bool>("busy");
    QTest::newRow("no such port") << false;
    QTest::newRow("port held by another program") << true;
}

void TestModbusLink::unopenablePort()
{
    QFETCH(bool, busy);

    LinkedWindow t;
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    QSerialPort other(t.link.programPort());
    QString port = t.dir.filePath(QStringLiteral("no-such-tty"));
    if (busy) {
        QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));
        port = t.link.programPort();
    }
    t.clickConnect(port);
    QVERIFY2(t.window->statusBar()->currentMessage().startsWith(QStringLiteral("Ошибка подключения: ")),
        qPrintable(t.window->statusBar()->currentMessage()));
    QVERIFY(t.window->statusBar()->currentMessage().size() > QStringLiteral("Ошибка подключения: ").size());
    QCOMPARE(t.openButton->text(), connectCaption);
    QVERIFY(!t.readButton->isEnabled());
    QVERIFY(!t.writeButton->isEnabled());
    QVERIFY(!t.linkConnected());
    QVERIFY(t.link.journal().isEmpty());

    other.close();
    QVERIFY(t.connectToSensor());
    QCOMPARE(t.openButton->text(), disconnectCaption);
}

QTEST_MAIN(TestModbusLink)
#include "tst_modbuslink.moc"
