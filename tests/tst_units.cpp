// The units the window and the plot are built from, each without a window: the log
// file, the value cells, whole-file saving, the console's line cutting and the zoom
// drag's maths (and the drag on a bare plot).

#include "cellvalue.h"
#include "consolelines.h"
#include "dragzoom.h"
#include "logfile.h"
#include "wholefile.h"
#include "windowtest.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

// All the bytes of a literal, NULs included.
template <int size>
QByteArray raw(const char (&text)[size])
{
    return QByteArray(text, size - 1);
}

// The lines that feeding `chunks` one after the other gives.
QStringList feedAll(ConsoleLineSplitter& splitter, const QByteArrayList& chunks)
{
    QStringList lines;
    for (const QByteArray& chunk : chunks)
        lines += splitter.feed(chunk);
    return lines;
}

QStringList linesOf(int limit, const QByteArrayList& chunks)
{
    ConsoleLineSplitter splitter(limit);
    return feedAll(splitter, chunks);
}

// `bytes` cut before each of `cuts` (ascending positions inside it).
QByteArrayList split(const QByteArray& bytes, const QList<int>& cuts)
{
    QByteArrayList chunks;
    int from = 0;
    for (int cut : cuts) {
        chunks << bytes.mid(from, cut - from);
        from = cut;
    }
    chunks << bytes.mid(from);
    return chunks;
}

QString describeCuts(const QList<int>& cuts)
{
    QStringList out;
    for (int cut : cuts)
        out << QString::number(cut);
    return out.join(QLatin1Char(','));
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

const QString smile = QString::fromUtf8("\xf0\x9f\x98\x80");

} // namespace

class TestUnits : public QObject
{
    Q_OBJECT

private slots:
    void logLinesAppend();
    void unwritableLogLosesTheLine();

    void cellRange_data();
    void cellRange();
    void cellToRegister_data();
    void cellToRegister();

    void savedWhole();
    void failedSaveKeepsEarlierFile_data();
    void failedSaveKeepsEarlierFile();
    void saveAllGoesOnPastAFailure();

    void consoleLines_data();
    void consoleLines();
    void consoleLinesAnyChunking_data();
    void consoleLinesAnyChunking();
    void consoleRandomTextsAnyChunking();
    void consoleReopen();

    void zoomedRange_data();
    void zoomedRange();
    void zoomNeverEmptiesARange();
    void dragOnAPlot();
};

// ---- log file ----

void TestUnits::logLinesAppend()
{
    ProgramDirFixture dir(false);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("log.txt"))));
    QVERIFY(LogFile::append(QStringLiteral("первая")));
    QVERIFY(LogFile::append(QString()));
    QVERIFY(LogFile::append(QStringLiteral("a\nb ") + smile));
    const QByteArray expected("\xD0\xBF\xD0\xB5\xD1\x80\xD0\xB2\xD0\xB0\xD1\x8F\n"
                              "\n"
                              "a\nb \xF0\x9F\x98\x80\n");
    QCOMPARE(dir.readFile(QStringLiteral("log.txt")), expected);

    // What an earlier run left stays in front.
    QVERIFY(dir.writeFile(QStringLiteral("log.txt"), "earlier\n"));
    QVERIFY(LogFile::append(QStringLiteral("now")));
    QCOMPARE(dir.readFile(QStringLiteral("log.txt")), QByteArray("earlier\nnow\n"));
}

void TestUnits::unwritableLogLosesTheLine()
{
    ProgramDirFixture dir(false);
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("log.txt")));
    QVERIFY(!LogFile::append(QStringLiteral("lost")));
    QVERIFY(QDir(dir.filePath(QStringLiteral("log.txt"))).isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList {"log.txt"});

    QVERIFY(QDir(dir.path()).rmdir(QStringLiteral("log.txt")));
    QVERIFY(LogFile::append(QStringLiteral("back")));
    QCOMPARE(dir.readFile(QStringLiteral("log.txt")), QByteArray("back\n"));
}

// ---- value cells ----

void TestUnits::cellRange_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<qint64>("lowest");
    QTest::addColumn<qint64>("highest");
    QTest::newRow("as read") << 1 << qint64(-32768) << qint64(65535);
    QTest::newRow("shown times ten") << 10 << qint64(-327680) << qint64(655350);
}

void TestUnits::cellRange()
{
    QFETCH(int, scale);
    QFETCH(qint64, lowest);
    QFETCH(qint64, highest);
    QCOMPARE(CellValue::lowest(scale), lowest);
    QCOMPARE(CellValue::highest(scale), highest);
}

