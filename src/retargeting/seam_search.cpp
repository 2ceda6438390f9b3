// Both searches run one engine over "lines": the rows of the map for a
// vertical seam, its columns for a horizontal one, so the table of a
// horizontal search is kept transposed and its lines are contiguous. Path
// costs are 32-bit while the longest path provably stays below the sentinel,
// 64-bit beyond.
#include "retargeting/seam_search.h"

#include "graphics/errors.h"
#include "retargeting/energy.h"
#include "retargeting/instructionset.h"

#include <immintrin.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace Corvanith::Graphics::Retargeting {

namespace {

// The fewest lines whose path costs can reach INT32_MAX.
constexpr int32_t OverflowLines = int32_t((int64_t(INT32_MAX) + 764) / 765);

constinit std::atomic<int32_t> WideLines{OverflowLines};

// The pixel costs of one line: Count pixels Stride apart, or costs already
// gathered into an array.
struct TLineCosts {
    const TCorvColor* Pixels;
    int64_t Stride;
    // Entry CostsFirst's cost at Costs[0].
    const int32_t* Costs;
    int32_t CostsFirst = 0;
    int32_t operator[](int64_t i) const
    {
        return Costs != nullptr ? Costs[i - CostsFirst] : SeamCost(Pixels[i * Stride]);
    }
};

// The path cost of entry i: e(i) + min(Prev[i - 1], Prev[i], Prev[i + 1]);
// Prev[-1] and Prev[Count] hold the sentinel.
template <class TCost>
inline TCost PathCost(const TCost* Prev, TLineCosts Line, int32_t i)
{
    return TCost(TCost(Line[i]) + std::min(std::min(Prev[i - 1], Prev[i]), Prev[i + 1]));
}

// Cur[i] = PathCost(i) for i = From .. Count - 1.
template <class TCost>
void StepScalar(const TCost* Prev, TCost* Cur, TLineCosts Line, int32_t From, int32_t Count)
{
    for (int32_t i = From; i < Count; ++i)
        Cur[i] = PathCost(Prev, Line, i);
}

// The seam costs of eight pixels: maddubs adds blue + green and red + 0 into
// words, madd the two words.
__attribute__((target("avx2"))) inline __m256i SeamCosts8(__m256i Pixels)
{
    return _mm256_madd_epi16(_mm256_maddubs_epi16(Pixels, _mm256_set1_epi32(0x00010101)), _mm256_set1_epi16(1));
}

// The costs of entries i .. i + 7 of Line, costs or contiguous pixels.
__attribute__((target("avx2"))) inline __m256i LineCosts8(TLineCosts Line, int64_t i)
{
    if (Line.Costs != nullptr)
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Line.Costs + (i - Line.CostsFirst)));
    return SeamCosts8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(Line.Pixels + i)));
}

// The same eight entries at a time; Line is contiguous pixels or costs.
__attribute__((target("avx2"))) void StepAvx2(const int32_t* Prev, int32_t* Cur, TLineCosts Line, int32_t From,
                                              int32_t Count)
{
    int32_t i = From;
    for (; i + 8 <= Count; i += 8) {
        const __m256i e = LineCosts8(Line, i);
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Prev + i - 1));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Prev + i));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Prev + i + 1));
        const __m256i m = _mm256_min_epi32(_mm256_min_epi32(a, b), c);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Cur + i), _mm256_add_epi32(e, m));
    }
    StepScalar<int32_t>(Prev, Cur, Line, i, Count);
}

// The entries a table update finds changed on one line: First .. Last, none
// while First > Last.
struct TChanged {
    int32_t First = INT32_MAX;
    int32_t Last = -1;
    void Add(int32_t From, int32_t To)
    {
        First = std::min(First, From);
        Last = std::max(Last, To);
    }
};

