#include "platform/formats/exif.h"
#include "platform/formats/mutations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace Corvanith::Platform;
using namespace std::literals;

namespace {

using TBytes = std::vector<uint8_t>;

enum class TOrder { Intel, Motorola };

constexpr uint16_t OrientationTag = 0x0112;
constexpr uint16_t Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5;

// An Exif block written field by field in either byte order.
class TBlock {
public:
    explicit TBlock(TOrder Order) : FBigEndian(Order == TOrder::Motorola) {}

    TBlock& Text(std::string_view Text)
    {
        FBytes.insert(FBytes.end(), Text.begin(), Text.end());
        return *this;
    }
    TBlock& U16(uint32_t Value)
    {
        const uint8_t high = uint8_t(Value >> 8), low = uint8_t(Value);
        FBytes.insert(FBytes.end(), {FBigEndian ? high : low, FBigEndian ? low : high});
        return *this;
    }
    TBlock& U32(uint32_t Value) { return FBigEndian ? U16(Value >> 16).U16(Value) : U16(Value).U16(Value >> 16); }
    // An entry whose value field holds a SHORT in its first two bytes.
    TBlock& ShortEntry(uint16_t Tag, uint32_t Count, uint16_t Value)
    {
        return U16(Tag).U16(Short).U32(Count).U16(Value).U16(0);
    }
    // An entry whose value field holds Field as four bytes.
    TBlock& Entry(uint16_t Tag, uint16_t Type, uint32_t Count, uint32_t Field)
    {
        return U16(Tag).U16(Type).U32(Count).U32(Field);
    }

    operator TBytes() const { return FBytes; }

private:
    bool FBigEndian;
    TBytes FBytes;
};

// The identifier and the TIFF header, giving IFD0 at Ifd0.
TBlock Head(TOrder Order, uint32_t Ifd0 = 8)
{
    return TBlock(Order).Text("Exif\0\0"sv).Text(Order == TOrder::Intel ? "II*\0"sv : "MM\0*"sv).U32(Ifd0);
}

// A block whose IFD0 holds the orientation tag alone, and no IFD1.
TBytes Oriented(TOrder Order, uint16_t Value)
{
    return Head(Order).U16(1).ShortEntry(OrientationTag, 1, Value).U32(0);
}

TBytes Patched(TBytes Block, size_t At, std::string_view With)
{
    std::copy(With.begin(), With.end(), Block.begin() + At);
    return Block;
}

// Offsets within a block: the TIFF header starts after "Exif\0\0".
constexpr size_t TiffStart = 6;
constexpr size_t Ifd0Field = TiffStart + 4;
constexpr size_t FirstEntry = TiffStart + 8 + 2;

// The APP1 payload exiftool 12.57 wrote with `exiftool -Orientation#=6` into
// an 8 x 8 grey JPEG from libjpeg, which had none: big-endian, IFD0 of five
// entries, the rationals after it.
const uint8_t ExiftoolBlock[] = {
    0x45, 0x78, 0x69, 0x66, 0x00, 0x00, 0x4d, 0x4d, 0x00, 0x2a, 0x00, 0x00, 0x00, 0x08, 0x00, 0x05,
    0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x06, 0x00, 0x00, 0x01, 0x1a, 0x00, 0x05,
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x4a, 0x01, 0x1b, 0x00, 0x05, 0x00, 0x00, 0x00, 0x01,
    0x00, 0x00, 0x00, 0x52, 0x01, 0x28, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,
    0x02, 0x13, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,
};

struct TCase {
    std::string Name;
    TBytes Block;
    TOrientation Expected = TOrientation::Upright;
};

// Each block is read from a buffer of its own size, so that a read past its
// end is one the sanitizer sees.
TOrientation Read(const TBytes& Block) { return ExifOrientation(TBytes(Block)); }

} // namespace

