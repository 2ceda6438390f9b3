#pragma once
// The worker-thread pool: a fixed set of workers, made once at start-up, that
// run the jobs the main thread hands out (the bands of a large fill, copy or
// blend) while the main thread waits for all of them.
#include "graphics/rectangle.h"
#include "threading/autoresetevent.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace Corvanith::Threading {

// One unit of work. Descendants do their work in Execute and then call the
// base, which signals Done, so Done follows the complete work.
class TCorvJob {
public:
    TCorvJob() = default;
    TCorvJob(const TCorvJob&) = delete;
    TCorvJob& operator=(const TCorvJob&) = delete;
    virtual ~TCorvJob();

    virtual void Execute();

    TAutoResetEvent& Done() { return FDone; }

    // Keeps the error that ended the work and signals Done in its place.
    void Fail(std::exception_ptr Error);
    // The error kept by Fail, if any; the job holds none afterwards.
    std::exception_ptr TakeError();

private:
    TAutoResetEvent FDone;
    std::exception_ptr FError;
};

// Refers to jobs owned elsewhere.
using TCorvJobArray = std::vector<TCorvJob*>;

// One worker: sleeps on Event, runs Job when woken, until terminated.
class TCorvJobThread {
public:
    TCorvJobThread();
    TCorvJobThread(const TCorvJobThread&) = delete;
    TCorvJobThread& operator=(const TCorvJobThread&) = delete;
    // Terminates and joins.
    ~TCorvJobThread();

    // Hands Job over and wakes the worker.
    void Start(TCorvJob& Job);
    // Sets the terminate flag and wakes the worker; does not wait for it.
    void Terminate();
    void Join();

private:
    void Execute();

    TAutoResetEvent FEvent;
    std::atomic<bool> FTerminated{false};
    TCorvJob* FJob = nullptr;
    std::thread FThread;
};

struct TCorvThreadCounts {
    int32_t ProcessorCount = 0;
    int32_t PackageCount = 0;
    int32_t ThreadCount = 0;
    friend bool operator==(const TCorvThreadCounts&, const TCorvThreadCounts&) = default;
};

// PackageCount is Logical div PerPackage; a PerPackage of 0 or less counts as
// 1, so the workers stay between 0 and Logical. PhysicalOnly gives one worker
// per package, else one per logical processor.
TCorvThreadCounts ComputeThreadCounts(int32_t Logical, int32_t PerPackage, bool PhysicalOnly);

// The processor identification answer of leaf 1: bits 16..23 of EBX when the
// multi-threading flag (EDX bit 28) is set, else 1.
int32_t LogicalProcessorsPerPackageFromCpuid(uint32_t Ebx, uint32_t Edx);

// Of this machine: from the kernel's CPU topology when it tells, else from
// the processor identification instruction.
int32_t GetLogicalProcessorsPerPackage();
int32_t GetLogicalProcessorCount();

class TCorvThreadPool {
public:
    static constexpr int32_t ParallelThreshold = 256;

    // Starts Counts.ThreadCount workers. UseMultipleThreads is asked at every
    // ShouldParallelize.
    TCorvThreadPool(const TCorvThreadCounts& Counts, std::function<bool()> UseMultipleThreads);
    TCorvThreadPool(const TCorvThreadPool&) = delete;
    TCorvThreadPool& operator=(const TCorvThreadPool&) = delete;
    // Terminates the workers and joins them.
    ~TCorvThreadPool();

    int32_t ProcessorCount() const { return FCounts.ProcessorCount; }
    int32_t PackageCount() const { return FCounts.PackageCount; }
    int32_t ThreadCount() const { return int32_t(FJobThreads.size()); }
    bool JobsBusy() const { return FJobsBusy.load(); }

    // Runs job i on worker i and returns when every job has finished; then
    // rethrows the first error (in job order) a job ended with. One caller at
    // a time. Throws EArgumentError for more jobs than workers and ECorvError
    // once the workers were terminated.
    void RunJobs(const TCorvJobArray& Jobs);

    // Whether an operation on Rect is worth splitting: not from inside a job,
    // at least two workers, the setting on, and Rect above ParallelThreshold
    // both ways.
    bool ShouldParallelize(const Graphics::TCorvRectangle& Rect) const;

    // Asks every worker to end and returns at once; a job running now
    // finishes, no later one starts.
    void TerminateJobThreads();

private:
    TCorvThreadCounts FCounts;
    std::function<bool()> FUseMultipleThreads;
    std::vector<std::unique_ptr<TCorvJobThread>> FJobThreads;
    // Read by the workers' own surface calls while the main thread sets it.
    std::atomic<bool> FJobsBusy{false};
    std::atomic<bool> FTerminated{false};
};

// The process-wide pool. Until InitializeThreading (and after
// FinalizeThreading) there is none: no counts, no workers, nothing splits.
// PhysicalOnly: one worker per processor package, else per logical processor;
// the pool reads the UseMultipleThreads setting.
void InitializeThreading(bool PhysicalOnly);
// Terminates the workers and joins them.
void FinalizeThreading();
// Puts Pool in place of the process-wide pool and hands back the one before.
std::unique_ptr<TCorvThreadPool> ExchangePool(std::unique_ptr<TCorvThreadPool> Pool);

int32_t ProcessorCount();
int32_t PackageCount();
int32_t ThreadCount();
bool JobsBusy();
void RunJobs(const TCorvJobArray& Jobs);
bool ShouldParallelize(const Graphics::TCorvRectangle& Rect);
void TerminateJobThreads();

} // namespace Corvanith::Threading
