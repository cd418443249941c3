// The write pass of the real window against the simulated sensor: ticked rows of the
// configuration table are written one by one, each after the access code, and the
// Выбор cell of each row tells how it went.

#include <QElapsedTimer>
#include <QModbusReply>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include "linkedwindow.h"

namespace {
using Request = SensorLink::Request;

qint64 cpuMsec()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
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

// "row=text" pairs.
QList<QPair<int, QString>> rowTexts(const QStringList& items)
{
    QList<QPair<int, QString>> out;
    for (const QString& item : items) {
        const int at = item.indexOf(QLatin1Char('='));
        out << qMakePair(item.left(at).toInt(), item.mid(at + 1));
    }
    return out;
}

// The writes as "register:value:action", in the order the sensor saw them.
QStringList writesSeen(LinkedWindow& t)
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

int configReadsAfterWrites(LinkedWindow& t)
{
    const auto journal = t.link.journal();
    const auto writes = Journal::only(journal, Journal::isWrite);
    const qint64 since = writes.isEmpty() ? 0 : writes.last().msec;
    return Journal::only(journal, [&](const Request& r) { return Journal::isConfigRead(r) && r.msec >= since; }).size();
}

bool configReadAfterWrites(LinkedWindow& t)
{
    return configReadsAfterWrites(t) > 0;
}

// Whether the pass read the table again, told once a read of our own has gone
// through the master's queue behind anything the pass left in it.
bool passReadTableAgain(LinkedWindow& t)
{
    for (int row = 1; row < t.cfg->rowCount(); ++row)
        t.setCfgValue(row, QString());
    QTest::mouseClick(t.readButton, Qt::LeftButton);
    const auto settled = [&] {
        for (const QModbusReply* reply : t.master()->findChildren<QModbusReply*>()) {
            if (!reply->isFinished())
                return false;
        }
        return !t.cfgValue(t.cfg->rowCount() - 1).isEmpty();
    };
    if (!QTest::qWaitFor(settled, 5000))
        return true;
    return configReadsAfterWrites(t) != 1;
}

QStringList writeErrors(const QStringList& texts)
{
    QStringList out;
    for (const QString& text : texts) {
        if (text.startsWith(QStringLiteral("Ошибка записи")))
            out << text;
    }
    return out;
}
}

class TestWritePass : public QObject
{
    Q_OBJECT

private slots:
    void writesTickedRowsInOrder_data();
    void writesTickedRowsInOrder();
    void failedWrite_data();
    void failedWrite();
    void confirmationOfOtherRegisters();
    void measurementMode_data();
    void measurementMode();
    void invalidValueIsNotWritten_data();
    void invalidValueIsNotWritten();
    void untickingClearsColour();
    void secondClickRefusedDuringPass();
    void lateReplyDecidesNothing();
    void writeQueuedBehindSilentReadsIsNotGivenUp();
    void lineLossDuringPass();

private:
    bool ready(LinkedWindow& t, const QStringList& simArgs = {});
};

// Connected, the configuration read, and a long poll period so that few state reads
// come between the writes.
bool TestWritePass::ready(LinkedWindow& t, const QStringList& simArgs)
{
    if (!t.start(simArgs)) {
        qWarning("%s", qPrintable(t.link.errorString()));
        return false;
    }
    t.period->setValue(5000);
    if (!t.connectToSensor())
        return false;
    t.link.clearJournal();
    return true;
}