void TestUnits::cellToRegister_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("scale");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("value");

    QTest::newRow("zero") << "0" << 1 << true << 0;
    QTest::newRow("top") << "65535" << 1 << true << 65535;
    QTest::newRow("bottom") << "-32768" << 1 << true << 32768;
    QTest::newRow("minus one") << "-1" << 1 << true << 65535;
    QTest::newRow("above the top") << "65536" << 1 << false << 0;
    QTest::newRow("below the bottom") << "-32769" << 1 << false << 0;
    QTest::newRow("letters") << "abc" << 1 << false << 0;
    QTest::newRow("number and letters") << "7x" << 1 << false << 0;
    QTest::newRow("empty") << "" << 1 << false << 0;
    QTest::newRow("fraction") << "2.5" << 1 << false << 0;
    QTest::newRow("beyond 32 bits") << "99999999999" << 1 << false << 0;
    QTest::newRow("beyond 64 bits") << "99999999999999999999" << 1 << false << 0;
    QTest::newRow("hexadecimal") << "0x10" << 1 << false << 0;

    QTest::newRow("scaled, divided") << "80" << 10 << true << 8;
    QTest::newRow("scaled, zero") << "0" << 10 << true << 0;
    QTest::newRow("scaled, negative multiple") << "-10" << 10 << true << 65535;
    // A number the register cannot hold exactly is refused, never cut to a neighbour.
    QTest::newRow("scaled, no multiple") << "79" << 10 << false << 0;
    QTest::newRow("scaled, no multiple above a multiple") << "125" << 10 << false << 0;
    QTest::newRow("scaled, negative no multiple") << "-15" << 10 << false << 0;
    QTest::newRow("scaled, small negative") << "-5" << 10 << false << 0;
    QTest::newRow("scaled, below the top") << "655349" << 10 << false << 0;
    QTest::newRow("scaled, within the shown range") << "100000" << 10 << true << 10000;
    QTest::newRow("scaled, top") << "655350" << 10 << true << 65535;
    QTest::newRow("scaled, bottom") << "-327680" << 10 << true << 32768;
    QTest::newRow("scaled, just above the top") << "655351" << 10 << false << 0;
    QTest::newRow("scaled, top of the last tenth") << "655359" << 10 << false << 0;
    QTest::newRow("scaled, just below the bottom") << "-327681" << 10 << false << 0;
    QTest::newRow("scaled, far above") << "700000" << 10 << false << 0;
}

void TestUnits::cellToRegister()
{
    QFETCH(QString, text);
    QFETCH(int, scale);
    QFETCH(bool, accepted);
    QFETCH(int, value);
    const quint16 untouched = 0xbeef;
    quint16 got = untouched;
    QCOMPARE(CellValue::toRegister(text, scale, got), accepted);
    QCOMPARE(int(got), accepted ? value : int(untouched));
    // Whatever is accepted lies in the range the cell names and is exactly what the cell
    // shows once the register holds it.
    if (accepted) {
        const qint64 shown = text.toLongLong();
        QVERIFY(shown >= CellValue::lowest(scale) && shown <= CellValue::highest(scale));
        QVERIFY(qint64(qint16(got)) * scale == shown || qint64(got) * scale == shown);
    }
}

// ---- whole files ----

void TestUnits::savedWhole()
{
    ProgramDirFixture dir(false);
    const QString path = dir.filePath(QStringLiteral("table.csv"));
    QVERIFY(dir.writeFile(QStringLiteral("table.csv"), "an earlier, longer content\n"));
    QVERIFY(WholeFile::save(path, true, [](QIODevice& device) { return device.write("new\n") == 4; }));
    QCOMPARE(dir.readFile(QStringLiteral("table.csv")), QByteArray("new\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList {"table.csv"});
}

void TestUnits::failedSaveKeepsEarlierFile_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("the writer falls short") << "short";
    // Small writes, each checked: the one the disk refuses must fail then, not go into
    // a buffer whose flush at the end nobody checks.
    QTest::newRow("the disk takes no more") << "full";
    QTest::newRow("no such folder") << "folder";
}

void TestUnits::failedSaveKeepsEarlierFile()
{
    QFETCH(QString, fault);
    ProgramDirFixture dir(false);
    const QByteArray earlier("earlier image\n");
    QVERIFY(dir.writeFile(QStringLiteral("plot.png"), earlier));
    const QString path = fault == QLatin1String("folder") ? dir.filePath(QStringLiteral("Plots/plot.png"))
                                                         : dir.filePath(QStringLiteral("plot.png"));
    const QByteArray piece(100, 'z');
    bool saved = true;
    if (fault == QLatin1String("full")) {
        const FileSizeLimit limit(150);
        saved = WholeFile::save(path, false, [&](QIODevice& device) {
            for (int i = 0; i < 50; ++i) {
                if (device.write(piece) != piece.size())
                    return false;
            }
            return true;
        });
    } else {
        saved = WholeFile::save(path, false, [&](QIODevice& device) {
            device.write(piece);
            return false;
        });
    }
    QVERIFY(!saved);
    QCOMPARE(dir.readFile(QStringLiteral("plot.png")), earlier);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList {"plot.png"});
}

