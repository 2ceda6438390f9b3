#include "io/random.h"

#include <chrono>
#include <random>

namespace Corvanith::Utils {

namespace {

uint32_t ClockSeed()
{
    return uint32_t(std::chrono::high_resolution_clock::now().time_since_epoch().count());
}

std::mt19937& Generator()
{
    static std::mt19937 generator(ClockSeed());
    return generator;
}

} // namespace

void Randomize() { Generator().seed(ClockSeed()); }

void RandSeed(uint32_t Seed) { Generator().seed(Seed); }

int32_t Random(int32_t Range)
{
    if (Range <= 0)
        return 0;
    // Multiply-shift keeps the draw independent of the standard library's
    // distribution code, so a seed gives the same run everywhere.
    return int32_t((uint64_t(Generator()()) * uint32_t(Range)) >> 32);
}

} // namespace Corvanith::Utils
