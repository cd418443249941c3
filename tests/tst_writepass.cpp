// The write pass of every edition's real window against the simulated sensor: ticked rows
// of the configuration table are written one by one, each after the access code, and the
// Выбор cell of each row tells how it went. Built once per window.

#include <QElapsedTimer>
#include <QMainWindow>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QModbusClient>
#include <QModbusReply>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

#include "beforequeuedcall.h"
#include "modbuslink.h"
#include "sensorwindow.h"

namespace {
using Request = SensorLink::Request;

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

QStringList repeated(const QString& text, int times)
{
    QStringList out;
    for (int i = 0; i < times; ++i)
        out << text;
    return out;
}

int configReadsAfterWrites(SensorWindow& t)
{
    const auto journal = t.link.journal();
    const auto writes = Journal::only(journal, Journal::isWrite);
    const qint64 since = writes.isEmpty() ? 0 : writes.last().msec;
    return Journal::only(journal, [&](const Request& r) { return Journal::isConfigRead(r) && r.msec >= since; }).size();
}

// Whether the pass read the table again, told once a read of our own has gone
// through the master's queue behind anything the pass left in it.
bool passReadTableAgain(SensorWindow& t)
{
    for (int row = 1; row < t.cfg->rowCount(); ++row)
        t.setCfgValue(row, QString());
    t.clickRead();
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
    return startingWith(texts, QStringLiteral("Ошибка записи"));
}

// The time a write may take at most: every try of the master and the link's margin.
int writeLimitMs(SensorWindow& t)
{
    return t.master()->timeout() * windowKind().tries() + ModbusLink::givenUpMarginMs;
}

// Posts `action` to `target` from a thread of its own, `delayMs` after go(): a user's click
// that comes while the thread of the window sleeps is handled at the next turn of its
// event loop.
class PostedFromThread
{
public:
    PostedFromThread(QObject* target, std::function<void()> action, int delayMs)
        : m_thread([this, target, action, delayMs] {
            m_go.acquire();
            if (m_cancelled)
                return;
            QThread::msleep(ulong(delayMs));
            QMetaObject::invokeMethod(target, action, Qt::QueuedConnection);
        })
    {
    }
    ~PostedFromThread()
    {
        if (!m_started) {
            m_cancelled = true;
            m_go.release();
        }
        m_thread.join();
    }
    PostedFromThread(const PostedFromThread&) = delete;
    PostedFromThread& operator=(const PostedFromThread&) = delete;

