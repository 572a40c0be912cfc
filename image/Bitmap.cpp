// The pixel store: its size, depth, colour table and rows.
#include "image/Bitmap.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "image/PixelFormat.h"
#include "util/Errors.h"
#include "util/Translate.h"

const char* const SFOpenError = N_("The file %s cannot be opened");
const char* const SFCreateError = N_("The file %s cannot be created");
const char* const SInvalidBitmap = N_("The bitmap image is not valid");
const char* const SReadError = N_("Error reading from a stream");
const char* const SWriteError = N_("Error writing to a stream");
const char* const SScanLine = N_("Scan line index out of range");
const char* const SOutOfResources = N_("Out of system resources");

using namespace ImageDetail;

namespace {

// The depth given to pixels made while no depth has been set.
constexpr int DefaultBitsPerPixel = 24;

void CheckDimension(std::int32_t value)
{
    if (value < 0 || value > TBitmap::MaxDimension)
        throw EInvalidGraphic(Tr(SInvalidBitmap));
}

// A store beyond the cap counts as resources run out, like a failed allocation.
std::vector<std::uint8_t> AllocateStore(std::uint64_t bytes)
{
    if (bytes > TBitmap::MaxStoreBytes)
        throw EOutOfResources(Tr(SOutOfResources));
    try {
        return std::vector<std::uint8_t>(static_cast<std::size_t>(bytes));
    } catch (const std::bad_alloc&) {
        throw EOutOfResources(Tr(SOutOfResources));
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
            for (std::int32_t x = firstLeft; x < w; ++x)
                target.Fill(out, x, x + 1, TPixelFormat::SmallIndex(in, x, bits));
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
        throw EInvalidGraphic(Tr(SInvalidBitmap));
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

void TBitmap::AssignFormat(const TBitmap& Source)
{
    if (&Source != this) {
        FBitsPerPixel = Source.FBitsPerPixel;
        FColorTable = Source.FColorTable;
        FHasMasks = Source.FHasMasks;
        std::copy(std::begin(Source.FMasks), std::end(Source.FMasks), std::begin(FMasks));
        FFileInfo = Source.FFileInfo;
    }
    std::vector<std::uint8_t>().swap(FPixels);
    FTopDown = false;
    FWidth = 0;
    FHeight = 0;
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
        throw EInvalidGraphicOperation(Tr(SScanLine));
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
