#pragma once

// The window of the earlier editions (1.2.1, or 1.2 when built with TARVEX_EDITION_1_2),
// started as its program starts it, in a temporary program directory; with the
// simulated sensor on a pty pair for the tests that talk to it.

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QModbusClient>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <memory>

#include <qcustomplot.h>

#include "mainwindow.h"
#include "modbuslink.h"
#include "pollseam.h"
#include "sensorwindow.h"

#ifdef TARVEX_EDITION_1_2
constexpr bool isEdition12 = true;
#else
constexpr bool isEdition12 = false;
#endif

inline QString editionTitle()
{
    return isEdition12 ? QStringLiteral("Tarvex-Сервис v1.2") : QStringLiteral("Tarvex-Сервис v1.2.1");
}

// Register descriptions as the delivered "Names.txt" gives them, index = register.
inline QStringList deliveredNames()
{
    QFile file(QStringLiteral(TARVEX_NAMES_FILE));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList names;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        names << line.mid(line.indexOf(QLatin1Char('=')) + 1);
    return names;
}

class Window12 : public SensorWindow
{
public:
    Window12()
        : SensorWindow(false)
    {
    }

    std::unique_ptr<MainWindow> window;

    QComboBox* speed = nullptr;
    QComboBox* parity = nullptr;
    QComboBox* stopBits = nullptr;
    QCheckBox* settings = nullptr;
    QTabWidget* tabs = nullptr;
    QCustomPlot* canvas = nullptr;
    QCheckBox* plotting = nullptr;
    QRadioButton* acceleration = nullptr;
    QRadioButton* velocity = nullptr;
    QRadioButton* displacement = nullptr;
    QLabel* averageLabel = nullptr;
    QLineEdit* average = nullptr;
    QPushButton* clearButton = nullptr;
    QPushButton* exportButton = nullptr;
    QPushButton* helpButton = nullptr;

    // The window as the program makes it: constructed, then initiated. "Names.txt" is
    // put beside it first unless told otherwise.
    bool open(bool withNames = true)
    {
        if (withNames && !QFile::copy(QStringLiteral(TARVEX_NAMES_FILE), dir.filePath(QStringLiteral("Names.txt"))))
            return false;
        window = std::make_unique<MainWindow>();
        window->initiate();
        return findWidgets();
    }

    // The sensor first, then the window.
    bool start(const QStringList& simArgs = {}) override
    {
        if (!link.start(simArgs)) {
            qWarning("%s", qPrintable(link.errorString()));
            return false;
        }
        return open();
    }

    bool findWidgets()
    {
        MainWindow* w = window.get();
        speed = w->findChild<QComboBox*>(QStringLiteral("comboBoxSpeed"));
        parity = w->findChild<QComboBox*>(QStringLiteral("comboBoxParity"));
        stopBits = w->findChild<QComboBox*>(QStringLiteral("comboBoxStopBits"));
        settings = w->findChild<QCheckBox*>(QStringLiteral("checkBox_changeConnectionSettings"));
        tabs = w->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
        canvas = w->findChild<QCustomPlot*>(QStringLiteral("canvas"));
        plotting = w->findChild<QCheckBox*>(QStringLiteral("checkBox_need_to_plot"));
        acceleration = w->findChild<QRadioButton*>(QStringLiteral("radioButton_acceleration"));
        velocity = w->findChild<QRadioButton*>(QStringLiteral("radioButton_velocity"));
        displacement = w->findChild<QRadioButton*>(QStringLiteral("radioButton_displacement"));
        averageLabel = w->findChild<QLabel*>(QStringLiteral("label_average"));
        average = w->findChild<QLineEdit*>(QStringLiteral("lineEdit_average"));
        clearButton = w->findChild<QPushButton*>(QStringLiteral("pushButton_clear_canvas"));
        exportButton = w->findChild<QPushButton*>(QStringLiteral("pushButton_export_data"));
        helpButton = w->findChild<QPushButton*>(QStringLiteral("pushButton_help"));
        return findSharedWidgets(w) && speed && parity && stopBits && settings && tabs && canvas && plotting
            && acceleration && velocity && displacement && averageLabel && average && clearButton && exportButton
            && helpButton;
    }

    QMainWindow* mainWindow() const override { return window.get(); }

    // Connects to the sensor and waits for the configuration block, read once.
    bool connectToSensor() override
    {
        const int before = configReads().size();
        return connectAndWaitFor(
            [&] { return configReads().size() > before && !cfgValue(1).isEmpty() && !cfgValue(13).isEmpty(); });
    }

    // One tick of the status timer with `tab` shown, and the wait for the read it sent.
    // The configuration tab is shown again at once, so that the timer's own ticks
    // while the test waits send nothing.
    bool poll(int tab = 1)
    {
        tabs->setCurrentIndex(tab);
        QMetaObject::invokeMethod(window.get(), "slotTimerTimeout");
        tabs->setCurrentIndex(0);
        return waitForStatusRead();
    }

    // The period is in whole seconds, and the window polls only off the configuration tab.
    void pollEvery(int ms) override
    {
        period->setValue(qMax(1, (ms + 500) / 1000));
        tabs->setCurrentIndex(1);
    }

    void stopPolls() override { tabs->setCurrentIndex(0); }

    bool pollOnce() override { return poll(); }

    void setPollCounters(quint64 pollsSent, quint64 statusValuesReceived) override
    {
        PollSeam::setCounters(*window, pollsSent, statusValuesReceived);
    }

protected:
    QRegularExpression logLineForm() const override
    {
        return QRegularExpression(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] (.*)$"));
    }
};