void TestWritePass::writesTickedRowsInOrder_data()
{
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QStringList>("readBack");

    // Register 2 is shown times ten: an unchanged table writes back what was read.
    QTest::newRow("unchanged rows 3 and 6")
        << QList<int> {3, 6} << QStringList {} << QStringList {"0:0:ok", "2:7:ok", "0:0:ok", "5:65534:ok"}
        << QStringList {"3=70", "6=-2"};
    QTest::newRow("edited values")
        << QList<int> {3, 6, 13} << QStringList {"1=1234", "3=125", "6=65535", "13=-32768"}
        << QStringList {"0:1234:ok", "2:12:ok", "0:1234:ok", "5:65535:ok", "0:1234:ok", "12:32768:ok"}
        << QStringList {"1=1234", "3=120", "6=-1", "13=-32768"};
    QTest::newRow("one row, scale truncated")
        << QList<int> {9} << QStringList {"3=79", "9=0"} << QStringList {"0:0:ok", "8:0:ok"}
        << QStringList {"3=70", "9=0"};
    QTest::newRow("scaled row at the top of its range")
        << QList<int> {3} << QStringList {"3=655350"} << QStringList {"0:0:ok", "2:65535:ok"}
        << QStringList {"3=655350"};
}

void TestWritePass::writesTickedRowsInOrder()
{
    QFETCH(QList<int>, ticked);
    QFETCH(QStringList, edits);
    QFETCH(QStringList, writes);
    QFETCH(QStringList, readBack);

    LinkedWindow t;
    QVERIFY(ready(t));
    StatusMessages messages(t.window->statusBar());
    for (const auto& edit : rowTexts(edits))
        t.setCfgValue(edit.first, edit.second);
    for (int row : ticked)
        t.tick(row);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);
    // Read before the event loop runs again: the next status poll clears the status bar.
    const QString shownAtEnd = t.window->statusBar()->currentMessage();

    QCOMPARE(writesSeen(t), writes);
    // The sensor needs time between the access code and the value, and after it.
    const auto seen = Journal::only(t.link.journal(), Journal::isWrite);
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY2(seen.at(i).msec - seen.at(i - 1).msec >= 200, qPrintable(Journal::describe(seen)));
    for (int row = 1; row < t.cfg->rowCount(); ++row)
        QCOMPARE(t.choiceColour(row), ticked.contains(row) ? QColor(Qt::green) : QColor(Qt::transparent));
    QCOMPARE(shownAtEnd, QStringLiteral("Успешно!"));
    QVERIFY2(writeErrors(messages.shown()).isEmpty(), qPrintable(messages.shown().join('\n')));
    QVERIFY(t.logTexts().isEmpty());
    QVERIFY(t.writeButton->isEnabled());
    // All went well: the table already shows what the sensor holds.
    QVERIFY(!passReadTableAgain(t));
    for (const auto& expected : rowTexts(readBack))
        QCOMPARE(t.cfgValue(expected.first), expected.second);
}

void TestWritePass::failedWrite_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QString>("colour3");
    QTest::addColumn<QString>("colour6");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("suffix");

    // Rows 3 and 6 are ticked and edited to 90 and -5.
    QTest::newRow("access code times out")
        << "silent 16 0 4"
        << QStringList {"0:0:silent", "0:0:silent", "0:0:silent", "0:0:silent", "0:0:ok", "5:65531:ok"} << "blue"
        << "green"
        << "Ошибка записи 2: " << "";
    QTest::newRow("access code refused")
        << "exception 16 0 3 1" << QStringList {"0:0:exception", "0:0:ok", "5:65531:ok"} << "blue"
        << "green"
        << "Ошибка записи 1: " << " (Modbus exception: 0x3)";
    QTest::newRow("value refused")
        << "exception 16 5 2 1" << QStringList {"0:0:ok", "2:9:ok", "0:0:ok", "5:65531:exception"} << "green"
        << "red"
        << "Ошибка записи 1: " << " (Modbus exception: 0x2)";
}

