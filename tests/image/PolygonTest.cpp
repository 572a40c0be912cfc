// TCanvas::Polygon against the plain painter it replaced: the interior by
// crossings listed and sorted row by row, then each edge's pen band worked
// out row by row from its discs and strip, one span at a time. The painter
// is kept here as it was, renamed and painting through the public
// interface (the bytes of a 24-bit row directly, FillRect per span at
// other depths), and both must leave the very same bytes for small skin
// triangles, seams, wild coordinates, every pen and every depth. Every
// case is also painted again from its last polygon to its first with the
// canvas painting under, which must leave the same bytes once more.

#include "image/Bitmap.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr std::int32_t Min32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Max32 = std::numeric_limits<std::int32_t>::max();

struct TPaint
{
    TColor BrushColor = clWhite;
    TBrushStyle BrushStyle = bsSolid;
    TColor PenColor = clBlack;
    TPenStyle PenStyle = psSolid;
    int PenWidth = 1;
};

// ---- The plain painter ----------------------------------------------------

void PlainSpan(TBitmap& image, TColor color, std::int32_t x0, std::int32_t x1, std::int32_t y)
{
    if (image.BitsPerPixel() == 24) {
        std::uint8_t* p = image.RowData(y) + 3 * std::size_t(x0);
        for (std::int32_t x = x0; x < x1; ++x, p += 3) {
            p[0] = static_cast<std::uint8_t>(color >> 16); // blue
            p[1] = static_cast<std::uint8_t>(color >> 8);
            p[2] = static_cast<std::uint8_t>(color);
        }
        return;
    }
    TCanvas& canvas = image.Canvas();
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Color = color;
    canvas.FillRect({ x0, y, x1, y + 1 });
}

bool PlainPixelSpan(double lo, double hi, std::int32_t width, std::int32_t& x0, std::int32_t& x1)
{
    const double first = std::max(0.0, std::ceil(lo - 0.5));
    const double end = std::min(double(width), std::ceil(hi - 0.5));
    if (!(first < end))
        return false;
    x0 = static_cast<std::int32_t>(first);
    x1 = static_cast<std::int32_t>(end);
    return true;
}

void PlainFillInterior(TBitmap& image, TColor color, const TPoint* points, std::size_t count)
{
    std::int64_t minY = std::numeric_limits<std::int64_t>::max();
    std::int64_t maxY = std::numeric_limits<std::int64_t>::min();
    for (std::size_t i = 0; i < count; ++i) {
        minY = std::min<std::int64_t>(minY, points[i].Y);
        maxY = std::max<std::int64_t>(maxY, points[i].Y);
    }
    const std::int64_t rowFirst = std::max<std::int64_t>(minY, 0);
    const std::int64_t rowEnd = std::min<std::int64_t>(maxY, image.Height());
    std::vector<double> crossings;
    for (std::int64_t py = rowFirst; py < rowEnd; ++py) {
        const double yc = double(py) + 0.5;
        crossings.clear();
        for (std::size_t i = 0; i < count; ++i) {
            const TPoint& a = points[i];
            const TPoint& b = points[(i + 1) % count];
            const double ay = a.Y;
            const double by = b.Y;
            if ((ay < yc) != (by < yc))
                crossings.push_back(a.X + (yc - ay) * (double(b.X) - double(a.X)) / (by - ay));
        }
        std::sort(crossings.begin(), crossings.end());
        for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) {
            std::int32_t x0, x1;
            if (PlainPixelSpan(crossings[i], crossings[i + 1], image.Width(), x0, x1))
                PlainSpan(image, color, x0, x1, static_cast<std::int32_t>(py));
        }
    }
}

constexpr double PlainCoverSlack = 1e-9;

