#include "platform/formats/pixels.h"

#include "graphics/errors.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace Corvanith::Platform {

namespace {

// Pictures are converted to straight ARGB this many pixels at a time.
constexpr int64_t ConvertBandPixels = 1 << 16;

} // namespace

// RGB32 leaves the alpha bytes to the writer; ours must hold 255.
void SetOpaque(uint8_t* Bits, int32_t Stride, int32_t Width, int32_t Height)
{
    for (int32_t y = 0; y < Height; ++y) {
        uint8_t* row = Bits + int64_t(y) * Stride;
        int32_t x = 0;
        const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
        for (; x + 4 <= Width; x += 4) {
            auto* p = reinterpret_cast<__m128i*>(row + int64_t(x) * 4);
            _mm_storeu_si128(p, _mm_or_si128(_mm_loadu_si128(p), alpha));
        }
        for (; x < Width; ++x)
            row[int64_t(x) * 4 + 3] = 0xFF;
    }
}

// The bands run from the bottom up, and each is copied out before its rows
// are written, below rows still to be read.
void ConvertRows(const QImage& Image, uint8_t* Bits, int32_t Stride)
{
    const int32_t width = Image.width();
    const int32_t height = Image.height();
    if (width <= 0 || height <= 0)
        return;
    const bool opaque = !Image.hasAlphaChannel();
    const QImage::Format target = opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32;
    const size_t rowBytes = size_t(width) * 4;
    if (Image.format() == target) {
        if (Image.constBits() != Bits || Image.bytesPerLine() != Stride)
            for (int32_t y = height - 1; y >= 0; --y)
                std::memmove(Bits + int64_t(y) * Stride, Image.constScanLine(y), rowBytes);
    } else {
        const auto bandRows = int32_t(std::clamp<int64_t>(ConvertBandPixels / width, 1, height));
        for (int32_t bottom = height; bottom > 0; bottom -= bandRows) {
            const int32_t top = std::max(0, bottom - bandRows);
            const QImage band = Image.copy(0, top, width, bottom - top).convertToFormat(target);
            // Qt leaves a null image when the converted band cannot be made;
            // taken as it is, that would leave rows unfilled.
            if (band.isNull())
                throw EOutOfMemory("Out of memory converting a " + std::to_string(width) + " x " +
                                   std::to_string(height) + " picture");
            for (int32_t y = top; y < bottom; ++y)
                std::memcpy(Bits + int64_t(y) * Stride, band.constScanLine(y - top), rowBytes);
        }
    }
    if (opaque)
        SetOpaque(Bits, Stride, width, height);
}

void MatchColoursInBuffer(const QColorSpace& Space, uint8_t* Bits, int32_t Width, int32_t Height, int32_t Stride,
                          bool Opaque)
{
    if (!Space.isValid() || Space == QColorSpace(QColorSpace::SRgb))
        return;
    QImage converted(Bits, Width, Height, Stride, Opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    converted.setColorSpace(Space);
    converted.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
}

} // namespace Corvanith::Platform
