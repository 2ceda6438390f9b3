#pragma once
// The innermost pixel loops: each routine treats one contiguous run of 32-bit
// pixels. They keep no state and check nothing but the count: a Count of 0 or
// less writes nothing. Callers that used FillLongword or
// MoveLongwordStreaming issue FenceStreamingStores() after their last row.
#include "graphics/types.h"

#include <cstdint>

namespace Corvanith::Graphics {

// Dest[0 .. Count) := Value, with cache-bypassing stores.
void FillLongword(TCorvColor* Dest, TCorvColor Value, int32_t Count);

// Copies front to back, so overlapping runs are right only when Dest <= Source.
void MoveLongwordStreaming(TCorvColor* Dest, const TCorvColor* Source, int32_t Count);
void MoveLongword(TCorvColor* Dest, const TCorvColor* Source, int32_t Count);

// Per pixel with a = source alpha: 0 keeps Dest, 255 copies Source, otherwise
// every channel (alpha too) becomes (s * a + d * (256 - a)) shr 8.
void BlendLine(TCorvColor* Dest, const TCorvColor* Source, int32_t Count);

// Every channel (alpha too) becomes (d * (256 - a) + c * a) shr 8, a = Color's alpha.
void BlendColorLine(TCorvColor* Dest, TCorvColor Color, int32_t Count);

// Every channel (alpha too) becomes max(0, d - c).
void SubtractColorLine(TCorvColor* Dest, TCorvColor Color, int32_t Count);

// Every alpha byte becomes 255; the colour bytes stay.
void OpaqueLine(TCorvColor* Dest, int32_t Count);

// Orders the non-temporal stores of the two streaming routines before
// everything that follows (a worker's done signal included).
void FenceStreamingStores();

} // namespace Corvanith::Graphics
