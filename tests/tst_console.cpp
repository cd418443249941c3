// The raw text console of the real window over a pty pair: what opens the port, how
// received bytes become lines however they are chunked, and what is sent.

#include "mainwindow.h"
#include "ptypair.h"
#include "windowtest.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QModbusClient>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

#include <sys/ioctl.h>

#include <memory>

namespace {

const QString connectCaption = QStringLiteral("Подключиться");
const QString disconnectCaption = QStringLiteral("Отключиться");
const QString unavailable = QStringLiteral("Ошибка | Выбранный порт недоступен");

QAction* protocolItem(MainWindow& w, const QString& text)
{
    for (QAction* sub : w.findChild<QMenu*>(QStringLiteral("menuSettings"))->actions()) {
        if (!sub->menu() || sub->text() != QStringLiteral("Протокол"))
            continue;
        for (QAction* action : sub->menu()->actions()) {
            if (action->text() == text)
                return action;
        }
    }
    return nullptr;
}


QByteArray utf8(const char* text)
{
    return QByteArray(text);
}

} // namespace

class TestConsole : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensThePortOfTheEntry_data();
    void opensThePortOfTheEntry();
    void unavailablePortWarns_data();
    void unavailablePortWarns();

    void linesHoweverChunked_data();
    void linesHoweverChunked();
    void linesAtEverySplitPoint();
    void linesArePlainBlueParagraphs();
    void timeStamps_data();
    void timeStamps();
    void autoscroll_data();
    void autoscroll();
    void longLineIsCut_data();
    void longLineIsCut();
    void lineOfTheLimitEndedLater_data();
    void lineOfTheLimitEndedLater();
    void blockCountIsBounded();
    void eachLineOnceAfterManyOpens();
    void halfLineCompletedAfterReopen_data();
    void halfLineCompletedAfterReopen();

    void sendsExactBytes_data();
    void sendsExactBytes();
    void nothingSentWhenClosedOrEmpty();
    void clearing_data();
    void clearing();

private:
    void clickConnect(const QString& entry);
    void clickDisconnect();
    bool openConsole();
    // Writes from the far end and waits until the window has taken the bytes in.
    bool deliver(const QByteArray& chunk);
    // Waits until nothing the far end wrote waits unread at the window's end of the line.
    bool taken();
    QStringList lines() const;
    QByteArray receive(int size);

    std::unique_ptr<ProgramDirFixture> m_dir;
    std::unique_ptr<ModalWatcher> m_watcher;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<PtyPair> m_otherPty;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<QSerialPort> m_peer;
    std::unique_ptr<QSignalSpy> m_arrivals;
    QTextEdit* m_console = nullptr;
};

void TestConsole::init()
{
    m_dir = std::make_unique<ProgramDirFixture>();
    m_watcher = std::make_unique<ModalWatcher>();
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->start());
    m_window = std::make_unique<MainWindow>();
    m_window->findChild<QTabWidget*>(QStringLiteral("tabWidget"))
        ->setCurrentWidget(m_window->findChild<QWidget*>(QStringLiteral("tab_console")));
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_console = m_window->findChild<QTextEdit*>(QStringLiteral("console"));
    QVERIFY(m_console);
    QAction* uart = protocolItem(*m_window, QStringLiteral("UART"));
    QVERIFY(uart);
    uart->trigger();
    QVERIFY(rawPort(*m_window));
    m_arrivals = std::make_unique<QSignalSpy>(rawPort(*m_window), &QSerialPort::readyRead);
}

void TestConsole::cleanup()
{
    m_arrivals.reset();
    m_peer.reset();
    m_window.reset();
    m_otherPty.reset();
    m_pty.reset();
    m_watcher.reset();
    m_dir.reset();
}

