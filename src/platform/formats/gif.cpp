#include "platform/formats/gif.h"

#include "platform/streamcursor.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace Corvanith::Platform {

namespace {

// The stream is read this many bytes at a time; progress follows each read.
constexpr size_t InputBufferSize = 32 << 10;

constexpr int MaxCodeWidth = 12;
constexpr int MaxCodes = 1 << MaxCodeWidth;

// The LZW codes of a frame's sub-blocks, turned into colour indices. A code
// the table does not hold yet, or data that ends before the frame's pixels
// do, is damage: the frame is refused rather than shown in part.
class TLzwDecoder {
public:
    TLzwDecoder(TStreamCursor& Input, int CodeSize) : FInput(Input), FClear(1 << CodeSize), FMinWidth(CodeSize + 1)
    {
        for (int c = 0; c < FClear; ++c) {
            FSuffix[size_t(c)] = uint16_t(c);
            FLength[size_t(c)] = 1;
        }
    }

    // The next Count indices into Out.
    bool Fill(uint16_t* Out, size_t Count)
    {
        while (Count > 0) {
            if (FAt == FEnd && !Decode())
                return false;
            const size_t n = std::min(Count, FEnd - FAt);
            std::memcpy(Out, FString.data() + FAt, n * sizeof(uint16_t));
            Out += n;
            Count -= n;
            FAt += n;
        }
        return true;
    }

private:
    // Reads codes up to the next that stands for indices, and spells them.
    bool Decode()
    {
        for (;;) {
            int code = 0;
            if (!NextCode(code))
                return false;
            if (code == FClear) {
                FWidth = FMinWidth;
                FNext = FClear + 2;
                FPrevious = -1;
                continue;
            }
            if (code == FClear + 1)
                return false;
            size_t length = 0;
            if (FPrevious < 0) {
                if (code > FClear)
                    return false;
                length = Spell(code);
            } else if (code < FNext) {
                length = Spell(code);
            } else if (code == FNext && FNext < MaxCodes) {
                // The code being defined: the previous string and its own first index.
                length = Spell(FPrevious);
                FString[length++] = FString[0];
            } else {
                return false;
            }
            if (FPrevious >= 0 && FNext < MaxCodes) {
                FPrefix[size_t(FNext)] = uint16_t(FPrevious);
                FSuffix[size_t(FNext)] = FString[0];
                FLength[size_t(FNext)] = uint16_t(FLength[size_t(FPrevious)] + 1);
                // A full table keeps its codes until the next clear code.
                ++FNext;
            }
            // Codes widen once the next free code no longer fits in them:
            // with a minimum code size of 1 that is so from the first code.
            if (FNext == 1 << FWidth && FWidth < MaxCodeWidth)
                ++FWidth;
            FPrevious = code;
            FAt = 0;
            FEnd = length;
            return true;
        }
    }

    // Code's indices at the start of FString; their count.
    size_t Spell(int Code)
    {
        const size_t length = FLength[size_t(Code)];
        for (size_t at = length; at > 0; Code = FPrefix[size_t(Code)])
            FString[--at] = FSuffix[size_t(Code)];
        return length;
    }

    // Codes are packed least significant bit first into sub-blocks of up
    // to 255 bytes; an empty one ends them.
    bool NextCode(int& Code)
    {
        while (FBitCount < FWidth) {
            if (FBlockLeft == 0) {
                const int size = FInput.Next();
                if (size <= 0)
                    return false;
                FBlockLeft = size;
            }
            const int b = FInput.Next();
            if (b < 0)
                return false;
            --FBlockLeft;
            FBits |= uint32_t(b) << FBitCount;
            FBitCount += 8;
        }
        Code = int(FBits & ((1u << FWidth) - 1));
        FBits >>= FWidth;
        FBitCount -= FWidth;
        return true;
    }

    TStreamCursor& FInput;
    const int FClear;
    const int FMinWidth;
    int FWidth = FMinWidth;
    int FNext = FClear + 2;
    int FPrevious = -1;
    uint32_t FBits = 0;
    int FBitCount = 0;
    int FBlockLeft = 0;
    std::array<uint16_t, MaxCodes> FPrefix{};
    std::array<uint16_t, MaxCodes> FSuffix{};
    std::array<uint16_t, MaxCodes> FLength{};
    // The indices of the last code, FAt to FEnd not yet handed out.
    std::array<uint16_t, MaxCodes> FString{};
    size_t FAt = 0;
    size_t FEnd = 0;
};

// Skips a run of sub-blocks up to the empty one that ends it; the bytes
// they held.
int64_t SkipSubBlocks(TStreamCursor& Input)
{
    int64_t bytes = 0;
    for (int size = Input.Next(); size > 0; size = Input.Next()) {
        bytes += size;
        Input.Skip(size);
    }
    return bytes;
}

} // namespace

