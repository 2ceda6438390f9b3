// Seam removal and insertion at the pixel level: pixels move whole, nothing
// is blended. Rows above and below the band a horizontal seam spans move as
// whole blocks; within the band only the columns the seam crosses at a row
// are merged pixel by pixel.
#include "graphics/surface.h"

#include "graphics/errors.h"

#include <emmintrin.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace Corvanith::Graphics {

namespace {

// Every point is checked before a pixel moves, so a bad seam changes nothing.
void CheckSeam(const TCorvPointArray& Seam, int32_t Length, int32_t AcrossLimit, bool Horizontal,
               const char* Operation)
{
    if (int64_t(Seam.size()) != Length)
        throw EArgumentError(std::string(Operation) + ": seam of " + std::to_string(Seam.size()) +
                             " points for a length of " + std::to_string(Length));
    for (const TCorvPoint& p : Seam) {
        const int32_t across = Horizontal ? p.Y : p.X;
        const int32_t along = Horizontal ? p.X : p.Y;
        if (across < 0 || across >= AcrossLimit || along < 0 || along >= Length)
            throw EArgumentError(std::string(Operation) + ": seam point outside the surface");
    }
}

struct TSpan {
    int32_t Min;
    int32_t Max;
};

TSpan AcrossSpan(const TCorvPointArray& Seam, bool Horizontal)
{
    TSpan s{INT32_MAX, INT32_MIN};
    for (const TCorvPoint& p : Seam) {
        const int32_t v = Horizontal ? p.Y : p.X;
        s.Min = std::min(s.Min, v);
        s.Max = std::max(s.Max, v);
    }
    return s;
}

// A horizontal seam's row per column, and the least and greatest of them per
// block of sixteen columns (one cache line of pixels): a band row leaves a
// block whose seam lies wholly below it untouched and copies a block whose
// seam lies wholly at or above it, so only the blocks the seam crosses there
// are merged pixel by pixel.
class TSeamRows {
public:
    static constexpr int64_t BlockPixels = 16;

    explicit TSeamRows(int64_t Width)
        : FY(size_t(Width), -1), FBlocks(size_t((Width + BlockPixels - 1) / BlockPixels))
    {
    }

    int32_t& operator[](int64_t X) { return FY[size_t(X)]; }

    // Once every column has its row.
    void SpanBlocks()
    {
        for (size_t b = 0; b < FBlocks.size(); ++b) {
            const auto first = FY.begin() + int64_t(b) * BlockPixels;
            const auto [lo, hi] = std::minmax_element(first, std::min(first + BlockPixels, FY.end()));
            FBlocks[b] = TSpan{*lo, *hi};
        }
    }

    // Dest[x] := A[x] where the seam row of column x is at most Limit.
    void TakeAtOrBelow(TCorvColor* Dest, const TCorvColor* A, int32_t Limit) const
    {
        const int64_t count = int64_t(FY.size());
        const __m128i limit = _mm_set1_epi32(Limit);
        int64_t x = 0;
        while (x < count) {
            const TSpan block = FBlocks[size_t(x / BlockPixels)];
            const int64_t blockEnd = std::min(x + BlockPixels, count);
            if (block.Min > Limit) {
                x = blockEnd;
            } else if (block.Max <= Limit) {
                // A run of whole blocks goes in one library copy.
                int64_t end = blockEnd;
                while (end < count && FBlocks[size_t(end / BlockPixels)].Max <= Limit)
                    end = std::min(end + BlockPixels, count);
                std::memcpy(Dest + x, A + x, size_t(end - x) * 4);
                x = end;
            } else {
                for (; x + 4 <= blockEnd; x += 4) {
                    const __m128i keep =
                        _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(FY.data() + x)), limit);
                    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(A + x));
                    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dest + x));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dest + x),
                                     _mm_or_si128(_mm_and_si128(keep, d), _mm_andnot_si128(keep, a)));
                }
                for (; x < blockEnd; ++x)
                    if (FY[size_t(x)] <= Limit)
                        Dest[x] = A[x];
            }
        }
    }

private:
    std::vector<int32_t> FY;
    std::vector<TSpan> FBlocks;
};

} // namespace

