#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

#include "modbuslink.h"

class QPushButton;
class QTableWidget;
class QWidget;
class RequestNotices;

// The configuration write of every edition. Each ticked row of the configuration table is
// written after register 0 (with the value row 1 shows), one register a request, with a
// 200 ms pause after each write that went through; its "Выбор" cell turns green when
// written, blue when register 0 failed and the row was skipped, red when the row's own
// write failed or its value cannot be written. Cells are looked up anew after every wait,
// as the table may change meanwhile. A link that goes down, by the user's disconnect or a
// lost line, ends the pass at once: nothing more is written or read back, and a row whose
// write it cut short keeps no colour.
struct ConfigWritePass {
    QTableWidget* table = nullptr;
    QPushButton* writeButton = nullptr;
    // Shows and logs why a value cell is not written.
    const RequestNotices* notices = nullptr;
    // Parent of the measurement-mode warning; with none, the measurement mode is not checked.
    QWidget* measurementModeWarningParent = nullptr;
    std::function<bool()> connected;
    // Writes one register and waits for the outcome: Done when it was written, Dropped when
    // the link went down before it was answered.
    std::function<ModbusOutcome::Kind(int address, quint16 value)> write;
    // Reads the configuration block again.
    std::function<void()> readBack;

    // The write button's click. Nothing while not connected or while `running`: a pass
    // waits in the event loop, where a second click must not start another. Otherwise one
    // pass with the button off and the status bar cleared first, and the block read again
    // when a write failed and the pass was not stopped by a measurement mode out of range.
    void runOnce(bool& running);

private:
    // True when the block should be read again.
    bool run();
};
