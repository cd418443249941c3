// Status-poll cost over a pty pair against the simulated sensor:
//  1. the round trip of one 34-register state read with Qt's RTU master alone, beside
//     the master's own floor (its inter-frame delay);
//  2. polls per second through the real window with the poll period at its minimum;
//  3. the process memory before and after many polls through the window.
//
// usage: bench_poll [--round-trips N] [--rate-seconds S] [--polls N] [--plot]
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
#include <QRegularExpression>
#include <QSerialPort>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <memory>
#include <vector>

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

    std::printf("VmRSS at process start %ld KiB\n", rssKib());
    bool ok = roundTrips(trips);
    ok = pollRate(seconds) && ok;
    ok = memory(polls, plot) && ok;
    return ok ? 0 : 1;
}
