// The document's drop shadow with its four corner images, and thumbnails.
#include "graphics/surface.h"

#include "graphics/errors.h"
#include "platform/codecs.h"
#include "platform/imaging.h"
#include "platform/streams.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

// Outside any namespace, as the resource initialiser must be.
static void InitShadowResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(shadows);
        return true;
    }();
    (void)registered;
}

namespace Corvanith::Graphics {

namespace {

constexpr int32_t CornerSize = 6;
constexpr int32_t EdgeWidth = 3;
// Lowered from every corner alpha at load, so the corners match the edges.
constexpr TCorvColor CornerAlphaReduction = 0x0F000000;

TCorvShadowCorners Corners;

// Nearest integer, halves to even (the default rounding mode), of Side * r,
// with r taken to single precision first; never below 1.
int32_t ScaledSide(int32_t Side, int32_t Numerator, int32_t Denominator)
{
    const float r = float(static_cast<long double>(Numerator) / Denominator);
    return std::max<int32_t>(1, int32_t(std::nearbyint(static_cast<long double>(Side) * r)));
}

struct TSize {
    int32_t Width;
    int32_t Height;
};

TSize FitSize(int32_t W, int32_t H, int32_t MaxWidth, int32_t MaxHeight)
{
    const bool wideTooLarge = W > MaxWidth;
    const bool highTooLarge = H > MaxHeight;
    if (!wideTooLarge && !highTooLarge)
        return {W, H};
    // Both too large: the side that overflows the box more decides, so the
    // result fits boxes of any shape.
    const bool byHeight =
        wideTooLarge && highTooLarge ? int64_t(H) * MaxWidth >= int64_t(W) * MaxHeight : highTooLarge;
    if (byHeight)
        return {ScaledSide(MaxHeight, W, H), MaxHeight};
    return {MaxWidth, ScaledSide(MaxWidth, H, W)};
}

} // namespace

const TCorvShadowCorners& ShadowCorners() { return Corners; }

void LoadShadowCorners(const QString& Folder)
{
    InitShadowResources();
    TCorvShadowCorners loaded;
    for (size_t i = 0; i < loaded.size(); ++i) {
        Platform::TFileStream stream(Folder + QLatin1Char('/') + QString::number(i), Platform::TFileMode::fmOpenRead);
        loaded[i] = TCorvSurface::CreateFromStream(stream);
        loaded[i]->SubtractColor(CornerAlphaReduction);
    }
    Corners = std::move(loaded);
}

void FreeShadowCorners()
{
    for (auto& corner : Corners)
        corner.reset();
}

void TCorvSurface::DrawShadow(const TCorvRectangle& Rect, const TCorvRectangle& ClipRect, TCorvColor OuterColor,
                              TCorvColor InnerColor)
{
    struct TEdge {
        TCorvRectangle Rect;
        TCorvColor First;
        TCorvColor Second;
        bool Horizontal;
    };
    const int32_t right = Rect.X + Rect.Width;
    const int32_t bottom = Rect.Y + Rect.Height;
    const int32_t along = CornerSize * 2;
    const TEdge edges[] = {
        {{Rect.X, Rect.Y + CornerSize, EdgeWidth, Rect.Height - along}, OuterColor, InnerColor, true},
        {{Rect.X + CornerSize, Rect.Y, Rect.Width - along, EdgeWidth}, OuterColor, InnerColor, false},
        {{right - EdgeWidth, Rect.Y + CornerSize, EdgeWidth, Rect.Height - along}, InnerColor, OuterColor, true},
        {{Rect.X + CornerSize, bottom - EdgeWidth, Rect.Width - along, EdgeWidth}, InnerColor, OuterColor, false},
    };
    for (const TEdge& edge : edges) {
        const TCorvRectangle c = IntersectRectangles(edge.Rect, ClipRect);
        if (c.Width > 0 && c.Height > 0)
            GradientBlendRect(c, edge.Rect, edge.First, edge.Second, edge.Horizontal);
    }
    const TCorvRectangle corners[] = {
        {Rect.X, Rect.Y, CornerSize, CornerSize},
        {right - CornerSize, Rect.Y, CornerSize, CornerSize},
        {right - CornerSize, bottom - CornerSize, CornerSize, CornerSize},
        {Rect.X, bottom - CornerSize, CornerSize, CornerSize},
    };
    for (size_t i = 0; i < Corners.size(); ++i) {
        const TCorvRectangle& k = corners[i];
        const TCorvRectangle c = IntersectRectangles(k, ClipRect);
        if (Corners[i] && c.Width > 0 && c.Height > 0)
            Corners[i]->AlphaBlendTo(*this, c.X, c.Y, {c.X - k.X, c.Y - k.Y, c.Width, c.Height});
    }
}

std::unique_ptr<TCorvSurface> TCorvSurface::CreateThumbnail(int32_t MaxWidth, int32_t MaxHeight, bool Checkerboard,
                                                            float MinAspect)
{
    if (MaxWidth < 1 || MaxHeight < 1)
        throw EArgumentError("Thumbnail box " + std::to_string(MaxWidth) + " x " + std::to_string(MaxHeight) +
                             " is empty");
    // A picture much taller than wide is shown by its top square.
    const bool topSquare = FHeight > 0 && static_cast<long double>(FWidth) / FHeight < MinAspect;
    const int32_t sourceHeight = topSquare ? FWidth : FHeight;
    const TSize size = FitSize(FWidth, sourceHeight, MaxWidth, MaxHeight);

    std::unique_ptr<TCorvSurface> result;
    if (FWidth == 0 || FHeight == 0) {
        result = CreateFilled(size.Width, size.Height, 0);
    } else {
        // A MinAspect above 1 can ask for a square taller than the picture.
        const auto scaled = Platform::ScaleImage(GetGPBitmap(), FWidth, std::min(sourceHeight, FHeight), size.Width,
                                                 size.Height, !FHasAlpha);
        result = CreateFromGPBitmap(*scaled, true);
        // The top square is drawn onto a transparent surface: it counts as
        // transparent whatever the picture.
        if (topSquare)
            result->FHasAlpha = true;
    }
    if (!Checkerboard || !result->FHasAlpha)
        return result;
    const TCorvRectangle all{0, 0, size.Width, size.Height};
    auto board = Create(size.Width, size.Height);
    board->FillCheckerboard(all, 0, 0);
    result->AlphaBlendTo(*board, 0, 0, all);
    return board;
}

} // namespace Corvanith::Graphics
