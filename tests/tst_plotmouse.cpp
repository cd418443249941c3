// The right mouse button on the plot: a drag zooms both axes about their centres,
// a short click opens the context menu with the exports, restore and clear.

#include "graphdrawer.h"
#include "windowtest.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <functional>

namespace {

const QSize plotSize(741, 500);

int registerOf(int quantity, int axis)
{
    return 3 + 2 * (VibroAxisCount * quantity + axis);
}

QString rangeText(const QCPRange& range)
{
    return QStringLiteral("(%1, %2)").arg(range.lower, 0, 'g', 17).arg(range.upper, 0, 'g', 17);
}

bool closeTo(const QCPRange& actual, const QCPRange& expected)
{
    const double tolerance = 1e-9 * expected.size();
    return std::fabs(actual.lower - expected.lower) <= tolerance && std::fabs(actual.upper - expected.upper) <= tolerance;
}

void sendMove(QWidget* widget, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void sendWheel(QWidget* widget, QPoint pos, int delta)
{
    QWheelEvent event(pos, widget->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

// A shown plot of a realistic size with acceleration samples drawn on it.
struct MousePlot {
    MousePlot()
        : drawer(&plot, nullptr)
    {
        drawer.setClock([] { return QDateTime(QDate(2024, 3, 7), QTime(9, 5)); });
        plot.setFixedSize(plotSize);
        plot.show();
        for (int key = 0; key <= 100; ++key) {
            for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
                for (int axis = 0; axis < VibroAxisCount; ++axis) {
                    const auto target = drawer.seriesForRegister(registerOf(quantity, axis));
                    target.first->append(key);
                    target.second->append((quantity + 1) * (std::sin(key / 7.0 + axis) * 5 + 2));
                }
            }
        }
        QSignalSpy drawn(&plot, &QCustomPlot::afterReplot);
        drawer.plotVibroparameter(QStringLiteral("Виброускорение"));
        // The user zooms what has been drawn.
        (void)QTest::qWaitFor([&] { return drawn.count() > 0; }, 5000);
        fitted = {plot.xAxis->range(), plot.yAxis->range()};
    }

    ProgramDirFixture dir{false};
    QCustomPlot plot;
    GraphDrawer drawer;
    QPair<QCPRange, QCPRange> fitted;
};

// Watches for the context menu while the release that opens it runs, notes what it
// shows and then does `act` with it (by default closes it).
class MenuProbe : public QObject
{
public:
    explicit MenuProbe(std::function<void(QMenu*)> act = {})
        : act(std::move(act))
    {
        connect(&timer, &QTimer::timeout, this, [this] { check(); });
        timer.start(10);
    }

    bool opened = false;
    QStringList texts;
    bool anyShortcut = false;
    QPoint pos;

private:
    void check()
    {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || opened)
            return;
        opened = true;
        timer.stop();
        for (QAction* action : menu->actions()) {
            texts << action->text();
            anyShortcut = anyShortcut || !action->shortcut().isEmpty();
        }
        pos = menu->pos();
        if (act)
            act(menu);
        if (menu->isVisible())
            menu->close();
    }

    QTimer timer;
    std::function<void(QMenu*)> act;
};

void clickAction(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == text) {
            QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(action).center());
            return;
        }
    }
}

// Ends a right drag once the click limit has passed (counted from now, the press came
// earlier still); true when no menu came up.
bool releaseLate(QCustomPlot* plot, QPoint pos)
{
    QElapsedTimer sinceNow;
    sinceNow.start();
    while (sinceNow.elapsed() < 100)
        QTest::qWait(10);
    MenuProbe guard;
    QTest::mouseRelease(plot, Qt::RightButton, Qt::NoModifier, pos);
    return !guard.opened;
}

}

class PlotMouseTest : public QObject
{
    Q_OBJECT

private slots:
    void dragZooms_data();
    void dragZooms();
    void returnToPressGivesPressRanges();
    void logarithmicKeysOnlyZoomValues();
    void movesWithoutRightPressDoNothing();
    void shortRightClickOpensMenu();
    void menuActions_data();
    void menuActions();
    void slowReleaseOpensNothing();
    void otherButtonsOpenNothing();
};

