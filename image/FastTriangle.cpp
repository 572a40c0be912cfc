// The tabulated triangle painter: one triangle painted row by row, each
// pixel written once, with the pen's bands and the interior's crossings
// looked up in tables made per edge shape wherever a table gives the very
// pixels the direct arithmetic of Polygon.cpp would. Why the looked-up rows
// equal the direct ones is argued in docs/triangle-painter.md; the
// PolygonPaint tests in tests/image/PolygonTest.cpp hold this painter to
// the plain one byte for byte.
#include "image/EdgeTables.h"
#include "image/Painter.h"

#include <unordered_map>
#include <vector>

using namespace ImageDetail;

namespace {

// A row's spans, painted as their union so that each pixel is written
// once: sorted by start and joined where they overlap or touch. Starts and
// ends are kept apart, as the spans are few and written one bound at a time.
class TRowSpans
{
public:
    void Add(std::int32_t x0, std::int32_t x1)
    {
        FX0[FCount] = x0;
        FX1[FCount] = x1;
        ++FCount;
    }
    bool Empty() const { return FCount == 0; }

    // Hands each run of the union to fill(x0, x1).
    template <typename TFill> void Paint(TFill&& fill)
    {
        for (int i = 1; i < FCount; ++i) {
            const std::int32_t x0 = FX0[i], x1 = FX1[i];
            int j = i;
            for (; j > 0 && FX0[j - 1] > x0; --j) {
                FX0[j] = FX0[j - 1];
                FX1[j] = FX1[j - 1];
            }
            FX0[j] = x0;
            FX1[j] = x1;
        }
        std::int32_t runStart = FX0[0], runEnd = FX1[0];
        for (int i = 1; i < FCount; ++i) {
            if (FX0[i] <= runEnd) {
                runEnd = std::max(runEnd, FX1[i]);
            } else {
                fill(runStart, runEnd);
                runStart = FX0[i];
                runEnd = FX1[i];
            }
        }
        fill(runStart, runEnd);
    }

private:
    static constexpr int MaxSpans = 4;
    std::int32_t FX0[MaxSpans];
    std::int32_t FX1[MaxSpans];
    int FCount = 0;
};

// One edge of a triangle: its pen band, the rows that band reaches, and
// its table when it has one.
struct TTriangleEdge
{
    TPoint A, B;
    TCapsule Capsule;
    const TEdgeTables::TShape* Shape;
    std::int32_t First, Last; // rows of the band; First > Last for none

