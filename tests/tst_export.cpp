// The plot's exports into the program directory: the CSV tables of the samples, the
// PNG images of the three quantities, what is said afterwards, and what a failed
// export leaves behind.

#include "csvformat.h"
#include "graphdrawer.h"
#include "windowtest.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QLocale>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <cfloat>
#include <cmath>
#include <limits>

namespace {

const QDateTime exportTime(QDate(2024, 3, 7), QTime(9, 5, 41));
const QString stamp = QStringLiteral("[09-05, 07.03.2024]");
const char* const quantityTexts[VibroQuantityCount] = {"Виброускорение", "Виброскорость", "Виброперемещение"};

QStringList tableNames()
{
    return {QStringLiteral("Vibroacceleration ") + stamp + QStringLiteral(".csv"),
        QStringLiteral("Vibrovelocity ") + stamp + QStringLiteral(".csv"),
        QStringLiteral("Vibrodisplacement ") + stamp + QStringLiteral(".csv")};
}

QStringList imageNames()
{
    return {QStringLiteral("График виброускорения ") + stamp + QStringLiteral(".png"),
        QStringLiteral("График виброскорости ") + stamp + QStringLiteral(".png"),
        QStringLiteral("График виброперемещения ") + stamp + QStringLiteral(".png")};
}

const QString csvSuccess = QStringLiteral(
    "Успешно | Измеряемые вибровеличины сохранены в папке Data, находящейся в корневом пути программы.");
const QString pngSuccess = QStringLiteral(
    "Успешно | Текущие графики сохранены в папке Plots, находящейся в корневом пути программы.");

int registerOf(int quantity, int axis)
{
    return 3 + 2 * (VibroAxisCount * quantity + axis);
}

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();

// A plot with its drawer in a temporary program directory, with a fixed clock.
struct ExportPlot {
    ExportPlot()
        : drawer(&plot, nullptr)
    {
        drawer.setClock([] { return exportTime; });
        plot.setFixedSize(741, 500);
        plot.show();
    }

    void append(int quantity, int axis, double key, double value)
    {
        const auto target = drawer.seriesForRegister(registerOf(quantity, axis));
        target.first->append(key);
        target.second->append(value);
    }

    // Every quantity with its own number of samples, so the images differ.
    void fill(int polls, double scale = 1)
    {
        for (int key = 1; key <= polls; ++key) {
            for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
                if (key > polls - 10 * quantity)
                    continue;
                for (int axis = 0; axis < VibroAxisCount; ++axis)
                    append(quantity, axis, key, scale * (quantity + 1) * std::cos(key / 5.0 + axis));
            }
        }
    }

    QStringList files(const QString& folder) const
    {
        return QDir(dir.filePath(folder)).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    }

    QByteArray read(const QString& folder, const QString& name) const
    {
        return dir.readFile(folder + QLatin1Char('/') + name);
    }

    ProgramDirFixture dir{false};
    QCustomPlot plot;
    GraphDrawer drawer;
    ModalWatcher boxes;
};

QByteArray plainCsv(const VibroSeries (&axes)[VibroAxisCount], bool withHeader)
{
    QString out = withHeader ? QStringLiteral("time,X,Y,Z,M\n") : QString();
    for (int i = 0; i < axes[Z].values.size(); ++i) {
        if (i < axes[X].keys.size())
            out += QString::number(axes[X].keys.at(i), 'f', 0);
        for (int axis = X; axis <= M; ++axis) {
            out += QLatin1Char(',');
            if (i < axes[axis].values.size())
                out += QString::number(axes[axis].values.at(i), 'f', 8);
        }
        out += QLatin1Char('\n');
    }
    return out.toLatin1();
}

double randomMagnitude(QRandomGenerator& random, int lowExponent, int highExponent)
{
    const double mantissa = random.generateDouble() * 9 + 1;
    const double value = mantissa * std::pow(10.0, random.bounded(lowExponent, highExponent + 1));
    return random.bounded(2) ? value : -value;
}

}

