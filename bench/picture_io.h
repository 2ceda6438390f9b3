#pragma once
// PNG in and out for the bench tools, straight through QImage: pixels are
// straight ARGB, bytes B, G, R, A, as in a surface.
#include "graphics/surface.h"

#include <memory>
#include <string>

namespace CorvanithBench {

// Throws Corvanith::EStreamError when the file does not decode.
std::unique_ptr<Corvanith::Graphics::TCorvSurface> LoadPicture(const std::string& Path);
void SavePicture(const Corvanith::Graphics::TCorvSurface& Picture, const std::string& Path);

} // namespace CorvanithBench
