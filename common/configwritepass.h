#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

class QTableWidget;
class QWidget;

// The configuration write of every edition. Each ticked row of the configuration table is
// written after register 0 (with the value row 1 shows), one register a request, with a
// 200 ms pause after each write that went through; its "Выбор" cell turns green when
// written, blue when register 0 failed and the row was skipped, red when the row's own
// write failed or its value cannot be written. Cells are looked up anew after every wait,
// as the table may change meanwhile. A link that goes down ends the pass.
struct ConfigWritePass {
    QTableWidget* table = nullptr;
    // Parent of the measurement-mode warning; with none, the measurement mode is not checked.
    QWidget* measurementModeWarningParent = nullptr;
    std::function<bool()> connected;
    // Writes one register and waits for the outcome; true when it was written.
    std::function<bool(int address, quint16 value)> write;
    // Shows and logs why a value cell is not written.
    std::function<void(const QString& message)> reportRejectedValue;

    // True when the configuration block should be read again: a write failed, and the pass
    // was not stopped by a measurement mode out of range.
    bool run();
};
