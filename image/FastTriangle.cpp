// The tabulated triangle painter: one triangle painted row by row, each
// pixel written once, with the pen's bands and the interior's crossings
// looked up in tables made per edge shape wherever a table gives the very
// pixels the direct arithmetic of Polygon.cpp would. Why the looked-up rows
// equal the direct ones is argued in docs/triangle-painter.md; the
// PolygonPaint tests in tests/image/PolygonTest.cpp hold this painter to
// the plain one byte for byte.
#include "image/Painter.h"

#include <unordered_map>
#include <vector>

using namespace ImageDetail;

namespace {

// Edges tabulated by shape b - a: a row's pixels of the shape at the origin,
// shifted by a.X, wherever rounding cannot tell them from the direct ones
// (every candidate bound more than Margin from a pixel edge, or exactly on
// one without rounding); every other row is worked out directly.
class TEdgeTables
{
public:
    // Edges up to MaxSide on each axis are small: their tables live in one
    // array. Longer edges, up to MaxLongSide, are the seams of a skin's
    // layout, a few shapes repeated along a whole seam: a table is made for
    // such a shape the second time it is met, within a budget. Edges up to
    // MaxSide across, small or tall, are narrow: their spans also come as
    // bits (below).
    static constexpr std::int32_t MaxSide = 8;
    static constexpr std::int32_t MaxLongSide = 2048;
    static constexpr int MaxPenWidth = 16;
    static constexpr std::int32_t MaxX = std::int32_t(1) << 15;

    enum : std::uint8_t { HasSpan = 1, SpanDirect = 2, CrossDirect = 4 };
    // Rows from MaxReach above the higher end to MaxReach below the lower.
    static constexpr int MaxReach = MaxPenWidth / 2 + 2;
    // Bit i of a narrow edge's Bits stands for column a.X - BitsOrigin + i. A
    // triangle of narrow edges gathers its spans in 64 columns from its
    // leftmost corner less BitsOrigin: the spans of every edge fit there
    // once shifted by that edge's a.X less the leftmost corner's X, at most
    // 2 * MaxSide.
    static constexpr std::int32_t BitsOrigin = MaxSide + MaxReach;
    static constexpr std::int32_t BitsWidth = 64 - 2 * MaxSide;

    struct TEntry
    {
        // The span's columns as bits, for a narrow edge with HasSpan.
        std::uint64_t Bits;
        // The covered centres are [a.X + First, a.X + Last] when HasSpan.
        std::int16_t First;
        std::int16_t Last;
        // The interior's bound for the crossing: ceil(crossing - 0.5) = a.X + Cross.
        std::int16_t Cross;
        std::uint8_t Flags;
    };

    struct TShape
    {
        std::int64_t JFirst = 0; // the row of entry 0, counted from a.Y
        std::int32_t JCount = 0;
        // The entries from PaintFirst to PaintLast hold every span with
        // pixels and every row to be worked out directly.
        std::int32_t PaintFirst = 0, PaintLast = -1;
        bool Narrow = false;
        const TEntry* Entries = nullptr; // nullptr until made

        // The entry of the row j rows below a; nullptr outside the table.
        const TEntry* Row(std::int64_t j) const
        {
            j -= JFirst;
            return j >= 0 && j < JCount ? &Entries[j] : nullptr;
        }
    };

    // Call before the edges of a polygon are looked up: starts over when
    // the pen's reach changes and drops the long shapes past their budget.
    // False when the pen is too wide to tabulate.
    bool Use(double reach, int penWidth)
    {
        if (penWidth > MaxPenWidth)
            return false;
        if (reach != FReach) {
            FReach = reach;
            FShapes.assign(std::size_t(Side * Side), TShape());
            FSmallEntries.assign(std::size_t(Side * Side * MaxRows), TEntry());
            FLong.clear();
            FLongEntries = 0;
        }
        if (FLongEntries > LongEntryBudget || FLong.size() > LongShapeBudget) {
            FLong.clear();
            FLongEntries = 0;
        }
        return true;
    }

