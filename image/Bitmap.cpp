#include "image/Bitmap.h"

#include "util/Errors.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>

const char* const SFOpenError = "ファイル %s は開けません";
const char* const SFCreateError = "ファイル %s を作成できません";
const char* const SInvalidBitmap = "ビットマップイメージが不正です";
const char* const SReadError = "ストリームからの読み込みエラー";
const char* const SWriteError = "ストリームへの書き込みエラー";
const char* const SScanLine = "スキャンライン のインデックスが範囲を越えました";
const char* const SOutOfResources = "システム リソースが足りません";
const char* const SNoCanvasHandle = "Canvas に対する描画ができません";

namespace {

// The depth given to pixels made while no depth has been set.
constexpr int DefaultBitsPerPixel = 24;

// 16-bit pixels without masks are 5-5-5; 32-bit pixels without masks are
// the bytes blue, green, red and one unused byte.
constexpr std::uint32_t Default16Masks[3] = { 0x7C00, 0x03E0, 0x001F };
constexpr std::uint32_t Default32Masks[3] = { 0xFF0000, 0x00FF00, 0x0000FF };

unsigned RedOf(TColor c)
{
    return c & 0xFF;
}
unsigned GreenOf(TColor c)
{
    return (c >> 8) & 0xFF;
}
unsigned BlueOf(TColor c)
{
    return (c >> 16) & 0xFF;
}

TColor MakeColor(unsigned red, unsigned green, unsigned blue)
{
    return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}

bool IsValidDepth(int bitsPerPixel)
{
    switch (bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return true;
    default:
        return false;
    }
}

// One colour channel of a 16- or 32-bit pixel, described by its mask. A
// mask may be 0 (the channel reads 0), all ones, or have holes; the value
// is taken from the lowest to the highest set bit.
struct TChannel
{
    std::uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;
};

TChannel MakeChannel(std::uint32_t mask)
{
    TChannel channel;
    channel.Mask = mask;
    if (mask == 0)
        return channel;
    int low = 0;
    while (((mask >> low) & 1) == 0)
        ++low;
    int high = 31;
    while (((mask >> high) & 1) == 0)
        --high;
    channel.Shift = low;
    channel.Bits = high - low + 1;
    return channel;
}

// Widens a channel value of `bits` bits to 8 bits: wider channels keep their
// top 8 bits, narrower ones repeat their bits so that all ones gives 255.
unsigned WidenChannel(std::uint32_t value, int bits)
{
    if (bits <= 0)
        return 0;
    if (bits >= 8)
        return (value >> (bits - 8)) & 0xFF;
    unsigned result = 0;
    for (int pos = 8 - bits; pos > -bits; pos -= bits)
        result |= pos >= 0 ? value << pos : value >> -pos;
    return result & 0xFF;
}

// The channel value nearest to the 8-bit value v.
std::uint32_t NarrowChannel(unsigned v, const TChannel& channel)
{
    if (channel.Bits == 0)
        return 0;
    const std::uint64_t top = (std::uint64_t(1) << channel.Bits) - 1;
    const std::uint64_t value = (std::uint64_t(v) * top + 127) / 255;
    return static_cast<std::uint32_t>(value << channel.Shift) & channel.Mask;
}

std::uint32_t LoadLE(const std::uint8_t* p, int bytes)
{
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

void StoreLE(std::uint8_t* p, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// How colours map to the pixel values of one depth, colour table and masks.
// Encoding yields the pixel value once, so that a span is filled without
// searching the colour table for every pixel.
class TPixelFormat
{
public:
    TPixelFormat(int bitsPerPixel, const std::vector<TRGBQuad>* table, const std::uint32_t* masks)
        : FBits(bitsPerPixel)
        , FTable(table)
    {
        const std::uint32_t* use = masks;
        if (!use)
            use = FBits == 16 ? Default16Masks : Default32Masks;
        for (int i = 0; i < 3; ++i)
            FChannels[i] = MakeChannel(use[i]);
    }

    explicit TPixelFormat(const TBitmap& image)
        : TPixelFormat(
            image.BitsPerPixel(), &image.ColorTable(), image.HasMasks() ? image.Masks() : nullptr)
    {
    }

    int Bits() const { return FBits; }

    TColor Decode(const std::uint8_t* row, std::int32_t x) const
    {
        switch (FBits) {
        case 1:
            return TableColor((row[x >> 3] >> (7 - (x & 7))) & 1);
        case 4:
            return TableColor((x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4);
        case 8:
            return TableColor(row[x]);
        case 16:
            return MaskedColor(LoadLE(row + 2 * std::size_t(x), 2));
        case 24: {
            const std::uint8_t* p = row + 3 * std::size_t(x);
            return MakeColor(p[2], p[1], p[0]);
        }
        case 32:
            return MaskedColor(LoadLE(row + 4 * std::size_t(x), 4));
        default:
            return clBlack;
        }
    }

    std::uint32_t Encode(TColor c) const
    {
        switch (FBits) {
        case 1:
        case 4:
        case 8:
            return NearestIndex(c);
        case 24:
            return c & 0xFFFFFF;
        case 16:
        case 32:
            return NarrowChannel(RedOf(c), FChannels[0]) | NarrowChannel(GreenOf(c), FChannels[1])
                | NarrowChannel(BlueOf(c), FChannels[2]);
        default:
            return 0;
        }
    }

    // Sets pixels [x0, x1) of a row to an encoded value; the caller clips.
    void Fill(std::uint8_t* row, std::int32_t x0, std::int32_t x1, std::uint32_t value) const
    {
        if (x0 >= x1)
            return;
        const std::size_t count = std::size_t(x1 - x0);
        switch (FBits) {
        case 1:
        case 4:
            for (std::int32_t x = x0; x < x1; ++x)
                StoreSmall(row, x, value);
            break;
        case 8:
            std::memset(row + x0, static_cast<int>(value & 0xFF), count);
            break;
        case 16:
            for (std::size_t i = 0; i < count; ++i)
                StoreLE(row + 2 * (std::size_t(x0) + i), value, 2);
            break;
        case 24: {
            // One pixel, then double the painted run until the span is full.
            std::uint8_t* p = row + 3 * std::size_t(x0);
            const std::uint8_t pixel[3] = { static_cast<std::uint8_t>(BlueOf(value)),
                static_cast<std::uint8_t>(GreenOf(value)),
                static_cast<std::uint8_t>(RedOf(value)) };
            std::memcpy(p, pixel, 3);
            const std::size_t total = 3 * count;
            for (std::size_t done = 3; done < total;) {
                const std::size_t n = std::min(done, total - done);
                std::memcpy(p + done, p, n);
                done += n;
            }
            break;
        }
        case 32:
            for (std::size_t i = 0; i < count; ++i)
                StoreLE(row + 4 * (std::size_t(x0) + i), value, 4);
            break;
        default:
            break;
        }
    }

private:
    TColor TableColor(std::size_t index) const
    {
        if (!FTable || index >= FTable->size())
            return clBlack;
        const TRGBQuad& q = (*FTable)[index];
        return MakeColor(q.Red, q.Green, q.Blue);
    }

    TColor MaskedColor(std::uint32_t pixel) const
    {
        unsigned v[3];
        for (int i = 0; i < 3; ++i) {
            const TChannel& ch = FChannels[i];
            v[i] = WidenChannel((pixel & ch.Mask) >> ch.Shift, ch.Bits);
        }
        return MakeColor(v[0], v[1], v[2]);
    }

    // The first table entry at the smallest squared RGB distance, among the
    // entries the depth can address; 0 for an empty table.
    std::uint32_t NearestIndex(TColor c) const
    {
        if (!FTable)
            return 0;
        const std::size_t usable = std::min(FTable->size(), std::size_t(1) << FBits);
        std::uint32_t best = 0;
        long bestDistance = std::numeric_limits<long>::max();
        for (std::size_t i = 0; i < usable; ++i) {
            const TRGBQuad& q = (*FTable)[i];
            const long dr = long(q.Red) - long(RedOf(c));
            const long dg = long(q.Green) - long(GreenOf(c));
            const long db = long(q.Blue) - long(BlueOf(c));
            const long distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = static_cast<std::uint32_t>(i);
            }
        }
        return best;
    }

    // 1- and 4-bit pixels: the leftmost pixel sits in the high bits of a byte.
    void StoreSmall(std::uint8_t* row, std::int32_t x, std::uint32_t value) const
    {
        const int perByte = 8 / FBits;
        const int shift = (perByte - 1 - x % perByte) * FBits;
        const unsigned mask = ((1u << FBits) - 1) << shift;
        std::uint8_t& b = row[x / perByte];
        b = static_cast<std::uint8_t>((b & ~mask) | ((value << shift) & mask));
    }

    int FBits;
    const std::vector<TRGBQuad>* FTable;
    TChannel FChannels[3];
};

void CheckDimension(std::int32_t value)
{
    if (value < 0 || value > TBitmap::MaxDimension)
        throw EInvalidGraphic(SInvalidBitmap);
}

// A store beyond the cap counts as resources run out, like a failed allocation.
std::vector<std::uint8_t> AllocateStore(std::uint64_t bytes)
{
    if (bytes > TBitmap::MaxStoreBytes)
        throw EOutOfResources(SOutOfResources);
    try {
        return std::vector<std::uint8_t>(static_cast<std::size_t>(bytes));
    } catch (const std::bad_alloc&) {
        throw EOutOfResources(SOutOfResources);
    }
}

// A bottom-up store of width x height in the target format: every pixel set
// to `background` when paint is true (else left 0), then the picture of
// source drawn over it at the same coordinates, clipped, converted when the
// depths differ. Padding bytes after each row's last pixel stay 0.
std::vector<std::uint8_t> RedrawStore(const TBitmap& source, std::int32_t width,
    std::int32_t height, const TPixelFormat& target, bool paint, std::uint32_t background)
{
    const std::size_t stride = TBitmap::StrideFor(width, target.Bits());
    std::vector<std::uint8_t> pixels = AllocateStore(std::uint64_t(stride) * std::uint64_t(height));
    auto row = [&](std::int32_t y) { return pixels.data() + std::size_t(height - 1 - y) * stride; };
    if (paint) {
        target.Fill(row(0), 0, width, background);
        for (std::int32_t y = 1; y < height; ++y)
            std::memcpy(row(y), row(0), stride);
    }
    if (!source.HasPixels())
        return pixels;

    const TPixelFormat from(source);
    const std::int32_t w = std::min(width, source.Width());
    const std::int32_t h = std::min(height, source.Height());
    const int bits = target.Bits();
    for (std::int32_t y = 0; y < h; ++y) {
        const std::uint8_t* in = source.RowData(y);
        std::uint8_t* out = row(y);
        if (from.Bits() == bits) {
            // Whole bytes hold only pixels inside w; the rest go one by one.
            const std::size_t wholeBytes = std::size_t(w) * std::size_t(bits) / 8;
            std::memcpy(out, in, wholeBytes);
            const std::int32_t firstLeft = static_cast<std::int32_t>(wholeBytes * 8 / bits);
            for (std::int32_t x = firstLeft; x < w; ++x) {
                const std::uint32_t index = bits == 1
                    ? (in[x >> 3] >> (7 - (x & 7))) & 1
                    : (x & 1 ? in[x >> 1] & 0x0F : in[x >> 1] >> 4);
                target.Fill(out, x, x + 1, index);
            }
        } else {
            for (std::int32_t x = 0; x < w; ++x)
                target.Fill(out, x, x + 1, target.Encode(from.Decode(in, x)));
        }
    }
    return pixels;
}

// The store of image at width x height and the given depth, empty when a
// dimension is 0. New pixels take the brush colour (white while the canvas
// is unused, 0 with a clear brush); the old picture stays at the top left.
std::vector<std::uint8_t> ResizedStore(
    const TBitmap& image, std::int32_t width, std::int32_t height, int bits)
{
    if (width == 0 || height == 0)
        return {};
    const TPixelFormat format(
        bits, &image.ColorTable(), image.HasMasks() ? image.Masks() : nullptr);
    const TCanvas* canvas = image.CanvasIfMade();
    const bool paint = !canvas || canvas->Brush.Style != bsClear;
    const TColor color = canvas ? canvas->Brush.Color : clWhite;
    return RedrawStore(image, width, height, format, paint, format.Encode(color));
}

} // namespace

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

std::size_t TBitmap::StrideFor(std::int64_t width, int bitsPerPixel)
{
    if (width <= 0 || bitsPerPixel <= 0)
        return 0;
    const std::uint64_t bits = std::uint64_t(width) * std::uint64_t(bitsPerPixel);
    return static_cast<std::size_t>((bits + 31) / 32 * 4);
}

std::size_t TBitmap::Stride() const
{
    return StrideFor(FWidth, FBitsPerPixel);
}

TCanvas& TBitmap::Canvas()
{
    if (!FCanvas)
        FCanvas.reset(new TCanvas(*this));
    return *FCanvas;
}

void TBitmap::SetWidth(std::int32_t width)
{
    if (width != FWidth)
        Resize(width, FHeight);
}

void TBitmap::SetHeight(std::int32_t height)
{
    if (height != FHeight)
        Resize(FWidth, height);
}

void TBitmap::Resize(std::int32_t width, std::int32_t height)
{
    CheckDimension(width);
    CheckDimension(height);
    const int bits = FBitsPerPixel ? FBitsPerPixel : DefaultBitsPerPixel;
    std::vector<std::uint8_t> pixels = ResizedStore(*this, width, height, bits);
    if (!pixels.empty())
        FBitsPerPixel = bits;
    FPixels.swap(pixels);
    FTopDown = false;
    FWidth = width;
    FHeight = height;
}

void TBitmap::SetBitsPerPixel(int bitsPerPixel)
{
    if (!IsValidDepth(bitsPerPixel))
        throw EInvalidGraphic(SInvalidBitmap);
    if (bitsPerPixel == FBitsPerPixel)
        return;
    if (!HasPixels()) {
        // Masks describe pixels of the old depth; the colour table may have
        // been set ahead of the depth and stays.
        FBitsPerPixel = bitsPerPixel;
        FHasMasks = false;
        std::fill(std::begin(FMasks), std::end(FMasks), 0);
        return;
    }
    if (bitsPerPixel != 24 && bitsPerPixel != 32) {
        throw EInvalidGraphicOperation("Converting an image to " + std::to_string(bitsPerPixel)
            + " bits per pixel is not supported.");
    }
    const TPixelFormat format(bitsPerPixel, nullptr, nullptr);
    std::vector<std::uint8_t> pixels = RedrawStore(*this, FWidth, FHeight, format, false, 0);
    FPixels.swap(pixels);
    FBitsPerPixel = bitsPerPixel;
    FTopDown = false;
    FColorTable.clear();
    FHasMasks = false;
    std::fill(std::begin(FMasks), std::end(FMasks), 0);
}

void TBitmap::SetColorTable(std::vector<TRGBQuad> table)
{
    if (table.size() > 256)
        table.resize(256);
    FColorTable = std::move(table);
}

std::uint8_t* TBitmap::RowData(std::int32_t row)
{
    return const_cast<std::uint8_t*>(static_cast<const TBitmap&>(*this).RowData(row));
}

const std::uint8_t* TBitmap::RowData(std::int32_t row) const
{
    if (row < 0 || row >= FHeight)
        throw EInvalidGraphicOperation(SScanLine);
    const std::int32_t memoryRow = FTopDown ? row : FHeight - 1 - row;
    return FPixels.data() + std::size_t(memoryRow) * Stride();
}

std::vector<std::uint8_t> TBitmap::TakePackedRows()
{
    const std::size_t stride = Stride();
    const std::size_t packed = (std::size_t(FWidth) * std::size_t(FBitsPerPixel) + 7) / 8;
    const std::size_t height = static_cast<std::size_t>(FHeight);
    std::vector<std::uint8_t> rows;
    rows.swap(FPixels);
    if (!rows.empty()) {
        if (!FTopDown) {
            for (std::size_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
                std::swap_ranges(rows.begin() + std::ptrdiff_t(top * stride),
                    rows.begin() + std::ptrdiff_t((top + 1) * stride),
                    rows.begin() + std::ptrdiff_t(bottom * stride));
            }
        }
        // Each row moves down to its packed place, never over a row not yet moved.
        for (std::size_t y = 1; y < height; ++y)
            std::memmove(rows.data() + y * packed, rows.data() + y * stride, packed);
        rows.resize(packed * height);
    }
    FWidth = 0;
    FHeight = 0;
    FTopDown = false;
    return rows;
}

TColor TBitmap::PixelColor(std::int32_t x, std::int32_t y) const
{
    if (!HasPixels() || x < 0 || x >= FWidth || y < 0 || y >= FHeight)
        return clBlack;
    return TPixelFormat(*this).Decode(RowData(y), x);
}

namespace {

// Pixels whose centre (px + 0.5) lies in [lo, hi) are painted, clipped to
// [0, width); returns false when none are.
bool PixelSpan(double lo, double hi, std::int32_t width, std::int32_t& x0, std::int32_t& x1)
{
    const double first = std::max(0.0, std::ceil(lo - 0.5));
    const double end = std::min(double(width), std::ceil(hi - 0.5));
    if (!(first < end))
        return false;
    x0 = static_cast<std::int32_t>(first);
    x1 = static_cast<std::int32_t>(end);
    return true;
}

// Polygon interior by the alternating rule, sampled at pixel centres. A
// scanline at y + 0.5 never passes through a vertex (vertices have integer
// coordinates), and an edge counts when its end points lie on different
// sides, so every crossing is counted once. Only rows and columns inside
// the image are visited, whatever the coordinates.
void FillInterior(TBitmap& image, const TPixelFormat& format, std::uint32_t value,
    const TPoint* points, std::size_t count)
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
        std::uint8_t* row = image.RowData(static_cast<std::int32_t>(py));
        for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) {
            std::int32_t x0, x1;
            if (PixelSpan(crossings[i], crossings[i + 1], image.Width(), x0, x1))
                format.Fill(row, x0, x1, value);
        }
    }
}