class ExportTest : public QObject
{
    Q_OBJECT

private slots:
    void fixedMatchesQt_data();
    void fixedMatchesQt();
    void tableMatchesQtRendering();
    void csvFiles_data();
    void csvFiles();
    void csvOfSixteenRegisterBlock();
    void csvOfEmptySeries();
    void pngFiles();
    void exportFailures_data();
    void exportFailures();
    void failedExportKeepsEarlierOne_data();
    void failedExportKeepsEarlierOne();
};

void ExportTest::fixedMatchesQt_data()
{
    QTest::addColumn<QVector<double>>("values");
    QTest::addColumn<QVector<int>>("decimals");
    QRandomGenerator random(20240307);

    QVector<double> values;
    for (int i = 0; i < 20000; ++i)
        values << randomMagnitude(random, -12, 14);
    QTest::newRow("random doubles") << values << QVector<int>{0, 1, 2, 3, 6, 8, 12, 17};

    values.clear();
    for (int i = 0; i < 20000; ++i)
        values << double(float(randomMagnitude(random, -10, 12)));
    QTest::newRow("floats widened") << values << QVector<int>{0, 3, 8};

    values.clear();
    for (int k = 1; k < 4000; k += 2)
        values << k / 512.0 << -k / 512.0 << 1000 + k / 512.0;
    QTest::newRow("halves at 8 decimals") << values << QVector<int>{8};

    values.clear();
    for (int k = 0; k < 200; ++k)
        values << k + 0.5 << -(k + 0.5) << 1e14 + k + 0.5;
    QTest::newRow("halves at 0 decimals") << values << QVector<int>{0};

    values.clear();
    for (int k = 1; k < 400; k += 2)
        values << k / 4.0 << k / 8.0 << k / 64.0 << k / 2048.0 << -k / 8.0;
    QTest::newRow("halves at other decimals") << values << QVector<int>{1, 2, 5, 10};

    QTest::newRow("zeros") << QVector<double>{0.0, -0.0} << QVector<int>{0, 1, 8, 20};
    QTest::newRow("not finite") << QVector<double>{notANumber, -notANumber, infinity, -infinity} << QVector<int>{0, 8};

    values = {1e15, std::nextafter(1e15, 0.0), std::nextafter(1e15, 2e15), 999999999999999.9, 1e16, 1e17, 1e18, 1e19,
        1e20, 123456789012345678.0, 4503599627370496.5, 9007199254740993.0, 1e300, DBL_MAX};
    for (int i = 0; i < 2000; ++i)
        values << randomMagnitude(random, 14, 20);
    for (int i = 0, n = values.size(); i < n; ++i)
        values << -values.at(i);
    QTest::newRow("large") << values << QVector<int>{0, 2, 8};

    values = {1e-9, 4.9e-9, 5e-9, 5.1e-9, 1.5e-8, 4.99999999e-9, 1e-300, DBL_MIN, std::numeric_limits<double>::denorm_min()};
    for (int i = 0; i < 2000; ++i)
        values << std::fabs(randomMagnitude(random, -20, -8));
    for (int i = 0, n = values.size(); i < n; ++i)
        values << -values.at(i);
    QTest::newRow("tiny") << values << QVector<int>{0, 8, 12};

    QTest::newRow("many decimals") << QVector<double>{1.5, 0.1, -0.3, 123456789012345.0, -99999999999999.9, 1e20, 5e-9}
                                   << QVector<int>{20, 30, 40, 47, 50, 60, 64, 80};
}

// The tables are written through appendFixed; it must write what QString::number does.
void ExportTest::fixedMatchesQt()
{
    QFETCH(QVector<double>, values);
    QFETCH(QVector<int>, decimals);
    for (int places : decimals) {
        for (double value : values) {
            QByteArray out("x,");
            appendFixed(out, value, places);
            const QByteArray expected = "x," + QString::number(value, 'f', places).toLatin1();
            if (out != expected)
                QFAIL(qPrintable(QStringLiteral("%1 at %2 decimals: %3, expected %4")
                                     .arg(value, 0, 'g', 17)
                                     .arg(places)
                                     .arg(QString::fromLatin1(out), QString::fromLatin1(expected))));
        }
    }
}

