// What the polygon painters share: the rows of the image as they reach
// them, the rounding of bounds to pixel centres, and the pen's band around
// one edge. Polygon.cpp paints any polygon with these; FastTriangle.cpp
// paints triangles row by row with the same arithmetic, tabulated.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "image/Bitmap.h"
#include "image/PixelFormat.h"

namespace ImageDetail {

// The rows of the image as the painters reach them: row 0 and the distance
// from one row to the next, instead of a checked RowData call for every
// span. Every painter clips its rows and columns to the image first.
struct TRaster
{
    std::uint8_t* Row(std::int32_t y) const { return Top + std::ptrdiff_t(y) * Step; }

    std::uint8_t* Top;
    std::ptrdiff_t Step;
    std::int32_t Width;
    std::int32_t Height;
};

// ceil(v) for 0 < v < 2^31.
inline std::int32_t CeilInside(double v)
{
    const auto t = static_cast<std::int32_t>(v);
    return t + (double(t) < v);
}

// The centres x + 0.5 that lie in [lo, hi), clipped to [0, limit): [x0, x1),
// false when there are none. This is ceil(lo - 0.5) and ceil(hi - 0.5)
// clamped to [0, limit] in doubles (a NaN bound clamps to the limit, as
// std::max and std::min leave it), with the rounding done on integers once
// a value is known to lie inside the image: std::ceil costs more than the
// rest of a short span.
inline bool HalfOpenCentres(
    double lo, double hi, std::int32_t limit, std::int32_t& x0, std::int32_t& x1)
{
    const double a = lo - 0.5;
    const double b = hi - 0.5;
    if (!(a > 0))
        x0 = 0;
    else if (a >= limit)
        return false;
    else
        x0 = CeilInside(a);
    if (!(b <= limit - 1))
        x1 = limit;
    else if (!(b > 0))
        return false;
    else
        x1 = CeilInside(b);
    return x0 < x1;
}

// The centres that lie in the closed [lo, hi], clipped to [0, limit):
// [first, last], false when there are none; ceil(lo - 0.5) and
// floor(hi - 0.5) clamped the same way.
inline bool ClosedCentres(
    double lo, double hi, std::int32_t limit, std::int32_t& first, std::int32_t& last)
{
    const double a = lo - 0.5;
    const double b = hi - 0.5;
    if (!(a > 0))
        first = 0;
    else if (a > limit - 1)
        return false;
    else
        first = CeilInside(a);
    if (!(b < limit - 1))
        last = limit - 1;
    else if (b < 0)
        return false;
    else
        last = static_cast<std::int32_t>(b);
    return first <= last;
}

// The pixels painted since painting under began (TCanvas::SetPaintUnder).
// In each row every pixel points to itself while unpainted and to one
// further right once painted, the row's end pointing to itself, so the
// unpainted pixels of a span are found by following the pointers (halving
// the paths as they go) in time for the pixels found, not for the painted
// ones passed over. 16 bits reach the end of the widest row.
class TCoverage
{
public:
    TCoverage(std::int32_t width, std::int32_t height)
        : FWidth(width)
        , FHeight(height)
        , FNext(std::size_t(width + 1) * std::size_t(height))
    {
        for (std::int32_t y = 0; y < height; ++y) {
            std::uint16_t* next = Row(y);
            for (std::int32_t x = 0; x <= width; ++x)
                next[x] = static_cast<std::uint16_t>(x);
        }
    }

    bool Fits(std::int32_t width, std::int32_t height) const
    {
        return width == FWidth && height == FHeight;
    }

    // Whether every pixel of [x0, x1) of row y is painted.
    bool Covered(std::int32_t y, std::int32_t x0, std::int32_t x1)
    {
        return x0 >= x1 || Find(Row(y), static_cast<std::uint32_t>(x0)) >= std::uint32_t(x1);
    }

    // Hands each run [a, b) of unpainted pixels in [x0, x1) of row y to
    // paint, from the left, and counts them painted. The caller clips.
    template <typename TPaint>
    void Cover(std::int32_t y, std::int32_t x0, std::int32_t x1, TPaint&& paint)
    {
        std::uint16_t* next = Row(y);
        std::uint32_t x = Find(next, static_cast<std::uint32_t>(x0));
        const auto end = static_cast<std::uint32_t>(x1);
        while (x < end) {
            std::uint32_t runEnd = x + 1;
            while (runEnd < end && next[runEnd] == runEnd)
                ++runEnd;
            paint(static_cast<std::int32_t>(x), static_cast<std::int32_t>(runEnd));
            for (std::uint32_t k = x; k < runEnd; ++k)
                next[k] = static_cast<std::uint16_t>(runEnd);
            x = Find(next, runEnd);
        }
    }

private:
    std::uint16_t* Row(std::int32_t y) { return FNext.data() + std::size_t(y) * (FWidth + 1); }

    static std::uint32_t Find(std::uint16_t* next, std::uint32_t x)
    {
        while (next[x] != x) {
            next[x] = next[next[x]];
            x = next[x];
        }
        return x;
    }

