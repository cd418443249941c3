// How the shared cases start the window of the kind they are built for.

#include <QTest>

#include "sensorwindow.h"

std::unique_ptr<SensorWindow> connectedWindow(int pollEveryMs)
{
    std::unique_ptr<SensorWindow> t = makeSensorWindow();
    if (!t->start()) {
        qWarning("%s", qPrintable(t->link.errorString()));
        return nullptr;
    }
    if (pollEveryMs > 0)
        t->pollEvery(pollEveryMs);
    if (!t->connectToSensor()) {
        qWarning("no configuration read on connecting");
        return nullptr;
    }
    t->link.clearJournal();
    return t;
}

std::unique_ptr<SensorWindow> pollingWindow()
{
    std::unique_ptr<SensorWindow> t = connectedWindow();
    if (!t)
        return nullptr;
    t->pollEvery(50);
    if (!QTest::qWaitFor([&] { return t->stateReadsWith(QStringLiteral("ok")).size() >= 2; }, 10000)) {
        qWarning("no state reads answered");
        return nullptr;
    }
    return t;
}
