// The pure helpers every edition shares: register decoding, the write request,
// the Modbus error texts and the register-description file reader.

#include "modbuslink.h"
#include "modbustexts.h"
#include "registerpair.h"
#include "registertablefile.h"
#include "writerequest.h"

#include <QFile>
#include <QModbusPdu>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

#include <cmath>
#include <cstring>
#include <limits>

Q_DECLARE_METATYPE(QModbusDevice::Error)

namespace {

quint32 bitsOf(float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float floatOfBits(quint32 bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (int b : list)
        out.append(char(b));
    return out;
}

// Restores the locale codec a test replaced, whatever way the test ends.
class LocaleCodecGuard
{
public:
    LocaleCodecGuard() : m_saved(QTextCodec::codecForLocale()) {}
    ~LocaleCodecGuard() { QTextCodec::setCodecForLocale(m_saved); }

private:
    QTextCodec* m_saved;
};

} // namespace

class TestCommon : public QObject
{
    Q_OBJECT

private slots:
    void floatFromPair_data();
    void floatFromPair();
    void floatFromPairSpecialValues();

    void writeData_data();
    void writeData();
    void writeRequestIsFunction16();
    void writeEcho_data();
    void writeEcho();

    void readTexts_data();
    void readTexts();
    void writeTexts_data();
    void writeTexts();
    void refusedTexts();
    void outcomeTexts_data();
    void outcomeTexts();
    void pollCounter_data();
    void pollCounter();

    void descriptionFile_data();
    void descriptionFile();
    void descriptionFileIsUtf8WhateverTheLocale();
    void missingDescriptionFile();

private:
    QString writeTemp(const QByteArray& content);
    QTemporaryDir m_dir;
    int m_fileNumber = 0;
};

// ---- register pairs ----

void TestCommon::floatFromPair_data()
{
    QTest::addColumn<quint16>("high");
    QTest::addColumn<quint16>("low");
    QTest::addColumn<quint32>("expectedBits");

    QTest::newRow("25.0") << quint16(0x41C8) << quint16(0x0000) << bitsOf(25.0f);
    QTest::newRow("zero") << quint16(0x0000) << quint16(0x0000) << bitsOf(0.0f);
    QTest::newRow("negative zero") << quint16(0x8000) << quint16(0x0000) << quint32(0x80000000u);
    QTest::newRow("-25.0") << quint16(0xC1C8) << quint16(0x0000) << bitsOf(-25.0f);
    QTest::newRow("1.0") << quint16(0x3F80) << quint16(0x0000) << bitsOf(1.0f);
    // The low word must land in the low bits: pi needs both halves.
    QTest::newRow("pi, both words") << quint16(0x4049) << quint16(0x0FDB) << quint32(0x40490FDBu);
    QTest::newRow("-1.5e-3") << quint16(bitsOf(-1.5e-3f) >> 16) << quint16(bitsOf(-1.5e-3f) & 0xffff)
                             << bitsOf(-1.5e-3f);
    // Swapped words are another number altogether: high word first.
    QTest::newRow("words swapped") << quint16(0x0000) << quint16(0x41C8) << quint32(0x000041C8u);
    QTest::newRow("all ones low") << quint16(0x0000) << quint16(0xFFFF) << quint32(0x0000FFFFu);
}

void TestCommon::floatFromPair()
{
    QFETCH(quint16, high);
    QFETCH(quint16, low);
    QFETCH(quint32, expectedBits);
    const float value = floatFromRegisterPair(high, low);
    QCOMPARE(QString::number(bitsOf(value), 16), QString::number(expectedBits, 16));
}

void TestCommon::floatFromPairSpecialValues()
{
    QCOMPARE(floatFromRegisterPair(0x41C8, 0x0000), 25.0f);
    QVERIFY(std::isnan(floatFromRegisterPair(0x7FC0, 0x0000)));
    QVERIFY(std::isnan(floatFromRegisterPair(0xFFC0, 0x0000)));
    // A NaN told apart from infinity only by its low word.
    QVERIFY(std::isnan(floatFromRegisterPair(0x7F80, 0x0001)));
    const float inf = floatFromRegisterPair(0x7F80, 0x0000);
    QVERIFY(std::isinf(inf) && inf > 0);
    const float minusInf = floatFromRegisterPair(0xFF80, 0x0000);
    QVERIFY(std::isinf(minusInf) && minusInf < 0);
    QCOMPARE(floatFromRegisterPair(0x7F7F, 0xFFFF), std::numeric_limits<float>::max());
    QCOMPARE(floatFromRegisterPair(0x0000, 0x0001), floatOfBits(1));
}

// ---- write request ----

void TestCommon::writeData_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QList<quint16>>("values");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("5 to register 3") << 3 << QList<quint16>{5} << bytes({0x00, 0x03, 0x00, 0x01, 0x02, 0x00, 0x05});
    QTest::newRow("high bytes") << 0x1234 << QList<quint16>{0xABCD}
                                << bytes({0x12, 0x34, 0x00, 0x01, 0x02, 0xAB, 0xCD});
    QTest::newRow("register 0, value 0") << 0 << QList<quint16>{0} << bytes({0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00});
    QTest::newRow("value ffff") << 12 << QList<quint16>{0xFFFF} << bytes({0x00, 0x0C, 0x00, 0x01, 0x02, 0xFF, 0xFF});
    QTest::newRow("two values in order") << 0x0102 << QList<quint16>{0x0304, 0x0506}
                                         << bytes({0x01, 0x02, 0x00, 0x02, 0x04, 0x03, 0x04, 0x05, 0x06});
}

