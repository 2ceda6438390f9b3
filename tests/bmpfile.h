#pragma once
// BMP files made by hand: Qt writes neither top-down rows, compressed rows,
// 16 or 32 bits, nor a header without pixels.
#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr uint32_t BmpUncompressed = 0;
inline constexpr uint32_t BmpRle8 = 1;
inline constexpr uint32_t BmpRle4 = 2;
inline constexpr uint32_t BmpBitFields = 3;

// A file header and a 40-byte info header, then Colors (the palette as
// $00RRGGBB, or the red, green and blue masks for BmpBitFields) and Data as
// the rows or runs. A negative Height marks the rows as stored top-down.
inline std::vector<uint8_t> BmpFile(int32_t Width, int32_t Height, uint16_t BitCount, uint32_t Compression,
                                    const std::vector<uint32_t>& Colors, const std::vector<uint8_t>& Data)
{
    std::vector<uint8_t> file(54, 0);
    const auto put = [&file](size_t At, uint32_t Value) {
        for (size_t i = 0; i < 4; ++i)
            file[At + i] = uint8_t(Value >> (8 * i));
    };
    const auto offset = uint32_t(54 + Colors.size() * 4);
    file[0] = 'B';
    file[1] = 'M';
    put(2, uint32_t(offset + Data.size()));
    put(10, offset);
    put(14, 40);
    put(18, uint32_t(Width));
    put(22, uint32_t(Height));
    file[26] = 1;
    file[28] = uint8_t(BitCount);
    put(30, Compression);
    put(34, uint32_t(Data.size()));
    if (Compression != BmpBitFields)
        put(46, uint32_t(Colors.size()));
    for (uint32_t c : Colors)
        file.insert(file.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), uint8_t(c >> 24)});
    file.insert(file.end(), Data.begin(), Data.end());
    return file;
}
