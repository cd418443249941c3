// The window rules of the earlier editions that need no window: line settings from the
// combo boxes' texts, the adjustment of a reply's first two values, the log line and
// the exported text.

#include "windowrules.h"

#include <QSerialPort>
#include <QTest>

#include <limits>

class TestRules12 : public QObject
{
    Q_OBJECT

private slots:
    void lineSettings_data();
    void lineSettings();
    void leadingValues_data();
    void leadingValues();
    void logLine_data();
    void logLine();
    void exportText_data();
    void exportText();
};

void TestRules12::lineSettings_data()
{
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QString>("stop");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("parityValue");
    QTest::addColumn<int>("stopBits");

    QTest::newRow("defaults") << "115200 (по умолчанию)" << "Без контроля четности (по умолчанию)" << "1 (по умолчанию)"
                              << 115200 << int(QSerialPort::NoParity) << int(QSerialPort::OneStop);
    QTest::newRow("9600 even two") << "9600" << "Четность" << "2" << 9600 << int(QSerialPort::EvenParity)
                                   << int(QSerialPort::TwoStop);
    QTest::newRow("1200 odd") << "1200" << "Нечетность" << "1 (по умолчанию)" << 1200 << int(QSerialPort::OddParity)
                              << int(QSerialPort::OneStop);
    QTest::newRow("38400") << "38400" << "Без контроля четности (по умолчанию)" << "2" << 38400
                           << int(QSerialPort::NoParity) << int(QSerialPort::TwoStop);
    // The comparisons are exact: anything else is no parity and two stop bits.
    QTest::newRow("other texts") << "" << "четность" << "1" << 0 << int(QSerialPort::NoParity)
                                 << int(QSerialPort::TwoStop);
}

void TestRules12::lineSettings()
{
    QFETCH(QString, speed);
    QFETCH(QString, parity);
    QFETCH(QString, stop);
    QFETCH(int, baudRate);
    QFETCH(int, parityValue);
    QFETCH(int, stopBits);
    QCOMPARE(Edition12::baudRateFromText(speed), baudRate);
    QCOMPARE(Edition12::parityFromText(parity), parityValue);
    QCOMPARE(Edition12::stopBitsFromText(stop), stopBits);
}

void TestRules12::leadingValues_data()
{
    QTest::addColumn<QList<quint16>>("values");
    QTest::addColumn<QList<quint16>>("shown");

    QTest::newRow("1001 makes 1, and a second value 1") << QList<quint16>{1001, 5, 9} << QList<quint16>{1, 1, 9};
    QTest::newRow("1002 makes 2") << QList<quint16>{1002, 0} << QList<quint16>{2, 1};
    QTest::newRow("0 and 1 make 0 and 0") << QList<quint16>{0, 1} << QList<quint16>{0, 0};
    QTest::newRow("0 keeps the second") << QList<quint16>{0, 7} << QList<quint16>{0, 7};
    QTest::newRow("any first value but 0 sets 1") << QList<quint16>{0xFFFF, 3} << QList<quint16>{0xFFFF, 1};
    QTest::newRow("1001 and 1") << QList<quint16>{1001, 1} << QList<quint16>{1, 1};
    QTest::newRow("one value") << QList<quint16>{1001} << QList<quint16>{1};
    QTest::newRow("none") << QList<quint16>{} << QList<quint16>{};
}

void TestRules12::leadingValues()
{
    QFETCH(QList<quint16>, values);
    QFETCH(QList<quint16>, shown);
    Edition12::fixUpLeadingValues(values);
    QCOMPARE(values, shown);
}

void TestRules12::logLine_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("line");

    QTest::newRow("morning") << QTime(9, 5, 3, 42) << "No SPI data" << "[09:05:03.042] No SPI data";
    QTest::newRow("evening") << QTime(23, 59, 59, 999) << "Ошибка чтения: x" << "[23:59:59.999] Ошибка чтения: x";
    QTest::newRow("midnight, empty") << QTime(0, 0) << "" << "[00:00:00.000] ";
}

void TestRules12::logLine()
{
    QFETCH(QTime, time);
    QFETCH(QString, text);
    QFETCH(QString, line);
    QCOMPARE(Edition12::logLine(time, text), line);
}

void TestRules12::exportText_data()
{
    QTest::addColumn<QVector<double>>("values");
    QTest::addColumn<QString>("text");

    QTest::newRow("none") << QVector<double>{} << "";
    QTest::newRow("one value per line")
        << QVector<double>{1.5, -0.25, 0} << "1.50000000\n-0.25000000\n0.00000000\n";
    QTest::newRow("rounded to 8 decimals") << QVector<double>{1.0 / 3, 123456.123456789} << "0.33333333\n123456.12345679\n";
    QTest::newRow("not a number") << QVector<double>{std::numeric_limits<double>::quiet_NaN()} << "nan\n";
}

void TestRules12::exportText()
{
    QFETCH(QVector<double>, values);
    QFETCH(QString, text);
    QCOMPARE(Edition12::exportText(values), text);
}

QTEST_GUILESS_MAIN(TestRules12)
#include "tst_rules12.moc"
