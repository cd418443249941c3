#include "mainwindow.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QModbusRtuSerialMaster>
#include <QMouseEvent>
#include <QSerialPortInfo>
#include <QStatusBar>

#include "cellvalue.h"
#include "configwritepass.h"
#include "logfile.h"
#include "modbustexts.h"
#include "programdir.h"
#include "registerpair.h"
#include "registertables.h"
#include "registertablefile.h"
#include "sensorcontrols.h"
#include "ui_mainwindow.h"
#include "wholefile.h"
#include "windowrules.h"

namespace {
#ifdef TARVEX_EDITION_1_2
const char* const windowTitleText = "Tarvex-Сервис v1.2";
#else
const char* const windowTitleText = "Tarvex-Сервис v1.2.1";
#endif
const int configFirst = 0;
const int configCount = 13;
const int stateFirst = 13;
const int stateLast = 28;
const int stateCount = 16;
const int registerCount = 29;

void appendSample(VibroSeries& series, quint64 key, float value)
{
    series.keys.append(double(key));
    series.values.append(double(value));
}

void setValueText(QTableWidget* table, int row, const QString& text)
{
    if (QTableWidgetItem* cell = table->item(row, 2))
        cell->setText(text);
}
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    ui = new Ui_MainWindow;
    ui->setupUi(this);
    notices = std::make_unique<RequestNotices>(statusBar(), [this](const QString& text) { log(text); });
#ifdef TARVEX_EDITION_1_2
    ui->tabWidget->setCurrentIndex(2);
#endif
    connect(ui->canvas, SIGNAL(mouseMove(QMouseEvent*)), this, SLOT(slotMouseMove(QMouseEvent*)));
    connect(ui->canvas, SIGNAL(mouseDoubleClick(QMouseEvent*)), this, SLOT(slotMouseDoubleClick(QMouseEvent*)));
    connect(ui->canvas, SIGNAL(mousePress(QMouseEvent*)), this, SLOT(slotMousePress(QMouseEvent*)));
    connect(ui->canvas, SIGNAL(mouseRelease(QMouseEvent*)), this, SLOT(slotMouseRelease(QMouseEvent*)));
    ui->canvas->addGraph();
    ui->canvas->setInteraction(QCP::iRangeDrag, true);
    ui->canvas->setInteraction(QCP::iRangeZoom, true);
}

MainWindow::~MainWindow()
{
    // Nothing of the timer, the link or the master may reach the window once its form
    // is gone: the link goes first and reports nothing, then the master closes unheard.
    statusTimer.stop();
    delete modbusLink;
    modbusLink = nullptr;
    if (modbusDevice) {
        modbusDevice->disconnect(this);
        if (modbusDevice->state() == QModbusDevice::ConnectedState)
            modbusDevice->disconnectDevice();
    }
    delete ui;
    ui = nullptr;
}

void MainWindow::initiate()
{
    ui->tabWidget->setCurrentIndex(0);
    ui->pushButtonCfgRead->setEnabled(false);
    ui->pushButtonCfgWrite->setEnabled(false);
    setWindowTitle(QString::fromUtf8(windowTitleText));

    for (int i = 0; i < registerCount; ++i)
        regDescriptions << tr("Параметр %1").arg(i);
    if (!readRegisterDescriptions(ProgramDir::filePath(QStringLiteral("Names.txt")), regDescriptions))
        statusBar()->showMessage(tr("Файл с описанием не найден "), 3000);
    buildConfigTable();
    buildStatusTable();

    ui->comboBoxPorts->clear();
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts())
        ui->comboBoxPorts->addItem(port.portName());

    modbusDevice = new QModbusRtuSerialMaster(this);
    modbusLink = new ModbusLink(modbusDevice, this);
    SensorControls::Form form = SensorControls::formOf(ui);
#ifndef TARVEX_EDITION_1_2
    form.measurementModeWarningParent = this;
