#include "beforequeuedcall.h"

#include <QEvent>

#include <utility>

BeforeQueuedCall::BeforeQueuedCall(QObject* target, std::function<void()> action)
    : m_action(std::move(action))
{
    target->installEventFilter(this);
}

bool BeforeQueuedCall::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_ran && event->type() == QEvent::MetaCall) {
        m_ran = true;
        watched->removeEventFilter(this);
        m_action();
    }
    return false;
}