void TestWritePass::failedWrite()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, writes);
    QFETCH(QString, colour3);
    QFETCH(QString, colour6);
    QFETCH(QString, prefix);
    QFETCH(QString, suffix);

    LinkedWindow t;
    QVERIFY(ready(t));
    StatusMessages messages(t.window->statusBar());
    QVERIFY(t.link.command(fault));
    t.setCfgValue(3, QStringLiteral("90"));
    t.setCfgValue(6, QStringLiteral("-5"));
    t.tick(3);
    t.tick(6);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);

    QCOMPARE(writesSeen(t), writes);
    QCOMPARE(t.choiceColour(3), colourNamed(colour3));
    QCOMPARE(t.choiceColour(6), colourNamed(colour6));
    const QStringList shown = writeErrors(messages.shown());
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith(prefix) && shown.first().endsWith(suffix), qPrintable(shown.first()));
    QCOMPARE(writeErrors(t.logTexts()), shown);

    // After a failure the table is read again, so that it shows what the sensor holds.
    QTRY_VERIFY_WITH_TIMEOUT(configReadAfterWrites(t), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(t.cfgValue(colour3 == QLatin1String("green") ? 6 : 3),
        colour3 == QLatin1String("green") ? QStringLiteral("-2") : QStringLiteral("70"), 5000);
    QCOMPARE(t.cfgValue(colour3 == QLatin1String("green") ? 3 : 6),
        colour3 == QLatin1String("green") ? QStringLiteral("90") : QStringLiteral("-5"));
    QVERIFY(t.writeButton->isEnabled());
}

// The master takes any function-16 answer from the sensor as the reply: one that
// confirms other registers than were written confirms nothing.
void TestWritePass::confirmationOfOtherRegisters()
{
    LinkedWindow t;
    QVERIFY(ready(t));
    StatusMessages messages(t.window->statusBar());
    QVERIFY(t.link.command(QStringLiteral("countdelta 16 5 1 1")));
    t.setCfgValue(6, QStringLiteral("-5"));
    t.tick(6);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);

    QCOMPARE(writesSeen(t), (QStringList {"0:0:ok", "5:65531:countdelta"}));
    QCOMPARE(t.choiceColour(6), QColor(Qt::red));
    const QString expected = QStringLiteral("Ошибка записи 3: ответ не соответствует запросу "
                                            "(записано регистров: 1 с адреса 5, подтверждено: 2 с адреса 5)");
    QCOMPARE(writeErrors(messages.shown()), QStringList {expected});
    QCOMPARE(writeErrors(t.logTexts()), QStringList {expected});
    QTRY_VERIFY_WITH_TIMEOUT(configReadAfterWrites(t), 5000);
}

void TestWritePass::measurementMode_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("rejected");

    QTest::newRow("4") << "4" << true;
    QTest::newRow("-1") << "-1" << true;
    QTest::newRow("3") << "3" << false;
}

void TestWritePass::measurementMode()
{
    QFETCH(QString, mode);
    QFETCH(bool, rejected);

    LinkedWindow t;
    QVERIFY(ready(t));
    t.setCfgValue(10, mode);
    t.tick(3);
    t.tick(10);
    t.tick(12);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);

    if (rejected) {
        // The pass stops at the mode: what came before it is written, nothing after.
        QCOMPARE(writesSeen(t), (QStringList {"0:0:ok", "2:7:ok"}));
        QCOMPARE(t.choiceColour(3), QColor(Qt::green));
        QCOMPARE(t.choiceColour(10), QColor(Qt::red));
        QCOMPARE(t.choiceColour(12), QColor(Qt::transparent));
        QCOMPARE(t.modals->count(), 1);
        QVERIFY2(t.modals->seen().first().startsWith(
                     QStringLiteral("Внимание | Режим измерения принимает значения от 0 до 3 включительно")),
            qPrintable(t.modals->seen().first()));
        // The rejected value never reached the sensor: no reason to read the table again.
        QVERIFY(!passReadTableAgain(t));
    } else {
        QCOMPARE(writesSeen(t), (QStringList {"0:0:ok", "2:7:ok", "0:0:ok", "9:3:ok", "0:0:ok", "11:20:ok"}));
        for (int row : {3, 10, 12})
            QCOMPARE(t.choiceColour(row), QColor(Qt::green));
        QVERIFY(t.modals->seen().isEmpty());
        QVERIFY(!passReadTableAgain(t));
    }
    QVERIFY(t.writeButton->isEnabled());
}