void PlainDrawCapsule(TBitmap& image, TColor color, TPoint a, TPoint b, double radius)
{
    const double ax = a.X, ay = a.Y, bx = b.X, by = b.Y;
    const double dx = bx - ax, dy = by - ay;
    const double len2 = dx * dx + dy * dy;
    const double len = std::sqrt(len2);
    const double reach = radius + PlainCoverSlack;

    const double top = std::max(0.0, std::ceil(std::min(ay, by) - reach - 0.5));
    const double bottom
        = std::min(double(image.Height()) - 1, std::floor(std::max(ay, by) + reach - 0.5));
    if (top > bottom)
        return;
    const auto rowFirst = static_cast<std::int32_t>(top);
    const auto rowLast = static_cast<std::int32_t>(bottom);
    const double inf = std::numeric_limits<double>::infinity();

    for (std::int32_t py = rowFirst; py <= rowLast; ++py) {
        const double yc = py + 0.5;
        double lo = inf, hi = -inf;
        for (const TPoint* end : { &a, &b }) {
            const double ey = yc - end->Y;
            if (std::fabs(ey) <= reach) {
                const double half = std::sqrt(std::max(0.0, reach * reach - ey * ey));
                lo = std::min(lo, end->X - half);
                hi = std::max(hi, end->X + half);
            }
        }
        if (len2 > 0) {
            const double ey = yc - ay;
            double stripLo = -inf, stripHi = inf;
            bool empty = false;
            if (dx != 0) {
                const double x0 = ax + (0 - ey * dy) / dx;
                const double x1 = ax + (len2 - ey * dy) / dx;
                stripLo = std::max(stripLo, std::min(x0, x1));
                stripHi = std::min(stripHi, std::max(x0, x1));
            } else if (ey * dy < 0 || ey * dy > len2) {
                empty = true;
            }
            if (dy != 0) {
                const double x0 = ax + (ey * dx - reach * len) / dy;
                const double x1 = ax + (ey * dx + reach * len) / dy;
                stripLo = std::max(stripLo, std::min(x0, x1));
                stripHi = std::min(stripHi, std::max(x0, x1));
            } else if (std::fabs(ey * dx) > reach * len) {
                empty = true;
            }
            if (!empty && stripLo <= stripHi) {
                lo = std::min(lo, stripLo);
                hi = std::max(hi, stripHi);
            }
        }
        if (!(lo <= hi))
            continue;
        const double first = std::max(0.0, std::ceil(lo - 0.5));
        const double last = std::min(double(image.Width()) - 1, std::floor(hi - 0.5));
        if (first > last)
            continue;
        PlainSpan(image, color, static_cast<std::int32_t>(first),
            static_cast<std::int32_t>(last) + 1, py);
    }
}

void PlainPolygon(TBitmap& image, const TPaint& paint, const TPoint* points, std::size_t count)
{
    if (!points || count == 0 || !image.HasPixels())
        return;
    if (paint.BrushStyle == bsSolid && count >= 3)
        PlainFillInterior(image, paint.BrushColor, points, count);
    if (paint.PenStyle == psClear)
        return;
    const double radius = std::max(1, paint.PenWidth) / 2.0;
    if (count <= 2) {
        PlainDrawCapsule(image, paint.PenColor, points[0], points[count - 1], radius);
        return;
    }
    for (std::size_t i = 0; i < count; ++i)
        PlainDrawCapsule(image, paint.PenColor, points[i], points[(i + 1) % count], radius);
}

// ---- Harness ----------------------------------------------------------------

// The standard engine gives the same numbers on every platform (its
// distributions would not, so the ranges are taken here).
class TRandom
{
public:
    explicit TRandom(std::uint64_t seed)
        : FEngine(seed)
    {
    }
    std::uint64_t Next() { return FEngine(); }
    // lo <= result <= hi.
    std::int64_t Between(std::int64_t lo, std::int64_t hi)
    {
        return lo + static_cast<std::int64_t>(Next() % std::uint64_t(hi - lo + 1));
    }
    bool OneIn(int n) { return Next() % std::uint64_t(n) == 0; }

private:
    std::mt19937_64 FEngine;
};

const std::vector<TRGBQuad>& Palette()
{
    static const std::vector<TRGBQuad> table = { { 0, 0, 0, 0 }, { 0xFF, 0xFF, 0xFF, 0 },
        { 0, 0, 0xFF, 0 }, { 0, 0xFF, 0, 0 }, { 0xFF, 0, 0, 0 }, { 0x80, 0x80, 0x80, 0 },
        { 0x20, 0xC0, 0x60, 0 }, { 0xC0, 0x20, 0xA0, 0 } };
    return table;
}

void SetPaint(TCanvas& canvas, const TPaint& paint)
{
    canvas.Brush.Color = paint.BrushColor;
    canvas.Brush.Style = paint.BrushStyle;
    canvas.Pen.Color = paint.PenColor;
    canvas.Pen.Style = paint.PenStyle;
    canvas.Pen.SetWidth(paint.PenWidth);
}

// Two images of the same size, depth and background, one per painter, and
// a third for the polygons in reverse order, painted under.
struct TPair
{
    TBitmap Tested;
    TBitmap Plain;
    TBitmap Under;
    std::vector<std::pair<TPaint, std::vector<TPoint>>> Painted;

