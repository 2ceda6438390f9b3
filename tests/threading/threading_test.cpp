#include "graphics/errors.h"
#include "threading/threading.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <set>
#include <stdexcept>

using namespace Corvanith;
using namespace Corvanith::Threading;
using Graphics::TCorvRectangle;

namespace {

TEST(ThreadCounts, FollowTheProcessorFormula)
{
    constexpr uint32_t MultiThreading = 1u << 28;
    struct TCase {
        int32_t Logical;
        uint32_t Ebx;
        uint32_t Edx;
        bool PhysicalOnly;
        TCorvThreadCounts Expected;
    };
    const TCase cases[] = {
        {1, 0x00010000, 0, true, {1, 1, 1}},
        {2, 0x00FF0000, 0, true, {2, 2, 2}},
        {8, 0x00080000, MultiThreading, true, {8, 1, 1}},
        {16, 0x00080000, MultiThreading, true, {16, 2, 2}},
        {12, 0x00100000, MultiThreading, true, {12, 0, 0}},
        {16, 0x00080000, MultiThreading, false, {16, 2, 16}},
        // A package said to hold no processors counts as holding one.
        {8, 0x00000000, MultiThreading, true, {8, 8, 8}},
        {8, 0xFF00FFFF, MultiThreading, true, {8, 8, 8}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Logical << " logical, EBX " << std::hex << c.Ebx << ", EDX " << c.Edx
                                        << (c.PhysicalOnly ? ", physical only" : ""));
        const int32_t perPackage = LogicalProcessorsPerPackageFromCpuid(c.Ebx, c.Edx);
        EXPECT_EQ(ComputeThreadCounts(c.Logical, perPackage, c.PhysicalOnly), c.Expected);
    }
}

TEST(ThreadCounts, ThisMachineGetsOneWorkerPerPackage)
{
    // Set up by the test program as the program does it.
    EXPECT_EQ(ProcessorCount(), GetLogicalProcessorCount());
    EXPECT_GE(GetLogicalProcessorsPerPackage(), 1);
    EXPECT_EQ(ThreadCount(), PackageCount());
    EXPECT_GE(ThreadCount(), 0);
    EXPECT_LE(ThreadCount(), ProcessorCount());
}

TEST(AutoResetEvent, SignalBeforeTheWaitStaysPending)
{
    TAutoResetEvent event;
    event.Signal();
    event.Wait();
    // Consumed: a second wait returns only on a second signal, here given
    // from another thread after a pause (an event that stayed set would let
    // the wait return at once, before it).
    std::atomic<bool> signalled{false};
    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        signalled = true;
        event.Signal();
    });
    event.Wait();
    EXPECT_TRUE(signalled);
    signaller.join();
}

// Records the thread it ran on and what it was told to write.
class TRecordingJob : public TCorvJob {
public:
    explicit TRecordingJob(int Value = 0) : FValue(Value) {}
    void Execute() override
    {
        Thread = std::this_thread::get_id();
        Written = FValue;
        TCorvJob::Execute();
    }
    std::thread::id Thread;
    int Written = -1;

private:
    int FValue;
};

class TThrowingJob : public TCorvJob {
public:
    explicit TThrowingJob(std::string Message) : FMessage(std::move(Message)) {}
    void Execute() override { throw std::runtime_error(FMessage); }

private:
    std::string FMessage;
};

TCorvThreadPool MakePool(int32_t Workers, bool UseMultipleThreads)
{
    return TCorvThreadPool({Workers, Workers, Workers}, [UseMultipleThreads] { return UseMultipleThreads; });
}

TEST(ThreadPool, JobsRunOnDistinctWorkersAndFinishBeforeRunJobsReturns)
{
    auto pool = MakePool(4, true);
    ASSERT_EQ(pool.ThreadCount(), 4);
    TRecordingJob jobs[4] = {TRecordingJob(10), TRecordingJob(11), TRecordingJob(12), TRecordingJob(13)};
    const TCorvJobArray array = {&jobs[0], &jobs[1], &jobs[2], &jobs[3]};
    for (int round = 0; round < 3; ++round) {
        for (auto& job : jobs)
            job.Written = -1;
        pool.RunJobs(array);
        std::set<std::thread::id> threads;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(jobs[size_t(i)].Written, i + 10);
            threads.insert(jobs[size_t(i)].Thread);
        }
        EXPECT_EQ(threads.size(), 4u);
        EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
        EXPECT_FALSE(pool.JobsBusy());
    }
    // Fewer jobs than workers is fine, an empty array too; more is refused.
    pool.RunJobs({&jobs[0]});
    pool.RunJobs({});
    TRecordingJob extra;
    EXPECT_THROW(pool.RunJobs({&jobs[0], &jobs[1], &jobs[2], &jobs[3], &extra}), EArgumentError);
    EXPECT_EQ(extra.Written, -1);
}