void TestUnits::saveAllGoesOnPastAFailure()
{
    ProgramDirFixture dir(false);
    QStringList order;
    auto writer = [&order](const QByteArray& text, bool ok) {
        return [&order, text, ok](QIODevice& device) {
            order << QString::fromLatin1(text);
            return device.write(text) == text.size() && ok;
        };
    };
    const QVector<WholeFile::Job> jobs = {
        {dir.filePath(QStringLiteral("a.csv")), writer("first", true)},
        {dir.filePath(QStringLiteral("b.csv")), writer("second", false)},
        {dir.filePath(QStringLiteral("c.csv")), writer("third", true)},
    };
    QCOMPARE(WholeFile::saveAll(jobs, true), QStringList {dir.filePath(QStringLiteral("b.csv"))});
    QCOMPARE(order, (QStringList {"first", "second", "third"}));
    QCOMPARE(dir.readFile(QStringLiteral("a.csv")), QByteArray("first"));
    QCOMPARE(dir.readFile(QStringLiteral("c.csv")), QByteArray("third"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), (QStringList {"a.csv", "c.csv"}));
    QVERIFY(WholeFile::saveAll({}, false).isEmpty());
}

// ---- console lines ----

void TestUnits::consoleLines_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QStringList>("expected");

    const int wide = 4096;
    QTest::newRow("CR") << wide << QByteArrayList {"a\rb\r"} << QStringList {"a", "b"};
    QTest::newRow("LF") << wide << QByteArrayList {"a\nb\n"} << QStringList {"a", "b"};
    QTest::newRow("CR LF") << wide << QByteArrayList {"a\r\nb\r\n"} << QStringList {"a", "b"};
    QTest::newRow("LF CR") << wide << QByteArrayList {"a\n\rb\n\r"} << QStringList {"a", "b"};
    QTest::newRow("CR CR is an empty line") << wide << QByteArrayList {"a\r\rb\n"} << QStringList {"a", "", "b"};
    QTest::newRow("CR LF CR LF") << wide << QByteArrayList {"\r\n\r\n"} << QStringList {"", ""};
    QTest::newRow("CR | LF") << wide << QByteArrayList {"a\r", "\nb\n"} << QStringList {"a", "b"};
    QTest::newRow("LF | CR") << wide << QByteArrayList {"a\n", "\rb\n"} << QStringList {"a", "b"};
    QTest::newRow("CR | CR") << wide << QByteArrayList {"a\r", "\rb\n"} << QStringList {"a", "", "b"};
    QTest::newRow("CR LF | CR") << wide << QByteArrayList {"a\r\n", "\rb\n"} << QStringList {"a", "", "b"};
    QTest::newRow("CR | LF CR") << wide << QByteArrayList {"a\r", "\n\rb\n"} << QStringList {"a", "", "b"};
    QTest::newRow("CR | NUL | LF") << wide << QByteArrayList {"a\r", QByteArray(1, '\0'), "\nb\n"}
                                   << QStringList {"a", "b"};
    QTest::newRow("NULs dropped") << wide << QByteArrayList {raw("\0a\0b\r\0\nc\0\n")}
                                  << QStringList {"ab", "c"};
    QTest::newRow("NUL inside a character") << wide << QByteArrayList {raw("\xd0\0\xb2\xd1\x8b\n")}
                                            << QStringList {"вы"};
    QTest::newRow("character split between arrivals") << wide << QByteArrayList {"пр\xd0", "\xb8вет\n"}
                                                      << QStringList {"привет"};
    QTest::newRow("four-byte character byte by byte")
        << wide << QByteArrayList {"<\xf0", "\x9f", "\x98", "\x80>\n"} << QStringList {"<" + smile + ">"};
    QTest::newRow("unfinished line waits") << wide << QByteArrayList {"done\npart", "ial"} << QStringList {"done"};

    // A line of exactly the limit is one line, whenever its end comes.
    QTest::newRow("limit, end in the next arrival") << 8 << QByteArrayList {"12345678", "\n"}
                                                    << QStringList {"12345678"};
    QTest::newRow("limit, CR LF in the next arrival") << 8 << QByteArrayList {"12345678", "\r\n", "x\n"}
                                                      << QStringList {"12345678", "x"};
    QTest::newRow("limit, CR, then LF") << 8 << QByteArrayList {"12345678\r", "\nx\n"}
                                        << QStringList {"12345678", "x"};
    QTest::newRow("twice the limit, end in the next arrival") << 8 << QByteArrayList {"1234567812345678", "\n"}
                                                              << QStringList {"12345678", "12345678"};
    QTest::newRow("window's limit, end in the next arrival")
        << wide << QByteArrayList {QByteArray(wide, 'x'), "\r\n"} << QStringList {QString(wide, QLatin1Char('x'))};
    QTest::newRow("twice the window's limit, end in the next arrival")
        << wide << QByteArrayList {QByteArray(2 * wide, 'x'), "\n"}
        << QStringList {QString(wide, QLatin1Char('x')), QString(wide, QLatin1Char('x'))};
    QTest::newRow("limit waits for the next character") << 8 << QByteArrayList {"12345678"} << QStringList {};
    QTest::newRow("one past the limit is cut") << 8 << QByteArrayList {"123456789"} << QStringList {"12345678"};
    QTest::newRow("never between a surrogate pair")
        << 8 << QByteArrayList {"1234567\xf0\x9f\x98\x80xyz\n"} << QStringList {"1234567", smile + "xyz"};
    QTest::newRow("pairs only") << 5 << QByteArrayList {"\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80\n"}
                                << QStringList {smile + smile, smile};
}

