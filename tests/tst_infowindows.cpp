// The help, about and identification windows of the real window; the firmware named
// in "about" comes from the simulated sensor over a pty pair.

#include "mainwindow.h"
#include "sensorlink.h"
#include "windowtest.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString aboutTitle = QStringLiteral("О программе Tarvex-Сервис");
const QString aboutStart = QStringLiteral("Tarvex-Сервис 1.7.1\n\nВерсия прошивки: ");
const QString noTableWarning = QStringLiteral("Внимание - не найдена таблица регистров");

struct BoxSeen {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Runs what opens a modal box, takes down what the box shows and closes it.
BoxSeen nextBox(const std::function<void()>& open)
{
    BoxSeen seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || seen.shown)
            return;
        seen.shown = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        box->done(QMessageBox::Ok);
    });
    poll.start(10);
    open();
    return seen;
}

QList<QDialog*> idWindows(MainWindow& w)
{
    QList<QDialog*> out;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog && !qobject_cast<QMessageBox*>(dialog) && dialog->isVisible() && dialog->findChild<QTableWidget*>()
            && dialog->windowTitle() == w.windowTitle())
            out << dialog;
    }
    return out;
}

} // namespace

class TestInfoWindows : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void help();
    void aboutWithoutFirmware();
    void aboutNamesFirmware_data();
    void aboutNamesFirmware();
    void firmwareOfFirstReadAfterConnect();

    void identificationWindows();
    void identificationWindowsGoWhenClosed();
    void identificationWindowsDoNotKeepProgramRunning();

private:
    void connectTo(const QString& port);
    QString aboutText();

    std::unique_ptr<ProgramDirFixture> m_dir;
    std::unique_ptr<MainWindow> m_window;
};

void TestInfoWindows::init()
{
    m_dir = std::make_unique<ProgramDirFixture>();
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestInfoWindows::cleanup()
{
    m_window.reset();
    m_dir.reset();
}

void TestInfoWindows::connectTo(const QString& port)
{
    auto* ports = m_window->findChild<QComboBox*>(QStringLiteral("comboBoxPorts"));
    ports->addItem(port);
    ports->setCurrentIndex(ports->count() - 1);
    QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("pushButtonOpenPort")), Qt::LeftButton);
}

QString TestInfoWindows::aboutText()
{
    auto* about = m_window->findChild<QAction*>(QStringLiteral("action_aboutSoftware"));
    const BoxSeen box = nextBox([about] { about->trigger(); });
    if (!box.shown)
        return QStringLiteral("(no box)");
    if (box.title != aboutTitle)
        return QStringLiteral("(box titled %1)").arg(box.title);
    return box.text;
}

void TestInfoWindows::help()
{
    auto* button = m_window->findChild<QPushButton*>(QStringLiteral("pushButton_help"));
    const BoxSeen box = nextBox([button] { QTest::mouseClick(button, Qt::LeftButton); });
    QVERIFY(box.shown);
    QCOMPARE(box.title, QStringLiteral("Справка по работе с графиками"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.text.size(), 1107);
    const QStringList paragraphs = box.text.split(QStringLiteral("\n\n"));
    QCOMPARE(paragraphs.size(), 9);
    QVERIFY(paragraphs.last().isEmpty());
    for (int i = 0; i < 8; ++i) {
        QVERIFY2(!paragraphs.at(i).trimmed().isEmpty(), qPrintable(QString::number(i)));
        QVERIFY2(!paragraphs.at(i).contains(QLatin1Char('\n')), qPrintable(paragraphs.at(i)));
    }
    QVERIFY(paragraphs.first().startsWith(QStringLiteral("Чтобы запустить процесс отрисовки графика")));
    QVERIFY(paragraphs.at(7).endsWith(QStringLiteral("\"Очистить график\".")));
    QVERIFY(!box.text.contains(QChar::ReplacementCharacter));
}

void TestInfoWindows::aboutWithoutFirmware()
{
    const QString text = aboutText();
    QVERIFY2(text.startsWith(aboutStart + QStringLiteral("недоступно")), qPrintable(text));
}

void TestInfoWindows::aboutNamesFirmware_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("setVersion");
    QTest::addColumn<QString>("register1");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<bool>("hasTable");

    QTest::newRow("14") << QStringList({"--version", "14"}) << QString() << "14" << "Tarvex_MAIN_14.bin" << true;
    QTest::newRow("10013") << QStringList({"--version", "10013"}) << QString() << "10013" << "Tarvex_MAIN_10013.bin"
                           << true;
    QTest::newRow("-3") << QStringList() << "set 1 65533" << "-3" << "Tarvex_MAIN_-3.bin" << false;
}

