#pragma once

#include <QList>
#include <QObject>

#include <functional>

#include "modbuslink.h"

class QLineEdit;
class QPushButton;
class QTableWidget;
class QWidget;
class RequestNotices;

// What every edition's window does with its link: connects with the line settings and reads
// the configuration, or tells why it could not; disconnects; hands the values of each read to
// the window and tells what became of every other request, and the master's own errors;
// keeps "Считать все" and "Записать" enabled exactly while they can work; and runs the
// configuration write behind "Записать", one pass at a time.
class SensorControls : public QObject
{
    Q_OBJECT

public:
    struct Form {
        QPushButton* readButton = nullptr;
        QPushButton* writeButton = nullptr;
        QTableWidget* configTable = nullptr;
        QLineEdit* slaveAddress = nullptr;
        // Parent of the measurement-mode warning; with none, the measurement mode is not checked.
        QWidget* measurementModeWarningParent = nullptr;
        // The window's read of the configuration block: on a connect, and after a pass in
        // which a write failed.
        std::function<void()> readConfiguration;
        // Shows the values of a read that went through.
        std::function<void(int startAddress, const QList<quint16>& values)> showReadResult;
        // While it says no, "Записать" stays disabled and a click writes nothing.
        std::function<bool()> writeReady;
    };

    // The widgets that every edition's form has, by the same names.
    template <typename Ui>
    static Form formOf(const Ui* ui)
    {
        Form form;
        form.readButton = ui->pushButtonCfgRead;
        form.writeButton = ui->pushButtonCfgWrite;
        form.configTable = ui->tableCfg;
        form.slaveAddress = ui->lineEdiSlaveAddr;
        return form;
    }

    SensorControls(ModbusLink* link, Form form, const RequestNotices* notices, QObject* parent);

    // The buttons as the connection, a running pass and writeReady have them.
    void updateButtons();
    // Connects and reads the configuration; otherwise shows why not for 5000 ms.
    void connectDevice(const LineSettings& line);
    // Ends the connection, when there is one, and with it a pass that waits in the event loop.
    void disconnectDevice();
    // The click on "Записать": nothing unless connected and ready, or while a pass runs (it
    // waits in the event loop, where a second click must not start another). Otherwise one
    // pass, with the button disabled and the status bar cleared first, and the block read
    // again when a write of it failed.
    void write();

private:
    bool mayWrite() const;

    ModbusLink* link = nullptr;
    Form form;
    const RequestNotices* notices = nullptr;
    bool passRunning = false;
};
