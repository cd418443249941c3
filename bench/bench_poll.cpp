// Status-poll cost over a pty pair against the simulated sensor:
//  1. the round trip of one 34-register state read with Qt's RTU master alone, beside
//     the master's own floor (its inter-frame delay);
//  2. polls per second through the real window with the poll period at its minimum;
//  3. the process memory before and after many polls through the window.
// With --plot-load N it measures only this instead: polls per second and how late a
// 10 ms timer fires, through the shown window with every series holding N samples,
// plotting off and on, the plot's tab shown and another tab shown, for the plot's
// deferred redraw and for a redraw after every reply.
//
// usage: bench_poll [--round-trips N] [--rate-seconds S] [--polls N] [--plot]
//        bench_poll --plot-load N [--load-seconds S]
//   --polls 100000 is the long memory run (a few minutes); the default is shorter.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdio>
#include <memory>
#include <vector>

#include "graphdrawer.h"
#include "mainwindow.h"
#include "sensorlink.h"
#include "windowtest.h"

namespace {
const int stateStart = 13;
const int stateCount = 34;

long rssKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[at];
}

int argValue(const QStringList& args, const QString& name, int fallback)
{
    const int at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
}

void runFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    (void)runUntil([&] { return clock.elapsed() >= ms; }, ms + 1000);
}

bool roundTrips(int polls)
{
    SensorLink link;
    if (!link.start({QStringLiteral("--version"), QStringLiteral("14")})) {
        std::fprintf(stderr, "sensor: %s\n", qPrintable(link.errorString()));
        return false;
    }
    QModbusRtuSerialMaster master;
    master.setConnectionParameter(QModbusDevice::SerialPortNameParameter, link.programPort());
    master.setConnectionParameter(QModbusDevice::SerialBaudRateParameter, QSerialPort::Baud115200);
    master.setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
    master.setConnectionParameter(QModbusDevice::SerialParityParameter, QSerialPort::NoParity);
    master.setConnectionParameter(QModbusDevice::SerialStopBitsParameter, QSerialPort::OneStop);
    master.setTimeout(MainWindow::modbusTimeoutMs);
    master.setNumberOfRetries(MainWindow::modbusRetries);
    if (!master.connectDevice()) {
        std::fprintf(stderr, "master: %s\n", qPrintable(master.errorString()));
        return false;
    }

    std::vector<double> ms;
    int failed = 0;
    const int warmUp = 20;
    for (int i = 0; i < warmUp + polls; ++i) {
        QElapsedTimer clock;
        clock.start();
        QModbusReply* reply =
            master.sendReadRequest(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, stateStart, stateCount), 1);
        if (!reply)
            return false;
        if (!reply->isFinished()) {
            QEventLoop loop;
            QObject::connect(reply, &QModbusReply::finished, &loop, &QEventLoop::quit);
            loop.exec();
        }
        const double elapsed = double(clock.nsecsElapsed()) / 1e6;
        if (reply->error() != QModbusDevice::NoError || reply->result().valueCount() != uint(stateCount))
            ++failed;
        delete reply;
        if (i >= warmUp)
            ms.push_back(elapsed);
        if (i % 1000 == 999)
            link.clearJournal();
    }
    const double floorMs = master.interFrameDelay() / 1000.0;
    const double median = percentile(ms, 0.5);
    std::printf("round trip, %d reads of %d registers (master alone):\n", polls, stateCount);
    std::printf("  median %.3f ms, p99 %.3f ms, min %.3f ms, max %.3f ms, failed %d\n", median, percentile(ms, 0.99),
        percentile(ms, 0), percentile(ms, 1), failed);
    std::printf("  master floor (inter-frame delay) %.3f ms; median / floor = %.2f (target <= 1.5)\n", floorMs,
        floorMs > 0 ? median / floorMs : 0.0);
    master.disconnectDevice();
    return true;
}

