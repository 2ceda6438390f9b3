#pragma once
// What every picture format's reader offers the decoder, and the sizes the
// decoder takes. Each format keeps its signature check, its structure check,
// its reader and its quirks in one unit beside this header; the decoder
// chooses the unit by signature.
#include "platform/streams.h"

#include <cstdint>
#include <span>
#include <string>

namespace Corvanith::Platform {

// Largest picture the decoder accepts, in pixels per side of a square.
inline constexpr int32_t MaxDecodedSide = 16000;
// Longest side the decoder accepts, whatever the other: the most JPEG and GIF
// can store, well within what PNG and BMP write back and the view draws.
inline constexpr int32_t MaxDecodedExtent = 65535;

// Whether the decoder takes a picture of Width x Height: every reader asks
// before it allocates or decodes anything of that size.
inline bool DecodedSizeAllowed(int64_t Width, int64_t Height)
{
    return Width > 0 && Height > 0 && Width <= MaxDecodedExtent && Height <= MaxDecodedExtent &&
           Width * Height <= int64_t(MaxDecodedSide) * MaxDecodedSide;
}

// One picture, read from the stream position at which the reader was made.
// The reader's constructor reads the header and checks the file's structure,
// allocating nothing of the picture's size: a file that cannot be a valid
// picture of the size it claims, or that the reader cannot decode, gives a
// size of 0 x 0. The size is the picture as shown: turned upright where the
// file says how it was stored.
class TFormatReader {
public:
    TFormatReader() = default;
    TFormatReader(const TFormatReader&) = delete;
    TFormatReader& operator=(const TFormatReader&) = delete;
    virtual ~TFormatReader() = default;

    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }

    // Width x Height straight ARGB pixels (B, G, R, A bytes) into Bits,
    // Stride bytes a row, matched to sRGB; false when the data does not
    // decode or ends before the picture does. Called once; the stream's
    // position is undefined afterwards.
    virtual bool Read(uint8_t* Bits, int32_t Stride) = 0;
    // After a successful Read: every alpha byte is 255.
    bool Opaque() const { return FOpaque; }
    // Why the file was refused or failed to decode, in the words of the
    // library that read it where it gave any; empty otherwise. Nothing a
    // reader meets is written to the terminal.
    const std::string& Failure() const { return FFailure; }

protected:
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    bool FOpaque = false;
    std::string FFailure;
};

// The first bytes of a file, as many as every signature needs (fewer when
// the file is shorter).
inline constexpr size_t SignatureBytes = 8;
using TSignature = std::span<const uint8_t>;

} // namespace Corvanith::Platform
