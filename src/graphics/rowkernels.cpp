#include "graphics/rowkernels.h"

#include <emmintrin.h>

namespace Corvanith::Graphics {

namespace {

constexpr int32_t BlockPixels = 16;

inline bool Aligned16(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 15) == 0; }

inline void StreamPixel(TCorvColor* p, TCorvColor v)
{
    _mm_stream_si32(reinterpret_cast<int*>(p), int(v));
}

inline TCorvColor BlendPixel(TCorvColor d, TCorvColor s)
{
    const uint32_t a = s >> 24;
    if (a == 0)
        return d;
    if (a == 255)
        return s;
    TCorvColor r = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t sk = (s >> shift) & 0xFF;
        const uint32_t dk = (d >> shift) & 0xFF;
        r |= ((sk * a + dk * (256 - a)) >> 8) << shift;
    }
    return r;
}

// Four pixels of the general blend rule in 16-bit lanes: two pixels per half.
inline __m128i BlendHalf(__m128i s16, __m128i d16)
{
    const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s16, 0xFF), 0xFF);
    const __m128i inv = _mm_sub_epi16(_mm_set1_epi16(256), a);
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(s16, a), _mm_mullo_epi16(d16, inv)), 8);
}

inline __m128i BlendFour(__m128i s, __m128i d)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = BlendHalf(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(d, zero));
    const __m128i hi = BlendHalf(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(d, zero));
    const __m128i blended = _mm_packus_epi16(lo, hi);
    // Opaque source pixels are copied as they are, not blended.
    const __m128i alphaMask = _mm_set1_epi32(int(0xFF000000u));
    const __m128i opaque = _mm_cmpeq_epi32(_mm_and_si128(s, alphaMask), alphaMask);
    return _mm_or_si128(_mm_and_si128(opaque, s), _mm_andnot_si128(opaque, blended));
}

struct TColorBlend {
    __m128i ca;  // c_k * a, two pixels' worth of 16-bit lanes
    __m128i inv; // 256 - a
    uint32_t caScalar[4];
    uint32_t invScalar;

    explicit TColorBlend(TCorvColor Color)
    {
        const uint32_t a = Color >> 24;
        invScalar = 256 - a;
        for (int k = 0; k < 4; ++k)
            caScalar[k] = ((Color >> (8 * k)) & 0xFF) * a;
        ca = _mm_set_epi16(short(caScalar[3]), short(caScalar[2]), short(caScalar[1]), short(caScalar[0]),
                           short(caScalar[3]), short(caScalar[2]), short(caScalar[1]), short(caScalar[0]));
        inv = _mm_set1_epi16(short(invScalar));
    }

    TCorvColor Pixel(TCorvColor d) const
    {
        TCorvColor r = 0;
        for (int k = 0; k < 4; ++k)
            r |= ((((d >> (8 * k)) & 0xFF) * invScalar + caScalar[k]) >> 8) << (8 * k);
        return r;
    }

    __m128i Half(__m128i d16) const { return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(d16, inv), ca), 8); }

    __m128i Four(__m128i d) const
    {
        const __m128i zero = _mm_setzero_si128();
        return _mm_packus_epi16(Half(_mm_unpacklo_epi8(d, zero)), Half(_mm_unpackhi_epi8(d, zero)));
    }
};