    std::int32_t FWidth;
    std::int32_t FHeight;
    std::vector<std::uint16_t> FNext;
};

// Fills [x0, x1) of row y with a value through fill(a, b), or, under a
// coverage, only the pixels of it still unpainted.
template <typename TFill>
inline void FillSpan(
    TCoverage* cover, std::int32_t y, std::int32_t x0, std::int32_t x1, TFill&& fill)
{
    if (x0 >= x1)
        return;
    if (cover)
        cover->Cover(y, x0, x1, fill);
    else
        fill(x0, x1);
}

// Where edge a-b crosses the scanline at yc, for the interior.
inline double Crossing(const TPoint& a, const TPoint& b, double yc)
{
    const double ay = a.Y;
    const double by = b.Y;
    return a.X + (yc - ay) * (double(b.X) - double(a.X)) / (by - ay);
}

// Slack for rounding when a pixel centre lies exactly at the pen's reach.
inline constexpr double CoverSlack = 1e-9;

// Half-widths of the pen's end discs. End points have integer coordinates,
// so a row centre lies m + 0.5 above or below one, m a whole number, and
// the disc's half-width on that row depends on m alone. Each is worked out
// once per pen, by the very expression that would give it row by row, and
// looked up; a pen too wide for the table works out the rest as it goes.
class TDiscWidths
{
public:
    void Use(double reach)
    {
        if (reach == FReach)
            return;
        FReach = reach;
        FCount = 0;
        while (FCount < MaxRows) {
            const double ey = FCount + 0.5;
            if (!(std::fabs(ey) <= reach))
                break;
            FHalf[FCount] = std::sqrt(std::max(0.0, reach * reach - ey * ey));
            ++FCount;
        }
        FComplete = FCount < MaxRows;
    }

    // The half-width of the disc around an end point on the row `offset`
    // rows below it (negative: above); false when the row misses the disc.
    bool Half(std::int64_t offset, double& half) const
    {
        const std::int64_t m = offset >= 0 ? offset : -1 - offset;
        if (m < FCount) {
            half = FHalf[m];
            return true;
        }
        if (FComplete)
            return false;
        const double ey = double(offset) + 0.5;
        if (!(std::fabs(ey) <= FReach))
            return false;
        half = std::sqrt(std::max(0.0, FReach * FReach - ey * ey));
        return true;
    }

private:
    static constexpr int MaxRows = 64;
    double FReach = -1;
    int FCount = 0;
    bool FComplete = false;
    double FHalf[MaxRows] = {};
};

// What Bounds saw on one row, for the edge tables: every value that could
// have become the left or the right end, and whether the strip was left
// out because its two ends crossed.
struct TBoundsAudit
{
    struct TCandidate
    {
        double Value;
        // Whether the bound is this double itself; the far end's disc gives
        // b.X - half, a sum rounded to a double.
        bool Exact;
    };
    void Note(double lo, double hi, bool exact)
    {
        Lo[Count] = { lo, exact };
        Hi[Count] = { hi, exact };
        ++Count;
    }

    TCandidate Lo[3];
    TCandidate Hi[3];
    int Count = 0;
    bool StripCrossed = false;
    double StripGap = 0;
};

// The pen's band around one edge: every pixel whose centre lies within
// radius of the segment a-b. That shape is a capsule, convex, so on each
// scanline it covers one interval: the union of the two end discs and the
// strip beside the segment, each computed directly.
class TCapsule
{
public:
    TCapsule(TPoint a, TPoint b, double reach, const TDiscWidths& discs)
        : FA(a)
        , FB(b)
        , FDiscs(&discs)
        , FAx(a.X)
        , FAy(a.Y)
        , FDx(double(b.X) - FAx)
        , FDy(double(b.Y) - FAy)
        , FLen2(FDx * FDx + FDy * FDy)
        , FReach(reach)
        , FReachLen(reach * std::sqrt(FLen2))
    {
    }

    // The rows within reach, clipped to the image.
    bool Rows(std::int32_t height, std::int32_t& first, std::int32_t& last) const
    {
        const double by = FB.Y;
        return ClosedCentres(
            std::min(FAy, by) - FReach, std::max(FAy, by) + FReach, height, first, last);
    }

    // The interval [lo, hi] of row py within reach; false when the row
    // misses the capsule.
    bool Bounds(std::int32_t py, double& lo, double& hi, TBoundsAudit* audit = nullptr) const;

    // The centres of row py that are covered, clipped to [0, width): [x0, x1).
    bool Span(std::int32_t py, std::int32_t width, std::int32_t& x0, std::int32_t& x1) const
    {
        double lo, hi;
        std::int32_t last;
        if (!Bounds(py, lo, hi) || !ClosedCentres(lo, hi, width, x0, last))
            return false;
        x1 = last + 1;
        return true;
    }

private:
    TPoint FA, FB;
    const TDiscWidths* FDiscs;
    double FAx, FAy, FDx, FDy, FLen2, FReach, FReachLen;
};

// One triangle, painted as FillInterior and three DrawCapsule calls would
// paint it: the interior with *brushValue unless that is null, then the
// bands of the pen of width penWidth (its reach as in DrawCapsule) with
// *penValue unless that is null.
// With a coverage, only the pixels it has not seen painted, the pen's
// before the interior's, so that the result is the same.
void PaintTriangle(const TRaster& raster, const TPixelFormat& format, const TPoint* points,
    const std::uint32_t* brushValue, const std::uint32_t* penValue, int penWidth, double reach,
    const TDiscWidths& discs, TCoverage* cover);

} // namespace ImageDetail
