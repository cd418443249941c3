// The log file: one line per call, byte for byte, appended to log.txt in the
// program directory.

#include "mainwindow.h"
#include "windowtest.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTableWidget>
#include <QTest>

namespace {

// "dd.MM.yyyy — HH:mm:ss    |    " written out byte by byte, so that the dash
// and the blanks are checked as bytes rather than through the same formatting.
QByteArray stampOf(const QDateTime& moment)
{
    return moment.date().toString(QStringLiteral("dd.MM.yyyy")).toLatin1() + QByteArray(" \xE2\x80\x94 ")
        + moment.time().toString(QStringLiteral("HH:mm:ss")).toLatin1() + QByteArray("    |    ");
}

QString describe(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

} // namespace

class TestLog : public QObject
{
    Q_OBJECT

private slots:
    void lineBytes_data();
    void lineBytes();
    void linesAppendInOrder();
    void appendsToExistingLog();
    void unwritableLog();

private:
    // Logs `text` and checks the new bytes are one line stamped with the moment of
    // the call (the clock may tick between the readings around it).
    static void logAndCheck(MainWindow& w, const ProgramDirFixture& dir, const QString& text, const QByteArray& textBytes);
};

void TestLog::logAndCheck(MainWindow& w, const ProgramDirFixture& dir, const QString& text, const QByteArray& textBytes)
{
    const QByteArray before = dir.readFile(QStringLiteral("log.txt"));
    const QDateTime first = QDateTime::currentDateTime();
    QVERIFY(QMetaObject::invokeMethod(&w, "log", Q_ARG(QString, text)));
    const QDateTime last = QDateTime::currentDateTime();
    const QByteArray after = dir.readFile(QStringLiteral("log.txt"));
    QVERIFY2(after.startsWith(before), "earlier lines were changed");
    const QByteArray added = after.mid(before.size());
    const QByteArray early = stampOf(first) + textBytes + '\n';
    const QByteArray late = stampOf(last) + textBytes + '\n';
    QVERIFY2(added == early || added == late,
        qPrintable(QStringLiteral("written: %1\nexpected: %2").arg(describe(added), describe(early))));
}

void TestLog::lineBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("ascii") << QStringLiteral("Empty data from sensor") << QByteArray("Empty data from sensor");
    QTest::newRow("Cyrillic") << QStringLiteral("Ошибка чтения 2: тест")
                              << QByteArray("\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0 "
                                            "\xD1\x87\xD1\x82\xD0\xB5\xD0\xBD\xD0\xB8\xD1\x8F 2: "
                                            "\xD1\x82\xD0\xB5\xD1\x81\xD1\x82");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("line feed inside") << QStringLiteral("first\nsecond") << QByteArray("first\nsecond");
    QTest::newRow("percent and blanks") << QStringLiteral("  %1 |  ") << QByteArray("  %1 |  ");
    QTest::newRow("outside the BMP") << QString::fromUtf8("\xF0\x9F\x98\x80") << QByteArray("\xF0\x9F\x98\x80");
}

void TestLog::lineBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    ProgramDirFixture dir;
    MainWindow w;
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("log.txt"))));
    logAndCheck(w, dir, text, bytes);
    if (QTest::currentTestFailed())
        return;
    const QByteArray all = dir.readFile(QStringLiteral("log.txt"));
    QVERIFY(!all.contains('\r'));
    QVERIFY2(!all.startsWith("\xEF\xBB\xBF"), "log starts with a byte-order mark");
    QVERIFY(all.at(0) >= '0' && all.at(0) <= '9');
    if (text.isEmpty())
        QVERIFY(all.endsWith("|    \n"));
}

void TestLog::linesAppendInOrder()
{
    ProgramDirFixture dir;
    MainWindow w;
    logAndCheck(w, dir, QStringLiteral("первая"), QByteArray("\xD0\xBF\xD0\xB5\xD1\x80\xD0\xB2\xD0\xB0\xD1\x8F"));
    logAndCheck(w, dir, QStringLiteral("second"), QByteArray("second"));
    logAndCheck(w, dir, QString(), QByteArray());
    const QList<QByteArray> lines = dir.readFile(QStringLiteral("log.txt")).split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines.at(0).endsWith("|    \xD0\xBF\xD0\xB5\xD1\x80\xD0\xB2\xD0\xB0\xD1\x8F"));
    QVERIFY(lines.at(1).endsWith("|    second"));
    QVERIFY(lines.at(2).endsWith("|    "));
    QVERIFY(lines.at(3).isEmpty());
}

void TestLog::appendsToExistingLog()
{
    ProgramDirFixture dir;
    const QByteArray earlier("01.01.2020 \xE2\x80\x94 00:00:00    |    earlier run\n");
    QVERIFY(dir.writeFile(QStringLiteral("log.txt"), earlier));
    MainWindow w;
    logAndCheck(w, dir, QStringLiteral("now"), QByteArray("now"));
    QVERIFY(dir.readFile(QStringLiteral("log.txt")).startsWith(earlier));
}

// A log that cannot be opened loses the line and nothing else.
void TestLog::unwritableLog()
{
    ProgramDirFixture dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("log.txt")));
    MainWindow w;
    QVERIFY(QMetaObject::invokeMethod(&w, "log", Q_ARG(QString, QStringLiteral("lost"))));
    QVERIFY(QMetaObject::invokeMethod(&w, "log", Q_ARG(QString, QStringLiteral("lost too"))));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("log.txt"))).isDir());
    QVERIFY(QDir(dir.filePath(QStringLiteral("log.txt"))).isEmpty());

    // Still at work: a table rebuild runs as usual.
    QVERIFY(QMetaObject::invokeMethod(&w, "checkDeviceVersion", Q_ARG(int, 11)));
    auto* config = w.findChild<QTableWidget*>(QStringLiteral("tableCfg"));
    QVERIFY(config);
    QCOMPARE(config->rowCount(), 14);
    QCOMPARE(config->item(12, 1)->text(), QStringLiteral("Число усредняемых измерений"));

    // And once the way is clear, logging works again.
    QVERIFY(QDir(dir.path()).rmdir(QStringLiteral("log.txt")));
    logAndCheck(w, dir, QStringLiteral("back"), QByteArray("back"));
}

QTEST_MAIN(TestLog)
#include "tst_log.moc"