    void go()
    {
        if (m_started.exchange(true))
            return;
        m_go.release();
    }

private:
    QSemaphore m_go;
    std::atomic<bool> m_started {false};
    std::atomic<bool> m_cancelled {false};
    std::thread m_thread;
};

// Connected, and a long poll period so that few state reads come between the writes.
std::unique_ptr<SensorWindow> ready()
{
    return connectedWindow(5000);
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
    void valueTakenWhenSent_data();
    void valueTakenWhenSent();
    void untickingClearsColour();
    void secondClickRefusedDuringPass();
    void lateReplyDecidesNothing();
    void writeQueuedBehindSilentReadsIsNotGivenUp();
    void lineLossDuringPass();
    void userDisconnectDuringPause_data();
    void userDisconnectDuringPause();
};

void TestWritePass::writesTickedRowsInOrder_data()
{
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QStringList>("readBack");
    const WindowKind& kind = windowKind();

    // Register 2 is shown times ten: an unchanged table writes back what was read.
    QTest::newRow("unchanged rows 3 and 6")
        << QList<int> {3, 6} << QStringList {} << QStringList {"0:0:ok", "2:7:ok", "0:0:ok", "5:65534:ok"}
        << QStringList {"3=70", kind.cell("6=-2", "6=65534")};
    QTest::newRow("unchanged rows 4 and 7")
        << QList<int> {4, 7} << QStringList {} << QStringList {"0:0:ok", "3:100:ok", "0:0:ok", "6:10:ok"}
        << QStringList {"4=100", "7=10"};
    QTest::newRow("edited values")
        << QList<int> {3, 6, 13} << QStringList {"1=1234", "3=120", "6=65535", "13=-32768"}
        << QStringList {"0:1234:ok", "2:12:ok", "0:1234:ok", "5:65535:ok", "0:1234:ok", "12:32768:ok"}
        << QStringList {"1=1234", "3=120", kind.cell("6=-1", "6=65535"), kind.cell("13=-32768", "13=32768")};
    QTest::newRow("edited values, -1 written as 65535")
        << QList<int> {7, 13} << QStringList {"1=1234", "7=300", "13=-1"}
        << QStringList {"0:1234:ok", "6:300:ok", "0:1234:ok", "12:65535:ok"}
        << QStringList {"7=300", kind.cell("13=-1", "13=65535")};
    // Register 1 is written as it stands.
    QTest::newRow("row 3 divided, row 2 as shown")
        << QList<int> {2, 3} << QStringList {"3=80"} << QStringList {"0:0:ok", "1:14:ok", "0:0:ok", "2:8:ok"}
        << QStringList {"2=14", "3=80"};
    QTest::newRow("one row, an edited row beside it unticked")
        << QList<int> {9} << QStringList {"3=80", "9=0"} << QStringList {"0:0:ok", "8:0:ok"}
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

    const auto t = ready();
    QVERIFY(t);
    StatusMessages messages(t->statusBar());
    for (const auto& edit : rowTexts(edits))
        t->setCfgValue(edit.first, edit.second);
    for (int row : ticked)
        t->tick(row);
    t->clickWrite();
    // Read before the event loop runs again: the next status poll clears the status bar.
    const QString shownAtEnd = t->statusBar()->currentMessage();

    QCOMPARE(t->writesSeen(), writes);
    // The sensor needs time between the access code and the value, and after it.
    const auto seen = Journal::only(t->link.journal(), Journal::isWrite);
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY2(seen.at(i).msec - seen.at(i - 1).msec >= 200, qPrintable(Journal::describe(seen)));
    for (int row = 1; row < t->cfg->rowCount(); ++row)
        QCOMPARE(t->choiceColour(row), ticked.contains(row) ? QColor(Qt::green) : QColor(Qt::transparent));
    QCOMPARE(shownAtEnd, QStringLiteral("Успешно!"));
    QVERIFY2(messages.startingWith(QStringLiteral("Ошибка")).isEmpty(), qPrintable(messages.shown().join('\n')));
    QCOMPARE(t->logTexts(), QStringList());
    QVERIFY(t->writeButton->isEnabled());
    // All went well: the table already shows what the sensor holds.
    QVERIFY(!passReadTableAgain(*t));
    for (const auto& expected : rowTexts(readBack))
        QCOMPARE(t->cfgValue(expected.first), expected.second);
}

void TestWritePass::failedWrite_data()
{
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QStringList>("colours");
    QTest::addColumn<QString>("message");
    // What the table shows once it has been read again.
    QTest::addColumn<QStringList>("readBack");
    const WindowKind& kind = windowKind();
    const int tries = kind.tries();
    const QString silentAccess = QStringLiteral("silent 16 0 %1").arg(tries);
    // The master's own texts stand in the middle.
    const QString timedOut = QStringLiteral("Ошибка записи 2: Request timeout. (Modbus exception: 0xff)");
    const QString accessRefused = QStringLiteral("Ошибка записи 1: Modbus Exception Response. (Modbus exception: 0x3)");
    const QString valueRefused = QStringLiteral("Ошибка записи 1: Modbus Exception Response. (Modbus exception: 0x2)");

    // Rows 3 and 6, edited to 90 and -5.
    const QList<int> edited = {3, 6};
    const QStringList edits = {"3=90", "6=-5"};
    QTest::newRow("access code times out")
        << edited << edits << silentAccess << repeated(QStringLiteral("0:0:silent"), tries) + QStringList {"0:0:ok", "5:65531:ok"}
        << QStringList {"blue", "green"} << timedOut << QStringList {"3=70", kind.cell("6=-5", "6=65531")};
    QTest::newRow("access code refused")
        << edited << edits << "exception 16 0 3 1" << QStringList {"0:0:exception", "0:0:ok", "5:65531:ok"}
        << QStringList {"blue", "green"} << accessRefused << QStringList {"3=70", kind.cell("6=-5", "6=65531")};
    QTest::newRow("value refused")
        << edited << edits << "exception 16 5 2 1" << QStringList {"0:0:ok", "2:9:ok", "0:0:ok", "5:65531:exception"}
        << QStringList {"green", "red"} << valueRefused << QStringList {"3=90", kind.cell("6=-2", "6=65534")};

    // Rows 4 and 7 as read.
    const QList<int> asRead = {4, 7};
    QTest::newRow("access code times out, rows as read")
        << asRead << QStringList {} << silentAccess << repeated(QStringLiteral("0:0:silent"), tries) + QStringList {"0:0:ok", "6:10:ok"}
        << QStringList {"blue", "green"} << timedOut << QStringList {"4=100", "7=10"};
    QTest::newRow("access code refused, rows as read")
        << asRead << QStringList {} << "exception 16 0 3 1" << QStringList {"0:0:exception", "0:0:ok", "6:10:ok"}
        << QStringList {"blue", "green"} << accessRefused << QStringList {"4=100", "7=10"};
    QTest::newRow("value refused, rows as read")
        << asRead << QStringList {} << "exception 16 3 2 1" << QStringList {"0:0:ok", "3:100:exception", "0:0:ok", "6:10:ok"}
        << QStringList {"red", "green"} << valueRefused << QStringList {"4=100", "7=10"};
}

void TestWritePass::failedWrite()
{
    QFETCH(QList<int>, ticked);
    QFETCH(QStringList, edits);
    QFETCH(QString, fault);
    QFETCH(QStringList, writes);
    QFETCH(QStringList, colours);
    QFETCH(QString, message);
    QFETCH(QStringList, readBack);

    const auto t = ready();
    QVERIFY(t);
    StatusMessages messages(t->statusBar());
    QVERIFY(t->link.command(fault));
    for (const auto& edit : rowTexts(edits))
        t->setCfgValue(edit.first, edit.second);
    for (int row : ticked)
        t->tick(row);
    t->clickWrite();

    QCOMPARE(t->writesSeen(), writes);
    for (int i = 0; i < ticked.size(); ++i)
        QCOMPARE(t->choiceColour(ticked.at(i)), colourNamed(colours.at(i)));
    QCOMPARE(writeErrors(messages.shown()), QStringList {message});
    QCOMPARE(messages.durationsOf(message), QList<int> {3000});
    QCOMPARE(t->logTexts(), QStringList {message});

    // After a failure the table is read again, once, so that it shows what the sensor holds.
    QTRY_VERIFY_WITH_TIMEOUT(configReadsAfterWrites(*t) > 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(t->configReads().size(), 1, 5000);
    for (const auto& expected : rowTexts(readBack))
        QTRY_COMPARE_WITH_TIMEOUT(t->cfgValue(expected.first), expected.second, 5000);
    QVERIFY(t->writeButton->isEnabled());
}

// The master takes any function-16 answer from the sensor as the reply: one that
// confirms other registers than were written confirms nothing.
void TestWritePass::confirmationOfOtherRegisters()
{
    const auto t = ready();
    QVERIFY(t);
    StatusMessages messages(t->statusBar());
    QVERIFY(t->link.command(QStringLiteral("countdelta 16 5 1 1")));
    t->setCfgValue(6, QStringLiteral("-5"));
    t->tick(6);
    t->clickWrite();

    QCOMPARE(t->writesSeen(), (QStringList {"0:0:ok", "5:65531:countdelta"}));
    QCOMPARE(t->choiceColour(6), QColor(Qt::red));
    const QString expected = QStringLiteral("Ошибка записи 3: ответ не соответствует запросу "
                                            "(записано регистров: 1 с адреса 5, подтверждено: 2 с адреса 5)");
    QCOMPARE(writeErrors(messages.shown()), QStringList {expected});
    QCOMPARE(writeErrors(t->logTexts()), QStringList {expected});
    QTRY_VERIFY_WITH_TIMEOUT(configReadsAfterWrites(*t) > 0, 5000);
}

void TestWritePass::measurementMode_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("sent");

    QTest::newRow("4") << "4" << 4;
    QTest::newRow("-1") << "-1" << 65535;
    QTest::newRow("3") << "3" << 3;
}

// A measurement mode outside 0..3 ends the pass there where the window checks it (every
// edition but 1.2); otherwise whatever the row shows is written.
void TestWritePass::measurementMode()
{
    QFETCH(QString, mode);
    QFETCH(int, sent);

    const auto t = ready();
    QVERIFY(t);
    t->setCfgValue(10, mode);
    t->tick(3);
    t->tick(10);
    t->tick(12);
    t->clickWrite();

    if (windowKind().checksMeasurementMode && (sent < 0 || sent > 3)) {
        // The pass stops at the mode: what came before it is written, nothing after.
        QCOMPARE(t->writesSeen(), (QStringList {"0:0:ok", "2:7:ok"}));
        QCOMPARE(t->choiceColour(3), QColor(Qt::green));
        QCOMPARE(t->choiceColour(10), QColor(Qt::red));
        QCOMPARE(t->choiceColour(12), QColor(Qt::transparent));
        QCOMPARE(t->modals->seen(),
            QStringList {QStringLiteral("Внимание | Режим измерения принимает значения от 0 до 3 включительно, где: \n\n"
                                        "0 - измерение по модулю осей\n1 - измерение по оси X\n"
                                        "2 - измерение по оси Y\n3 - измерение по оси Z\n")});
    } else {
        QCOMPARE(t->writesSeen(),
            (QStringList {"0:0:ok", "2:7:ok", "0:0:ok", QStringLiteral("9:%1:ok").arg(sent), "0:0:ok", "11:20:ok"}));
        for (int row : {3, 10, 12})
            QCOMPARE(t->choiceColour(row), QColor(Qt::green));
        QCOMPARE(t->modals->seen(), QStringList());
    }
    // A rejected value never reached the sensor: no reason to read the table again.
    QVERIFY(!passReadTableAgain(*t));
    QVERIFY(t->writeButton->isEnabled());
}

void TestWritePass::invalidValueIsNotWritten_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("writes");