void MoveBackward(void* Dest, const void* Source, size_t Bytes)
{
    auto* dest = static_cast<uint8_t*>(Dest);
    const auto* source = static_cast<const uint8_t*>(Source);
    size_t n = Bytes;
    for (; n >= 64; n -= 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + n - 16));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + n - 32));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + n - 48));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + n - 64));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + n - 16), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + n - 32), b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + n - 48), c);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + n - 64), d);
    }
    // The first bytes lie below everything written so far; short runs are quick in the library.
    std::memmove(dest, source, n);
}

void TCorvSurface::RemoveHorizontalSeam(const TCorvPointArray& Seam)
{
    if (FHeight == 0)
        throw EArgumentError("RemoveHorizontalSeam: no row to remove");
    CheckSeam(Seam, FWidth, FHeight, true, "RemoveHorizontalSeam");
    const int32_t newHeight = FHeight - 1;
    if (FWidth > 0) {
        const TSpan span = AcrossSpan(Seam, true);
        TCorvColor* bits = FBits.get();
        const int64_t w = FWidth;
        // Rows from the span's top to its bottom: only the pixels at or below
        // their column's seam pixel take the pixel below them.
        const int32_t bandEnd = std::min(span.Max, newHeight);
        if (span.Min < bandEnd) {
            // Removals take the column from the index: point i lies in column W - 1 - i.
            TSeamRows seamY(w);
            for (int64_t x = 0; x < w; ++x)
                seamY[x] = Seam[size_t(w - 1 - x)].Y;
            seamY.SpanBlocks();
            for (int32_t r = span.Min; r < bandEnd; ++r) {
                TCorvColor* row = bits + r * w;
                seamY.TakeAtOrBelow(row, row + w, r);
            }
        }
        // Below the span every row moves up whole.
        if (span.Max < newHeight)
            std::memmove(bits + span.Max * w, bits + (span.Max + 1) * w,
                         size_t(newHeight - span.Max) * size_t(w) * 4);
    }
    FHeight = newHeight;
    FreeGraphicsCache();
}

void TCorvSurface::RemoveVerticalSeam(const TCorvPointArray& Seam)
{
    if (FWidth == 0)
        throw EArgumentError("RemoveVerticalSeam: no column to remove");
    CheckSeam(Seam, FHeight, FWidth, false, "RemoveVerticalSeam");
    const int32_t newWidth = FWidth - 1;
    TCorvColor* bits = FBits.get();
    // Rows are compacted from the top: each new row starts y pixels left of its
    // old place, and both moves run low to high, so nothing is overwritten
    // before it has moved.
    for (int32_t y = 0; y < FHeight; ++y) {
        const int32_t x = Seam[size_t(FHeight - 1 - y)].X;
        const TCorvColor* oldRow = bits + int64_t(y) * FWidth;
        TCorvColor* newRow = bits + int64_t(y) * newWidth;
        // The library move: it picks the widest copy the processor has.
        if (newRow != oldRow)
            std::memmove(newRow, oldRow, size_t(x) * 4);
        std::memmove(newRow + x, oldRow + x + 1, size_t(newWidth - x) * 4);
    }
    FWidth = newWidth;
    FStride = newWidth * 4;
    FreeGraphicsCache();
}

// Insertions spread the pixels in place, in a buffer grown first when it has
// no room (it keeps the room a removal or an earlier growth left), with room
// to spare; a run of insertions so touches fresh memory only now and then.
// A seam that names a line twice goes into a new buffer instead. Either way
// the inserted pixel is left for the caller to write.

