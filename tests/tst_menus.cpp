// The line-settings menus of the real window: what they offer, that a choice reaches
// the serial line at the next open (read back from the tty itself), and the protocol
// switch-over between the Modbus master and the raw console port.

#include "mainwindow.h"
#include "ptypair.h"
#include "sensorlink.h"
#include "windowtest.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QModbusClient>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTextEdit>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

namespace {

const QString baudMenu = QStringLiteral("Скорость обмена");
const QString dataMenu = QStringLiteral("Количество битов данных");
const QString parityMenu = QStringLiteral("Контроль четности");
const QString stopMenu = QStringLiteral("Количество стоп битов");
const QString protocolMenu = QStringLiteral("Протокол");
const QString modbusItem = QStringLiteral("Modbus RTU (по умолчанию)");
const QString uartItem = QStringLiteral("UART");
const QString connectCaption = QStringLiteral("Подключиться");
const QString disconnectCaption = QStringLiteral("Отключиться");

QMenu* settingsSubmenu(MainWindow& w, const QString& title)
{
    auto* settings = w.findChild<QMenu*>(QStringLiteral("menuSettings"));
    if (!settings)
        return nullptr;
    for (QAction* action : settings->actions()) {
        if (action->menu() && action->text() == title)
            return action->menu();
    }
    return nullptr;
}

QAction* settingsItem(MainWindow& w, const QString& title, const QString& text)
{
    QMenu* menu = settingsSubmenu(w, title);
    if (!menu)
        return nullptr;
    for (QAction* action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

// An empty text leaves the setting as it is.
bool choose(MainWindow& w, const QString& title, const QString& text)
{
    if (text.isEmpty())
        return true;
    QAction* action = settingsItem(w, title, text);
    if (!action)
        return false;
    action->trigger();
    return true;
}


bool masterConnected(MainWindow& w)
{
    auto* master = w.findChild<QModbusClient*>();
    return master && master->state() == QModbusDevice::ConnectedState;
}

QPushButton* button(MainWindow& w, const char* name)
{
    return w.findChild<QPushButton*>(QLatin1String(name));
}

QString caption(MainWindow& w)
{
    return button(w, "pushButtonOpenPort")->text();
}

// The port list is refreshed from the system every few seconds and drops a pty, so
// the entry goes in right before the click.
void clickConnect(MainWindow& w, const QString& entry)
{
    auto* ports = w.findChild<QComboBox*>(QStringLiteral("comboBoxPorts"));
    ports->addItem(entry);
    ports->setCurrentIndex(ports->count() - 1);
    QTest::mouseClick(button(w, "pushButtonOpenPort"), Qt::LeftButton);
}

void clickDisconnect(MainWindow& w)
{
    QTest::mouseClick(button(w, "pushButtonOpenPort"), Qt::LeftButton);
}

QSerialPort* masterPort(MainWindow& w)
{
    auto* master = w.findChild<QModbusClient*>();
    return master ? master->findChild<QSerialPort*>() : nullptr;
}

speed_t termiosSpeed(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

QString lineText(uint inSpeed, uint outSpeed, bool twoStopBits, int oddness, int baudIn, int baudOut, int data,
    int parity, int stop, int flow)
{
    return QStringLiteral("tty speed %1/%2 two stops %3 odd %4 | port baud %5/%6 data %7 parity %8 stop %9 flow %10")
        .arg(inSpeed)
        .arg(outSpeed)
        .arg(twoStopBits)
        .arg(oddness)
        .arg(baudIn)
        .arg(baudOut)
        .arg(data)
        .arg(parity)
        .arg(stop)
        .arg(flow);
}

QString expectedLine(int baud, int data, int parity, int stop)
{
    const int oddness = parity == QSerialPort::NoParity ? -1 : parity == QSerialPort::OddParity;
    return lineText(uint(termiosSpeed(baud)), uint(termiosSpeed(baud)), stop == QSerialPort::TwoStop, oddness, baud,
        baud, data, parity, stop, QSerialPort::NoFlowControl);
}

// What the line was opened with. termios belongs to the tty, not to one open of it, so
// a second descriptor sees what the window set; but the pty driver forces CS8 and
// clears PARENB, so the character size and whether there is parity come from the
// port object that opened the line.
QString openedLine(MainWindow& w, bool uart, const QString& path)
{
    QSerialPort* port = uart ? rawPort(w) : masterPort(w);
    if (!port || !port->isOpen())
        return QStringLiteral("not open");
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return QStringLiteral("cannot open %1").arg(path);
    termios tio {};
    const bool read = ::tcgetattr(fd, &tio) == 0;
    ::close(fd);
    if (!read)
        return QStringLiteral("no termios");
    const int oddness = port->parity() == QSerialPort::NoParity ? -1 : (tio.c_cflag & PARODD) != 0;
    return lineText(uint(cfgetispeed(&tio)), uint(cfgetospeed(&tio)), (tio.c_cflag & CSTOPB) != 0, oddness,
        port->baudRate(QSerialPort::Input), port->baudRate(QSerialPort::Output), port->dataBits(), port->parity(),
        port->stopBits(), port->flowControl());
}

} // namespace

class TestMenus : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void submenusInOrder();
    void submenuItems_data();
    void submenuItems();

    void choicesReachTheLine_data();
    void choicesReachTheLine();
    void choiceWhileOpenWaitsForNextOpen_data();
    void choiceWhileOpenWaitsForNextOpen();
    void oneAndHalfStopBitsStillOpens();

    void protocolAloneWithNoLinkOpen();
    void switchToUartTakesOverTheLine();
    void switchToModbusTakesOverTheLine();
    void switchOverWhoseNewLinkFails_data();
    void switchOverWhoseNewLinkFails();

private:
    std::unique_ptr<ProgramDirFixture> m_dir;
    std::unique_ptr<ModalWatcher> m_watcher;
    std::unique_ptr<MainWindow> m_window;
};

void TestMenus::init()
{
    m_dir = std::make_unique<ProgramDirFixture>();
    m_watcher = std::make_unique<ModalWatcher>();
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestMenus::cleanup()
{
    m_window.reset();
    m_watcher.reset();
    m_dir.reset();
}

void TestMenus::submenusInOrder()
{
    auto* settings = m_window->findChild<QMenu*>(QStringLiteral("menuSettings"));
    QVERIFY(settings);
    QStringList titles;
    for (QAction* action : settings->actions()) {
        QVERIFY2(action->menu(), qPrintable(action->text()));
        titles << action->text();
        QVERIFY(action->shortcut().isEmpty());
    }
    QCOMPARE(titles, QStringList({baudMenu, dataMenu, parityMenu, stopMenu, protocolMenu}));
}

void TestMenus::submenuItems_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("marked");

    QTest::newRow("baud") << baudMenu
                          << QStringList({"1200", "2400", "4800", "9600", "19200", "38400", "57600",
                                 "115200 (по умолчанию)"})
                          << 7;
    QTest::newRow("data bits") << dataMenu << QStringList({"5", "6", "7", "8 (по умолчанию)"}) << 3;
    QTest::newRow("parity") << parityMenu << QStringList({"Без контроля (по умолчанию)", "Четность", "Нечетность"})
                            << 0;
    QTest::newRow("stop bits") << stopMenu << QStringList({"1 (по умолчанию)", "1.5", "2"}) << 0;
    QTest::newRow("protocol") << protocolMenu << QStringList({modbusItem, uartItem}) << 0;
}

// Each submenu is one exclusive choice: the default is marked at start, and picking an
// item moves the mark there and leaves the other submenus alone.
void TestMenus::submenuItems()
{
    QFETCH(QString, title);
    QFETCH(QStringList, items);
    QFETCH(int, marked);

    QMenu* menu = settingsSubmenu(*m_window, title);
    QVERIFY(menu);
    const QList<QAction*> actions = menu->actions();
    QStringList texts;
    for (QAction* action : actions)
        texts << action->text();
    QCOMPARE(texts, items);

    QActionGroup* group = actions.first()->actionGroup();
    QVERIFY(group);
    QVERIFY(group->isExclusive());
    QCOMPARE(group->actions(), actions);
    for (int i = 0; i < actions.size(); ++i) {
        QAction* action = actions.at(i);
        QVERIFY2(action->isCheckable(), qPrintable(action->text()));
        QVERIFY2(action->shortcuts().isEmpty(), qPrintable(action->text()));
        QCOMPARE(action->isChecked(), i == marked);
    }

    // Nothing is open, so even the protocol items only move their mark here.
    const auto checkedElsewhere = [this, &title] {
        QStringList marks;
        for (QAction* sub : m_window->findChild<QMenu*>(QStringLiteral("menuSettings"))->actions()) {
            if (sub->text() == title)
                continue;
            for (QAction* action : sub->menu()->actions()) {
                if (action->isChecked())
                    marks << action->text();
            }
        }
        return marks;
    };
    const QStringList others = checkedElsewhere();
    QCOMPARE(others.size(), 4);
    for (int pick : {0, int(actions.size()) - 1, int(actions.size()) / 2, 0}) {
        actions.at(pick)->trigger();
        for (int i = 0; i < actions.size(); ++i)
            QCOMPARE(actions.at(i)->isChecked(), i == pick);
        QCOMPARE(checkedElsewhere(), others);
    }
    QCOMPARE(m_watcher->count(), 0);
    QCOMPARE(caption(*m_window), connectCaption);
}

void TestMenus::choicesReachTheLine_data()
{
    QTest::addColumn<bool>("uart");
    QTest::addColumn<QString>("baudItem");
    QTest::addColumn<QString>("dataItem");
    QTest::addColumn<QString>("parityItem");
    QTest::addColumn<QString>("stopItem");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stop");

    const QString none = QStringLiteral("Без контроля (по умолчанию)");
    const QString even = QStringLiteral("Четность");
    const QString odd = QStringLiteral("Нечетность");
    const int N = QSerialPort::NoParity, E = QSerialPort::EvenParity, O = QSerialPort::OddParity;
    for (const bool uart : {true, false}) {
        const char* link = uart ? "uart" : "modbus";
        QTest::addRow("%s defaults", link) << uart << QString() << QString() << QString() << QString() << 115200 << 8
                                           << N << 1;
        QTest::addRow("%s 1200 5E2", link) << uart << "1200" << "5" << even << "2" << 1200 << 5 << E << 2;
        QTest::addRow("%s 2400 6O1", link) << uart << "2400" << "6" << odd << "1 (по умолчанию)" << 2400 << 6 << O << 1;
        QTest::addRow("%s 4800 7N2", link) << uart << "4800" << "7" << none << "2" << 4800 << 7 << N << 2;
        QTest::addRow("%s 9600 8E1", link) << uart << "9600" << "8 (по умолчанию)" << even << QString() << 9600 << 8 << E
                                           << 1;
        QTest::addRow("%s 19200 7O2", link) << uart << "19200" << "7" << odd << "2" << 19200 << 7 << O << 2;
        QTest::addRow("%s 38400 6N1", link) << uart << "38400" << "6" << QString() << QString() << 38400 << 6 << N << 1;
        QTest::addRow("%s 57600 5O2", link) << uart << "57600" << "5" << odd << "2" << 57600 << 5 << O << 2;
        QTest::addRow("%s back to 115200 8N1", link) << uart << "115200 (по умолчанию)" << "8 (по умолчанию)" << none
                                                     << "1 (по умолчанию)" << 115200 << 8 << N << 1;
    }
}

// Whichever link opens the line, it opens it with what the menus hold.
void TestMenus::choicesReachTheLine()
{
    QFETCH(bool, uart);
    QFETCH(QString, baudItem);
    QFETCH(QString, dataItem);
    QFETCH(QString, parityItem);
    QFETCH(QString, stopItem);
    QFETCH(int, baud);
    QFETCH(int, data);
    QFETCH(int, parity);
    QFETCH(int, stop);

    PtyPair pty;
    QVERIFY(pty.start());
    MainWindow& w = *m_window;
    // The way back to the defaults only counts if the settings were elsewhere first.
    if (baudItem.startsWith(QLatin1String("115200"))) {
        QVERIFY(choose(w, baudMenu, QStringLiteral("1200")));
        QVERIFY(choose(w, dataMenu, QStringLiteral("5")));
        QVERIFY(choose(w, parityMenu, QStringLiteral("Нечетность")));
        QVERIFY(choose(w, stopMenu, QStringLiteral("2")));
    }
    QVERIFY(choose(w, baudMenu, baudItem));
    QVERIFY(choose(w, dataMenu, dataItem));
    QVERIFY(choose(w, parityMenu, parityItem));
    QVERIFY(choose(w, stopMenu, stopItem));
    if (uart)
        QVERIFY(choose(w, protocolMenu, uartItem));

    clickConnect(w, pty.programPort());
    QCOMPARE(m_watcher->seen(), QStringList());
    QVERIFY(uart ? rawOpen(w) : masterConnected(w));
    QVERIFY(!(uart ? masterConnected(w) : rawOpen(w)));
    QCOMPARE(caption(w), disconnectCaption);
    QCOMPARE(openedLine(w, uart, pty.programPort()), expectedLine(baud, data, parity, stop));

    clickDisconnect(w);
    QVERIFY(!rawOpen(w));
    QVERIFY(!masterConnected(w));
    QCOMPARE(caption(w), connectCaption);
}

void TestMenus::choiceWhileOpenWaitsForNextOpen_data()
{
    QTest::addColumn<bool>("uart");
    QTest::newRow("uart") << true;
    QTest::newRow("modbus") << false;
}

void TestMenus::choiceWhileOpenWaitsForNextOpen()
{
    QFETCH(bool, uart);

    PtyPair pty;
    QVERIFY(pty.start());
    MainWindow& w = *m_window;
    if (uart)
        QVERIFY(choose(w, protocolMenu, uartItem));
    clickConnect(w, pty.programPort());
    QVERIFY(uart ? rawOpen(w) : masterConnected(w));

    QVERIFY(choose(w, baudMenu, QStringLiteral("9600")));
    QVERIFY(choose(w, dataMenu, QStringLiteral("7")));
    QVERIFY(choose(w, parityMenu, QStringLiteral("Нечетность")));
    QVERIFY(choose(w, stopMenu, QStringLiteral("2")));

    // The open line is left as it was opened.
    QVERIFY(uart ? rawOpen(w) : masterConnected(w));
    QCOMPARE(caption(w), disconnectCaption);
    QCOMPARE(openedLine(w, uart, pty.programPort()), expectedLine(115200, 8, QSerialPort::NoParity, 1));

    clickDisconnect(w);
    QVERIFY(!rawOpen(w) && !masterConnected(w));
    clickConnect(w, pty.programPort());
    QVERIFY(uart ? rawOpen(w) : masterConnected(w));
    QCOMPARE(openedLine(w, uart, pty.programPort()), expectedLine(9600, 7, QSerialPort::OddParity, 2));
    QCOMPARE(m_watcher->count(), 0);
}

// Linux has no 1.5 stop bits; the choice must still leave a port that opens.
void TestMenus::oneAndHalfStopBitsStillOpens()
{
    PtyPair pty;
    QVERIFY(pty.start());
    MainWindow& w = *m_window;
    QVERIFY(choose(w, stopMenu, QStringLiteral("1.5")));
    QVERIFY(choose(w, protocolMenu, uartItem));
    clickConnect(w, pty.programPort());
    QCOMPARE(m_watcher->seen(), QStringList());
    QVERIFY(rawOpen(w));
    QCOMPARE(rawPort(w)->stopBits(), QSerialPort::OneAndHalfStop);
    QCOMPARE(caption(w), disconnectCaption);
}

void TestMenus::protocolAloneWithNoLinkOpen()
{
    PtyPair pty;
    QVERIFY(pty.start());
    MainWindow& w = *m_window;

    QVERIFY(choose(w, protocolMenu, uartItem));
    QVERIFY(!rawOpen(w) && !masterConnected(w));
    QCOMPARE(caption(w), connectCaption);
    clickConnect(w, pty.programPort());
    QVERIFY(rawOpen(w));
    QVERIFY(!masterConnected(w));
    clickDisconnect(w);

    QVERIFY(choose(w, protocolMenu, modbusItem));
    QVERIFY(!rawOpen(w) && !masterConnected(w));
    QCOMPARE(caption(w), connectCaption);
    clickConnect(w, pty.programPort());
    QVERIFY(masterConnected(w));
    QVERIFY(!rawOpen(w));
    clickDisconnect(w);
    QVERIFY(!masterConnected(w));
    QCOMPARE(m_watcher->count(), 0);
}

// Switching to UART while the master is connected hands the line to the console port,
// opened with the stored settings, not with those the master was opened with.
void TestMenus::switchToUartTakesOverTheLine()
{
    PtyPair pty;
    QVERIFY(pty.start());
    MainWindow& w = *m_window;
    clickConnect(w, pty.programPort());
    QVERIFY(masterConnected(w));
    QVERIFY(button(w, "pushButtonCfgRead")->isEnabled());
    QCOMPARE(caption(w), disconnectCaption);

    QVERIFY(choose(w, baudMenu, QStringLiteral("19200")));
    QVERIFY(choose(w, parityMenu, QStringLiteral("Четность")));
    QVERIFY(choose(w, protocolMenu, uartItem));

    QVERIFY(!masterConnected(w));
    QVERIFY(rawOpen(w));
    QCOMPARE(rawPort(w)->portName(), pty.programPort());
    QVERIFY(!button(w, "pushButtonCfgRead")->isEnabled());
    QVERIFY(!button(w, "pushButtonCfgWrite")->isEnabled());
    QCOMPARE(caption(w), disconnectCaption);
    QCOMPARE(openedLine(w, true, pty.programPort()), expectedLine(19200, 8, QSerialPort::EvenParity, 1));

    // The console now owns the line: what the other end says shows up there.
    QSerialPort peer(pty.peerPort());
    QVERIFY(peer.open(QIODevice::ReadWrite));
    peer.write("after switch\n");
    auto* console = w.findChild<QTextEdit*>(QStringLiteral("console"));
    QTRY_COMPARE_WITH_TIMEOUT(console->toPlainText(), QStringLiteral("after switch"), 5000);

    clickDisconnect(w);
    QVERIFY(!rawOpen(w) && !masterConnected(w));
    QCOMPARE(caption(w), connectCaption);
    QCOMPARE(m_watcher->count(), 0);
}

// Back to Modbus: the console port lets go, the master connects and reads the
// configuration at once.
void TestMenus::switchToModbusTakesOverTheLine()
{
    SensorLink sensor;
    QVERIFY(sensor.start({QStringLiteral("--version"), QStringLiteral("12")}));
    MainWindow& w = *m_window;
    QVERIFY(choose(w, protocolMenu, uartItem));
    clickConnect(w, sensor.programPort());
    QVERIFY(rawOpen(w));
    QVERIFY(!button(w, "pushButtonCfgRead")->isEnabled());
    QCOMPARE(sensor.journal().size(), 0);

    QVERIFY(choose(w, protocolMenu, modbusItem));
    QVERIFY(!rawOpen(w));
    QVERIFY(masterConnected(w));
    QVERIFY(button(w, "pushButtonCfgRead")->isEnabled());
    QCOMPARE(caption(w), disconnectCaption);

    QVERIFY(sensor.waitForRequests(1));
    const SensorLink::Request first = sensor.journal().first();
    QCOMPARE(first.function, 3);
    QCOMPARE(first.address, 0);
    QCOMPARE(first.count, 13);
    auto* table = w.findChild<QTableWidget*>(QStringLiteral("tableCfg"));
    QTRY_VERIFY_WITH_TIMEOUT(table->item(2, 2) && table->item(2, 2)->text() == QLatin1String("12"), 5000);

    clickDisconnect(w);
    QVERIFY(!masterConnected(w));
    QCOMPARE(caption(w), connectCaption);
    QCOMPARE(m_watcher->count(), 0);
}

void TestMenus::switchOverWhoseNewLinkFails_data()
{
    QTest::addColumn<bool>("toUart");
    QTest::newRow("modbus to uart") << true;
    QTest::newRow("uart to modbus") << false;
}

// The old link closes; when the new one cannot open, nothing is left open and the
// button says so.
void TestMenus::switchOverWhoseNewLinkFails()
{
    QFETCH(bool, toUart);

    PtyPair pty;
    QVERIFY(pty.start());
    MainWindow& w = *m_window;
    if (!toUart)
        QVERIFY(choose(w, protocolMenu, uartItem));
    clickConnect(w, pty.programPort());
    QVERIFY(toUart ? masterConnected(w) : rawOpen(w));

    // The port goes away, and the switch comes before the window hears of it.
    pty.cut();
    QVERIFY(!QFile::exists(pty.programPort()));
    QVERIFY(choose(w, protocolMenu, toUart ? uartItem : modbusItem));

    QVERIFY(!masterConnected(w));
    QVERIFY(!rawOpen(w));
    QCOMPARE(caption(w), connectCaption);
    QVERIFY(!button(w, "pushButtonCfgRead")->isEnabled());
    QVERIFY(!button(w, "pushButtonCfgWrite")->isEnabled());
    if (toUart) {
        QCOMPARE(m_watcher->seen(), QStringList({QStringLiteral("Ошибка | Выбранный порт недоступен")}));
    } else {
        QCOMPARE(m_watcher->count(), 0);
        QVERIFY2(w.statusBar()->currentMessage().startsWith(QStringLiteral("Ошибка подключения")),
            qPrintable(w.statusBar()->currentMessage()));
    }
}

QTEST_MAIN(TestMenus)
#include "tst_menus.moc"