    // Rows 3 and 6 are ticked; a bad value is never sent as 0 or cut to 16 bits.
    const QStringList onlyRow3 = {"0:0:ok", "2:7:ok"};
    const QStringList onlyRow6 = {"0:0:ok", "5:65534:ok"};
    QTest::newRow("letters") << 6 << "abc" << onlyRow3;
    QTest::newRow("above 65535") << 6 << "70000" << onlyRow3;
    QTest::newRow("below -32768") << 6 << "-40000" << onlyRow3;
    QTest::newRow("empty") << 6 << "" << onlyRow3;
    QTest::newRow("fraction") << 6 << "2.5" << onlyRow3;
    QTest::newRow("far beyond int") << 6 << "99999999999" << onlyRow3;
    QTest::newRow("placeholder in the text") << 6 << "%2%3" << onlyRow3;
    QTest::newRow("scaled row out of range") << 3 << "700000" << onlyRow6;
    QTest::newRow("scaled row letters") << 3 << "7x" << onlyRow6;
    QTest::newRow("scaled row beyond its scale") << 3 << "655360" << onlyRow6;
    QTest::newRow("scaled row just above its range") << 3 << "655351" << onlyRow6;
    QTest::newRow("scaled row just below its range") << 3 << "-327681" << onlyRow6;
    // Register 2 holds a tenth of what its cell shows: a number it cannot hold exactly is
    // refused, not cut to a neighbour that the row would then show as written.
    QTest::newRow("scaled row no multiple of ten") << 3 << "79" << onlyRow6;
    QTest::newRow("scaled row above a multiple of ten") << 3 << "125" << onlyRow6;
    QTest::newRow("scaled row negative, no multiple of ten") << 3 << "-15" << onlyRow6;
    QTest::newRow("scaled row small negative") << 3 << "-5" << onlyRow6;
    QTest::newRow("access code letters") << 1 << "abc" << QStringList {};
    QTest::newRow("access code above 65535") << 1 << "70000" << QStringList {};
    QTest::newRow("access code below -32768") << 1 << "-40000" << QStringList {};
}

