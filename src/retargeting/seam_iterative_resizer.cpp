#include "retargeting/seam_iterative_resizer.h"

#include "graphics/errors.h"
#include "retargeting/energy.h"
#include "retargeting/seam_insertion.h"
#include "retargeting/seam_search.h"

#include <algorithm>
#include <string>

namespace Corvanith::Graphics::Retargeting {

namespace {

// The picture's side that the seams of a direction change.
int32_t Side(const TCorvSurface& S, bool Horizontal) { return Horizontal ? S.Height() : S.Width(); }

void RemoveSeam(TCorvSurface& S, const TCorvPointArray& Seam, bool Horizontal)
{
    if (Horizontal)
        S.RemoveHorizontalSeam(Seam);
    else
        S.RemoveVerticalSeam(Seam);
}

// Inserts the seam and fills the new pixels with the blend.
void InsertBlended(TCorvSurface& S, const TCorvPointArray& Seam, bool Horizontal)
{
    if (Horizontal) {
        S.InsertHorizontalSeam(Seam);
        BlendHorizontalSeam(S, Seam);
    } else {
        S.InsertVerticalSeam(Seam);
        BlendVerticalSeam(S, Seam);
    }
}

TCorvPointArray OffsetSeam(const TCorvPointArray& Seam, int32_t Max, bool Horizontal)
{
    return Horizontal ? OffsetSeamY(Seam, 1, Max) : OffsetSeamX(Seam, 1, Max);
}

} // namespace

TCorvSeamIterativeResizer::TCorvSeamIterativeResizer(TCorvSurface& Surface) : FSurface(Surface) {}

TCorvSeamIterativeResizer::~TCorvSeamIterativeResizer()
{
    FVerticalEnergy.reset();
    FHorizontalEnergy.reset();
}

TCorvSeamIterativeResizer::TDirection TCorvSeamIterativeResizer::Direction(bool Horizontal)
{
    if (Horizontal)
        return {true, FHorizontalEnergy, FHorizontalBlocked, FVerticalEnergy};
    return {false, FVerticalEnergy, FVerticalBlocked, FHorizontalEnergy};
}

void TCorvSeamIterativeResizer::CheckSizes()
{
    // Every seam is applied to the mask by the picture's geometry: a mask of
    // another size would be written outside its buffer.
    if (FMask != nullptr && (FMask->Width() != FSurface.Width() || FMask->Height() != FSurface.Height()))
        throw EArgumentError("Seam resize: the mask is " + std::to_string(FMask->Width()) + " x " +
                             std::to_string(FMask->Height()) + " for a picture of " +
                             std::to_string(FSurface.Width()) + " x " + std::to_string(FSurface.Height()));
    // A map of another size (the picture was changed behind the resizer, or a
    // step failed halfway) describes nothing any more: it is computed anew.
    for (bool horizontal : {false, true}) {
        TDirection d = Direction(horizontal);
        if (d.Own && (d.Own->Width() != FSurface.Width() || d.Own->Height() != FSurface.Height())) {
            d.Own.reset();
            d.Blocked = 0;
        }
    }
}

void TCorvSeamIterativeResizer::ComputeMap(TDirection& D)
{
    D.Own = CalculateEnergy(FSurface);
    D.Blocked = 0;
    FSearch.Reset();
    if (FMask != nullptr)
        ApplyMask(*D.Own, *FMask);
}

void TCorvSeamIterativeResizer::RemoveHorizontalSeams(int32_t Count) { RemoveSeams(Direction(true), Count); }

void TCorvSeamIterativeResizer::RemoveVerticalSeams(int32_t Count) { RemoveSeams(Direction(false), Count); }

void TCorvSeamIterativeResizer::InsertHorizontalSeams(int32_t Count, double Reuse)
{
    InsertSeams(Direction(true), Count, Reuse);
}

void TCorvSeamIterativeResizer::InsertVerticalSeams(int32_t Count, double Reuse)
{
    InsertSeams(Direction(false), Count, Reuse);
}

void TCorvSeamIterativeResizer::RemoveSeams(TDirection D, int32_t Count)
{
    CheckSizes();
    // A map with inserted seams blocked would steer removals away from them.
    if (D.Blocked != 0) {
        D.Blocked = 0;
        D.Own.reset();
    }
    if (!D.Own)
        ComputeMap(D);
    const int32_t steps = std::min(Count, Side(FSurface, D.Horizontal) - 1);
    TCorvPointArray seam;
    for (int32_t i = 0; i < steps; ++i) {
        FSearch.Find(*D.Own, !D.Horizontal, seam);
        RemoveSeam(FSurface, seam, D.Horizontal);
        if (FMask != nullptr)
            RemoveSeam(*FMask, seam, D.Horizontal);
        if (D.Horizontal)
            RemoveHorizontalSeamFromEnergy(*D.Own, FSurface, seam);
        else
            RemoveVerticalSeamFromEnergy(*D.Own, FSurface, seam);
        if (FMask != nullptr) {
            if (D.Horizontal)
                ApplyMaskAlongHorizontalSeam(*D.Own, *FMask, seam);
            else
                ApplyMaskAlongVerticalSeam(*D.Own, *FMask, seam);
        }
        FSearch.SeamRemoved(seam);
        if (D.Other)
            RemoveSeam(*D.Other, seam, D.Horizontal);
    }
}

void TCorvSeamIterativeResizer::InsertSeams(TDirection D, int32_t Count, double Reuse)
{
    CheckSizes();
    if (!D.Own)
        ComputeMap(D);
    if (FSurface.Width() == 0 || FSurface.Height() == 0)
        return;
    TCorvPointArray seam;
    for (int32_t i = 0; i < Count; ++i) {
        if (double(D.Blocked) / double(Side(FSurface, D.Horizontal)) > Reuse) {
            D.Own.reset();
            ComputeMap(D);
        }
        FSearch.Find(*D.Own, !D.Horizontal, seam);
        // Each surface is blended right after its insertion (the blends read
        // only their own surface), so a failure further on leaves no
        // undefined line in the picture. The mask grows first and loses its
        // new line again when the picture cannot grow: the two always keep
        // one size (a map of another size is made anew on the next call).
        if (FMask != nullptr)
            InsertBlended(*FMask, seam, D.Horizontal);
        try {
            InsertBlended(FSurface, seam, D.Horizontal);
        } catch (...) {
            if (FMask != nullptr)
                RemoveSeam(*FMask, OffsetSeam(seam, Side(*FMask, D.Horizontal) - 1, D.Horizontal), D.Horizontal);
            throw;
        }
        if (D.Horizontal)
            D.Own->InsertHorizontalSeam(seam);
        else
            D.Own->InsertVerticalSeam(seam);
        if (D.Other)
            InsertBlended(*D.Other, seam, D.Horizontal);
        D.Blocked += 3;
        // The seam pixel, the new pixel and the one that followed the seam.
        const int32_t limit = Side(*D.Own, D.Horizontal) - 1;
        const TCorvPointArray next = OffsetSeam(seam, limit, D.Horizontal);
        D.Own->FillPoints(seam, MaximumEnergy);
        D.Own->FillPoints(next, MaximumEnergy);
        D.Own->FillPoints(OffsetSeam(next, limit, D.Horizontal), MaximumEnergy);
        FSearch.SeamInserted(seam);
    }
}

} // namespace Corvanith::Graphics::Retargeting
