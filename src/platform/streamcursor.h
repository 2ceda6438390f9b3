#pragma once
// A cursor over a picture file in a stream, for the readers that walk a
// file's structure themselves, and the byte orders of its fields.
#include "platform/streams.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace Corvanith::Platform {

inline uint16_t BigEndian16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t BigEndian32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint16_t LittleEndian16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t LittleEndian32(const uint8_t* p) { return uint32_t(LittleEndian16(p)) | uint32_t(LittleEndian16(p + 2)) << 16; }

// Reads the stream at offsets from the picture's start through a buffer of
// its own; a seek beyond the buffer only moves, so walking from header to
// header never reads the data between them. Every fill seeks the stream
// first: two cursors over one stream do not disturb each other.
class TStreamCursor {
public:
    TStreamCursor(IStream& Stream, size_t BufferSize) : FStream(Stream), FBuffer(BufferSize)
    {
        TStatStg status{};
        if (Succeeded(FStream.Seek(0, 1, &FBase)) && Succeeded(FStream.Stat(&status, 0)) && status.cbSize > FBase)
            FSize = int64_t(status.cbSize - FBase);
    }

    // Bytes from the picture's start to the end of the stream.
    int64_t Size() const { return FSize; }
    int64_t Position() const { return FBufferStart + int64_t(FNext); }

    void Seek(int64_t Position)
    {
        if (Position >= FBufferStart && Position <= FBufferStart + int64_t(FFilled)) {
            FNext = size_t(Position - FBufferStart);
            return;
        }
        FBufferStart = Position;
        FNext = FFilled = 0;
    }
    void Skip(int64_t Count) { Seek(Position() + Count); }

    // The next byte, or -1 at the end of the stream.
    int Next()
    {
        if (FNext == FFilled && !Fill())
            return -1;
        return FBuffer[FNext++];
    }

    bool Read(uint8_t* Data, size_t Count)
    {
        for (size_t i = 0; i < Count; ++i) {
            const int b = Next();
            if (b < 0)
                return false;
            Data[i] = uint8_t(b);
        }
        return true;
    }

private:
    bool Fill()
    {
        FBufferStart += int64_t(FFilled);
        FNext = FFilled = 0;
        if (FBufferStart >= FSize ||
            !Succeeded(FStream.Seek(int64_t(FBase) + FBufferStart, 0, nullptr)))
            return false;
        uint32_t got = 0;
        const auto asked = uint32_t(std::min<int64_t>(int64_t(FBuffer.size()), FSize - FBufferStart));
        if (!Succeeded(FStream.Read(FBuffer.data(), asked, &got)))
            return false;
        FFilled = std::min<size_t>(got, asked);
        return FFilled > 0;
    }

    IStream& FStream;
    std::vector<uint8_t> FBuffer;
    uint64_t FBase = 0;
    int64_t FSize = 0;
    int64_t FBufferStart = 0;
    size_t FNext = 0;
    size_t FFilled = 0;
};

} // namespace Corvanith::Platform

