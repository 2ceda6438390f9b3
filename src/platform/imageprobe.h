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

namespace Corvanith::Platform {

enum class TImageKind : uint8_t { Png, Jpeg, Gif, Bmp, Tiff };

struct TImageProbe {
    // False: the file cannot be a valid picture of the size it claims.
    bool Plausible = true;
    // A 16-bit RGB PNG with a transparent colour: the key, and where its
    // "tRNS" chunk lies (from the picture's start). Qt reads such a file
    // wrongly while it sees that chunk, so the decoder hides the chunk and
    // applies the key itself.
    std::optional<std::array<uint16_t, 3>> ColourKey;
    int64_t KeyChunkOffset = 0;
    int64_t KeyChunkLength = 0;
};

// Probes the picture of the given kind at the stream's current position,
// before any reader has seen it; the position afterwards is undefined.
TImageProbe ProbeImage(IStream& Stream, TImageKind Kind);

} // namespace Corvanith::Platform
