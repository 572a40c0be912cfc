// The raster image used for textures, the atlas and the skins: a
// device-independent pixel store of 1, 4, 8, 16, 24 or 32 bits per pixel with
// its colour table and channel masks, a drawing surface (TCanvas) and BMP
// decoding and encoding, in memory and to files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/Vector.h" // TColor

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;

// Raster operation of StretchCopy: every destination pixel becomes the source pixel.
constexpr std::uint32_t cmSrcCopy = 0xCC0020;

// Messages of the image layer, in English (Tr gives the user's language);
// %s stands for the file name as passed.
extern const char* const SFOpenError;
extern const char* const SFCreateError;
extern const char* const SInvalidBitmap;
extern const char* const SReadError;
extern const char* const SWriteError;
extern const char* const SScanLine;
extern const char* const SOutOfResources;

struct TPoint
{
    std::int32_t X;
    std::int32_t Y;
};

// Includes its left column and top row, excludes its right column and bottom row.
struct TRect
{
    std::int32_t Left;
    std::int32_t Top;
    std::int32_t Right;
    std::int32_t Bottom;
};

// One colour-table entry as it lies in a BMP file.
struct TRGBQuad
{
    std::uint8_t Blue;
    std::uint8_t Green;
    std::uint8_t Red;
    std::uint8_t Reserved;
};

enum TBrushStyle { bsSolid, bsClear };
enum TPenStyle { psSolid, psClear };
// The only pen mode: the pen colour replaces the pixels it covers.
enum TPenMode { pmCopy };

struct TBrush
{
    TColor Color = clWhite;
    TBrushStyle Style = bsSolid;
};

class TPen
{
public:
    TColor Color = clBlack;
    TPenStyle Style = psSolid;
    TPenMode Mode = pmCopy;

    int Width() const { return FWidth; }
    // A negative width is ignored and leaves the width as it was.
    void SetWidth(int width)
    {
        if (width >= 0)
            FWidth = width;
    }

private:
    int FWidth = 1;
};

class TBitmap;
namespace ImageDetail {
class TCoverage;
}

class TCanvas
{
public:
    TBrush Brush;
    TPen Pen;
    std::uint32_t CopyMode = cmSrcCopy;

    // Paints the pixels of r that lie in the image with the brush.
    void FillRect(const TRect& r);
    // Fills the polygon (alternating rule) with the brush, then draws a band
    // Pen.Width() pixels wide centred on every edge, with round joins and
    // ends, in the pen colour. The last point joins back to the first.
    void Polygon(const TPoint* points, std::size_t count);
    void Polygon(const std::vector<TPoint>& points) { Polygon(points.data(), points.size()); }
    // Painting under: while it is on, Polygon paints only the pixels that no
    // polygon has painted since it was switched on, so polygons given from
    // the last to the first leave what painting them from the first to the
    // last leaves, and a pixel covered many times is written once. It
    // holds two bytes per pixel of the image.
    void SetPaintUnder(bool on);
    // Copies the src rectangle of source's image onto the dest rectangle of
    // this image, converting to this image's depth; unequal rectangles scale
    // by nearest neighbour. Parts outside either image are not copied.
    void StretchCopy(const TRect& dest, const TCanvas& source, const TRect& src);

    TBitmap& Image() const { return FImage; }
    ~TCanvas();

private:
    friend class TBitmap;
    explicit TCanvas(TBitmap& image);
    TBitmap& FImage;
    bool FPaintUnder = false;
    std::unique_ptr<ImageDetail::TCoverage> FCoverage;
};

class TBitmap
{
public:
    // Width and height are 16-bit quantities for every picture this program
    // meets, and no store may pass MaxStoreBytes: larger sizes are refused
    // before anything is allocated.
    static constexpr std::int32_t MaxDimension = 65535;
    static constexpr std::uint64_t MaxStoreBytes = std::uint64_t(256) << 20;

    TBitmap();
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    std::int32_t Width() const { return FWidth; }
    std::int32_t Height() const { return FHeight; }
    // Resizing keeps the picture at the top left and paints new pixels with
    // the brush colour (white while the canvas is unused); a zero dimension
    // drops the pixels. Setting the current value does nothing.
    void SetWidth(std::int32_t width);
    void SetHeight(std::int32_t height);

