#include "threading/threading.h"

#include "graphics/errors.h"
#include "io/settings.h"

#include <cpuid.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>

namespace Corvanith::Threading {

TCorvJob::~TCorvJob() = default;

void TCorvJob::Execute() { FDone.Signal(); }

void TCorvJob::Fail(std::exception_ptr Error)
{
    FError = std::move(Error);
    FDone.Signal();
}

std::exception_ptr TCorvJob::TakeError() { return std::exchange(FError, nullptr); }

TCorvJobThread::TCorvJobThread() : FThread([this] { Execute(); }) {}

TCorvJobThread::~TCorvJobThread()
{
    Terminate();
    Join();
}

void TCorvJobThread::Start(TCorvJob& Job)
{
    FJob = &Job;
    FEvent.Signal();
}

void TCorvJobThread::Terminate()
{
    FTerminated = true;
    FEvent.Signal();
}

void TCorvJobThread::Join()
{
    if (FThread.joinable())
        FThread.join();
}

void TCorvJobThread::Execute()
{
    while (!FTerminated) {
        FEvent.Wait();
        if (FTerminated)
            break;
        TCorvJob* job = FJob;
        // An escaping exception would end the process; the dispatcher gets it
        // instead, and this worker stays ready for the next job. The job is
        // told only once this worker has let go of the exception, so that
        // the dispatcher alone holds and in the end destroys it.
        std::exception_ptr error;
        try {
            job->Execute();
        } catch (...) {
            error = std::current_exception();
        }
        if (error)
            job->Fail(std::move(error));
    }
}

TCorvThreadCounts ComputeThreadCounts(int32_t Logical, int32_t PerPackage, bool PhysicalOnly)
{
    TCorvThreadCounts counts;
    counts.ProcessorCount = Logical;
    counts.PackageCount = Logical / (PerPackage > 0 ? PerPackage : 1);
    counts.ThreadCount = PhysicalOnly ? counts.PackageCount : counts.ProcessorCount;
    return counts;
}

int32_t LogicalProcessorsPerPackageFromCpuid(uint32_t Ebx, uint32_t Edx)
{
    if ((Edx & (1u << 28)) != 0)
        return int32_t((Ebx >> 16) & 0xFF);
    return 1;
}

namespace {

// The number of distinct packages the online processors belong to; 0 when
// the kernel does not tell.
int32_t CountPackages()
{
    namespace fs = std::filesystem;
    std::error_code error;
    std::set<std::string> packages;
    for (const fs::directory_entry& cpu : fs::directory_iterator("/sys/devices/system/cpu", error)) {
        const std::string name = cpu.path().filename().string();
        if (name.size() < 4 || name.compare(0, 3, "cpu") != 0 ||
            name.find_first_not_of("0123456789", 3) != std::string::npos)
            continue;
        std::ifstream file(cpu.path() / "topology" / "physical_package_id");
        std::string id;
        if (file >> id)
            packages.insert(id);
    }
    return int32_t(packages.size());
}

} // namespace

int32_t GetLogicalProcessorsPerPackage()
{
    // The identification instruction reports how many IDs a package may
    // address, which on current processors is often more than it holds.
    if (const int32_t packages = CountPackages(); packages > 0)
        return std::max(GetLogicalProcessorCount() / packages, 1);
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0)
        return 1;
    return LogicalProcessorsPerPackageFromCpuid(ebx, edx);
}

int32_t GetLogicalProcessorCount()
{
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : int32_t(count);
}

TCorvThreadPool::TCorvThreadPool(const TCorvThreadCounts& Counts, std::function<bool()> UseMultipleThreads)
    : FCounts(Counts), FUseMultipleThreads(std::move(UseMultipleThreads))
{
    for (int32_t i = 0; i < Counts.ThreadCount; ++i)
        FJobThreads.push_back(std::make_unique<TCorvJobThread>());
}

TCorvThreadPool::~TCorvThreadPool()
{
    TerminateJobThreads();
    for (auto& thread : FJobThreads)
        thread->Join();
}

void TCorvThreadPool::RunJobs(const TCorvJobArray& Jobs)
{
    if (Jobs.size() > FJobThreads.size())
        throw EArgumentError(std::to_string(Jobs.size()) + " jobs for " + std::to_string(FJobThreads.size()) +
                             " worker threads");
    if (FTerminated && !Jobs.empty())
        throw ECorvError("The worker threads have been ended");
    FJobsBusy = true;
    for (size_t i = 0; i < Jobs.size(); ++i)
        FJobThreads[i]->Start(*Jobs[i]);
    for (TCorvJob* job : Jobs)
        job->Done().Wait();
    FJobsBusy = false;
    std::exception_ptr first;
    for (TCorvJob* job : Jobs)
        if (std::exception_ptr error = job->TakeError(); error && !first)
            first = error;
    if (first)
        std::rethrow_exception(first);
}

bool TCorvThreadPool::ShouldParallelize(const Graphics::TCorvRectangle& Rect) const
{
    if (FJobsBusy)
        return false;
    if (ThreadCount() <= 1)
        return false;
    if (!FUseMultipleThreads || !FUseMultipleThreads())
        return false;
    if (Rect.Width <= ParallelThreshold)
        return false;
    return Rect.Height > ParallelThreshold;
}

void TCorvThreadPool::TerminateJobThreads()
{
    FTerminated = true;
    for (auto& thread : FJobThreads)
        thread->Terminate();
}

namespace {

std::unique_ptr<TCorvThreadPool> GPool;

} // namespace

void InitializeThreading(bool PhysicalOnly)
{
    GPool.reset();
    GPool = std::make_unique<TCorvThreadPool>(
        ComputeThreadCounts(GetLogicalProcessorCount(), GetLogicalProcessorsPerPackage(), PhysicalOnly),
        [] { return Settings::Current().UseMultipleThreads; });
}

void FinalizeThreading()
{
    TerminateJobThreads();
    GPool.reset();
}

std::unique_ptr<TCorvThreadPool> ExchangePool(std::unique_ptr<TCorvThreadPool> Pool)
{
    std::swap(GPool, Pool);
    return Pool;
}

int32_t ProcessorCount() { return GPool ? GPool->ProcessorCount() : 0; }
int32_t PackageCount() { return GPool ? GPool->PackageCount() : 0; }
int32_t ThreadCount() { return GPool ? GPool->ThreadCount() : 0; }
bool JobsBusy() { return GPool && GPool->JobsBusy(); }

void RunJobs(const TCorvJobArray& Jobs)
{
    if (GPool)
        GPool->RunJobs(Jobs);
    else if (!Jobs.empty())
        throw ECorvError("No worker threads to run jobs on");
}

bool ShouldParallelize(const Graphics::TCorvRectangle& Rect) { return GPool && GPool->ShouldParallelize(Rect); }

void TerminateJobThreads()
{
    if (GPool)
        GPool->TerminateJobThreads();
}

} // namespace Corvanith::Threading