    // The band's span on row py, clipped to the image: false for none.
    bool Span(std::int32_t py, std::int32_t width, std::int32_t& x0, std::int32_t& x1) const
    {
        const TEdgeTables::TEntry* entry = Shape ? Shape->Row(std::int64_t(py) - A.Y) : nullptr;
        if (!entry || (entry->Flags & TEdgeTables::SpanDirect))
            return Capsule.Span(py, width, x0, x1);
        if (!(entry->Flags & TEdgeTables::HasSpan))
            return false;
        x0 = std::max(0, A.X + entry->First);
        x1 = std::min(width - 1, A.X + entry->Last) + 1;
        return x0 < x1;
    }
};

// One triangle, as FillInterior and three DrawCapsule calls would paint it,
// but row by row: the interior and the three bands of a small triangle
// overlap on nearly every row, so each row's pixels are written once. The
// pen paints after the brush, so their spans join only when both give the
// same pixel value.
class TTrianglePainter
{
public:
    // The runs, for 24-bit images only, hold the brush and the pen colour.
    TTrianglePainter(const TRaster& raster, const TPixelFormat& format, const TPoint* points,
        const std::uint32_t* brushValue, const std::uint32_t* penValue, const TDiscWidths& discs,
        TEdgeTables* tables, double reach, const TPixelRun24* brushRun, const TPixelRun24* penRun,
        TCoverage* cover)
        : FRaster(raster)
        , FFormat(format)
        , FBrush(brushValue)
        , FPen(penValue)
        , FBrushRun(brushRun)
        , FPenRun(penRun)
        , FCover(cover)
        , FJoined(brushValue && penValue && *brushValue == *penValue)
        , FEdges { { points[0], points[1], TCapsule(points[0], points[1], reach, discs), nullptr, 0,
                       -1 },
            { points[1], points[2], TCapsule(points[1], points[2], reach, discs), nullptr, 0, -1 },
            { points[2], points[0], TCapsule(points[2], points[0], reach, discs), nullptr, 0, -1 } }
    {
        // The columns the triangle can paint, with a margin, in the image.
        const std::int64_t minX = std::min(points[0].X, std::min(points[1].X, points[2].X));
        const std::int64_t maxX = std::max(points[0].X, std::max(points[1].X, points[2].X));
        const auto margin = static_cast<std::int64_t>(reach) + 2;
        FReachLeft = static_cast<std::int32_t>(
            std::max<std::int64_t>(0, std::min<std::int64_t>(minX - margin, raster.Width)));
        FReachRight = static_cast<std::int32_t>(
            std::max<std::int64_t>(0, std::min<std::int64_t>(maxX + margin + 1, raster.Width)));
        FFirst = std::numeric_limits<std::int32_t>::max();
        FLast = std::numeric_limits<std::int32_t>::min();
        FNarrow = tables != nullptr;
        for (TTriangleEdge& edge : FEdges) {
            if (tables)
                edge.Shape = tables->Shape(edge.A, edge.B, discs);
            FNarrow = FNarrow && edge.Shape && edge.Shape->Narrow;
            if (FPen && edge.Capsule.Rows(raster.Height, edge.First, edge.Last)) {
                FFirst = std::min(FFirst, edge.First);
                FLast = std::max(FLast, edge.Last);
            }
        }
        if (FBrush) {
            const std::int64_t minY = std::min(points[0].Y, std::min(points[1].Y, points[2].Y));
            const std::int64_t maxY = std::max(points[0].Y, std::max(points[1].Y, points[2].Y));
            FFillFirst = static_cast<std::int32_t>(std::max<std::int64_t>(minY, 0));
            FFillEnd = static_cast<std::int32_t>(std::min<std::int64_t>(maxY, raster.Height));
            if (FFillFirst < FFillEnd) {
                FFirst = std::min(FFirst, FFillFirst);
                FLast = std::max(FLast, FFillEnd - 1);
            }
        }
    }

    void Paint()
    {
        if (FFirst > FLast)
            return;
        if (!FNarrow) {
            // A large triangle under many others would cost the work of
            // every row it spans: a row whose columns within its reach are
            // all painted is passed over.
            for (std::int32_t py = FFirst; py <= FLast; ++py) {
                if (!FCover || !FCover->Covered(py, FReachLeft, FReachRight))
                    PaintRow(py);
            }
            return;
        }
        PaintTabulated();
    }

private:
    // A triangle of narrow edges is painted in blocks of BlockRows rows; its
    // spans lie in the Window columns from FBase, its leftmost corner less
    // TEdgeTables::BitsOrigin.
    static constexpr std::int32_t BlockRows = 64;
    static constexpr std::int32_t Window = 64;

    // A row's spans gathered edge by edge: the columns they cover (bit i
    // for column FBase + i), the interior's span when it cannot join the
    // pen's, and whether anything on the row has to be worked out by
    // PaintRow instead.
    struct TRowCover
    {
        std::uint64_t Mask;
        std::int32_t FillX0, FillX1;
        bool Direct;
    };

    static std::uint64_t Bits(std::int32_t from, std::int32_t to)
    {
        return (~std::uint64_t(0) >> (Window - (to - from))) << from;
    }

    void Cover(TRowCover& row, std::int32_t x0, std::int32_t x1) const
    {
        if (x0 < FBase || x1 > FBase + Window) {
            row.Direct = true;
            return;
        }
        row.Mask |= Bits(x0 - FBase, x1 - FBase);
    }