// The port list is refreshed from the system every few seconds and drops a pty, so
// the entry goes in right before the click.
void TestConsole::clickConnect(const QString& entry)
{
    auto* ports = m_window->findChild<QComboBox*>(QStringLiteral("comboBoxPorts"));
    ports->addItem(entry);
    ports->setCurrentIndex(ports->count() - 1);
    QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("pushButtonOpenPort")), Qt::LeftButton);
}

void TestConsole::clickDisconnect()
{
    QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("pushButtonOpenPort")), Qt::LeftButton);
}

bool TestConsole::openConsole()
{
    clickConnect(m_pty->programPort());
    if (!rawOpen(*m_window))
        return false;
    if (!m_peer) {
        m_peer = std::make_unique<QSerialPort>(m_pty->peerPort());
        if (!m_peer->open(QIODevice::ReadWrite))
            return false;
    }
    return true;
}

bool TestConsole::deliver(const QByteArray& chunk)
{
    const int before = m_arrivals->count();
    if (m_peer->write(chunk) != chunk.size() || !m_peer->waitForBytesWritten(5000))
        return false;
    return QTest::qWaitFor([&] { return m_arrivals->count() > before; }, 5000);
}

bool TestConsole::taken()
{
    QSerialPort* port = rawPort(*m_window);
    return QTest::qWaitFor(
        [&] {
            int queued = -1;
            return m_peer->bytesToWrite() == 0 && ioctl(int(port->handle()), FIONREAD, &queued) == 0 && queued == 0
                && port->bytesAvailable() == 0;
        },
        5000);
}

QStringList TestConsole::lines() const
{
    QStringList out;
    if (m_console->document()->isEmpty())
        return out;
    for (QTextBlock block = m_console->document()->begin(); block.isValid(); block = block.next())
        out << block.text();
    return out;
}

QByteArray TestConsole::receive(int size)
{
    QByteArray got;
    (void)QTest::qWaitFor(
        [&] {
            got += m_peer->readAll();
            return got.size() >= size;
        },
        5000);
    return got;
}

void TestConsole::opensThePortOfTheEntry_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("bare path") << QString();
    QTest::newRow("path and description") << QStringLiteral(" (USB-Serial Controller D)");
}

// The port name is what comes before the first blank of the list entry.
void TestConsole::opensThePortOfTheEntry()
{
    QFETCH(QString, suffix);
    MainWindow& w = *m_window;
    auto* openButton = w.findChild<QPushButton*>(QStringLiteral("pushButtonOpenPort"));
    QCOMPARE(openButton->text(), connectCaption);

    clickConnect(m_pty->programPort() + suffix);
    QVERIFY(rawOpen(w));
    QCOMPARE(rawPort(w)->portName(), m_pty->programPort());
    QCOMPARE(rawPort(w)->flowControl(), QSerialPort::NoFlowControl);
    QCOMPARE(openButton->text(), disconnectCaption);
    auto* master = w.findChild<QModbusClient*>();
    QCOMPARE(master->state(), QModbusDevice::UnconnectedState);

    // The line really is this one: the far end hears it.
    QSerialPort peer(m_pty->peerPort());
    QVERIFY(peer.open(QIODevice::ReadWrite));
    w.findChild<QLineEdit*>(QStringLiteral("lineEdit_commandUart"))->setText(QStringLiteral("hello"));
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("pushButton_sendUart")), Qt::LeftButton);
    QByteArray got;
    QVERIFY(QTest::qWaitFor(
        [&] {
            got += peer.readAll();
            return got.size() >= 5;
        },
        5000));
    QCOMPARE(got, QByteArray("hello"));

    clickDisconnect();
    QVERIFY(!rawOpen(w));
    QCOMPARE(openButton->text(), connectCaption);
    QCOMPARE(m_watcher->count(), 0);
}

void TestConsole::unavailablePortWarns_data()
{
    QTest::addColumn<bool>("held");
    QTest::newRow("no such port") << false;
    QTest::newRow("port held by another program") << true;
}