// Row[i] = PathCost(i) again for i = First .. Last, noting the entries whose
// value changed.
template <class TCost>
void ConeScalar(const TCost* Prev, TCost* Row, TLineCosts Line, int32_t First, int32_t Last, TChanged& Changed)
{
    for (int32_t i = First; i <= Last; ++i) {
        const TCost v = PathCost(Prev, Line, i);
        if (v != Row[i]) {
            Row[i] = v;
            Changed.Add(i, i);
        }
    }
}

// The same eight entries at a time; Line is contiguous pixels or costs.
__attribute__((target("avx2"))) void ConeAvx2(const int32_t* Prev, int32_t* Row, TLineCosts Line, int32_t First,
                                              int32_t Last, TChanged& Changed)
{
    int32_t i = First;
    for (; i + 8 <= Last + 1; i += 8) {
        const __m256i e = LineCosts8(Line, i);
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Prev + i - 1));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Prev + i));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Prev + i + 1));
        const __m256i v = _mm256_add_epi32(e, _mm256_min_epi32(_mm256_min_epi32(a, b), c));
        const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Row + i));
        const auto changed =
            uint32_t(~_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(v, old)))) & 0xFFu;
        if (changed != 0) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(Row + i), v);
            Changed.Add(i + __builtin_ctz(changed), i + 31 - __builtin_clz(changed));
        }
    }
    ConeScalar<int32_t>(Prev, Row, Line, i, Last, Changed);
}

// Eight columns: one register of costs per row, and a tile small enough for the first-level cache.
constexpr int32_t TileColumns = 8;

// The costs of columns X .. X + Columns - 1 (at most eight) over rows From ..
// To - 1, each column's costs contiguous in Tile: the column-wise search then
// reads them eight at a time instead of gathering one pixel per row of the
// map. Full blocks of eight rows by eight columns are transposed in registers.
__attribute__((target("avx2"))) void FillCostTile(const TCorvSurface& Energy, int32_t X, int32_t Columns,
                                                  int32_t From, int32_t To, int32_t* Tile)
{
    const int64_t rows = To - From;
    int32_t y = From;
    if (Columns == TileColumns) {
        for (; y + 8 <= To; y += 8) {
            __m256i r[8];
            for (int k = 0; k < 8; ++k)
                r[k] = SeamCosts8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(Energy.GetPixelPtr(X, y + k))));
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
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(Tile + int64_t(c) * rows + (y - From)),
                                    _mm256_permute2x128_si256(u[c], u[c + 4], 0x20));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(Tile + int64_t(c + 4) * rows + (y - From)),
                                    _mm256_permute2x128_si256(u[c], u[c + 4], 0x31));
            }
        }
    }
    for (; y < To; ++y) {
        const TCorvColor* row = Energy.GetPixelPtr(X, y);
        for (int32_t c = 0; c < Columns; ++c)
            Tile[int64_t(c) * rows + (y - From)] = SeamCost(row[c]);
    }
}

// The costs of a map's columns for a column-wise pass, a tile at a time.
class TCostTile {
public:
    explicit TCostTile(const TCorvSurface& Energy)
        : FEnergy(Energy), FCosts(size_t(TileColumns) * size_t(Energy.Height()))
    {
    }

    // Column X's costs over at least rows From .. To - 1. A tile that does
    // not hold them is filled anew from column X on, over rows FillFrom ..
    // FillTo - 1 (which must hold From .. To - 1).
    TLineCosts Column(int32_t X, int32_t From, int32_t To, int32_t FillFrom, int32_t FillTo)
    {
        if (X < FX || X >= FX + FColumns || From < FFrom || To > FTo) {
            FX = X;
            FColumns = std::min(TileColumns, FEnergy.Width() - X);
            FFrom = FillFrom;
            FTo = FillTo;
            FillCostTile(FEnergy, FX, FColumns, FFrom, FTo, FCosts.data());
        }
        return TLineCosts{nullptr, 0, FCosts.data() + int64_t(X - FX) * (FTo - FFrom), FFrom};
    }

private:
    const TCorvSurface& FEnergy;
    std::vector<int32_t> FCosts;
    int32_t FX = 0;
    int32_t FColumns = 0;
    int32_t FFrom = 0;
    int32_t FTo = 0;
};

