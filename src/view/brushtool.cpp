#include "view/brushtool.h"

#include "document/document.h"
#include "document/layers.h"
#include "graphics/errors.h"
#include "graphics/surface.h"
#include "platform/imaging.h"

#include <algorithm>
#include <string>

namespace Corvanith::View {

using Graphics::TCorvRectangle;
using Graphics::TCorvSurface;

namespace {

// The thin ring of the disc: black at alpha 175, this far inside the edge.
constexpr Graphics::TCorvColor RingColor = 0xAF000000;
constexpr int32_t RingInset = 4;
// The centre colour fades to the surround over this many outer pixels.
constexpr int32_t FadeWidth = 2;

void CheckSize(int32_t Size)
{
    if (Size < 1)
        throw ERangeError("Brush size " + std::to_string(Size) + " is below 1");
}

} // namespace

// ---- Overlay ----

TCorvBrushToolOverlay::TCorvBrushToolOverlay(int32_t Size, const TCorvBrushKind& Kind)
    : TCorvOverlay({0, 0, Size, Size}), FKind(Kind)
{
    SetSize(Size);
}

TCorvBrushToolOverlay::~TCorvBrushToolOverlay() = default;

void TCorvBrushToolOverlay::Paint(TCorvSurface& Target, const TCorvRectangle& ClipRect)
{
    FImage->AlphaBlendTo(Target, ClipRect.X, ClipRect.Y,
                         {ClipRect.X - FBounds.X, ClipRect.Y - FBounds.Y, ClipRect.Width, ClipRect.Height});
}

void TCorvBrushToolOverlay::SetSize(int32_t Size)
{
    CheckSize(Size);
    if (Size == FBounds.Width && FImage)
        return;
    auto image = TCorvSurface::CreateFilled(Size, Size, 0);
    {
        Platform::TCanvas& canvas = image->GetGPGraphics();
        canvas.FillEllipseGradient(0, 0, Size, Size, FKind.SurroundColor, FKind.CenterColor,
                                   float(Size - 2 * FadeWidth) / float(Size));
        canvas.DrawEllipse(RingColor, RingInset, RingInset, Size - 2 * RingInset, Size - 2 * RingInset);
    }
    // Ends the painter, so every stroke is in the pixels.
    image->FreeGraphicsCache();
    FBounds = {(FBounds.Width - Size) / 2 + FBounds.X, (FBounds.Height - Size) / 2 + FBounds.Y, Size, Size};
    FImage = std::move(image);
}

// ---- Tool ----

TCorvBrushTool::TCorvBrushTool(int32_t Size, const TCorvBrushKind& Kind) : FKind(Kind), FSize(Size)
{
    CheckSize(Size);
}

void TCorvBrushTool::SetActive(bool Value)
{
    TCorvTool::SetActive(Value);
    if (Active() && FOverlay == nullptr && Tools() != nullptr)
        FOverlay = static_cast<TCorvBrushToolOverlay*>(&Tools()->Overlays().Add(FKind.CreateOverlay(FSize)));
    if (FOverlay != nullptr)
        FOverlay->SetVisible(false);
}

void TCorvBrushTool::MouseMove(TShiftState Shift, int32_t X, int32_t Y, int32_t DocX, int32_t DocY)
{
    TCorvTool::MouseMove(Shift, X, Y, DocX, DocY);
    Track(Shift, X, Y, DocX, DocY);
}

void TCorvBrushTool::MouseDown(TShiftState Shift, int32_t X, int32_t Y, int32_t DocX, int32_t DocY)
{
    TCorvTool::MouseDown(Shift, X, Y, DocX, DocY);
    Track(Shift, X, Y, DocX, DocY);
}

void TCorvBrushTool::Track(TShiftState Shift, int32_t X, int32_t Y, int32_t DocX, int32_t DocY)
{
    UpdateCursor(X, Y);
    if ((Shift & ssLeft) == 0 || FOverlay == nullptr || !FOverlay->Visible())
        return;
    Document::TCorvDocument* document = FOverlay->Overlays()->Document;
    if (document != nullptr && (!FKind.NeedsStrokes || document->BrushesLayer().HasBrushes()))
        Stamp(*document, DocX, DocY);
}

void TCorvBrushTool::Stamp(Document::TCorvDocument& Document, int32_t DocX, int32_t DocY)
{
    const int32_t w = FOverlay->GetWidth();
    const int32_t h = FOverlay->GetHeight();
    const int32_t dstX = DocX - w / 2;
    const int32_t dstY = DocY - h / 2;
    TCorvSurface& mask = Document.BrushesLayer().GetSurface();
    // The mask operations do not clip; the mask normally has the picture's
    // size, but may lag behind a change of it.
    TCorvRectangle src{dstX, dstY, w, h};
    Graphics::IntersectRectangle(src, Document.ImageLayer().GetBounds());
    Graphics::IntersectRectangle(src, {0, 0, mask.Width(), mask.Height()});
    if (src.IsEmpty())
        return;
    src.X -= dstX;
    src.Y -= dstY;
    (FOverlay->Image().*FKind.StampMask)(mask, std::max(dstX, 0), std::max(dstY, 0), src);
}

void TCorvBrushTool::MouseEnter(TShiftState Shift, int32_t X, int32_t Y)
{
    TCorvTool::MouseEnter(Shift, X, Y);
    MouseMove(0, X, Y, 0, 0);
    if (FOverlay != nullptr)
        FOverlay->SetVisible(true);
}

void TCorvBrushTool::MouseLeave(TShiftState Shift, int32_t X, int32_t Y)
{
    TCorvTool::MouseLeave(Shift, X, Y);
    if (FOverlay != nullptr)
        FOverlay->SetVisible(false);
}

void TCorvBrushTool::UpdateCursor(int32_t X, int32_t Y)
{
    TCorvTool::UpdateCursor(X, Y);
    if (FOverlay != nullptr)
        FOverlay->Move(X - FOverlay->GetWidth() / 2, Y - FOverlay->GetHeight() / 2, false);
}

void TCorvBrushTool::SetSize(int32_t Value)
{
    CheckSize(Value);
    FSize = Value;
    if (FOverlay != nullptr)
        FOverlay->SetSize(Value);
}

} // namespace Corvanith::View
