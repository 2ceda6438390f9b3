#include "retargeting/energy.h"

#include "graphics/rectangle.h"
#include "retargeting/instructionset.h"

#include <immintrin.h>

#include <cstdlib>

namespace Corvanith::Graphics::Retargeting {

namespace {

constexpr TCorvColor OpaqueAlpha = 0xFF000000u;

inline __m128i AbsDiff(__m128i a, __m128i b) { return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)); }

// One interior pixel, at Row[0] with Up[0] and Down[0]: the four differences
// per channel summed in 16-bit lanes.
TCorvColor InteriorPixel(const TCorvColor* Up, const TCorvColor* Row, const TCorvColor* Down)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i d = AbsDiff(_mm_setr_epi32(int(Row[-1]), int(Row[1]), int(Up[0]), int(Down[0])),
                              _mm_set1_epi32(int(Row[0])));
    __m128i sum = _mm_add_epi16(_mm_unpacklo_epi8(d, zero), _mm_unpackhi_epi8(d, zero));
    sum = _mm_srli_epi16(_mm_add_epi16(sum, _mm_srli_si128(sum, 8)), 2);
    return TCorvColor(_mm_cvtsi128_si32(_mm_packus_epi16(sum, zero))) | OpaqueAlpha;
}

// The same rule on interior pixels From .. Width - 2 of one row, one pixel at
// a time: the ends the wide loops leave.
void InteriorPixels(TCorvColor* Dest, const TCorvColor* Up, const TCorvColor* Row, const TCorvColor* Down,
                    int32_t From, int32_t Width)
{
    for (int32_t x = From; x < Width - 1; ++x)
        Dest[x] = InteriorPixel(Up + x, Row + x, Down + x);
}

// Interior pixels 1 .. Width - 2 of one row with all four neighbours: each
// channel is the sum of four byte differences shifted right by 2.
void InteriorRow(TCorvColor* Dest, const TCorvColor* Up, const TCorvColor* Row, const TCorvColor* Down,
                 int32_t Width)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i alpha = _mm_set1_epi32(int32_t(OpaqueAlpha));
    int32_t x = 1;
    for (; x + 4 <= Width - 1; x += 4) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Row + x));
        const __m128i d1 = AbsDiff(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(Row + x - 1)));
        const __m128i d2 = AbsDiff(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(Row + x + 1)));
        const __m128i d3 = AbsDiff(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(Up + x)));
        const __m128i d4 = AbsDiff(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(Down + x)));
        __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(d1, zero), _mm_unpacklo_epi8(d2, zero)),
                                   _mm_add_epi16(_mm_unpacklo_epi8(d3, zero), _mm_unpacklo_epi8(d4, zero)));
        __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(d1, zero), _mm_unpackhi_epi8(d2, zero)),
                                   _mm_add_epi16(_mm_unpackhi_epi8(d3, zero), _mm_unpackhi_epi8(d4, zero)));
        lo = _mm_srli_epi16(lo, 2);
        hi = _mm_srli_epi16(hi, 2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Dest + x), _mm_or_si128(_mm_packus_epi16(lo, hi), alpha));
    }
    InteriorPixels(Dest, Up, Row, Down, x, Width);
}

// The same eight pixels at a time.
__attribute__((target("avx2"))) void InteriorRowAvx2(TCorvColor* Dest, const TCorvColor* Up, const TCorvColor* Row,
                                                     const TCorvColor* Down, int32_t Width)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i alpha = _mm256_set1_epi32(int32_t(OpaqueAlpha));
    int32_t x = 1;
    for (; x + 8 <= Width - 1; x += 8) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Row + x));
        __m256i d[4];
        const TCorvColor* n[4] = {Row + x - 1, Row + x + 1, Up + x, Down + x};
        for (int k = 0; k < 4; ++k) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(n[k]));
            d[k] = _mm256_or_si256(_mm256_subs_epu8(c, v), _mm256_subs_epu8(v, c));
        }
        __m256i lo = _mm256_add_epi16(_mm256_add_epi16(_mm256_unpacklo_epi8(d[0], zero), _mm256_unpacklo_epi8(d[1], zero)),
                                      _mm256_add_epi16(_mm256_unpacklo_epi8(d[2], zero), _mm256_unpacklo_epi8(d[3], zero)));
        __m256i hi = _mm256_add_epi16(_mm256_add_epi16(_mm256_unpackhi_epi8(d[0], zero), _mm256_unpackhi_epi8(d[1], zero)),
                                      _mm256_add_epi16(_mm256_unpackhi_epi8(d[2], zero), _mm256_unpackhi_epi8(d[3], zero)));
        // Unpack and pack both stay within each 128-bit half, so the pixels
        // come back in their places.
        lo = _mm256_srli_epi16(lo, 2);
        hi = _mm256_srli_epi16(hi, 2);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dest + x), _mm256_or_si256(_mm256_packus_epi16(lo, hi), alpha));
    }
    InteriorPixels(Dest, Up, Row, Down, x, Width);
}

} // namespace

