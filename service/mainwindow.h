#pragma once

#include <QMainWindow>
#include <QModbusDevice>
#include <QPointer>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <functional>
#include <memory>

#include "consolelines.h"

#include "modbuslink.h"
#include "requestnotices.h"

class GraphDrawer;
class QActionGroup;
class QCloseEvent;
class QDialog;
class QKeyEvent;
class QMenu;
class QModbusClient;
class QTableWidgetItem;
class SensorControls;
class Ui_MainWindow;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    enum ConnectionProtocol { ModbusRtu = 0, UartRaw = 1 };
    Q_ENUM(ConnectionProtocol)

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The master's own time-out and retries.
    static constexpr int modbusTimeoutMs = 500;
    static constexpr int modbusRetries = 3;
    // Limits of the console, which a device that never ends a line must not outgrow.
    static constexpr int consoleLineLimit = 4096;
    static constexpr int consoleBlockLimit = 10000;

private slots:
    void on_pushButtonOpenPort_clicked();
    void on_pushButtonCfgWrite_clicked();
    void on_pushButtonCfgRead_clicked();
    void on_tableCfg_itemClicked(QTableWidgetItem* item);
    void printConsole(QString string);
    void readTableFromFile(QString path);
    void on_pushButton_help_clicked();
    void on_action_aboutSoftware_triggered();
    void on_action_softwareIdData_triggered();
    void on_action_exit_triggered();
    void checkDeviceVersion(int version);
    void log(QString error);
    void changeRegsAddress(int addressRegConfigStart, int addressRegConfigEnd, int addressRegStateStart,
        int addressRegStateEnd);
    void serialPortCheckout();
    void on_pushButton_sendUart_clicked();
    void modbusInitiate();
    void modbusToggleConnect();
    void uartInitiate();
    void uartToggleConnect();
    void on_pushButton_clearConsole_clicked();
    void configureMenuBaudrate();
    void configureMenuDataBits();
    void configureMenuParity();
    void configureMenuStopBits();
    void configureMenuProtocol();
    void configureAllMenus();
    void keyPressEvent(QKeyEvent* event) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct MenuItem {
        const char* text;
        int value;
    };

    void readRegisters(int address, quint16 count, bool statusRead = false);
    void showReadResult(int startAddress, QList<quint16> values);
    void pollStatus();
    void onUartReadyRead();
    bool modbusConnected() const;
    // Ends the Modbus connection, and with it a write pass that waits in the event loop.
    void endModbusConnection();
    void setCellValue(int address, quint16 value);
    void updateConnectCaption();
    void buildSettingsMenu(const char* title, const QVector<MenuItem>& items, int marked,
        const std::function<void(int)>& select);
    void appendConsoleLine(const QString& text);
    void selectModbusRtu();
    void selectUartRaw();

    QTimer statusTimer;
    QTimer portListTimer;
    QSerialPort* serialPort = nullptr;
    QModbusClient* modbusDevice = nullptr;
    ModbusLink* modbusLink = nullptr;
    SensorControls* sensorControls = nullptr;
    QStringList regDescriptions;
    int addressRegConfigStart = 0;
    int addressRegConfigEnd = 0;
    int addressRegStateStart = 0;
    int addressRegStateEnd = 0;
    int configRegCount = 0;
    int stateRegCount = 0;
    int totalRegCount = 0;
    int firmwareVersion = 0;
    // Until this connection's first configuration reply has been handled, nothing is
    // written. That reply chooses the register map and rebuilds the tables, or, for a
    // firmware version without a table, shows the warning box and keeps the table shown
    // before; "Записать" is enabled once it is handled, the box closed.
    bool versionCheckPending = false;
    // At the line's pace a 32-bit count of received values runs out within a week.
    quint64 pollsSent = 0;
    quint64 statusValuesReceived = 0;
    // Lets a test start the counters where 32 bits would run out, and hold the poll timer.
    friend struct PollSeam;
    Ui_MainWindow* ui = nullptr;
    // The status bar and the log, for what became of each request.
    std::unique_ptr<RequestNotices> notices;
    GraphDrawer* graphDrawer = nullptr;
    QString portName;
    int dataBits = QSerialPort::Data8;
    int baudRate = QSerialPort::Baud115200;
    int parity = QSerialPort::NoParity;
    int stopBits = QSerialPort::OneStop;
    ConnectionProtocol protocol = ModbusRtu;

    // Row of tableStatus for each register-description index, -1 where none was built.
    QVector<int> statusRowOfIndex;
    QList<QMenu*> settingsMenus;
    ConsoleLineSplitter consoleLines{consoleLineLimit};
    bool consoleEmpty = true;
    QList<QPointer<QDialog>> softwareIdWindows;
};
