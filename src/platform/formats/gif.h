#pragma once
// The first frame of a GIF, decoded by a reader of our own straight into the
// caller's buffer, a row at a time: no picture-sized copy beside it, and
// every pixel defined whatever the file holds.
#include "platform/formats/format.h"

#include <array>
#include <cstdint>
#include <memory>

namespace Corvanith::Platform {

class TStreamCursor;

// A GIF shows as its first frame in its place on the logical screen.
// Wherever the frame leaves the screen uncovered, codes the transparent
// index, or codes an index beyond its colour table, the picture is
// transparent, as browsers show it; what of the frame lies off the screen is
// cut off. A first frame wider or higher than the screen marks a screen size
// that is wrong (some writers leave it 0 x 0): the picture then has the
// frame's size, as browsers take it.
class TGifReader final : public TFormatReader {
public:
    // Reads the header up to the first frame's pixel data, from the
    // stream's current position on, and walks that data's sub-blocks: a
    // frame whose data is too short for its pixels is not shown: the
    // picture's size is 0 x 0 then, and when the file has no frame to show.
    explicit TGifReader(IStream& Stream);
    ~TGifReader() override;

    static bool Matches(TSignature Head);

    // False when the frame's data is damaged or ends before its pixels do.
    // Once the frame is complete, nothing after it is read.
    bool Read(uint8_t* Bits, int32_t Stride) override;

private:
    std::unique_ptr<TStreamCursor> FInput;
    // The frame, in picture coordinates.
    int32_t FLeft = 0;
    int32_t FTop = 0;
    int32_t FFrameWidth = 0;
    int32_t FFrameHeight = 0;
    bool FInterlaced = false;
    int FCodeSize = 0;
    // Straight ARGB for every index a code can hold: codes of up to 11 bits.
    std::array<uint32_t, 2048> FColours{};
};

} // namespace Corvanith::Platform