TEST(ThreadPool, AThrowingJobIsRethrownAndThePoolKeepsWorking)
{
    auto pool = MakePool(4, true);
    TRecordingJob before(1), after(2);
    TThrowingJob first("first"), second("second");
    const TCorvJobArray array = {&before, &first, &second, &after};
    for (int round = 0; round < 2; ++round) {
        before.Written = after.Written = -1;
        try {
            pool.RunJobs(array);
            ADD_FAILURE() << "RunJobs returned normally";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "first");
        }
        // Every other job still finished before the error came back.
        EXPECT_EQ(before.Written, 1);
        EXPECT_EQ(after.Written, 2);
        EXPECT_FALSE(pool.JobsBusy());
    }
    TRecordingJob jobs[4];
    pool.RunJobs({&jobs[0], &jobs[1], &jobs[2], &jobs[3]});
    for (const auto& job : jobs)
        EXPECT_EQ(job.Written, 0);
}

TEST(ThreadPool, ShouldParallelizeOnlyLargeRectanglesWhenIdleAndAllowed)
{
    auto on = MakePool(2, true);
    struct TCase {
        TCorvRectangle Rect;
        bool Expected;
    };
    const TCase cases[] = {
        {{0, 0, 257, 257}, true},  {{0, 0, 256, 1000}, false}, {{0, 0, 1000, 256}, false},
        {{5, 7, 4000, 3000}, true}, {{0, 0, 0, 0}, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Rect.Width << " x " << c.Rect.Height);
        EXPECT_EQ(on.ShouldParallelize(c.Rect), c.Expected);
    }
    auto off = MakePool(2, false);
    EXPECT_FALSE(off.ShouldParallelize({0, 0, 1000, 1000}));
    for (int32_t workers : {0, 1}) {
        auto small = MakePool(workers, true);
        EXPECT_FALSE(small.ShouldParallelize({0, 0, 1000, 1000}));
    }

    // Asked from inside a job while the pool dispatches.
    class TAskingJob : public TCorvJob {
    public:
        explicit TAskingJob(const TCorvThreadPool& Pool) : FPool(Pool) {}
        void Execute() override
        {
            Answer = FPool.ShouldParallelize({0, 0, 1000, 1000});
            TCorvJob::Execute();
        }
        bool Answer = true;

    private:
        const TCorvThreadPool& FPool;
    };
    TAskingJob a(on), b(on);
    on.RunJobs({&a, &b});
    EXPECT_FALSE(a.Answer);
    EXPECT_FALSE(b.Answer);
    EXPECT_TRUE(on.ShouldParallelize({0, 0, 1000, 1000}));
}

TEST(ThreadPool, TerminateReturnsAtOnceAndNoLaterJobRuns)
{
    auto pool = MakePool(2, true);
    std::promise<void> started, release;
    std::shared_future<void> released = release.get_future().share();
    class TBlockingJob : public TCorvJob {
    public:
        TBlockingJob(std::promise<void>& Started, std::shared_future<void> Release)
            : FStarted(Started), FRelease(std::move(Release))
        {
        }
        void Execute() override
        {
            FStarted.set_value();
            FRelease.wait();
            TCorvJob::Execute();
        }

    private:
        std::promise<void>& FStarted;
        std::shared_future<void> FRelease;
    };
    TBlockingJob blocking(started, released);
    std::thread dispatcher([&] { pool.RunJobs({&blocking}); });
    started.get_future().wait();
    // The worker is busy with its job: terminating must not wait for it.
    pool.TerminateJobThreads();
    release.set_value();
    dispatcher.join();

    TRecordingJob later;
    EXPECT_THROW(pool.RunJobs({&later}), ECorvError);
    EXPECT_EQ(later.Written, -1);
    pool.RunJobs({});
}

} // namespace
