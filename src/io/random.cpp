#include "io/random.h"

#include <chrono>
#include <random>

namespace Corvanith::Utils {

namespace {

std::mt19937& Generator()
{
    static std::mt19937 gen;
    return gen;
}

} // namespace

void Randomize()
{
    std::random_device device;
    const auto ticks = uint32_t(std::chrono::steady_clock::now().time_since_epoch().count());
    Generator().seed(device() ^ ticks);
}

void RandSeed(uint32_t Seed) { Generator().seed(Seed); }

uint32_t Random(uint32_t k) { return uint32_t((uint64_t(Generator()()) * k) >> 32); }

} // namespace Corvanith::Utils