    // The table of edge a-b, made on first use (long edges: on second use);
    // nullptr for none.
    const TShape* Shape(const TPoint& a, const TPoint& b, const TDiscWidths& discs)
    {
        const std::int64_t dx = std::int64_t(b.X) - a.X;
        const std::int64_t dy = std::int64_t(b.Y) - a.Y;
        if (a.X < -MaxX || a.X > MaxX)
            return nullptr;
        if (dx >= -MaxSide && dx <= MaxSide && dy >= -MaxSide && dy <= MaxSide) {
            const auto index = std::size_t((dy + MaxSide) * Side + (dx + MaxSide));
            TShape& shape = FShapes[index];
            if (!shape.Entries) {
                TEntry* entries = &FSmallEntries[index * MaxRows];
                Build(shape, entries, static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy),
                    discs);
            }
            return &shape;
        }
        if (dx < -MaxLongSide || dx > MaxLongSide || dy < -MaxLongSide || dy > MaxLongSide)
            return nullptr;
        const std::uint64_t key
            = (std::uint64_t(dx + MaxLongSide) << 32) | std::uint64_t(dy + MaxLongSide);
        TLongShape& found = FLong[key];
        if (found.Shape.Entries)
            return &found.Shape;
        if (!found.Seen || FLongEntries > LongEntryBudget) {
            found.Seen = true;
            return nullptr;
        }
        found.Entries.resize(std::size_t(std::abs(dy) + 2 * ReachRows() + 1));
        FLongEntries += found.Entries.size();
        Build(found.Shape, found.Entries.data(), static_cast<std::int32_t>(dx),
            static_cast<std::int32_t>(dy), discs);
        return &found.Shape;
    }

private:
    static constexpr std::int32_t Side = 2 * MaxSide + 1;
    static constexpr int MaxRows = MaxSide + 2 * MaxReach + 1;
    static constexpr std::size_t LongEntryBudget = std::size_t(1) << 18;
    static constexpr std::size_t LongShapeBudget = 4096;
    // |t| < MaxT and |a.X| <= MaxX keep |a.X + t| below 2^16, where its
    // rounding drifts far less than Margin.
    static constexpr double MaxT = 4096;
    static constexpr double Margin = 1.0 / (std::int64_t(1) << 33);

    struct TLongShape
    {
        TShape Shape;
        std::vector<TEntry> Entries;
        bool Seen = false;
    };

    int ReachRows() const { return static_cast<int>(std::ceil(FReach)) + 1; }

    static bool IsHalfInteger(double v)
    {
        const double twice = 2 * v;
        return twice == std::floor(twice) && std::fmod(twice, 2.0) != 0;
    }

    // Whether t selects the same pixels wherever the edge lies.
    static bool Steady(const TBoundsAudit::TCandidate& t)
    {
        if (!(std::fabs(t.Value) < MaxT))
            return false;
        const double u = t.Value - 0.5;
        return std::fabs(u - std::round(u)) > Margin || (t.Exact && IsHalfInteger(t.Value));
    }

    static bool Fits(double v) { return std::fabs(v) < MaxT; }

    void Build(TShape& shape, TEntry* entries, std::int32_t dx, std::int32_t dy,
        const TDiscWidths& discs) const
    {
        const TPoint origin { 0, 0 };
        const TPoint end { dx, dy };
        const TCapsule capsule(origin, end, FReach, discs);
        shape.JFirst = std::min(0, dy) - ReachRows();
        shape.JCount = std::abs(dy) + 2 * ReachRows() + 1;
        shape.PaintFirst = shape.JCount;
        shape.PaintLast = -1;
        const bool narrow = dx >= -MaxSide && dx <= MaxSide;
        shape.Narrow = narrow;
        for (std::int32_t i = 0; i < shape.JCount; ++i) {
            const auto j = static_cast<std::int32_t>(shape.JFirst + i);
            TEntry& entry = entries[i];
            entry = TEntry { 0, 0, 0, 0, 0 };

            TBoundsAudit audit;
            double lo, hi;
            bool steady = true;
            if (capsule.Bounds(j, lo, hi, &audit)) {
                for (int k = 0; k < audit.Count; ++k)
                    steady = steady && Steady(audit.Lo[k]) && Steady(audit.Hi[k]);
                const double first = std::ceil(lo - 0.5);
                const double last = std::floor(hi - 0.5);
                const double from = first + BitsOrigin, to = last + 1 + BitsOrigin;
                steady = steady && Fits(first) && Fits(last)
                    && (!narrow || (from >= 0 && to <= BitsWidth));
                if (steady && first <= last) {
                    entry.First = static_cast<std::int16_t>(first);
                    entry.Last = static_cast<std::int16_t>(last);
                    if (narrow) {
                        entry.Bits = (~std::uint64_t(0) >> (64 - static_cast<int>(to - from)))
                            << static_cast<int>(from);
                    }
                    entry.Flags |= HasSpan;
                }
            }
            if (audit.StripCrossed && !(audit.StripGap > Margin))
                steady = false;
            if (!steady)
                entry.Flags = SpanDirect;

            if ((0 <= j) != (dy <= j)) {
                const double t = Crossing(origin, end, j + 0.5);
                const double cross = std::ceil(t - 0.5);
                if (Steady({ t, true }) && Fits(cross))
                    entry.Cross = static_cast<std::int16_t>(cross);
                else
                    entry.Flags |= CrossDirect;
            }
            if (entry.Flags & (HasSpan | SpanDirect)) {
                shape.PaintFirst = std::min(shape.PaintFirst, i);
                shape.PaintLast = i;
            }
        }
        shape.Entries = entries;
    }

