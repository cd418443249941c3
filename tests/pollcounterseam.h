#pragma once

// Starts a window's poll counters (of either edition) where 32 bits would run out, so that
// a test need not poll for a week.

#include <QRegularExpression>
#include <QString>

#include "mainwindow.h"

struct PollCounterSeam {
    static void set(MainWindow& window, quint64 pollsSent, quint64 statusValuesReceived)
    {
        window.pollsSent = pollsSent;
        window.statusValuesReceived = statusValuesReceived;
    }

    // The two numbers of "Счетчик: sent/received", whatever their size; false when the
    // label does not read so.
    static bool read(const QString& label, quint64& pollsSent, quint64& statusValuesReceived)
    {
        static const QRegularExpression form(QStringLiteral("^Счетчик: (\\d+)/(\\d+)$"));
        const QRegularExpressionMatch m = form.match(label);
        bool sentOk = false;
        bool receivedOk = false;
        if (m.hasMatch()) {
            pollsSent = m.captured(1).toULongLong(&sentOk);
            statusValuesReceived = m.captured(2).toULongLong(&receivedOk);
        }
        return sentOk && receivedOk;
    }
};
