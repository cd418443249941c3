#pragma once

#include <QList>
#include <QMainWindow>
#include <QModbusDevice>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

#include "dragzoom.h"
#include "modbuslink.h"
#include "requestnotices.h"
#include "vibroseries.h"

class QCloseEvent;
class QModbusClient;
class QMouseEvent;
class QTableWidgetItem;
class SensorControls;
class Ui_MainWindow;

// The main window of the earlier editions 1.2.1 and 1.2 (the latter built with
// TARVEX_EDITION_1_2). `main` calls initiate() once before showing it.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The master's own time-out and retries.
    static constexpr int modbusTimeoutMs = 500;
    static constexpr int modbusRetries = 1;

    void initiate();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void slotTimerTimeout();
    void slotMouseMove(QMouseEvent* event);
    void slotMouseDoubleClick(QMouseEvent* event);
    void slotMousePress(QMouseEvent* event);
    void slotMouseRelease(QMouseEvent* event);
    void onStateChanged(int state);
    void on_pushButtonOpenPort_clicked();
    void on_pushButtonCfgWrite_clicked();
    void on_pushButtonCfgRead_clicked();
    void on_tableCfg_itemClicked(QTableWidgetItem* item);
    void on_checkBox_changeConnectionSettings_toggled(bool checked);
    void on_pushButton_export_data_clicked();
    void on_pushButton_clear_canvas_clicked();
    void on_pushButton_help_clicked();

private:
    void log(const QString& text);
    void readRegisters(int address, quint16 count, bool statusRead = false);
    void showReadResult(int startAddress, QList<quint16> values);
    void plotSelectedSeries();
    bool modbusConnected() const;
    void buildConfigTable();
    void buildStatusTable();

    QTimer statusTimer;
    QModbusClient* modbusDevice = nullptr;
    ModbusLink* modbusLink = nullptr;
    SensorControls* sensorControls = nullptr;
    QStringList regDescriptions;
    // At the line's pace a 32-bit count of received values runs out within a week.
    quint64 pollsSent = 0;
    quint64 statusValuesReceived = 0;
    // Lets a test start the counters where 32 bits would run out, and hold the poll timer.
    friend struct PollSeam;
    bool dragging = false;
    QPoint pressPos;
    // The drag axes' ranges and scales at the right-button press.
    DragZoomPress zoomAtPress;
    VibroSeries accelerationSeries;
    VibroSeries velocitySeries;
    VibroSeries displacementSeries;
    Ui_MainWindow* ui = nullptr;
    // The status bar and the log, for what became of each request.
    std::unique_ptr<RequestNotices> notices;
};
