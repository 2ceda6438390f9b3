// Row kernels over a 1920 x 1080 picture beside memset, memcpy and a plain
// scalar blend of the same size, in one run.
#include "graphics/rowkernels.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

using namespace Corvanith::Graphics;

namespace {

constexpr int32_t W = 1920, H = 1080;
constexpr size_t Pixels = size_t(W) * H;

struct TBuffers {
    TCorvColor* dest;
    TCorvColor* source;
    TBuffers()
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

TBuffers& Buffers()
{
    static TBuffers b;
    return b;
}

void Finish(benchmark::State& state)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Pixels) * 4);
}

void BM_Memset(benchmark::State& state)
{
    auto& b = Buffers();
    for (auto _ : state) {
        std::memset(b.dest, 0x5A, Pixels * 4);
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void BM_FillLongword(benchmark::State& state)
{
    auto& b = Buffers();
    for (auto _ : state) {
        for (int32_t y = 0; y < H; ++y)
            FillLongword(b.dest + size_t(y) * W, 0xFF5A5A5A, W);
        FenceStreamingStores();
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void BM_Memcpy(benchmark::State& state)
{
    auto& b = Buffers();
    for (auto _ : state) {
        std::memcpy(b.dest, b.source, Pixels * 4);
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void BM_MoveLongwordStreaming(benchmark::State& state)
{
    auto& b = Buffers();
    for (auto _ : state) {
        for (int32_t y = 0; y < H; ++y)
            MoveLongwordStreaming(b.dest + size_t(y) * W, b.source + size_t(y) * W, W);
        FenceStreamingStores();
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void BM_MoveLongword(benchmark::State& state)
{
    auto& b = Buffers();
    for (auto _ : state) {
        for (int32_t y = 0; y < H; ++y)
            MoveLongword(b.dest + size_t(y) * W, b.source + size_t(y) * W, W);
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

void BM_ScalarBlendLine(benchmark::State& state)
{
    auto& b = Buffers();
    for (auto _ : state) {
        for (int32_t y = 0; y < H; ++y)
            ScalarBlendLine(b.dest + size_t(y) * W, b.source + size_t(y) * W, W);
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void BM_BlendLine(benchmark::State& state)
{
    auto& b = Buffers();
    for (auto _ : state) {
        for (int32_t y = 0; y < H; ++y)
            BlendLine(b.dest + size_t(y) * W, b.source + size_t(y) * W, W);
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void BM_BlendColorLine(benchmark::State& state)
{
    auto& b = Buffers();
    for (auto _ : state) {
        for (int32_t y = 0; y < H; ++y)
            BlendColorLine(b.dest + size_t(y) * W, 0x5C000000, W);
        benchmark::ClobberMemory();
    }
    Finish(state);
}

void BM_SubtractColorLine(benchmark::State& state)
{
    auto& b = Buffers();
    for (auto _ : state) {
        for (int32_t y = 0; y < H; ++y)
            SubtractColorLine(b.dest + size_t(y) * W, 0x01000000, W);
        benchmark::ClobberMemory();
    }
    Finish(state);
}

} // namespace

BENCHMARK(BM_Memset);
BENCHMARK(BM_FillLongword);
BENCHMARK(BM_Memcpy);
BENCHMARK(BM_MoveLongwordStreaming);
BENCHMARK(BM_MoveLongword);
BENCHMARK(BM_ScalarBlendLine);
BENCHMARK(BM_BlendLine);
BENCHMARK(BM_BlendColorLine);
BENCHMARK(BM_SubtractColorLine);
BENCHMARK_MAIN();
