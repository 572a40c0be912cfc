// The general polygon painter: the interior by the alternating rule,
// sampled at pixel centres, then the pen's band around every edge. A
// triangle goes to the tabulated painter (FastTriangle.cpp), which must
// leave the same bytes. Painting under, both paint the band first and the
// interior after it, each only where the canvas's coverage has no pixel
// painted yet.
#include "image/Painter.h"

#include <new>
#include <vector>

#include "util/Errors.h"
#include "util/Translate.h"

using namespace ImageDetail;

namespace ImageDetail {

bool TCapsule::Bounds(std::int32_t py, double& lo, double& hi, TBoundsAudit* audit) const
{
    const double inf = std::numeric_limits<double>::infinity();
    const double yc = py + 0.5;
    lo = inf;
    hi = -inf;
    double half;
    if (FDiscs->Half(std::int64_t(py) - FA.Y, half)) {
        lo = std::min(lo, FA.X - half);
        hi = std::max(hi, FA.X + half);
        if (audit)
            audit->Note(FA.X - half, FA.X + half, true);
    }
    if (FDiscs->Half(std::int64_t(py) - FB.Y, half)) {
        lo = std::min(lo, FB.X - half);
        hi = std::max(hi, FB.X + half);
        if (audit)
            audit->Note(FB.X - half, FB.X + half, false);
    }
    if (FLen2 > 0) {
        // x where the projection on the segment lies in [0, len2] and the
        // signed distance from its line in [-reach, reach].
        const double ey = yc - FAy;
        double stripLo = -inf, stripHi = inf;
        bool empty = false;
        if (FDx != 0) {
            const double x0 = FAx + (0 - ey * FDy) / FDx;
            const double x1 = FAx + (FLen2 - ey * FDy) / FDx;
            stripLo = std::max(stripLo, std::min(x0, x1));
            stripHi = std::min(stripHi, std::max(x0, x1));
        } else if (ey * FDy < 0 || ey * FDy > FLen2) {
            empty = true;
        }
        if (FDy != 0) {
            const double x0 = FAx + (ey * FDx - FReachLen) / FDy;
            const double x1 = FAx + (ey * FDx + FReachLen) / FDy;
            stripLo = std::max(stripLo, std::min(x0, x1));
            stripHi = std::min(stripHi, std::max(x0, x1));
        } else if (std::fabs(ey * FDx) > FReachLen) {
            empty = true;
        }
        if (!empty && stripLo <= stripHi) {
            lo = std::min(lo, stripLo);
            hi = std::max(hi, stripHi);
            if (audit)
                audit->Note(stripLo, stripHi, true);
        } else if (!empty && audit) {
            audit->StripCrossed = true;
            audit->StripGap = stripLo - stripHi;
        }
    }
    return lo <= hi;
}

} // namespace ImageDetail

namespace {

void DrawCapsule(const TRaster& raster, const TPixelFormat& format, std::uint32_t value,
    const TCapsule& capsule, TCoverage* cover)
{
    std::int32_t rowFirst, rowLast;
    if (!capsule.Rows(raster.Height, rowFirst, rowLast))
        return;
    for (std::int32_t py = rowFirst; py <= rowLast; ++py) {
        std::int32_t x0, x1;
        if (capsule.Span(py, raster.Width, x0, x1)) {
            std::uint8_t* row = raster.Row(py);
            FillSpan(cover, py, x0, x1,
                [&](std::int32_t a, std::int32_t b) { format.Fill(row, a, b, value); });
        }
    }
}

// Polygon interior by the alternating rule, sampled at pixel centres. A
// scanline at y + 0.5 never passes through a vertex (vertices have integer
// coordinates), and an edge counts when its end points lie on different
// sides, so every crossing is counted once. Only rows and columns inside
// the image are visited, whatever the coordinates.
void FillInterior(const TRaster& raster, const TPixelFormat& format, std::uint32_t value,
    const TPoint* points, std::size_t count, TCoverage* cover)
{
    std::int64_t minY = std::numeric_limits<std::int64_t>::max();
    std::int64_t maxY = std::numeric_limits<std::int64_t>::min();
    for (std::size_t i = 0; i < count; ++i) {
        minY = std::min<std::int64_t>(minY, points[i].Y);
        maxY = std::max<std::int64_t>(maxY, points[i].Y);
    }
    const std::int64_t rowFirst = std::max<std::int64_t>(minY, 0);
    const std::int64_t rowEnd = std::min<std::int64_t>(maxY, raster.Height);
    std::vector<double> crossings;
    for (std::int64_t py = rowFirst; py < rowEnd; ++py) {
        const double yc = double(py) + 0.5;
        crossings.clear();
        for (std::size_t i = 0; i < count; ++i) {
            const TPoint& a = points[i];
            const TPoint& b = points[(i + 1) % count];
            if ((double(a.Y) < yc) != (double(b.Y) < yc))
                crossings.push_back(Crossing(a, b, yc));
        }
        std::sort(crossings.begin(), crossings.end());
        std::uint8_t* row = raster.Row(static_cast<std::int32_t>(py));
        for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) {
            std::int32_t x0, x1;
            if (HalfOpenCentres(crossings[i], crossings[i + 1], raster.Width, x0, x1)) {
                FillSpan(cover, static_cast<std::int32_t>(py), x0, x1,
                    [&](std::int32_t a, std::int32_t b) { format.Fill(row, a, b, value); });
            }
        }
    }
}

} // namespace