void TestInfoWindows::aboutNamesFirmware()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, setVersion);
    QFETCH(QString, register1);
    QFETCH(QString, firmware);
    QFETCH(bool, hasTable);

    SensorLink sensor;
    QVERIFY2(sensor.start(simArgs), qPrintable(sensor.errorString()));
    if (!setVersion.isEmpty())
        QVERIFY(sensor.command(setVersion));
    auto watcher = std::make_unique<ModalWatcher>();
    connectTo(sensor.programPort());
    auto* table = m_window->findChild<QTableWidget*>(QStringLiteral("tableCfg"));
    QTRY_VERIFY_WITH_TIMEOUT(table->item(2, 2) && table->item(2, 2)->text() == register1, 10000);
    if (!hasTable)
        QTRY_VERIFY_WITH_TIMEOUT(watcher->count() > 0, 5000);
    QCOMPARE(watcher->seen().filter(noTableWarning).size(), hasTable ? 0 : 1);
    // From here on the about box is looked at, not just closed.
    watcher.reset();

    const QString text = aboutText();
    const QString expected = aboutStart + firmware;
    QVERIFY2(text.startsWith(expected), qPrintable(text));
    QVERIFY2(text.size() == expected.size() || text.at(expected.size()) == QLatin1Char('\n'), qPrintable(text));
}

// Only the first configuration read after a connect says which firmware is there.
void TestInfoWindows::firmwareOfFirstReadAfterConnect()
{
    SensorLink sensor;
    QVERIFY(sensor.start({QStringLiteral("--version"), QStringLiteral("14")}));
    connectTo(sensor.programPort());
    auto* table = m_window->findChild<QTableWidget*>(QStringLiteral("tableCfg"));
    QTRY_VERIFY_WITH_TIMEOUT(table->item(2, 2) && table->item(2, 2)->text() == QLatin1String("14"), 10000);

    QVERIFY(sensor.command(QStringLiteral("set 1 12")));
    QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("pushButtonCfgRead")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(table->item(2, 2)->text() == QLatin1String("12"), 10000);
    QVERIFY2(aboutText().startsWith(aboutStart + QStringLiteral("Tarvex_MAIN_14.bin")), qPrintable(aboutText()));

    auto* openButton = m_window->findChild<QPushButton*>(QStringLiteral("pushButtonOpenPort"));
    QTest::mouseClick(openButton, Qt::LeftButton);
    QCOMPARE(openButton->text(), QStringLiteral("Подключиться"));
    connectTo(sensor.programPort());
    QTRY_VERIFY_WITH_TIMEOUT(aboutText().startsWith(aboutStart + QStringLiteral("Tarvex_MAIN_12.bin")), 10000);
}