TCorvColor EnergyAt(const TCorvSurface& Source, int32_t X, int32_t Y)
{
    const TCorvColor c = *Source.GetPixelPtr(X, Y);
    TCorvColor neighbours[4];
    int32_t count = 0;
    if (X > 0)
        neighbours[count++] = *Source.GetPixelPtr(X - 1, Y);
    if (Y > 0)
        neighbours[count++] = *Source.GetPixelPtr(X, Y - 1);
    if (X + 1 < Source.Width())
        neighbours[count++] = *Source.GetPixelPtr(X + 1, Y);
    if (Y + 1 < Source.Height())
        neighbours[count++] = *Source.GetPixelPtr(X, Y + 1);
    TCorvColor e = OpaqueAlpha;
    if (count == 0)
        return e;
    for (int shift = 0; shift < 24; shift += 8) {
        const int32_t v = int32_t((c >> shift) & 0xFF);
        int32_t sum = 0;
        for (int32_t i = 0; i < count; ++i)
            sum += std::abs(int32_t((neighbours[i] >> shift) & 0xFF) - v);
        e |= TCorvColor(sum / count) << shift;
    }
    return e;
}

std::unique_ptr<TCorvSurface> CalculateEnergy(const TCorvSurface& Source)
{
    const int32_t w = Source.Width();
    const int32_t h = Source.Height();
    auto energy = TCorvSurface::Create(w, h);
    if (w == 0 || h == 0)
        return energy;
    const bool avx2 = UseAvx2();
    for (int32_t y = 1; y + 1 < h; ++y) {
        if (w > 2)
            (avx2 ? InteriorRowAvx2 : InteriorRow)(energy->GetPixelPtr(0, y), Source.GetPixelPtr(0, y - 1),
                                                   Source.GetPixelPtr(0, y), Source.GetPixelPtr(0, y + 1), w);
        *energy->GetPixelPtr(0, y) = EnergyAt(Source, 0, y);
        if (w > 1)
            *energy->GetPixelPtr(w - 1, y) = EnergyAt(Source, w - 1, y);
    }
    for (int32_t x = 0; x < w; ++x) {
        *energy->GetPixelPtr(x, 0) = EnergyAt(Source, x, 0);
        if (h > 1)
            *energy->GetPixelPtr(x, h - 1) = EnergyAt(Source, x, h - 1);
    }
    return energy;
}

void UpdateEnergyAt(TCorvSurface& Energy, int32_t X, int32_t Y, const TCorvSurface& Source)
{
    if (!PointInRectangle({0, 0, Source.Width(), Source.Height()}, X, Y))
        return;
    // After a removal nearly every recomputed pixel is an interior one.
    if (X > 0 && Y > 0 && X + 1 < Source.Width() && Y + 1 < Source.Height()) {
        const TCorvColor* row = Source.GetPixelPtr(X, Y);
        *Energy.GetPixelPtr(X, Y) = InteriorPixel(Source.GetPixelPtr(X, Y - 1), row, Source.GetPixelPtr(X, Y + 1));
        return;
    }
    *Energy.GetPixelPtr(X, Y) = EnergyAt(Source, X, Y);
}

void RemoveHorizontalSeamFromEnergy(TCorvSurface& Energy, const TCorvSurface& Source, const TCorvPointArray& Seam)
{
    Energy.RemoveHorizontalSeam(Seam);
    for (const TCorvPoint& p : Seam) {
        UpdateEnergyAt(Energy, p.X, p.Y, Source);
        UpdateEnergyAt(Energy, p.X, p.Y + 1, Source);
    }
}

void RemoveVerticalSeamFromEnergy(TCorvSurface& Energy, const TCorvSurface& Source, const TCorvPointArray& Seam)
{
    Energy.RemoveVerticalSeam(Seam);
    for (const TCorvPoint& p : Seam) {
        UpdateEnergyAt(Energy, p.X, p.Y, Source);
        UpdateEnergyAt(Energy, p.X + 1, p.Y, Source);
    }
}

void ApplyMask(TCorvSurface& Energy, const TCorvSurface& Mask)
{
    const int32_t w = Energy.Width();
    for (int32_t y = 0; y < Energy.Height(); ++y) {
        TCorvColor* e = Energy.GetPixelPtr(0, y);
        const TCorvColor* m = Mask.GetPixelPtr(0, y);
        for (int32_t x = 0; x < w; ++x)
            if (IsPreserved(m[x]))
                e[x] = MaximumEnergy;
    }
}

void ApplyMaskAlongHorizontalSeam(TCorvSurface& Energy, const TCorvSurface& Mask, const TCorvPointArray& Seam)
{
    const int32_t h = Mask.Height();
    for (const TCorvPoint& p : Seam) {
        if (p.Y < h && IsPreserved(*Mask.GetPixelPtr(p.X, p.Y)))
            *Energy.GetPixelPtr(p.X, p.Y) = MaximumEnergy;
        if (p.Y + 1 < h && IsPreserved(*Mask.GetPixelPtr(p.X, p.Y + 1)))
            *Energy.GetPixelPtr(p.X, p.Y + 1) = MaximumEnergy;
    }
}

void ApplyMaskAlongVerticalSeam(TCorvSurface& Energy, const TCorvSurface& Mask, const TCorvPointArray& Seam)
{
    const int32_t w = Mask.Width();
    for (const TCorvPoint& p : Seam) {
        if (p.X < w && IsPreserved(*Mask.GetPixelPtr(p.X, p.Y)))
            *Energy.GetPixelPtr(p.X, p.Y) = MaximumEnergy;
        if (p.X + 1 < w && IsPreserved(*Mask.GetPixelPtr(p.X + 1, p.Y)))
            *Energy.GetPixelPtr(p.X + 1, p.Y) = MaximumEnergy;
    }
}

} // namespace Corvanith::Graphics::Retargeting