TCanvas::TCanvas(TBitmap& image)
    : FImage(image)
{
}

TCanvas::~TCanvas() = default;

void TCanvas::SetPaintUnder(bool on)
{
    FPaintUnder = on;
    FCoverage.reset();
}

void TCanvas::Polygon(const TPoint* points, std::size_t count)
{
    if (!points || count == 0 || !FImage.HasPixels())
        return;
    // Under, the pen's band goes first: the interior is painted only where
    // the band did not reach, as it would show only there.
    TCoverage* cover = nullptr;
    if (FPaintUnder) {
        if (!FCoverage || !FCoverage->Fits(FImage.Width(), FImage.Height())) {
            FCoverage.reset();
            try {
                FCoverage.reset(new TCoverage(FImage.Width(), FImage.Height()));
            } catch (const std::bad_alloc&) {
                throw EOutOfResources(Tr(SOutOfResources));
            }
        }
        cover = FCoverage.get();
    }
    const TPixelFormat format(FImage);
    const auto stride = static_cast<std::ptrdiff_t>(FImage.Stride());
    std::uint8_t* const pixels = FImage.FPixels.data();
    const TRaster raster = FImage.FTopDown
        ? TRaster { pixels, stride, FImage.Width(), FImage.Height() }
        : TRaster { pixels + (FImage.Height() - 1) * stride, -stride, FImage.Width(),
              FImage.Height() };
    const bool fill = Brush.Style == bsSolid && count >= 3;
    const bool outline = Pen.Style != psClear;
    const std::uint32_t brushValue = fill ? format.Encode(Brush.Color) : 0;
    const std::uint32_t penValue = outline ? format.Encode(Pen.Color) : 0;
    // A pen of width 0 draws like a pen of width 1.
    const int penWidth = std::max(1, Pen.Width());
    const double radius = penWidth / 2.0;
    const double reach = radius + CoverSlack;
    // A skin is painted with one pen from its first polygon to its last, so
    // what depends on the pen alone is kept from call to call.
    thread_local TDiscWidths discs;
    discs.Use(reach);

    if (count == 3) {
        PaintTriangle(raster, format, points, fill ? &brushValue : nullptr,
            outline ? &penValue : nullptr, penWidth, reach, discs, cover);
        return;
    }
    if (fill && !cover)
        FillInterior(raster, format, brushValue, points, count, nullptr);
    if (outline && count <= 2) {
        DrawCapsule(
            raster, format, penValue, TCapsule(points[0], points[count - 1], reach, discs), cover);
    } else if (outline) {
        for (std::size_t i = 0; i < count; ++i) {
            DrawCapsule(raster, format, penValue,
                TCapsule(points[i], points[(i + 1) % count], reach, discs), cover);
        }
    }
    if (fill && cover)
        FillInterior(raster, format, brushValue, points, count, cover);
}