void ExportTest::tableMatchesQtRendering()
{
    QRandomGenerator random(7);
    for (int round = 0; round < 200; ++round) {
        VibroSeries axes[VibroAxisCount];
        const int rows = random.bounded(0, 60);
        for (int axis = 0; axis < VibroAxisCount; ++axis) {
            const int size = random.bounded(4) ? rows : random.bounded(0, rows + 5);
            for (int i = 0; i < size; ++i) {
                axes[axis].keys << double(i + 1 + round * 100);
                const int kind = random.bounded(40);
                axes[axis].values << (kind == 0 ? notANumber : kind == 1 ? -infinity : kind == 2 ? 0.0
                        : double(float(randomMagnitude(random, -9, 6))));
            }
        }
        const bool withHeader = round % 2 == 0;
        // Small pieces, so that rows also fall across the pieces' edges.
        QByteArray written;
        QBuffer buffer(&written);
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QVERIFY(writeVibroCsv(buffer, axes, withHeader, random.bounded(1, 300)));
        QCOMPARE(written, plainCsv(axes, withHeader));
    }
}

void ExportTest::csvFiles_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::newRow("C") << QLocale::c();
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany);
    QTest::newRow("Russian") << QLocale(QLocale::Russian, QLocale::Russia);
}

void ExportTest::csvFiles()
{
    QFETCH(QLocale, locale);
    const QLocale previous;
    QLocale::setDefault(locale);
    ExportPlot fixture;
    const double keys[] = {1, 2, 3};
    const double ax[] = {0.5, 1.25, -3.125};
    const double ay[] = {1 / 512.0, 3 / 512.0, double(0.1f)};
    const double az[] = {7, notANumber, infinity};
    const double am[] = {-0.0, double(1.1f), double(123456.789f)};
    for (int i = 0; i < 3; ++i) {
        fixture.append(Acceleration, X, keys[i], ax[i]);
        fixture.append(Acceleration, Y, keys[i], ay[i]);
        fixture.append(Acceleration, Z, keys[i], az[i]);
        fixture.append(Acceleration, M, keys[i], am[i]);
    }
    // Velocity: Y and X shorter than Z, no modulus at all.
    fixture.append(Velocity, X, 1, 10);
    fixture.append(Velocity, X, 2, 20.5);
    fixture.append(Velocity, Y, 1, -1e-9);
    fixture.append(Velocity, Z, 1, 2.5);
    fixture.append(Velocity, Z, 2, 1e15);
    fixture.append(Velocity, Z, 3, 5e-9);

    fixture.drawer.exportDataTxt();
    QLocale::setDefault(previous);

    QTRY_COMPARE_WITH_TIMEOUT(fixture.boxes.seen(), QStringList{csvSuccess}, 5000);
    QCOMPARE(fixture.files(QStringLiteral("Data")), QStringList({tableNames().at(0), tableNames().at(2), tableNames().at(1)}));
    QCOMPARE(fixture.read(QStringLiteral("Data"), tableNames().at(0)),
        QByteArray("time,X,Y,Z,M\n"
                   "1,0.50000000,0.00195313,7.00000000,0.00000000\n"
                   "2,1.25000000,0.00585938,nan,1.10000002\n"
                   "3,-3.12500000,0.10000000,inf,123456.78906250\n"));
    QCOMPARE(fixture.read(QStringLiteral("Data"), tableNames().at(1)),
        QByteArray("1,10.00000000,-0.00000000,2.50000000,\n"
                   "2,20.50000000,,1000000000000000.00000000,\n"
                   ",,,0.00000001,\n"));
    QCOMPARE(fixture.read(QStringLiteral("Data"), tableNames().at(2)), QByteArray());
    QVERIFY(!QDir(fixture.dir.filePath(QStringLiteral("Plots"))).exists());
}