inline __m128i Load(const TCorvColor* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(TCorvColor* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

template <bool Streaming>
void MoveBlocks(TCorvColor* Dest, const TCorvColor* Source, int32_t Count)
{
    if (Count <= 0)
        return;
    int32_t i = 0;
    if (Count >= BlockPixels) {
        // Streaming stores take 16 aligned bytes: the up to three pixels before
        // the first aligned one are copied plainly, so that a picture drawn at
        // any column streams all its blocks.
        if constexpr (Streaming)
            for (; !Aligned16(Dest + i); ++i)
                Dest[i] = Source[i];
        for (; i + BlockPixels <= Count; i += BlockPixels) {
            // The whole block is read before any of it is written, which keeps
            // a left shift inside one buffer correct.
            const __m128i v0 = Load(Source + i), v1 = Load(Source + i + 4);
            const __m128i v2 = Load(Source + i + 8), v3 = Load(Source + i + 12);
            if constexpr (Streaming) {
                auto* d = reinterpret_cast<__m128i*>(Dest + i);
                _mm_stream_si128(d, v0);
                _mm_stream_si128(d + 1, v1);
                _mm_stream_si128(d + 2, v2);
                _mm_stream_si128(d + 3, v3);
            } else {
                Store(Dest + i, v0);
                Store(Dest + i + 4, v1);
                Store(Dest + i + 8, v2);
                Store(Dest + i + 12, v3);
            }
        }
    }
    for (; i < Count; ++i)
        Dest[i] = Source[i];
}

} // namespace

void FillLongword(TCorvColor* Dest, TCorvColor Value, int32_t Count)
{
    if (Count <= 0)
        return;
    int32_t i = 0;
    for (; i < Count && !Aligned16(Dest + i); ++i)
        StreamPixel(Dest + i, Value);
    const __m128i v = _mm_set1_epi32(int(Value));
    for (; i + 16 <= Count; i += 16) {
        auto* d = reinterpret_cast<__m128i*>(Dest + i);
        _mm_stream_si128(d, v);
        _mm_stream_si128(d + 1, v);
        _mm_stream_si128(d + 2, v);
        _mm_stream_si128(d + 3, v);
    }
    for (; i + 4 <= Count; i += 4)
        _mm_stream_si128(reinterpret_cast<__m128i*>(Dest + i), v);
    for (; i < Count; ++i)
        StreamPixel(Dest + i, Value);
}

void MoveLongwordStreaming(TCorvColor* Dest, const TCorvColor* Source, int32_t Count)
{
    MoveBlocks<true>(Dest, Source, Count);
}

void MoveLongword(TCorvColor* Dest, const TCorvColor* Source, int32_t Count)
{
    MoveBlocks<false>(Dest, Source, Count);
}

void BlendLine(TCorvColor* Dest, const TCorvColor* Source, int32_t Count)
{
    const __m128i alphaMask = _mm_set1_epi32(int(0xFF000000u));
    int32_t i = 0;
    for (; i + 4 <= Count; i += 4) {
        const __m128i s = Load(Source + i);
        // Layers are mostly wholly opaque or wholly clear: such quads need no arithmetic.
        const __m128i alpha = _mm_and_si128(s, alphaMask);
        const int opaque = _mm_movemask_epi8(_mm_cmpeq_epi32(alpha, alphaMask));
        if (opaque == 0xFFFF) {
            Store(Dest + i, s);
            continue;
        }
        const int clear = _mm_movemask_epi8(_mm_cmpeq_epi32(alpha, _mm_setzero_si128()));
        if (clear == 0xFFFF)
            continue;
        Store(Dest + i, BlendFour(s, Load(Dest + i)));
    }
    for (; i < Count; ++i)
        Dest[i] = BlendPixel(Dest[i], Source[i]);
}

void BlendColorLine(TCorvColor* Dest, TCorvColor Color, int32_t Count)
{
    const TColorBlend blend(Color);
    int32_t i = 0;
    for (; i + 4 <= Count; i += 4)
        Store(Dest + i, blend.Four(Load(Dest + i)));
    for (; i < Count; ++i)
        Dest[i] = blend.Pixel(Dest[i]);
}

void SubtractColorLine(TCorvColor* Dest, TCorvColor Color, int32_t Count)
{
    const __m128i c = _mm_set1_epi32(int(Color));
    int32_t i = 0;
    for (; i + 4 <= Count; i += 4)
        Store(Dest + i, _mm_subs_epu8(Load(Dest + i), c));
    for (; i < Count; ++i) {
        const __m128i d = _mm_cvtsi32_si128(int(Dest[i]));
        Dest[i] = TCorvColor(_mm_cvtsi128_si32(_mm_subs_epu8(d, c)));
    }
}

void OpaqueLine(TCorvColor* Dest, int32_t Count)
{
    const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
    int32_t i = 0;
    for (; i + 4 <= Count; i += 4)
        Store(Dest + i, _mm_or_si128(Load(Dest + i), alpha));
    for (; i < Count; ++i)
        Dest[i] |= 0xFF000000u;
}

void FenceStreamingStores() { _mm_sfence(); }

} // namespace Corvanith::Graphics
