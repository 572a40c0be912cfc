// The tables of the tabulated triangle painter (FastTriangle.cpp, its only
// user): a row's pixels of each edge shape, worked out once at the origin.
// A header, not a file of its own, so that the per-row lookups stay inline.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "image/Painter.h"

namespace ImageDetail {

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

} // namespace ImageDetail
