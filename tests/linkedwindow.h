#pragma once

// The real window on one end of a pty pair and the simulated sensor on the other,
// for the tests of the Modbus link, the status poll and the write pass.

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
#include "sensorlink.h"
#include "journal.h"
#include "windowtest.h"

// QTest::qWait and the QTRY macros sleep 10 ms between turns of the event loop,
// which stretches every Modbus round trip to about 20 ms; where the spacing of
// requests is measured, wait in a plain event loop instead.

class LinkedWindow : public RegisterTableCells
{
public:
    // Members are destroyed in reverse: the window goes first, the sensor and the
    // program directory after it.
    ProgramDirFixture dir;
    SensorLink link;
    std::unique_ptr<ModalWatcher> modals = std::make_unique<ModalWatcher>();
    std::unique_ptr<MainWindow> window;

    QComboBox* ports = nullptr;
    QPushButton* openButton = nullptr;
    QPushButton* readButton = nullptr;
    QPushButton* writeButton = nullptr;
    QLineEdit* slave = nullptr;
    QSpinBox* period = nullptr;
    QLabel* counter = nullptr;
    QCheckBox* plotting = nullptr;
    QComboBox* quantity = nullptr;
    QCustomPlot* canvas = nullptr;

    // The sensor first, then the window: its first status poll comes 2 s after this.
    bool start(const QStringList& simArgs = {})
    {
        if (!link.start(simArgs))
            return false;
        window = std::make_unique<MainWindow>();
        MainWindow* w = window.get();
        ports = w->findChild<QComboBox*>(QStringLiteral("comboBoxPorts"));
        openButton = w->findChild<QPushButton*>(QStringLiteral("pushButtonOpenPort"));
        readButton = w->findChild<QPushButton*>(QStringLiteral("pushButtonCfgRead"));
        writeButton = w->findChild<QPushButton*>(QStringLiteral("pushButtonCfgWrite"));
        slave = w->findChild<QLineEdit*>(QStringLiteral("lineEdiSlaveAddr"));
        period = w->findChild<QSpinBox*>(QStringLiteral("spinBoxStatusTime"));
        counter = w->findChild<QLabel*>(QStringLiteral("label_counter_state"));
        plotting = w->findChild<QCheckBox*>(QStringLiteral("checkBox_need_to_plot"));
        quantity = w->findChild<QComboBox*>(QStringLiteral("comboBox_vibroparameter"));
        canvas = w->findChild<QCustomPlot*>(QStringLiteral("canvas"));
        cfg = w->findChild<QTableWidget*>(QStringLiteral("tableCfg"));
        status = w->findChild<QTableWidget*>(QStringLiteral("tableStatus"));
        return ports && openButton && readButton && writeButton && slave && period && counter && plotting
            && quantity && canvas && cfg && status;
    }

    // The port list is refreshed from the system every 2.5 s and drops what it does
    // not know, so the entry is added and used in one go.
    void clickConnect(const QString& port)
    {
        ports->addItem(port);
        ports->setCurrentIndex(ports->count() - 1);
        QTest::mouseClick(openButton, Qt::LeftButton);
    }

    // Connects to the sensor and waits for the configuration block, which is read
    // twice on a connect: before and after the register map is chosen.
    bool connectToSensor()
    {
        const int before = Journal::only(link.journal(), Journal::isConfigRead).size();
        clickConnect(link.programPort());
        return QTest::qWaitFor(
            [&] {
                return Journal::only(link.journal(), Journal::isConfigRead).size() >= before + 2
                    && !cfgValue(1).isEmpty() && !cfgValue(cfg->rowCount() - 1).isEmpty();
            },
            10000);
    }

    void clickDisconnect() { QTest::mouseClick(openButton, Qt::LeftButton); }

    QModbusClient* master() const { return window->findChild<QModbusClient*>(); }

    bool linkConnected() const { return master() && master()->state() == QModbusDevice::ConnectedState; }

    // "Счетчик: sent/received" as two numbers; -1 -1 when it does not read so.
    QPair<int, int> counterValues() const
    {
        static const QRegularExpression form(QStringLiteral("^Счетчик: (\\d+)/(\\d+)$"));
        const QRegularExpressionMatch m = form.match(counter->text());
        if (!m.hasMatch())
            return {-1, -1};
        return {m.captured(1).toInt(), m.captured(2).toInt()};
    }

    // The texts of log.txt, each line checked against the line format.
    QStringList logTexts(QStringList* malformed = nullptr) const
    {
        static const QRegularExpression form(
            QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} — \\d\\d:\\d\\d:\\d\\d    \\|    (.*)$"));
        return logLineTexts(dir.readFile(QStringLiteral("log.txt")), form, malformed);
    }

    int logCount(const QString& text) const { return logTexts().count(text); }

    QStringList logStartingWith(const QString& prefix) const
    {
        QStringList found;
        for (const QString& text : logTexts()) {
            if (text.startsWith(prefix))
                found << text;
        }
        return found;
    }
};