void TestCommon::writeData()
{
    QFETCH(int, address);
    QFETCH(QList<quint16>, values);
    QFETCH(QByteArray, expected);
    QCOMPARE(writeRegistersData(address, values).toHex(' '), expected.toHex(' '));
}

void TestCommon::writeRequestIsFunction16()
{
    const QModbusRequest request = writeRegistersRequest(3, {5});
    QCOMPARE(int(request.functionCode()), 0x10);
    QVERIFY(request.isValid());
    QCOMPARE(request.data().toHex(' '), bytes({0x00, 0x03, 0x00, 0x01, 0x02, 0x00, 0x05}).toHex(' '));
    // What goes on the wire after the server address: function code, then the data.
    QCOMPARE(int(request.size()), 1 + 7);
}

// ---- Modbus error texts ----

void TestCommon::writeEcho_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("wellFormed");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");

    const int write16 = QModbusPdu::WriteMultipleRegisters;
    QTest::newRow("register 5, one") << write16 << QByteArray::fromHex("00050001") << true << 5 << 1;
    QTest::newRow("high bytes") << write16 << QByteArray::fromHex("ff017b02") << true << 0xff01 << 0x7b02;
    QTest::newRow("too short") << write16 << QByteArray::fromHex("000500") << false << -1 << -1;
    QTest::newRow("too long") << write16 << QByteArray::fromHex("0005000100") << false << -1 << -1;
    QTest::newRow("other function") << int(QModbusPdu::WriteSingleRegister) << QByteArray::fromHex("00050001")
                                    << false << -1 << -1;
}

void TestCommon::writeEcho()
{
    QFETCH(int, function);
    QFETCH(QByteArray, data);
    QFETCH(bool, wellFormed);
    QFETCH(int, address);
    QFETCH(int, count);
    int gotAddress = -1;
    int gotCount = -1;
    const QModbusResponse response(QModbusPdu::FunctionCode(function), data);
    QCOMPARE(writeRegistersEcho(response, gotAddress, gotCount), wellFormed);
    QCOMPARE(gotAddress, address);
    QCOMPARE(gotCount, count);
}

void TestCommon::readTexts_data()
{
    QTest::addColumn<QModbusDevice::Error>("error");
    QTest::addColumn<QString>("errorString");
    QTest::addColumn<int>("exceptionCode");
    QTest::addColumn<QString>("expected");

    QTest::newRow("protocol, code 2") << QModbusDevice::ProtocolError << "Illegal address" << 2
                                      << "Ошибка чтения 1: Illegal address (Modbus exception: 0x2)";
    QTest::newRow("protocol, no exception") << QModbusDevice::ProtocolError << "x" << 0xff
                                            << "Ошибка чтения 1: x (Modbus exception: 0xff)";
    QTest::newRow("protocol, code 0x0b") << QModbusDevice::ProtocolError << "gw" << 0x0b
                                         << "Ошибка чтения 1: gw (Modbus exception: 0xb)";
    QTest::newRow("time-out") << QModbusDevice::TimeoutError << "Request timeout." << 2
                              << "Ошибка чтения 2: Request timeout. (code: 0x5)";
    QTest::newRow("reply aborted") << QModbusDevice::ReplyAbortedError << "aborted" << 0xff
                                   << "Ошибка чтения 2: aborted (code: 0x7)";
    QTest::newRow("unknown error") << QModbusDevice::UnknownError << "?" << 0
                                   << "Ошибка чтения 2: ? (code: 0x8)";
    QTest::newRow("read error") << QModbusDevice::ReadError << "r" << 0 << "Ошибка чтения 2: r (code: 0x1)";
    QTest::newRow("percent signs kept") << QModbusDevice::ProtocolError << "bad %1 %2 %3" << 3
                                        << "Ошибка чтения 1: bad %1 %2 %3 (Modbus exception: 0x3)";
    QTest::newRow("percent signs kept, other") << QModbusDevice::TimeoutError << "%1%2" << 0
                                               << "Ошибка чтения 2: %1%2 (code: 0x5)";
    QTest::newRow("empty reason") << QModbusDevice::TimeoutError << "" << 0 << "Ошибка чтения 2:  (code: 0x5)";
}