// Slack for rounding when a pixel centre lies exactly at the pen's reach.
constexpr double CoverSlack = 1e-9;

// The pen's band around one edge: every pixel whose centre lies within
// radius of the segment a-b. That shape is a capsule, convex, so on each
// scanline it covers one interval: the union of the two end discs and the
// strip beside the segment, each computed directly.
void DrawCapsule(TBitmap& image, const TPixelFormat& format, std::uint32_t value, TPoint a,
    TPoint b, double radius)
{
    const double ax = a.X, ay = a.Y, bx = b.X, by = b.Y;
    const double dx = bx - ax, dy = by - ay;
    const double len2 = dx * dx + dy * dy;
    const double len = std::sqrt(len2);
    const double reach = radius + CoverSlack;

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
            // x where the projection on the segment lies in [0, len2] and the
            // signed distance from its line in [-reach, reach].
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
        // Centres in the closed interval [lo, hi].
        const double first = std::max(0.0, std::ceil(lo - 0.5));
        const double last = std::min(double(image.Width()) - 1, std::floor(hi - 0.5));
        if (first > last)
            continue;
        format.Fill(image.RowData(py), static_cast<std::int32_t>(first),
            static_cast<std::int32_t>(last) + 1, value);
    }
}

} // namespace

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

void TCanvas::Polygon(const TPoint* points, std::size_t count)
{
    if (!points || count == 0 || !FImage.HasPixels())
        return;
    const TPixelFormat format(FImage);
    if (Brush.Style == bsSolid && count >= 3)
        FillInterior(FImage, format, format.Encode(Brush.Color), points, count);
    if (Pen.Style == psClear)
        return;
    // A pen of width 0 draws like a pen of width 1.
    const double radius = std::max(1, Pen.Width()) / 2.0;
    const std::uint32_t value = format.Encode(Pen.Color);
    if (count <= 2) {
        DrawCapsule(FImage, format, value, points[0], points[count - 1], radius);
        return;
    }
    for (std::size_t i = 0; i < count; ++i)
        DrawCapsule(FImage, format, value, points[i], points[(i + 1) % count], radius);
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
