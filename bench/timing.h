#pragma once
// The benchmarks' clock, and the floor their times are set against: the
// least of a few memmoves of one plane between two buffers already touched.
// Reported beside a time as its ratio, the floor lets figures from machines
// of different memory speed be compared.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

namespace CorvanithBench {

inline double MsSince(std::chrono::steady_clock::time_point Start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start).count();
}

// Runs Run as one manually timed iteration of State; returns its milliseconds.
template <class TRun>
double TimeIteration(benchmark::State& State, TRun&& Run)
{
    const auto start = std::chrono::steady_clock::now();
    Run();
    const double ms = MsSince(start);
    State.SetIterationTime(ms / 1000);
    return ms;
}

inline double MemmoveMs(size_t Bytes)
{
    std::vector<uint8_t> a(Bytes, 1), b(Bytes, 2);
    double best = 1e9;
    for (int k = 0; k < 5; ++k) {
        const auto start = std::chrono::steady_clock::now();
        std::memmove(k % 2 ? a.data() : b.data(), k % 2 ? b.data() : a.data(), Bytes);
        best = std::min(best, MsSince(start));
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
    }
    return best;
}

} // namespace CorvanithBench