void TestCommon::readTexts()
{
    QFETCH(QModbusDevice::Error, error);
    QFETCH(QString, errorString);
    QFETCH(int, exceptionCode);
    QFETCH(QString, expected);
    QCOMPARE(ModbusTexts::readFailed(error, errorString, exceptionCode), expected);
}

void TestCommon::writeTexts_data()
{
    QTest::addColumn<QModbusDevice::Error>("error");
    QTest::addColumn<QString>("errorString");
    QTest::addColumn<int>("exceptionCode");
    QTest::addColumn<QString>("expected");

    QTest::newRow("protocol, code 2") << QModbusDevice::ProtocolError << "Illegal address" << 2
                                      << "Ошибка записи 1: Illegal address (Modbus exception: 0x2)";
    QTest::newRow("protocol, code 0x0a") << QModbusDevice::ProtocolError << "gw" << 0x0a
                                         << "Ошибка записи 1: gw (Modbus exception: 0xa)";
    QTest::newRow("time-out, no exception") << QModbusDevice::TimeoutError << "Request timeout." << 0xff
                                            << "Ошибка записи 2: Request timeout. (Modbus exception: 0xff)";
    QTest::newRow("time-out, code 4") << QModbusDevice::TimeoutError << "t" << 4
                                      << "Ошибка записи 2: t (Modbus exception: 0x4)";
    QTest::newRow("reply aborted") << QModbusDevice::ReplyAbortedError << "aborted" << 2
                                   << "Ошибка записи 3: aborted (code: 0x7)";
    QTest::newRow("connection error") << QModbusDevice::ConnectionError << "c" << 0
                                      << "Ошибка записи 3: c (code: 0x3)";
    QTest::newRow("write error") << QModbusDevice::WriteError << "w" << 0 << "Ошибка записи 3: w (code: 0x2)";
    QTest::newRow("percent signs kept") << QModbusDevice::ProtocolError << "%1 and %2" << 1
                                        << "Ошибка записи 1: %1 and %2 (Modbus exception: 0x1)";
    QTest::newRow("percent signs kept, time-out") << QModbusDevice::TimeoutError << "%2%1" << 1
                                                  << "Ошибка записи 2: %2%1 (Modbus exception: 0x1)";
    QTest::newRow("percent signs kept, other") << QModbusDevice::UnknownError << "%1" << 1
                                               << "Ошибка записи 3: %1 (code: 0x8)";
}

void TestCommon::writeTexts()
{
    QFETCH(QModbusDevice::Error, error);
    QFETCH(QString, errorString);
    QFETCH(int, exceptionCode);
    QFETCH(QString, expected);
    QCOMPARE(ModbusTexts::writeFailed(error, errorString, exceptionCode), expected);
}

void TestCommon::refusedTexts()
{
    QCOMPARE(ModbusTexts::readRefused(QStringLiteral("Device not connected.")),
        QStringLiteral("Ошибка чтения: Device not connected."));
    QCOMPARE(ModbusTexts::writeRefused(QStringLiteral("Device not connected.")),
        QStringLiteral("Ошибка записи 4: Device not connected."));
    QCOMPARE(ModbusTexts::readRefused(QString()), QStringLiteral("Ошибка чтения: "));
    QCOMPARE(ModbusTexts::writeRefused(QString()), QStringLiteral("Ошибка записи 4: "));
    QCOMPARE(ModbusTexts::readRefused(QStringLiteral("адрес \"%1\"")), QStringLiteral("Ошибка чтения: адрес \"%1\""));
    QCOMPARE(ModbusTexts::writeRefused(QStringLiteral("%1")), QStringLiteral("Ошибка записи 4: %1"));
}