void TestUnits::consoleLines()
{
    QFETCH(int, limit);
    QFETCH(QByteArrayList, chunks);
    QFETCH(QStringList, expected);
    QCOMPARE(linesOf(limit, chunks), expected);
}

void TestUnits::consoleLinesAnyChunking_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("terminators and characters")
        << 4096 << raw("one\r\n\xd0\xb4\xd0\xb2\xd0\xb0\n\r<3>\r\r\xf0\x9f\x98\x80 & four\n\nend\r\n\0tail")
        << QStringList {"one", "два", "<3>", "", smile + " & four", "", "end"};
    QTest::newRow("pieces")
        << 5
        << QByteArray("abcdefghijk\r\n12345\n1234512345\r\n\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80\n"
                      "абвгдеёжз\n\r\r\n\r\nend12")
        << QStringList {"abcde", "fghij", "k", "12345", "12345", "12345", smile + smile, smile, "абвгд", "еёжз", "",
               ""};
}

// The lines fall the same way whether the bytes come whole, byte by byte, in two
// pieces split anywhere, or in random pieces.
void TestUnits::consoleLinesAnyChunking()
{
    QFETCH(int, limit);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);

    QCOMPARE(linesOf(limit, {bytes}), expected);
    QList<int> everyByte;
    for (int at = 1; at < bytes.size(); ++at)
        everyByte << at;
    QCOMPARE(linesOf(limit, split(bytes, everyByte)), expected);
    for (int at = 1; at < bytes.size(); ++at)
        QVERIFY2(linesOf(limit, split(bytes, {at})) == expected, qPrintable(QStringLiteral("split at %1").arg(at)));
    QRandomGenerator random(20240307);
    for (int round = 0; round < 200; ++round) {
        QList<int> cuts;
        for (int at = 1; at < bytes.size(); ++at) {
            if (random.bounded(4) == 0)
                cuts << at;
        }
        QVERIFY2(linesOf(limit, split(bytes, cuts)) == expected, qPrintable(describeCuts(cuts)));
    }
}