// Above every path cost: a path costs at most 765 per line.
template <class TCost>
constexpr TCost Sentinel = std::numeric_limits<TCost>::max();

// The kept table holds the even lines only: an odd line follows from the
// even line before it and the map, and is computed where it is needed, into
// Odd. So the table takes half a map, and a seam moves half as many entries.
// Even line l's path costs lie at Row(l)[0 .. Count - 1], the sentinel at
// Row(l)[-1] and Row(l)[Count]; Odd holds the sentinel at the same places.
template <class TCost>
struct TTable {
    TCost* Data;
    int64_t Stride;
    int32_t* First;
    TCost* Odd;
    int32_t& FirstOf(int32_t Line) const { return First[Line / 2]; }
    TCost* Row(int32_t Line) const { return Data + int64_t(Line / 2) * Stride + FirstOf(Line); }
};

// The number of lines the table keeps.
int32_t KeptLines(int32_t Lines) { return (Lines + 1) / 2; }

// The pixel costs of line L read from the map itself.
TLineCosts MapLine(const TCorvSurface& Energy, bool Vertical, int32_t L)
{
    return Vertical ? TLineCosts{Energy.GetPixelPtr(0, L), 1, nullptr}
                    : TLineCosts{Energy.GetPixelPtr(L, 0), Energy.Width(), nullptr};
}

// Every line's path costs.
template <class TCost>
void FullPass(const TTable<TCost>& Table, const TCorvSurface& Energy, bool Vertical, int32_t Lines, int32_t Count)
{
    const bool avx2 = std::is_same_v<TCost, int32_t> && UseAvx2();
    // Columns are read through cost tiles on the fast path.
    std::optional<TCostTile> tile;
    if (avx2 && !Vertical)
        tile.emplace(Energy);
    auto line = [&](int32_t l) { return tile ? tile->Column(l, 0, Count, 0, Count) : MapLine(Energy, Vertical, l); };
    for (int32_t l = 0; l < Lines; ++l) {
        TCost* cur = l % 2 == 0 ? Table.Row(l) : Table.Odd;
        cur[-1] = cur[Count] = Sentinel<TCost>;
        const TLineCosts costs = line(l);
        if (l == 0) {
            for (int32_t i = 0; i < Count; ++i)
                cur[i] = TCost(costs[i]);
            continue;
        }
        const TCost* prev = l % 2 == 0 ? Table.Odd : Table.Row(l - 1);
        if constexpr (std::is_same_v<TCost, int32_t>) {
            if (avx2) {
                StepAvx2(prev, cur, costs, 0, Count);
                continue;
            }
        }
        StepScalar<TCost>(prev, cur, costs, 0, Count);
    }
}

