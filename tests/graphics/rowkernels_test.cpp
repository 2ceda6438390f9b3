// Every kernel against a plain per-channel formula: random runs of every count
// from 0 to 40 and a few large ones, at every alignment, with guard pixels
// on both sides that must come out unchanged.
#include "graphics/rowkernels.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

using namespace Corvanith::Graphics;

namespace {

uint32_t Channel(TCorvColor c, int k) { return (c >> (8 * k)) & 0xFF; }

TCorvColor PerChannel(const std::function<uint32_t(int)>& f)
{
    TCorvColor r = 0;
    for (int k = 0; k < 4; ++k)
        r |= (f(k) & 0xFF) << (8 * k);
    return r;
}

TCorvColor RefBlend(TCorvColor d, TCorvColor s)
{
    const uint32_t a = s >> 24;
    if (a == 0)
        return d;
    if (a == 255)
        return s;
    return PerChannel([&](int k) { return (Channel(s, k) * a + Channel(d, k) * (256 - a)) >> 8; });
}

TCorvColor RefBlendColor(TCorvColor d, TCorvColor c)
{
    const uint32_t a = c >> 24;
    return PerChannel([&](int k) { return (Channel(d, k) * (256 - a) + Channel(c, k) * a) >> 8; });
}

TCorvColor RefSubtract(TCorvColor d, TCorvColor c)
{
    return PerChannel([&](int k) { return Channel(d, k) > Channel(c, k) ? Channel(d, k) - Channel(c, k) : 0; });
}

constexpr int Guard = 8;
constexpr TCorvColor GuardValue = 0xDEADBEEF;

std::vector<int32_t> Counts()
{
    std::vector<int32_t> counts;
    for (int32_t n = 0; n <= 40; ++n)
        counts.push_back(n);
    for (int32_t n : {63, 64, 65, 255, 1000, 1921, 4099})
        counts.push_back(n);
    return counts;
}

// Random pixels biased towards the alpha values with special rules.
TCorvColor RandomPixel(std::mt19937& rng)
{
    TCorvColor c = rng();
    switch (rng() % 6) {
    case 0: return c & 0x00FFFFFF;
    case 1: return c | 0xFF000000;
    case 2: return (c & 0x00FFFFFF) | 0x01000000;
    case 3: return (c & 0x00FFFFFF) | 0xFE000000;
    default: return c;
    }
}

struct TRun {
    std::vector<TCorvColor> buffer;
    int32_t offset;
    int32_t count;

