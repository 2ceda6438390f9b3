#pragma once
// Handing decoded pixels over as straight ARGB in the caller's buffer: what
// every reader does once its format's own work is done.
#include <QColorSpace>
#include <QImage>

#include <cstdint>

namespace Corvanith::Platform {

// Image's pixels as straight ARGB into Bits, Stride bytes a row, alpha 255
// when Image has no alpha channel, converted a band of rows at a time, so a
// picture in another format never has a second full-size copy. Image may lie
// at the start of Bits with its own, never wider, rows. EOutOfMemory when a
// band cannot be converted.
void ConvertRows(const QImage& Image, uint8_t* Bits, int32_t Stride);

// Sets every alpha byte of Width x Height pixels in Bits to 255.
void SetOpaque(uint8_t* Bits, int32_t Stride, int32_t Width, int32_t Height);

// Width x Height pixels in Bits, as Space gives them, matched to sRGB where
// they lie; nothing to do without a profile or for sRGB itself.
void MatchColoursInBuffer(const QColorSpace& Space, uint8_t* Bits, int32_t Width, int32_t Height, int32_t Stride,
                          bool Opaque);

} // namespace Corvanith::Platform