struct Window {
    ProgramDirFixture dir;
    SensorLink link;
    std::unique_ptr<MainWindow> window;
    QSpinBox* period = nullptr;
    QLabel* counter = nullptr;

    bool start(bool plot)
    {
        if (!link.start({QStringLiteral("--version"), QStringLiteral("14")})) {
            std::fprintf(stderr, "sensor: %s\n", qPrintable(link.errorString()));
            return false;
        }
        window = std::make_unique<MainWindow>();
        period = window->findChild<QSpinBox*>(QStringLiteral("spinBoxStatusTime"));
        counter = window->findChild<QLabel*>(QStringLiteral("label_counter_state"));
        auto* ports = window->findChild<QComboBox*>(QStringLiteral("comboBoxPorts"));
        auto* open = window->findChild<QPushButton*>(QStringLiteral("pushButtonOpenPort"));
        window->findChild<QCheckBox*>(QStringLiteral("checkBox_need_to_plot"))->setChecked(plot);
        period->setValue(1);
        ports->addItem(link.programPort());
        ports->setCurrentIndex(ports->count() - 1);
        QTest::mouseClick(open, Qt::LeftButton);
        // The first poll comes 2 s after the window.
        return runUntil([&] { return sent() >= 10; }, 10000);
    }

    int sent() const
    {
        static const QRegularExpression form(QStringLiteral("^Счетчик: (\\d+)/"));
        const QRegularExpressionMatch m = form.match(counter->text());
        return m.hasMatch() ? m.captured(1).toInt() : 0;
    }

    int stateReadsSeen()
    {
        int n = 0;
        for (const SensorLink::Request& r : link.journal())
            n += r.function == 3 && r.address == stateStart ? 1 : 0;
        return n;
    }
};

bool pollRate(int seconds)
{
    Window w;
    if (!w.start(false))
        return false;
    w.link.clearJournal();
    const int sentBefore = w.sent();
    QElapsedTimer clock;
    clock.start();
    runFor(seconds * 1000);
    const double elapsed = clock.elapsed() / 1000.0;
    const int reads = w.stateReadsSeen();
    const int sent = w.sent() - sentBefore;
    std::printf("window, period %d ms, %.1f s:\n", w.period->value(), elapsed);
    std::printf("  %.0f polls/s by the sensor's journal, %.0f polls/s by the window's counter (%.3f ms per poll)\n",
        reads / elapsed, sent / elapsed, reads > 0 ? elapsed * 1000 / reads : 0.0);
    return true;
}

bool memory(int polls, bool plot)
{
    Window w;
    if (!w.start(plot))
        return false;
    // Let allocator and caches settle before the first reading.
    if (!runUntil([&] { return w.sent() >= 500; }, 60000))
        return false;
    w.link.clearJournal();
    const int first = w.sent();
    const long startKib = rssKib();
    std::printf("memory through the window (%s), %d polls:\n", plot ? "plotting" : "no plotting", polls);
    std::printf("  VmRSS at start %ld KiB\n", startKib);
    const int step = std::max(1, polls / 5);
    QElapsedTimer clock;
    clock.start();
    for (int mark = step; mark <= polls; mark += step) {
        const bool reached = runUntil(
            [&] {
                if (w.link.journal().size() > 2000)
                    w.link.clearJournal();
                return w.sent() - first >= mark;
            },
            3600 * 1000);
        if (!reached)
            return false;
        std::printf("  after %6d polls (%5.1f s): VmRSS %ld KiB (%+ld)\n", w.sent() - first, clock.elapsed() / 1000.0,
            rssKib(), rssKib() - startKib);
        std::fflush(stdout);
    }
    return true;
}

// How late a repeating 10 ms timer fires: each gap between two timeouts beyond 10 ms.
class Lateness
{
public:
    Lateness()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            if (last >= 0)
                lateMs.push_back(std::max(0.0, (now - last) / 1e6 - periodMs));
            last = now;
        });
    }
    void start()
    {
        last = -1;
        clock.start();
        timer.start(periodMs);
    }
    void stop() { timer.stop(); }

    std::vector<double> lateMs;

