// The seam-iterative resizer on photo-like pictures of 640 x 480, 1920 x 1080
// and 3840 x 2160: seams removed or inserted in each direction, in one call
// and as one call per seam (the arrow-key path), each beside a memmove of the
// picture's plane timed in the same run, so that the x_memmove counter can be
// compared between machines and busy runs. Then the parts of one step on
// their own, and the peak memory of a run of insertions.
#include "timing.h"
#include "synthetic_picture.h"

#include "residentmemory.h"

#include "io/random.h"
#include "retargeting/energy.h"
#include "retargeting/seam_iterative_resizer.h"
#include "retargeting/seam_search.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace Corvanith::Graphics;
using namespace Corvanith::Graphics::Retargeting;

namespace {

constexpr int32_t Seams = 100;

struct TSize {
    int32_t W, H;
};
constexpr TSize Sizes[] = {{640, 480}, {1920, 1080}, {3840, 2160}};

const TCorvSurface& Original(int32_t Index)
{
    static std::map<int32_t, std::unique_ptr<TCorvSurface>> pictures;
    auto& p = pictures[Index];
    if (!p)
        p = CorvanithBench::MakePhotoLikePicture(Sizes[Index].W, Sizes[Index].H);
    return *p;
}

std::unique_ptr<TCorvSurface> Fresh(int32_t Index)
{
    const TCorvSurface& o = Original(Index);
    auto s = TCorvSurface::Create(o.Width(), o.Height());
    std::memcpy(s->Bits(), o.Bits(), size_t(o.Width()) * size_t(o.Height()) * 4);
    return s;
}

double MemmoveMs(int32_t Index)
{
    return CorvanithBench::MemmoveMs(size_t(Sizes[Index].W) * size_t(Sizes[Index].H) * 4);
}

enum TKind { RemoveVertical, RemoveHorizontal, InsertVertical, InsertHorizontal };

void Call(TCorvSeamIterativeResizer& r, TKind kind, int32_t count)
{
    switch (kind) {
    case RemoveVertical:
        r.RemoveVerticalSeams(count);
        break;
    case RemoveHorizontal:
        r.RemoveHorizontalSeams(count);
        break;
    case InsertVertical:
        r.InsertVerticalSeams(count, 0.33);
        break;
    case InsertHorizontal:
        r.InsertHorizontalSeams(count, 0.33);
        break;
    }
}

// range(0): the size; range(1): the kind; range(2): 1 for one call of all the
// seams, 0 for one call per seam. The first map is computed before the clock
// starts, as in the window, where it is computed at the first key.
void BM_Resize(benchmark::State& state)
{
    const auto index = int32_t(state.range(0));
    const auto kind = TKind(state.range(1));
    const bool batch = state.range(2) != 0;
    double totalMs = 0;
    double floorMs = 1e9;
    for (auto _ : state) {
        Corvanith::Utils::RandSeed(1);
        auto picture = Fresh(index);
        TCorvSeamIterativeResizer r(*picture);
        Call(r, kind, 1);
        floorMs = std::min(floorMs, MemmoveMs(index));
        totalMs += CorvanithBench::TimeIteration(state, [&] {
            if (batch)
                Call(r, kind, Seams);
            else
                for (int32_t i = 0; i < Seams; ++i)
                    Call(r, kind, 1);
        });
        benchmark::DoNotOptimize(picture->Bits());
    }
    const double perSeam = totalMs / double(state.iterations() * Seams);
    state.counters["ms_per_seam"] = perSeam;
    state.counters["memmove_ms"] = floorMs;
    state.counters["x_memmove"] = perSeam / floorMs;
    state.counters["ns_per_pixel"] = perSeam * 1e6 / (double(Sizes[index].W) * Sizes[index].H);
}

void BM_CalculateEnergy(benchmark::State& state)
{
    const TCorvSurface& picture = Original(int32_t(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(CalculateEnergy(picture));
}

void BM_FindSeam(benchmark::State& state)
{
    const auto map = CalculateEnergy(Original(int32_t(state.range(0))));
    TCorvPointArray seam;
    // Told of no seam, a kept search runs in full every time, in the same table.
    TSeamSearch search;
    for (auto _ : state) {
        search.Find(*map, state.range(1) != 0, seam);
        benchmark::DoNotOptimize(seam.data());
    }
}

// 200 insertions in one direction on a fresh picture; x_picture is the peak
// resident memory above what the process held before the picture, in
// pictures (the picture itself counts one).
void BM_InsertionPeakMemory(benchmark::State& state)
{
    const auto index = int32_t(state.range(0));
    const bool vertical = state.range(1) != 0;
    Original(index);
    double ratio = 0;
    for (auto _ : state) {
        Corvanith::Utils::RandSeed(1);
        const int64_t before = Corvanith::Testing::ResidentBytes();
        auto picture = Fresh(index);
        Corvanith::Testing::ResetResidentPeak();
        {
            TCorvSeamIterativeResizer r(*picture);
            if (vertical)
                r.InsertVerticalSeams(200, 0.33);
            else
                r.InsertHorizontalSeams(200, 0.33);
        }
        const int64_t peak = Corvanith::Testing::ResidentBytes("VmHWM:");
        ratio = double(peak - before) / (double(Sizes[index].W) * Sizes[index].H * 4);
    }
    state.counters["x_picture"] = ratio;
}

} // namespace

BENCHMARK(BM_Resize)
    ->ArgNames({"size", "kind", "batch"})
    ->ArgsProduct({{0, 1, 2}, {RemoveVertical, RemoveHorizontal, InsertVertical, InsertHorizontal}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_CalculateEnergy)->ArgName("size")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindSeam)->ArgNames({"size", "vertical"})->ArgsProduct({{0, 1, 2}, {1, 0}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertionPeakMemory)
    ->ArgNames({"size", "vertical"})
    ->ArgsProduct({{2}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK_MAIN();