// Each trigger opens one more window of its own, and they are all alike.
void TestInfoWindows::identificationWindows()
{
    auto* action = m_window->findChild<QAction*>(QStringLiteral("action_softwareIdData"));
    QVERIFY(idWindows(*m_window).isEmpty());
    for (int i = 1; i <= 3; ++i) {
        action->trigger();
        QCOMPARE(idWindows(*m_window).size(), i);
    }
    QVERIFY(!QApplication::activeModalWidget());

    const QStringList headers = {QStringLiteral("Наименование\nпрограммного\nобеспечения"),
        QStringLiteral("Идентификационное\nнаименование ПО"), QStringLiteral("Номер версии\n(идентификационный\nномер) ПО"),
        QStringLiteral("Цифровой\nидентификатор\nПО")};
    const QStringList cells = {QStringLiteral("Встроенное ПО"), QStringLiteral("Tarvex_MAIN_14.bin"),
        QStringLiteral("Не ниже 14"), QStringLiteral("-"), QStringLiteral("Внешнее ПО"),
        QStringLiteral("Tarvex_Service.exe"), QStringLiteral("Не ниже 1.7.1"), QStringLiteral("-")};
    const QList<QDialog*> windows = idWindows(*m_window);
    for (QDialog* window : windows) {
        QVERIFY(!window->isModal());
        QVERIFY(window->isWindow());
        QCOMPARE(window->windowTitle(), m_window->windowTitle());
        QVERIFY(window->minimumWidth() >= 520);
        QVERIFY(window->minimumHeight() >= 200);
        QVERIFY(window->width() >= 520 && window->height() >= 200);

        const auto tables = window->findChildren<QTableWidget*>();
        QCOMPARE(tables.size(), 1);
        QTableWidget* table = tables.first();
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->columnCount(), 4);
        QCOMPARE(table->horizontalHeader()->styleSheet(), QStringLiteral("font-weight: bold;"));
        QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
        QStringList headerTexts;
        QStringList cellTexts;
        for (int column = 0; column < 4; ++column)
            headerTexts << table->horizontalHeaderItem(column)->text();
        for (int row = 0; row < 2; ++row) {
            for (int column = 0; column < 4; ++column) {
                QTableWidgetItem* item = table->item(row, column);
                QVERIFY(item);
                cellTexts << item->text();
                QVERIFY(item->flags() & Qt::ItemIsSelectable);
                QVERIFY(item->flags() & Qt::ItemIsEnabled);
            }
        }
        QCOMPARE(headerTexts, headers);
        QCOMPARE(cellTexts, cells);

        // Selectable but not editable, not even by a double click or typing.
        QTableWidgetItem* item = table->item(1, 1);
        table->setCurrentItem(item);
        QVERIFY(item->isSelected());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, table->visualItemRect(item).center());
        QTest::keyClick(table, Qt::Key_F2);
        QTest::keyClicks(table, QStringLiteral("zz"));
        QCOMPARE(item->text(), QStringLiteral("Tarvex_Service.exe"));
        QVERIFY(!table->findChild<QLineEdit*>());
    }
}

void TestInfoWindows::identificationWindowsGoWhenClosed()
{
    auto* action = m_window->findChild<QAction*>(QStringLiteral("action_softwareIdData"));
    action->trigger();
    action->trigger();
    action->trigger();
    const QList<QDialog*> windows = idWindows(*m_window);
    QCOMPARE(windows.size(), 3);
    QList<QPointer<QDialog>> watched;
    for (QDialog* window : windows)
        watched << window;

    QVERIFY(watched.at(1)->close());
    QTRY_VERIFY_WITH_TIMEOUT(watched.at(1).isNull(), 5000);
    QVERIFY(!watched.at(0).isNull() && !watched.at(2).isNull());
    QCOMPARE(idWindows(*m_window).size(), 2);

    // Those still open go with the main window.
    m_window.reset();
    QVERIFY(watched.at(0).isNull());
    QVERIFY(watched.at(2).isNull());
}

// With the main window closed, the program ends even while identification windows
// are still open.
void TestInfoWindows::identificationWindowsDoNotKeepProgramRunning()
{
    QVERIFY(qApp->quitOnLastWindowClosed());
    auto* action = m_window->findChild<QAction*>(QStringLiteral("action_softwareIdData"));
    action->trigger();
    action->trigger();
    action->trigger();
    QList<QPointer<QDialog>> watched;
    for (QDialog* window : idWindows(*m_window)) {
        QVERIFY(QTest::qWaitForWindowExposed(window));
        watched << window;
    }
    QCOMPARE(watched.size(), 3);

    MainWindow* window = m_window.get();
    QTimer::singleShot(0, window, [window] { window->close(); });
    // Should the program go on running, this ends the wait with another code.
    QTimer stillRunning;
    stillRunning.setSingleShot(true);
    QObject::connect(&stillRunning, &QTimer::timeout, [] { QCoreApplication::exit(42); });
    stillRunning.start(10000);
    QCOMPARE(QApplication::exec(), 0);
    // Quitting closes what is still open, and closed they are released.
    for (const QPointer<QDialog>& window : watched)
        QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 5000);
}

QTEST_MAIN(TestInfoWindows)
#include "tst_infowindows.moc"