// The table of a map that lost (gained) one seam since the table was built
// for it: each kept line first moves the entries before or after the seam
// point, whichever are fewer, by one, so every entry sits at its pixel's new
// place. An entry then keeps its value unless its pixel's cost changed, its
// predecessors now lie differently around the seam, or a predecessor's value
// changed; only the range of those is computed again, and on a kept line it
// narrows again where the new values equal the old. An odd line has no old
// values to compare with: all of its range counts as changed, and it is
// computed afresh from the even line before it wherever the next line reads it.
template <class TCost>
void UpdatePass(const TTable<TCost>& Table, const TCorvSurface& Energy, bool Vertical, int32_t Lines,
                int32_t OldCount, bool Inserted, const std::vector<int32_t>& At)
{
    const int32_t count = Inserted ? OldCount + 1 : OldCount - 1;
    const bool avx2 = std::is_same_v<TCost, int32_t> && UseAvx2();
    // Columns are read through cost tiles on the fast path, each filled with
    // room for the cone to widen and drift over the next lines.
    std::optional<TCostTile> tile;
    if (avx2 && !Vertical)
        tile.emplace(Energy);
    auto costsOf = [&](int32_t l, int32_t First, int32_t Last) {
        if (!tile)
            return MapLine(Energy, Vertical, l);
        constexpr int32_t margin = 2 * TileColumns;
        return tile->Column(l, First, Last + 1, std::max(First - margin, 0),
                            std::min(Last + 1 + margin, count));
    };
    auto cone = [&](const TCost* Prev, TCost* Row, TLineCosts Costs, int32_t First, int32_t Last, TChanged& Changed) {
        if constexpr (std::is_same_v<TCost, int32_t>) {
            if (avx2) {
                ConeAvx2(Prev, Row, Costs, First, Last, Changed);
                return;
            }
        }
        ConeScalar(Prev, Row, Costs, First, Last, Changed);
    };
    // Odd line l's entries First .. Last, from the kept line before it.
    auto stepOdd = [&](int32_t l, int32_t First, int32_t Last) {
        const TCost* prev = Table.Row(l - 1);
        const TLineCosts costs = costsOf(l, First, Last);
        if constexpr (std::is_same_v<TCost, int32_t>) {
            if (avx2) {
                StepAvx2(prev, Table.Odd, costs, First, Last + 1);
                return;
            }
        }
        StepScalar(prev, Table.Odd, costs, First, Last + 1);
    };
    // The entries of line l that may change when line l - 1 changed in
    // ChangedFirst .. ChangedLast: new costs lie at s, s + 1 (and s + 2 after
    // an insertion), and the predecessors lie differently between this
    // line's seam point and the one before it.
    auto reach = [&](int32_t l, int32_t ChangedFirst, int32_t ChangedLast) {
        const int32_t s = At[size_t(l)];
        const int32_t before = l > 0 ? At[size_t(l - 1)] : s;
        int32_t first = std::min(s, before) - 1;
        int32_t last = std::max(s, before) + (Inserted ? 2 : 1);
        if (ChangedFirst <= ChangedLast) {
            first = std::min(first, ChangedFirst - 1);
            last = std::max(last, ChangedLast + 1);
        }
        return TChanged{std::max(first, 0), std::min(last, count - 1)};
    };
    Table.Odd[-1] = Table.Odd[count] = Sentinel<TCost>;
    TChanged changed;
    for (int32_t l = 0; l < Lines; l += 2) {
        const int32_t s = At[size_t(l)];
        TCost* row = Table.Row(l);
        // Entries 0 .. s stay before the seam point after an insertion, 0 .. s - 1 after a removal.
        const int32_t head = Inserted ? s + 1 : s;
        const int32_t tail = OldCount - 1 - s;
        int32_t& lineFirst = Table.FirstOf(l);
        const bool moveHead = head < tail ? (!Inserted || lineFirst > 1)
                                          : (Inserted && int64_t(lineFirst) + count >= Table.Stride);
        // The head moves up after a removal, the tail after an insertion.
        if (moveHead) {
            lineFirst += Inserted ? -1 : 1;
            if (Inserted)
                std::memmove(Table.Row(l), row, size_t(head) * sizeof(TCost));
            else
                MoveBackward(Table.Row(l), row, size_t(head) * sizeof(TCost));
            row = Table.Row(l);
        } else if (Inserted) {
            MoveBackward(row + head + 1, row + s + 1, size_t(tail) * sizeof(TCost));
        } else {
            std::memmove(row + head, row + s + 1, size_t(tail) * sizeof(TCost));
        }
        row[-1] = row[count] = Sentinel<TCost>;
        if (l == 0) {
            changed = reach(0, changed.First, changed.Last);
            const TLineCosts costs = costsOf(0, changed.First, changed.Last);
            for (int32_t i = changed.First; i <= changed.Last; ++i)
                row[i] = TCost(costs[i]);
        } else {
            const TChanged odd = reach(l - 1, changed.First, changed.Last);
            const TChanged range = reach(l, odd.First, odd.Last);
            stepOdd(l - 1, std::max(range.First - 1, 0), std::min(range.Last + 1, count - 1));
            changed = TChanged();
            cone(Table.Odd, row, costsOf(l, range.First, range.Last), range.First, range.Last, changed);
        }
        // An inserted entry had no old value to compare with.
        if (Inserted)
            changed.Add(s + 1, s + 1);
    }
    // The search starts from the last line: an odd one is computed in full.
    if (Lines % 2 == 0)
        stepOdd(Lines - 1, 0, count - 1);
}