void TestWritePass::invalidValueIsNotWritten_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("writes");

    // Rows 3 and 6 are ticked; a bad value is never sent as 0 or cut to 16 bits.
    const QStringList onlyRow3 = {"0:0:ok", "2:7:ok"};
    QTest::newRow("letters") << 6 << "abc" << onlyRow3;
    QTest::newRow("above 65535") << 6 << "70000" << onlyRow3;
    QTest::newRow("below -32768") << 6 << "-40000" << onlyRow3;
    QTest::newRow("empty") << 6 << "" << onlyRow3;
    QTest::newRow("fraction") << 6 << "2.5" << onlyRow3;
    QTest::newRow("far beyond int") << 6 << "99999999999" << onlyRow3;
    QTest::newRow("placeholder in the text") << 6 << "%2%3" << onlyRow3;
    QTest::newRow("scaled row out of range") << 3 << "700000" << QStringList {"0:0:ok", "5:65534:ok"};
    QTest::newRow("scaled row letters") << 3 << "7x" << QStringList {"0:0:ok", "5:65534:ok"};
    QTest::newRow("scaled row just above its range") << 3 << "655351" << QStringList {"0:0:ok", "5:65534:ok"};
    QTest::newRow("scaled row just below its range") << 3 << "-327681" << QStringList {"0:0:ok", "5:65534:ok"};
    QTest::newRow("access code letters") << 1 << "abc" << QStringList {};
    QTest::newRow("access code above 65535") << 1 << "70000" << QStringList {};
    QTest::newRow("access code below -32768") << 1 << "-40000" << QStringList {};
}

void TestWritePass::invalidValueIsNotWritten()
{
    QFETCH(int, row);
    QFETCH(QString, text);
    QFETCH(QStringList, writes);

    LinkedWindow t;
    QVERIFY(ready(t));
    StatusMessages messages(t.window->statusBar());
    t.setCfgValue(row, text);
    t.tick(3);
    t.tick(6);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);

    QCOMPARE(writesSeen(t), writes);
    // The range named is that of the numbers the row shows: register 2 is shown times ten.
    const QString range = row == 3 ? QStringLiteral("от -327680 до 655350") : QStringLiteral("от -32768 до 65535");
    const QString expected = QStringLiteral("Ошибка записи: недопустимое значение \"%1\" регистра %2 (нужно целое число %3)")
                                 .arg(text, QString::number(row - 1), range);
    // A bad access code spoils every ticked row (the status bar shows a repeated text once).
    const int failedRows = row == 1 ? 2 : 1;
    QCOMPARE(messages.shown().count(expected), 1);
    QCOMPARE(t.logCount(expected), failedRows);
    QCOMPARE(t.logTexts().size(), failedRows);
    for (int ticked : {3, 6}) {
        const bool bad = row == 1 || row == ticked;
        QCOMPARE(t.choiceColour(ticked), bad ? QColor(Qt::red) : QColor(Qt::green));
    }
    // A failed pass reads the table again: the bad text gives way to the sensor's value.
    QTRY_VERIFY_WITH_TIMEOUT(configReadAfterWrites(t), 5000);
    const QString held = row == 1 ? QStringLiteral("0") : row == 3 ? QStringLiteral("70") : QStringLiteral("-2");
    QTRY_COMPARE_WITH_TIMEOUT(t.cfgValue(row), held, 5000);
}