void TestWritePass::invalidValueIsNotWritten()
{
    QFETCH(int, row);
    QFETCH(QString, text);
    QFETCH(QStringList, writes);

    const auto t = ready();
    QVERIFY(t);
    StatusMessages messages(t->statusBar());
    t->setCfgValue(row, text);
    t->tick(3);
    t->tick(6);
    t->clickWrite();

    QCOMPARE(t->writesSeen(), writes);
    // What the row takes is said in the numbers it shows: register 2 is shown times ten.
    const QString takes = row == 3 ? QStringLiteral("целое число, кратное 10, от -327680 до 655350")
                                   : QStringLiteral("целое число от -32768 до 65535");
    const QString expected = QStringLiteral("Ошибка записи: недопустимое значение \"%1\" регистра %2 (нужно %3)")
                                 .arg(text, QString::number(row - 1), takes);
    // A bad access code spoils every ticked row (the status bar shows a repeated text once).
    const int failedRows = row == 1 ? 2 : 1;
    QCOMPARE(messages.durationsOf(expected), QList<int> {3000});
    QCOMPARE(t->logCount(expected), failedRows);
    QCOMPARE(t->logTexts().size(), failedRows);
    for (int ticked : {3, 6}) {
        const bool bad = row == 1 || row == ticked;
        QCOMPARE(t->choiceColour(ticked), bad ? QColor(Qt::red) : QColor(Qt::green));
    }
    // A failed pass reads the table again: the bad text gives way to the sensor's value.
    QTRY_VERIFY_WITH_TIMEOUT(configReadsAfterWrites(*t) > 0, 5000);
    const QString held = row == 1 ? QStringLiteral("0") : row == 3 ? QStringLiteral("70") : windowKind().cell("-2", "65534");
    QTRY_COMPARE_WITH_TIMEOUT(t->cfgValue(row), held, 5000);
}