    TPair(int bits, std::int32_t width, std::int32_t height, TColor background)
    {
        for (TBitmap* image : { &Tested, &Plain, &Under }) {
            image->SetBitsPerPixel(bits);
            if (bits <= 8)
                image->SetColorTable(Palette());
            image->Canvas().Brush.Color = background;
            image->SetWidth(width);
            image->SetHeight(height);
        }
    }

    void Paint(const TPaint& paint, const std::vector<TPoint>& points)
    {
        TCanvas& canvas = Tested.Canvas();
        SetPaint(canvas, paint);
        canvas.Polygon(points);
        PlainPolygon(Plain, paint, points.data(), points.size());
        Painted.emplace_back(paint, points);
    }

    // Paints what was painted so far onto Under, from the last polygon to
    // the first, and gives the first row whose bytes differ from Plain's, or -1.
    std::int32_t UnderDifference()
    {
        TCanvas& canvas = Under.Canvas();
        canvas.SetPaintUnder(true);
        for (auto it = Painted.rbegin(); it != Painted.rend(); ++it) {
            SetPaint(canvas, it->first);
            canvas.Polygon(it->second);
        }
        canvas.SetPaintUnder(false);
        for (std::int32_t y = 0; y < Plain.Height(); ++y) {
            if (std::memcmp(Under.RowData(y), Plain.RowData(y), Plain.Stride()) != 0)
                return y;
        }
        return -1;
    }

    // The first row whose bytes in [x0, x1) differ (the whole row for
    // x1 < 0), or -1.
    std::int32_t FirstDifference(std::int32_t y0 = 0, std::int32_t y1 = Max32, std::int32_t x0 = 0,
        std::int32_t x1 = -1) const
    {
        const std::size_t stride = Tested.Stride();
        const int bits = Tested.BitsPerPixel();
        std::size_t from = 0, to = stride;
        if (x1 >= 0) {
            from = std::size_t(std::max(0, x0)) * bits / 8;
            to = std::min(stride, (std::size_t(std::max(0, x1)) * bits + 7) / 8);
        }
        for (std::int32_t y = std::max(0, y0); y < std::min(y1, Tested.Height()); ++y) {
            if (from < to
                && std::memcmp(Tested.RowData(y) + from, Plain.RowData(y) + from, to - from) != 0)
                return y;
        }
        return -1;
    }
};

std::string Describe(const TPaint& paint, const std::vector<TPoint>& points)
{
    std::ostringstream text;
    text << "pen " << paint.PenWidth << (paint.PenStyle == psClear ? " clear" : "") << " "
         << std::hex << paint.PenColor << ", brush " << paint.BrushColor << std::dec
         << (paint.BrushStyle == bsClear ? " clear" : "") << ", points";
    for (const TPoint& p : points)
        text << " (" << p.X << ", " << p.Y << ")";
    return text.str();
}

const int PenWidths[] = { 0, 1, 2, 3, 4, 5, 8, 16, 17, 100, 201 };

// ---- Tests ------------------------------------------------------------------

// Compares the rows and columns a polygon can have painted.
std::int32_t DifferenceNear(const TPair& pair, const std::vector<TPoint>& points, int penWidth)
{
    std::int64_t x0 = Max32, x1 = Min32, y0 = Max32, y1 = Min32;
    for (const TPoint& p : points) {
        x0 = std::min<std::int64_t>(x0, p.X);
        x1 = std::max<std::int64_t>(x1, p.X);
        y0 = std::min<std::int64_t>(y0, p.Y);
        y1 = std::max<std::int64_t>(y1, p.Y);
    }
    const std::int64_t margin = penWidth / 2 + 2;
    const auto clamp = [](std::int64_t v) {
        return static_cast<std::int32_t>(
            std::max<std::int64_t>(0, std::min<std::int64_t>(v, Max32)));
    };
    return pair.FirstDifference(
        clamp(y0 - margin), clamp(y1 + margin + 1), clamp(x0 - margin), clamp(x1 + margin + 1));
}

