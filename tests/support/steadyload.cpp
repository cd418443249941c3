#include "steadyload.h"

#include <QThread>

SteadyLoad::SteadyLoad(int busyMs)
{
    m_timer.setInterval(0);
    QObject::connect(&m_timer, &QTimer::timeout, [busyMs] { QThread::msleep(ulong(busyMs)); });
}

void SteadyLoad::start()
{
    m_timer.start();
}

void SteadyLoad::stop()
{
    m_timer.stop();
}