    TRun(std::mt19937& rng, int32_t Offset, int32_t Count) : buffer(size_t(Count + 2 * Guard + 4)), offset(Offset), count(Count)
    {
        for (auto& p : buffer)
            p = GuardValue;
        for (int32_t i = 0; i < Count; ++i)
            buffer[size_t(Guard + Offset + i)] = RandomPixel(rng);
    }
    TCorvColor* Data() { return buffer.data() + Guard + offset; }
};

void ExpectGuards(const TRun& run, const char* what)
{
    for (size_t i = 0; i < run.buffer.size(); ++i) {
        const auto first = size_t(Guard + run.offset);
        if (i >= first && i < first + size_t(run.count))
            continue;
        ASSERT_EQ(run.buffer[i], GuardValue) << what << " wrote outside its run at " << i << ", count " << run.count;
    }
}

using TUnary = std::function<void(TCorvColor*, TCorvColor, int32_t)>;
using TUnaryRef = std::function<TCorvColor(TCorvColor, TCorvColor)>;

void CheckUnary(const char* what, const TUnary& kernel, const TUnaryRef& reference)
{
    std::mt19937 rng(1234);
    for (int32_t offset = 0; offset < 4; ++offset)
        for (int32_t count : Counts()) {
            TRun run(rng, offset, count);
            const std::vector<TCorvColor> before(run.Data(), run.Data() + count);
            const TCorvColor value = RandomPixel(rng);
            kernel(run.Data(), value, count);
            FenceStreamingStores();
            for (int32_t i = 0; i < count; ++i)
                ASSERT_EQ(run.Data()[i], reference(before[size_t(i)], value))
                    << what << " count " << count << " pixel " << i << " value " << std::hex << value;
            ExpectGuards(run, what);
        }
}

using TBinary = std::function<void(TCorvColor*, const TCorvColor*, int32_t)>;

void CheckBinary(const char* what, const TBinary& kernel, const TUnaryRef& reference)
{
    std::mt19937 rng(4321);
    for (int32_t offset = 0; offset < 4; ++offset)
        for (int32_t srcOffset = 0; srcOffset < 4; srcOffset += 3)
            for (int32_t count : Counts()) {
                TRun dest(rng, offset, count);
                TRun source(rng, srcOffset, count);
                const std::vector<TCorvColor> before(dest.Data(), dest.Data() + count);
                kernel(dest.Data(), source.Data(), count);
                FenceStreamingStores();
                for (int32_t i = 0; i < count; ++i)
                    ASSERT_EQ(dest.Data()[i], reference(before[size_t(i)], source.Data()[i]))
                        << what << " count " << count << " pixel " << i;
                ExpectGuards(dest, what);
            }
}

TEST(RowKernels, MatchTheirFormulas)
{
    CheckUnary("FillLongword", FillLongword, [](TCorvColor, TCorvColor v) { return v; });
    CheckUnary("BlendColorLine", BlendColorLine, RefBlendColor);
    CheckUnary("SubtractColorLine", SubtractColorLine, RefSubtract);
    CheckBinary("MoveLongword", MoveLongword, [](TCorvColor, TCorvColor s) { return s; });
    CheckBinary("MoveLongwordStreaming", MoveLongwordStreaming, [](TCorvColor, TCorvColor s) { return s; });
    CheckBinary("BlendLine", BlendLine, RefBlend);
}

TEST(RowKernels, BlendColorLineOverEveryAlphaAndChannel)
{
    // The whole domain of one channel against every colour alpha.
    std::vector<TCorvColor> dest(256);
    for (uint32_t a = 0; a < 256; ++a)
        for (uint32_t c : {0u, 1u, 127u, 128u, 254u, 255u}) {
            for (uint32_t v = 0; v < 256; ++v)
                dest[v] = v * 0x01010101u;
            const TCorvColor color = (a << 24) | c * 0x010101u;
            BlendColorLine(dest.data(), color, 256);
            for (uint32_t v = 0; v < 256; ++v)
                ASSERT_EQ(dest[v], RefBlendColor(v * 0x01010101u, color)) << a << " " << c << " " << v;
        }
}

TEST(RowKernels, BlendLineOverEverySourceAlpha)
{
    std::vector<TCorvColor> dest(256), source(256);
    for (uint32_t d : {0x00000000u, 0xFF000000u, 0xFFFFFFFFu, 0x80402010u})
        for (uint32_t s : {0x00FFFFFFu, 0x00000000u, 0x00123456u}) {
            for (uint32_t a = 0; a < 256; ++a) {
                source[a] = (a << 24) | s;
                dest[a] = d;
            }
            BlendLine(dest.data(), source.data(), 256);
            for (uint32_t a = 0; a < 256; ++a)
                ASSERT_EQ(dest[a], RefBlend(d, source[a])) << std::hex << d << " " << source[a];
        }
}

TEST(RowKernels, BlendLineRunsOfOneKind)
{
    // Whole quads of opaque or clear pixels, mixed with blended ones.
    std::mt19937 rng(99);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<TCorvColor> dest(37), source(37), expected(37);
        const uint32_t kind = rng() % 3;
        for (size_t i = 0; i < source.size(); ++i) {
            const TCorvColor c = rng() & 0x00FFFFFF;
            source[i] = kind == 0 ? c : kind == 1 ? c | 0xFF000000 : (i % 9 == 0 ? c | 0x80000000 : c);
            dest[i] = rng();
            expected[i] = RefBlend(dest[i], source[i]);
        }
        BlendLine(dest.data(), source.data(), 37);
        ASSERT_EQ(dest, expected) << "kind " << kind;
    }
}

