#include "threading/autoresetevent.h"

namespace Corvanith::Threading {

void TAutoResetEvent::Signal()
{
    std::lock_guard lock(FMutex);
    FSignalled = true;
    FCondition.notify_one();
}

void TAutoResetEvent::Wait()
{
    std::unique_lock lock(FMutex);
    FCondition.wait(lock, [this] { return FSignalled; });
    FSignalled = false;
}

} // namespace Corvanith::Threading
