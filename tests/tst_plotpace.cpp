// When the real window's plot draws, against the simulated sensor: replies are drawn
// together at the screen's pace and only while the plot can be seen, what the user does
// on the plot is drawn at once.

#include <QDir>
#include <QMenu>
#include <QTabWidget>
#include <QTest>

#include <functional>

#include "graphdrawer.h"
#include "linkedwindow.h"

namespace {

const char* const yLabels[VibroQuantityCount] = {
    "СКЗ виброускорения A [м/с2]", "СКЗ виброскорости V [мм/с]", "СКЗ виброперемещения S [мкм]"};

// What the plot showed at one redraw.
struct Drawn {
    int samples = 0;
    QCPRange keys;
    QString label;
};

// Notes every redraw of a plot.
class DrawLog : public QObject
{
public:
    explicit DrawLog(QCustomPlot* plot)
    {
        connect(plot, &QCustomPlot::afterReplot, this, [this, plot] {
            drawn << Drawn{plot->graph(0)->dataCount(), plot->xAxis->range(), plot->yAxis->label()};
        });
    }

    QVector<Drawn> drawn;
};

// The window's plot component: the one GraphDrawer alive (it has no parent to find it by).
GraphDrawer* windowDrawer()
{
    for (QWidget* widget : QApplication::allWidgets()) {
        if (auto* drawer = qobject_cast<GraphDrawer*>(widget))
            return drawer;
    }
    return nullptr;
}

void showTab(LinkedWindow& t, const char* name)
{
    auto* tabs = t.window->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    tabs->setCurrentWidget(t.window->findChild<QWidget*>(QString::fromLatin1(name)));
}

// Shows the window on its plot tab with plotting on, and connects it to the sensor.
bool openPlotting(LinkedWindow& t)
{
    t.window->show();
    if (!QTest::qWaitForWindowExposed(t.window.get()))
        return false;
    showTab(t, "tab_plot");
    t.plotting->setChecked(true);
    return t.canvas->isVisible() && t.connectToSensor();
}

void sendMove(QWidget* widget, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Opens the plot's context menu with a short right click and chooses `text`; `done`
// runs right after the action's own handler has returned.
bool chooseFromMenu(QCustomPlot* plot, const QString& text, const std::function<void()>& done)
{
    bool chosen = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        probe.stop();
        for (QAction* action : menu->actions()) {
            if (action->text() != text)
                continue;
            // Connected after the menu's own connection, so it runs after the action.
            QObject::connect(action, &QAction::triggered, done);
            chosen = true;
            QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(action).center());
        }
        if (menu->isVisible())
            menu->close();
    });
    probe.start(5);
    const QPoint pos(200, 150);
    QTest::mousePress(plot, Qt::RightButton, Qt::NoModifier, pos);
    QTest::mouseRelease(plot, Qt::RightButton, Qt::NoModifier, pos);
    return chosen;
}

}

class PlotPaceTest : public QObject
{
    Q_OBJECT

private slots:
    void hiddenPlotDrawsWhenShown();
    void burstIsDrawnAtFramePace();
    void userActionsDrawAtOnce();
};

void PlotPaceTest::hiddenPlotDrawsWhenShown()
{
    LinkedWindow t;
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    QVERIFY(openPlotting(t));
    t.period->setValue(20);
    DrawLog log(t.canvas);
    QTRY_VERIFY_WITH_TIMEOUT(!log.drawn.isEmpty() && log.drawn.last().samples >= 2, 5000);

    // Replies go on into the graphs, and nothing is drawn.
    showTab(t, "tab_data");
    QVERIFY(!t.canvas->isVisible());
    log.drawn.clear();
    const int before = t.canvas->graph(0)->dataCount();
    QTRY_VERIFY_WITH_TIMEOUT(t.canvas->graph(0)->dataCount() >= before + 5, 5000);
    QVERIFY2(log.drawn.isEmpty(), qPrintable(QStringLiteral("%1 redraws of a hidden plot").arg(log.drawn.size())));

    // Shown again, it is drawn once, at once, with everything that came meanwhile.
    const int samples = t.canvas->graph(0)->dataCount();
    const QCPRange keys = t.canvas->xAxis->range();
    showTab(t, "tab_plot");
    QVERIFY(t.canvas->isVisible());
    QCOMPARE(log.drawn.size(), 1);
    QCOMPARE(log.drawn.first().samples, samples);
    QCOMPARE(log.drawn.first().keys, keys);
    QCOMPARE(log.drawn.first().label, QString::fromUtf8(yLabels[Acceleration]));
}

