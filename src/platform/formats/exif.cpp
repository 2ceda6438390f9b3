#include "platform/formats/exif.h"

#include "platform/streamcursor.h"

#include <algorithm>
#include <string_view>

namespace Corvanith::Platform {

namespace {

using namespace std::literals;

constexpr std::string_view Identifier = "Exif\0\0"sv;
constexpr uint64_t TiffHeaderSize = 8;
constexpr uint64_t EntrySize = 12;
constexpr uint16_t OrientationTag = 0x0112;
constexpr uint16_t ShortType = 3;
// As many SHORTs as the four bytes of an entry's value field hold.
constexpr uint32_t ShortsInEntry = 2;

bool StartsWith(std::span<const uint8_t> Bytes, std::string_view Text)
{
    return Bytes.size() >= Text.size() && std::equal(Text.begin(), Text.end(), Bytes.begin(),
                                                     [](char A, uint8_t B) { return uint8_t(A) == B; });
}

} // namespace

bool IsExifBlock(std::span<const uint8_t> App1) { return StartsWith(App1, Identifier); }

TOrientation ExifOrientation(std::span<const uint8_t> App1)
{
    if (!IsExifBlock(App1))
        return TOrientation::Upright;
    // Offsets in the block count from the TIFF header.
    const std::span<const uint8_t> tiff = App1.subspan(Identifier.size());
    if (tiff.size() < TiffHeaderSize)
        return TOrientation::Upright;
    const bool bigEndian = StartsWith(tiff, "MM\0*"sv);
    if (!bigEndian && !StartsWith(tiff, "II*\0"sv))
        return TOrientation::Upright;
    const auto u16 = [&](uint64_t At) {
        return bigEndian ? BigEndian16(tiff.data() + At) : LittleEndian16(tiff.data() + At);
    };
    const auto u32 = [&](uint64_t At) {
        return bigEndian ? BigEndian32(tiff.data() + At) : LittleEndian32(tiff.data() + At);
    };

    // IFD0: its entry count, its entries and the offset of IFD1 after them,
    // all after the header and within the block. The sums are of a 32-bit
    // offset and at most 65535 entries, so 64 bits hold them.
    const uint64_t directory = u32(4);
    if (directory < TiffHeaderSize || directory + 2 > tiff.size())
        return TOrientation::Upright;
    const uint64_t count = u16(directory);
    const uint64_t entries = directory + 2;
    if (entries + count * EntrySize + 4 > tiff.size())
        return TOrientation::Upright;
    for (uint64_t entry = entries; entry < entries + count * EntrySize; entry += EntrySize) {
        if (u16(entry) != OrientationTag)
            continue;
        // A directory holds each tag once; a second one is not looked for.
        const uint32_t values = u32(entry + 4);
        if (u16(entry + 2) != ShortType || values < 1 || values > ShortsInEntry)
            return TOrientation::Upright;
        return OrientationOf(u16(entry + 8));
    }
    return TOrientation::Upright;
}

} // namespace Corvanith::Platform
