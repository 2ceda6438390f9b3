// Both searches run one engine over "lines": the rows of the map for a
// vertical seam, its columns for a horizontal one. Each line's path costs
// depend only on the line before, so two cost lines and the direction table
// give the same result as a full cost table. Path costs are 32-bit while the
// longest path provably stays below the sentinel, 64-bit beyond.
#include "retargeting/seam_search.h"

#include "retargeting/energy.h"
#include "retargeting/instructionset.h"

#include <immintrin.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

namespace Corvanith::Graphics::Retargeting {

namespace {

// The pixel costs of one line: Count pixels Stride apart, or costs already
// gathered into an array.
struct TLineCosts {
    const TCorvColor* Pixels;
    int64_t Stride;
    const int32_t* Costs;
    int32_t operator[](int64_t i) const { return Costs != nullptr ? Costs[i] : SeamCost(Pixels[i * Stride]); }
};

// Cur[i] = e(i) + min(Prev[i - 1], Prev[i], Prev[i + 1]) with the direction
// of the chosen predecessor: 0 for i, -1 for i - 1, +1 for i + 1, preferred in
// that order. Prev[-1] and Prev[Count] hold the sentinel.
template <class TCost>
void StepScalar(const TCost* Prev, TCost* Cur, int8_t* Dir, TLineCosts Line, int32_t From, int32_t Count)
{
    for (int32_t i = From; i < Count; ++i) {
        const TCost a = Prev[i - 1];
        const TCost b = Prev[i];
        const TCost c = Prev[i + 1];
        TCost m = a;
        if (b <= m)
            m = b;
        if (c <= m)
            m = c;
        Cur[i] = TCost(Line[i]) + m;
        Dir[i] = m == b ? 0 : (m == a ? -1 : 1);
    }
}

// The same eight entries at a time; Line is contiguous pixels or costs.
__attribute__((target("avx2"))) void StepAvx2(const int32_t* Prev, int32_t* Cur, int8_t* Dir, TLineCosts Line,
                                              int32_t Count)
{
    // maddubs adds blue + green and red + 0 into words, madd the two words.
    const __m256i channelWeights = _mm256_set1_epi32(0x00010101);
    const __m256i wordOnes = _mm256_set1_epi16(1);
    const __m256i one = _mm256_set1_epi32(1);
    int32_t i = 0;
    for (; i + 8 <= Count; i += 8) {
        __m256i e;
        if (Line.Costs != nullptr) {
            e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Line.Costs + i));
        } else {
            const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Line.Pixels + i));
            e = _mm256_madd_epi16(_mm256_maddubs_epi16(pixels, channelWeights), wordOnes);
        }
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Prev + i - 1));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Prev + i));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Prev + i + 1));
        const __m256i m = _mm256_min_epi32(_mm256_min_epi32(a, b), c);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Cur + i), _mm256_add_epi32(e, m));
        // m == b -> 0; else m == a -> -1; else +1.
        const __m256i isA = _mm256_cmpeq_epi32(m, a);
        const __m256i isB = _mm256_cmpeq_epi32(m, b);
        const __m256i dir = _mm256_andnot_si256(isB, _mm256_or_si256(isA, one));
        const __m256i words = _mm256_packs_epi32(dir, dir);
        const __m256i bytes = _mm256_packs_epi16(words, words);
        const uint32_t low = uint32_t(_mm_cvtsi128_si32(_mm256_castsi256_si128(bytes)));
        const uint32_t high = uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
        const uint64_t packed = uint64_t(low) | (uint64_t(high) << 32);
        __builtin_memcpy(Dir + i, &packed, 8);
    }
    StepScalar<int32_t>(Prev, Cur, Dir, Line, i, Count);
}

// Eight columns: one register of costs per row, and a tile small enough for the first-level cache.
constexpr int32_t TileColumns = 8;

// The costs of columns X .. X + Columns - 1 (at most eight), each column's
// costs contiguous in Tile: the column-wise search then reads them eight at
// a time instead of one pixel per row of the map. Full blocks of eight rows
// by eight columns are transposed in registers.
__attribute__((target("avx2"))) void FillCostTile(const TCorvSurface& Energy, int32_t X, int32_t Columns,
                                                  int32_t* Tile)
{
    const int32_t h = Energy.Height();
    int32_t y = 0;
    if (Columns == TileColumns) {
        const __m256i channelWeights = _mm256_set1_epi32(0x00010101);
        const __m256i wordOnes = _mm256_set1_epi16(1);
        for (; y + 8 <= h; y += 8) {
            __m256i r[8];
            for (int k = 0; k < 8; ++k) {
                const __m256i pixels =
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Energy.GetPixelPtr(X, y + k)));
                r[k] = _mm256_madd_epi16(_mm256_maddubs_epi16(pixels, channelWeights), wordOnes);
            }
            __m256i t[8], u[8];
            for (int k = 0; k < 8; k += 2) {
                t[k] = _mm256_unpacklo_epi32(r[k], r[k + 1]);
                t[k + 1] = _mm256_unpackhi_epi32(r[k], r[k + 1]);
            }
            for (int k = 0; k < 8; k += 4) {
                u[k] = _mm256_unpacklo_epi64(t[k], t[k + 2]);
                u[k + 1] = _mm256_unpackhi_epi64(t[k], t[k + 2]);
                u[k + 2] = _mm256_unpacklo_epi64(t[k + 1], t[k + 3]);
                u[k + 3] = _mm256_unpackhi_epi64(t[k + 1], t[k + 3]);
            }
            for (int c = 0; c < 4; ++c) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(Tile + int64_t(c) * h + y),
                                    _mm256_permute2x128_si256(u[c], u[c + 4], 0x20));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(Tile + int64_t(c + 4) * h + y),
                                    _mm256_permute2x128_si256(u[c], u[c + 4], 0x31));
            }
        }
    }
    for (; y < h; ++y) {
        const TCorvColor* row = Energy.GetPixelPtr(X, y);
        for (int32_t c = 0; c < Columns; ++c)
            Tile[int64_t(c) * h + y] = SeamCost(row[c]);
    }
}