void TestConsole::unavailablePortWarns()
{
    QFETCH(bool, held);
    QSerialPort holder(m_pty->programPort());
    if (held)
        QVERIFY(holder.open(QIODevice::ReadWrite));
    const QString port = held ? m_pty->programPort() : m_pty->programPort() + QStringLiteral("-missing");

    clickConnect(port);
    QCOMPARE(m_watcher->seen(), QStringList({unavailable}));
    QVERIFY(!rawOpen(*m_window));
    QCOMPARE(m_window->findChild<QPushButton*>(QStringLiteral("pushButtonOpenPort"))->text(), connectCaption);

    // Once the port is free, the same entry opens.
    holder.close();
    clickConnect(m_pty->programPort());
    QVERIFY(rawOpen(*m_window));
    QCOMPARE(m_watcher->count(), 1);
}

void TestConsole::linesHoweverChunked_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QStringList>("expected");

    const QStringList abc = {"a", "", "b"};
    QTest::newRow("CR LF | CR") << QByteArrayList({"a\r\n", "\rb\r\n"}) << abc;
    QTest::newRow("CR | LF") << QByteArrayList({"a\r", "\nb\r\n"}) << QStringList({"a", "b"});
    QTest::newRow("LF | CR") << QByteArrayList({"a\n", "\rb\n\r"}) << QStringList({"a", "b"});
    QTest::newRow("CR | CR") << QByteArrayList({"a\r", "\rb\r\n"}) << abc;
    QTest::newRow("LF | LF") << QByteArrayList({"a\n", "\nb\r\n"}) << abc;
    QTest::newRow("LF CR | LF") << QByteArrayList({"a\n\r", "\nb\r\n"}) << abc;
    QTest::newRow("CR | LF CR") << QByteArrayList({"a\r", "\n\rb\r\n"}) << abc;
    QTest::newRow("CR | LF | LF") << QByteArrayList({"a\r", "\n", "\nb\n"}) << abc;
    QTest::newRow("pair after a NUL-only arrival") << QByteArrayList({"a\r", QByteArray(1, '\0'), "\nb\r\n"})
                                                   << QStringList({"a", "b"});
    QTest::newRow("NUL inside a pair") << QByteArrayList({QByteArray("a\r\0\nb\r\n", 7)}) << QStringList({"a", "b"});
    QTest::newRow("NULs dropped, rest kept")
        << QByteArrayList({QByteArray("\0ab\0cd\0\n\0e", 10), QByteArray("f\0\0\r\n", 5)})
        << QStringList({"abcd", "ef"});
    QTest::newRow("NUL inside a character") << QByteArrayList({QByteArray("\xd0\0\xb2\xd1\x8b\n", 6)})
                                            << QStringList({"вы"});
    QTest::newRow("Cyrillic split") << QByteArrayList({utf8("пр\xd0"), utf8("\xb8вет\n")}) << QStringList({"привет"});
    QTest::newRow("four-byte character byte by byte")
        << QByteArrayList({"<\xf0", "\x9f", "\x98", "\x80>\n"}) << QStringList({"<\xf0\x9f\x98\x80>"});
    QTest::newRow("unfinished line waits") << QByteArrayList({"done\npart", "ial"}) << QStringList({"done"});
    QTest::newRow("unfinished line goes on") << QByteArrayList({"done\npart", "ial\r\n"})
                                             << QStringList({"done", "partial"});
    QTest::newRow("empty lines") << QByteArrayList({"\n\n", "x\r\r", "\n\n"}) << QStringList({"", "", "x", "", ""});

    const QByteArray text = "first\r\nвторая\n\rthird\rfourth\n\nsixth\r\n";
    const QStringList textLines = {"first", "вторая", "third", "fourth", "", "sixth"};
    for (const int size : {1, 2, 3, 5, 8, 13, int(text.size())}) {
        QByteArrayList chunks;
        for (int at = 0; at < text.size(); at += size)
            chunks << text.mid(at, size);
        QTest::addRow("mixed text in pieces of %d", size) << chunks << textLines;
    }
}

