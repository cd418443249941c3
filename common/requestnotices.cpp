#include "requestnotices.h"

#include <QStatusBar>

#include <utility>

#include "modbustexts.h"

RequestNotices::RequestNotices(QStatusBar* bar, std::function<void(const QString&)> log)
    : bar(bar)
    , log(std::move(log))
{
}

void RequestNotices::show(const ModbusOutcome& outcome) const
{
    const ModbusTexts::Notice notice = ModbusTexts::notice(outcome);
    if (notice.text.isEmpty())
        return;
    bar->showMessage(notice.text, notice.durationMs);
    if (notice.logged)
        log(notice.text);
}

void RequestNotices::showLogged(const QString& text, int durationMs) const
{
    bar->showMessage(text, durationMs);
    log(text);
}

void RequestNotices::showFor(const QString& text, int durationMs) const
{
    bar->showMessage(text, durationMs);
}

void RequestNotices::clear() const
{
    bar->clearMessage();
}