TGifReader::TGifReader(IStream& Stream) : FInput(std::make_unique<TStreamCursor>(Stream, InputBufferSize))
{
    uint8_t head[13];
    if (!FInput->Read(head, sizeof(head)) ||
        (std::memcmp(head, "GIF87a", 6) != 0 && std::memcmp(head, "GIF89a", 6) != 0))
        return;
    const int32_t screenWidth = LittleEndian16(head + 6);
    const int32_t screenHeight = LittleEndian16(head + 8);
    std::array<uint8_t, 3 * 256> table{};
    size_t colours = 0;
    const auto readTable = [&](uint8_t Flags) {
        colours = (Flags & 0x80) != 0 ? size_t(2) << (Flags & 7) : 0;
        return FInput->Read(table.data(), 3 * colours);
    };
    if ((head[10] & 0x80) != 0 && !readTable(head[10]))
        return;
    // The last graphic control before the frame sets its transparent index.
    int transparent = -1;
    for (;;) {
        const int introducer = FInput->Next();
        if (introducer == 0x2C)
            break;
        // The trailer, or damage, before any frame.
        if (introducer != 0x21)
            return;
        constexpr int GraphicControl = 0xF9;
        if (FInput->Next() == GraphicControl) {
            // Its first sub-block: flags, delay and index.
            const int size = FInput->Next();
            if (size <= 0)
                continue;
            uint8_t control[4];
            const bool whole = size >= 4 && FInput->Read(control, sizeof(control));
            if (whole)
                transparent = (control[0] & 1) != 0 ? control[3] : -1;
            FInput->Skip(size - (whole ? int(sizeof(control)) : 0));
        }
        SkipSubBlocks(*FInput);
    }
    uint8_t frame[9];
    if (!FInput->Read(frame, sizeof(frame)) || ((frame[8] & 0x80) != 0 && !readTable(frame[8])))
        return;
    const int codeSize = FInput->Next();
    // Literals must leave room in the table for the codes made of them.
    if (codeSize < 1 || codeSize >= MaxCodeWidth)
        return;
    // Each code yields at most 4096 pixels and is at least one bit wider
    // than the minimum code size: a frame has a least size of data for the
    // pixels it claims, checked before anything of its size is allocated.
    const int64_t pixels = int64_t(LittleEndian16(frame + 4)) * LittleEndian16(frame + 6);
    const int64_t dataAt = FInput->Position();
    const int64_t dataBytes = SkipSubBlocks(*FInput);
    FInput->Seek(dataAt);
    if (dataBytes * 8 < (pixels + 4095) / 4096 * (codeSize + 1))
        return;
    FFrameWidth = LittleEndian16(frame + 4);
    FFrameHeight = LittleEndian16(frame + 6);
    if (FFrameWidth > screenWidth || FFrameHeight > screenHeight) {
        FWidth = FFrameWidth;
        FHeight = FFrameHeight;
    } else {
        FWidth = screenWidth;
        FHeight = screenHeight;
        FLeft = LittleEndian16(frame);
        FTop = LittleEndian16(frame + 2);
    }
    FInterlaced = (frame[8] & 0x40) != 0;
    FCodeSize = codeSize;
    for (size_t i = 0; i < colours; ++i)
        FColours[i] = 0xFF000000u | uint32_t(table[3 * i]) << 16 | uint32_t(table[3 * i + 1]) << 8 | table[3 * i + 2];
    // Its colour stays, as Qt's reader keeps it: only the alpha is 0.
    if (transparent >= 0)
        FColours[size_t(transparent)] &= 0x00FFFFFFu;
}

TGifReader::~TGifReader() = default;

bool TGifReader::Matches(TSignature Head)
{
    return Head.size() >= 6 && (std::memcmp(Head.data(), "GIF87a", 6) == 0 || std::memcmp(Head.data(), "GIF89a", 6) == 0);
}

bool TGifReader::Read(uint8_t* Bits, int32_t Stride)
{
    if (FWidth <= 0 || FHeight <= 0)
        return false;
    for (int32_t y = 0; y < FHeight; ++y)
        std::memset(Bits + int64_t(y) * Stride, 0, size_t(FWidth) * 4);
    FOpaque = false;
    if (FFrameWidth == 0 || FFrameHeight == 0)
        return true;
    // How many of the frame's columns lie on the picture.
    const int32_t shown = std::max(0, std::min(FFrameWidth, FWidth - FLeft));
    TLzwDecoder codes(*FInput, FCodeSize);
    std::vector<uint16_t> row(static_cast<size_t>(FFrameWidth));
    uint32_t alpha = 0xFF000000u;
    // Interlaced rows come every eighth from the first, every eighth from
    // the fifth, every fourth from the third, then every second from the
    // second.
    struct TPass {
        int32_t First, Step;
    };
    static constexpr TPass Interlaced[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
    static constexpr TPass Progressive[] = {{0, 1}};
    const TPass* const first = FInterlaced ? std::begin(Interlaced) : std::begin(Progressive);
    const TPass* const last = FInterlaced ? std::end(Interlaced) : std::end(Progressive);
    for (const TPass* pass = first; pass != last; ++pass)
        for (int32_t r = pass->First; r < FFrameHeight; r += pass->Step) {
            if (!codes.Fill(row.data(), row.size()))
                return false;
            const int32_t y = FTop + r;
            if (y >= FHeight || shown == 0)
                continue;
            uint32_t* out = reinterpret_cast<uint32_t*>(Bits + int64_t(y) * Stride) + FLeft;
            for (int32_t x = 0; x < shown; ++x) {
                const uint32_t c = FColours[row[size_t(x)]];
                out[x] = c;
                alpha &= c;
            }
        }
    FOpaque = FLeft == 0 && FTop == 0 && shown == FWidth && FFrameHeight >= FHeight && alpha == 0xFF000000u;
    return true;
}

} // namespace Corvanith::Platform