void PlotPaceTest::burstIsDrawnAtFramePace()
{
    LinkedWindow t;
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    QVERIFY(openPlotting(t));
    t.period->setValue(1);
    QTRY_VERIFY_WITH_TIMEOUT(t.canvas->graph(0)->dataCount() >= 1, 5000);

    DrawLog log(t.canvas);
    const int first = t.canvas->graph(0)->dataCount();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(runUntil([&] { return t.canvas->graph(0)->dataCount() - first >= 100; }, 30000));
    const qint64 elapsed = clock.elapsed();
    const int replies = t.canvas->graph(0)->dataCount() - first;
    const int draws = log.drawn.size();
    const QString counts = QStringLiteral("%1 redraws for %2 replies in %3 ms").arg(draws).arg(replies).arg(elapsed);
    QVERIFY2(draws >= 1, qPrintable(counts));
    QVERIFY2(draws <= elapsed / 30 + 2, qPrintable(counts));
    QVERIFY2(draws < replies, qPrintable(counts));

    // Once the replies stop, the last of them is drawn as well.
    t.clickDisconnect();
    QTRY_COMPARE_WITH_TIMEOUT(log.drawn.last().samples, t.canvas->graph(0)->dataCount(), 5000);
    QCOMPARE(log.drawn.last().keys, t.canvas->xAxis->range());
}

void PlotPaceTest::userActionsDrawAtOnce()
{
    LinkedWindow t;
    QVERIFY2(t.start(), qPrintable(t.link.errorString()));
    QVERIFY(openPlotting(t));
    GraphDrawer* drawer = windowDrawer();
    QVERIFY(drawer);
    t.period->setValue(20);
    DrawLog log(t.canvas);
    QTRY_VERIFY_WITH_TIMEOUT(t.canvas->graph(0)->dataCount() >= 5, 5000);
    // No more replies: from here on every redraw is the user's.
    t.clickDisconnect();
    QTRY_VERIFY_WITH_TIMEOUT(!log.drawn.isEmpty() && log.drawn.last().samples == t.canvas->graph(0)->dataCount(), 5000);
    const int samples = t.canvas->graph(0)->dataCount();
    const QCPRange fitted = t.canvas->xAxis->range();

    // A right drag draws every move.
    int before = log.drawn.size();
    const QPoint press(300, 200);
    QTest::mousePress(t.canvas, Qt::RightButton, Qt::NoModifier, press);
    QCOMPARE(log.drawn.size(), before);
    sendMove(t.canvas, press + QPoint(80, 0), Qt::RightButton);
    QCOMPARE(log.drawn.size(), before + 1);
    QVERIFY(t.canvas->xAxis->range() != fitted);
    QCOMPARE(log.drawn.last().keys, t.canvas->xAxis->range());
    // Held past the click limit: no menu.
    QTest::mouseRelease(t.canvas, Qt::RightButton, Qt::NoModifier, press + QPoint(80, 0), 150);

    int drawsAtEnd = -1;
    auto noteDraws = [&] { drawsAtEnd = log.drawn.size(); };

    before = log.drawn.size();
    QVERIFY(chooseFromMenu(t.canvas, QStringLiteral("Восстановить размер"), noteDraws));
    QCOMPARE(drawsAtEnd, before + 1);
    QCOMPARE(log.drawn.last().keys, fitted);

    // Every quantity is drawn as its image is made.
    before = log.drawn.size();
    QVERIFY(chooseFromMenu(t.canvas, QStringLiteral("Сохранить графики в .png"), noteDraws));
    QCOMPARE(drawsAtEnd, before + 3);
    for (int quantity = 0; quantity < VibroQuantityCount; ++quantity)
        QCOMPARE(log.drawn.at(before + quantity).label, QString::fromUtf8(yLabels[quantity]));
    QVERIFY(t.modals->seen().last().startsWith(QStringLiteral("Успешно | ")));
    QCOMPARE(QDir(t.dir.filePath(QStringLiteral("Plots"))).entryList(QDir::Files).size(), 3);

    before = log.drawn.size();
    QVERIFY(chooseFromMenu(t.canvas, QStringLiteral("Очистить график"), noteDraws));
    QCOMPARE(drawsAtEnd, before + 1);
    QCOMPARE(log.drawn.last().samples, 0);
    QVERIFY(samples > 0);
}

QTEST_MAIN(PlotPaceTest)
#include "tst_plotpace.moc"