// ---- register-description file ----

QString TestCommon::writeTemp(const QByteArray& content)
{
    const QString path = m_dir.filePath(QStringLiteral("table_%1.rgt").arg(++m_fileNumber));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

void TestCommon::outcomeTexts_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("isWrite");
    QTest::addColumn<QString>("failure");
    // What the window shows and logs: the failure's text unless told otherwise.
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("durationMs");
    QTest::addColumn<bool>("logged");
    QTest::newRow("read done") << int(ModbusOutcome::Done) << false << "" << "" << 0 << false;
    QTest::newRow("write done") << int(ModbusOutcome::Done) << true << "" << "Успешно!" << 3000 << false;
    QTest::newRow("read dropped") << int(ModbusOutcome::Dropped) << false << "" << "" << 0 << false;
    QTest::newRow("write dropped") << int(ModbusOutcome::Dropped) << true << "" << "" << 0 << false;
    QTest::newRow("read refused") << int(ModbusOutcome::Refused) << false << "Ошибка чтения: why" << "" << 5000 << true;
    QTest::newRow("write refused") << int(ModbusOutcome::Refused) << true << "Ошибка записи 4: why" << "" << 3000 << true;
    QTest::newRow("read failed") << int(ModbusOutcome::Failed) << false << "Ошибка чтения 2: why (code: 0x5)" << ""
                                 << 3000 << true;
    QTest::newRow("read given up") << int(ModbusOutcome::GivenUp) << false << "Ошибка чтения 2: why (code: 0x5)"
                                   << "" << 3000 << true;
    QTest::newRow("write given up") << int(ModbusOutcome::GivenUp) << true
                                    << "Ошибка записи 2: why (Modbus exception: 0xff)" << "" << 3000 << true;
    QTest::newRow("read mismatch")
        << int(ModbusOutcome::Mismatch) << false
        << "Ошибка чтения 3: ответ не соответствует запросу (запрошено регистров: 13 с адреса 0, получено: 14 с адреса 0)"
        << "" << 3000 << true;
    QTest::newRow("write mismatch")
        << int(ModbusOutcome::Mismatch) << true
        << "Ошибка записи 3: ответ не соответствует запросу (записано регистров: 13 с адреса 0, подтверждено: 14 с адреса 0)"
        << "" << 3000 << true;
}

void TestCommon::outcomeTexts()
{
    QFETCH(int, kind);
    QFETCH(bool, isWrite);
    QFETCH(QString, failure);
    QFETCH(QString, shown);
    QFETCH(int, durationMs);
    QFETCH(bool, logged);
    ModbusOutcome outcome;
    outcome.kind = ModbusOutcome::Kind(kind);
    outcome.isWrite = isWrite;
    outcome.error = QModbusDevice::TimeoutError;
    outcome.errorString = QStringLiteral("why");
    outcome.requestedStart = 0;
    outcome.requestedCount = 13;
    outcome.receivedStart = 0;
    outcome.receivedCount = 14;
    QCOMPARE(ModbusTexts::failure(outcome), failure);
    const ModbusTexts::Notice notice = ModbusTexts::notice(outcome);
    QCOMPARE(notice.text, shown.isEmpty() ? failure : shown);
    if (!notice.text.isEmpty()) {
        QCOMPARE(notice.durationMs, durationMs);
        QCOMPARE(notice.logged, logged);
    }
}

void TestCommon::pollCounter_data()
{
    QTest::addColumn<quint64>("sent");
    QTest::addColumn<quint64>("received");
    QTest::addColumn<QString>("label");
    QTest::newRow("start") << quint64(0) << quint64(0) << "Счетчик: 0/0";
    QTest::newRow("past 2^31") << (quint64(1) << 31) << (quint64(1) << 31) + 16 << "Счетчик: 2147483648/2147483664";
    QTest::newRow("past 2^32") << (quint64(1) << 32) + 1 << (quint64(1) << 40) << "Счетчик: 4294967297/1099511627776";
}

void TestCommon::pollCounter()
{
    QFETCH(quint64, sent);
    QFETCH(quint64, received);
    QFETCH(QString, label);
    QCOMPARE(ModbusTexts::pollCounter(sent, received), label);
}