    static int LowestBit(std::uint64_t m)
    {
#if defined(__GNUC__)
        return __builtin_ctzll(m);
#else
        int i = 0;
        while (!((m >> i) & 1))
            ++i;
        return i;
#endif
    }

    // The edge from vertex i to vertex j, whichever way it runs.
    static int EdgeOf(int i, int j)
    {
        return i + j == 1 ? 0 : i + j == 3 ? 1 : 2;
    }

    // Block by block: each band's rows from its table, then the interior's,
    // then the rows painted, each once. Between its lowest and highest
    // corner a row centre crosses exactly two edges: the one joining those
    // corners, and the lower or the upper of the other two.
    void PaintTabulated()
    {
        const std::int32_t left = std::min(FEdges[0].A.X, std::min(FEdges[1].A.X, FEdges[2].A.X));
        FBase = left - TEdgeTables::BitsOrigin;
        // Away from the image's sides no span needs clipping.
        const bool inside = FBase >= 0 && FBase + Window <= FRaster.Width;
        int low = 0, mid = 1, high = 2;
        const TPoint* corner[3] = { &FEdges[0].A, &FEdges[1].A, &FEdges[2].A };
        if (corner[mid]->Y < corner[low]->Y)
            std::swap(mid, low);
        if (corner[high]->Y < corner[mid]->Y)
            std::swap(high, mid);
        if (corner[mid]->Y < corner[low]->Y)
            std::swap(mid, low);
        const TTriangleEdge* fillEdges[3]
            = { &FEdges[EdgeOf(low, high)], &FEdges[EdgeOf(low, mid)], &FEdges[EdgeOf(mid, high)] };
        // Rows within the image, so a block's last row cannot overflow.
        for (std::int32_t first = FFirst; first <= FLast; first += BlockRows)
            PaintBlock(first, std::min(FLast, first + BlockRows - 1), left, inside, fillEdges,
                corner[mid]->Y);
    }

