#pragma once
// An event that one Signal releases exactly one Wait for, consumed by it; a
// signal given before anybody waits stays pending until the next Wait.
#include <condition_variable>
#include <mutex>

namespace Corvanith::Threading {

class TAutoResetEvent {
public:
    TAutoResetEvent() = default;
    TAutoResetEvent(const TAutoResetEvent&) = delete;
    TAutoResetEvent& operator=(const TAutoResetEvent&) = delete;

    // The waiter may free the event as soon as its Wait returns: Signal
    // touches nothing of it after releasing the lock.
    void Signal();
    void Wait();

private:
    std::mutex FMutex;
    std::condition_variable FCondition;
    bool FSignalled = false;
};

} // namespace Corvanith::Threading
