#pragma once

#include <QObject>

#include <functional>

// Runs `action` once, just before the first queued call posted to `target` runs: a test
// puts what the user does into the one turn of the event loop between a thing that was
// queued and its handling.
class BeforeQueuedCall : public QObject
{
public:
    BeforeQueuedCall(QObject* target, std::function<void()> action);

    bool ran() const { return m_ran; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> m_action;
    bool m_ran = false;
};
