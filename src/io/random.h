#pragma once
// The process-wide pseudo-random generator: seeded once at start-up, used on
// the main thread only.
#include <cstdint>

namespace Corvanith::Utils {

// Seeds the generator from the clock and the system's entropy source.
void Randomize();
// Seeds the generator with a fixed value, for repeatable sequences.
void RandSeed(uint32_t Seed);
// A number uniform in [0, K); 0 when K is 0.
uint32_t Random(uint32_t k);

} // namespace Corvanith::Utils