// However the bytes come in, each line is printed once and the same way.
void TestConsole::linesHoweverChunked()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QStringList, expected);
    QVERIFY(openConsole());
    for (const QByteArray& chunk : chunks)
        QVERIFY2(deliver(chunk), chunk.toHex().constData());
    QTRY_COMPARE_WITH_TIMEOUT(lines(), expected, 5000);
}

void TestConsole::linesAtEverySplitPoint()
{
    QVERIFY(openConsole());
    const QByteArray text = "one\r\n\xd0\xb4\xd0\xb2\xd0\xb0\n\r<3>\r\r\xf0\x9f\x98\x80 & four\n\nend\r\n";
    const QStringList expected = {"one", "два", "<3>", "", "\xf0\x9f\x98\x80 & four", "", "end"};
    auto* clear = m_window->findChild<QPushButton*>(QStringLiteral("pushButton_clearConsole"));
    for (int at = 1; at < text.size(); ++at) {
        QVERIFY(deliver(text.left(at)));
        QVERIFY(deliver(text.mid(at)));
        QTRY_VERIFY2_WITH_TIMEOUT(lines() == expected,
            qPrintable(QStringLiteral("split at %1: %2").arg(at).arg(lines().join(QLatin1Char('|')))), 5000);
        QTest::mouseClick(clear, Qt::LeftButton);
        QVERIFY(lines().isEmpty());
    }
}

// What arrives is shown as it is, never read as markup, each line a blue paragraph.
void TestConsole::linesArePlainBlueParagraphs()
{
    QVERIFY(openConsole());
    const QStringList expected = {"<ERR>", "a & b", "<b>x</b>", "&lt;", "<br>two<p>"};
    QVERIFY(deliver(expected.join(QStringLiteral("\r\n")).toUtf8() + "\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(lines(), expected, 5000);
    QCOMPARE(m_console->document()->blockCount(), expected.size());
    for (QTextBlock block = m_console->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            QCOMPARE(format.foreground().color(), QColor(Qt::blue));
            QVERIFY(!format.isAnchor());
            QCOMPARE(format.fontWeight(), m_console->document()->begin().charFormat().fontWeight());
        }
    }
    QCOMPARE(m_console->toPlainText(), expected.join(QLatin1Char('\n')));
}

void TestConsole::timeStamps_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::newRow("ticked") << true;
    QTest::newRow("not ticked") << false;
}

void TestConsole::timeStamps()
{
    QFETCH(bool, ticked);
    m_window->findChild<QCheckBox*>(QStringLiteral("checkBox_consoleViewTime"))->setChecked(ticked);
    QVERIFY(openConsole());
    const QTime before = QTime::currentTime();
    QVERIFY(deliver("alpha\r\n\r\n 12:00:00.000 > beta\n"));
    QTRY_COMPARE_WITH_TIMEOUT(lines().size(), 3, 5000);
    const QStringList got = lines();
    QCOMPARE(got.at(1), QString());
    const QStringList bodies = {"alpha", " 12:00:00.000 > beta"};
    const QRegularExpression stamped(QStringLiteral("^(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d) > (.*)$"));
    for (int i = 0; i < 2; ++i) {
        const QString line = got.at(i == 0 ? 0 : 2);
        if (!ticked) {
            QCOMPARE(line, bodies.at(i));
            continue;
        }
        const QRegularExpressionMatch match = stamped.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(match.captured(2), bodies.at(i));
        const QTime stamp = QTime::fromString(match.captured(1), QStringLiteral("HH:mm:ss.zzz"));
        QVERIFY(stamp.isValid());
        const int drift = qAbs(before.msecsTo(stamp));
        QVERIFY2(drift < 10000 || drift > 86400000 - 10000, qPrintable(line));
    }
}