void TestCommon::descriptionFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("expected");

    const QStringList old{"old0", "old1", "old2", "old3"};

    QTest::newRow("plain") << QByteArray("R0=a\nR1=b\nR2=c\nR3=d\n") << old << QStringList{"a", "b", "c", "d"};
    QTest::newRow("only the first = splits")
        << QByteArray("R0=x=y\nR1==\nR2=a = b\nR3=d\n") << old << QStringList{"x=y", "=", "a = b", "d"};
    QTest::newRow("blanks kept") << QByteArray("R0=  lead\nR1=trail  \nR2= \nR3=\t tab\n") << old
                                 << QStringList{"  lead", "trail  ", " ", "\t tab"};
    QTest::newRow("nothing after =") << QByteArray("R0=\nR1=b\n=\nR3=d\n") << old << QStringList{"", "b", "", "d"};
    QTest::newRow("line without = keeps its entry")
        << QByteArray("R0=a\nno separator here\nR2=c\nR3=d\n") << old << QStringList{"a", "old1", "c", "d"};
    QTest::newRow("empty line keeps its entry")
        << QByteArray("R0=a\n\nR2=c\nR3=d\n") << old << QStringList{"a", "old1", "c", "d"};
    QTest::newRow("missing lines keep their entries")
        << QByteArray("R0=a\nR1=b\n") << old << QStringList{"a", "b", "old2", "old3"};
    QTest::newRow("no end of last line") << QByteArray("R0=a\nR1=b\nR2=c\nR3=d") << old
                                         << QStringList{"a", "b", "c", "d"};
    QTest::newRow("empty file") << QByteArray() << old << old;
    QTest::newRow("surplus lines ignored") << QByteArray("R0=a\nR1=b\nR2=c\nR3=d\nR4=e\nR5=f\n") << old
                                           << QStringList{"a", "b", "c", "d"};
    QTest::newRow("nothing asked for") << QByteArray("R0=a\n") << QStringList() << QStringList();
    QTest::newRow("CRLF") << QByteArray("R0=a\r\nR1=b  \r\nR2=\r\nR3=d\r\n") << old
                          << QStringList{"a", "b  ", "", "d"};
    QTest::newRow("CRLF, line without =") << QByteArray("R0=a\r\n\r\nxyz\r\nR3=d") << old
                                          << QStringList{"a", "old1", "old2", "d"};
    QTest::newRow("Cyrillic")
        << QByteArray("R0=Код доступа\nR1=Версия прошивки\nR2=Частота, x10 Гц\nR3=Ёё Щщ\n") << old
        << QStringList{"Код доступа", "Версия прошивки", "Частота, x10 Гц", "Ёё Щщ"};
}

void TestCommon::descriptionFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, before);
    QFETCH(QStringList, expected);
    const QString path = writeTemp(content);
    QVERIFY(!path.isEmpty());
    QStringList descriptions = before;
    QVERIFY(readRegisterDescriptions(path, descriptions));
    QCOMPARE(descriptions, expected);
}

void TestCommon::descriptionFileIsUtf8WhateverTheLocale()
{
    const QString path = writeTemp(QByteArray("R0=Код доступа\nR1=Скорость, мм/с\n"));
    QVERIFY(!path.isEmpty());
    const QStringList expected{QStringLiteral("Код доступа"), QStringLiteral("Скорость, мм/с")};
    for (const char* codec : {"ISO-8859-1", "KOI8-R", "windows-1251", "UTF-8"}) {
        LocaleCodecGuard guard;
        QTextCodec* localeCodec = QTextCodec::codecForName(codec);
        QVERIFY2(localeCodec, codec);
        QTextCodec::setCodecForLocale(localeCodec);
        QStringList descriptions{"x", "y"};
        QVERIFY(readRegisterDescriptions(path, descriptions));
        QVERIFY2(descriptions == expected, qPrintable(QStringLiteral("locale %1: %2").arg(QLatin1String(codec), descriptions.join('|'))));
    }
}

void TestCommon::missingDescriptionFile()
{
    QStringList descriptions{"a", "b"};
    QVERIFY(!readRegisterDescriptions(m_dir.filePath(QStringLiteral("no_such_table.rgt")), descriptions));
    QCOMPARE(descriptions, (QStringList{"a", "b"}));
    // A directory where the file should be cannot be read as one either.
    QVERIFY(!readRegisterDescriptions(m_dir.path(), descriptions));
    QCOMPARE(descriptions, (QStringList{"a", "b"}));
}

QTEST_GUILESS_MAIN(TestCommon)
#include "tst_common.moc"