void TestWritePass::untickingClearsColour()
{
    LinkedWindow t;
    QVERIFY(ready(t));
    t.tick(3);
    t.tick(6);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);
    QCOMPARE(t.choiceColour(3), QColor(Qt::green));
    QCOMPARE(t.choiceColour(6), QColor(Qt::green));

    t.choice(3)->setCheckState(Qt::Unchecked);
    emit t.cfg->itemClicked(t.choice(3));
    QCOMPARE(t.choiceColour(3), QColor(Qt::transparent));
    // A row still ticked keeps its colour, and so does a click elsewhere in the row.
    emit t.cfg->itemClicked(t.choice(6));
    QCOMPARE(t.choiceColour(6), QColor(Qt::green));
    t.choice(6)->setCheckState(Qt::Unchecked);
    emit t.cfg->itemClicked(t.cfg->item(6, 2));
    QCOMPARE(t.choiceColour(6), QColor(Qt::green));

    // The next pass starts from a clean column.
    t.tick(3);
    QVERIFY(t.link.command(QStringLiteral("exception 16 2 2 1")));
    QTest::mouseClick(t.writeButton, Qt::LeftButton);
    QCOMPARE(t.choiceColour(3), QColor(Qt::red));
    QCOMPARE(t.choiceColour(6), QColor(Qt::transparent));
}

void TestWritePass::secondClickRefusedDuringPass()
{
    LinkedWindow t;
    QVERIFY(ready(t));
    QVERIFY(t.link.command(QStringLiteral("delay 16 * 300")));
    t.tick(3);
    bool enabledDuringPass = true;
    bool checked = false;
    QTimer::singleShot(100, [&] {
        checked = true;
        enabledDuringPass = t.writeButton->isEnabled();
        QTest::mouseClick(t.writeButton, Qt::LeftButton);
        QMetaObject::invokeMethod(t.window.get(), "on_pushButtonCfgWrite_clicked");
    });
    QTest::mouseClick(t.writeButton, Qt::LeftButton);
    QVERIFY(checked);
    QVERIFY(!enabledDuringPass);
    QCOMPARE(writesSeen(t), (QStringList {"0:0:delayed", "2:7:delayed"}));
    QCOMPARE(t.choiceColour(3), QColor(Qt::green));
    QVERIFY(t.writeButton->isEnabled());
}

void TestWritePass::lateReplyDecidesNothing()
{
    LinkedWindow t;
    QVERIFY(ready(t));
    t.period->setValue(50);
    QTRY_VERIFY_WITH_TIMEOUT(!Journal::only(t.link.journal(), Journal::isStateRead).isEmpty(), 5000);
    StatusMessages messages(t.window->statusBar());
    // A state read that gets no answer holds the line for 2 s; the access code waits
    // behind it without being given up, then gets no answer to any of its four tries.
    QVERIFY(t.link.command(QStringLiteral("silent 16 0 4")));
    QVERIFY(t.link.command(QStringLiteral("silent 3 13 4")));
    QTRY_VERIFY_WITH_TIMEOUT(!Journal::only(t.link.journal(), [](const Request& r) {
        return Journal::isStateRead(r) && r.action == QLatin1String("silent");
    }).isEmpty(), 5000);
    t.tick(3);
    t.tick(6);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(t.writeButton, Qt::LeftButton);

    // The failed access code is never sent again, and its end does not decide the next row.
    QCOMPARE(writesSeen(t), (QStringList {"0:0:silent", "0:0:silent", "0:0:silent", "0:0:silent", "0:0:ok", "5:65534:ok"}));
    QCOMPARE(t.choiceColour(3), QColor(Qt::blue));
    QCOMPARE(t.choiceColour(6), QColor(Qt::green));
    const QStringList shown = writeErrors(messages.shown());
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith(QStringLiteral("Ошибка записи 2: "))
            && shown.first().endsWith(QStringLiteral(" (Modbus exception: 0xff)")),
        qPrintable(shown.first()));
    QCOMPARE(writeErrors(t.logTexts()), shown);
    const int limit = MainWindow::modbusTimeoutMs * (MainWindow::modbusRetries + 1) + MainWindow::writeWaitMarginMs;
    QVERIFY2(clock.elapsed() < 3 * limit, qPrintable(QString::number(clock.elapsed())));
}

