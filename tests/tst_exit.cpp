// "Выход" of the current edition's real window while a write pass waits in the event loop,
// with the simulated sensor. The exit leaves every later event loop of the process ending
// at once, so it has this program to itself.

#include <QAction>
#include <QElapsedTimer>
#include <QTest>

#include "linkedwindow.h"

class TestExit : public QObject
{
    Q_OBJECT

private slots:
    void exitEndsWritePass();
};

// The program ends with 0 as soon as the pass has returned, and the pass ends at once:
// nothing more is written, nothing is shown or logged as a failure, and no row the sensor
// took turns red or blue.
void TestExit::exitEndsWritePass()
{
    LinkedWindow t;
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    QVERIFY(t.connectToSensor());
    QVERIFY(t.stopPollsAndSettle());
    t.link.clearJournal();
    const QList<int> ticked = {3, 4, 6, 7, 8, 9};
    const QStringList all = {"0:0:ok", "2:7:ok", "0:0:ok", "3:100:ok", "0:0:ok", "5:65534:ok", "0:0:ok", "6:10:ok",
        "0:0:ok", "7:1:ok", "0:0:ok", "8:50:ok"};
    for (int row : ticked)
        t.tick(row);
    StatusMessages messages(t.statusBar());
    auto* exitAction = t.window->findChild<QAction*>(QStringLiteral("action_exit"));
    QVERIFY(exitAction);

    int written = 0;
    QObject::connect(t.modbusLink(), &ModbusLink::finished, t.window.get(), [&](const ModbusOutcome& outcome) {
        if (outcome.isWrite && outcome.kind == ModbusOutcome::Done)
            ++written;
    });
    int writtenAtExit = -1;
    int shownAtExit = -1;
    QElapsedTimer sinceExit;
    QTimer::singleShot(0, t.writeButton, [&] { t.clickWrite(); });
    QTimer::singleShot(300, exitAction, [&] {
        writtenAtExit = written;
        shownAtExit = messages.shown().size();
        sinceExit.start();
        exitAction->trigger();
    });
    // Only there so that a pass that goes on fails the test instead of holding it.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    const int code = QCoreApplication::exec();
    QVERIFY2(writtenAtExit >= 0, "the exit item was never chosen");
    QVERIFY2(sinceExit.elapsed() < 2000, qPrintable(QStringLiteral("the pass took %1 ms").arg(sinceExit.elapsed())));
    QCOMPARE(code, 0);
    QVERIFY(!t.linkConnected());

    const QStringList shown = messages.shown().mid(shownAtExit);
    QVERIFY2(shown.count(QStringLiteral("Успешно!")) == shown.size(), qPrintable(shown.join(QLatin1String(" / "))));
    QCOMPARE(t.logTexts(), QStringList());
    QCOMPARE(t.modals->seen(), QStringList());
    // The write the exit found on its way is the last the sensor may have seen.
    const QStringList writes = t.writesSeen();
    QVERIFY2(writes.size() <= writtenAtExit + 1, qPrintable(writes.join(' ')));
    QCOMPARE(writes, all.mid(0, writes.size()));
    for (int i = 0; i < ticked.size(); ++i) {
        const QColor colour = t.choiceColour(ticked.at(i));
        if (2 * i + 1 < writtenAtExit)
            QCOMPARE(colour, QColor(Qt::green));
        else
            QVERIFY2(colour == QColor(Qt::green) || colour == QColor(Qt::transparent), qPrintable(colour.name()));
    }
}

QTEST_MAIN(TestExit)
#include "tst_exit.moc"