void TestConsole::autoscroll_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<bool>("readingTheEnd");
    QTest::newRow("ticked") << true << false;
    QTest::newRow("not ticked") << false << false;
    QTest::newRow("not ticked, view at the bottom") << false << true;
}

// Autoscroll puts the cursor at the end after each line; without it the reader's
// place stays where it was, and a view at the bottom follows the new lines.
void TestConsole::autoscroll()
{
    QFETCH(bool, ticked);
    QFETCH(bool, readingTheEnd);
    QVERIFY(openConsole());
    QByteArray many;
    for (int i = 0; i < 200; ++i)
        many += "line " + QByteArray::number(i) + "\n";
    QVERIFY(deliver(many));
    QTRY_COMPARE_WITH_TIMEOUT(lines().size(), 200, 5000);
    m_console->moveCursor(QTextCursor::Start);
    QScrollBar* bar = m_console->verticalScrollBar();
    bar->setValue(0);
    QVERIFY(bar->maximum() > 0);
    if (readingTheEnd)
        bar->setValue(bar->maximum());

    m_window->findChild<QCheckBox*>(QStringLiteral("checkBox_consoleAutoscroll"))->setChecked(ticked);
    const int maximumBefore = bar->maximum();
    QVERIFY(deliver("more\n"));
    QTRY_COMPARE_WITH_TIMEOUT(lines().size(), 201, 5000);
    if (readingTheEnd) {
        QTRY_VERIFY_WITH_TIMEOUT(bar->maximum() > maximumBefore, 5000);
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(m_console->textCursor().position(), 0);
    } else if (ticked) {
        QVERIFY(m_console->textCursor().atEnd());
        QTRY_VERIFY_WITH_TIMEOUT(bar->value() > 0, 5000);
        QVERIFY(m_console->viewport()->rect().contains(m_console->cursorRect()));
    } else {
        QCOMPARE(m_console->textCursor().position(), 0);
        QCOMPARE(bar->value(), 0);
    }
}

void TestConsole::longLineIsCut_data()
{
    QTest::addColumn<QList<int>>("cuts");
    QTest::newRow("whole line in one arrival") << QList<int>();
    QTest::newRow("in pieces") << QList<int>({100, 2 * MainWindow::consoleLineLimit});
    QTest::newRow("unfinished, then ended") << QList<int>({2 * MainWindow::consoleLineLimit + 4});
}

// A line longer than the limit is cut at the limit, never halfway through a character,
// and the cut falls in the same places however the bytes came.
void TestConsole::longLineIsCut()
{
    QFETCH(QList<int>, cuts);
    const int limit = MainWindow::consoleLineLimit;
    QVERIFY(openConsole());
    const QString smile = QString::fromUtf8("\xf0\x9f\x98\x80");
    const QString endless = QString(limit - 1, QLatin1Char('x')) + smile + QString(limit, QLatin1Char('y'));
    const QByteArray bytes = endless.toUtf8() + "tail\n";
    int from = 0;
    for (int cut : cuts << bytes.size()) {
        QVERIFY(deliver(bytes.mid(from, cut - from)));
        from = cut;
    }
    const QString expected = endless + QStringLiteral("tail");
    QTRY_COMPARE_WITH_TIMEOUT(lines().join(QString()), expected, 5000);
    const QStringList got = lines();
    QCOMPARE(got.size(), 3);
    for (const QString& line : got) {
        QVERIFY(line.size() <= limit);
        QVERIFY(!line.isEmpty() && !line.back().isHighSurrogate() && !line.front().isLowSurrogate());
    }
    QCOMPARE(got.at(0), QString(limit - 1, QLatin1Char('x')));
    QCOMPARE(got.at(1), smile + QString(limit - 2, QLatin1Char('y')));
}

