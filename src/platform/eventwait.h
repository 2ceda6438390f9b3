#pragma once
// Waiting for something the event loop delivers. The loop keeps running all
// the while: a sleep between rounds (as QTest::qWaitFor does) starves engines
// that pass many small tasks through the main thread, such as the browser.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace Corvanith::Platform {

// Handles events until Done answers True (True) or Milliseconds have passed
// (False).
template <typename TDone>
bool WaitUntil(TDone Done, int Milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!Done()) {
        if (clock.elapsed() >= Milliseconds)
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Handles events for Milliseconds.
inline void PumpEvents(int Milliseconds)
{
    WaitUntil([] { return false; }, Milliseconds);
}

} // namespace Corvanith::Platform
