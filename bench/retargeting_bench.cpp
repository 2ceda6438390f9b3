// The seam-iterative resizer on a 1920 x 1080 photo-like picture: 200 seams
// removed or inserted in each direction, in one call and as 200 calls of one
// seam (the arrow-key path), and the parts of one step on their own. The
// ms_per_seam counter is what to compare between builds.
#include "synthetic_picture.h"

#include "io/random.h"
#include "retargeting/energy.h"
#include "retargeting/seam_iterative_resizer.h"
#include "retargeting/seam_search.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>

using namespace Corvanith::Graphics;
using namespace Corvanith::Graphics::Retargeting;

namespace {

constexpr int32_t W = 1920, H = 1080, Seams = 200;

const TCorvSurface& Original()
{
    static const auto picture = CorvanithBench::MakePhotoLikePicture(W, H);
    return *picture;
}

std::unique_ptr<TCorvSurface> Fresh()
{
    auto s = TCorvSurface::Create(W, H);
    std::memcpy(s->Bits(), Original().Bits(), size_t(W) * H * 4);
    return s;
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

// range(0): the kind; range(1): 1 for one call of 200 seams, 0 for 200 calls.
void BM_Resize(benchmark::State& state)
{
    const auto kind = TKind(state.range(0));
    const bool batch = state.range(1) != 0;
    double totalMs = 0;
    for (auto _ : state) {
        Corvanith::Utils::RandSeed(1);
        auto picture = Fresh();
        TCorvSeamIterativeResizer r(*picture);
        const auto start = std::chrono::steady_clock::now();
        if (batch)
            Call(r, kind, Seams);
        else
            for (int32_t i = 0; i < Seams; ++i)
                Call(r, kind, 1);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(ms / 1000);
        totalMs += ms;
        benchmark::DoNotOptimize(picture->Bits());
    }
    state.counters["ms_per_seam"] = totalMs / double(state.iterations() * Seams);
}

void BM_CalculateEnergy(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(CalculateEnergy(Original()));
}

void BM_FindSeam(benchmark::State& state)
{
    const auto map = CalculateEnergy(Original());
    TCorvPointArray seam;
    TSeamSearchBuffers buffers;
    for (auto _ : state) {
        if (state.range(0) != 0)
            FindVerticalSeam(*map, seam, Corvanith::Utils::Random, &buffers);
        else
            FindHorizontalSeam(*map, seam, Corvanith::Utils::Random, &buffers);
        benchmark::DoNotOptimize(seam.data());
    }
}

} // namespace

BENCHMARK(BM_Resize)
    ->ArgNames({"kind", "batch"})
    ->ArgsProduct({{RemoveVertical, RemoveHorizontal, InsertVertical, InsertHorizontal}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_CalculateEnergy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindSeam)->ArgName("vertical")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
