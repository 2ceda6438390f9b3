// Row kernels over a 1920 x 1080 picture beside memset, memcpy and a plain
// scalar blend of the same size, in one run; and over a 4096 x 4096 one, which
// no longer fits the last-level cache, where the streaming stores pay off.
#include "graphics/rowkernels.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

using namespace Corvanith::Graphics;

namespace {

struct TBuffers {
    int32_t W, H;
    size_t Pixels;
    TCorvColor* dest;
    TCorvColor* source;
    TBuffers(int32_t Width, int32_t Height) : W(Width), H(Height), Pixels(size_t(Width) * size_t(Height))
    {
        dest = static_cast<TCorvColor*>(std::aligned_alloc(64, Pixels * 4));
        source = static_cast<TCorvColor*>(std::aligned_alloc(64, Pixels * 4));
        std::mt19937 rng(1);
        for (size_t i = 0; i < Pixels; ++i) {
            source[i] = rng();
            dest[i] = rng() | 0xFF000000u;
        }
    }
    ~TBuffers()
    {
        std::free(dest);
        std::free(source);
    }
};

TBuffers& Buffers(const benchmark::State& state)
{
    static TBuffers hd(1920, 1080);
    static TBuffers large(4096, 4096);
    return state.range(0) == 1920 ? hd : large;
}

void Finish(benchmark::State& state)
{
    const auto& b = Buffers(state);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.Pixels) * 4);
}

// Runs Row over every row of the picture, then fences, as a surface operation does.
template <typename TRow>
void RunRows(benchmark::State& state, TRow Row)
{
    auto& b = Buffers(state);
    for (auto _ : state) {
        for (int32_t y = 0; y < b.H; ++y)
            Row(b.dest + size_t(y) * b.W, b.source + size_t(y) * b.W, b.W);
        FenceStreamingStores();
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void BM_Memset(benchmark::State& state)
{
    auto& b = Buffers(state);
    for (auto _ : state) {
        std::memset(b.dest, 0x5A, b.Pixels * 4);
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void BM_Memcpy(benchmark::State& state)
{
    auto& b = Buffers(state);
    for (auto _ : state) {
        std::memcpy(b.dest, b.source, b.Pixels * 4);
        benchmark::ClobberMemory();
    }
    Finish(state);
}

// The plain formula, one channel at a time, as a baseline for the vector blend.
[[gnu::noinline]] void ScalarBlendLine(TCorvColor* d, const TCorvColor* s, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t a = s[i] >> 24;
        if (a == 0)
            continue;
        if (a == 255) {
            d[i] = s[i];
            continue;
        }
        uint32_t r = 0;
        for (int k = 0; k < 32; k += 8)
            r |= ((((s[i] >> k) & 0xFF) * a + ((d[i] >> k) & 0xFF) * (256 - a)) >> 8) << k;
        d[i] = r;
    }
}

void BM_FillLongword(benchmark::State& state)
{
    RunRows(state, [](TCorvColor* d, const TCorvColor*, int32_t n) { FillLongword(d, 0xFF5A5A5A, n); });
}

void BM_MoveLongwordStreaming(benchmark::State& state) { RunRows(state, MoveLongwordStreaming); }
void BM_MoveLongword(benchmark::State& state) { RunRows(state, MoveLongword); }
void BM_ScalarBlendLine(benchmark::State& state) { RunRows(state, ScalarBlendLine); }
void BM_BlendLine(benchmark::State& state) { RunRows(state, BlendLine); }

void BM_BlendColorLine(benchmark::State& state)
{
    RunRows(state, [](TCorvColor* d, const TCorvColor*, int32_t n) { BlendColorLine(d, 0x5C000000, n); });
}

void BM_SubtractColorLine(benchmark::State& state)
{
    RunRows(state, [](TCorvColor* d, const TCorvColor*, int32_t n) { SubtractColorLine(d, 0x01000000, n); });
}

} // namespace

BENCHMARK(BM_Memset)->Arg(1920)->Arg(4096);
BENCHMARK(BM_FillLongword)->Arg(1920)->Arg(4096);
BENCHMARK(BM_Memcpy)->Arg(1920)->Arg(4096);
BENCHMARK(BM_MoveLongwordStreaming)->Arg(1920)->Arg(4096);
BENCHMARK(BM_MoveLongword)->Arg(1920)->Arg(4096);
BENCHMARK(BM_ScalarBlendLine)->Arg(1920)->Arg(4096);
BENCHMARK(BM_BlendLine)->Arg(1920)->Arg(4096);
BENCHMARK(BM_BlendColorLine)->Arg(1920)->Arg(4096);
BENCHMARK(BM_SubtractColorLine)->Arg(1920)->Arg(4096);
BENCHMARK_MAIN();
