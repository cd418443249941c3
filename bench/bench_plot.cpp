// Redraw cost of the vibration plot as the series grow, against the plain way of
// feeding QCustomPlot (every sample again, then rescaleAxes) and against a bare replot
// of the same data; memory per sample; and the speed of the CSV export.
//
// Run by hand: QT_QPA_PLATFORM=offscreen ./bench_plot [--quick]

#include "csvformat.h"
#include "graphdrawer.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryDir>

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QSize plotSize(741, 500);

double median(QVector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const int n = samples.size();
    return n % 2 ? samples.at(n / 2) : (samples.at(n / 2 - 1) + samples.at(n / 2)) / 2;
}

// Heap in use, the large blocks that malloc maps on their own included.
double heapBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks) + double(info.hblkhd);
}

// One sample of one series as the sensor gives it: a float widened to double.
struct SampleSource {
    QRandomGenerator random{1234};
    double next(int quantity, int axis, int key)
    {
        const double base = (quantity + 1) * (1.5 + std::sin(key / 300.0 + axis));
        return double(float(base + (random.generateDouble() - 0.5) * 0.2));
    }
};

// Milliseconds per call of `step`, the median of `repeats` calls.
double timeEach(int repeats, const std::function<void()>& step)
{
    QVector<double> times;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        step();
        times << timer.nsecsElapsed() / 1e6;
        // Let the queued widget repaint happen outside the timing, as between polls.
        QCoreApplication::processEvents();
    }
    return median(times);
}

void preparePlot(QCustomPlot& plot)
{
    plot.setFixedSize(plotSize);
    plot.show();
    QCoreApplication::processEvents();
}

struct PlotRow {
    int samples = 0;
    double literalMs = 0;
    double oursMs = 0;
    double bareMs = 0;
    double literalBytes = 0;
    double oursBytes = 0;
};

PlotRow measurePlot(int samples, int repeats)
{
    PlotRow row;
    row.samples = samples;
    SampleSource source;

    // (a) The plain way: the whole series handed over at every redraw. The same twelve
    // series are kept and fed as the window keeps them.
    {
        QCustomPlot plot;
        preparePlot(plot);
        for (int graph = 0; graph < 3; ++graph)
            plot.addGraph();
        const double before = heapBytes();
        VibroSeries series[VibroQuantityCount][VibroAxisCount];
        int key = 0;
        auto poll = [&] {
            for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
                for (int axis = 0; axis < VibroAxisCount; ++axis) {
                    series[quantity][axis].keys.append(key);
                    series[quantity][axis].values.append(source.next(quantity, axis, key));
                }
            }
            ++key;
        };
        while (key < samples)
            poll();
        auto redraw = [&] {
            for (int graph = 0; graph < 3; ++graph)
                plot.graph(graph)->setData(series[Acceleration][graph].keys, series[Acceleration][graph].values, false);
            plot.rescaleAxes(false);
            plot.replot();
        };
        redraw();
        row.literalBytes = (heapBytes() - before) / (double(samples) * VibroQuantityCount * VibroAxisCount);
        row.literalMs = timeEach(repeats, [&] {
            poll();
            redraw();
        });
    }

    // (b) GraphDrawer, one new sample in each of the twelve series per redraw, and
    // (c) a bare replot of what it then shows.
    {
        QCustomPlot plot;
        preparePlot(plot);
        GraphDrawer drawer(&plot, nullptr);
        const double before = heapBytes();
        QPair<QVector<double>*, QVector<double>*> targets[VibroQuantityCount][VibroAxisCount];
        for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
            for (int axis = 0; axis < VibroAxisCount; ++axis)
                targets[quantity][axis] = drawer.seriesForRegister(3 + 2 * (VibroAxisCount * quantity + axis));
        }
        int key = 0;
        auto poll = [&] {
            for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
                for (int axis = 0; axis < VibroAxisCount; ++axis) {
                    targets[quantity][axis].first->append(key);
                    targets[quantity][axis].second->append(source.next(quantity, axis, key));
                }
            }
            ++key;
        };
        while (key < samples)
            poll();
        // Drawn at once, the way a redraw per reply did it.
        drawer.setRedrawDeferred(false);
        const QString quantity = QStringLiteral("Виброускорение");
        drawer.plotVibroparameter(quantity);
        row.oursBytes = (heapBytes() - before) / (double(samples) * VibroQuantityCount * VibroAxisCount);
        row.oursMs = timeEach(repeats, [&] {
            poll();
            drawer.plotVibroparameter(quantity);
        });
        row.bareMs = timeEach(repeats, [&] { plot.replot(); });
    }
    return row;
}