constexpr int32_t TraceAhead = 16;

// The end point and the way back. The least final cost wins; the k-th of k
// equal ones replaces the choice with chance 1/k, so each of them ends up
// chosen with the same chance. Each step back takes the predecessor the
// table's rule took: the same line first, then -1, then +1.
template <class TCost>
void Trace(const TTable<TCost>& Table, const TCorvSurface& Energy, bool Vertical, int32_t Lines, int32_t Count,
           TCorvPointArray& Seam, const TRandomSource& Random)
{
    const TCost* last = (Lines - 1) % 2 == 0 ? Table.Row(Lines - 1) : Table.Odd;
    int32_t i = 0;
    TCost least = last[0];
    int32_t ties = 1;
    for (int32_t k = 1; k < Count; ++k) {
        const TCost v = last[k];
        if (v < least) {
            i = k;
            least = v;
            ties = 1;
        } else if (v == least) {
            ++ties;
            if (Random(ties) == 0)
                i = k;
        }
    }
    Seam.resize(size_t(Lines));
    for (int32_t k = 0; k < Lines; ++k) {
        const int32_t l = Lines - 1 - k;
        Seam[size_t(k)] = Vertical ? TCorvPoint{i, l} : TCorvPoint{l, i};
        if (l == 0)
            break;
        // The way back moves at most one entry per line: the entries it reads
        // TraceAhead lines on lie next to i. Fetched now, they are at hand
        // when it gets there instead of each costing a trip to memory.
        if (l > TraceAhead) {
            __builtin_prefetch(Table.Row(l - TraceAhead) + i);
            const TLineCosts ahead = MapLine(Energy, Vertical, l - TraceAhead);
            __builtin_prefetch(ahead.Pixels + int64_t(i) * ahead.Stride);
        }
        TCost a, b, c;
        if ((l - 1) % 2 == 0) {
            const TCost* prev = Table.Row(l - 1);
            a = prev[i - 1];
            b = prev[i];
            c = prev[i + 1];
        } else {
            // The three entries of the odd line, from the kept line before it.
            const TCost* kept = Table.Row(l - 2);
            const TLineCosts costs = MapLine(Energy, Vertical, l - 1);
            auto entry = [&](int32_t j) { return j < 0 || j >= Count ? Sentinel<TCost> : PathCost(kept, costs, j); };
            a = entry(i - 1);
            b = entry(i);
            c = entry(i + 1);
        }
        TCost m = a;
        if (b <= m)
            m = b;
        if (c <= m)
            m = c;
        i += m == b ? 0 : (m == a ? -1 : 1);
    }
}

} // namespace

int32_t WidePathCostLines() { return WideLines.load(std::memory_order_relaxed); }

void SetWidePathCostLines(int32_t Lines)
{
    WideLines.store(std::min(Lines, OverflowLines), std::memory_order_relaxed);
}

