// The window as it comes up: title, tabs, menus, controls in their first state,
// and the way out through the "Выход" item.

#include "mainwindow.h"
#include "windowtest.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace {

QStringList textsOf(const QList<QAction*>& actions)
{
    QStringList out;
    for (QAction* action : actions)
        out << (action->isSeparator() ? QStringLiteral("<separator>") : action->text());
    return out;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void titleAndTabs();
    void menus();
    void controlsAtStart();
    void quietStart();
    void showsAndPaints();
    // Runs the application's own event loop: keep it last.
    void exitItemEndsEventLoopWithZero();

private:
    template <typename T>
    static T* child(MainWindow& w, const char* name)
    {
        T* found = w.findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qWarning("no child %s", name);
        return found;
    }
};

void TestStartup::titleAndTabs()
{
    ProgramDirFixture dir;
    MainWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarvex-Сервис"));
    auto* tabs = child<QTabWidget>(w, "tabWidget");
    QVERIFY(tabs);
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i)
        titles << tabs->tabText(i);
    QCOMPARE(titles, (QStringList{"Конфигурация", "Данные", "Консоль", "Графики"}));
    QCOMPARE(tabs->currentIndex(), 0);
}

void TestStartup::menus()
{
    ProgramDirFixture dir;
    MainWindow w;
    QCOMPARE(textsOf(w.menuBar()->actions()), (QStringList{"Сервис", "Настройки"}));

    auto* service = child<QMenu>(w, "menuService");
    QVERIFY(service);
    QCOMPARE(service->title(), QStringLiteral("Сервис"));
    QCOMPARE(textsOf(service->actions()),
        (QStringList{"Идентификационные данные ПО", "О программе...", "<separator>", "Выход"}));
    QCOMPARE(service->actions().at(0), child<QAction>(w, "action_softwareIdData"));
    QCOMPARE(service->actions().at(1), child<QAction>(w, "action_aboutSoftware"));
    QCOMPARE(service->actions().at(3), child<QAction>(w, "action_exit"));

    auto* settings = child<QMenu>(w, "menuSettings");
    QVERIFY(settings);
    QCOMPARE(settings->title(), QStringLiteral("Настройки"));
    const QList<QAction*> entries = settings->actions();
    QCOMPARE(entries.size(), 5);
    QStringList submenuTitles;
    for (QAction* entry : entries) {
        QVERIFY2(entry->menu(), qPrintable(entry->text()));
        QVERIFY(!entry->menu()->actions().isEmpty());
        submenuTitles << entry->menu()->title();
    }
    QCOMPARE(submenuTitles, (QStringList{"Скорость обмена", "Количество битов данных", "Контроль четности",
                                "Количество стоп битов", "Протокол"}));
}

void TestStartup::controlsAtStart()
{
    ProgramDirFixture dir;
    MainWindow w;
    auto* open = child<QPushButton>(w, "pushButtonOpenPort");
    auto* read = child<QPushButton>(w, "pushButtonCfgRead");
    auto* write = child<QPushButton>(w, "pushButtonCfgWrite");
    auto* address = child<QLineEdit>(w, "lineEdiSlaveAddr");
    auto* period = child<QSpinBox>(w, "spinBoxStatusTime");
    auto* vibro = child<QComboBox>(w, "comboBox_vibroparameter");
    QVERIFY(open && read && write && address && period && vibro);

    QCOMPARE(open->text(), QStringLiteral("Подключиться"));
    QVERIFY(open->isEnabled());
    QVERIFY(!read->isEnabled());
    QVERIFY(!write->isEnabled());
    QCOMPARE(read->text(), QStringLiteral("Считать все"));
    QCOMPARE(write->text(), QStringLiteral("Записать"));
    QCOMPARE(address->text(), QStringLiteral("1"));
    QCOMPARE(period->minimum(), 1);
    QCOMPARE(period->maximum(), 10000);
    QCOMPARE(period->singleStep(), 50);
    QCOMPARE(period->value(), 1000);
    for (const char* name : {"checkBox_need_to_plot", "checkBox_consoleViewTime", "checkBox_consoleAutoscroll"}) {
        auto* box = child<QCheckBox>(w, name);
        QVERIFY2(box, name);
        QVERIFY2(!box->isChecked(), name);
    }
    QStringList quantities;
    for (int i = 0; i < vibro->count(); ++i)
        quantities << vibro->itemText(i);
    QCOMPARE(quantities, (QStringList{"Виброускорение", "Виброскорость", "Виброперемещение"}));
    QCOMPARE(vibro->currentIndex(), 0);
}

// With its tables in place the window starts without a word: no box, no message,
// no log line.
void TestStartup::quietStart()
{
    ProgramDirFixture dir;
    ModalWatcher modals;
    MainWindow w;
    QCOMPARE(modals.seen(), QStringList());
    QCOMPARE(w.statusBar()->currentMessage(), QString());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("log.txt"))));
}

void TestStartup::showsAndPaints()
{
    ProgramDirFixture dir;
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* tabs = child<QTabWidget>(w, "tabWidget");
    QVERIFY(tabs);
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        const QPixmap shot = w.grab();
        QVERIFY(!shot.isNull());
        QCOMPARE(shot.size(), w.size());
    }
    tabs->setCurrentIndex(0);
}

void TestStartup::exitItemEndsEventLoopWithZero()
{
    ProgramDirFixture dir;
    MainWindow w;
    w.show();
    auto* exitAction = child<QAction>(w, "action_exit");
    QVERIFY(exitAction);
    QTimer::singleShot(0, exitAction, &QAction::trigger);
    // Only there so a broken item fails the test instead of hanging it.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    const int code = QCoreApplication::exec();
    QVERIFY2(guard.isActive(), "the event loop did not end on the exit item");
    QCOMPARE(code, 0);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