// The conversion's case: small triangles (a little past the tabulated
// sizes too) on a 2048 x 256 24-bit skin, pen 5, mostly in the brush
// colour, with now and then a seam of the layout: a triangle a pixel or
// two high or wide and hundreds long, of a few shapes repeated. Every
// triangle's neighbourhood is compared as it is painted.
TEST(PolygonPaint, SkinTrianglesMatchThePlainPainter)
{
    TPair pair(24, 2048, 256, clWhite);
    TRandom random(0x51C0);
    TPaint paint;
    paint.PenWidth = 5;
    const TPoint seams[][2] = { { { 1, 0 }, { 0, 256 } }, { { 1, 0 }, { 1, -255 } },
        { { 0, 1 }, { 257, 1 } }, { { 1, 0 }, { -1791, 1 } }, { { 2, 1 }, { 9, 140 } } };
    for (int i = 0; i < 20000; ++i) {
        if (i % 50 == 0) {
            paint.BrushColor = static_cast<TColor>(random.Next() & 0xFFFFFF);
            paint.PenColor = random.OneIn(4) ? static_cast<TColor>(random.Next() & 0xFFFFFF)
                                             : paint.BrushColor;
        }
        const auto x = static_cast<std::int32_t>(random.Between(-8, 2056));
        const auto y = static_cast<std::int32_t>(random.Between(-8, 264));
        std::vector<TPoint> points = { { x, y } };
        if (i % 40 == 0) {
            for (const TPoint& d : seams[random.Between(0, std::size(seams) - 1)])
                points.push_back({ x + d.X, y + d.Y });
        } else {
            const std::int32_t spread = random.OneIn(8) ? 12 : 6;
            for (int k = 0; k < 2; ++k) {
                points.push_back({ x + static_cast<std::int32_t>(random.Between(-spread, spread)),
                    y + static_cast<std::int32_t>(random.Between(-spread, spread)) });
            }
        }
        pair.Paint(paint, points);
        ASSERT_EQ(DifferenceNear(pair, points, paint.PenWidth), -1)
            << "triangle " << i << ": " << Describe(paint, points);
    }
    EXPECT_EQ(pair.FirstDifference(), -1);
    EXPECT_EQ(pair.UnderDifference(), -1);
}

// Long edges are kept by shape within a budget of shapes and of rows:
// hundreds of tall shapes and thousands of wide ones, each painted twice,
// go past both budgets and start over. The third corner, a pixel or 12
// away, makes thin triangles and ones whose interior shows beside the pen,
// or without it.
TEST(PolygonPaint, ManyLongShapesMatchThePlainPainter)
{
    TPair pair(24, 48, 40, clWhite);
    TPaint paint;
    paint.PenWidth = 5;
    paint.BrushColor = 0x00C000;
    paint.PenColor = 0x0000C0;
    for (int k = 0; k < 4600; ++k) {
        const TPoint d = k < 200 ? TPoint { k % 17 - 8, (k % 2 ? 1 : -1) * (1500 + k) }
                                 : TPoint { 9 + k % 2000, k / 2000 - 1 };
        const TPoint third = k % 3 == 0 ? TPoint { 0, 1 }
            : k % 3 == 1                ? TPoint { 0, 12 }
                                        : TPoint { 12, 0 };
        paint.PenStyle = k % 4 == 3 ? psClear : psSolid;
        for (const std::int32_t x : { 3, 30 - k % 9 }) {
            const std::int32_t y = k < 200 ? 20 - d.Y / 2 : 5 + k % 30;
            const std::vector<TPoint> points
                = { { x, y }, { x + d.X, y + d.Y }, { x + third.X, y + third.Y } };
            pair.Paint(paint, points);
            ASSERT_EQ(pair.FirstDifference(), -1)
                << "shape " << k << ": " << Describe(paint, points);
        }
    }
    EXPECT_EQ(pair.UnderDifference(), -1);
}

