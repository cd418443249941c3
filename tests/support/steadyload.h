#pragma once

#include <QTimer>

// Keeps the thread busy for `busyMs` in every turn of its event loop while it runs, as a
// window does that redraws a long run or works steadily: a zero timer that blocks.
class SteadyLoad
{
public:
    explicit SteadyLoad(int busyMs);

    void start();
    void stop();

private:
    QTimer m_timer;
};
