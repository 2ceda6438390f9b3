#pragma once
// The floor a plane-wide step is measured against: the least of a few
// memmoves of Bytes between two buffers already touched. Reported beside a
// time as its ratio, it lets figures from machines of different memory speed
// be compared.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

namespace CorvanithBench {

inline double MemmoveMs(size_t Bytes)
{
    std::vector<uint8_t> a(Bytes, 1), b(Bytes, 2);
    double best = 1e9;
    for (int k = 0; k < 5; ++k) {
        const auto start = std::chrono::steady_clock::now();
        std::memmove(k % 2 ? a.data() : b.data(), k % 2 ? b.data() : a.data(), Bytes);
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
    }
    return best;
}

} // namespace CorvanithBench