    // Rows first .. last, at most BlockRows of them. fillEdges are the edge
    // from the lowest to the highest corner, then the lower and the upper of
    // the other two; the upper is crossed from row middle on.
    void PaintBlock(std::int32_t first, std::int32_t last, std::int32_t left, bool inside,
        const TTriangleEdge* const* fillEdges, std::int32_t middle) const
    {
        const std::int32_t count = last - first + 1;
        TRowCover rows[BlockRows];
        for (std::int32_t i = 0; i < count; ++i)
            rows[i] = TRowCover { 0, 0, 0, false };
        const std::int32_t width = FRaster.Width;

        if (FPen) {
            for (const TTriangleEdge& edge : FEdges) {
                const std::int32_t edgeFirst = std::max(edge.First, first);
                const std::int32_t edgeLast = std::min(edge.Last, last);
                if (edgeFirst > edgeLast)
                    continue;
                // Rows of the band beyond the table are worked out directly;
                // those in it but outside PaintFirst .. PaintLast have no pixels.
                const TEdgeTables::TShape& shape = *edge.Shape;
                const std::int64_t tableFirst = edge.A.Y + shape.JFirst;
                const std::int64_t tableLast = tableFirst + shape.JCount - 1;
                if (edgeFirst < tableFirst || edgeLast > tableLast) {
                    for (std::int32_t py = edgeFirst; py <= edgeLast; ++py) {
                        if (py < tableFirst || py > tableLast)
                            rows[py - first].Direct = true;
                    }
                }
                const auto from = static_cast<std::int32_t>(
                    std::max<std::int64_t>(edgeFirst, tableFirst + shape.PaintFirst));
                const auto to = static_cast<std::int32_t>(
                    std::min<std::int64_t>(edgeLast, tableFirst + shape.PaintLast));
                const TEdgeTables::TEntry* entry = shape.Entries + (from - tableFirst);
                const int shift = edge.A.X - left;
                for (std::int32_t py = from; py <= to; ++py, ++entry) {
                    TRowCover& row = rows[py - first];
                    if (entry->Flags & TEdgeTables::SpanDirect) {
                        row.Direct = true;
                    } else if (inside) {
                        row.Mask |= entry->Bits << shift;
                    } else {
                        const std::int32_t x0 = std::max(0, edge.A.X + entry->First);
                        const std::int32_t x1 = std::min(width - 1, edge.A.X + entry->Last) + 1;
                        if ((entry->Flags & TEdgeTables::HasSpan) && x0 < x1)
                            Cover(row, x0, x1);
                    }
                }
            }
        }

        const std::int32_t fillFirst = std::max(FFillFirst, first);
        const std::int32_t fillLast = std::min(FFillEnd - 1, last);
        for (std::int32_t py = fillFirst; py <= fillLast; ++py) {
            TRowCover& row = rows[py - first];
            const TTriangleEdge& across = *fillEdges[0];
            const TTriangleEdge& other = py < middle ? *fillEdges[1] : *fillEdges[2];
            const TEdgeTables::TEntry* e0 = across.Shape->Row(std::int64_t(py) - across.A.Y);
            const TEdgeTables::TEntry* e1 = other.Shape->Row(std::int64_t(py) - other.A.Y);
            if (!e0 || !e1 || ((e0->Flags | e1->Flags) & TEdgeTables::CrossDirect)) {
                row.Direct = true;
                continue;
            }
            const std::int32_t c0 = across.A.X + e0->Cross;
            const std::int32_t c1 = other.A.X + e1->Cross;
            const std::int32_t x0 = std::max(0, std::min(c0, c1));
            const std::int32_t x1 = std::min(width, std::max(c0, c1));
            if (x0 >= x1)
                continue;
            if (FJoined) {
                Cover(row, x0, x1);
            } else {
                row.FillX0 = x0;
                row.FillX1 = x1;
            }
        }

        for (std::int32_t i = 0; i < count; ++i) {
            const TRowCover& cover = rows[i];
            const std::int32_t py = first + i;
            if (cover.Direct) {
                PaintRow(py);
                continue;
            }
            std::uint8_t* row = FRaster.Row(py);
            // Under a coverage the interior comes after the pen, which
            // then keeps its pixels.
            if (!FCover)
                Fill(FBrushRun, FBrush, py, row, cover.FillX0, cover.FillX1);
            // Each run of covered columns; nearly always one.
            for (std::uint64_t mask = cover.Mask; mask;) {
                const int from = LowestBit(mask);
                const std::uint64_t beyond = ~(mask >> from);
                const int to = beyond ? LowestBit(beyond) + from : Window;
                Fill(FPenRun, FPen, py, row, FBase + from, FBase + to);
                mask &= to < Window ? ~std::uint64_t(0) << to : 0;
            }
            if (FCover)
                Fill(FBrushRun, FBrush, py, row, cover.FillX0, cover.FillX1);
        }
    }

    // From the run of the colour when there is one, else pixel by pixel.
    void Fill(const TPixelRun24* run, const std::uint32_t* value, std::int32_t py,
        std::uint8_t* row, std::int32_t x0, std::int32_t x1) const
    {
        FillSpan(FCover, py, x0, x1, [&](std::int32_t a, std::int32_t b) {
            if (run)
                run->Fill(row, a, b);
            else
                FFormat.Fill(row, a, b, *value);
        });
    }