#endif
    form.readConfiguration = [this] { on_pushButtonCfgRead_clicked(); };
    form.showReadResult = [this](int startAddress, const QList<quint16>& values) { showReadResult(startAddress, values); };
    sensorControls = new SensorControls(modbusLink, form, notices.get(), this);
    connect(modbusDevice, &QModbusDevice::stateChanged, this, &MainWindow::onStateChanged);

    ui->tabWidget->setCurrentIndex(0);
    statusTimer.start(2000);
    connect(&statusTimer, SIGNAL(timeout()), this, SLOT(slotTimerTimeout()));
}

// ---- register tables ----

void MainWindow::buildConfigTable()
{
    RegisterTables::fillConfigTable(ui->tableCfg, regDescriptions, configCount);
}

// Every state register has a row of its own, whatever its description says.
void MainWindow::buildStatusTable()
{
    QTableWidget* table = ui->tableStatus;
    RegisterTables::setStatusCaptions(table);
    for (int address = stateFirst; address <= stateLast; ++address)
        RegisterTables::appendStatusRow(table, address, regDescriptions.at(address));
    QHeaderView* header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Stretch);
    header->setSectionResizeMode(0, QHeaderView::Fixed);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->setSectionResizeMode(2, QHeaderView::Fixed);
    table->setColumnWidth(0, 80);
    table->setColumnWidth(2, 160);
}

// ---- connection ----

bool MainWindow::modbusConnected() const
{
    return modbusDevice && modbusDevice->state() == QModbusDevice::ConnectedState;
}

void MainWindow::on_pushButtonOpenPort_clicked()
{
    if (!modbusDevice)
        return;
    const int baudRate = Edition12::baudRateFromText(ui->comboBoxSpeed->currentText());
    const int stopBits = Edition12::stopBitsFromText(ui->comboBoxStopBits->currentText());
    const int parity = Edition12::parityFromText(ui->comboBoxParity->currentText());
    if (modbusConnected())
        sensorControls->disconnectDevice();
    else
        sensorControls->connectDevice(
            {ui->comboBoxPorts->currentText(), baudRate, 8, parity, stopBits, modbusTimeoutMs, modbusRetries});
}

// Under a closed window a write pass must not go on writing to the sensor.
void MainWindow::closeEvent(QCloseEvent* event)
{
    sensorControls->disconnectDevice();
    QMainWindow::closeEvent(event);
}

void MainWindow::onStateChanged(int state)
{
    if (state == QModbusDevice::UnconnectedState)
        ui->pushButtonOpenPort->setText(tr("Подключиться"));
    else if (state == QModbusDevice::ConnectedState)
        ui->pushButtonOpenPort->setText(tr("Отключиться"));
}

void MainWindow::on_checkBox_changeConnectionSettings_toggled(bool checked)
{
    if (checked) {
        QMessageBox::warning(this, tr("Внимание - изменение параметров связи Modbus RTU"),
            tr("Параметры связи по умолчанию в датчике и сервисной программе: скорость 115200, без контроля "
               "четности, 1 стоповый бит.\n\nМеняя эти параметры, необходимо обязательно следить за тем, чтобы в "
               "датчике были установлены точно такие же параметры связи.\n\nЕсли не уверены в своих действиях, не "
               "изменяйте конфигурацию связи."),
            QMessageBox::Ok, QMessageBox::NoButton);
    }
    ui->comboBoxSpeed->setEnabled(checked);
    ui->comboBoxParity->setEnabled(checked);
    ui->comboBoxStopBits->setEnabled(checked);
}

// ---- reads, status poll and log ----

void MainWindow::log(const QString& text)
{
    LogFile::append(Edition12::logLine(QTime::currentTime(), text));
}

void MainWindow::readRegisters(int address, quint16 count, bool statusRead)
{
    statusBar()->clearMessage();
    modbusLink->read(ui->lineEdiSlaveAddr->text(), address, count, statusRead);
}

