#pragma once

#include <QtGlobal>

class ModbusLink;
class QLineEdit;
class QTableWidget;
class QTableWidgetItem;
class QWidget;
class RequestNotices;

// One configuration write, the same in every edition. Each ticked row of the configuration
// table is written after register 0 (with the value row 1 shows), one register a request,
// to the slave address the address field shows at that moment. After register 0 has been
// written, and after each write of a row's own register, whether it went through or not,
// the pass sleeps 200 ms. A row's value is the one its cell shows when it is sent: it is
// checked before register 0 goes out and checked again when it is taken, so that a value
// that is no whole number, does not fit a register or is no multiple of the cell's display
// scale is never sent, nor a measurement mode out of range where the mode is checked (which
// ends the pass). The "Выбор" cell turns green when the sensor took the row's value, blue
// when register 0 failed and the row was skipped, red when the row's own write failed or
// its value could not be written. The table's cells are looked up anew after every wait and
// pause, as the table may change meanwhile. The end of the connection the pass began on, by
// the user's disconnect or a lost line, ends the pass at once: nothing more is written or
// read back, and a row whose write it cut short keeps no colour.
struct ConfigWritePass {
    enum class End {
        AllWritten,  // every ticked row was written (or none was ticked)
        WriteFailed, // a write failed or a value was rejected: the block is to be read again
        Stopped      // a measurement mode out of range, or the connection ended: nothing more
    };

    ModbusLink* link = nullptr;
    QTableWidget* table = nullptr;
    QLineEdit* slaveAddress = nullptr;
    // Shows and logs why a value cell is not written.
    const RequestNotices* notices = nullptr;
    // Parent of the measurement-mode warning; with none, the measurement mode is not checked.
    QWidget* measurementModeWarningParent = nullptr;

    End run();

    // A click on a "Выбор" cell that leaves it unticked clears the colour a pass left there.
    static void choiceClicked(QTableWidgetItem* item);

private:
    enum class Row { Written, Failed, Stopped };
    enum class Check { Sendable, Rejected, ModeOutOfRange };

    Row writeRow(int row);
    // Whether `row` can go out with the value its cell shows now, and with it the access code
    // row 1 shows; the user is told why not. A measurement mode out of range is checked first.
    Check check(int row, quint16& value, quint16* accessCode = nullptr) const;
    bool take(int row, quint16& value) const;
    // The row turns red; the pass goes on unless the measurement mode was out of range.
    Row refused(int row, Check why) const;
    bool onItsConnection() const;

    quint64 connection = 0;
};
