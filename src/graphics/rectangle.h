#pragma once
// Position-and-size rectangles and the few routines every drawing path uses.
#include <cstdint>
#include <vector>

namespace Corvanith::Graphics {

// Covers columns X .. X + Width - 1 and rows Y .. Y + Height - 1.
struct TCorvRectangle {
    int32_t X = 0;
    int32_t Y = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    friend bool operator==(const TCorvRectangle&, const TCorvRectangle&) = default;

    bool IsEmpty() const { return Width <= 0 || Height <= 0; }
};

using TCorvRectangleArray = std::vector<TCorvRectangle>;

// Left/top/right/bottom form; Right and Bottom are exclusive.
struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
};

// Where a point lies against the border of a rectangle (GetPointPosition).
enum TPointPosition : uint8_t {
    ppTopLeft = 0,
    ppTopRight = 1,
    ppBottomLeft = 2,
    ppBottomRight = 3,
    ppLeftEdge = 4,
    ppTopEdge = 5,
    ppRightEdge = 6,
    ppBottomEdge = 7,
    ppInside = 8,
    ppOutside = 9,
};

TCorvRectangle MakeRectangle(int32_t X, int32_t Y, int32_t Width, int32_t Height);

// Horizontal bands top to bottom; the last band takes the whole remainder.
// Count must be at least 1: zero throws EArgumentError, negative ERangeError,
// and Bands is left untouched either way.
void SplitRectangle(const TCorvRectangle& Rect, int32_t Count, TCorvRectangleArray& Bands);

// Rectangles that only touch give a width-0 (or height-0) rectangle at the
// touching place; disjoint ones give (0, 0, 0, 0).
void IntersectRectangle(TCorvRectangle& A, const TCorvRectangle& B);
TCorvRectangle IntersectRectangles(const TCorvRectangle& A, const TCorvRectangle& B);

// Bounding rectangle; empty rectangles take part like any other.
TCorvRectangle UnionRectangles(const TCorvRectangle& A, const TCorvRectangle& B);

// Inline: the seam engine asks it for every pixel whose energy it recomputes.
inline bool PointInRectangle(const TCorvRectangle& R, int32_t X, int32_t Y)
{
    return R.X <= X && int64_t(X) < int64_t(R.X) + R.Width && R.Y <= Y && int64_t(Y) < int64_t(R.Y) + R.Height;
}

uint8_t GetPointPosition(const TRect& R, int32_t X, int32_t Y);

} // namespace Corvanith::Graphics
