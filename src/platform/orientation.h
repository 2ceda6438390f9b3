#pragma once
// Pictures stored turned or mirrored, as a camera or scanner writes them with
// an orientation of 1 to 8 (TIFF's Orientation tag, the same tag in a JPEG's
// Exif block), are shown upright: the readers write each stored row into its
// upright place, so no second full-size copy is made.
#include <cstdint>
#include <utility>

namespace Corvanith::Platform {

// The eight orientations, by where the stored first row and first column go
// when shown. 1 is as stored; 2 mirrored left to right; 3 turned 180
// degrees; 4 mirrored top to bottom; 5 mirrored along the main diagonal
// (rows become columns); 6 turned 90 degrees clockwise; 7 mirrored along
// the other diagonal; 8 turned 90 degrees counter-clockwise.
enum class TOrientation : uint8_t {
    Upright = 1,
    Mirrored = 2,
    Turned180 = 3,
    MirroredVertically = 4,
    Transposed = 5,
    TurnedClockwise = 6,
    Transversed = 7,
    TurnedCounterClockwise = 8,
};

// Value as an orientation; anything outside 1 to 8 is Upright.
TOrientation OrientationOf(uint32_t Value);

// The shown size of a picture stored as Width x Height.
std::pair<int32_t, int32_t> OrientedSize(TOrientation Orientation, int32_t Width, int32_t Height);

// Writes a picture stored as Width x Height 32-bit pixels into its upright
// place in a buffer of the shown size, Stride bytes a row.
class TOrientedRows {
public:
    TOrientedRows(TOrientation Orientation, int32_t Width, int32_t Height, uint8_t* Bits, int32_t Stride);

    // Where stored row Y can be written as it is, Width pixels from left to
    // right; nullptr when the orientation does not keep rows as rows in
    // their order, and the row must be handed to Put.
    uint32_t* DirectRow(int32_t Y) const;

    // Stored rows First to First + Count - 1, each Width pixels, RowPixels
    // pixels apart in Pixels, into their upright places. Handing several
    // rows at once lets a turned picture be written a block at a time.
    void Put(int32_t First, int32_t Count, const uint32_t* Pixels, int64_t RowPixels);

private:
    TOrientation FOrientation;
    int32_t FWidth;
    int32_t FHeight;
    uint8_t* FBits;
    int32_t FStride;
};

} // namespace Corvanith::Platform
