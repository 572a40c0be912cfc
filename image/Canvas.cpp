// The canvas's rectangle operations: filling with the brush and copying
// between images. Polygons are painted in Polygon.cpp.
#include "image/Bitmap.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/PixelFormat.h"
#include "util/Errors.h"

using namespace ImageDetail;

void TCanvas::FillRect(const TRect& r)
{
    if (Brush.Style == bsClear || !FImage.HasPixels())
        return;
    const std::int64_t x0 = std::max<std::int64_t>(r.Left, 0);
    const std::int64_t x1 = std::min<std::int64_t>(r.Right, FImage.Width());
    const std::int64_t y0 = std::max<std::int64_t>(r.Top, 0);
    const std::int64_t y1 = std::min<std::int64_t>(r.Bottom, FImage.Height());
    if (x0 >= x1 || y0 >= y1)
        return;
    const TPixelFormat format(FImage);
    const std::uint32_t value = format.Encode(Brush.Color);
    for (std::int64_t y = y0; y < y1; ++y) {
        format.Fill(FImage.RowData(static_cast<std::int32_t>(y)), static_cast<std::int32_t>(x0),
            static_cast<std::int32_t>(x1), value);
    }
}

namespace {

// For each destination position d0 + k (k = 0 .. dLen - 1) that lies in
// [0, dLimit), the source position it samples, or -1 when that lies outside
// [0, sLimit). Equal lengths map one to one; otherwise the centre of the
// destination pixel is carried into the source rectangle (nearest neighbour).
std::vector<std::int32_t> MapAxis(std::int64_t d0, std::int64_t dLen, std::int64_t s0,
    std::int64_t sLen, std::int32_t dLimit, std::int32_t sLimit, std::int32_t& first)
{
    const std::int64_t lo = std::max<std::int64_t>(d0, 0);
    const std::int64_t hi = std::min<std::int64_t>(d0 + dLen, dLimit);
    std::vector<std::int32_t> map;
    first = static_cast<std::int32_t>(std::min<std::int64_t>(lo, dLimit));
    for (std::int64_t d = lo; d < hi; ++d) {
        const std::int64_t k = d - d0;
        std::int64_t s;
        if (sLen == dLen) {
            s = s0 + k;
        } else {
            const double offset = std::floor((double(k) + 0.5) * double(sLen) / double(dLen));
            s = s0 + std::min<std::int64_t>(static_cast<std::int64_t>(offset), sLen - 1);
        }
        map.push_back(s >= 0 && s < sLimit ? static_cast<std::int32_t>(s) : -1);
    }
    return map;
}

} // namespace

void TCanvas::StretchCopy(const TRect& dest, const TCanvas& source, const TRect& src)
{
    if (CopyMode != cmSrcCopy) {
        char mode[16];
        std::snprintf(mode, sizeof mode, "0x%06X", static_cast<unsigned>(CopyMode));
        throw EInvalidGraphicOperation(
            std::string("Copy mode ") + mode + " is not supported; only SRCCOPY (0xCC0020) is.");
    }
    const std::int64_t dw = std::int64_t(dest.Right) - dest.Left;
    const std::int64_t dh = std::int64_t(dest.Bottom) - dest.Top;
    const std::int64_t sw = std::int64_t(src.Right) - src.Left;
    const std::int64_t sh = std::int64_t(src.Bottom) - src.Top;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0)
        return;
    TBitmap& target = FImage;
    const TBitmap* from = &source.Image();
    if (!target.HasPixels() || !from->HasPixels())
        return;

    // Copying within one image reads from a snapshot, so overlapping
    // rectangles see the source as it was before the copy.
    TBitmap snapshot;
    if (from == &target) {
        snapshot.FWidth = target.FWidth;
        snapshot.FHeight = target.FHeight;
        snapshot.FBitsPerPixel = target.FBitsPerPixel;
        snapshot.FTopDown = target.FTopDown;
        snapshot.FColorTable = target.FColorTable;
        snapshot.FHasMasks = target.FHasMasks;
        std::copy(std::begin(target.FMasks), std::end(target.FMasks), snapshot.FMasks);
        snapshot.FPixels = target.FPixels;
        from = &snapshot;
    }

    std::int32_t firstX, firstY;
    const std::vector<std::int32_t> columns
        = MapAxis(dest.Left, dw, src.Left, sw, target.Width(), from->Width(), firstX);
    const std::vector<std::int32_t> rows
        = MapAxis(dest.Top, dh, src.Top, sh, target.Height(), from->Height(), firstY);
    const TPixelFormat inFormat(*from);
    const TPixelFormat outFormat(target);
    const bool rawCopy = inFormat.Bits() == 24 && outFormat.Bits() == 24 && sw == dw;

    TColor lastColor = 0;
    std::uint32_t lastValue = outFormat.Encode(lastColor);
    for (std::size_t j = 0; j < rows.size(); ++j) {
        if (rows[j] < 0)
            continue;
        const std::uint8_t* in = from->RowData(rows[j]);
        std::uint8_t* out = target.RowData(firstY + static_cast<std::int32_t>(j));
        if (rawCopy) {
            // One to one: the mapped columns form one run.
            std::size_t i = 0;
            while (i < columns.size() && columns[i] < 0)
                ++i;
            std::size_t n = 0;
            while (i + n < columns.size() && columns[i + n] >= 0)
                ++n;
            if (n > 0) {
                std::memcpy(
                    out + 3 * (std::size_t(firstX) + i), in + 3 * std::size_t(columns[i]), 3 * n);
            }
            continue;
        }
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (columns[i] < 0)
                continue;
            const TColor c = inFormat.Decode(in, columns[i]);
            if (c != lastColor) {
                lastColor = c;
                lastValue = outFormat.Encode(c);
            }
            const std::int32_t x = firstX + static_cast<std::int32_t>(i);
            outFormat.Fill(out, x, x + 1, lastValue);
        }
    }
}