    double FReach = -1;
    std::vector<TShape> FShapes;
    std::vector<TEntry> FSmallEntries;
    std::unordered_map<std::uint64_t, TLongShape> FLong;
    std::size_t FLongEntries = 0;
};

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

    void Paint(std::uint8_t* row, const TPixelFormat& format, std::uint32_t value)
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
                format.Fill(row, runStart, runEnd, value);
                runStart = FX0[i];
                runEnd = FX1[i];
            }
        }
        format.Fill(row, runStart, runEnd, value);
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
        TEdgeTables* tables, double reach, const TPixelRun24* brushRun, const TPixelRun24* penRun)
        : FRaster(raster)
        , FFormat(format)
        , FBrush(brushValue)
        , FPen(penValue)
        , FBrushRun(brushRun)
        , FPenRun(penRun)
        , FJoined(brushValue && penValue && *brushValue == *penValue)
        , FEdges { { points[0], points[1], TCapsule(points[0], points[1], reach, discs), nullptr, 0,
                       -1 },
            { points[1], points[2], TCapsule(points[1], points[2], reach, discs), nullptr, 0, -1 },
            { points[2], points[0], TCapsule(points[2], points[0], reach, discs), nullptr, 0, -1 } }
    {
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
            for (std::int32_t py = FFirst; py <= FLast; ++py)
                PaintRow(py);
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
            if (cover.FillX0 < cover.FillX1) {
                if (FBrushRun)
                    FBrushRun->Fill(row, cover.FillX0, cover.FillX1);
                else
                    FFormat.Fill(row, cover.FillX0, cover.FillX1, *FBrush);
            }
            // Each run of covered columns; nearly always one.
            for (std::uint64_t mask = cover.Mask; mask;) {
                const int from = LowestBit(mask);
                const std::uint64_t beyond = ~(mask >> from);
                const int to = beyond ? LowestBit(beyond) + from : Window;
                if (FPenRun)
                    FPenRun->Fill(row, FBase + from, FBase + to);
                else
                    FFormat.Fill(row, FBase + from, FBase + to, *FPen);
                mask &= to < Window ? ~std::uint64_t(0) << to : 0;
            }
        }
    }

    // One row worked out in full: the interior's crossings and each band's
    // span, from the tables where they hold and directly elsewhere.
    void PaintRow(std::int32_t py) const
    {
        std::uint8_t* row = FRaster.Row(py);
        TRowSpans spans;
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
                if (FJoined)
                    spans.Add(x0, x1);
                else
                    FFormat.Fill(row, x0, x1, *FBrush);
            }
        }
        if (FPen) {
            for (const TTriangleEdge& edge : FEdges) {
                std::int32_t x0, x1;
                if (py >= edge.First && py <= edge.Last && edge.Span(py, FRaster.Width, x0, x1))
                    spans.Add(x0, x1);
            }
        }
        if (!spans.Empty())
            spans.Paint(row, FFormat, *FPen);
    }

    const TRaster& FRaster;
    const TPixelFormat& FFormat;
    const std::uint32_t* FBrush;
    const std::uint32_t* FPen;
    const TPixelRun24* FBrushRun;
    const TPixelRun24* FPenRun;
    const bool FJoined;
    TTriangleEdge FEdges[3];
    bool FNarrow = false;
    std::int32_t FFirst = 0, FLast = -1; // rows painted
    std::int32_t FFillFirst = 0, FFillEnd = 0; // rows of the interior
    std::int32_t FBase = 0;
};

} // namespace

namespace ImageDetail {

void PaintTriangle(const TRaster& raster, const TPixelFormat& format, const TPoint* points,
    const std::uint32_t* brushValue, const std::uint32_t* penValue, int penWidth, double reach,
    const TDiscWidths& discs)
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
        runs ? &penRun : nullptr)
        .Paint();
}

} // namespace ImageDetail