void TCorvSurface::InsertHorizontalSeam(const TCorvPointArray& Seam)
{
    CheckSeam(Seam, FWidth, FHeight, true, "InsertHorizontalSeam");
    if (FHeight == INT32_MAX)
        throw ERangeError("InsertHorizontalSeam: the surface cannot grow higher");
    const int32_t newHeight = FHeight + 1;
    if (FWidth > 0) {
        const TSpan span = AcrossSpan(Seam, true);
        const int64_t w = FWidth;
        TSeamRows seamY(w);
        bool eachOnce = true;
        for (const TCorvPoint& p : Seam) {
            eachOnce = eachOnce && seamY[p.X] < 0;
            seamY[p.X] = p.Y;
        }
        // Rows after span.Max + 1 lie below every gap: each takes the old row above.
        const int32_t tailFirst = span.Max + 2;
        if (eachOnce) {
            if (!CanGrowInPlace(FWidth, newHeight))
                GrowBuffer(FWidth, newHeight);
            TCorvColor* bits = FBits.get();
            // The rows keep their addresses: the tail moves down first, then the
            // band from the bottom up, each row reading only rows not yet moved.
            // A new last row in the band has no old pixels, and every column
            // takes the row above there.
            seamY.SpanBlocks();
            if (tailFirst <= FHeight)
                std::memmove(bits + tailFirst * w, bits + (tailFirst - 1) * w,
                             size_t(FHeight + 1 - tailFirst) * size_t(w) * 4);
            for (int32_t r = tailFirst - 1; r > span.Min; --r) {
                TCorvColor* row = bits + r * w;
                seamY.TakeAtOrBelow(row, row - w, r - 1);
            }
        } else {
            TBits fresh = AllocateGrown(FWidth, newHeight);
            // The cached bitmap and painter must go before the buffer they work on.
            FreeGraphicsCache();
            const TCorvColor* src = FBits.get();
            TCorvColor* dst = fresh.get();
            // Rows 0 .. span.Min lie at or above every seam pixel: copied as they are.
            std::memcpy(dst, src, size_t(span.Min + 1) * size_t(w) * 4);
            if (tailFirst <= FHeight)
                std::memcpy(dst + tailFirst * w, src + (tailFirst - 1) * w,
                            size_t(FHeight + 1 - tailFirst) * size_t(w) * 4);
            // The band between, column by column, so that an unnamed column stays unwritten.
            for (const TCorvPoint& p : Seam) {
                for (int32_t r = span.Min + 1; r < tailFirst; ++r) {
                    if (r <= p.Y)
                        dst[r * w + p.X] = src[r * w + p.X];
                    else if (r >= p.Y + 2)
                        dst[r * w + p.X] = src[(r - 1) * w + p.X];
                }
            }
            FBits = std::move(fresh);
        }
    }
    SetGrownGeometry(FWidth, newHeight);
}

void TCorvSurface::InsertVerticalSeam(const TCorvPointArray& Seam)
{
    CheckSeam(Seam, FHeight, FWidth, false, "InsertVerticalSeam");
    if (FWidth == INT32_MAX)
        throw ERangeError("InsertVerticalSeam: the surface cannot grow wider");
    const int32_t newWidth = FWidth + 1;
    std::vector<int32_t> seamX(size_t(FHeight), -1);
    bool eachOnce = true;
    for (const TCorvPoint& p : Seam) {
        eachOnce = eachOnce && seamX[size_t(p.Y)] < 0;
        seamX[size_t(p.Y)] = p.X;
    }
    if (eachOnce) {
        if (!CanGrowInPlace(newWidth, FHeight))
            GrowBuffer(newWidth, FHeight);
        TCorvColor* bits = FBits.get();
        // Rows move right from the bottom up, so each new row lies over old
        // pixels already moved; within a row the part after the seam goes first.
        for (int32_t y = FHeight - 1; y >= 0; --y) {
            const int32_t x = seamX[size_t(y)];
            const TCorvColor* oldRow = bits + int64_t(y) * FWidth;
            TCorvColor* newRow = bits + int64_t(y) * newWidth;
            MoveBackward(newRow + x + 2, oldRow + x + 1, size_t(FWidth - 1 - x) * 4);
            MoveBackward(newRow, oldRow, size_t(x + 1) * 4);
        }
    } else {
        TBits fresh = AllocateGrown(newWidth, FHeight);
        FreeGraphicsCache();
        const TCorvColor* src = FBits.get();
        TCorvColor* dst = fresh.get();
        for (const TCorvPoint& p : Seam) {
            const TCorvColor* oldRow = src + int64_t(p.Y) * FWidth;
            TCorvColor* newRow = dst + int64_t(p.Y) * newWidth;
            std::memcpy(newRow, oldRow, size_t(p.X + 1) * 4);
            std::memcpy(newRow + p.X + 2, oldRow + p.X + 1, size_t(FWidth - 1 - p.X) * 4);
        }
        FBits = std::move(fresh);
    }
    SetGrownGeometry(newWidth, FHeight);
}

} // namespace Corvanith::Graphics
