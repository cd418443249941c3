// The plot's sample series and its redraw. The redraw only appends new samples and
// keeps each series' extent, so it is checked against a second plot that is fed the
// plain way (setData of every sample, then rescaleAxes) after every step.

#include "graphdrawer.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

const char* const quantityTexts[VibroQuantityCount] = {"Виброускорение", "Виброскорость", "Виброперемещение"};
const char* const yLabels[VibroQuantityCount] = {
    "СКЗ виброускорения A [м/с2]", "СКЗ виброскорости V [мм/с]", "СКЗ виброперемещения S [мкм]"};

int registerOf(int quantity, int axis)
{
    return 3 + 2 * (VibroAxisCount * quantity + axis);
}

bool sameDouble(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

QString rangeText(const QCPRange& range)
{
    return QStringLiteral("(%1, %2)").arg(range.lower, 0, 'g', 17).arg(range.upper, 0, 'g', 17);
}

// One step of a scenario: append a sample to a series, draw a quantity, or clear.
struct Step {
    enum Kind { Append, Draw, Clear } kind;
    int quantity = 0;
    int axis = 0;
    double key = 0;
    double value = 0;
};

double parseValue(const QString& text)
{
    if (text == QLatin1String("nan"))
        return std::numeric_limits<double>::quiet_NaN();
    if (text == QLatin1String("inf"))
        return std::numeric_limits<double>::infinity();
    if (text == QLatin1String("-inf"))
        return -std::numeric_limits<double>::infinity();
    return text.toDouble();
}

// "A.X 1 2.5" appends (1, 2.5) to the acceleration X series, "all 3 nan" appends to all
// twelve, "V" draws velocity, "clear" clears. Steps are separated by ';'.
QVector<Step> parseScript(const QString& script)
{
    QVector<Step> steps;
    const QString quantities = QStringLiteral("AVS");
    const QString axes = QStringLiteral("XYZM");
    for (const QString& part : script.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList words = part.simplified().split(QLatin1Char(' '));
        if (words.at(0) == QLatin1String("clear")) {
            steps.append(Step{Step::Clear});
        } else if (words.size() == 1) {
            Step step{Step::Draw};
            step.quantity = quantities.indexOf(words.at(0));
            steps.append(step);
        } else if (words.at(0) == QLatin1String("all")) {
            for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
                for (int axis = 0; axis < VibroAxisCount; ++axis)
                    steps.append(Step{Step::Append, quantity, axis, words.at(1).toDouble(), parseValue(words.at(2))});
            }
        } else {
            Step step{Step::Append};
            step.quantity = quantities.indexOf(words.at(0).at(0));
            step.axis = axes.indexOf(words.at(0).at(2));
            step.key = words.at(1).toDouble();
            step.value = parseValue(words.at(2));
            steps.append(step);
        }
    }
    return steps;
}

