#pragma once

#include <QString>

#include <functional>

class QStatusBar;
struct ModbusOutcome;

// Where a window tells what became of its requests: in its status bar for a while, and in
// its log what is worth keeping.
class RequestNotices
{
public:
    RequestNotices(QStatusBar* bar, std::function<void(const QString&)> log);

    // The notice of an outcome; nothing for a read that succeeded (its values are shown)
    // and for a request dropped by a disconnect.
    void show(const ModbusOutcome& outcome) const;
    // A failure the window found itself, shown for `durationMs` and logged.
    void showLogged(const QString& text, int durationMs) const;
    // Shown for `durationMs`, not logged.
    void showFor(const QString& text, int durationMs) const;
    void clear() const;

private:
    QStatusBar* bar;
    std::function<void(const QString&)> log;
};