TEST(ExifOrientation, ReadsTheTagOfWellFormedBlocks)
{
    std::vector<TCase> cases;
    for (const TOrder order : {TOrder::Intel, TOrder::Motorola})
        for (uint16_t value = 1; value <= 8; ++value)
            cases.push_back({(order == TOrder::Intel ? "II value "s : "MM value "s) + std::to_string(value),
                             Oriented(order, value), TOrientation(value)});
    for (const TOrder order : {TOrder::Intel, TOrder::Motorola}) {
        const std::string name = order == TOrder::Intel ? "II " : "MM ";
        // Make, then the orientation, then a resolution whose value lies after IFD0.
        cases.push_back({name + "tag after others",
                         Head(order)
                             .U16(3)
                             .Entry(0x010F, Ascii, 4, 0x4B4F4E00)
                             .ShortEntry(OrientationTag, 1, 8)
                             .Entry(0x011A, Rational, 1, 8 + 2 + 3 * 12 + 4)
                             .U32(0)
                             .U32(72)
                             .U32(1),
                         TOrientation::TurnedCounterClockwise});
        cases.push_back({name + "other tags only",
                         Head(order).U16(2).ShortEntry(0x0128, 1, 2).ShortEntry(0x0213, 1, 1).U32(0)});
        // Padding between the header and IFD0.
        cases.push_back({name + "IFD0 further on",
                         Head(order, 16).U32(0xDEADBEEF).U32(0).U16(1).ShortEntry(OrientationTag, 1, 3).U32(0),
                         TOrientation::Turned180});
        // The thumbnail's directory, IFD1, does not speak for the picture.
        cases.push_back({name + "IFD1 after IFD0",
                         Head(order)
                             .U16(1)
                             .ShortEntry(OrientationTag, 1, 5)
                             .U32(8 + 2 + 12 + 4)
                             .U16(1)
                             .ShortEntry(OrientationTag, 1, 3)
                             .U32(0),
                         TOrientation::Transposed});
        cases.push_back({name + "orientation only in IFD1",
                         Head(order)
                             .U16(1)
                             .ShortEntry(0x0128, 1, 2)
                             .U32(8 + 2 + 12 + 4)
                             .U16(1)
                             .ShortEntry(OrientationTag, 1, 3)
                             .U32(0)});
        // Two SHORTs fit in the entry; readers take the first.
        cases.push_back({name + "count of 2",
                         Head(order).U16(1).U16(OrientationTag).U16(Short).U32(2).U16(6).U16(3).U32(0),
                         TOrientation::TurnedClockwise});
        cases.push_back({name + "bytes after the block", Oriented(order, 2), TOrientation::Mirrored});
        cases.back().Block.insert(cases.back().Block.end(), 100, 0xFF);
    }
    cases.push_back({"written by exiftool", TBytes(std::begin(ExiftoolBlock), std::end(ExiftoolBlock)),
                     TOrientation::TurnedClockwise});
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Read(c.Block), c.Expected);
    }
}

TEST(ExifOrientation, DamagedBlocksGiveUpright)
{
    std::vector<TCase> cases;
    for (const TOrder order : {TOrder::Intel, TOrder::Motorola}) {
        const std::string name = order == TOrder::Intel ? "II " : "MM ";
        const TBytes good = Oriented(order, 6);
        ASSERT_EQ(Read(good), TOrientation::TurnedClockwise);
        for (size_t length = 0; length < good.size(); ++length)
            cases.push_back({name + "cut to " + std::to_string(length), TBytes(good.begin(), good.begin() + length)});
        const auto withIfd0 = [&](uint32_t Offset) {
            TBytes block = good;
            const TBytes field = TBlock(order).U32(Offset);
            std::copy(field.begin(), field.end(), block.begin() + Ifd0Field);
            return block;
        };
        const uint32_t tiffSize = uint32_t(good.size() - TiffStart);
        cases.push_back({name + "IFD0 at the end", withIfd0(tiffSize)});
        cases.push_back({name + "IFD0 past the end", withIfd0(tiffSize + 1)});
        cases.push_back({name + "IFD0 at 0xFFFFFFFF", withIfd0(0xFFFFFFFF)});
        // Offsets whose sums with the entries' sizes wrap around 2^32.
        cases.push_back({name + "IFD0 at 0xFFFFFFFE", withIfd0(0xFFFFFFFE)});
        cases.push_back({name + "IFD0 at 0xFFFFFFF0", withIfd0(0xFFFFFFF0)});
        cases.push_back({name + "IFD0 at 2^31", withIfd0(0x80000000)});
        cases.push_back({name + "IFD0 at 0", withIfd0(0)});
        cases.push_back({name + "IFD0 in the header", withIfd0(4)});
        cases.push_back({name + "65535 entries, one there",
                         Head(order).U16(65535).ShortEntry(OrientationTag, 1, 6).U32(0)});
        cases.push_back({name + "2 entries, one there", Head(order).U16(2).ShortEntry(OrientationTag, 1, 6).U32(0)});
        cases.push_back({name + "no offset of IFD1", Head(order).U16(1).ShortEntry(OrientationTag, 1, 6)});
        cases.push_back({name + "identifier exif", Patched(good, 0, "exif")});
        cases.push_back({name + "identifier Exif\\0\\xFF", Patched(good, 5, "\xFF")});
        cases.push_back({name + "TIFF header without identifier", TBytes(good.begin() + TiffStart, good.end())});
        cases.push_back({name + "magic II\\0*", Patched(good, TiffStart, "II\0*"sv)});
        cases.push_back({name + "magic MM*\\0", Patched(good, TiffStart, "MM*\0"sv)});
        cases.push_back({name + "magic IM", Patched(good, TiffStart, order == TOrder::Intel ? "IM" : "MI")});
        cases.push_back({name + "BigTIFF", Patched(good, TiffStart + 2, order == TOrder::Intel ? "+\0"sv : "\0+"sv)});
        // In little-endian order a LONG of 6 begins with the same bytes as a SHORT of 6.
        cases.push_back({name + "LONG", Head(order).U16(1).Entry(OrientationTag, Long, 1, 6).U32(0)});
        cases.push_back({name + "BYTE", Head(order).U16(1).Entry(OrientationTag, Byte, 1, 0x06060606).U32(0)});
        cases.push_back({name + "SSHORT", Head(order).U16(1).U16(OrientationTag).U16(8).U32(1).U16(6).U16(0).U32(0)});
        cases.push_back({name + "count 0", Head(order).U16(1).ShortEntry(OrientationTag, 0, 6).U32(0)});
        // Three SHORTs lie elsewhere, at the offset the value field gives.
        cases.push_back({name + "count 3", Head(order).U16(1).ShortEntry(OrientationTag, 3, 6).U32(0)});
        cases.push_back(
            {name + "count 0xFFFFFFFF", Head(order).U16(1).ShortEntry(OrientationTag, 0xFFFFFFFF, 6).U32(0)});
        for (const uint16_t value : {0, 9, 0x0106, 0x0601, 0xFFFF})
            cases.push_back({name + "value " + std::to_string(value), Oriented(order, value)});
        // Duplicates are not TIFF; the first of them decides.
        cases.push_back({name + "a good tag after a damaged one",
                         Head(order)
                             .U16(2)
                             .Entry(OrientationTag, Long, 1, 6)
                             .ShortEntry(OrientationTag, 1, 6)
                             .U32(0)});
    }
    // In big-endian order an IFD0 at 6 reads its count, 6, from the offset's
    // own low bytes, and its entries from the directory at 8.
    TBytes overlapping = Head(TOrder::Motorola, 6).U16(OrientationTag).U16(Short).U32(1).U16(6).U16(0);
    overlapping.resize(TiffStart + 6 + 2 + 6 * 12 + 4);
    cases.push_back({"MM IFD0 overlapping the header", overlapping});
    const TBytes real(std::begin(ExiftoolBlock), std::end(ExiftoolBlock));
    for (size_t length = 0; length < FirstEntry + 5 * 12 + 4; ++length)
        cases.push_back({"exiftool cut to " + std::to_string(length), TBytes(real.begin(), real.begin() + length)});
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Read(c.Block), TOrientation::Upright);
    }
}