// Polls the way the window does (some series may stay short), with values that give
// empty, zero-width and infinite extents now and then; in every third scenario a key
// also goes back now and then.
QVector<Step> randomScenario(quint32 seed)
{
    QRandomGenerator random(seed);
    QVector<Step> steps;
    const double scale = std::pow(10.0, random.bounded(-3, 7));
    const double constant = (random.generateDouble() - 0.5) * scale;
    const int profile = random.bounded(3); // every series, a 16-register block, a random subset
    const bool keysGoBack = seed % 3 == 0;
    double key = random.bounded(2) ? 0 : 1000;
    int quantity = random.bounded(VibroQuantityCount);
    double previous = 0;
    auto value = [&] {
        const int kind = random.bounded(100);
        if (kind < 5)
            previous = std::numeric_limits<double>::quiet_NaN();
        else if (kind < 7)
            previous = std::numeric_limits<double>::infinity();
        else if (kind < 9)
            previous = -std::numeric_limits<double>::infinity();
        else if (kind < 20)
            previous = constant;
        else if (kind >= 25)
            previous = (random.generateDouble() - 0.5) * scale;
        return previous;
    };
    auto poll = [&] {
        for (int q = 0; q < VibroQuantityCount; ++q) {
            for (int axis = 0; axis < VibroAxisCount; ++axis) {
                const int position = registerOf(q, axis);
                const bool fed = profile == 0 || (profile == 1 && position < 16) || (profile == 2 && random.bounded(4) != 0);
                if (fed)
                    steps.append(Step{Step::Append, q, axis, key, value()});
            }
        }
        if (random.bounded(10) != 0)
            key += random.bounded(1, 4);
        if (keysGoBack && random.bounded(20) == 0)
            key -= random.bounded(1, 30);
    };
    const int count = random.bounded(40, 160);
    for (int i = 0; i < count; ++i) {
        const int kind = random.bounded(100);
        if (kind < 45) {
            poll();
        } else if (kind < 55) {
            for (int n = random.bounded(15, 40); n > 0; --n)
                poll();
        } else if (kind < 97) {
            if (random.bounded(100) < 15)
                quantity = random.bounded(VibroQuantityCount);
            Step step{Step::Draw};
            step.quantity = quantity;
            steps.append(step);
        } else {
            steps.append(Step{Step::Clear});
        }
    }
    Step last{Step::Draw};
    last.quantity = quantity;
    steps.append(last);
    return steps;
}

class Harness
{
public:
    Harness()
        : drawer(&plot, nullptr)
    {
        for (int graph = 0; graph < 3; ++graph)
            reference.addGraph();
    }

    void append(int quantity, int axis, double key, double value)
    {
        const auto target = drawer.seriesForRegister(registerOf(quantity, axis));
        target.first->append(key);
        target.second->append(value);
    }

    void draw(int quantity)
    {
        drawer.plotVibroparameter(QString::fromUtf8(quantityTexts[quantity]));
        for (int graph = 0; graph < 3; ++graph) {
            const VibroSeries& source = drawer.seriesOf(VibroQuantity(quantity), VibroAxis(graph));
            reference.graph(graph)->setData(source.keys, source.values, false);
        }
        reference.rescaleAxes(false);
    }

    void run(const Step& step)
    {
        switch (step.kind) {
        case Step::Append:
            append(step.quantity, step.axis, step.key, step.value);
            break;
        case Step::Draw:
            draw(step.quantity);
            break;
        case Step::Clear:
            drawer.clearCanvas();
            break;
        }
    }

    // Empty when the drawn plot matches the reference, else what differs.
    QString difference() const
    {
        if (plot.xAxis->range() != reference.xAxis->range())
            return QStringLiteral("x range %1, expected %2")
                .arg(rangeText(plot.xAxis->range()), rangeText(reference.xAxis->range()));
        if (plot.yAxis->range() != reference.yAxis->range())
            return QStringLiteral("y range %1, expected %2")
                .arg(rangeText(plot.yAxis->range()), rangeText(reference.yAxis->range()));
        for (int graph = 0; graph < 3; ++graph) {
            const auto drawn = plot.graph(graph)->data();
            const auto expected = reference.graph(graph)->data();
            if (drawn->size() != expected->size())
                return QStringLiteral("graph %1 has %2 samples, expected %3").arg(graph).arg(drawn->size()).arg(expected->size());
            const QString order = sameSamples(drawn, expected);
            if (!order.isEmpty())
                return QStringLiteral("graph %1: %2").arg(graph).arg(order);
        }
        return QString();
    }

