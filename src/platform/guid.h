#pragma once
// Format identifiers: the well-known image-format GUIDs by which pictures
// record what they were read from.
#include <compare>
#include <cstdint>

namespace Corvanith::Platform {

struct TGuid {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};
    friend bool operator==(const TGuid&, const TGuid&) = default;
};

// {B96B3CA9-0728-11D3-9D7B-0000F81EF32E} and its siblings differ only in Data1.
constexpr TGuid ImageFormatGuid(uint32_t Data1)
{
    return {Data1, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
}

inline constexpr TGuid ImageFormatUndefined = ImageFormatGuid(0xB96B3CA9);
inline constexpr TGuid ImageFormatMemoryBMP = ImageFormatGuid(0xB96B3CAA);
inline constexpr TGuid ImageFormatBMP = ImageFormatGuid(0xB96B3CAB);
inline constexpr TGuid ImageFormatEMF = ImageFormatGuid(0xB96B3CAC);
inline constexpr TGuid ImageFormatWMF = ImageFormatGuid(0xB96B3CAD);
inline constexpr TGuid ImageFormatJPEG = ImageFormatGuid(0xB96B3CAE);
inline constexpr TGuid ImageFormatPNG = ImageFormatGuid(0xB96B3CAF);
inline constexpr TGuid ImageFormatGIF = ImageFormatGuid(0xB96B3CB0);
inline constexpr TGuid ImageFormatTIFF = ImageFormatGuid(0xB96B3CB1);
inline constexpr TGuid ImageFormatEXIF = ImageFormatGuid(0xB96B3CB2);
inline constexpr TGuid ImageFormatIcon = ImageFormatGuid(0xB96B3CB5);

} // namespace Corvanith::Platform