    // One row worked out in full: the interior's crossings and each band's
    // span, from the tables where they hold and directly elsewhere.
    void PaintRow(std::int32_t py) const
    {
        std::uint8_t* row = FRaster.Row(py);
        TRowSpans spans;
        std::int32_t brushX0 = 0, brushX1 = 0; // the interior, when it comes last
        if (py >= FFillFirst && py < FFillEnd) {
            const TTriangleEdge* crossing[3];
            int found = 0;
            for (const TTriangleEdge& edge : FEdges) {
                if ((edge.A.Y <= py) != (edge.B.Y <= py))
                    crossing[found++] = &edge;
            }
            std::int32_t x0 = 0, x1 = 0;
            bool has = false;
            if (found == 2) {
                const TTriangleEdge& e0 = *crossing[0];
                const TTriangleEdge& e1 = *crossing[1];
                const TEdgeTables::TEntry* r0
                    = e0.Shape ? e0.Shape->Row(std::int64_t(py) - e0.A.Y) : nullptr;
                const TEdgeTables::TEntry* r1
                    = e1.Shape ? e1.Shape->Row(std::int64_t(py) - e1.A.Y) : nullptr;
                if (r0 && r1 && !((r0->Flags | r1->Flags) & TEdgeTables::CrossDirect)) {
                    const std::int32_t c0 = e0.A.X + r0->Cross;
                    const std::int32_t c1 = e1.A.X + r1->Cross;
                    x0 = std::max(0, std::min(c0, c1));
                    x1 = std::min(FRaster.Width, std::max(c0, c1));
                    has = x0 < x1;
                } else {
                    const double yc = double(py) + 0.5;
                    const double c0 = Crossing(e0.A, e0.B, yc);
                    const double c1 = Crossing(e1.A, e1.B, yc);
                    has = HalfOpenCentres(
                        std::min(c0, c1), std::max(c0, c1), FRaster.Width, x0, x1);
                }
            }
            if (has) {
                if (FJoined) {
                    spans.Add(x0, x1);
                } else if (!FCover) {
                    FFormat.Fill(row, x0, x1, *FBrush);
                } else {
                    brushX0 = x0;
                    brushX1 = x1;
                }
            }
        }
        if (FPen) {
            for (const TTriangleEdge& edge : FEdges) {
                std::int32_t x0, x1;
                if (py >= edge.First && py <= edge.Last && edge.Span(py, FRaster.Width, x0, x1))
                    spans.Add(x0, x1);
            }
        }
        if (!spans.Empty()) {
            spans.Paint([&](std::int32_t x0, std::int32_t x1) {
                FillSpan(FCover, py, x0, x1,
                    [&](std::int32_t a, std::int32_t b) { FFormat.Fill(row, a, b, *FPen); });
            });
        }
        // Under a coverage the interior comes after the pen.
        if (brushX0 < brushX1)
            FillSpan(FCover, py, brushX0, brushX1,
                [&](std::int32_t a, std::int32_t b) { FFormat.Fill(row, a, b, *FBrush); });
    }

    const TRaster& FRaster;
    const TPixelFormat& FFormat;
    const std::uint32_t* FBrush;
    const std::uint32_t* FPen;
    const TPixelRun24* FBrushRun;
    const TPixelRun24* FPenRun;
    TCoverage* const FCover;
    const bool FJoined;
    TTriangleEdge FEdges[3];
    bool FNarrow = false;
    std::int32_t FFirst = 0, FLast = -1; // rows painted
    std::int32_t FFillFirst = 0, FFillEnd = 0; // rows of the interior
    std::int32_t FBase = 0;
    std::int32_t FReachLeft = 0, FReachRight = 0; // columns the triangle can reach
};

} // namespace

namespace ImageDetail {

void PaintTriangle(const TRaster& raster, const TPixelFormat& format, const TPoint* points,
    const std::uint32_t* brushValue, const std::uint32_t* penValue, int penWidth, double reach,
    const TDiscWidths& discs, TCoverage* cover)
{
    // Kept from call to call like the disc widths: a skin is painted with
    // one pen and a few colours from its first triangle to its last.
    thread_local TEdgeTables tables;
    thread_local TPixelRun24 brushRun, penRun;
    const bool runs = format.Bits() == 24;
    if (runs && brushValue)
        brushRun.Use(*brushValue);
    if (runs && penValue)
        penRun.Use(*penValue);
    TTrianglePainter(raster, format, points, brushValue, penValue, discs,
        tables.Use(reach, penWidth) ? &tables : nullptr, reach, runs ? &brushRun : nullptr,
        runs ? &penRun : nullptr, cover)
        .Paint();
}

} // namespace ImageDetail
