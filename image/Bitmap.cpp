#include "image/Bitmap.h"

#include "util/Errors.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <unordered_map>

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
        // Only 16- and 32-bit pixels have channels; the canvas makes a format
        // for every polygon, so the others skip measuring the masks.
        if (FBits != 16 && FBits != 32)
            return;
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
            std::uint8_t* p = row + 3 * std::size_t(x0);
            const std::uint8_t pixel[3] = { static_cast<std::uint8_t>(BlueOf(value)),
                static_cast<std::uint8_t>(GreenOf(value)),
                static_cast<std::uint8_t>(RedOf(value)) };
            // The spans of skin polygons are a few pixels long: those are
            // stored byte by byte, cheaper than calls to memcpy.
            if (count <= ShortSpan) {
                for (std::size_t i = 0; i < count; ++i, p += 3) {
                    p[0] = pixel[0];
                    p[1] = pixel[1];
                    p[2] = pixel[2];
                }
                break;
            }
            // One pixel, then double the painted run until the span is full.
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
    static constexpr std::size_t ShortSpan = 16;

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
std::int32_t CeilInside(double v)
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
bool HalfOpenCentres(double lo, double hi, std::int32_t limit, std::int32_t& x0, std::int32_t& x1)
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
bool ClosedCentres(
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

// Where edge a-b crosses the scanline at yc, for the interior.
double Crossing(const TPoint& a, const TPoint& b, double yc)
{
    const double ay = a.Y;
    const double by = b.Y;
    return a.X + (yc - ay) * (double(b.X) - double(a.X)) / (by - ay);
}

// Polygon interior by the alternating rule, sampled at pixel centres. A
// scanline at y + 0.5 never passes through a vertex (vertices have integer
// coordinates), and an edge counts when its end points lie on different
// sides, so every crossing is counted once. Only rows and columns inside
// the image are visited, whatever the coordinates.
void FillInterior(const TRaster& raster, const TPixelFormat& format, std::uint32_t value,
    const TPoint* points, std::size_t count)
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
            if (HalfOpenCentres(crossings[i], crossings[i + 1], raster.Width, x0, x1))
                format.Fill(row, x0, x1, value);
        }
    }
}

// Slack for rounding when a pixel centre lies exactly at the pen's reach.
constexpr double CoverSlack = 1e-9;

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
    bool Bounds(std::int32_t py, double& lo, double& hi, TBoundsAudit* audit = nullptr) const
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

void DrawCapsule(
    const TRaster& raster, const TPixelFormat& format, std::uint32_t value, const TCapsule& capsule)
{
    std::int32_t rowFirst, rowLast;
    if (!capsule.Rows(raster.Height, rowFirst, rowLast))
        return;
    for (std::int32_t py = rowFirst; py <= rowLast; ++py) {
        std::int32_t x0, x1;
        if (capsule.Span(py, raster.Width, x0, x1))
            format.Fill(raster.Row(py), x0, x1, value);
    }
}

// Edges tabulated by shape. A skin is tens of thousands of triangles a few
// pixels across, so their edges come in a few hundred shapes b - a. For an
// edge, Bounds and the interior's crossing on a row depend on the end point
// a only through sums a.X + t, where each t depends on the shape and on the
// row's offset from a.Y alone (that offset plus 0.5 is exact); the pixels
// follow from ceil or floor of such a sum less 0.5. Rounding keeps order,
// so the min and max that Bounds takes of the sums are the sums of the min
// and max t. With |a.X| <= MaxX and |t| < MaxT a sum stays below 2^16, so
// its two roundings move it by at most 2^-37 (2^-41 with a at the origin).
// So when every t that could become a bound on the row lies more than
// Margin (2^-33) from a pixel's edge, or exactly on one with t a double of
// its own, and when a strip whose ends crossed stays crossed by more than
// Margin, the row's pixels are those of the same shape at the origin,
// shifted by a.X. They are worked out there once per shape by the very
// same code, and looked up; every other row is worked out directly.
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
    // See the class comment: |t| < MaxT and |a.X| <= MaxX keep |a.X + t|
    // below 2^16.
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

// Spans of one colour on a 24-bit row: the colour's three bytes repeated
// over 48, copied in a few overlapping pieces whatever the span's length.
// A loop over the pixels costs a mispredicted exit on nearly every span of
// a skin's small triangles.
class TPixelRun24
{
public:
    void Use(std::uint32_t value)
    {
        if (FReady && value == FValue)
            return;
        const std::uint8_t pixel[3] = { static_cast<std::uint8_t>(BlueOf(value)),
            static_cast<std::uint8_t>(GreenOf(value)), static_cast<std::uint8_t>(RedOf(value)) };
        for (std::size_t i = 0; i < Bytes; ++i)
            FBytes[i] = pixel[i % 3];
        FValue = value;
        FReady = true;
    }

    // Pixels [x0, x1) of the row; the caller clips.
    void Fill(std::uint8_t* row, std::int32_t x0, std::int32_t x1) const
    {
        if (x0 >= x1)
            return;
        std::uint8_t* p = row + 3 * std::size_t(x0);
        std::size_t n = 3 * std::size_t(x1 - x0);
        // Whole repeats keep each byte in its place among the three.
        for (; n > Bytes; n -= Bytes, p += Bytes)
            std::memcpy(p, FBytes, Bytes);
        if (n >= 16) {
            std::memcpy(p, FBytes, 16);
            if (n > 32)
                std::memcpy(p + 16, FBytes + 16, 16);
            std::memcpy(p + n - 16, FBytes + n - 16, 16);
        } else if (n >= 8) {
            std::memcpy(p, FBytes, 8);
            std::memcpy(p + n - 8, FBytes + n - 8, 8);
        } else {
            std::memcpy(p, FBytes, 3);
            std::memcpy(p + n - 3, FBytes + n - 3, 3);
        }
    }

private:
    static constexpr std::size_t Bytes = 48;
    std::uint8_t FBytes[Bytes] = {};
    std::uint32_t FValue = 0;
    bool FReady = false;
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
        thread_local TEdgeTables tables;
        thread_local TPixelRun24 brushRun, penRun;
        const bool runs = format.Bits() == 24;
        if (runs && fill)
            brushRun.Use(brushValue);
        if (runs && outline)
            penRun.Use(penValue);
        TTrianglePainter(raster, format, points, fill ? &brushValue : nullptr,
            outline ? &penValue : nullptr, discs, tables.Use(reach, penWidth) ? &tables : nullptr,
            reach, runs ? &brushRun : nullptr, runs ? &penRun : nullptr)
            .Paint();
        return;
    }
    if (fill)
        FillInterior(raster, format, brushValue, points, count);
    if (!outline)
        return;
    if (count <= 2) {
        DrawCapsule(raster, format, penValue, TCapsule(points[0], points[count - 1], reach, discs));
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        DrawCapsule(
            raster, format, penValue, TCapsule(points[i], points[(i + 1) % count], reach, discs));
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