// A reply of sixteen state registers reaches the velocity Z but not its modulus.
void ExportTest::csvOfSixteenRegisterBlock()
{
    ExportPlot fixture;
    for (int poll = 1; poll <= 2; ++poll) {
        for (int position = 0; position < 16; ++position) {
            const auto target = fixture.drawer.seriesForRegister(position);
            if (!target.first)
                continue;
            target.first->append(poll);
            target.second->append(position + poll / 4.0);
        }
    }
    fixture.drawer.exportDataTxt();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.boxes.seen(), QStringList{csvSuccess}, 5000);
    QCOMPARE(fixture.read(QStringLiteral("Data"), tableNames().at(0)),
        QByteArray("time,X,Y,Z,M\n"
                   "1,3.25000000,5.25000000,7.25000000,9.25000000\n"
                   "2,3.50000000,5.50000000,7.50000000,9.50000000\n"));
    QCOMPARE(fixture.read(QStringLiteral("Data"), tableNames().at(1)),
        QByteArray("1,11.25000000,13.25000000,15.25000000,\n"
                   "2,11.50000000,13.50000000,15.50000000,\n"));
    QCOMPARE(fixture.read(QStringLiteral("Data"), tableNames().at(2)), QByteArray());
}

void ExportTest::csvOfEmptySeries()
{
    ExportPlot fixture;
    fixture.drawer.exportDataTxt();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.boxes.seen(), QStringList{csvSuccess}, 5000);
    QCOMPARE(fixture.files(QStringLiteral("Data")).size(), 3);
    QCOMPARE(fixture.read(QStringLiteral("Data"), tableNames().at(0)), QByteArray("time,X,Y,Z,M\n"));
    QCOMPARE(fixture.read(QStringLiteral("Data"), tableNames().at(1)), QByteArray());
    QCOMPARE(fixture.read(QStringLiteral("Data"), tableNames().at(2)), QByteArray());
}

void ExportTest::pngFiles()
{
    ExportPlot fixture;
    fixture.fill(60);
    // What each quantity looks like on the plot once drawn. QCustomPlot lays out a tick
    // label it has not drawn before a pixel or two off, so everything is drawn once beforehand.
    QVector<QImage> drawn;
    for (int pass = 0; pass < 2; ++pass) {
        drawn.clear();
        for (const char* text : quantityTexts) {
            QSignalSpy replots(&fixture.plot, &QCustomPlot::afterReplot);
            fixture.drawer.plotVibroparameter(QString::fromUtf8(text));
            QTRY_VERIFY_WITH_TIMEOUT(replots.count() > 0, 5000);
            drawn << fixture.plot.toPixmap(0, 0, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        }
    }
    fixture.drawer.plotVibroparameter(QStringLiteral("Виброскорость"));
    fixture.drawer.exportDataPng();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.boxes.seen(), QStringList{pngSuccess}, 5000);
    QStringList sorted = imageNames();
    sorted.sort();
    QCOMPARE(fixture.files(QStringLiteral("Plots")), sorted);
    QVERIFY(!QDir(fixture.dir.filePath(QStringLiteral("Data"))).exists());

    // Left on displacement.
    QCOMPARE(fixture.plot.yAxis->label(), QStringLiteral("СКЗ виброперемещения S [мкм]"));
    QCOMPARE(fixture.plot.graph(0)->dataCount(), fixture.drawer.seriesOf(Displacement, X).values.size());

    for (int quantity = 0; quantity < VibroQuantityCount; ++quantity) {
        const QImage image(fixture.dir.filePath(QStringLiteral("Plots/") + imageNames().at(quantity)));
        QCOMPARE(image.size(), fixture.plot.size());
        QVERIFY2(image.convertToFormat(QImage::Format_ARGB32) == drawn.at(quantity), qPrintable(imageNames().at(quantity)));
    }
    QVERIFY(drawn.at(0) != drawn.at(1) && drawn.at(1) != drawn.at(2));
}

void ExportTest::exportFailures_data()
{
    QTest::addColumn<bool>("images");
    QTest::addColumn<int>("blocked"); // the name taken by a directory, or -1: the folder is a file
    QTest::newRow("Data is a file") << false << -1;
    QTest::newRow("Plots is a file") << true << -1;
    for (int name = 0; name < 3; ++name) {
        QTest::addRow("table %d is a directory", name) << false << name;
        QTest::addRow("image %d is a directory", name) << true << name;
    }
}