// Fills the direction table line by line and returns the chosen end point in
// the last line.
template <class TCost>
int32_t RunLines(const TCorvSurface& Energy, bool Vertical, int32_t Lines, int32_t Count, int8_t* Dirs,
                 const TRandomSource& Random)
{
    const bool avx2 = std::is_same_v<TCost, int32_t> && UseAvx2();
    // Columns are read through cost tiles on the fast path.
    std::vector<int32_t> tile(avx2 && !Vertical ? size_t(TileColumns) * size_t(Count) : 0);
    int32_t tileFirst = -TileColumns;
    auto line = [&](int32_t l) {
        if (Vertical)
            return TLineCosts{Energy.GetPixelPtr(0, l), 1, nullptr};
        if (!avx2)
            return TLineCosts{Energy.GetPixelPtr(l, 0), Energy.Width(), nullptr};
        if (l >= tileFirst + TileColumns) {
            tileFirst = l;
            FillCostTile(Energy, l, std::min(TileColumns, Lines - l), tile.data());
        }
        return TLineCosts{nullptr, 0, tile.data() + int64_t(l - tileFirst) * Count};
    };
    // Above every path cost: a path costs at most 765 per line.
    constexpr TCost sentinel = std::numeric_limits<TCost>::max();
    std::vector<TCost> buffers(2 * (size_t(Count) + 2));
    TCost* prev = buffers.data() + 1;
    TCost* cur = prev + Count + 2;
    prev[-1] = prev[Count] = cur[-1] = cur[Count] = sentinel;
    const TLineCosts first = line(0);
    for (int32_t i = 0; i < Count; ++i)
        prev[i] = TCost(first[i]);
    for (int32_t l = 1; l < Lines; ++l) {
        int8_t* dir = Dirs + int64_t(l) * Count;
        if constexpr (std::is_same_v<TCost, int32_t>) {
            if (avx2)
                StepAvx2(prev, cur, dir, line(l), Count);
            else
                StepScalar<TCost>(prev, cur, dir, line(l), 0, Count);
        } else {
            StepScalar<TCost>(prev, cur, dir, line(l), 0, Count);
        }
        std::swap(prev, cur);
    }
    // The least final cost wins; the k-th of k equal ones replaces the choice
    // with chance 1/k, so each of them ends up chosen with the same chance.
    int32_t best = 0;
    TCost least = prev[0];
    int32_t ties = 1;
    for (int32_t i = 1; i < Count; ++i) {
        const TCost v = prev[i];
        if (v < least) {
            best = i;
            least = v;
            ties = 1;
        } else if (v == least) {
            ++ties;
            if (Random(ties) == 0)
                best = i;
        }
    }
    return best;
}

void FindSeam(const TCorvSurface& Energy, TCorvPointArray& Seam, bool Vertical, const TRandomSource& Random,
              TSeamSearchBuffers& Buffers)
{
    const int32_t lines = Vertical ? Energy.Height() : Energy.Width();
    const int32_t count = Vertical ? Energy.Width() : Energy.Height();
    if (lines == 0 || count == 0) {
        Seam.clear();
        return;
    }
    // Line 0 has no predecessors; its directions are never read.
    Buffers.Directions.resize(size_t(lines) * size_t(count));
    int8_t* dirs = Buffers.Directions.data();
    const bool narrow = int64_t(765) * lines < INT32_MAX;
    int32_t i = narrow ? RunLines<int32_t>(Energy, Vertical, lines, count, dirs, Random)
                       : RunLines<int64_t>(Energy, Vertical, lines, count, dirs, Random);
    Seam.resize(size_t(lines));
    for (int32_t k = 0; k < lines; ++k) {
        const int32_t l = lines - 1 - k;
        Seam[size_t(k)] = Vertical ? TCorvPoint{i, l} : TCorvPoint{l, i};
        if (l > 0)
            i += dirs[size_t(l) * size_t(count) + size_t(i)];
    }
}

} // namespace

void FindHorizontalSeam(const TCorvSurface& Energy, TCorvPointArray& Seam, const TRandomSource& Random,
                        TSeamSearchBuffers* Buffers)
{
    TSeamSearchBuffers local;
    FindSeam(Energy, Seam, false, Random, Buffers != nullptr ? *Buffers : local);
}

void FindVerticalSeam(const TCorvSurface& Energy, TCorvPointArray& Seam, const TRandomSource& Random,
                      TSeamSearchBuffers* Buffers)
{
    TSeamSearchBuffers local;
    FindSeam(Energy, Seam, true, Random, Buffers != nullptr ? *Buffers : local);
}

} // namespace Corvanith::Graphics::Retargeting
