#include "graphics/gradientmanager.h"

#include "graphics/errors.h"

#include <algorithm>
#include <string>

namespace Corvanith::Graphics {

namespace {

// Per channel: (Color1.k + (d_k * i + h) div n) mod 256 with h = Length div 2,
// n = Length - 1 and a division truncating toward zero. The bias is added
// whatever the sign of d_k, so a falling channel ends one above Color2's;
// every drawn gradient depends on these exact bytes.
std::vector<TCorvColor> ComputeRun(TCorvColor Color1, TCorvColor Color2, int32_t Length)
{
    std::vector<TCorvColor> run(static_cast<size_t>(Length));
    // The formula divides by zero for one colour and wraps every channel for
    // two (opaque ends turn transparent); the ends themselves are the run.
    if (Length == 1) {
        run[0] = Color1;
        return run;
    }
    if (Length == 2) {
        run[0] = Color1;
        run[1] = Color2;
        return run;
    }
    const int32_t h = Length / 2;
    const int32_t n = Length - 1;
    for (int shift = 0; shift < 32; shift += 8) {
        const int32_t c1 = int32_t((Color1 >> shift) & 0xFF);
        const int32_t d = int32_t((Color2 >> shift) & 0xFF) - c1;
        for (int32_t i = 0; i < Length; ++i) {
            const int32_t q = int32_t((int64_t(d) * i + h) / n);
            run[size_t(i)] |= TCorvColor(uint32_t(c1 + q) & 0xFF) << shift;
        }
    }
    return run;
}

} // namespace

std::recursive_mutex TCorvGradientManager::FLock;
int32_t TCorvGradientManager::FMaxEntries = 0;
TCorvGradientManager::TEntries TCorvGradientManager::FEntries;

TCorvGradientManager::TCorvGradientCacheEntry::TCorvGradientCacheEntry(TCorvColor Color1, TCorvColor Color2,
                                                                       int32_t Length)
    : FLength(Length), FColor1(Color1), FColor2(Color2)
{
    if (Length < 0)
        throw ERangeError("Gradient length " + std::to_string(Length) + " is negative");
    FColors = std::make_shared<const std::vector<TCorvColor>>(ComputeRun(Color1, Color2, Length));
}

void TCorvGradientManager::Initialize(int32_t MaxEntries)
{
    std::lock_guard lock(FLock);
    FEntries.clear();
    FMaxEntries = std::max(MaxEntries, 0);
}

void TCorvGradientManager::Finalize()
{
    std::lock_guard lock(FLock);
    FEntries.clear();
    FMaxEntries = 0;
}

TCorvColorArray TCorvGradientManager::GetGradient(TCorvColor Color1, TCorvColor Color2, int32_t Length)
{
    std::lock_guard lock(FLock);
    const auto hit = std::find_if(FEntries.begin(), FEntries.end(), [&](const auto& e) {
        return e->Length() == Length && e->Color1() == Color1 && e->Color2() == Color2;
    });
    if (hit != FEntries.end()) {
        std::rotate(FEntries.begin(), hit, hit + 1);
        return FEntries.front()->Colors();
    }
    auto entry = std::make_unique<TCorvGradientCacheEntry>(Color1, Color2, Length);
    TCorvColorArray colors = entry->Colors();
    FEntries.insert(FEntries.begin(), std::move(entry));
    while (FEntries.size() > size_t(FMaxEntries))
        FEntries.pop_back();
    return colors;
}

int32_t TCorvGradientManager::MaxEntries()
{
    std::lock_guard lock(FLock);
    return FMaxEntries;
}

int32_t TCorvGradientManager::EntryCount()
{
    std::lock_guard lock(FLock);
    return int32_t(FEntries.size());
}

} // namespace Corvanith::Graphics