    QCustomPlot plot;
    GraphDrawer drawer;
    QCustomPlot reference;

private:
    // The keys must agree in order. Samples that share a key are compared as a set:
    // the reference sorts with std::sort, which leaves the order of equal keys open.
    static QString sameSamples(const QSharedPointer<QCPGraphDataContainer>& drawn,
        const QSharedPointer<QCPGraphDataContainer>& expected)
    {
        const int size = drawn->size();
        for (int i = 0; i < size;) {
            const double key = expected->at(i)->key;
            int end = i;
            while (end < size && sameDouble(expected->at(end)->key, key))
                ++end;
            QVector<double> ours;
            QVector<double> theirs;
            for (int j = i; j < end; ++j) {
                if (!sameDouble(drawn->at(j)->key, key))
                    return QStringLiteral("sample %1 has key %2, expected %3").arg(j).arg(drawn->at(j)->key).arg(key);
                ours << drawn->at(j)->value;
                theirs << expected->at(j)->value;
            }
            auto byValue = [](double a, double b) { return std::isnan(b) ? !std::isnan(a) : a < b; };
            std::sort(ours.begin(), ours.end(), byValue);
            std::sort(theirs.begin(), theirs.end(), byValue);
            for (int j = 0; j < ours.size(); ++j) {
                if (!sameDouble(ours.at(j), theirs.at(j)))
                    return QStringLiteral("values at key %1 differ").arg(key);
            }
            i = end;
        }
        return QString();
    }
};

}

class GraphDrawerTest : public QObject
{
    Q_OBJECT

private slots:
    void registerPositions_data();
    void registerPositions();
    void otherPositionsFeedNothing_data();
    void otherPositionsFeedNothing();
    void quantityFromText_data();
    void quantityFromText();
    void unknownTextChangesNothing();
    void redrawMatchesPlainRedraw_data();
    void redrawMatchesPlainRedraw();
    void clearEmptiesEverything();
};

void GraphDrawerTest::registerPositions_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("quantity");
    QTest::addColumn<int>("axis");
    const char* const names[VibroQuantityCount] = {"A", "V", "S"};
    const char* const axes[VibroAxisCount] = {"X", "Y", "Z", "M"};
    for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
        for (int axis = 0; axis < VibroAxisCount; ++axis) {
            const int position = registerOf(quantity, axis);
            QTest::addRow("%d %s-%s", position, names[quantity], axes[axis]) << position << quantity << axis;
        }
    }
}

void GraphDrawerTest::registerPositions()
{
    QFETCH(int, position);
    QFETCH(int, quantity);
    QFETCH(int, axis);
    QCustomPlot plot;
    GraphDrawer drawer(&plot, nullptr);
    const auto target = drawer.seriesForRegister(position);
    const VibroSeries& expected = drawer.seriesOf(VibroQuantity(quantity), VibroAxis(axis));
    QCOMPARE(target.first, &expected.keys);
    QCOMPARE(target.second, &expected.values);

    // The position feeds that series and no other.
    target.first->append(7);
    target.second->append(0.25);
    for (int q = 0; q < VibroQuantityCount; ++q) {
        for (int a = 0; a < VibroAxisCount; ++a) {
            const int size = q == quantity && a == axis ? 1 : 0;
            QCOMPARE(drawer.seriesOf(VibroQuantity(q), VibroAxis(a)).keys.size(), size);
            QCOMPARE(drawer.seriesOf(VibroQuantity(q), VibroAxis(a)).values.size(), size);
        }
    }
}

void GraphDrawerTest::otherPositionsFeedNothing_data()
{
    QTest::addColumn<int>("position");
    for (int position : {-1, 0, 1, 2, 4, 6, 16, 24, 26, 27, 28, 100, std::numeric_limits<int>::min()})
        QTest::addRow("%d", position) << position;
}

void GraphDrawerTest::otherPositionsFeedNothing()
{
    QFETCH(int, position);
    QCustomPlot plot;
    GraphDrawer drawer(&plot, nullptr);
    const auto target = drawer.seriesForRegister(position);
    QVERIFY(!target.first);
    QVERIFY(!target.second);
}