void MainWindow::on_pushButtonCfgRead_clicked()
{
    if (modbusConnected())
        readRegisters(configFirst, configCount);
}

void MainWindow::slotTimerTimeout()
{
    if (!modbusConnected())
        return;
    if (ui->tabWidget->currentIndex() == 0)
        return;
    const int seconds = ui->spinBoxStatusTime->value();
    if (seconds == 0)
        return;
    statusTimer.setInterval(seconds * 1000);
    // A sensor slower than the period must not pile up reads behind one another.
    if (modbusLink->statusReadOutstanding())
        return;
    ++pollsSent;
    ui->label_counter_state->setText(ModbusTexts::pollCounter(pollsSent, statusValuesReceived));
    readRegisters(stateFirst, stateCount, true);
}

void MainWindow::showReadResult(int startAddress, QList<quint16> values)
{
    Edition12::fixUpLeadingValues(values);
    quint16 high = 0;
    for (int i = 0; i < values.size(); ++i) {
        const int address = startAddress + i;
        const quint16 value = values.at(i);
        if (address >= configFirst && address < configFirst + configCount) {
            // Only the access code is signed.
            setValueText(ui->tableCfg, address + 1, CellValue::shownText(address, value, address == 0));
        } else if (address >= stateFirst && address <= stateLast) {
            const float pair = floatFromRegisterPair(high, value);
            if (address == 16)
                appendSample(accelerationSeries, pollsSent, pair);
            else if (address == 18)
                appendSample(velocitySeries, pollsSent, pair);
            else if (address == 28)
                appendSample(displacementSeries, pollsSent, pair);

            const int row = address - 12;
            if (address == 13 || address == 14) {
                setValueText(ui->tableStatus, row, QString::number(value));
            } else if (address % 2 == 0) {
                // The pair's value stands in the row of its first register.
                const bool temperature = address == 20;
                setValueText(ui->tableStatus, row - 1, QString::number(double(pair), 'f', temperature ? 1 : 3));
                setValueText(ui->tableStatus, row, QStringLiteral("--"));
                if (!temperature && pair == 0.0f)
                    log(QStringLiteral("No SPI data"));
            } else {
                setValueText(ui->tableStatus, row, QString());
            }
            high = value;
            ++statusValuesReceived;
        }
    }
    if (ui->checkBox_need_to_plot->isChecked())
        plotSelectedSeries();
}

void MainWindow::plotSelectedSeries()
{
    const VibroSeries* series = nullptr;
    QString average;
    QString valueLabel;
    if (ui->radioButton_acceleration->isChecked()) {
        series = &accelerationSeries;
        average = QStringLiteral("Среднее значение A [м/с2]");
        valueLabel = QStringLiteral("Виброускорение A [м/с2]");
    } else if (ui->radioButton_velocity->isChecked()) {
        series = &velocitySeries;
        average = QStringLiteral("Среднее значение V [м/с]");
        valueLabel = QStringLiteral("Виброскорость V [м/с]");
    } else if (ui->radioButton_displacement->isChecked()) {
        series = &displacementSeries;
        average = QStringLiteral("Среднее значение S [мкм]");
        valueLabel = QStringLiteral("Виброперемещение S [мкм]");
    } else {
        return;
    }
    QCustomPlot* canvas = ui->canvas;
    ui->label_average->setText(average);
    canvas->xAxis->setLabel(QStringLiteral("Время T [с]"));
    canvas->yAxis->setLabel(valueLabel);
    canvas->graph(0)->setData(series->keys, series->values);
    canvas->graph(0)->rescaleAxes(true);
    canvas->replot();
    canvas->update();
    double sum = 0;
    for (double value : series->values)
        sum += value;
    ui->lineEdit_average->setText(QString::number(sum / series->values.size(), 'f', 3));
}

// ---- configuration write ----

void MainWindow::on_pushButtonCfgWrite_clicked()
{
    sensorControls->write();
}

