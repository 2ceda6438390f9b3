#pragma once
// Checks the format tests share: decoding against a source picture, and
// refusal before any buffer of a claimed size.
#include "platform/imagefiles.h"
#include "residentmemory.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace Corvanith::Tests {

// A picture with detail in every block: a gradient with a checker on it.
inline QImage Detailed(int Width, int Height)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    for (int y = 0; y < Height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < Width; ++x) {
            const uint32_t checker = ((x / 4 + y / 4) & 1) * 40;
            row[x] = 0xFF000000u | (uint32_t(x * 255 / Width) ^ checker) << 16 | uint32_t(y * 255 / Height) << 8 |
                     uint32_t((x + y) * 127 / (Width + Height) + checker);
        }
    }
    return image;
}

inline QImage Flat(int Width, int Height)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(0xFF336699u);
    return image;
}

// Largest difference of any channel between two pixel sets of one size.
inline int MaxDifference(const std::vector<uint32_t>& A, const std::vector<uint32_t>& B)
{
    int worst = 0;
    for (size_t i = 0; i < A.size(); ++i)
        for (int shift = 0; shift < 32; shift += 8)
            worst = std::max(worst, std::abs(int(A[i] >> shift & 0xFF) - int(B[i] >> shift & 0xFF)));
    return worst;
}

inline void ExpectDecodes(const QByteArray& File, const QImage& Source, int Tolerance)
{
    ASSERT_FALSE(File.isEmpty());
    const TDecoded decoded = Decode(File);
    ASSERT_TRUE(decoded.Valid);
    ASSERT_TRUE(decoded.Read);
    ASSERT_EQ(decoded.Width, Source.width());
    ASSERT_EQ(decoded.Height, Source.height());
    EXPECT_LE(MaxDifference(decoded.Pixels, PixelsOf(Source)), Tolerance);
}

// Refused from its header, before any buffer of its size: the peak resident
// size, set back to the current one, shows that nothing large was taken.
inline void ExpectRefusedBeforeItsPixels(const QByteArray& File)
{
    Corvanith::Testing::ResetResidentPeak();
    const int64_t before = Corvanith::Testing::ResidentBytes();
    EXPECT_FALSE(Decode(File).Valid);
    if (Corvanith::Testing::ResidentMemoryTells) {
        EXPECT_LT(Corvanith::Testing::ResidentBytes("VmHWM:") - before, int64_t(64) << 20);
    }
}
// The file decodes to the pixels, the size and the opacity Qt's reader of
// Format gives.
inline void ExpectAsQtReads(const QByteArray& File, const char* Format)
{
    QByteArray data = File;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, Format);
    const QImage qt = reader.read();
    ASSERT_FALSE(qt.isNull()) << reader.errorString().toStdString();
    const std::vector<uint32_t> expected = PixelsOf(qt);
    const TDecoded decoded = Decode(File);
    ASSERT_TRUE(decoded.Read);
    ASSERT_EQ(decoded.Width, qt.width());
    ASSERT_EQ(decoded.Height, qt.height());
    EXPECT_EQ(decoded.Pixels, expected);
    EXPECT_EQ(decoded.Opaque,
              std::all_of(expected.begin(), expected.end(), [](uint32_t p) { return p >> 24 == 0xFF; }));
}

} // namespace Corvanith::Tests
