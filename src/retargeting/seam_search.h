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

// Searches over at least this many lines keep 64-bit path costs: from there
// on 765 per line could reach the 32-bit sentinel. Tests lower it so that
// small maps take the 64-bit search; it is never raised beyond that point.
int32_t WidePathCostLines();
void SetWidePathCostLines(int32_t Lines);

// Zeroed memory mapped from the system, for a search's kept table: released,
// its pages go back at once, where a freed heap block of that size may stay
// resident beside the next, larger table.
class TMappedMemory {
public:
    TMappedMemory() = default;
    TMappedMemory(const TMappedMemory&) = delete;
    TMappedMemory& operator=(const TMappedMemory&) = delete;
    ~TMappedMemory() { Release(); }

    // Bytes zeroed bytes; what was held is released first. Throws
    // EOutOfMemory, holding nothing, when the system refuses.
    void Assign(size_t Bytes);
    void* Data() const { return FData; }
    size_t Size() const { return FSize; }

private:
    void Release();

    void* FData = nullptr;
    size_t FSize = 0;
};

// A search that keeps its table of path costs from one seam to the next.
// Told that the map lost or gained one seam since the last search, and only
// that, it recomputes just the cone of the table that the changed pixels
// reach, and so finds the same seam with the same draws as a full search;
// otherwise it runs the full search. The table holds the path costs of every
// second line only: the seam is traced back by the same predecessor rule that
// built it.
class TSeamSearch {
public:
    // Vertical: one point per row, from the bottom row to the top; otherwise
    // one point per column, from the last column to column 0. A map one line
    // across gives the one end point the tie rule picks; an empty map gives
    // an empty seam.
    void Find(const TCorvSurface& Energy, bool Vertical, TCorvPointArray& Seam,
              const TRandomSource& Random = Utils::Random);

    // The map of the last search lost Seam and its energies were recomputed
    // beside it: the pixels at and after each seam point.
    void SeamRemoved(const TCorvPointArray& Seam) { Record(Seam, TEdit::Removed); }
    // The map of the last search gained Seam and was given new costs on the
    // seam pixel and the two after it.
    void SeamInserted(const TCorvPointArray& Seam) { Record(Seam, TEdit::Inserted); }
    // The map changed in any other way, or is another one: the next search runs in full.
    void Reset() { FEdit = TEdit::None; }

private:
    enum class TEdit { None, Removed, Inserted };

    void Record(const TCorvPointArray& Seam, TEdit Edit);
    template <class TCost>
    void Run(const TCorvSurface& Energy, TEdit Edit, TCorvPointArray& Seam, const TRandomSource& Random);

    bool FVertical = true;
    bool FWide = false;
    int32_t FLines = 0;
    int32_t FCount = 0;
    int64_t FStride = 0;
    TEdit FEdit = TEdit::None;
    // Per line, the seam's place across it, of the edit not yet searched.
    std::vector<int32_t> FEditAt;
    // The table keeps the even lines; line 2k's entry 0 lies at k * FStride +
    // FFirst[k], with the sentinel on both sides and room to spare on both:
    // an edit moves the shorter part of each kept line. One more line of
    // FStride after them holds an odd line, computed where it is read.
    std::vector<int32_t> FFirst;
    // 32-bit path costs, or 64-bit ones (FWide).
    TMappedMemory FCosts;
};

// One full search each, for callers that search a map once.
void FindHorizontalSeam(const TCorvSurface& Energy, TCorvPointArray& Seam,
                        const TRandomSource& Random = Utils::Random);
void FindVerticalSeam(const TCorvSurface& Energy, TCorvPointArray& Seam, const TRandomSource& Random = Utils::Random);

} // namespace Corvanith::Graphics::Retargeting