// Long random texts of whole characters, terminators and NULs, against a small limit:
// any chunking gives what the whole text gives, and no piece is longer than the limit
// or splits a character.
void TestUnits::consoleRandomTextsAnyChunking()
{
    const QByteArrayList alphabet = {"a", "b", "\r", "\n", QByteArray(1, '\0'), "\xd0\xb8", "\xe2\x82\xac",
        "\xf0\x9f\x98\x80"};
    QRandomGenerator random(77);
    for (int text = 0; text < 40; ++text) {
        const int limit = 2 + random.bounded(6);
        QByteArray bytes;
        const int length = 50 + random.bounded(250);
        for (int i = 0; i < length; ++i) {
            // Mostly line characters, so that lines outgrow the limit.
            const int pick = random.bounded(16);
            bytes += alphabet.at(pick < 8 ? pick : pick % 2 == 0 ? 0 : 7);
        }
        const QStringList whole = linesOf(limit, {bytes});
        for (const QString& line : whole) {
            QVERIFY(line.size() <= limit);
            QVERIFY(line.isEmpty() || (!line.back().isHighSurrogate() && !line.front().isLowSurrogate()));
        }
        for (int round = 0; round < 30; ++round) {
            QList<int> cuts;
            for (int at = 1; at < bytes.size(); ++at) {
                if (random.bounded(3) == 0)
                    cuts << at;
            }
            QVERIFY2(linesOf(limit, split(bytes, cuts)) == whole,
                qPrintable(QStringLiteral("limit %1, bytes %2, cuts %3")
                               .arg(limit)
                               .arg(QString::fromLatin1(bytes.toHex()), describeCuts(cuts))));
        }
    }
}

// A reopened port forgets the half character and the half terminator of the last opening;
// the half line waits for the next opening's text.
void TestUnits::consoleReopen()
{
    ConsoleLineSplitter splitter(8);
    QCOMPARE(splitter.feed("done\npart"), QStringList {"done"});
    splitter.portReopened();
    QCOMPARE(splitter.feed("ial\n"), QStringList {"partial"});

    QCOMPARE(splitter.feed("a\r"), QStringList {"a"});
    splitter.portReopened();
    QCOMPARE(splitter.feed("\nb\n"), (QStringList {"", "b"}));

    QCOMPARE(splitter.feed("\xd0"), QStringList {});
    splitter.portReopened();
    QCOMPARE(splitter.feed("\xb8\n"), QStringList {QString(QChar::ReplacementCharacter)});

    // A half line of the limit is still cut where it would have been without the reopen.
    QCOMPARE(splitter.feed("1234"), QStringList {});
    splitter.portReopened();
    QCOMPARE(splitter.feed("56789"), QStringList {"12345678"});
    QCOMPARE(splitter.feed("\n"), QStringList {"9"});

    // Without a reopen the same bytes go on where they stopped.
    QCOMPARE(feedAll(splitter, {"x\r", "\n", "\xd0", "\xb8\n"}), (QStringList {"x", "и"}));
}

// ---- zoom drag ----

void TestUnits::zoomedRange_data()
{
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::addColumn<int>("pressPixel");
    QTest::addColumn<int>("pixel");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("zoomedLower");
    QTest::addColumn<double>("zoomedUpper");

    QTest::newRow("no movement") << 0.5 << 10.0 << 20.0 << 100 << 100 << true << 10.0 << 20.0;
    QTest::newRow("right widens") << 0.5 << 10.0 << 20.0 << 100 << 110 << true << 5.0 << 25.0;
    QTest::newRow("left narrows") << 0.5 << 10.0 << 20.0 << 100 << 96 << true << 12.0 << 18.0;
    // Pixels grow downwards: a vertical axis has a negative step.
    QTest::newRow("down narrows") << -0.5 << 10.0 << 20.0 << 100 << 104 << true << 12.0 << 18.0;
    QTest::newRow("up widens") << -0.5 << 10.0 << 20.0 << 100 << 90 << true << 5.0 << 25.0;
    QTest::newRow("no step, no change") << 0.0 << 10.0 << 20.0 << 100 << 500 << true << 10.0 << 20.0;
    QTest::newRow("width zero refused") << 0.5 << 10.0 << 20.0 << 100 << 90 << false << 0.0 << 0.0;
    QTest::newRow("inside out refused") << 0.5 << 10.0 << 20.0 << 100 << 80 << false << 0.0 << 0.0;
    QTest::newRow("far inside out refused") << 0.5 << 10.0 << 20.0 << 100 << -5000 << false << 0.0 << 0.0;
    QTest::newRow("narrower than the smallest range refused")
        << 1e-280 << 0.0 << 3e-280 << 0 << -1 << false << 0.0 << 0.0;
    QTest::newRow("wider than the largest range refused") << 1e249 << -1e249 << 1e249 << 0 << 10 << false << 0.0 << 0.0;
    QTest::newRow("empty press range, no movement") << 0.5 << 10.0 << 10.0 << 100 << 100 << false << 0.0 << 0.0;
}

