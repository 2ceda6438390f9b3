#pragma once
// The process-wide pseudo-random generator. Start-up seeds it once from the
// clock; tests and tools reseed it to make a run repeatable. Main thread only.
#include <cstdint>

namespace Corvanith::Utils {

// Seeds the generator from the high-resolution clock.
void Randomize();

void RandSeed(uint32_t Seed);

// A draw from 0 to Range - 1, each equally likely for small ranges; 0 when
// Range is 0 or less.
int32_t Random(int32_t Range);

} // namespace Corvanith::Utils