TEST(RowKernels, WorkedValues)
{
    struct Case {
        TCorvColor source, dest, blended, colorBlended;
    };
    const Case cases[] = {
        {0x80FFFFFF, 0xFF000000, 0xBF7F7F7F, 0xBF7F7F7F},
        {0x80FFFFFF, 0x00000000, 0x407F7F7F, 0x407F7F7F},
        {0x01000000, 0xFFFFFFFF, 0xFEFEFEFE, 0xFEFEFEFE},
        {0x80FF0000, 0xFF0000FF, 0xBF7F007F, 0xBF7F007F},
        {0x01FFFFFF, 0xFF000000, 0xFE000000, 0xFE000000},
        {0xFFFFFFFF, 0x00000000, 0xFFFFFFFF, 0xFEFEFEFE},
        {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
        {0x5C000000, 0xFFFFFFFF, 0xC4A3A3A3, 0xC4A3A3A3},
        {0x00FF0000, 0x12345678, 0x12345678, 0x12345678},
    };
    for (const Case& c : cases) {
        // Runs of five so the vector and the scalar paths both see the pair.
        std::vector<TCorvColor> d(5, c.dest), s(5, c.source);
        BlendLine(d.data(), s.data(), 5);
        EXPECT_EQ(d, std::vector<TCorvColor>(5, c.blended)) << std::hex << c.source << " over " << c.dest;
        std::vector<TCorvColor> e(5, c.dest);
        BlendColorLine(e.data(), c.source, 5);
        EXPECT_EQ(e, std::vector<TCorvColor>(5, c.colorBlended)) << std::hex << c.source << " over " << c.dest;
    }
    std::vector<TCorvColor> alphas{0xFF102030, 0x0A102030, 0x0F102030, 0x00102030, 0x10102030};
    SubtractColorLine(alphas.data(), 0x0F000000, 5);
    EXPECT_EQ(alphas, (std::vector<TCorvColor>{0xF0102030, 0x00102030, 0x00102030, 0x00102030, 0x01102030}));
}

TEST(RowKernels, MovesShiftLeftInsideOneBuffer)
{
    for (auto* move : {&MoveLongword, &MoveLongwordStreaming})
        for (int32_t count : {15, 16, 17, 33, 100}) {
            std::vector<TCorvColor> buffer(size_t(count + 2));
            for (size_t i = 0; i < buffer.size(); ++i)
                buffer[i] = TCorvColor(i + 1);
            (*move)(buffer.data(), buffer.data() + 1, count);
            FenceStreamingStores();
            for (int32_t i = 0; i < count; ++i)
                ASSERT_EQ(buffer[size_t(i)], TCorvColor(i + 2)) << "count " << count;
            EXPECT_EQ(buffer[size_t(count)], TCorvColor(count + 1));
        }
}

TEST(RowKernels, NonPositiveCountsWriteNothing)
{
    std::vector<TCorvColor> d(4, GuardValue), s(4, 0x80FFFFFF);
    for (int32_t count : {0, -1, -1000}) {
        FillLongword(d.data(), 0, count);
        MoveLongword(d.data(), s.data(), count);
        MoveLongwordStreaming(d.data(), s.data(), count);
        BlendLine(d.data(), s.data(), count);
        BlendColorLine(d.data(), 0x80FFFFFF, count);
        SubtractColorLine(d.data(), 0xFFFFFFFF, count);
    }
    FenceStreamingStores();
    EXPECT_EQ(d, std::vector<TCorvColor>(4, GuardValue));
}

} // namespace