void PlotMouseTest::dragZooms_data()
{
    QTest::addColumn<QVector<QPoint>>("moves");
    QTest::newRow("right widens x") << QVector<QPoint>{{100, 0}};
    QTest::newRow("left narrows x") << QVector<QPoint>{{-100, 0}};
    QTest::newRow("down narrows y") << QVector<QPoint>{{0, 60}};
    QTest::newRow("up widens y") << QVector<QPoint>{{0, -60}};
    QTest::newRow("diagonal") << QVector<QPoint>{{80, -40}, {-50, 70}, {200, 10}};
    QVector<QPoint> right;
    QVector<QPoint> up;
    for (int step = 1; step <= 50; ++step) {
        right << QPoint(10 * step, 0);
        up << QPoint(0, -6 * step);
    }
    QTest::newRow("long drag right") << right;
    QTest::newRow("long drag up") << up;
    QTest::newRow("too far left keeps the last width") << QVector<QPoint>{{-100, 0}, {-400, 0}, {-2000, 0}, {-50, 0}};
    QTest::newRow("too far down keeps the last height") << QVector<QPoint>{{0, 100}, {0, 300}, {0, 1000}, {0, 20}};
    // A change of height changes the width of the value labels, and with it the width
    // the keys are drawn on.
    QTest::newRow("height then width") << QVector<QPoint>{{0, -150}, {120, -150}, {120, 0}, {120, 0}, {120, 180}, {120, 0}};
}

// Every move sets each axis to the press range widened by the distance from the press,
// measured on the scale of the press.
void PlotMouseTest::dragZooms()
{
    QFETCH(QVector<QPoint>, moves);
    MousePlot fixture;
    QCustomPlot& plot = fixture.plot;
    const QPoint press(370, 250);
    const QCPRange xAtPress = plot.xAxis->range();
    const QCPRange yAtPress = plot.yAxis->range();
    const double width = plot.axisRect()->width();
    const double height = plot.axisRect()->height();

    QTest::mousePress(&plot, Qt::RightButton, Qt::NoModifier, press);
    QCPRange x = xAtPress;
    QCPRange y = yAtPress;
    for (const QPoint& offset : moves) {
        sendMove(&plot, press + offset, Qt::RightButton);
        const double dx = -offset.x() / width * xAtPress.size();
        const double dy = offset.y() / height * yAtPress.size();
        if (xAtPress.size() - 2 * dx > 0)
            x = QCPRange(xAtPress.lower + dx, xAtPress.upper - dx);
        if (yAtPress.size() - 2 * dy > 0)
            y = QCPRange(yAtPress.lower + dy, yAtPress.upper - dy);
        QVERIFY2(closeTo(plot.xAxis->range(), x),
            qPrintable(QStringLiteral("after (%1, %2): x %3, expected %4")
                           .arg(offset.x()).arg(offset.y()).arg(rangeText(plot.xAxis->range()), rangeText(x))));
        QVERIFY2(closeTo(plot.yAxis->range(), y),
            qPrintable(QStringLiteral("after (%1, %2): y %3, expected %4")
                           .arg(offset.x()).arg(offset.y()).arg(rangeText(plot.yAxis->range()), rangeText(y))));
    }
    // The release ends the drag where the last move left it.
    const QCPRange xAfterMoves = plot.xAxis->range();
    const QCPRange yAfterMoves = plot.yAxis->range();
    QVERIFY(releaseLate(&plot, press + moves.last()));
    QCOMPARE(plot.xAxis->range(), xAfterMoves);
    QCOMPARE(plot.yAxis->range(), yAfterMoves);
}

void PlotMouseTest::returnToPressGivesPressRanges()
{
    MousePlot fixture;
    QCustomPlot& plot = fixture.plot;
    const QPoint press(300, 200);
    const QCPRange xAtPress = plot.xAxis->range();
    const QCPRange yAtPress = plot.yAxis->range();
    QTest::mousePress(&plot, Qt::RightButton, Qt::NoModifier, press);
    for (const QPoint& offset : {QPoint(150, 60), QPoint(-90, -120), QPoint(400, 230), QPoint(-250, -180), QPoint(0, 0)})
        sendMove(&plot, press + offset, Qt::RightButton);
    QCOMPARE(plot.xAxis->range(), xAtPress);
    QCOMPARE(plot.yAxis->range(), yAtPress);

    // A second drag starts from what the first one left.
    sendMove(&plot, press + QPoint(70, 0), Qt::RightButton);
    QVERIFY(releaseLate(&plot, press + QPoint(70, 0)));
    const QCPRange widened = plot.xAxis->range();
    QVERIFY(widened.size() > xAtPress.size());
    QTest::mousePress(&plot, Qt::RightButton, Qt::NoModifier, press);
    sendMove(&plot, press + QPoint(-30, 10), Qt::RightButton);
    sendMove(&plot, press, Qt::RightButton);
    QCOMPARE(plot.xAxis->range(), widened);
    QCOMPARE(plot.yAxis->range(), yAtPress);
}

