#pragma once
// Cheap checks of a picture file's own structure, made before any pixel
// buffer is allocated. Qt's readers trust the lengths and sizes a file
// states: a chunk that claims 2 GB is allocated as such, and a frame that
// claims 15000 x 15000 pixels is decoded as such from a few hundred bytes.
// The probe walks the file's structure without reading the pixel data into
// memory and refuses a file that cannot hold what it claims, by each
// format's own least cost of coding it; it never refuses a valid file.
#include "platform/streams.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace Corvanith::Platform {

enum class TImageKind : uint8_t { Png, Jpeg, Gif, Bmp, Tiff };

struct TImageProbe {
    // False: the file cannot be a valid picture of the size it claims.
    bool Plausible = true;
    // A 16-bit RGB PNG with a transparent colour: the key, as libpng takes
    // it, and where the "tRNS" chunks before the image data lie (from the
    // picture's start, in order, adjacent ones joined). Qt reads such a file
    // wrongly while libpng takes a key, so the decoder hides every one of
    // them and applies the key itself.
    struct TByteRange {
        int64_t Offset;
        int64_t Length;
    };
    std::optional<std::array<uint16_t, 3>> ColourKey;
    std::vector<TByteRange> KeyChunks;
    // A BMP of 16-bit pixels or of bit fields: the red, green, blue and alpha
    // masks its pixels are read by. Qt's reader widens a field narrower than
    // 8 bits by a shift alone, so the decoder stretches it to the full range.
    std::optional<std::array<uint32_t, 4>> BmpMasks;
    // A grey TIFF with an alpha sample, which Qt's reader gets wrong: the
    // decoder reads it through libtiff itself.
    bool TiffGreyAlpha = false;
};

// Probes the picture of the given kind at the stream's current position,
// before any reader has seen it; the position afterwards is undefined.
TImageProbe ProbeImage(IStream& Stream, TImageKind Kind);

} // namespace Corvanith::Platform