void GraphDrawerTest::quantityFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("quantity");
    QTest::newRow("acceleration") << QStringLiteral("Виброускорение") << int(Acceleration);
    QTest::newRow("velocity") << QStringLiteral("Виброскорость") << int(Velocity);
    QTest::newRow("displacement") << QStringLiteral("Виброперемещение") << int(Displacement);
    QTest::newRow("upper case") << QStringLiteral("ВИБРОСКОРОСТЬ") << int(Velocity);
    QTest::newRow("mixed case inside a phrase") << QStringLiteral("СКЗ вибропереМЕЩЕНИЯ, мкм") << int(Displacement);
    QTest::newRow("acceleration before velocity") << QStringLiteral("скорость ускорения") << int(Acceleration);
    QTest::newRow("velocity before displacement") << QStringLiteral("перемещение и скорость") << int(Velocity);
    QTest::newRow("file name") << QStringLiteral("График виброперемещения [09-05, 07.03.2024].png") << int(Displacement);
}

void GraphDrawerTest::quantityFromText()
{
    QFETCH(QString, text);
    QFETCH(int, quantity);
    QCustomPlot plot;
    GraphDrawer drawer(&plot, nullptr);
    // Only a plot that can be seen is drawn.
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    for (int q = 0; q < VibroQuantityCount; ++q) {
        for (int axis = 0; axis < VibroAxisCount; ++axis) {
            const auto target = drawer.seriesForRegister(registerOf(q, axis));
            for (int i = 0; i < 3 + q; ++i) {
                target.first->append(i);
                target.second->append(100 * q + 10 * axis + i);
            }
        }
    }
    QSignalSpy replots(&plot, &QCustomPlot::afterReplot);
    drawer.plotVibroparameter(text);

    QTRY_VERIFY_WITH_TIMEOUT(replots.count() >= 1, 5000);
    QCOMPARE(plot.yAxis->label(), QString::fromUtf8(yLabels[quantity]));
    QCOMPARE(plot.xAxis->label(), QStringLiteral("Время T [с]"));
    QVERIFY(plot.legend->visible());
    QCOMPARE(plot.graphCount(), 3);
    const Qt::GlobalColor colours[3] = {Qt::blue, Qt::red, Qt::black};
    const char* const names[3] = {"Ось X", "Ось Y", "Ось Z"};
    for (int graph = 0; graph < 3; ++graph) {
        QCOMPARE(plot.graph(graph)->pen().color(), QColor(colours[graph]));
        QCOMPARE(plot.graph(graph)->name(), QString::fromUtf8(names[graph]));
        QCOMPARE(plot.graph(graph)->keyAxis(), plot.xAxis);
        QCOMPARE(plot.graph(graph)->valueAxis(), plot.yAxis);
        const VibroSeries& source = drawer.seriesOf(VibroQuantity(quantity), VibroAxis(graph));
        QCOMPARE(plot.graph(graph)->dataCount(), source.values.size());
        for (int i = 0; i < source.values.size(); ++i) {
            QCOMPARE(plot.graph(graph)->data()->at(i)->key, source.keys.at(i));
            QCOMPARE(plot.graph(graph)->data()->at(i)->value, source.values.at(i));
        }
    }
    QCOMPARE(plot.xAxis->range(), QCPRange(0, 2 + quantity));
    QCOMPARE(plot.yAxis->range(), QCPRange(100 * quantity, 100 * quantity + 22 + quantity));
}