void PlotMouseTest::logarithmicKeysOnlyZoomValues()
{
    MousePlot fixture;
    QCustomPlot& plot = fixture.plot;
    plot.xAxis->setScaleType(QCPAxis::stLogarithmic);
    plot.xAxis->setRange(1, 1000);
    plot.replot();
    const QPoint press(370, 250);
    const QCPRange yAtPress = plot.yAxis->range();
    const double height = plot.axisRect()->height();
    QTest::mousePress(&plot, Qt::RightButton, Qt::NoModifier, press);
    for (const QPoint& offset : {QPoint(150, 0), QPoint(-200, 0), QPoint(100, 80), QPoint(-60, -50)}) {
        sendMove(&plot, press + offset, Qt::RightButton);
        QCOMPARE(plot.xAxis->range(), QCPRange(1, 1000));
        const double dy = offset.y() / height * yAtPress.size();
        QVERIFY2(closeTo(plot.yAxis->range(), QCPRange(yAtPress.lower + dy, yAtPress.upper - dy)),
            qPrintable(rangeText(plot.yAxis->range())));
    }
    QVERIFY(releaseLate(&plot, press));
}

void PlotMouseTest::movesWithoutRightPressDoNothing()
{
    MousePlot fixture;
    QCustomPlot& plot = fixture.plot;
    auto unchanged = [&] { return plot.xAxis->range() == fixture.fitted.first && plot.yAxis->range() == fixture.fitted.second; };
    sendMove(&plot, QPoint(500, 400), Qt::NoButton);
    sendMove(&plot, QPoint(100, 50), Qt::RightButton);
    QVERIFY(unchanged());

    // After a drag has ended, moves leave the ranges it left.
    QTest::mousePress(&plot, Qt::RightButton, Qt::NoModifier, QPoint(300, 200));
    sendMove(&plot, QPoint(360, 240), Qt::RightButton);
    QVERIFY(releaseLate(&plot, QPoint(360, 240)));
    const QCPRange x = plot.xAxis->range();
    const QCPRange y = plot.yAxis->range();
    QVERIFY(x != fixture.fitted.first);
    sendMove(&plot, QPoint(600, 100), Qt::NoButton);
    sendMove(&plot, QPoint(100, 450), Qt::RightButton);
    QCOMPARE(plot.xAxis->range(), x);
    QCOMPARE(plot.yAxis->range(), y);
}

void PlotMouseTest::shortRightClickOpensMenu()
{
    MousePlot fixture;
    QCustomPlot& plot = fixture.plot;
    MenuProbe probe;
    QTest::mousePress(&plot, Qt::RightButton, Qt::NoModifier, QPoint(120, 90));
    QTest::mouseRelease(&plot, Qt::RightButton, Qt::NoModifier, QPoint(124, 93));
    QVERIFY(probe.opened);
    QCOMPARE(probe.texts,
        QStringList({QStringLiteral("Сохранить графики в .png"), QStringLiteral("Сохранить данные в .csv"),
            QStringLiteral("Восстановить размер"), QStringLiteral("Очистить график")}));
    QVERIFY(!probe.anyShortcut);
    QCOMPARE(probe.pos, plot.mapToGlobal(QPoint(124 + 30, 93 + 20)));
    QVERIFY(!QApplication::activePopupWidget());
    QCOMPARE(plot.xAxis->range(), fixture.fitted.first);
    QCOMPARE(plot.yAxis->range(), fixture.fitted.second);

    // The click is used up by its menu: a second release right after it opens nothing.
    MenuProbe second;
    QTest::mouseRelease(&plot, Qt::RightButton, Qt::NoModifier, QPoint(124, 93));
    QCoreApplication::processEvents();
    QVERIFY(!second.opened);
}

void PlotMouseTest::menuActions_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("png") << QStringLiteral("Сохранить графики в .png");
    QTest::newRow("csv") << QStringLiteral("Сохранить данные в .csv");
    QTest::newRow("restore") << QStringLiteral("Восстановить размер");
    QTest::newRow("clear") << QStringLiteral("Очистить график");
}

