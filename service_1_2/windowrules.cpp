#include "windowrules.h"

#include <QSerialPort>

int Edition12::baudRateFromText(const QString& text)
{
    if (text == QStringLiteral("115200 (по умолчанию)"))
        return QSerialPort::Baud115200;
    return text.toInt(nullptr, 10);
}

int Edition12::parityFromText(const QString& text)
{
    if (text == QStringLiteral("Нечетность"))
        return QSerialPort::OddParity;
    if (text == QStringLiteral("Четность"))
        return QSerialPort::EvenParity;
    return QSerialPort::NoParity;
}

int Edition12::stopBitsFromText(const QString& text)
{
    return text == QStringLiteral("1 (по умолчанию)") ? QSerialPort::OneStop : QSerialPort::TwoStop;
}

void Edition12::fixUpLeadingValues(QList<quint16>& values)
{
    if (values.isEmpty())
        return;
    if (values[0] == 1001)
        values[0] = 1;
    if (values[0] == 1002)
        values[0] = 2;
    if (values.size() < 2)
        return;
    if (values[1] == 1)
        values[1] = 0;
    if (values[0] != 0)
        values[1] = 1;
}

QString Edition12::logLine(const QTime& time, const QString& text)
{
    return time.toString(QStringLiteral("[HH:mm:ss.zzz] ")) + text;
}

QString Edition12::exportText(const QVector<double>& values)
{
    QString text;
    for (double value : values)
        text += QString::number(value, 'f', 8) + QLatin1Char('\n');
    return text;
}
