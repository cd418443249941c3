#pragma once

// Reaches into a window's status poll (of either edition): starts its counters where 32
// bits would run out, so that a test need not poll for a week, and holds its timer, so
// that a test decides when a poll goes out.

#include <QMetaObject>

#include "mainwindow.h"

struct PollSeam {
    static void setCounters(MainWindow& window, quint64 pollsSent, quint64 statusValuesReceived)
    {
        window.pollsSent = pollsSent;
        window.statusValuesReceived = statusValuesReceived;
    }

    static void stopTimer(MainWindow& window) { window.statusTimer.stop(); }
    static void startTimer(MainWindow& window, int intervalMs) { window.statusTimer.start(intervalMs); }

    // One tick of the timer, as it comes when it runs.
    static void tick(MainWindow& window) { QMetaObject::invokeMethod(&window.statusTimer, "timeout"); }
};