void PlotMouseTest::menuActions()
{
    QFETCH(QString, action);
    MousePlot fixture;
    QCustomPlot& plot = fixture.plot;
    ModalWatcher boxes;

    // Zoom first, so that the restore has something to undo.
    QTest::mousePress(&plot, Qt::RightButton, Qt::NoModifier, QPoint(300, 200));
    sendMove(&plot, QPoint(420, 140), Qt::RightButton);
    QVERIFY(releaseLate(&plot, QPoint(420, 140)));
    const QCPRange zoomedX = plot.xAxis->range();
    const QCPRange zoomedY = plot.yAxis->range();
    QVERIFY(zoomedX != fixture.fitted.first && zoomedY != fixture.fitted.second);

    MenuProbe probe([&](QMenu* menu) { clickAction(menu, action); });
    QTest::mousePress(&plot, Qt::RightButton, Qt::NoModifier, QPoint(100, 80));
    QTest::mouseRelease(&plot, Qt::RightButton, Qt::NoModifier, QPoint(100, 80));
    QVERIFY(probe.opened);
    QVERIFY(!QApplication::activePopupWidget());

    const QString stamp = QStringLiteral("[09-05, 07.03.2024]");
    const QDir plots(fixture.dir.filePath(QStringLiteral("Plots")));
    const QDir data(fixture.dir.filePath(QStringLiteral("Data")));
    const QStringList images = plots.entryList(QDir::Files, QDir::Name);
    const QStringList tables = data.entryList(QDir::Files, QDir::Name);
    if (action.endsWith(QLatin1String(".png"))) {
        QCOMPARE(images.size(), 3);
        QVERIFY(images.contains(QStringLiteral("График виброскорости ") + stamp + QStringLiteral(".png")));
        QCOMPARE(tables.size(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 5000);
        QVERIFY(boxes.seen().first().startsWith(QStringLiteral("Успешно | ")));
    } else if (action.endsWith(QLatin1String(".csv"))) {
        QCOMPARE(tables.size(), 3);
        QVERIFY(tables.contains(QStringLiteral("Vibrodisplacement ") + stamp + QStringLiteral(".csv")));
        QCOMPARE(images.size(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 5000);
        QVERIFY(boxes.seen().first().startsWith(QStringLiteral("Успешно | ")));
    } else {
        QCOMPARE(images.size() + tables.size(), 0);
        QCOMPARE(boxes.count(), 0);
    }

    if (action == QStringLiteral("Восстановить размер")) {
        QCOMPARE(plot.xAxis->range(), fixture.fitted.first);
        QCOMPARE(plot.yAxis->range(), fixture.fitted.second);
    } else if (!action.endsWith(QLatin1String(".png"))) {
        // The image export draws every quantity and fits the axes; the others keep the zoom.
        QCOMPARE(plot.xAxis->range(), zoomedX);
        QCOMPARE(plot.yAxis->range(), zoomedY);
    }

    const bool cleared = action == QStringLiteral("Очистить график");
    for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
        for (int axis = 0; axis < VibroAxisCount; ++axis)
            QCOMPARE(fixture.drawer.seriesOf(VibroQuantity(quantity), VibroAxis(axis)).values.size(), cleared ? 0 : 101);
    }
    for (int graph = 0; graph < 3; ++graph)
        QCOMPARE(plot.graph(graph)->dataCount(), cleared ? 0 : 101);
}

void PlotMouseTest::slowReleaseOpensNothing()
{
    MousePlot fixture;
    QCustomPlot& plot = fixture.plot;
    MenuProbe probe;
    QTest::mousePress(&plot, Qt::RightButton, Qt::NoModifier, QPoint(200, 150));
    QVERIFY(releaseLate(&plot, QPoint(200, 150)));
    QCoreApplication::processEvents();
    QVERIFY(!probe.opened);
    QVERIFY(!QApplication::activePopupWidget());

    // The press has been used up: a second release alone opens nothing either.
    QTest::mouseRelease(&plot, Qt::RightButton, Qt::NoModifier, QPoint(200, 150));
    QCoreApplication::processEvents();
    QVERIFY(!probe.opened);
}

void PlotMouseTest::otherButtonsOpenNothing()
{
    MousePlot fixture;
    QCustomPlot& plot = fixture.plot;
    MenuProbe probe;
    // A right release that no right press came before.
    QTest::mouseRelease(&plot, Qt::RightButton, Qt::NoModifier, QPoint(200, 150));
    QCoreApplication::processEvents();
    QVERIFY(!probe.opened);

    QTest::mouseClick(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
    QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
    sendMove(&plot, QPoint(260, 190), Qt::LeftButton);
    QTest::mouseRelease(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(260, 190));
    sendWheel(&plot, QPoint(300, 200), 120);
    sendWheel(&plot, QPoint(300, 200), -240);
    QTest::mouseClick(&plot, Qt::MiddleButton, Qt::NoModifier, QPoint(200, 150));
    // A left press does not arm the right release.
    QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
    QTest::mouseRelease(&plot, Qt::RightButton, Qt::NoModifier, QPoint(200, 150));
    QTest::mouseRelease(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
    QCoreApplication::processEvents();
    QVERIFY(!probe.opened);
    QVERIFY(!QApplication::activePopupWidget());
}

QTEST_MAIN(PlotMouseTest)
#include "tst_plotmouse.moc"
