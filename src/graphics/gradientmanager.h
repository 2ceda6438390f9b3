#pragma once
// The process-wide cache of two-colour gradient runs. The view asks for its
// background run on every repaint and the drop shadow for its edge runs on
// every document paint, so the few runs in use are kept, most recent first.
#include "graphics/types.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace Corvanith::Graphics {

class TCorvGradientManager {
public:
    // One cached run, keyed by (Length, Color1, Color2) compared exactly.
    class TCorvGradientCacheEntry {
    public:
        // Throws ERangeError for a negative Length.
        TCorvGradientCacheEntry(TCorvColor Color1, TCorvColor Color2, int32_t Length);

        int32_t Length() const { return FLength; }
        TCorvColor Color1() const { return FColor1; }
        TCorvColor Color2() const { return FColor2; }
        const TCorvColorArray& Colors() const { return FColors; }

    private:
        int32_t FLength;
        TCorvColor FColor1;
        TCorvColor FColor2;
        TCorvColorArray FColors;
    };

    TCorvGradientManager() = delete;

    // Empties the cache and sets how many entries it keeps.
    static void Initialize(int32_t MaxEntries);
    // Drops every entry; runs already handed out stay valid for their holders.
    static void Finalize();

    // The run of Length colours from Color1 to Color2, cached or computed now.
    // Any thread may ask. Throws ERangeError for a negative Length and then
    // adds no entry.
    static TCorvColorArray GetGradient(TCorvColor Color1, TCorvColor Color2, int32_t Length);

    static int32_t MaxEntries();
    static int32_t EntryCount();

private:
    using TEntries = std::vector<std::unique_ptr<TCorvGradientCacheEntry>>;

    static std::recursive_mutex FLock;
    static int32_t FMaxEntries;
    static TEntries FEntries;
};

} // namespace Corvanith::Graphics
