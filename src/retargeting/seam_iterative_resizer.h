#pragma once
// TCorvSeamIterativeResizer: shrinks or grows one picture in place, one seam
// at a time, and keeps an energy map per direction from one call to the next,
// so that a run of single-seam steps costs one full energy computation
// instead of one per step. Main thread only; not re-entrant.
#include "graphics/surface.h"
#include "graphics/types.h"
#include "retargeting/seam_search.h"

#include <cstdint>
#include <memory>

namespace Corvanith::Graphics::Retargeting {

class TCorvSeamIterativeResizer {
public:
    // Surface is the picture, changed in place and never owned.
    explicit TCorvSeamIterativeResizer(TCorvSurface& Surface);
    TCorvSeamIterativeResizer(const TCorvSeamIterativeResizer&) = delete;
    TCorvSeamIterativeResizer& operator=(const TCorvSeamIterativeResizer&) = delete;
    virtual ~TCorvSeamIterativeResizer();

    // The preserve mask, or none; not owned, and it changes no existing map:
    // its strokes reach a map when that is next computed, or at the pixels
    // recomputed after a removal.
    void SetMask(TCorvSurface* Value) { FMask = Value; }

    // Every operation first checks that a set mask has the picture's size and
    // throws EArgumentError, with nothing changed, when it has not; a map that
    // no longer fits the picture is computed anew. Removal stops when the side
    // reaches 1 pixel.
    void RemoveHorizontalSeams(int32_t Count);
    void RemoveVerticalSeams(int32_t Count);
    // Reuse: the share of the picture's rows (columns) that may lie in blocked
    // lines of the map before it is computed anew.
    void InsertHorizontalSeams(int32_t Count, double Reuse);
    void InsertVerticalSeams(int32_t Count, double Reuse);

    const TCorvSurface& Surface() const { return FSurface; }
    int32_t VerticalBlocked() const { return FVerticalBlocked; }
    int32_t HorizontalBlocked() const { return FHorizontalBlocked; }
    const TCorvSurface* Mask() const { return FMask; }
    // The map in which vertical seams (width changes) are searched, or none.
    const TCorvSurface* VerticalEnergy() const { return FVerticalEnergy.get(); }
    const TCorvSurface* HorizontalEnergy() const { return FHorizontalEnergy.get(); }

private:
    // The members one direction works on: its own map and counter, the map of
    // the other direction.
    struct TDirection {
        bool Horizontal;
        std::unique_ptr<TCorvSurface>& Own;
        int32_t& Blocked;
        std::unique_ptr<TCorvSurface>& Other;
    };

    TDirection Direction(bool Horizontal);
    void CheckSizes();
    // A fresh map with the mask applied; its counter starts again from 0.
    void ComputeMap(TDirection& D);
    void RemoveSeams(TDirection D, int32_t Count);
    void InsertSeams(TDirection D, int32_t Count, double Reuse);

    TCorvSurface& FSurface;
    int32_t FVerticalBlocked = 0;
    int32_t FHorizontalBlocked = 0;
    TCorvSurface* FMask = nullptr;
    std::unique_ptr<TCorvSurface> FVerticalEnergy;
    std::unique_ptr<TCorvSurface> FHorizontalEnergy;
    // Searches the map of the direction last worked on, told of each seam it lost or gained.
    TSeamSearch FSearch;
};

} // namespace Corvanith::Graphics::Retargeting
