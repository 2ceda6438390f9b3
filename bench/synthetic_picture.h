#pragma once
// A photo-like test picture: smooth value noise over three scales per
// channel, with a little fine grain, so that energies and seams behave as on
// a photograph rather than on flat colour or white noise.
#include "graphics/surface.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace CorvanithBench {

inline std::unique_ptr<Corvanith::Graphics::TCorvSurface> MakePhotoLikePicture(int32_t Width, int32_t Height,
                                                                              uint32_t Seed = 1)
{
    std::mt19937 rng(Seed);
    struct TLayer {
        int32_t Cell;
        float Weight;
        int32_t Columns, Rows;
        std::vector<float> Grid;
    };
    std::vector<TLayer> layers[3];
    for (auto& channel : layers)
        for (auto [cell, weight] : {std::pair{192, 150.0f}, std::pair{48, 70.0f}, std::pair{12, 25.0f}}) {
            TLayer l{cell, weight, Width / cell + 2, Height / cell + 2, {}};
            std::uniform_real_distribution<float> v(0.0f, 1.0f);
            l.Grid.resize(size_t(l.Columns) * size_t(l.Rows));
            for (float& g : l.Grid)
                g = v(rng);
            channel.push_back(std::move(l));
        }
    auto picture = Corvanith::Graphics::TCorvSurface::Create(Width, Height);
    std::uniform_int_distribution<int> grain(-3, 3);
    for (int32_t y = 0; y < Height; ++y) {
        Corvanith::Graphics::TCorvColor* row = picture->GetPixelPtr(0, y);
        for (int32_t x = 0; x < Width; ++x) {
            uint32_t pixel = 0xFF000000u;
            for (int c = 0; c < 3; ++c) {
                float value = 0;
                for (const TLayer& l : layers[c]) {
                    const float fx = float(x) / float(l.Cell), fy = float(y) / float(l.Cell);
                    const int32_t gx = int32_t(fx), gy = int32_t(fy);
                    const float tx = fx - float(gx), ty = fy - float(gy);
                    auto at = [&](int32_t i, int32_t j) { return l.Grid[size_t(j) * size_t(l.Columns) + size_t(i)]; };
                    const float top = at(gx, gy) * (1 - tx) + at(gx + 1, gy) * tx;
                    const float bottom = at(gx, gy + 1) * (1 - tx) + at(gx + 1, gy + 1) * tx;
                    value += l.Weight * (top * (1 - ty) + bottom * ty);
                }
                const int v = std::clamp(int(value) + grain(rng), 0, 255);
                pixel |= uint32_t(v) << (8 * c);
            }
            row[x] = pixel;
        }
    }
    return picture;
}

} // namespace CorvanithBench
