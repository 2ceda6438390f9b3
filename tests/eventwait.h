#pragma once
// Waiting in tests for something the event loop delivers. The loop keeps
// running all the while: a sleep between rounds (as QTest::qWaitFor does)
// starves engines that pass many small tasks through the main thread.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace Corvanith::Testing {

// Handles events until Done answers True (True) or Milliseconds have passed (False).
template <typename TDone>
bool WaitFor(TDone Done, int Milliseconds)
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
inline void Pump(int Milliseconds)
{
    WaitFor([] { return false; }, Milliseconds);
}

} // namespace Corvanith::Testing
