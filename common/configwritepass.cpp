#include "configwritepass.h"

#include <QLineEdit>
#include <QTableWidget>
#include <QThread>

#include "cellvalue.h"
#include "modbuslink.h"
#include "modbustexts.h"
#include "registertables.h"
#include "requestnotices.h"

namespace {
const int accessCodeRow = 1;
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

void ConfigWritePass::choiceClicked(QTableWidgetItem* item)
{
    if (item && item->column() == 3 && item->row() != 0 && !isTicked(item))
        item->setBackground(QBrush(Qt::transparent, Qt::SolidPattern));
}

bool ConfigWritePass::onItsConnection() const
{
    return link->connected() && link->connectionCount() == connection;
}

ConfigWritePass::Check ConfigWritePass::check(int row, quint16& value, quint16* accessCode) const
{
    if (!table->item(row, 2) || !table->item(accessCodeRow, 2))
        return Check::Rejected;
    if (measurementModeWarningParent && row == RegisterTables::measurementModeRow
        && !RegisterTables::measurementModeAccepted(measurementModeWarningParent, table->item(row, 2)->text()))
        return Check::ModeOutOfRange;
    if (accessCode && !take(accessCodeRow, *accessCode))
        return Check::Rejected;
    return take(row, value) ? Check::Sendable : Check::Rejected;
}

bool ConfigWritePass::take(int row, quint16& value) const
{
    const QString text = table->item(row, 2)->text();
    if (CellValue::toRegister(text, CellValue::displayScale(row - 1), value))
        return true;
    notices->showLogged(ModbusTexts::writeValueRejected(text, row - 1), 3000);
    return false;
}

ConfigWritePass::Row ConfigWritePass::refused(int row, Check why) const
{
    setChoiceColour(table, row, Qt::red);
    return why == Check::ModeOutOfRange ? Row::Stopped : Row::Failed;
}

ConfigWritePass::Row ConfigWritePass::writeRow(int row)
{
    quint16 accessCode = 0;
    quint16 value = 0;
    // Nothing goes out for a row whose value could not be sent.
    const Check before = check(row, value, &accessCode);
    if (before != Check::Sendable)
        return refused(row, before);
    const ModbusOutcome::Kind accessWrite = link->writeAndWait(slaveAddress->text(), 0, {accessCode}).kind;
    if (accessWrite == ModbusOutcome::Dropped)
        return Row::Stopped;
    if (accessWrite != ModbusOutcome::Done) {
        setChoiceColour(table, row, Qt::blue);
        return Row::Failed;
    }
    // Gone in the turn that brought the answer: the row itself is not written.
    if (!onItsConnection())
        return Row::Stopped;
    QThread::msleep(pauseMs);
    // What the cell shows now is what goes out: it may have been edited during the wait.
    const Check now = check(row, value);
    if (now != Check::Sendable)
        return refused(row, now);
    const ModbusOutcome::Kind valueWrite = link->writeAndWait(slaveAddress->text(), row - 1, {value}).kind;
    if (valueWrite == ModbusOutcome::Dropped)
        return Row::Stopped;
    const bool written = valueWrite == ModbusOutcome::Done;
    setChoiceColour(table, row, written ? Qt::green : Qt::red);
    QThread::msleep(pauseMs);
    return written ? Row::Written : Row::Failed;
}

ConfigWritePass::End ConfigWritePass::run()
{
    connection = link->connectionCount();
    for (int row = 1; row < table->rowCount(); ++row)
        setChoiceColour(table, row, Qt::transparent);

    bool anyFailed = false;
    for (int row = 1; row < table->rowCount(); ++row) {
        if (!isTicked(table->item(row, 3)) || !table->item(accessCodeRow, 2) || !table->item(row, 2))
            continue;
        if (!onItsConnection())
            return End::Stopped;
        const Row written = writeRow(row);
        if (written == Row::Stopped)
            return End::Stopped;
        anyFailed = anyFailed || written == Row::Failed;
    }
    if (!onItsConnection())
        return End::Stopped;
    return anyFailed ? End::WriteFailed : End::AllWritten;
}