private:
    static constexpr int periodMs = 10;
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = -1;
};

// One case, summed over its rounds.
struct LoadCase {
    double seconds = 0;
    int polls = 0;
    int redraws = 0;
    Lateness lateness;
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

// Every series filled to `samples` through the component's own series, keys ending
// below the first poll's so that live samples follow them, values as a sensor's vary.
void prefill(GraphDrawer& drawer, int samples)
{
    QRandomGenerator random(1234);
    for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
        for (int axis = 0; axis < VibroAxisCount; ++axis) {
            const auto target = drawer.seriesForRegister(3 + 2 * (VibroAxisCount * quantity + axis));
            target.first->reserve(samples + 100000);
            target.second->reserve(samples + 100000);
            for (int i = 0; i < samples; ++i) {
                const double base = (quantity + 1) * (1.5 + std::sin(i / 300.0 + axis));
                target.first->append(double(i - samples));
                target.second->append(double(float(base + (random.generateDouble() - 0.5) * 0.2)));
            }
        }
    }
}

bool plotLoad(int samples, int seconds)
{
    Window w;
    if (!w.start(false))
        return false;
    GraphDrawer* drawer = windowDrawer();
    auto* plotting = w.window->findChild<QCheckBox*>(QStringLiteral("checkBox_need_to_plot"));
    auto* tabs = w.window->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    auto* plotTab = w.window->findChild<QWidget*>(QStringLiteral("tab_plot"));
    auto* otherTab = w.window->findChild<QWidget*>(QStringLiteral("tab_data"));
    auto* canvas = w.window->findChild<QCustomPlot*>(QStringLiteral("canvas"));
    if (!drawer || !plotting || !tabs || !plotTab || !otherTab || !canvas) {
        std::fprintf(stderr, "the window's plot parts were not found\n");
        return false;
    }
    // Live samples within the range of the earlier ones, as in a long steady run.
    bool steady = w.link.command(QStringLiteral("freeze on"));
    for (int slot = 0; slot < VibroQuantityCount * VibroAxisCount; ++slot) {
        const double level = (slot / VibroAxisCount + 1) * 1.5;
        steady = w.link.command(QStringLiteral("setfloat %1 %2").arg(15 + 2 * slot).arg(level)) && steady;
    }
    if (!steady) {
        std::fprintf(stderr, "sensor: %s\n", qPrintable(w.link.errorString()));
        return false;
    }
    prefill(*drawer, samples);
    w.window->show();
    if (!QTest::qWaitForWindowExposed(w.window.get()))
        return false;
    int redraws = 0;
    QObject::connect(canvas, &QCustomPlot::afterReplot, [&] { ++redraws; });

    // The graphs take the long series with the first reply drawn: not measured.
    plotting->setChecked(true);
    tabs->setCurrentWidget(plotTab);
    runFor(1000);

    // Both ways of drawing, every case, in short rounds, so that a change in the machine's
    // load falls on all alike. In this order a redraw left waiting by one case is made
    // when the plot is shown again, before the next measurement, never within it.
    enum { OffShown, OnShown, OffHidden, OnHidden, CaseCount };
    const int order[CaseCount] = {OnShown, OnHidden, OffHidden, OffShown};
    LoadCase cases[2][CaseCount];
    const int rounds = std::max(1, 2 * seconds);
    const int roundMs = seconds * 1000 / rounds;
    for (int round = 0; round < rounds; ++round) {
        for (int way = 0; way < 2; ++way) {
            drawer->setRedrawDeferred(way == 0);
            for (int c : order) {
                LoadCase& one = cases[way][c];
                plotting->setChecked(c == OnShown || c == OnHidden);
                tabs->setCurrentWidget(c == OffShown || c == OnShown ? plotTab : otherTab);
                runFor(200);
                w.link.clearJournal();
                redraws = 0;
                one.lateness.start();
                QElapsedTimer clock;
                clock.start();
                runFor(roundMs);
                one.lateness.stop();
                one.seconds += clock.elapsed() / 1000.0;
                one.polls += w.stateReadsSeen();
                one.redraws += redraws;
            }
        }
    }
    plotting->setChecked(false);

    std::printf("plot load: %d samples in each of the %d series, plot %dx%d, period %d ms, %d s per case in %d rounds\n",
        samples, VibroQuantityCount * VibroAxisCount, canvas->width(), canvas->height(), w.period->value(), seconds,
        rounds);
    std::printf("  %-30s %-36s %s\n", "", "deferred redraw", "redraw after every reply");
    std::printf("  %-30s %8s %8s %8s %8s   %8s %8s %8s %8s\n", "case", "polls/s", "late", "late", "redraws", "polls/s",
        "late", "late", "redraws");
    std::printf("  %-30s %8s %8s %8s %8s   %8s %8s %8s %8s\n", "", "", "med ms", "p99 ms", "per s", "", "med ms",
        "p99 ms", "per s");
    const char* const caseNames[CaseCount] = {
        "plotting off, plot tab shown", "plotting on, plot tab shown", "plotting off, other tab shown",
        "plotting on, other tab shown"};
    for (int c = 0; c < CaseCount; ++c) {
        std::printf("  %-30s", caseNames[c]);
        for (int way = 0; way < 2; ++way) {
            const LoadCase& one = cases[way][c];
            std::printf(" %8.1f %8.2f %8.2f %8.1f%s", one.polls / one.seconds, percentile(one.lateness.lateMs, 0.5),
                percentile(one.lateness.lateMs, 0.99), one.redraws / one.seconds, way == 0 ? "  " : "\n");
        }
    }
    auto rate = [&](int way, int c) { return cases[way][c].polls / cases[way][c].seconds; };
    double ratios[2][2];
    for (int way = 0; way < 2; ++way) {
        ratios[way][0] = rate(way, OnShown) / rate(way, OffShown);
        ratios[way][1] = rate(way, OnHidden) / rate(way, OffHidden);
    }
    std::printf("  %-30s %8.2f %35.2f\n", "rate on / off, plot tab shown", ratios[0][0], ratios[1][0]);
    std::printf("  %-30s %8.2f %35.2f\n", "rate on / off, other tab shown", ratios[0][1], ratios[1][1]);
    std::printf("  targets: rate on / off >= 0.9, lateness p99 <= 50 ms\n");
    std::printf("plot load N=%d: rate ratio shown %.2f, hidden %.2f; lateness p99 shown %.1f ms, hidden %.1f ms\n",
        samples, ratios[0][0], ratios[0][1], percentile(cases[0][OnShown].lateness.lateMs, 0.99),
        percentile(cases[0][OnHidden].lateness.lateMs, 0.99));
    return true;
}
}

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int trips = argValue(args, QStringLiteral("--round-trips"), 1000);
    const int seconds = argValue(args, QStringLiteral("--rate-seconds"), 3);
    const int polls = argValue(args, QStringLiteral("--polls"), 10000);
    const bool plot = args.contains(QStringLiteral("--plot"));
    const int plotLoadSamples = argValue(args, QStringLiteral("--plot-load"), -1);
    if (plotLoadSamples >= 0)
        return plotLoad(plotLoadSamples, argValue(args, QStringLiteral("--load-seconds"), 5)) ? 0 : 1;

    std::printf("VmRSS at process start %ld KiB\n", rssKib());
    bool ok = roundTrips(trips);
    ok = pollRate(seconds) && ok;
    ok = memory(polls, plot) && ok;
    return ok ? 0 : 1;
}