void ExportTest::exportFailures()
{
    QFETCH(bool, images);
    QFETCH(int, blocked);
    ExportPlot fixture;
    fixture.fill(40);
    const QString folder = images ? QStringLiteral("Plots") : QStringLiteral("Data");
    const QStringList names = images ? imageNames() : tableNames();
    if (blocked < 0)
        QVERIFY(fixture.dir.writeFile(folder, "not a folder"));
    else
        QVERIFY(QDir(fixture.dir.path()).mkpath(folder + QLatin1Char('/') + names.at(blocked) + QStringLiteral("/inside")));

    if (images)
        fixture.drawer.exportDataPng();
    else
        fixture.drawer.exportDataTxt();

    QTRY_COMPARE_WITH_TIMEOUT(fixture.boxes.count(), 1, 5000);
    const QString box = fixture.boxes.seen().first();
    QVERIFY2(box.startsWith(QStringLiteral("Ошибка | ")), qPrintable(box));
    QVERIFY2(box.contains(folder), qPrintable(box));
    for (int name = 0; name < 3; ++name) {
        const bool failed = blocked < 0 || blocked == name;
        QVERIFY2(box.contains(names.at(name)) == failed, qPrintable(box));
        if (blocked < 0)
            continue;
        const QFileInfo file(fixture.dir.filePath(folder + QLatin1Char('/') + names.at(name)));
        QCOMPARE(file.isDir(), failed);
        if (!failed)
            QVERIFY(file.size() > 0);
    }
    if (blocked < 0)
        QCOMPARE(fixture.dir.readFile(folder), QByteArray("not a folder"));
    else
        QVERIFY(QFileInfo(fixture.dir.filePath(folder + QLatin1Char('/') + names.at(blocked) + QStringLiteral("/inside"))).isDir());
    QCOMPARE(fixture.files(folder).size(), blocked < 0 ? 0 : 3);
}

void ExportTest::failedExportKeepsEarlierOne_data()
{
    QTest::addColumn<bool>("images");
    QTest::newRow("tables") << false;
    QTest::newRow("images") << true;
}

// The second export under the same names cannot write its files; the first export's
// files must come through whole, and no half-written file may be left beside them.
void ExportTest::failedExportKeepsEarlierOne()
{
    QFETCH(bool, images);
    ExportPlot fixture;
    const QString folder = images ? QStringLiteral("Plots") : QStringLiteral("Data");
    const QStringList names = images ? imageNames() : tableNames();
    auto exportOnce = [&] {
        if (images)
            fixture.drawer.exportDataPng();
        else
            fixture.drawer.exportDataTxt();
    };
    fixture.fill(40);
    exportOnce();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.boxes.count(), 1, 5000);
    QVERIFY(fixture.boxes.seen().first().startsWith(QStringLiteral("Успешно | ")));
    QVector<QByteArray> earlier;
    for (const QString& name : names) {
        earlier << fixture.read(folder, name);
        QVERIFY(earlier.last().size() > 100);
    }

    fixture.boxes.clear();
    fixture.drawer.clearCanvas();
    fixture.fill(80, -3);
    {
        const FileSizeLimit limit(100);
        exportOnce();
    }
    QTRY_COMPARE_WITH_TIMEOUT(fixture.boxes.count(), 1, 5000);
    const QString box = fixture.boxes.seen().first();
    QVERIFY2(box.startsWith(QStringLiteral("Ошибка | ")), qPrintable(box));
    for (int name = 0; name < 3; ++name) {
        QVERIFY2(box.contains(names.at(name)), qPrintable(box));
        QCOMPARE(fixture.read(folder, names.at(name)), earlier.at(name));
    }
    QStringList sorted = names;
    sorted.sort();
    QCOMPARE(fixture.files(folder), sorted);
}

QTEST_MAIN(ExportTest)
#include "tst_export.moc"
