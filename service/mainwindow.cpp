#include "mainwindow.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QModbusRtuSerialMaster>
#include <QScrollBar>
#include <QStatusBar>

#include "cellvalue.h"
#include "configwritepass.h"
#include "graphdrawer.h"
#include "logfile.h"
#include "modbustexts.h"
#include "portlist.h"
#include "programdir.h"
#include "registermap.h"
#include "registerpair.h"
#include "registertables.h"
#include "registertablefile.h"
#include "sensorcontrols.h"
#include "ui_mainwindow.h"

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    ui = new Ui_MainWindow;
    ui->setupUi(this);
    notices = std::make_unique<RequestNotices>(statusBar(), [this](const QString& text) { log(text); });
    graphDrawer = new GraphDrawer(ui->canvas, nullptr);
    checkDeviceVersion(14);
    serialPortCheckout();
    uartInitiate();
    modbusInitiate();
    configureAllMenus();
    connect(&portListTimer, SIGNAL(timeout()), this, SLOT(serialPortCheckout()));
    portListTimer.start(2500);
}

MainWindow::~MainWindow()
{
    // Requests that the closing link aborts are no failures to report on the way out.
    statusTimer.stop();
    delete modbusLink;
    modbusLink = nullptr;
    if (modbusDevice && modbusDevice->state() == QModbusDevice::ConnectedState)
        modbusDevice->disconnectDevice();
    if (serialPort && serialPort->isOpen())
        serialPort->close();
    delete serialPort;
    serialPort = nullptr;
    delete modbusDevice;
    modbusDevice = nullptr;
    delete ui;
    ui = nullptr;
    for (const QPointer<QDialog>& window : softwareIdWindows)
        delete window.data();
    qDeleteAll(settingsMenus);
    delete graphDrawer;
}

// Under a closed window a write pass must not go on writing to the sensor.
void MainWindow::closeEvent(QCloseEvent* event)
{
    endModbusConnection();
    QMainWindow::closeEvent(event);
}

// The event loop ends only once a write pass waiting in it has returned, which the end of
// the connection makes it do at once.
void MainWindow::on_action_exit_triggered()
{
    endModbusConnection();
    QCoreApplication::exit(0);
}

void MainWindow::endModbusConnection()
{
    if (modbusConnected()) {
        modbusToggleConnect();
        updateConnectCaption();
    }
}

void MainWindow::serialPortCheckout()
{
    mergePortEntries(*ui->comboBoxPorts, presentPortEntries());
}

// ---- register map and tables ----

