// Fill, copy and alpha blend of whole surfaces, serial and split over injected
// pools of 2, 4 and every logical processor of this machine.
#include "graphics/surface.h"
#include "threading/parallizers.h"

#include <benchmark/benchmark.h>

#include <random>
#include <thread>

using namespace Corvanith;
using namespace Corvanith::Graphics;

namespace {

enum TOperation { opFill, opCopy, opBlend };

std::unique_ptr<TCorvSurface> Random(int32_t w, int32_t h, uint32_t seed)
{
    auto s = TCorvSurface::Create(w, h);
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            *s->GetPixelPtr(x, y) = rng();
    return s;
}

// Arguments: width, height, workers (1 runs the serial loop).
void Run(benchmark::State& State, TOperation Operation)
{
    const int32_t w = int32_t(State.range(0)), h = int32_t(State.range(1)), workers = int32_t(State.range(2));
    const Parallizers::TCorvParallelScope pool({workers, workers, workers}, [] { return true; });
    auto source = Random(w, h, 1);
    auto dest = Random(w, h, 2);
    const TCorvRectangle all{0, 0, w, h};
    for (auto _ : State) {
        switch (Operation) {
        case opFill: dest->FillRect(all, 0xFF336699); break;
        case opCopy: source->CopyTo(*dest, 0, 0, all); break;
        case opBlend: source->AlphaBlendTo(*dest, 0, 0, all); break;
        }
        benchmark::DoNotOptimize(dest->Bits());
        benchmark::ClobberMemory();
    }
    State.SetBytesProcessed(int64_t(State.iterations()) * w * h * 4);
    State.counters["workers"] = workers;
}

void Sizes(benchmark::internal::Benchmark* b)
{
    const int64_t all = std::max<int64_t>(std::thread::hardware_concurrency(), 1);
    for (const auto& [w, h] : {std::pair{1920, 1080}, std::pair{4000, 3000}})
        for (int64_t workers : {int64_t(1), int64_t(2), int64_t(4), all})
            b->Args({w, h, workers});
    b->Unit(benchmark::kMicrosecond)->UseRealTime();
}

BENCHMARK_CAPTURE(Run, Fill, opFill)->Apply(Sizes);
BENCHMARK_CAPTURE(Run, Copy, opCopy)->Apply(Sizes);
BENCHMARK_CAPTURE(Run, AlphaBlend, opBlend)->Apply(Sizes);

} // namespace

BENCHMARK_MAIN();
