#include "configwritepass.h"

#include <QPushButton>
#include <QTableWidget>
#include <QThread>

#include "cellvalue.h"
#include "modbustexts.h"
#include "registertables.h"
#include "requestnotices.h"

namespace {
// Register 2 is shown ten times its raw value.
const int scaledRegisterRow = 3;
const int pauseMs = 200;

void setChoiceColour(QTableWidget* table, int row, Qt::GlobalColor colour)
{
    if (QTableWidgetItem* cell = table->item(row, 3))
        cell->setBackground(QBrush(colour, Qt::SolidPattern));
}

bool isTicked(const QTableWidgetItem* item)
{
    return item && item->data(Qt::CheckStateRole).toInt() != 0;
}
}

void ConfigWritePass::runOnce(bool& running)
{
    if (!connected() || running)
        return;
    running = true;
    writeButton->setEnabled(false);
    notices->clear();
    if (run())
        readBack();
    running = false;
    writeButton->setEnabled(connected());
}

bool ConfigWritePass::run()
{
    for (int row = 1; row < table->rowCount(); ++row)
        setChoiceColour(table, row, Qt::transparent);

    bool anyFailed = false;
    for (int row = 1; row < table->rowCount(); ++row) {
        if (!isTicked(table->item(row, 3)))
            continue;
        if (!table->item(1, 2) || !table->item(row, 2))
            continue;
        // The link went down during a wait: nothing more can be written or read back.
        if (!connected())
            return false;
        if (measurementModeWarningParent && row == RegisterTables::measurementModeRow
            && !RegisterTables::measurementModeAccepted(measurementModeWarningParent, table->item(row, 2)->text())) {
            setChoiceColour(table, row, Qt::red);
            return false;
        }
        // A value that is no whole number or does not fit a register is never sent as 0
        // or cut to 16 bits: the row is not written at all.
        quint16 values[2] = {0, 0};
        const int rows[2] = {1, row};
        bool valuesOk = true;
        for (int i = 0; i < 2 && valuesOk; ++i) {
            const int scale = rows[i] == scaledRegisterRow ? 10 : 1;
            const QString text = table->item(rows[i], 2)->text();
            if (!CellValue::toRegister(text, scale, values[i])) {
                const QString why = ModbusTexts::writeValueRejected(
                    text, rows[i] - 1, CellValue::lowest(scale), CellValue::highest(scale));
                notices->showLogged(why, 3000);
                valuesOk = false;
            }
        }
        if (!valuesOk) {
            setChoiceColour(table, row, Qt::red);
            anyFailed = true;
            continue;
        }
        const ModbusOutcome::Kind accessCode = write(0, values[0]);
        if (accessCode == ModbusOutcome::Dropped)
            return false;
        if (accessCode != ModbusOutcome::Done) {
            setChoiceColour(table, row, Qt::blue);
            anyFailed = true;
            continue;
        }
        // Gone in the turn that brought the answer: the row itself is not written.
        if (!connected())
            return false;
        QThread::msleep(pauseMs);
        const ModbusOutcome::Kind value = write(row - 1, values[1]);
        if (value == ModbusOutcome::Dropped)
            return false;
        const bool written = value == ModbusOutcome::Done;
        setChoiceColour(table, row, written ? Qt::green : Qt::red);
        anyFailed = anyFailed || !written;
        QThread::msleep(pauseMs);
    }
    return anyFailed && connected();
}