// A write queued behind state reads that get no answer waits for the line instead of
// being reported failed while it may still reach the sensor: the row tells what the
// sensor holds.
void TestWritePass::writeQueuedBehindSilentReadsIsNotGivenUp()
{
    LinkedWindow t;
    QVERIFY(ready(t));
    t.period->setValue(50);
    QTRY_VERIFY_WITH_TIMEOUT(!Journal::only(t.link.journal(), Journal::isStateRead).isEmpty(), 5000);
    StatusMessages messages(t.window->statusBar());
    QVERIFY(t.link.command(QStringLiteral("silent 3 13 8")));
    QVERIFY(t.link.command(QStringLiteral("silent 16 2 3")));
    QTRY_VERIFY_WITH_TIMEOUT(!Journal::only(t.link.journal(), [](const Request& r) {
        return Journal::isStateRead(r) && r.action == QLatin1String("silent");
    }).isEmpty(), 5000);
    t.setCfgValue(3, QStringLiteral("90"));
    t.tick(3);
    QTest::mouseClick(t.writeButton, Qt::LeftButton);

    QCOMPARE(writesSeen(t), (QStringList {"0:0:ok", "2:9:silent", "2:9:silent", "2:9:silent", "2:9:ok"}));
    QCOMPARE(t.choiceColour(3), QColor(Qt::green));
    QVERIFY2(writeErrors(messages.shown()).isEmpty(), qPrintable(messages.shown().join('\n')));
    QVERIFY(writeErrors(t.logTexts()).isEmpty());
    // Nothing of the pass is left to go out later: the line goes on with state reads only.
    const int writes = writesSeen(t).size();
    const auto answeredStateReads = [&] {
        return Journal::only(t.link.journal(), [](const Request& r) {
            return Journal::isStateRead(r) && r.action == QLatin1String("ok");
        }).size();
    };
    const int answeredBefore = answeredStateReads();
    QTRY_VERIFY_WITH_TIMEOUT(answeredStateReads() >= answeredBefore + 5, 10000);
    QCOMPARE(writesSeen(t).size(), writes);
}

void TestWritePass::lineLossDuringPass()
{
    LinkedWindow t;
    QVERIFY(ready(t));
    StatusMessages messages(t.window->statusBar());
    // A slow sensor keeps the pass waiting for the access code when the line goes.
    QVERIFY(t.link.command(QStringLiteral("delay 16 * 300")));
    t.tick(3);
    t.tick(6);
    QTimer::singleShot(100, [&] { t.link.cutLine(); });
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(t.writeButton, Qt::LeftButton);
    const qint64 took = clock.elapsed();
    const qint64 limit = MainWindow::modbusTimeoutMs * (MainWindow::modbusRetries + 1) + MainWindow::writeWaitMarginMs;
    QVERIFY2(took < limit + 1500, qPrintable(QStringLiteral("the pass took %1 ms").arg(took)));

    QTRY_COMPARE_WITH_TIMEOUT(t.openButton->text(), QStringLiteral("Подключиться"), 5000);
    QVERIFY(!t.linkConnected());
    QVERIFY(!t.writeButton->isEnabled());
    QVERIFY(!t.readButton->isEnabled());
    QVERIFY(t.choiceColour(3) != QColor(Qt::green));
    QVERIFY(t.choiceColour(6) != QColor(Qt::green));
    // One line loss, one message: the device's own; the write it cut off is not reported.
    QVERIFY(!messages.shown().isEmpty());
    QVERIFY2(writeErrors(messages.shown()).isEmpty(), qPrintable(messages.shown().join(QLatin1String(" / "))));
    QCOMPARE(writeErrors(t.logTexts()), QStringList());

    const qint64 cpuStart = cpuMsec();
    QElapsedTimer window;
    window.start();
    QTest::qWait(1000);
    const qint64 cpu = cpuMsec() - cpuStart;
    QVERIFY2(cpu < window.elapsed() / 2, qPrintable(QStringLiteral("%1 ms CPU in %2 ms").arg(cpu).arg(window.elapsed())));
    QVERIFY2(messages.changes() <= 12, qPrintable(messages.shown().join(QLatin1String(" / "))));
}

QTEST_MAIN(TestWritePass)
#include "tst_writepass.moc"
