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

#include "consolelines.h"

class GraphDrawer;
class QActionGroup;
class QDialog;
class QKeyEvent;
class QMenu;
class QModbusClient;
class QModbusReply;
class QTableWidgetItem;
class Ui_MainWindow;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    enum ConnectionProtocol { ModbusRtu = 0, UartRaw = 1 };
    Q_ENUM(ConnectionProtocol)

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Bounds of a write wait: the master's own time-out and retries, and a margin.
    static constexpr int modbusTimeoutMs = 500;
    static constexpr int modbusRetries = 3;
    static constexpr int writeWaitMarginMs = 1000;
    // Limits of the console, which a device that never ends a line must not outgrow.
    static constexpr int consoleLineLimit = 4096;
    static constexpr int consoleBlockLimit = 10000;

private slots:
    void readReady();
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

private:
    struct MenuItem {
        const char* text;
        int value;
    };

    QModbusReply* readRegisters(int address, quint16 count);
    void showReadResult(int startAddress, QList<quint16> values);
    void writeRegistersRaw(int address, QList<quint16> values);
    void writeReplyHandler(QModbusReply* reply, quint64 request, int address, int count);
    void waitForWrite();
    void modbusErrorHandler(QModbusDevice::Error error);
    void handleLinkLoss();
    void pollStatus();
    void onUartReadyRead();
    bool modbusConnected() const;
    bool slaveAddress(int& address, QString& problem) const;
    void setCellValue(int row, quint16 value, bool shownTimesTen);
    void setChoiceColour(int row, Qt::GlobalColor colour);
    bool cellValue(int row, int divisor, quint16& value, QString& problem) const;
    void reportWrongValue(int row, const QString& problem);
    void updateConnectCaption();
    void setConfigButtonsEnabled(bool enabled);
    void buildSettingsMenu(const char* title, const QVector<MenuItem>& items, int marked,
        const std::function<void(int)>& select);
    void appendConsoleLine(const QString& text);
    void selectModbusRtu();
    void selectUartRaw();

    QTimer statusTimer;
    QTimer portListTimer;
    QSerialPort* serialPort = nullptr;
    QModbusClient* modbusDevice = nullptr;
    QStringList regDescriptions;
    int addressRegConfigStart = 0;
    int addressRegConfigEnd = 0;
    int addressRegStateStart = 0;
    int addressRegStateEnd = 0;
    int configRegCount = 0;
    int stateRegCount = 0;
    int totalRegCount = 0;
    int firmwareVersion = 0;
    bool versionCheckPending = false;
    bool writeSucceeded = false;
    bool writeFinished = false;
    int pollsSent = 0;
    int statusValuesReceived = 0;
    Ui_MainWindow* ui = nullptr;
    GraphDrawer* graphDrawer = nullptr;
    QString portName;
    int dataBits = QSerialPort::Data8;
    int baudRate = QSerialPort::Baud115200;
    int parity = QSerialPort::NoParity;
    int stopBits = QSerialPort::OneStop;
    ConnectionProtocol protocol = ModbusRtu;

    // Row of tableStatus for each register-description index, -1 where none was built.
    QVector<int> statusRowOfIndex;
    // At most one state read is outstanding; a tick that finds it pending sends nothing.
    QPointer<QModbusReply> pendingStatusRead;
    // Each write request is numbered, so a late reply cannot decide a later request.
    quint64 writeRequestNumber = 0;
    bool writePassRunning = false;
    bool linkLossQueued = false;
    QList<QMenu*> settingsMenus;
    ConsoleLineSplitter consoleLines{consoleLineLimit};
    bool consoleEmpty = true;
    QList<QPointer<QDialog>> softwareIdWindows;
};
