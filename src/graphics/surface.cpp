#include "graphics/surface.h"

#include "graphics/errors.h"
#include "platform/imaging.h"

#include <algorithm>
#include <climits>
#include <new>

namespace Corvanith::Graphics {

bool TCorvSurface::SizeFits(int32_t Width, int32_t Height)
{
    // The raw stream and the imaging layer address the buffer and its rows
    // with 32-bit counts, even when there are no rows.
    // The pixel count is bounded before it is made a byte count, which for
    // two sides near INT32_MAX would not fit even in 64 bits.
    return int64_t(Width) * Height <= INT32_MAX / 4 && int64_t(Width) <= INT32_MAX / 4;
}

void TCorvSurface::CheckSize(int32_t Width, int32_t Height)
{
    if (Width < 0 || Height < 0)
        throw ERangeError("Surface size " + std::to_string(Width) + " x " + std::to_string(Height) +
                          " is negative");
    if (!SizeFits(Width, Height))
        throw ERangeError("Surface size " + std::to_string(Width) + " x " + std::to_string(Height) +
                          " is too large");
}

TCorvSurface::TBits TCorvSurface::Allocate(int32_t Width, int32_t Height, int64_t SparePixels)
{
    CheckSize(Width, Height);
    const int64_t total = (int64_t(Width) * Height + SparePixels) * 4;
    if (total == 0)
        return nullptr;
    // 64-byte alignment keeps whole rows of small surfaces on cache lines and
    // lets the streaming stores of the row kernels run aligned.
    void* p = std::aligned_alloc(64, size_t((total + 63) & ~int64_t(63)));
    if (p == nullptr)
        throw EOutOfMemory("Out of memory for a " + std::to_string(Width) + " x " + std::to_string(Height) +
                           " surface");
    return TBits(static_cast<TCorvColor*>(p));
}

TCorvSurface::TCorvSurface(int32_t Width, int32_t Height)
    : FWidth(Width), FHeight(Height), FBits(Allocate(Width, Height))
{
    // Only now is Width known to be small enough for its byte count.
    FStride = Width * 4;
    FCapacity = int64_t(Width) * Height;
}

bool TCorvSurface::CanGrowInPlace(int32_t NewWidth, int32_t NewHeight) const
{
    CheckSize(NewWidth, NewHeight);
    return int64_t(NewWidth) * NewHeight <= FCapacity;
}

namespace {

// A quarter more than needed: a run of insertions then grows in place
// instead of fetching and clearing fresh pages for every seam.
int64_t GrownCapacity(int32_t NewWidth, int32_t NewHeight)
{
    const int64_t pixels = int64_t(NewWidth) * NewHeight;
    return pixels + std::max<int64_t>(std::min(pixels / 4, int64_t(INT32_MAX / 4) - pixels), 0);
}

} // namespace

TCorvSurface::TBits TCorvSurface::AllocateGrown(int32_t NewWidth, int32_t NewHeight)
{
    const int64_t capacity = GrownCapacity(NewWidth, NewHeight);
    TBits bits = Allocate(NewWidth, NewHeight, capacity - int64_t(NewWidth) * NewHeight);
    FCapacity = capacity;
    return bits;
}

void TCorvSurface::GrowBuffer(int32_t NewWidth, int32_t NewHeight)
{
    CheckSize(NewWidth, NewHeight);
    const int64_t capacity = GrownCapacity(NewWidth, NewHeight);
    // The cached bitmap and painter must go before the buffer they work on.
    FreeGraphicsCache();
    // The new buffer may lose the 64-byte alignment of a fresh one: the row
    // kernels take any address.
    void* p = std::realloc(FBits.get(), size_t(capacity) * 4);
    if (p == nullptr)
        throw EOutOfMemory("Out of memory for a " + std::to_string(NewWidth) + " x " + std::to_string(NewHeight) +
                           " surface");
    (void)FBits.release();
    FBits.reset(static_cast<TCorvColor*>(p));
    FCapacity = capacity;
}

void TCorvSurface::SetGrownGeometry(int32_t NewWidth, int32_t NewHeight)
{
    FreeGraphicsCache();
    FWidth = NewWidth;
    FHeight = NewHeight;
    FStride = NewWidth * 4;
    // An inserted pixel is not yet written: it may hold anything.
    FHasAlpha = true;
}

TCorvSurface::~TCorvSurface() { FreeGraphicsCache(); }

std::unique_ptr<TCorvSurface> TCorvSurface::Create(int32_t Width, int32_t Height)
{
    return std::unique_ptr<TCorvSurface>(new TCorvSurface(Width, Height));
}

std::unique_ptr<TCorvSurface> TCorvSurface::CreateFilled(int32_t Width, int32_t Height, TCorvColor Color)
{
    auto s = Create(Width, Height);
    s->FillRect({0, 0, Width, Height}, Color);
    s->FHasAlpha = AlphaOf(Color) != 255;
    return s;
}

void TCorvSurface::TakeOver(TCorvSurface& Source)
{
    if (&Source == this)
        return;
    FreeGraphicsCache();
    Source.FreeGraphicsCache();
    FBits = std::move(Source.FBits);
    FCapacity = Source.FCapacity;
    Source.FCapacity = 0;
    FWidth = Source.FWidth;
    FHeight = Source.FHeight;
    FStride = Source.FStride;
    FHasAlpha = Source.FHasAlpha;
    Source.FWidth = Source.FHeight = Source.FStride = 0;
}

Platform::TSharedBitmap& TCorvSurface::GetGPBitmap()
{
    if (!FGPBitmap)
        FGPBitmap = std::make_unique<Platform::TSharedBitmap>(Bits(), FWidth, FHeight, FStride);
    return *FGPBitmap;
}

Platform::TCanvas& TCorvSurface::GetGPGraphics()
{
    if (!FGPGraphics)
        FGPGraphics = std::make_unique<Platform::TCanvas>(GetGPBitmap());
    return *FGPGraphics;
}

void TCorvSurface::FreeGraphicsCache()
{
    // The painter must end before the image it paints on goes.
    FGPGraphics.reset();
    FGPBitmap.reset();
}

void TCorvSurface::Draw(Platform::TCanvas& DC, int32_t X, int32_t Y)
{
    MakeOpaqueRect({0, 0, FWidth, FHeight});
    DC.DrawOpaque(Bits(), FStride, 0, 0, FWidth, FHeight, X, Y);
}

void TCorvSurface::DrawRect(Platform::TCanvas& DC, const TCorvRectangle& Rect)
{
    MakeOpaqueRect(Rect);
    DC.DrawOpaque(Bits(), FStride, Rect.X, Rect.Y, Rect.Width, Rect.Height, Rect.X, Rect.Y);
}

bool TCorvSurface::DetectAlpha() const
{
    const int64_t count = int64_t(FWidth) * FHeight;
    const TCorvColor* p = FBits.get();
    for (int64_t i = 0; i < count; ++i)
        if (p[i] < 0xFF000000u)
            return true;
    return false;
}

} // namespace Corvanith::Graphics