void TMappedMemory::Assign(size_t Bytes)
{
    Release();
    if (Bytes == 0)
        return;
    void* p = mmap(nullptr, Bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw EOutOfMemory("Out of memory for a seam search table of " + std::to_string(Bytes) + " bytes");
    FData = p;
    FSize = Bytes;
}

void TMappedMemory::Release()
{
    if (FData != nullptr)
        munmap(FData, FSize);
    FData = nullptr;
    FSize = 0;
}

void TSeamSearch::Record(const TCorvPointArray& Seam, TEdit Edit)
{
    FEdit = TEdit::None;
    if (int64_t(Seam.size()) != FLines)
        return;
    FEditAt.resize(size_t(FLines));
    for (int32_t k = 0; k < FLines; ++k) {
        const TCorvPoint& p = Seam[size_t(k)];
        const int32_t l = FLines - 1 - k;
        const int32_t along = FVertical ? p.Y : p.X;
        const int32_t across = FVertical ? p.X : p.Y;
        if (along != l || across < 0 || across >= FCount)
            return;
        FEditAt[size_t(l)] = across;
    }
    FEdit = Edit;
}

template <class TCost>
void TSeamSearch::Run(const TCorvSurface& Energy, TEdit Edit, TCorvPointArray& Seam, const TRandomSource& Random)
{
    const int32_t count = FVertical ? Energy.Width() : Energy.Height();
    const int32_t kept = KeptLines(FLines);
    bool update = Edit != TEdit::None && count == FCount + (Edit == TEdit::Inserted ? 1 : -1) &&
                  FFirst.size() == size_t(kept);
    // An insertion needs room for one more entry on one side of every kept line.
    for (int32_t k = 0; update && Edit == TEdit::Inserted && k < kept; ++k)
        update = FFirst[size_t(k)] > 1 || int64_t(FFirst[size_t(k)]) + count < FStride;
    if (!update) {
        // Room on both sides for a run of insertions before the lines must be laid out anew.
        const int32_t room = std::max(count / 32, 4);
        FStride = int64_t(count) + 2 + 2 * int64_t(room);
        FFirst.assign(size_t(kept), 1 + room);
        // The kept lines and the odd line.
        const size_t bytes = (size_t(kept) + 1) * size_t(FStride) * sizeof(TCost);
        if (FCosts.Size() < bytes)
            FCosts.Assign(bytes);
    }
    auto* costs = static_cast<TCost*>(FCosts.Data());
    const TTable<TCost> table{costs, FStride, FFirst.data(), costs + int64_t(kept) * FStride + 1};
    if (update)
        UpdatePass(table, Energy, FVertical, FLines, FCount, Edit == TEdit::Inserted, FEditAt);
    else
        FullPass(table, Energy, FVertical, FLines, count);
    FCount = count;
    Trace(table, Energy, FVertical, FLines, count, Seam, Random);
}

void TSeamSearch::Find(const TCorvSurface& Energy, bool Vertical, TCorvPointArray& Seam, const TRandomSource& Random)
{
    const int32_t lines = Vertical ? Energy.Height() : Energy.Width();
    const int32_t count = Vertical ? Energy.Width() : Energy.Height();
    const bool wide = lines >= WidePathCostLines();
    // An edit counts only for the table of the same lines.
    TEdit edit = std::exchange(FEdit, TEdit::None);
    if (Vertical != FVertical || lines != FLines || wide != FWide)
        edit = TEdit::None;
    FVertical = Vertical;
    FLines = lines;
    FWide = wide;
    if (lines == 0 || count == 0) {
        FLines = FCount = 0;
        Seam.clear();
        return;
    }
    if (wide)
        Run<int64_t>(Energy, edit, Seam, Random);
    else
        Run<int32_t>(Energy, edit, Seam, Random);
}

void FindHorizontalSeam(const TCorvSurface& Energy, TCorvPointArray& Seam, const TRandomSource& Random)
{
    TSeamSearch().Find(Energy, false, Seam, Random);
}

void FindVerticalSeam(const TCorvSurface& Energy, TCorvPointArray& Seam, const TRandomSource& Random)
{
    TSeamSearch().Find(Energy, true, Seam, Random);
}

} // namespace Corvanith::Graphics::Retargeting