void GraphDrawerTest::unknownTextChangesNothing()
{
    QCustomPlot plot;
    GraphDrawer drawer(&plot, nullptr);
    for (const char* text : {"", "Вибро", "acceleration", "ускорЕ"}) {
        drawer.plotVibroparameter(QString::fromUtf8(text));
        QCOMPARE(plot.xAxis->label(), QString());
        QCOMPARE(plot.yAxis->label(), QString());
    }

    auto feed = [&](double key, double value) {
        for (int axis = X; axis <= Z; ++axis) {
            const auto target = drawer.seriesForRegister(registerOf(Acceleration, axis));
            target.first->append(key);
            target.second->append(value + axis);
        }
    };
    feed(1, 1);
    feed(2, 5);
    drawer.plotVibroparameter(QStringLiteral("Виброускорение"));
    plot.xAxis->setLabel(QStringLiteral("mine"));
    plot.yAxis->setLabel(QStringLiteral("also mine"));
    plot.xAxis->setRange(-3, 3);
    plot.yAxis->setRange(-4, 4);
    plot.graph(1)->setPen(QPen(Qt::green));
    plot.graph(1)->setName(QStringLiteral("renamed"));
    feed(3, 50);

    QSignalSpy replots(&plot, &QCustomPlot::afterReplot);
    drawer.plotVibroparameter(QStringLiteral("Температура"));
    QCOMPARE(replots.count(), 0);
    QCOMPARE(plot.xAxis->label(), QStringLiteral("mine"));
    QCOMPARE(plot.yAxis->label(), QStringLiteral("also mine"));
    QCOMPARE(plot.xAxis->range(), QCPRange(-3, 3));
    QCOMPARE(plot.yAxis->range(), QCPRange(-4, 4));
    QCOMPARE(plot.graph(1)->pen().color(), QColor(Qt::green));
    QCOMPARE(plot.graph(1)->name(), QStringLiteral("renamed"));
    for (int graph = 0; graph < 3; ++graph)
        QCOMPARE(plot.graph(graph)->dataCount(), 2);

    // The sample held back is drawn by the next recognised redraw.
    drawer.plotVibroparameter(QStringLiteral("виброускорение"));
    for (int graph = 0; graph < 3; ++graph)
        QCOMPARE(plot.graph(graph)->dataCount(), 3);
    QCOMPARE(plot.xAxis->range(), QCPRange(1, 3));
    QCOMPARE(plot.yAxis->range(), QCPRange(1, 52));
}

void GraphDrawerTest::redrawMatchesPlainRedraw_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<quint32>("seed");
    auto scripted = [](const char* name, const char* script) {
        QTest::newRow(name) << QString::fromUtf8(script) << quint32(0);
    };
    scripted("nothing to draw", "A; V; S; A");
    scripted("single sample, zero width on both axes", "A.X 5 2; A; A; V; A");
    scripted("zero width grows to a range", "A.X 5 2; A; A.X 6 2; A; A.Y 6 3; A");
    scripted("constant values", "all 1 4; A; all 2 4; A; all 3 4; S");
    scripted("all values NaN", "all 1 nan; all 2 nan; A; V");
    scripted("NaN at both ends narrows the keys",
        "A.X 1 nan; A.X 2 3; A.X 3 1; A.X 4 nan; A; A.Y 0 nan; A.Y 9 nan; A; A.Z 5 nan; A");
    scripted("NaN then values", "A.X 1 nan; A; A.X 2 1; A; A.X 3 nan; A; A.X 4 2; A");
    scripted("plus infinity", "A.X 1 1; A.X 2 inf; A; A.X 3 2; A");
    scripted("minus infinity", "A.X 1 1; A; A.Y 2 -inf; A; A.Z 3 5; A");
    scripted("both infinities", "V.X 1 inf; V.Y 1 -inf; V; V.Z 2 0; V");
    scripted("infinite key", "A.X 1 1; A.X inf 2; A; A.Y 2 3; A");
    scripted("equal keys", "A.X 1 1; A.X 1 5; A.X 1 -2; A; A.X 1 7; A.X 2 0; A");
    scripted("short and empty series", "A.X 1 1; A.X 2 2; A.X 3 3; A.Y 1 10; A; A.X 4 4; A; A.Z 9 -1; A");
    scripted("the modulus is not drawn", "A.M 1 100; A.M 2 -100; A; A.X 1 0; A; A.M 3 1e9; A");
    scripted("only the displayed quantity counts",
        "A.X 1 1; V.X 1 100; S.X 1 -100; A; V; S; A.X 2 2; V.X 3 300; A; V; A");
    scripted("switching back and forth while growing",
        "all 1 1; A; all 2 2; V; all 3 3; A; all 4 -1; S; all 5 9; S; V; A");
    scripted("clear and continue", "all 1 1; all 2 5; A; clear; A; all 3 2; A; clear; V; all 4 7; A.X 5 8; V; A");
    scripted("clear while another quantity is shown", "all 1 1; V; clear; all 2 3; all 3 4; A; V");
    scripted("a key goes back between redraws", "A.X 5 1; A.X 6 2; A; A.X 3 7; A; A.X 4 -1; A");
    scripted("a key goes back within one redraw", "A.X 5 1; A; A.X 7 2; A.X 6 3; A.X 1 9; A; A.X 8 0; A");
    scripted("a NaN sample goes back", "A.X 5 1; A.X 6 2; A; A.X 2 nan; A.X 9 nan; A");
    scripted("negative and tiny values", "A.X 1 -1e-300; A.X 2 -5e-300; A; A.Y 3 1e-310; A");
    scripted("huge values", "A.X 1 1e200; A.X 2 -1e200; A; A.Y 3 1e249; A; A.Z 4 1e260; A");
    for (quint32 seed = 1; seed <= 120; ++seed)
        QTest::addRow("random %u", seed) << QString() << seed;
}