    // 0 until a depth is set or loaded.
    int BitsPerPixel() const { return FBitsPerPixel; }
    // Without pixels: records the depth for the pixels made later. With
    // pixels: converts them, colours unchanged (to 24 or 32 bits).
    void SetBitsPerPixel(int bitsPerPixel);

    bool HasPixels() const { return !FPixels.empty(); }
    // Bytes per row: rows start on 4-byte boundaries.
    std::size_t Stride() const;
    static std::size_t StrideFor(std::int64_t width, int bitsPerPixel);

    // Made on first use; owned by the image.
    TCanvas& Canvas();
    const TCanvas* CanvasIfMade() const { return FCanvas.get(); }

    // The stride bytes of a row, counted from the top of the picture.
    // Raises EInvalidGraphicOperation unless 0 <= row < Height().
    std::uint8_t* RowData(std::int32_t row);
    const std::uint8_t* RowData(std::int32_t row) const;

    // The colour of one pixel, whatever the depth (colour-table index beyond
    // the table reads as black); black for a point outside the image.
    TColor PixelColor(std::int32_t x, std::int32_t y) const;

    const std::vector<TRGBQuad>& ColorTable() const { return FColorTable; }
    void SetColorTable(std::vector<TRGBQuad> table);
    bool HasMasks() const { return FHasMasks; }
    // Red, green, blue masks of a 16- or 32-bit image; meaningful when HasMasks().
    const std::uint32_t* Masks() const { return FMasks; }
    // Rows in memory from the top (true) or from the bottom (false).
    bool TopDown() const { return FTopDown; }

    // Takes Source's depth, colour table, masks and the header values that
    // saving writes back, but none of its pixels: the image is left 0 x 0,
    // its pixels made later in Source's format, as after loading Source's
    // file and dropping the picture.
    void AssignFormat(const TBitmap& Source);

    // Hands the pixel store over as rows from the top, each cut to the bytes
    // its pixels use (no padding), and leaves the image without pixels
    // (0 x 0, depth, table and masks kept). The rows are rearranged in
    // place, so a large picture is never held twice.
    std::vector<std::uint8_t> TakePackedRows();

    // Replaces everything but the canvas with the picture a BMP file holds
    // in bytes; no bytes give an empty image. Uncompressed pixel data becomes
    // the store in the bytes' own buffer, so a large picture is never held
    // twice. EReadError when the bytes end early, EInvalidGraphic for what
    // is no valid bitmap; every failure leaves the image as it was.
    void DecodeBmp(std::vector<std::uint8_t> bytes);
    // The BMP file of the image: the headers and colour table, which the
    // pixel store follows as it is; both empty for an image without pixels.
    // EWriteError when the image is too large for the format.
    std::vector<std::uint8_t> EncodeBmpHeaders() const;
    std::vector<std::uint8_t> EncodeBmp() const;

    // DecodeBmp on the contents of a file; EFOpenError when it cannot be
    // opened or is no regular file.
    void LoadBmpFile(const std::string& path);
    // Creates or truncates the file and writes the image as BMP; an image
    // without pixels leaves a 0-byte file.
    void SaveBmpFile(const std::string& path) const;

private:
    friend class TCanvas;

    // Header values of a loaded file that saving writes back.
    struct TFileInfo
    {
        std::int32_t XPelsPerMeter = 0;
        std::int32_t YPelsPerMeter = 0;
        std::uint32_t ClrImportant = 0;
    };

    // Makes a store of the new size; SetWidth and SetHeight change one side.
    void Resize(std::int32_t width, std::int32_t height);

    std::int32_t FWidth = 0;
    std::int32_t FHeight = 0;
    int FBitsPerPixel = 0;
    bool FTopDown = false;
    std::vector<TRGBQuad> FColorTable;
    bool FHasMasks = false;
    std::uint32_t FMasks[3] = { 0, 0, 0 };
    TFileInfo FFileInfo;
    // Height() rows of Stride() bytes, in memory order (see FTopDown).
    std::vector<std::uint8_t> FPixels;
    std::unique_ptr<TCanvas> FCanvas;
};