struct CsvRow {
    int rows = 0;
    double tableMs = 0;
    double totalMs = 0;
    double bytes = 0;
};

CsvRow measureCsv(int rows, int repeats)
{
    SampleSource source;
    VibroSeries series[VibroQuantityCount][VibroAxisCount];
    for (int key = 0; key < rows; ++key) {
        for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
            for (int axis = 0; axis < VibroAxisCount; ++axis) {
                series[quantity][axis].keys.append(key);
                series[quantity][axis].values.append(source.next(quantity, axis, key));
            }
        }
    }
    QTemporaryDir dir;
    CsvRow row;
    row.rows = rows;
    QVector<double> tableTimes;
    QVector<double> totalTimes;
    for (int i = 0; i < repeats; ++i) {
        double bytes = 0;
        double tableNs = 0;
        double exportNs = 0;
        for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
            QElapsedTimer table;
            table.start();
            QByteArray text;
            QBuffer buffer(&text);
            buffer.open(QIODevice::WriteOnly);
            writeVibroCsv(buffer, series[quantity], quantity == Acceleration);
            tableNs += table.nsecsElapsed();
            bytes += text.size();
            // Written as the export writes it.
            QElapsedTimer written;
            written.start();
            QSaveFile file(dir.filePath(QStringLiteral("table%1.csv").arg(quantity)));
            if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered)
                || !writeVibroCsv(file, series[quantity], quantity == Acceleration) || !file.commit())
                std::fprintf(stderr, "writing the table failed\n");
            exportNs += written.nsecsElapsed();
        }
        totalTimes << exportNs / 1e6;
        tableTimes << tableNs / 1e6;
        row.bytes = bytes;
    }
    row.tableMs = median(tableTimes);
    row.totalMs = median(totalTimes);
    return row;
}

}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));

    std::printf("Plot %dx%d, median milliseconds per redraw (three graphs of N samples each; twelve series\n"
                "of N samples held, one sample added to each per redraw). Bytes: heap per sample of one series.\n",
        plotSize.width(), plotSize.height());
    std::printf("%10s %12s %12s %12s %10s %10s %14s %14s\n", "N", "literal", "ours", "bare replot", "ours/bare",
        "lit/ours", "B/sample lit", "B/sample ours");
    PlotRow last;
    for (int samples : {10000, 100000, 1000000}) {
        const int repeats = samples >= 1000000 ? (quick ? 5 : 15) : (quick ? 10 : 40);
        last = measurePlot(samples, repeats);
        std::printf("%10d %12.3f %12.3f %12.3f %10.2f %10.1f %14.1f %14.1f\n", last.samples, last.literalMs, last.oursMs,
            last.bareMs, last.oursMs / last.bareMs, last.literalMs / last.oursMs, last.literalBytes, last.oursBytes);
        std::fflush(stdout);
    }

    const CsvRow csv = measureCsv(1000000, quick ? 3 : 7);
    const double seconds = csv.totalMs / 1000;
    std::printf("\nCSV export, %d rows per file, three files (%.1f MB): table %.1f ms, table + write %.1f ms\n", csv.rows,
        csv.bytes / 1e6, csv.tableMs, csv.totalMs);
    std::printf("  %.2f million rows/s, %.1f MB/s (table alone %.1f MB/s)\n", 3.0 * csv.rows / seconds / 1e6,
        csv.bytes / 1e6 / seconds, csv.bytes / 1e6 / (csv.tableMs / 1000));

    std::printf("\nAt 10^6: ours/bare %.2f (target <= 1.3), literal/ours %.1f (target >= 4), CSV %.1f MB/s (target >= 50)\n",
        last.oursMs / last.bareMs, last.literalMs / last.oursMs, csv.bytes / 1e6 / seconds);
    return 0;
}