void TestConsole::lineOfTheLimitEndedLater_data()
{
    QTest::addColumn<int>("pieces");
    QTest::addColumn<QByteArray>("terminator");
    QTest::newRow("the limit, then LF") << 1 << QByteArray("\n");
    QTest::newRow("twice the limit, then CR LF") << 2 << QByteArray("\r\n");
}

// A line of exactly the limit, or of a multiple of it, whose end comes in a later
// arrival is shown in its full pieces and nothing more: no empty line after them.
void TestConsole::lineOfTheLimitEndedLater()
{
    QFETCH(int, pieces);
    QFETCH(QByteArray, terminator);
    const int limit = MainWindow::consoleLineLimit;
    QVERIFY(openConsole());
    QVERIFY(deliver(QByteArray(pieces * limit, 'x')));
    QVERIFY(taken());
    QVERIFY(deliver(terminator));
    QVERIFY(deliver("next\n"));
    QStringList expected;
    for (int piece = 0; piece < pieces; ++piece)
        expected << QString(limit, QLatin1Char('x'));
    expected << QStringLiteral("next");
    QTRY_COMPARE_WITH_TIMEOUT(lines(), expected, 5000);
}

// A device that talks for hours must not grow the console without end, also after the
// console was emptied once.
void TestConsole::blockCountIsBounded()
{
    const int limit = MainWindow::consoleBlockLimit;
    QVERIFY(openConsole());
    QVERIFY(deliver("before\n"));
    QTRY_COMPARE_WITH_TIMEOUT(lines(), QStringList({"before"}), 5000);
    QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("pushButton_clearConsole")), Qt::LeftButton);

    QByteArray flood;
    for (int i = 0; i < limit + 500; ++i)
        flood += QByteArray::number(i) + "\n";
    QVERIFY(deliver(flood));
    QTRY_COMPARE_WITH_TIMEOUT(m_console->document()->lastBlock().text(), QString::number(limit + 499), 30000);
    QCOMPARE(m_console->document()->blockCount(), limit);
    QCOMPARE(m_console->document()->firstBlock().text(), QString::number(500));
}

// Closing and opening again, also through the protocol switch, never doubles a line.
void TestConsole::eachLineOnceAfterManyOpens()
{
    QVERIFY(openConsole());
    for (int i = 0; i < 4; ++i) {
        clickDisconnect();
        QVERIFY(!rawOpen(*m_window));
        QVERIFY(openConsole());
    }
    QAction* modbus = protocolItem(*m_window, QStringLiteral("Modbus RTU (по умолчанию)"));
    QAction* uart = protocolItem(*m_window, QStringLiteral("UART"));
    for (int i = 0; i < 2; ++i) {
        modbus->trigger();
        QVERIFY(!rawOpen(*m_window));
        uart->trigger();
        QVERIFY(rawOpen(*m_window));
    }
    QVERIFY(deliver("ping\r\n"));
    QVERIFY(deliver("pong\n"));
    QTRY_COMPARE_WITH_TIMEOUT(lines(), QStringList({"ping", "pong"}), 5000);
}

void TestConsole::halfLineCompletedAfterReopen_data()
{
    QTest::addColumn<bool>("otherPort");
    QTest::newRow("same port") << false;
    QTest::newRow("another port") << true;
}

// A line that the port was closed in the middle of is completed by the next opening's text.
void TestConsole::halfLineCompletedAfterReopen()
{
    QFETCH(bool, otherPort);
    QVERIFY(openConsole());
    QVERIFY(deliver("done\npart"));
    QVERIFY(taken());
    QTRY_COMPARE_WITH_TIMEOUT(lines(), QStringList({"done"}), 5000);
    clickDisconnect();
    QVERIFY(!rawOpen(*m_window));

    if (otherPort) {
        m_otherPty = std::make_unique<PtyPair>();
        QVERIFY(m_otherPty->start());
        clickConnect(m_otherPty->programPort());
        QVERIFY(rawOpen(*m_window));
        QCOMPARE(rawPort(*m_window)->portName(), m_otherPty->programPort());
        m_peer = std::make_unique<QSerialPort>(m_otherPty->peerPort());
        QVERIFY(m_peer->open(QIODevice::ReadWrite));
    } else {
        QVERIFY(openConsole());
    }
    QVERIFY(deliver("ial\n"));
    QTRY_COMPARE_WITH_TIMEOUT(lines(), QStringList({"done", "partial"}), 5000);
    QVERIFY(deliver("next\n"));
    QTRY_COMPARE_WITH_TIMEOUT(lines(), QStringList({"done", "partial", "next"}), 5000);
}

