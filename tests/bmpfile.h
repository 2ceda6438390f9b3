#pragma once
// BMP files made by hand: Qt writes neither top-down rows, compressed rows,
// 16 or 32 bits, other headers, nor a header without pixels.
#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr uint32_t BmpUncompressed = 0;
inline constexpr uint32_t BmpRle8 = 1;
inline constexpr uint32_t BmpRle4 = 2;
inline constexpr uint32_t BmpBitFields = 3;

// A file header and an info header of HeaderSize bytes, then Colors (the
// palette as $00RRGGBB, or the red, green and blue masks for BmpBitFields),
// Gap bytes, and Data as the rows or runs. A negative Height marks the rows
// as stored top-down. A header of 108 bytes or more holds the masks itself,
// the fourth being alpha's; one of 12 bytes is the oldest kind, with 16-bit
// sizes and 3-byte palette entries.
inline std::vector<uint8_t> BmpFile(int32_t Width, int32_t Height, uint16_t BitCount, uint32_t Compression,
                                    const std::vector<uint32_t>& Colors, const std::vector<uint8_t>& Data,
                                    uint32_t HeaderSize = 40, uint32_t Gap = 0)
{
    std::vector<uint8_t> file(14 + HeaderSize, 0);
    const auto put = [&file](size_t At, uint32_t Value, size_t Bytes) {
        for (size_t i = 0; i < Bytes; ++i)
            file[At + i] = uint8_t(Value >> (8 * i));
    };
    const bool core = HeaderSize == 12;
    const bool masksInHeader = HeaderSize >= 108 && Compression == BmpBitFields;
    put(14, HeaderSize, 4);
    if (core) {
        put(18, uint32_t(Width), 2);
        put(20, uint32_t(Height), 2);
        file[22] = 1;
        file[24] = uint8_t(BitCount);
    } else {
        put(18, uint32_t(Width), 4);
        put(22, uint32_t(Height), 4);
        file[26] = 1;
        file[28] = uint8_t(BitCount);
        put(30, Compression, 4);
        put(34, uint32_t(Data.size()), 4);
        if (Compression != BmpBitFields)
            put(46, uint32_t(Colors.size()), 4);
    }
    for (size_t i = 0; masksInHeader && i < Colors.size(); ++i)
        put(54 + 4 * i, Colors[i], 4);
    for (size_t i = 0; !masksInHeader && i < Colors.size(); ++i) {
        const uint32_t c = Colors[i];
        file.insert(file.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
        if (!core)
            file.push_back(uint8_t(c >> 24));
    }
    file.resize(file.size() + Gap, 0);
    put(10, uint32_t(file.size()), 4);
    file.insert(file.end(), Data.begin(), Data.end());
    file[0] = 'B';
    file[1] = 'M';
    put(2, uint32_t(file.size()), 4);
    return file;
}
