#pragma once
// The energy map: per pixel and per colour channel, the mean absolute
// difference to the neighbours that exist, so that seams run through flat
// areas. A map is a surface of the picture's size whose blue, green and red
// bytes hold the channel energies and whose alpha byte is 255; painted pixels
// of the preserve mask get the maximum energy.
#include "graphics/surface.h"
#include "graphics/types.h"

#include <cstdint>
#include <memory>

namespace Corvanith::Graphics::Retargeting {

inline constexpr TCorvColor MaximumEnergy = 0xFFFFFFFFu;

// A mask pixel whose blue byte is above this is kept.
inline constexpr uint8_t PreserveThreshold = 200;

inline bool IsPreserved(TCorvColor MaskPixel) { return uint8_t(MaskPixel) > PreserveThreshold; }

// The seam cost of a map pixel: blue + green + red, 0 to 765.
inline int32_t SeamCost(TCorvColor EnergyPixel)
{
    return int32_t(EnergyPixel & 0xFF) + int32_t((EnergyPixel >> 8) & 0xFF) + int32_t((EnergyPixel >> 16) & 0xFF);
}

// The energy of pixel (X, Y), which must lie inside Source. A pixel with no
// neighbour (a 1 x 1 picture) has energy 0.
TCorvColor EnergyAt(const TCorvSurface& Source, int32_t X, int32_t Y);

std::unique_ptr<TCorvSurface> CalculateEnergy(const TCorvSurface& Source);

// Recomputes map pixel (X, Y) from Source; nothing when it lies outside.
void UpdateEnergyAt(TCorvSurface& Energy, int32_t X, int32_t Y, const TCorvSurface& Source);

// Source has already lost the seam. The map loses it too; then only the pixel
// that moved into each seam point's place and the one after it are computed
// again: every other pixel keeps its energy, although some of their
// neighbours changed, so a removal costs time in proportion to the seam.
void RemoveHorizontalSeamFromEnergy(TCorvSurface& Energy, const TCorvSurface& Source, const TCorvPointArray& Seam);
void RemoveVerticalSeamFromEnergy(TCorvSurface& Energy, const TCorvSurface& Source, const TCorvPointArray& Seam);

// Maximum energy at every preserved pixel; never lowers a value.
void ApplyMask(TCorvSurface& Energy, const TCorvSurface& Mask);

// Mask has already lost the seam: gives maximum energy back to the preserved
// ones among the two pixels per seam point that the removal recomputed.
void ApplyMaskAlongHorizontalSeam(TCorvSurface& Energy, const TCorvSurface& Mask, const TCorvPointArray& Seam);
void ApplyMaskAlongVerticalSeam(TCorvSurface& Energy, const TCorvSurface& Mask, const TCorvPointArray& Seam);

} // namespace Corvanith::Graphics::Retargeting