// Blocks mutated from well-formed ones with a fixed seed, so that a failure
// comes back at each run. Each is read from a buffer of its own size, which
// the sanitizer build watches; whatever it holds gives an orientation of 1 to
// 8, and one that is not Upright does not change when bytes follow the block,
// as nothing past the block was read. CORVANITH_EXIF_MUTATIONS sets how many
// blocks, for a longer run by hand.
TEST(ExifOrientation, MutatedBlocksAreReadWithinThemselves)
{
    const char* asked = std::getenv("CORVANITH_EXIF_MUTATIONS");
    const long inputs = asked ? std::strtol(asked, nullptr, 10) : 20000;
    const std::vector<TBytes> seeds = {
        Oriented(TOrder::Intel, 6),
        Oriented(TOrder::Motorola, 8),
        Head(TOrder::Intel)
            .U16(3)
            .Entry(0x010F, Ascii, 4, 0)
            .ShortEntry(OrientationTag, 1, 3)
            .ShortEntry(0x0213, 1, 1)
            .U32(0),
        Head(TOrder::Motorola)
            .U16(2)
            .ShortEntry(0x0128, 1, 2)
            .ShortEntry(OrientationTag, 2, 5)
            .U32(8 + 2 + 2 * 12 + 4)
            .U16(1)
            .ShortEntry(OrientationTag, 1, 7)
            .U32(0),
        TBytes(std::begin(ExiftoolBlock), std::end(ExiftoolBlock)),
    };
    // Values that sit on the edges of the checks: counts, offsets near the
    // block's end and near 2^32, types and orientations just in and out of range.
    Corvanith::Tests::TMutator mutator(20240611, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 0x0112, 0x7FFF, 0xFFFF, 0x10000,
                                                  0x7FFFFFFF, 0x80000000, 0xFFFFFFF4, 0xFFFFFFF8, 0xFFFFFFFE,
                                                  0xFFFFFFFF});
    long oriented = 0;
    for (long i = 0; i < inputs; ++i) {
        TBytes block = seeds[mutator.Below(seeds.size())];
        for (size_t changes = 1 + mutator.Below(4); changes > 0; --changes)
            mutator.Mutate(block);
        const TOrientation orientation = Read(block);
        ASSERT_GE(uint8_t(orientation), 1) << "input " << i;
        ASSERT_LE(uint8_t(orientation), 8) << "input " << i;
        if (orientation == TOrientation::Upright)
            continue;
        ++oriented;
        block.insert(block.end(), 16, 0xFF);
        ASSERT_EQ(Read(block), orientation) << "input " << i;
    }
    // The mutations must leave enough blocks whole for the deep paths to run.
    EXPECT_GT(oriented, inputs / 10);
    RecordProperty("NotUpright", std::to_string(oriented));
}