void TestConsole::sendsExactBytes_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("how");

    const QString texts[] = {QStringLiteral("status"), QStringLiteral("привет, мир"), QStringLiteral("  a\tb  "),
        QString::fromUtf8("<\xf0\x9f\x98\x80> & \xe2\x82\xac")};
    const char* ways[] = {"button", "Return", "Enter"};
    for (const QString& text : texts) {
        for (int how = 0; how < 3; ++how)
            QTest::addRow("%s by %s", qPrintable(text), ways[how]) << text << how;
    }
}

// The command goes out as its UTF-8 bytes, nothing added: a second command sent
// right after follows it without anything between.
void TestConsole::sendsExactBytes()
{
    QFETCH(QString, command);
    QFETCH(int, how);
    QVERIFY(openConsole());
    auto* edit = m_window->findChild<QLineEdit*>(QStringLiteral("lineEdit_commandUart"));
    auto* send = m_window->findChild<QPushButton*>(QStringLiteral("pushButton_sendUart"));
    edit->setFocus();
    edit->setText(command);
    if (how == 0)
        QTest::mouseClick(send, Qt::LeftButton);
    else
        QTest::keyClick(edit, how == 1 ? Qt::Key_Return : Qt::Key_Enter);
    edit->setText(QStringLiteral("#"));
    QTest::mouseClick(send, Qt::LeftButton);
    const QByteArray expected = command.toUtf8() + "#";
    QCOMPARE(receive(expected.size()), expected);
    QCOMPARE(m_watcher->count(), 0);
}

void TestConsole::nothingSentWhenClosedOrEmpty()
{
    MainWindow& w = *m_window;
    auto* edit = w.findChild<QLineEdit*>(QStringLiteral("lineEdit_commandUart"));
    auto* send = w.findChild<QPushButton*>(QStringLiteral("pushButton_sendUart"));

    edit->setText(QStringLiteral("lost"));
    QTest::mouseClick(send, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(&w, Qt::Key_Enter);

    QVERIFY(openConsole());
    edit->clear();
    QTest::mouseClick(send, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_Return);

    edit->setText(QStringLiteral("Z"));
    QTest::mouseClick(send, Qt::LeftButton);
    QCOMPARE(receive(1), QByteArray("Z"));
    QCOMPARE(m_watcher->count(), 0);
}

void TestConsole::clearing_data()
{
    QTest::addColumn<bool>("byShift");
    QTest::newRow("Shift") << true;
    QTest::newRow("clear button") << false;
}

// Emptied, the console starts over: the next line is its first paragraph.
void TestConsole::clearing()
{
    QFETCH(bool, byShift);
    QVERIFY(openConsole());
    QVERIFY(deliver("one\ntwo\n"));
    QTRY_COMPARE_WITH_TIMEOUT(lines(), QStringList({"one", "two"}), 5000);
    if (byShift)
        QTest::keyClick(m_window.get(), Qt::Key_Shift);
    else
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("pushButton_clearConsole")), Qt::LeftButton);
    QVERIFY(m_console->document()->isEmpty());
    QVERIFY(deliver("three\n"));
    QTRY_COMPARE_WITH_TIMEOUT(lines(), QStringList({"three"}), 5000);
    QCOMPARE(m_console->document()->blockCount(), 1);
    QVERIFY(rawOpen(*m_window));
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