void TestWritePass::valueTakenWhenSent_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QStringList>("writes");
    // Of the edited row and of row 12, ticked after it.
    QTest::addColumn<QStringList>("colours");
    QTest::addColumn<QString>("rejected");
    QTest::addColumn<bool>("readBack");
    // What the sensor holds in the edited row's register, as the table shows it.
    QTest::addColumn<QString>("held");

    // The first try of the access code goes unanswered; the edit comes while the master waits
    // to ask again.
    const QStringList accessCode = {"0:0:silent", "0:0:ok"};
    QTest::newRow("edited to another value") << 8 << "500" << "600" << accessCode + QStringList {"7:600:ok", "0:0:ok", "11:20:ok"}
                                             << QStringList {"green", "green"} << "" << false << "600";
    QTest::newRow("edited to letters") << 8 << "500" << "abc" << accessCode + QStringList {"0:0:ok", "11:20:ok"}
                                       << QStringList {"red", "green"}
                                       << "Ошибка записи: недопустимое значение \"abc\" регистра 7 (нужно целое число от -32768 до 65535)"
                                       << true << "1";
    QTest::newRow("edited beyond 16 bits") << 5 << "7" << "70000" << accessCode + QStringList {"0:0:ok", "11:20:ok"}
                                           << QStringList {"red", "green"}
                                           << "Ошибка записи: недопустимое значение \"70000\" регистра 4 (нужно целое число от -32768 до 65535)"
                                           << true << "3";
    QTest::newRow("scaled row edited to no multiple of ten")
        << 3 << "80" << "85" << accessCode + QStringList {"0:0:ok", "11:20:ok"} << QStringList {"red", "green"}
        << "Ошибка записи: недопустимое значение \"85\" регистра 2 (нужно целое число, кратное 10, от -327680 до 655350)"
        << true << "70";
    if (windowKind().checksMeasurementMode) {
        // The mode is checked again as it is taken; out of range, it ends the pass there.
        QTest::newRow("measurement mode edited out of range") << 10 << "2" << "5" << accessCode << QStringList {"red", "transparent"}
                                                              << "" << false << "0";
    } else {
        QTest::newRow("measurement mode edited") << 10 << "2" << "5" << accessCode + QStringList {"9:5:ok", "0:0:ok", "11:20:ok"}
                                                 << QStringList {"green", "green"} << "" << false << "5";
    }
}

// The value a row's write sends is the one its cell shows when the write goes out: an edit
// made while the access code waits is what the sensor gets, and a green row means the
// sensor holds what the row shows.
void TestWritePass::valueTakenWhenSent()
{
    QFETCH(int, row);
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(QStringList, writes);
    QFETCH(QStringList, colours);
    QFETCH(QString, rejected);
    QFETCH(bool, readBack);
    QFETCH(QString, held);

    const auto t = ready();
    QVERIFY(t);
    StatusMessages messages(t->statusBar());
    QVERIFY(t->link.command(QStringLiteral("silent 16 0 1")));
    t->setCfgValue(row, before);
    t->tick(row);
    t->tick(12);
    bool edited = false;
    QTimer editor;
    editor.setInterval(5);
    QObject::connect(&editor, &QTimer::timeout, [&] {
        if (!edited && !t->writesSeen().isEmpty()) {
            edited = true;
            t->setCfgValue(row, after);
        }
    });
    editor.start();
    t->clickWrite();
    editor.stop();
    QVERIFY(edited);

    QCOMPARE(t->writesSeen(), writes);
    QCOMPARE(t->choiceColour(row), colourNamed(colours.at(0)));
    QCOMPARE(t->choiceColour(12), colourNamed(colours.at(1)));
    const bool modeStopped = windowKind().checksMeasurementMode && row == 10;
    QCOMPARE(t->modals->seen().size(), modeStopped ? 1 : 0);
    if (rejected.isEmpty()) {
        QCOMPARE(t->logTexts(), QStringList());
    } else {
        QCOMPARE(messages.durationsOf(rejected), QList<int> {3000});
        QCOMPARE(t->logTexts(), QStringList {rejected});
    }
    QCOMPARE(passReadTableAgain(*t), readBack);
    QCOMPARE(t->cfgValue(row), held);
}