void GraphDrawerTest::redrawMatchesPlainRedraw()
{
    QFETCH(QString, script);
    QFETCH(quint32, seed);
    const QVector<Step> steps = seed ? randomScenario(seed) : parseScript(script);
    Harness harness;
    for (int i = 0; i < steps.size(); ++i) {
        harness.run(steps.at(i));
        if (steps.at(i).kind != Step::Draw)
            continue;
        const QString difference = harness.difference();
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("step %1: %2").arg(i).arg(difference)));
    }
}

void GraphDrawerTest::clearEmptiesEverything()
{
    Harness harness;
    for (int key = 1; key <= 30; ++key) {
        for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
            for (int axis = 0; axis < VibroAxisCount; ++axis)
                harness.append(quantity, axis, key, key * (quantity + 1) + axis);
        }
    }
    harness.draw(Velocity);
    QCOMPARE(harness.plot.graph(0)->dataCount(), 30);

    harness.drawer.clearCanvas();
    for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
        for (int axis = 0; axis < VibroAxisCount; ++axis) {
            QVERIFY(harness.drawer.seriesOf(VibroQuantity(quantity), VibroAxis(axis)).keys.isEmpty());
            QVERIFY(harness.drawer.seriesOf(VibroQuantity(quantity), VibroAxis(axis)).values.isEmpty());
        }
    }
    for (int graph = 0; graph < 3; ++graph)
        QCOMPARE(harness.plot.graph(graph)->dataCount(), 0);

    // Later samples start a fresh plot: only they are drawn and fitted.
    harness.append(Velocity, X, 31, -2);
    harness.append(Velocity, Y, 32, 6);
    harness.append(Velocity, Z, 33, 1);
    harness.draw(Velocity);
    for (int graph = 0; graph < 3; ++graph)
        QCOMPARE(harness.plot.graph(graph)->dataCount(), 1);
    QCOMPARE(harness.plot.graph(1)->data()->at(0)->key, 32.0);
    QCOMPARE(harness.plot.xAxis->range(), QCPRange(31, 33));
    QCOMPARE(harness.plot.yAxis->range(), QCPRange(-2, 6));
    QVERIFY2(harness.difference().isEmpty(), qPrintable(harness.difference()));
    harness.draw(Acceleration);
    QCOMPARE(harness.plot.graph(0)->dataCount(), 0);
    QVERIFY2(harness.difference().isEmpty(), qPrintable(harness.difference()));
}

QTEST_MAIN(GraphDrawerTest)
#include "tst_graphdrawer.moc"
