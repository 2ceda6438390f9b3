#include "graphics/rectangle.h"

#include "graphics/errors.h"

#include <algorithm>

namespace Corvanith::Graphics {

namespace {

// Edges are summed in 64 bits: X + Width may leave the 32-bit range.
int64_t RightOf(const TCorvRectangle& R) { return int64_t(R.X) + R.Width; }
int64_t BottomOf(const TCorvRectangle& R) { return int64_t(R.Y) + R.Height; }

TCorvRectangle FromEdges(int64_t Left, int64_t Top, int64_t Right, int64_t Bottom)
{
    return {int32_t(Left), int32_t(Top), int32_t(Right - Left), int32_t(Bottom - Top)};
}

} // namespace

TCorvRectangle MakeRectangle(int32_t X, int32_t Y, int32_t Width, int32_t Height)
{
    return {X, Y, Width, Height};
}

void SplitRectangle(const TCorvRectangle& Rect, int32_t Count, TCorvRectangleArray& Bands)
{
    if (Count < 0)
        throw ERangeError("SplitRectangle: negative band count");
    if (Count == 0)
        throw EArgumentError("SplitRectangle: band count 0");
    Bands.resize(size_t(Count));
    const int32_t h = Rect.Height / Count;
    for (int32_t i = 0; i < Count - 1; ++i)
        Bands[size_t(i)] = {Rect.X, int32_t(Rect.Y + int64_t(i) * h), Rect.Width, h};
    Bands[size_t(Count - 1)] = {Rect.X, int32_t(Rect.Y + int64_t(Count - 1) * h), Rect.Width,
                                h + Rect.Height % Count};
}

TCorvRectangle IntersectRectangles(const TCorvRectangle& A, const TCorvRectangle& B)
{
    const int64_t Left = std::max(A.X, B.X);
    const int64_t Top = std::max(A.Y, B.Y);
    const int64_t Right = std::min(RightOf(A), RightOf(B));
    const int64_t Bottom = std::min(BottomOf(A), BottomOf(B));
    if (Left <= Right && Top <= Bottom)
        return FromEdges(Left, Top, Right, Bottom);
    return {};
}

void IntersectRectangle(TCorvRectangle& A, const TCorvRectangle& B)
{
    A = IntersectRectangles(A, B);
}

TCorvRectangle UnionRectangles(const TCorvRectangle& A, const TCorvRectangle& B)
{
    return FromEdges(std::min(A.X, B.X), std::min(A.Y, B.Y), std::max(RightOf(A), RightOf(B)),
                     std::max(BottomOf(A), BottomOf(B)));
}

uint8_t GetPointPosition(const TRect& R, int32_t X, int32_t Y)
{
    const int64_t right = int64_t(R.Right) - 1;
    const int64_t bottom = int64_t(R.Bottom) - 1;
    if (R.Left < X && X < right && R.Top < Y && Y < bottom)
        return ppInside;
    if (X < R.Left || X > right || Y < R.Top || Y > bottom)
        return ppOutside;
    if (X == R.Left)
        return Y == R.Top ? ppTopLeft : (Y == bottom ? ppBottomLeft : ppLeftEdge);
    if (Y == R.Top)
        return X == right ? ppTopRight : ppTopEdge;
    if (X == right)
        return Y == bottom ? ppBottomRight : ppRightEdge;
    return ppBottomEdge;
}

} // namespace Corvanith::Graphics
