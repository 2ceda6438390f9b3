#pragma once
// Damaged copies of good files for the readers' robustness tests, from a
// fixed seed so that a failure comes back at each run: std::mt19937's
// outputs are the same everywhere, unlike the distributions'.
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace Corvanith::Tests {

class TMutator {
public:
    // Edges: values that sit on the edges of a reader's checks (counts,
    // offsets near 2^32, types), written over the file's fields.
    TMutator(uint32_t Seed, std::vector<uint32_t> Edges) : FRandom(Seed), FEdges(std::move(Edges)) {}

    // A number below Bound; 0 for a Bound of 0.
    size_t Below(size_t Bound) { return Bound == 0 ? 0 : size_t(FRandom() % Bound); }

    // One change at a random place of Bytes: a bit flipped, a byte set, an
    // edge value (or the edge plus the file's size, an offset near its end)
    // over two or four bytes in either order, the end cut off, a run of up
    // to 16 bytes inserted, or a run removed.
    void Mutate(std::vector<uint8_t>& Bytes)
    {
        const size_t at = Below(Bytes.size());
        switch (Below(6)) {
        case 0:
            if (!Bytes.empty())
                Bytes[at] ^= uint8_t(1 << Below(8));
            break;
        case 1:
            if (!Bytes.empty())
                Bytes[at] = uint8_t(FRandom());
            break;
        case 2: {
            const uint32_t value = FEdges[Below(FEdges.size())] + uint32_t(Bytes.size() * Below(2));
            const size_t width = Below(2) ? 2 : 4;
            const bool big = Below(2);
            for (size_t k = 0; k < width && at + k < Bytes.size(); ++k)
                Bytes[at + k] = uint8_t(value >> 8 * (big ? width - 1 - k : k));
            break;
        }
        case 3:
            Bytes.resize(Below(Bytes.size() + 1));
            break;
        case 4:
            Bytes.insert(Bytes.begin() + ptrdiff_t(at), Below(16) + 1, uint8_t(FRandom()));
            break;
        default:
            if (!Bytes.empty()) {
                const size_t count = 1 + Below(Bytes.size() - at);
                Bytes.erase(Bytes.begin() + ptrdiff_t(at), Bytes.begin() + ptrdiff_t(at + count));
            }
            break;
        }
    }

private:
    std::mt19937 FRandom;
    std::vector<uint32_t> FEdges;
};

} // namespace Corvanith::Tests
