#pragma once
// The seam search: dynamic programming over an energy map for the connected
// seam of least total cost (the sum of its pixels' seam costs). Among equally
// cheap predecessors the same row (column) wins, then the one above (left),
// then the one below (right); among equally cheap end points each is chosen
// with the same chance, and a random number is drawn only at such a tie.
#include "graphics/surface.h"
#include "graphics/types.h"
#include "io/random.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace Corvanith::Graphics::Retargeting {

// A draw from 0 to Range - 1. The process generator by default; tests script it.
using TRandomSource = std::function<uint32_t(uint32_t Range)>;

// Working memory of the search, kept by a caller that searches again and
// again (the resizer), so that a run of seams reuses its tables instead of
// allocating them for every seam. Its contents mean nothing between searches.
struct TSeamSearchBuffers {
    std::vector<int8_t> Directions;
};

// Seam gets one point per column, from the last column to column 0. A map one
// column wide gives the one end point the tie rule picks; an empty map gives
// an empty seam. Buffers, when given, lends the search its tables.
void FindHorizontalSeam(const TCorvSurface& Energy, TCorvPointArray& Seam,
                        const TRandomSource& Random = Utils::Random, TSeamSearchBuffers* Buffers = nullptr);

// Seam gets one point per row, from the bottom row to the top.
void FindVerticalSeam(const TCorvSurface& Energy, TCorvPointArray& Seam,
                      const TRandomSource& Random = Utils::Random, TSeamSearchBuffers* Buffers = nullptr);

} // namespace Corvanith::Graphics::Retargeting