void TestWritePass::untickingClearsColour()
{
    const auto t = ready();
    QVERIFY(t);
    t->tick(3);
    t->tick(6);
    t->clickWrite();
    QCOMPARE(t->choiceColour(3), QColor(Qt::green));
    QCOMPARE(t->choiceColour(6), QColor(Qt::green));

    t->choice(3)->setCheckState(Qt::Unchecked);
    emit t->cfg->itemClicked(t->choice(3));
    QCOMPARE(t->choiceColour(3), QColor(Qt::transparent));
    // A row still ticked keeps its colour, and so does a click elsewhere in the row.
    emit t->cfg->itemClicked(t->choice(6));
    QCOMPARE(t->choiceColour(6), QColor(Qt::green));
    t->choice(6)->setCheckState(Qt::Unchecked);
    emit t->cfg->itemClicked(t->cfg->item(6, 2));
    QCOMPARE(t->choiceColour(6), QColor(Qt::green));

    // The next pass starts from a clean column: row 6, unticked but still green, loses
    // its colour as row 3 is written again.
    t->tick(3);
    QVERIFY(t->link.command(QStringLiteral("exception 16 2 2 1")));
    t->clickWrite();
    QCOMPARE(t->choiceColour(3), QColor(Qt::red));
    QCOMPARE(t->choiceColour(6), QColor(Qt::transparent));
    QCOMPARE(t->writesSeen().size(), 6);

    // Nothing ticked: the pass clears every colour and writes nothing.
    t->choice(3)->setCheckState(Qt::Unchecked);
    QCOMPARE(t->choiceColour(3), QColor(Qt::red));
    t->clickWrite();
    QCOMPARE(t->choiceColour(3), QColor(Qt::transparent));
    QCOMPARE(t->writesSeen().size(), 6);
}

void TestWritePass::secondClickRefusedDuringPass()
{
    const auto t = ready();
    QVERIFY(t);
    QVERIFY(t->link.command(QStringLiteral("delay 16 * 300")));
    t->tick(3);
    bool enabledDuringPass = true;
    bool checked = false;
    QTimer::singleShot(100, [&] {
        checked = true;
        enabledDuringPass = t->writeButton->isEnabled();
        t->clickWrite();
        QMetaObject::invokeMethod(t->mainWindow(), "on_pushButtonCfgWrite_clicked");
    });
    t->clickWrite();
    QVERIFY(checked);
    QVERIFY(!enabledDuringPass);
    QCOMPARE(t->writesSeen(), (QStringList {"0:0:delayed", "2:7:delayed"}));
    QCOMPARE(t->choiceColour(3), QColor(Qt::green));
    QVERIFY(t->writeButton->isEnabled());
}

void TestWritePass::lateReplyDecidesNothing()
{
    const auto t = pollingWindow();
    QVERIFY(t);
    StatusMessages messages(t->statusBar());
    // A state read that gets no answer holds the line through all its tries; the access
    // code waits behind it without being given up, then gets no answer to any of its tries.
    const int tries = windowKind().tries();
    QVERIFY(t->link.command(QStringLiteral("silent 16 0 %1").arg(tries)));
    QVERIFY(t->leaveStateReadsUnanswered(1));
    t->tick(3);
    t->tick(6);
    QElapsedTimer clock;
    clock.start();
    t->clickWrite();

    // The failed access code is never sent again, and its end does not decide the next row.
    const QStringList writes = repeated(QStringLiteral("0:0:silent"), tries) + QStringList {"0:0:ok", "5:65534:ok"};
    QCOMPARE(t->writesSeen(), writes);
    QCOMPARE(t->choiceColour(3), QColor(Qt::blue));
    QCOMPARE(t->choiceColour(6), QColor(Qt::green));
    const QStringList timedOut = {QStringLiteral("Ошибка записи 2: Request timeout. (Modbus exception: 0xff)")};
    QCOMPARE(writeErrors(messages.shown()), timedOut);
    QCOMPARE(writeErrors(t->logTexts()), timedOut);
    QVERIFY2(clock.elapsed() < 3 * writeLimitMs(*t), qPrintable(QString::number(clock.elapsed())));
}