// Random polygons of 1 to 6 points, near the image, far outside it and out
// at the limits of 32 bits, with every pen, both styles of pen and brush,
// on every depth; the whole image is compared after each.
TEST(PolygonPaint, WildPolygonsMatchThePlainPainterOnEveryDepth)
{
    TRandom random(0xB17);
    const auto coordinate = [&](std::int32_t size) -> std::int32_t {
        switch (random.Between(0, 9)) {
        case 0:
            return static_cast<std::int32_t>(random.Between(Min32, Max32));
        case 1:
            return random.OneIn(2) ? Min32 + static_cast<std::int32_t>(random.Between(0, 3))
                                   : Max32 - static_cast<std::int32_t>(random.Between(0, 3));
        case 2:
            return static_cast<std::int32_t>(random.Between(-70000, 70000));
        case 3:
            return static_cast<std::int32_t>(random.Between(-4, 4));
        default:
            return static_cast<std::int32_t>(random.Between(-6, size + 6));
        }
    };
    for (const int bits : { 1, 4, 8, 16, 24, 32 }) {
        for (int image = 0; image < 8; ++image) {
            const auto width = static_cast<std::int32_t>(random.Between(1, 40));
            const auto height = static_cast<std::int32_t>(random.Between(1, 30));
            TPair pair(bits, width, height, 0x808080);
            for (int i = 0; i < 60; ++i) {
                TPaint paint;
                paint.PenWidth = PenWidths[random.Between(0, std::size(PenWidths) - 1)];
                paint.PenStyle = random.OneIn(6) ? psClear : psSolid;
                paint.BrushStyle = random.OneIn(6) ? bsClear : bsSolid;
                paint.BrushColor = static_cast<TColor>(random.Next() & 0xFFFFFF);
                paint.PenColor = random.OneIn(2) ? paint.BrushColor
                                                 : static_cast<TColor>(random.Next() & 0xFFFFFF);
                std::vector<TPoint> points(std::size_t(random.Between(1, 6)));
                const bool small = random.OneIn(2);
                const auto near = [&](std::int32_t v) {
                    return static_cast<std::int32_t>(std::max<std::int64_t>(
                        Min32, std::min<std::int64_t>(Max32, v + random.Between(-9, 9))));
                };
                for (TPoint& p : points) {
                    if (small && &p != &points.front()) {
                        // A small shape, as on a skin, wherever its first corner lies.
                        p = { near(points.front().X), near(points.front().Y) };
                    } else {
                        p = { coordinate(width), coordinate(height) };
                    }
                }
                pair.Paint(paint, points);
                ASSERT_EQ(pair.FirstDifference(), -1) << bits << " bits, " << width << " x "
                                                      << height << ": " << Describe(paint, points);
            }
            EXPECT_EQ(pair.UnderDifference(), -1) << bits << " bits, " << width << " x " << height;
        }
    }
}

// Shapes whose bounds fall exactly on pixel edges or centres: points
// repeated, edges along the axes and the diagonals, collinear corners,
// and a star that crosses itself; with every pen, near the image's left
// edge at 0, near x = 2^15, where the small edges' tables stop, and far
// enough above the image that only the widest pen's discs reach it.
TEST(PolygonPaint, AlignedAndDegenerateShapesMatchThePlainPainter)
{
    const std::vector<std::vector<TPoint>> shapes = {
        { { 5, 5 } },
        { { 5, 5 }, { 5, 5 } },
        { { 5, 5 }, { 5, 5 }, { 5, 5 } },
        { { 2, 5 }, { 9, 5 } },
        { { 5, 1 }, { 5, 9 } },
        { { 2, 2 }, { 8, 8 } },
        { { 2, 8 }, { 8, 2 } },
        { { 1, 1 }, { 4, 4 }, { 7, 7 } },
        { { 1, 1 }, { 7, 1 }, { 4, 1 } },
        { { 3, 3 }, { 3, 3 }, { 6, 6 } },
        { { 1, 1 }, { 8, 1 }, { 8, 8 } },
        { { 1, 1 }, { 2, 3 }, { 4, 7 } },
        { { 4, 0 }, { 8, 8 }, { 0, 8 } },
        { { 1, 1 }, { 9, 2 }, { 2, 9 }, { 6, 6 } },
        { { 5, 0 }, { 8, 9 }, { 0, 3 }, { 10, 3 }, { 2, 9 } },
        { { 0, 0 }, { 1, 0 }, { 1, 1 }, { 0, 1 } },
    };
    for (const std::int32_t originX : { -3, 0, 4, 32754, 32760, 32768, 32769 }) {
        TPair pair(24, originX > 1000 ? 32800 : 24, 24, clWhite);
        // The widest pen reaches 101 pixels past the shapes.
        const std::int32_t left = originX - 110, right = originX + 125;
        for (const std::int32_t originY : { -90, -2, 0, 3, 14 }) {
            for (const int width : PenWidths) {
                for (const auto& shape : shapes) {
                    std::vector<TPoint> points = shape;
                    for (TPoint& p : points)
                        p = { p.X + originX, p.Y + originY };
                    TPaint paint;
                    paint.PenWidth = width;
                    paint.BrushColor = 0x00C000;
                    paint.PenColor = width % 2 ? 0x0000C0 : paint.BrushColor;
                    pair.Paint(paint, points);
                    ASSERT_EQ(pair.FirstDifference(0, Max32, left, right), -1)
                        << "at (" << originX << ", " << originY << "): " << Describe(paint, points);
                }
            }
        }
        EXPECT_EQ(pair.FirstDifference(), -1) << "at x " << originX;
        EXPECT_EQ(pair.UnderDifference(), -1) << "at x " << originX;
    }
}

} // namespace
