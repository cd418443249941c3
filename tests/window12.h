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

#include "journal.h"
#include "mainwindow.h"
#include "modbuslink.h"
#include "sensorlink.h"
#include "windowtest.h"

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

class Window12 : public RegisterTableCells
{
public:
    // Members are destroyed in reverse: the window goes first, the sensor and the
    // program directory after it.
    ProgramDirFixture dir{false};
    SensorLink link;
    std::unique_ptr<ModalWatcher> modals = std::make_unique<ModalWatcher>();
    std::unique_ptr<MainWindow> window;

    QComboBox* ports = nullptr;
    QComboBox* speed = nullptr;
    QComboBox* parity = nullptr;
    QComboBox* stopBits = nullptr;
    QCheckBox* settings = nullptr;
    QPushButton* openButton = nullptr;
    QPushButton* readButton = nullptr;
    QPushButton* writeButton = nullptr;
    QLineEdit* slave = nullptr;
    QTabWidget* tabs = nullptr;
    QSpinBox* period = nullptr;
    QLabel* counter = nullptr;
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
    bool start(const QStringList& simArgs = {})
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
        ports = w->findChild<QComboBox*>(QStringLiteral("comboBoxPorts"));
        speed = w->findChild<QComboBox*>(QStringLiteral("comboBoxSpeed"));
        parity = w->findChild<QComboBox*>(QStringLiteral("comboBoxParity"));
        stopBits = w->findChild<QComboBox*>(QStringLiteral("comboBoxStopBits"));
        settings = w->findChild<QCheckBox*>(QStringLiteral("checkBox_changeConnectionSettings"));
        openButton = w->findChild<QPushButton*>(QStringLiteral("pushButtonOpenPort"));
        readButton = w->findChild<QPushButton*>(QStringLiteral("pushButtonCfgRead"));
        writeButton = w->findChild<QPushButton*>(QStringLiteral("pushButtonCfgWrite"));
        slave = w->findChild<QLineEdit*>(QStringLiteral("lineEdiSlaveAddr"));
        tabs = w->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
        cfg = w->findChild<QTableWidget*>(QStringLiteral("tableCfg"));
        status = w->findChild<QTableWidget*>(QStringLiteral("tableStatus"));
        period = w->findChild<QSpinBox*>(QStringLiteral("spinBoxStatusTime"));
        counter = w->findChild<QLabel*>(QStringLiteral("label_counter_state"));
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
        return ports && speed && parity && stopBits && settings && openButton && readButton && writeButton && slave
            && tabs && cfg && status && period && counter && canvas && plotting && acceleration && velocity
            && displacement && averageLabel && average && clearButton && exportButton && helpButton;
    }

    // The port list is filled once at start-up; the test's pty is added to it.
    void clickConnect(const QString& port)
    {
        ports->addItem(port);
        ports->setCurrentIndex(ports->count() - 1);
        QTest::mouseClick(openButton, Qt::LeftButton);
    }

    // Connects to the sensor and waits for the configuration block.
    bool connectToSensor()
    {
        clickConnect(link.programPort());
        return QTest::qWaitFor([&] { return !cfgValue(1).isEmpty() && !cfgValue(13).isEmpty(); }, 10000);
    }

    QModbusClient* master() const { return window->findChild<QModbusClient*>(); }
    ModbusLink* modbusLink() const { return window->findChild<ModbusLink*>(); }
    bool linkConnected() const { return master() && master()->state() == QModbusDevice::ConnectedState; }

    // One tick of the status timer with `tab` shown, and the wait for the read it sent.
    // The configuration tab is shown again at once, so that the timer's own ticks
    // while the test waits send nothing.
    bool poll(int tab = 1)
    {
        tabs->setCurrentIndex(tab);
        QMetaObject::invokeMethod(window.get(), "slotTimerTimeout");
        tabs->setCurrentIndex(0);
        return QTest::qWaitFor([&] { return !modbusLink()->statusReadOutstanding(); }, 10000);
    }

    // How long the status bar keeps its current message, in ms (0: until replaced),
    // read from the timer the status bar starts for it.
    int messageDuration() const
    {
        const QTimer* timer = window->statusBar()->findChild<QTimer*>();
        return timer && timer->isActive() ? timer->interval() : 0;
    }

    // The texts of log.txt, each line checked against "[HH:mm:ss.zzz] text".
    QStringList logTexts(QStringList* malformed = nullptr) const
    {
        static const QRegularExpression form(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] (.*)$"));
        return logLineTexts(dir.readFile(QStringLiteral("log.txt")), form, malformed);
    }
};