// A write queued behind state reads that get no answer waits for the line instead of
// being reported failed while it may still reach the sensor: the row tells what the
// sensor holds.
void TestWritePass::writeQueuedBehindSilentReadsIsNotGivenUp()
{
    const auto t = pollingWindow();
    QVERIFY(t);
    StatusMessages messages(t->statusBar());
    // Two state reads go unanswered through all their tries, and the row's value through
    // all but its last.
    const int tries = windowKind().tries();
    QVERIFY(t->link.command(QStringLiteral("silent 16 2 %1").arg(tries - 1)));
    QVERIFY(t->leaveStateReadsUnanswered(2));
    t->setCfgValue(3, QStringLiteral("90"));
    t->tick(3);
    t->clickWrite();

    const QStringList writes = QStringList {"0:0:ok"} + repeated(QStringLiteral("2:9:silent"), tries - 1) + QStringList {"2:9:ok"};
    QCOMPARE(t->writesSeen(), writes);
    QCOMPARE(t->choiceColour(3), QColor(Qt::green));
    QVERIFY2(writeErrors(messages.shown()).isEmpty(), qPrintable(messages.shown().join('\n')));
    QVERIFY(writeErrors(t->logTexts()).isEmpty());
    // Nothing of the pass is left to go out later: the line goes on with state reads only.
    const int written = t->writesSeen().size();
    const int answeredBefore = t->stateReadsWith(QStringLiteral("ok")).size();
    QTRY_VERIFY_WITH_TIMEOUT(t->stateReadsWith(QStringLiteral("ok")).size() >= answeredBefore + 5, 15000);
    QCOMPARE(t->writesSeen().size(), written);
}

void TestWritePass::lineLossDuringPass()
{
    const auto t = ready();
    QVERIFY(t);
    StatusMessages messages(t->statusBar());
    // A slow sensor keeps the pass waiting for the access code when the line goes.
    QVERIFY(t->link.command(QStringLiteral("delay 16 * 300")));
    t->tick(3);
    t->tick(6);
    QTimer::singleShot(100, [&] { t->link.cutLine(); });
    QElapsedTimer clock;
    clock.start();
    t->clickWrite();
    const qint64 took = clock.elapsed();
    QVERIFY2(took < writeLimitMs(*t) + 1500, qPrintable(QStringLiteral("the pass took %1 ms").arg(took)));

    QTRY_COMPARE_WITH_TIMEOUT(t->openButton->text(), QStringLiteral("Подключиться"), 5000);
    QVERIFY(!t->linkConnected());
    QVERIFY(!t->writeButton->isEnabled());
    QVERIFY(!t->readButton->isEnabled());
    QVERIFY(t->choiceColour(3) != QColor(Qt::green));
    QVERIFY(t->choiceColour(6) != QColor(Qt::green));
    // One line loss, one message: the device's own; the write it cut off is not reported.
    QVERIFY(!messages.shown().isEmpty());
    QVERIFY2(writeErrors(messages.shown()).isEmpty(), qPrintable(messages.shown().join(QLatin1String(" / "))));
    QCOMPARE(writeErrors(t->logTexts()), QStringList());

    QString why;
    QVERIFY2(idleForASecond(why), qPrintable(why));
    QVERIFY2(messages.changes() <= 12, qPrintable(messages.shown().join(QLatin1String(" / "))));
}

void TestWritePass::userDisconnectDuringPause_data()
{
    QTest::addColumn<int>("answered");
    QTest::addColumn<bool>("inPause");
    QTest::addColumn<bool>("closeWindow");
    // The writes go access code, row, access code, row...: the click comes in the pause
    // after the access code of the second row, or after the second row itself, or in the
    // very turn that brings the access code's answer to the window.
    QTest::newRow("click after an access code") << 3 << true << false;
    QTest::newRow("click after a row") << 4 << true << false;
    QTest::newRow("click as an access code is answered") << 3 << false << false;
    QTest::newRow("window closed after an access code") << 5 << true << true;
}

