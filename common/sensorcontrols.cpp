#include "sensorcontrols.h"

#include <QPushButton>

#include <utility>

#include "configwritepass.h"
#include "modbustexts.h"
#include "requestnotices.h"

SensorControls::SensorControls(ModbusLink* link, Form form, const RequestNotices* notices, QObject* parent)
    : QObject(parent)
    , link(link)
    , form(std::move(form))
    , notices(notices)
{
    connect(link, &ModbusLink::deviceError, this,
        [this](QModbusDevice::Error, const QString& text) { this->notices->showFor(text, 5000); });
    connect(link, &ModbusLink::lineLost, this, &SensorControls::updateButtons);
    connect(link, &ModbusLink::finished, this, [this](const ModbusOutcome& outcome) {
        if (!outcome.isWrite && outcome.kind == ModbusOutcome::Done)
            this->form.showReadResult(outcome.unit.startAddress(), outcome.values());
        else
            this->notices->show(outcome);
    });
}

bool SensorControls::mayWrite() const
{
    return link->connected() && !passRunning && (!form.writeReady || form.writeReady());
}

void SensorControls::updateButtons()
{
    form.readButton->setEnabled(link->connected());
    form.writeButton->setEnabled(mayWrite());
}

void SensorControls::connectDevice(const LineSettings& line)
{
    const bool connected = link->connectDevice(line);
    if (!connected)
        notices->showFor(ModbusTexts::connectFailed(link->connectErrorString()), 5000);
    updateButtons();
    if (connected)
        form.readConfiguration();
}

void SensorControls::disconnectDevice()
{
    if (!link->connected())
        return;
    link->disconnectDevice();
    updateButtons();
}

void SensorControls::write()
{
    if (!mayWrite())
        return;
    passRunning = true;
    updateButtons();
    notices->clear();
    ConfigWritePass pass;
    pass.link = link;
    pass.table = form.configTable;
    pass.slaveAddress = form.slaveAddress;
    pass.notices = notices;
    pass.measurementModeWarningParent = form.measurementModeWarningParent;
    if (pass.run() == ConfigWritePass::End::WriteFailed)
        form.readConfiguration();
    passRunning = false;
    updateButtons();
}