void MainWindow::on_tableCfg_itemClicked(QTableWidgetItem* item)
{
    ConfigWritePass::choiceClicked(item);
}

// ---- plot, help and export ----

void MainWindow::slotMousePress(QMouseEvent* event)
{
    if (event->button() != Qt::RightButton)
        return;
    setCursor(Qt::ClosedHandCursor);
    pressPos = event->pos();
    dragging = true;
    zoomAtPress = dragZoomPress(ui->canvas, pressPos);
}

void MainWindow::slotMouseMove(QMouseEvent* event)
{
    if (!dragging)
        return;
    applyDragZoom(ui->canvas, zoomAtPress, event->pos());
    ui->canvas->replot();
}

void MainWindow::slotMouseRelease(QMouseEvent* event)
{
    if (event->button() != Qt::RightButton)
        return;
    setCursor(Qt::ArrowCursor);
    dragging = false;
}

void MainWindow::slotMouseDoubleClick(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    ui->canvas->rescaleAxes(false);
    ui->canvas->replot();
}

void MainWindow::on_pushButton_clear_canvas_clicked()
{
    for (VibroSeries* series : {&accelerationSeries, &velocitySeries, &displacementSeries}) {
        series->keys.clear();
        series->values.clear();
    }
    QCustomPlot* canvas = ui->canvas;
    canvas->removeGraph(0);
    canvas->addGraph();
    canvas->graph(0)->setData(accelerationSeries.keys, accelerationSeries.values);
    canvas->graph(0)->rescaleAxes(true);
    canvas->replot();
    canvas->update();
}

void MainWindow::on_pushButton_help_clicked()
{
    QMessageBox::information(this, tr("Справка по работе с графиками"),
        tr("Чтобы запустить процесс отрисовки графика, необходимо установить флажок в окне \"Отрисовка графика в "
           "реальном времени\".\n\n"
           "Для того, чтобы выбрать измеряемую величину, необходимо нажать на радиокнопку напротив желаемой "
           "измеряемой величины в левой части интерфейса.\n\n"
           "Для того, чтобы отмасштабировать график по размаху сигнала, необходимо два раза кликнуть левой кнопкой "
           "мыши (ЛКМ) по окну с графиком.\n\n"
           "Для того, чтобы отмасштабировать график по оси X или Y, необходимо зажать правую кнопку мыши (ПКМ) и "
           "сдвинуть мышь горизонтально (Ось X) или вертикально (Ось Y).\n\n"
           "Для того, чтобы отмасштабировать график пропорционально по оси X и Y, необходимо воспользоваться колесом "
           "мыши."),
        QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::on_pushButton_export_data_clicked()
{
    // The time before the date, both into one file name.
    const QString time = QTime::currentTime().toString(QStringLiteral("HH-mm"));
    const QString date = QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy"));
    const QPair<QString, const VibroSeries*> files[] = {
        {tr("Vibroacceleration [%1, %2].txt"), &accelerationSeries},
        {tr("Vibrovelocity [%1, %2].txt"), &velocitySeries},
        {tr("Vibrodisplacement [%1, %2].txt"), &displacementSeries},
    };
    QVector<WholeFile::Job> jobs;
    for (const auto& file : files) {
        const QByteArray bytes = Edition12::exportText(file.second->values).toUtf8();
        jobs.append({ProgramDir::filePath(file.first.arg(time, date)),
            [bytes](QIODevice& device) { return device.write(bytes) == bytes.size(); }});
    }
    const QStringList failed = WholeFile::saveAll(jobs, true);
    if (failed.isEmpty())
        return;
    QStringList names;
    for (const QString& path : failed)
        names << QFileInfo(path).fileName();
    QMessageBox::warning(this, tr("Ошибка"), tr("Не удалось сохранить данные в файлы:\n%1").arg(names.join(QLatin1Char('\n'))),
        QMessageBox::Ok, QMessageBox::NoButton);
}