void MainWindow::checkDeviceVersion(int version)
{
    const RegisterTableChoice choice = registerTableForVersion(version);
    if (!choice.found) {
        QMessageBox::warning(this, tr("Внимание - не найдена таблица регистров"), tr("Переустановите Tarvex-Сервис."),
            QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    changeRegsAddress(choice.configStart, choice.configEnd, choice.stateStart, choice.stateEnd);
    readTableFromFile(ProgramDir::filePath(choice.fileName));
}

void MainWindow::changeRegsAddress(int addressRegConfigStart, int addressRegConfigEnd, int addressRegStateStart,
    int addressRegStateEnd)
{
    this->addressRegConfigStart = addressRegConfigStart;
    this->addressRegConfigEnd = addressRegConfigEnd;
    this->addressRegStateStart = addressRegStateStart;
    this->addressRegStateEnd = addressRegStateEnd;
    configRegCount = addressRegConfigEnd - addressRegConfigStart + 1;
    stateRegCount = addressRegStateEnd - addressRegStateStart + 1;
    totalRegCount = configRegCount + stateRegCount;
}

void MainWindow::readTableFromFile(QString path)
{
    ui->tableCfg->setRowCount(1);
    ui->tableStatus->setRowCount(1);
    regDescriptions.clear();
    for (int k = 0; k < totalRegCount; ++k)
        regDescriptions << tr("Параметр %1").arg(k);
    statusRowOfIndex.fill(-1, totalRegCount);

    if (!readRegisterDescriptions(path, regDescriptions)) {
        statusBar()->showMessage(tr("Файл с описанием регистров не найден, дальнейшая работа невозможна"), 100000);
        return;
    }

    RegisterTables::fillConfigTable(ui->tableCfg, regDescriptions, configRegCount);

    // A state description that says "параметр" carries no value and gets no row. Each
    // shown row is labelled with the register that holds its value and remembered by
    // its description index, so a hidden entry between shown ones moves nothing.
    QTableWidget* status = ui->tableStatus;
    RegisterTables::setStatusCaptions(status);
    for (int index = addressRegStateStart; index <= addressRegStateEnd && index < totalRegCount; ++index) {
        const QString description = regDescriptions.at(index);
        if (description.contains(QStringLiteral("параметр"), Qt::CaseInsensitive))
            continue;
        const int label = index <= 15 ? index : 2 * index - 15;
        statusRowOfIndex[index] = RegisterTables::appendStatusRow(status, label, description);
    }
    QHeaderView* statusHeader = status->horizontalHeader();
    statusHeader->setSectionResizeMode(QHeaderView::Stretch);
    statusHeader->setSectionResizeMode(0, QHeaderView::Fixed);
    statusHeader->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    statusHeader->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    status->setColumnWidth(0, 80);
}

// ---- log ----

void MainWindow::log(QString error)
{
    // One reading of the clock, so the date and the time of a line always agree.
    const QDateTime now = QDateTime::currentDateTime();
    LogFile::append(now.toString(QStringLiteral("dd.MM.yyyy — ")) + now.time().toString(QStringLiteral("HH:mm:ss    |    "))
        + error);
}

// ---- Modbus link ----

void MainWindow::modbusInitiate()
{
    modbusDevice = new QModbusRtuSerialMaster(this);
    modbusLink = new ModbusLink(modbusDevice, this);
    SensorControls::Form form = SensorControls::formOf(ui);
    form.measurementModeWarningParent = this;
    form.readConfiguration = [this] { on_pushButtonCfgRead_clicked(); };
    form.showReadResult = [this](int startAddress, const QList<quint16>& values) { showReadResult(startAddress, values); };
    form.writeReady = [this] { return !versionCheckPending; };
    sensorControls = new SensorControls(modbusLink, form, notices.get(), this);
    connect(modbusLink, &ModbusLink::lineLost, this, &MainWindow::updateConnectCaption);
    connect(&statusTimer, &QTimer::timeout, this, [this] { pollStatus(); });
    statusTimer.start(2000);
}

bool MainWindow::modbusConnected() const
{
    return modbusLink && modbusLink->connected();
}

void MainWindow::on_pushButtonOpenPort_clicked()
{
    if (!modbusDevice)
        return;
    portName = ui->comboBoxPorts->currentText().split(QLatin1Char(' '), Qt::KeepEmptyParts).first();
    if (protocol == ModbusRtu)
        modbusToggleConnect();
    else
        uartToggleConnect();
    updateConnectCaption();
}

void MainWindow::updateConnectCaption()
{
    const bool open = modbusConnected() || (serialPort && serialPort->isOpen());
    ui->pushButtonOpenPort->setText(open ? tr("Отключиться") : tr("Подключиться"));
}

void MainWindow::modbusToggleConnect()
{
    if (modbusConnected()) {
        sensorControls->disconnectDevice();
        return;
    }
    // Set before the configuration read that a connect sends; a failed connect leaves
    // nothing to answer it.
    versionCheckPending = true;
    sensorControls->connectDevice({portName, baudRate, dataBits, parity, stopBits, modbusTimeoutMs, modbusRetries});
}

void MainWindow::on_pushButtonCfgRead_clicked()
{
    if (modbusConnected())
        readRegisters(addressRegConfigStart, quint16(configRegCount));
}

void MainWindow::pollStatus()
{
    if (!modbusConnected())
        return;
    statusTimer.setInterval(ui->spinBoxStatusTime->value());
    // At most one state read is outstanding; a tick that finds it pending sends nothing.
    if (modbusLink->statusReadOutstanding())
        return;
    ++pollsSent;
    ui->label_counter_state->setText(ModbusTexts::pollCounter(pollsSent, statusValuesReceived));
    readRegisters(addressRegStateStart, quint16(stateRegCount), true);
}

void MainWindow::readRegisters(int address, quint16 count, bool statusRead)
{
    statusBar()->clearMessage();
    modbusLink->read(ui->lineEdiSlaveAddr->text(), address, count, statusRead);
}

void MainWindow::setCellValue(int address, quint16 value)
{
    if (QTableWidgetItem* cell = ui->tableCfg->item(address - addressRegConfigStart + 1, 2))
        cell->setText(CellValue::shownText(address, value, true));
}

void MainWindow::showReadResult(int startAddress, QList<quint16> values)
{
    // The register before, the high half of a float pair.
    quint16 high = 0;
    for (int i = 0; i < values.size(); ++i) {
        const int address = startAddress + i;
        const quint16 value = values.at(i);
        if (address >= 0 && address <= addressRegConfigEnd) {
            setCellValue(address, value);
            if (address == 1 && versionCheckPending) {
                versionCheckPending = false;
                firmwareVersion = qint16(value);
                checkDeviceVersion(firmwareVersion);
                // Its warning box runs an event loop, in which the line may have gone.
                if (modbusConnected())
                    readRegisters(addressRegConfigStart, quint16(configRegCount));
                sensorControls->updateButtons();
            }
        } else if (address >= addressRegStateStart && address <= addressRegStateEnd) {
            const float pairValue = floatFromRegisterPair(high, value);
            if (ui->checkBox_need_to_plot->isChecked()) {
                const auto target = graphDrawer->seriesForRegister(address - addressRegStateStart);
                if (target.first && target.second) {
                    target.first->append(double(pollsSent));
                    target.second->append(double(pairValue));
                }
            }
            int index = -1;
            QString text;
            if (address == 13 || address == 14) {
                index = address;
                text = QString::number(value);
            } else if (address > 15 && address % 2 == 0) {
                index = 15 + (address - 16) / 2;
                text = QString::number(pairValue, 'f', 3);
                if (pairValue == 0.0f)
                    log(QStringLiteral("Empty data from sensor"));
            }
            const int row = index >= 0 && index < statusRowOfIndex.size() ? statusRowOfIndex.at(index) : -1;
            if (row > 0) {
                if (QTableWidgetItem* cell = ui->tableStatus->item(row, 2))
                    cell->setText(text);
            }
            high = value;
            ++statusValuesReceived;
        }
    }
    // Read again: a warning box opened above runs its own event loop.
    if (ui->checkBox_need_to_plot->isChecked())
        graphDrawer->plotVibroparameter(ui->comboBox_vibroparameter->currentText());
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

// ---- line-settings menus ----

void MainWindow::buildSettingsMenu(const char* title, const QVector<MenuItem>& items, int marked,
    const std::function<void(int)>& select)
{
    auto* menu = new QMenu(tr(title));
    auto* group = new QActionGroup(this);
    for (const MenuItem& item : items) {
        QAction* action = menu->addAction(tr(item.text));
        action->setShortcut(QKeySequence());
        const int value = item.value;
        connect(action, &QAction::triggered, this, [select, value] { select(value); });
    }
    for (QAction* action : menu->actions())
        group->addAction(action);
    group->setExclusive(true);
    QAction* markedAction = menu->actions().at(marked);
    markedAction->setCheckable(true);
    markedAction->setChecked(true);
    for (QAction* action : group->actions())
        action->setCheckable(true);
    ui->menuSettings->addMenu(menu);
    settingsMenus << menu;
}

void MainWindow::configureMenuBaudrate()
{
    buildSettingsMenu(QT_TR_NOOP("Скорость обмена"),
        {{"1200", 1200}, {"2400", 2400}, {"4800", 4800}, {"9600", 9600}, {"19200", 19200}, {"38400", 38400},
            {"57600", 57600}, {QT_TR_NOOP("115200 (по умолчанию)"), 115200}},
        7, [this](int value) { baudRate = value; });
}

void MainWindow::configureMenuDataBits()
{
    buildSettingsMenu(QT_TR_NOOP("Количество битов данных"),
        {{"5", QSerialPort::Data5}, {"6", QSerialPort::Data6}, {"7", QSerialPort::Data7},
            {QT_TR_NOOP("8 (по умолчанию)"), QSerialPort::Data8}},
        3, [this](int value) { dataBits = value; });
}

void MainWindow::configureMenuParity()
{
    buildSettingsMenu(QT_TR_NOOP("Контроль четности"),
        {{QT_TR_NOOP("Без контроля (по умолчанию)"), QSerialPort::NoParity},
            {QT_TR_NOOP("Четность"), QSerialPort::EvenParity}, {QT_TR_NOOP("Нечетность"), QSerialPort::OddParity}},
        0, [this](int value) { parity = value; });
}

void MainWindow::configureMenuStopBits()
{
    buildSettingsMenu(QT_TR_NOOP("Количество стоп битов"),
        {{QT_TR_NOOP("1 (по умолчанию)"), QSerialPort::OneStop}, {"1.5", QSerialPort::OneAndHalfStop},
            {"2", QSerialPort::TwoStop}},
        0, [this](int value) { stopBits = value; });
}

void MainWindow::configureMenuProtocol()
{
    buildSettingsMenu(QT_TR_NOOP("Протокол"), {{QT_TR_NOOP("Modbus RTU (по умолчанию)"), ModbusRtu}, {"UART", UartRaw}},
        0, [this](int value) {
            if (value == ModbusRtu)
                selectModbusRtu();
            else
                selectUartRaw();
        });
}

void MainWindow::configureAllMenus()
{
    configureMenuBaudrate();
    configureMenuDataBits();
    configureMenuParity();
    configureMenuStopBits();
    configureMenuProtocol();
}

void MainWindow::selectModbusRtu()
{
    protocol = ModbusRtu;
    if (!serialPort->isOpen())
        return;
    uartToggleConnect();
    modbusToggleConnect();
    updateConnectCaption();
}

void MainWindow::selectUartRaw()
{
    protocol = UartRaw;
    if (!modbusConnected())
        return;
    modbusToggleConnect();
    uartToggleConnect();
    updateConnectCaption();
}

// ---- raw text console ----

void MainWindow::uartInitiate()
{
    serialPort = new QSerialPort(this);
    ui->console->document()->setMaximumBlockCount(consoleBlockLimit);
    connect(serialPort, &QSerialPort::readyRead, serialPort, [this] { onUartReadyRead(); }, Qt::DirectConnection);
}

void MainWindow::uartToggleConnect()
{
    if (serialPort->isOpen()) {
        serialPort->close();
        return;
    }
    serialPort->setPortName(portName);
    serialPort->setBaudRate(baudRate, QSerialPort::AllDirections);
    serialPort->setDataBits(QSerialPort::DataBits(dataBits));
    serialPort->setParity(QSerialPort::Parity(parity));
    serialPort->setStopBits(QSerialPort::StopBits(stopBits));
    serialPort->setFlowControl(QSerialPort::NoFlowControl);
    if (serialPort->open(QIODevice::ReadWrite)) {
        consoleLines.portReopened();
        return;
    }
    QMessageBox::warning(this, QStringLiteral("Ошибка"), QStringLiteral("Выбранный порт недоступен"), QMessageBox::Ok);
}

void MainWindow::onUartReadyRead()
{
    for (const QString& line : consoleLines.feed(serialPort->readAll()))
        printConsole(line);
}

void MainWindow::printConsole(QString string)
{
    const QString stamp = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz > "));
    const QString prefix = !string.isEmpty() && ui->checkBox_consoleViewTime->isChecked() ? stamp : QString();
    ui->console->setTextColor(Qt::blue);
    appendConsoleLine(prefix + string);
    if (ui->checkBox_consoleAutoscroll->isChecked())
        ui->console->moveCursor(QTextCursor::End);
}

// Received text is shown as it is: never read as markup.
void MainWindow::appendConsoleLine(const QString& text)
{
    // Like append: a view that was at the bottom stays there.
    QScrollBar* bar = ui->console->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QTextCursor cursor(ui->console->document());
    cursor.movePosition(QTextCursor::End);
    if (!consoleEmpty)
        cursor.insertBlock();
    QTextCharFormat format;
    format.setForeground(QColor(Qt::blue));
    cursor.insertText(text, format);
    consoleEmpty = false;
    if (atBottom)
        bar->setValue(bar->maximum());
}

void MainWindow::on_pushButton_sendUart_clicked()
{
    const QByteArray command = ui->lineEdit_commandUart->text().toUtf8();
    if (!serialPort->isOpen() || command.isEmpty())
        return;
    serialPort->write(command);
}

void MainWindow::on_pushButton_clearConsole_clicked()
{
    ui->console->clear();
    consoleEmpty = true;
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        on_pushButton_sendUart_clicked();
        break;
    case Qt::Key_Shift:
        on_pushButton_clearConsole_clicked();
        break;
    default:
        break;
    }
}

// ---- help, about and identification ----

void MainWindow::on_pushButton_help_clicked()
{
    QMessageBox::information(this, tr("Справка по работе с графиками"),
        tr("Чтобы запустить процесс отрисовки графика, необходимо установить флажок в окне \"Отрисовка графика в "
           "реальном времени\".\n\n"
           "Для того, чтобы выбрать измеряемую величину, необходимо нажать на выпадающий список в левой части "
           "интерфейса.\n\n"
           "Для того, чтобы отмасштабировать график по размаху сигнала, необходимо кликнуть правой кнопкой мыши (ПКМ) "
           "по окну с графиком и выбрать \"Восстановить размер\".\n\n"
           "Для того, чтобы отмасштабировать график по оси X или Y, необходимо зажать правую кнопку мыши (ПКМ) и "
           "сдвинуть мышь горизонтально (Ось X) или вертикально (Ось Y).\n\n"
           "Для того, чтобы отмасштабировать график пропорционально по оси X и Y, необходимо воспользоваться колесом "
           "мыши.\n\n"
           "Для того, чтобы сохранить изображение в формате .png, необходимо кликнуть правой кнопкой мыши (ПКМ) по "
           "окну с графиком и выбрать \"Сохранить изображение в .png\".\n\n"
           "Для того, чтобы сохранить данные в формате .csv, необходимо кликнуть правой кнопкой мыши (ПКМ) по окну с "
           "графиком и выбрать \"Сохранить данные в .csv\".\n\n"
           "Для того, чтобы очистить график, необходимо кликнуть правой кнопкой мыши (ПКМ) по окну с графиком и "
           "выбрать \"Очистить график\".\n\n"),
        QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::on_action_aboutSoftware_triggered()
{
    const QString firmwareFileName = firmwareVersion != 0
        ? tr("Tarvex_MAIN_%2.bin").arg(QString::number(firmwareVersion))
        : QStringLiteral("недоступно");
    const QString text = tr("Tarvex-Сервис %1\n\nВерсия прошивки: %2\n\nРазработчик: Tarvex")
                             .arg(QStringLiteral("1.7.1"), firmwareFileName);
    QMessageBox box;
    box.setIcon(QMessageBox::Information);
    box.setWindowTitle(QStringLiteral("О программе Tarvex-Сервис"));
    box.setText(text);
    box.exec();
}

void MainWindow::on_action_softwareIdData_triggered()
{
    auto* table = new QTableWidget;
    auto* dialog = new QDialog;
    auto* layout = new QHBoxLayout;
    dialog->setWindowTitle(windowTitle());
    dialog->setMinimumSize(520, 200);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setRowCount(2);
    table->setColumnCount(4);
    table->setHorizontalHeaderLabels({QStringLiteral("Наименование\nпрограммного\nобеспечения"),
        QStringLiteral("Идентификационное\nнаименование ПО"), QStringLiteral("Номер версии\n(идентификационный\nномер) ПО"),
        QStringLiteral("Цифровой\nидентификатор\nПО")});
    table->horizontalHeader()->setStyleSheet(QStringLiteral("font-weight: bold;"));
    const QString cells[2][4] = {
        {QStringLiteral("Встроенное ПО"), QStringLiteral("Tarvex_MAIN_%1.bin").arg(14),
            QStringLiteral("Не ниже ") + QString::number(14), QStringLiteral("-")},
        {QStringLiteral("Внешнее ПО"), QStringLiteral("Tarvex_Service.exe"), QStringLiteral("Не ниже ") + QStringLiteral("1.7.1"),
            QStringLiteral("-")},
    };
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 4; ++column) {
            auto* item = new QTableWidgetItem(cells[row][column]);
            item->setTextAlignment(Qt::AlignCenter);
            table->setItem(row, column, item);
        }
    }
    table->resizeColumnsToContents();
    layout->addWidget(table);
    dialog->setLayout(layout);
    // Released when closed, and never what keeps the program running.
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAttribute(Qt::WA_QuitOnClose, false);
    softwareIdWindows.removeAll(nullptr);
    softwareIdWindows << dialog;
    dialog->show();
}
