#pragma once

// The current edition's real window on one end of a pty pair and the simulated sensor on
// the other, for the tests of the Modbus link, the status poll and the write pass.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QModbusClient>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include <qcustomplot.h>

#include "mainwindow.h"
#include "pollseam.h"
#include "sensorwindow.h"

// QTest::qWait and the QTRY macros sleep 10 ms between turns of the event loop,
// which stretches every Modbus round trip to about 20 ms; where the spacing of
// requests is measured, wait in a plain event loop instead.

class LinkedWindow : public SensorWindow
{
public:
    LinkedWindow()
        : SensorWindow(true)
    {
    }

    std::unique_ptr<MainWindow> window;

    QCheckBox* plotting = nullptr;
    QComboBox* quantity = nullptr;
    QCustomPlot* canvas = nullptr;

    // The sensor first, then the window: its first status poll comes 2 s after this.
    bool start(const QStringList& simArgs = {}) override
    {
        if (!link.start(simArgs))
            return false;
        window = std::make_unique<MainWindow>();
        MainWindow* w = window.get();
        plotting = w->findChild<QCheckBox*>(QStringLiteral("checkBox_need_to_plot"));
        quantity = w->findChild<QComboBox*>(QStringLiteral("comboBox_vibroparameter"));
        canvas = w->findChild<QCustomPlot*>(QStringLiteral("canvas"));
        return findSharedWidgets(w) && plotting && quantity && canvas;
    }

    QMainWindow* mainWindow() const override { return window.get(); }

    // Connects to the sensor and waits for the configuration block, which is read
    // twice on a connect: before and after the register map is chosen.
    bool connectToSensor() override
    {
        const int before = configReads().size();
        return connectAndWaitFor([&] {
            return configReads().size() >= before + 2 && !cfgValue(1).isEmpty() && !cfgValue(cfg->rowCount() - 1).isEmpty();
        });
    }

    // The period is in milliseconds; the timer starts over with it.
    void pollEvery(int ms) override
    {
        period->setValue(ms);
        PollSeam::startTimer(*window, ms);
    }

    void stopPolls() override { PollSeam::stopTimer(*window); }

    bool pollOnce() override
    {
        PollSeam::tick(*window);
        return waitForStatusRead();
    }

    void setPollCounters(quint64 pollsSent, quint64 statusValuesReceived) override
    {
        PollSeam::setCounters(*window, pollsSent, statusValuesReceived);
    }

    // "Счетчик: sent/received" as two numbers; -1 -1 when it does not read so.
    QPair<int, int> counterValues() const
    {
        quint64 sent = 0;
        quint64 received = 0;
        if (!pollCounterValues(counter->text(), sent, received))
            return {-1, -1};
        return {int(sent), int(received)};
    }

protected:
    QRegularExpression logLineForm() const override
    {
        return QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} — \\d\\d:\\d\\d:\\d\\d    \\|    (.*)$"));
    }
};