void TestUnits::zoomedRange()
{
    QFETCH(double, step);
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(int, pressPixel);
    QFETCH(int, pixel);
    QFETCH(bool, valid);
    QFETCH(double, zoomedLower);
    QFETCH(double, zoomedUpper);

    const QCPRange untouched(-7, 7);
    QCPRange zoomed = untouched;
    QCOMPARE(::zoomedRange(step, QCPRange(lower, upper), pressPixel, pixel, zoomed), valid);
    QCOMPARE(zoomed, valid ? QCPRange(zoomedLower, zoomedUpper) : untouched);
}

// Across every pointer position a range is either widened or narrowed about its
// centre, or left alone: never emptied or turned round.
void TestUnits::zoomNeverEmptiesARange()
{
    const QCPRange atPress(-3.2, 5.9);
    for (const double step : {0.37, -0.37, 0.0455, -9.1}) {
        int accepted = 0;
        for (int pixel = -3000; pixel <= 3000; ++pixel) {
            QCPRange zoomed;
            if (!::zoomedRange(step, atPress, 150, pixel, zoomed))
                continue;
            ++accepted;
            QVERIFY2(zoomed.upper > zoomed.lower, qPrintable(rangeText(zoomed)));
            QVERIFY(std::fabs(zoomed.center() - atPress.center()) < 1e-9 * std::max(1.0, zoomed.size()));
        }
        QVERIFY(accepted > 0 && accepted < 6001);
    }
}

// On a real plot: moves are measured on the scale of the press, a return to the press
// point gives back its ranges, and a logarithmic axis is left alone.
void TestUnits::dragOnAPlot()
{
    QCustomPlot plot;
    plot.setFixedSize(640, 420);
    plot.xAxis->setRange(0, 100);
    plot.yAxis->setRange(-5, 5);
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    plot.replot();

    const QPoint at(320, 200);
    const DragZoomPress press = dragZoomPress(&plot, at);
    QCOMPARE(press.pos, at);
    QCOMPARE(press.xRange, QCPRange(0, 100));
    QCOMPARE(press.yRange, QCPRange(-5, 5));
    const double width = plot.axisRect()->width();
    const double height = plot.axisRect()->height();
    QVERIFY(width > 0 && height > 0);
    QCOMPARE(press.xCoordPerPixel, 100 / width);
    QCOMPARE(press.yCoordPerPixel, -10 / height);

    for (const QPoint& offset : {QPoint(60, -40), QPoint(-30, 90), QPoint(200, -150)}) {
        applyDragZoom(&plot, press, at + offset);
        // The labels of the new ranges may change the axis rect; the scale stays the press's.
        plot.replot();
        const double dx = -offset.x() * 100 / width;
        const double dy = offset.y() * 10 / height;
        QVERIFY2(closeTo(plot.xAxis->range(), QCPRange(dx, 100 - dx)), qPrintable(rangeText(plot.xAxis->range())));
        QVERIFY2(closeTo(plot.yAxis->range(), QCPRange(-5 + dy, 5 - dy)), qPrintable(rangeText(plot.yAxis->range())));
    }
    applyDragZoom(&plot, press, at);
    QCOMPARE(plot.xAxis->range(), QCPRange(0, 100));
    QCOMPARE(plot.yAxis->range(), QCPRange(-5, 5));

    // A move that would turn the keys inside out leaves them where the last move put them.
    applyDragZoom(&plot, press, at + QPoint(40, 0));
    const QCPRange widened = plot.xAxis->range();
    applyDragZoom(&plot, press, at - QPoint(int(width), 0));
    QCOMPARE(plot.xAxis->range(), widened);

    plot.xAxis->setScaleType(QCPAxis::stLogarithmic);
    plot.xAxis->setRange(1, 1000);
    plot.replot();
    const double logHeight = plot.axisRect()->height();
    const DragZoomPress logPress = dragZoomPress(&plot, at);
    applyDragZoom(&plot, logPress, at + QPoint(150, 30));
    QCOMPARE(plot.xAxis->range(), QCPRange(1, 1000));
    const double dy = 30 * 10 / logHeight;
    QVERIFY2(closeTo(plot.yAxis->range(), QCPRange(-5 + dy, 5 - dy)), qPrintable(rangeText(plot.yAxis->range())));
}

QTEST_MAIN(TestUnits)
#include "tst_units.moc"