// The user disconnects, or closes the window, while the pass sleeps in one of its pauses or
// as a write is answered: the pass ends there. Nothing goes to the master after it, nothing
// is shown or logged as a failure, and no row the sensor took turns red or blue.
void TestWritePass::userDisconnectDuringPause()
{
    QFETCH(int, answered);
    QFETCH(bool, inPause);
    QFETCH(bool, closeWindow);

    const auto t = ready();
    QVERIFY(t);
    // No state read comes between the writes: what the sensor sees is the pass alone.
    QVERIFY(t->stopPollsAndSettle());
    const QList<int> ticked = {3, 4, 6, 7, 8, 9};
    const QStringList all = {"0:0:ok", "2:7:ok", "0:0:ok", "3:100:ok", "0:0:ok", "5:65534:ok", "0:0:ok", "6:10:ok",
        "0:0:ok", "7:1:ok", "0:0:ok", "8:50:ok"};
    for (int row : ticked)
        t->tick(row);
    StatusMessages messages(t->statusBar());
    QSignalSpy masterErrors(t->master(), &QModbusDevice::errorOccurred);

    int shownBeforeClick = -1;
    QElapsedTimer sinceClick;
    QMainWindow* window = t->mainWindow();
    const auto userActs = [&] {
        shownBeforeClick = messages.shown().size();
        sinceClick.start();
        if (closeWindow)
            window->close();
        else
            t->clickDisconnect();
    };
    PostedFromThread user(window, userActs, 50);
    // The link hands an answer to the window from a queued call of its own.
    std::unique_ptr<BeforeQueuedCall> beforeDelivery;
    int written = 0;
    const QMetaObject::Connection watch = QObject::connect(t->modbusLink(), &ModbusLink::finished, window,
        [&](const ModbusOutcome& outcome) {
            if (!outcome.isWrite || outcome.kind != ModbusOutcome::Done)
                return;
            ++written;
            if (inPause && written == answered)
                user.go();
            else if (!inPause && written == answered - 1)
                beforeDelivery = std::make_unique<BeforeQueuedCall>(t->modbusLink(), userActs);
        });
    t->clickWrite();
    QObject::disconnect(watch);
    QVERIFY2(shownBeforeClick >= 0, "the click never came");
    QVERIFY2(sinceClick.elapsed() < 3000, qPrintable(QStringLiteral("the pass took %1 ms").arg(sinceClick.elapsed())));
    QCOMPARE(t->openButton->text(), QStringLiteral("Подключиться"));
    QVERIFY(!t->linkConnected());
    QVERIFY(!t->writeButton->isEnabled());
    QVERIFY(!t->readButton->isEnabled());

    // What the master still raises about the closed port comes now, if at all.
    (void)masterErrors.wait(1000);
    QTest::qWait(200);
    const QStringList afterClick = messages.shown().mid(shownBeforeClick);
    QVERIFY2(afterClick.count(QStringLiteral("Успешно!")) == afterClick.size(),
        qPrintable(afterClick.join(QLatin1String(" / "))));
    QCOMPARE(t->logTexts(), QStringList());
    QCOMPARE(t->modals->seen(), QStringList());

    // A click posted while the pass slept is handled before the next write goes out; a
    // thread held up past the pause lets one more through. Either way what the sensor saw
    // is where the pass stopped.
    const QStringList writes = t->writesSeen();
    QVERIFY2(writes.size() == answered || writes.size() == answered + 1, qPrintable(writes.join(' ')));
    QCOMPARE(writes, all.mid(0, writes.size()));
    for (int i = 0; i < ticked.size(); ++i) {
        const int valueWrite = 2 * i + 1;
        const QColor colour = t->choiceColour(ticked.at(i));
        if (valueWrite < answered)
            QCOMPARE(colour, QColor(Qt::green));
        else if (valueWrite < writes.size())
            QVERIFY2(colour == QColor(Qt::green) || colour == QColor(Qt::transparent), qPrintable(colour.name()));
        else
            QCOMPARE(colour, QColor(Qt::transparent));
    }
}

QTEST_MAIN(TestWritePass)
#include "tst_writepass.moc"
