#include "image/Bitmap.h"

#include "util/Errors.h"

#include "ImageTestUtil.h"
#include "TestUtil.h"

#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr TColor Red = 0x0000FF;
constexpr TColor Green = 0x00FF00;
constexpr TColor Blue = 0xFF0000;
constexpr std::int32_t Min32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Max32 = std::numeric_limits<std::int32_t>::max();

void MakeImage(TBitmap& image, int bitsPerPixel, std::int32_t width, std::int32_t height)
{
    image.SetBitsPerPixel(bitsPerPixel);
    image.SetWidth(width);
    image.SetHeight(height);
}

TRect Whole(const TBitmap& image)
{
    return { 0, 0, image.Width(), image.Height() };
}

void SetRow(TBitmap& image, std::int32_t row, const std::vector<std::uint8_t>& bytes)
{
    std::uint8_t* p = image.RowData(row);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        p[i] = bytes[i];
}

std::vector<std::uint8_t> Row(const TBitmap& image, std::int32_t row, std::size_t n)
{
    const std::uint8_t* p = image.RowData(row);
    return std::vector<std::uint8_t>(p, p + n);
}

// A BMP file with a 40-byte header, BI_BITFIELDS when masks are given; a
// negative height stores the rows top-down. Masks can only come from a file.
std::vector<std::uint8_t> BmpBytes(std::int32_t width, std::int32_t height, int bits,
    const std::vector<std::uint32_t>& masks, const std::vector<std::uint8_t>& pixels)
{
    std::vector<std::uint8_t> b;
    auto put = [&b](std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    const std::size_t offBits = 54 + 4 * masks.size();
    put(0x4D42, 2);
    put(offBits + pixels.size(), 4);
    put(0, 4);
    put(offBits, 4);
    put(40, 4);
    put(std::uint32_t(width), 4);
    put(std::uint32_t(height), 4);
    put(1, 2);
    put(bits, 2);
    put(masks.empty() ? 0 : 3, 4);
    put(pixels.size(), 4);
    b.insert(b.end(), 16, 0); // resolution and colour counts
    for (std::uint32_t m : masks)
        put(m, 4);
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

void LoadBytes(TBitmap& image, const std::vector<std::uint8_t>& bytes)
{
    TScratchDir dir;
    WriteAllBytes(dir.File("image.bmp"), bytes);
    image.LoadBmpFile(dir.File("image.bmp"));
}

} // namespace

TEST(BitmapSize, NewImageHasNoPixelsUntilBothDimensionsArePositive)
{
    TBitmap image;
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    EXPECT_EQ(image.BitsPerPixel(), 0);
    EXPECT_EQ(image.CanvasIfMade(), nullptr);
    image.SetBitsPerPixel(24);
    image.SetWidth(100);
    EXPECT_FALSE(image.HasPixels());
    EXPECT_EQ(image.Width(), 100);
    image.SetHeight(50);
    ASSERT_TRUE(image.HasPixels());
    EXPECT_EQ(image.Height(), 50);
    for (std::int32_t y = 0; y < 50; ++y)
        ASSERT_EQ(Row(image, y, 300), std::vector<std::uint8_t>(300, 0xFF)) << "row " << y;
}

TEST(BitmapSize, GrowingKeepsPictureTopLeftAndShrinkingCrops)
{
    TBitmap image;
    MakeImage(image, 24, 2, 2);
    for (std::int32_t y = 0; y < 2; ++y)
        SetRow(image, y, { 0, 0, 0xFF, 0, 0, 0xFF });
    image.SetWidth(4);
    image.SetHeight(3);
    for (std::int32_t y = 0; y < 3; ++y) {
        for (std::int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(image.PixelColor(x, y), x < 2 && y < 2 ? Red : clWhite) << x << "," << y;
    }
    image.SetWidth(1);
    image.SetHeight(1);
    EXPECT_EQ(Row(image, 0, 4), (std::vector<std::uint8_t> { 0, 0, 0xFF, 0 }));
}

TEST(BitmapSize, NewPixelsTakeBrushColourOrStayZeroWithClearBrush)
{
    TBitmap image;
    MakeImage(image, 24, 2, 2);
    image.Canvas().Brush.Color = Red;
    image.SetWidth(3);
    EXPECT_EQ(CountOther(image, Red, { 2, 0, 3, 2 }), 0);
    EXPECT_EQ(CountOther(image, clWhite, { 0, 0, 2, 2 }), 0);

    image.Canvas().Brush.Style = bsClear;
    image.SetHeight(3);
    EXPECT_EQ(CountOther(image, clBlack, { 0, 2, 3, 3 }), 0);
    EXPECT_EQ(image.Canvas().Brush.Color, Red) << "canvas settings survive resizing";
}

TEST(BitmapSize, ZeroDimensionDropsPixelsAndSameValueChangesNothing)
{
    TBitmap image;
    MakeImage(image, 24, 3, 2);
    image.Canvas().Brush.Color = Blue;
    image.Canvas().FillRect(Whole(image));
    image.Canvas().Brush.Color = Green;
    image.SetWidth(0);
    EXPECT_FALSE(image.HasPixels());
    EXPECT_EQ(image.Height(), 2);
    image.SetWidth(3);
    EXPECT_EQ(CountOther(image, Green, Whole(image)), 0);

    // A real resize would rebuild the row and clear this padding byte.
    image.RowData(1)[9] = 0x5A;
    image.SetWidth(3);
    image.SetHeight(2);
    EXPECT_EQ(image.RowData(1)[9], 0x5A);
}

TEST(BitmapSize, StrideRoundsRowsUpToFourBytes)
{
    const struct
    {
        std::int64_t Width;
        int Bits;
        std::size_t Stride;
    } cases[] = { { 1, 24, 4 }, { 3, 24, 12 }, { 4, 24, 12 }, { 5, 24, 16 }, { 80, 24, 240 },
        { 0, 24, 0 }, { 1, 1, 4 }, { 33, 1, 8 }, { 9, 4, 8 }, { 3, 16, 8 }, { 3, 8, 4 },
        { 2, 32, 8 }, { std::int64_t(1) << 31, 32, std::size_t(1) << 33 } };
    for (const auto& c : cases)
        EXPECT_EQ(TBitmap::StrideFor(c.Width, c.Bits), c.Stride) << c.Width << " x " << c.Bits;

    TBitmap image;
    MakeImage(image, 24, 5, 3);
    EXPECT_EQ(image.Stride(), 16u);
    for (std::int32_t y = 0; y < 3; ++y)
        EXPECT_EQ(image.RowData(y)[15], 0) << "padding of row " << y;
}

TEST(BitmapSize, OversizeOrNegativeSizeIsRefusedAndLeavesImage)
{
    TBitmap image;
    MakeImage(image, 24, 100, 50);
    image.Canvas().Brush.Color = Red;
    image.Canvas().FillRect({ 0, 0, 1, 1 });
    const struct
    {
        bool Width;
        std::int32_t Value;
    } cases[] = { { true, 65536 }, { true, -1 }, { true, Min32 }, { false, -5 }, { false, Max32 } };
    for (const auto& c : cases) {
        EXPECT_THROW(c.Width ? image.SetWidth(c.Value) : image.SetHeight(c.Value), EInvalidGraphic)
            << c.Value;
        EXPECT_EQ(image.Width(), 100);
        EXPECT_EQ(image.Height(), 50);
    }
    EXPECT_EQ(image.PixelColor(0, 0), Red);
    EXPECT_EQ(CountOther(image, clWhite, { 1, 0, 100, 50 }), 0);

    // Rows of 196608 bytes: 1400 of them exceed the 256 MiB cap on a store.
    TBitmap wide;
    MakeImage(wide, 24, 65535, 1);
    EXPECT_THROW(wide.SetHeight(1400), EOutOfResources);
    EXPECT_EQ(wide.Height(), 1);
    EXPECT_TRUE(wide.HasPixels());
}

TEST(BitmapRowData, RowZeroIsTopAndOutOfRangeRowsRaise)
{
    TBitmap image;
    MakeImage(image, 24, 4, 3);
    image.Canvas().Brush.Color = Red;
    image.Canvas().FillRect({ 0, 0, 4, 1 });
    EXPECT_EQ(Row(image, 0, 3), (std::vector<std::uint8_t> { 0, 0, 0xFF }));
    EXPECT_EQ(Row(image, 1, 3), (std::vector<std::uint8_t> { 0xFF, 0xFF, 0xFF }));
    // Rows lie bottom-up in memory.
    EXPECT_EQ(image.RowData(0), image.RowData(2) + 2 * image.Stride());

    TBitmap empty;
    for (const auto& c : { std::make_pair(&image, -1), std::make_pair(&image, 3),
             std::make_pair(&image, Min32), std::make_pair(&empty, 0) }) {
        try {
            c.first->RowData(c.second);
            ADD_FAILURE() << "row " << c.second << " did not raise";
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_STREQ(e.what(), "Scan line index out of range");
        }
    }
}

TEST(CanvasFillRect, PaintsExactlyTheClippedRectangle)
{
    const struct
    {
        TRect Fill;
        TRect Painted; // expected, within the 80 x 80 image
    } cases[] = {
        { { 0, 0, 80, 80 }, { 0, 0, 80, 80 } },
        { { 2, 2, 2, 9 }, { 0, 0, 0, 0 } },
        { { 5, 5, 3, 9 }, { 0, 0, 0, 0 } },
        { { 10, 20, 11, 22 }, { 10, 20, 11, 22 } },
        { { -5, -7, 3, 2 }, { 0, 0, 3, 2 } },
        { { 78, 79, 1000, 1000 }, { 78, 79, 80, 80 } },
        { { Min32, Min32, Max32, 2 }, { 0, 0, 80, 2 } },
        { { Max32, 0, Min32, 80 }, { 0, 0, 0, 0 } },
        { { 80, 0, 90, 80 }, { 0, 0, 0, 0 } },
    };
    for (const auto& c : cases) {
        TBitmap image;
        MakeImage(image, 24, 80, 80);
        image.Canvas().Brush.Color = Red;
        image.Canvas().FillRect(c.Fill);
        int wrong = 0;
        for (std::int32_t y = 0; y < 80; ++y) {
            for (std::int32_t x = 0; x < 80; ++x) {
                const bool in = x >= c.Painted.Left && x < c.Painted.Right && y >= c.Painted.Top
                    && y < c.Painted.Bottom;
                wrong += image.PixelColor(x, y) != (in ? Red : clWhite);
            }
        }
        EXPECT_EQ(wrong, 0) << c.Fill.Left << "," << c.Fill.Top << "," << c.Fill.Right << ","
                            << c.Fill.Bottom;
    }

    TBitmap image;
    MakeImage(image, 24, 4, 4);
    image.Canvas().Brush.Style = bsClear;
    image.Canvas().Brush.Color = Red;
    image.Canvas().FillRect(Whole(image));
    EXPECT_EQ(CountOther(image, clWhite, Whole(image)), 0);
}

TEST(CanvasPolygon, FillsInteriorWithBrushAndOutlinesWithRoundPen)
{
    TBitmap image;
    MakeImage(image, 24, 60, 60);
    TCanvas& canvas = image.Canvas();
    canvas.Brush.Color = Green;
    canvas.Pen.Color = Red;
    canvas.Pen.SetWidth(5);
    canvas.Polygon({ { 10, 10 }, { 50, 10 }, { 10, 50 } });

    const struct
    {
        std::int32_t X, Y;
        TColor Color;
    } probes[] = {
        { 20, 20, Green },
        { 14, 14, Green }, // well inside
        { 30, 10, Red },
        { 30, 9, Red },
        { 30, 8, Red }, // on and beside the top edge
        { 30, 6, clWhite }, // four rows above the edge
        { 8, 30, Red },
        { 6, 30, clWhite }, // left edge
        { 31, 31, Red },
        { 33, 33, clWhite }, // outside the slanted edge
        { 8, 8, Red },
        { 7, 7, clWhite }, // round, not square, corner
        { 59, 59, clWhite },
    };
    for (const auto& p : probes)
        EXPECT_EQ(image.PixelColor(p.X, p.Y), p.Color) << p.X << "," << p.Y;

    // No pen: the interior alone, sampled at pixel centres.
    TBitmap plain;
    MakeImage(plain, 24, 60, 60);
    plain.Canvas().Brush.Color = Green;
    plain.Canvas().Pen.Style = psClear;
    plain.Canvas().Polygon({ { 10, 10 }, { 50, 10 }, { 10, 50 } });
    EXPECT_EQ(plain.PixelColor(10, 10), Green);
    EXPECT_EQ(plain.PixelColor(9, 10), clWhite);
    EXPECT_EQ(plain.PixelColor(10, 9), clWhite);
    EXPECT_EQ(plain.PixelColor(10, 48), Green);
    EXPECT_EQ(plain.PixelColor(10, 50), clWhite);
    // Alternating rule: the pixel count of the filled triangle is its area.
    EXPECT_EQ(3600 - CountOther(plain, Green, Whole(plain)), 40 * 40 / 2 - 20);
}

TEST(CanvasPolygon, TwoPointsDrawRoundEndedLineWithoutFill)
{
    TBitmap image;
    MakeImage(image, 24, 50, 30);
    image.Canvas().Brush.Color = Green;
    image.Canvas().Pen.Color = Red;
    image.Canvas().Pen.SetWidth(9);
    image.Canvas().Pen.SetWidth(-1);
    EXPECT_EQ(image.Canvas().Pen.Width(), 9);
    image.Canvas().Polygon({ { 10, 10 }, { 30, 10 } });
    const struct
    {
        std::int32_t X, Y;
        TColor Color;
    } probes[] = { { 20, 10, Red }, { 20, 14, Red }, { 20, 15, clWhite }, { 33, 10, Red },
        { 35, 10, clWhite }, { 33, 13, clWhite }, { 6, 10, Red }, { 5, 10, clWhite } };
    for (const auto& p : probes)
        EXPECT_EQ(image.PixelColor(p.X, p.Y), p.Color) << p.X << "," << p.Y;
    EXPECT_EQ(CountOther(image, Green, Whole(image)), 50 * 30) << "a line has no interior";
}

TEST(CanvasPolygon, HugeCoordinatesAreClippedToTheImage)
{
    TBitmap image;
    MakeImage(image, 24, 16, 16);
    TCanvas& canvas = image.Canvas();
    canvas.Brush.Color = Green;
    canvas.Pen.Color = Red;

    canvas.Polygon({ { 0, 0 }, { 65535, 0 }, { 0, 65535 } });
    EXPECT_EQ(CountOther(image, Green, { 1, 1, 16, 16 }), 0);
    EXPECT_EQ(image.PixelColor(5, 0), Red);

    canvas.Polygon({ { Min32, Min32 }, { Max32, Min32 }, { 0, Max32 } });
    EXPECT_EQ(CountOther(image, Green, Whole(image)), 0);

    // A pen of width 0 draws as width 1: centres within half a pixel.
    canvas.Pen.SetWidth(0);
    canvas.Polygon({ { Min32, 8 }, { Max32, 8 } });
    for (std::int32_t y = 0; y < 16; ++y)
        EXPECT_EQ(CountOther(image, y == 7 || y == 8 ? Red : Green, { 0, y, 16, y + 1 }), 0) << y;

    // Degenerate shapes must neither crash nor paint far away.
    canvas.Pen.Color = Blue;
    canvas.Polygon(nullptr, 0);
    canvas.Polygon({ { Max32, Max32 } });
    canvas.Polygon({ { Min32, Min32 }, { Min32, Min32 }, { Min32, Min32 } });
    canvas.Polygon({ { Max32, 0 }, { Max32, 15 }, { Max32, 3 }, { Max32, 8 } });
    EXPECT_EQ(CountOther(image, Blue, Whole(image)), 16 * 16);
    // A point on the corner of four pixels: a 2-pixel pen reaches their centres.
    canvas.Pen.SetWidth(2);
    canvas.Polygon({ { 3, 3 }, { 3, 3 }, { 3, 3 } });
    EXPECT_EQ(CountOther(image, Blue, { 2, 2, 4, 4 }), 0);
    EXPECT_EQ(CountOther(image, Blue, Whole(image)), 16 * 16 - 4);
}

TEST(BitmapDepth, PalettedAndPackedPixelsReadTheirColours)
{
    const std::vector<TRGBQuad> table = { { 0, 0, 0xFF, 0 }, { 0, 0xFF, 0, 0 }, { 0xFF, 0, 0, 0 } };
    const struct
    {
        int Bits;
        std::vector<std::uint8_t> Bytes;
        std::vector<TColor> Colors;
    } cases[] = {
        { 8, { 0, 1, 2, 7 }, { Red, Green, Blue, clBlack } },
        { 4, { 0x12, 0x0F }, { Green, Blue, Red, clBlack } },
        { 1, { 0xA0 }, { Green, Red, Green, Red } },
        // 5-5-5: full red; green 16 widens to 132; blue 1 to 8; all ones to white.
        { 16, { 0x00, 0x7C, 0x00, 0x02, 0x01, 0x00, 0xFF, 0x7F },
            { Red, 0x008400, 0x080000, clWhite } },
        { 32, { 1, 2, 3, 0xEE, 0xFF, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0 },
            { 0x010203, Blue, Red, Green } },
    };
    for (const auto& c : cases) {
        TBitmap source;
        source.SetBitsPerPixel(c.Bits);
        source.SetColorTable(table);
        source.SetWidth(4);
        source.SetHeight(1);
        SetRow(source, 0, c.Bytes);
        TBitmap dest;
        MakeImage(dest, 24, 4, 1);
        dest.Canvas().StretchCopy({ 0, 0, 4, 1 }, source.Canvas(), { 0, 0, 4, 1 });
        for (std::int32_t x = 0; x < 4; ++x) {
            EXPECT_EQ(source.PixelColor(x, 0), c.Colors[x]) << c.Bits << " bits, x " << x;
            EXPECT_EQ(dest.PixelColor(x, 0), c.Colors[x]) << c.Bits << " bits, x " << x;
        }
        // Cropping to 3 pixels keeps part of a packed byte; then widen the depth.
        source.SetWidth(3);
        source.SetBitsPerPixel(24);
        EXPECT_TRUE(source.ColorTable().empty());
        for (std::int32_t x = 0; x < 3; ++x)
            EXPECT_EQ(source.PixelColor(x, 0), c.Colors[x])
                << "to 24 from " << c.Bits << ", x " << x;
    }
}

TEST(BitmapDepth, PaintingPicksNearestEntryOrReducedChannels)
{
    const struct
    {
        std::vector<TRGBQuad> Table;
        TColor Color;
        std::uint8_t Index;
    } cases[] = {
        { { { 0, 0, 0, 0 }, { 0, 0, 20, 0 } }, 0x00000A, 0 }, // tie: first entry
        { { { 0, 0, 20, 0 }, { 0, 0, 0, 0 } }, 0x00000A, 0 },
        { { { 0, 0, 0, 0 }, { 0, 0, 20, 0 } }, 0x00000B, 1 },
        { { { 0, 0, 0, 0 }, { 0xFF, 0xFF, 0xFF, 0 }, { 0, 0xC0, 0, 0 } }, 0x10B010, 2 },
        { {}, clWhite, 0 },
    };
    for (const auto& c : cases) {
        TBitmap image;
        image.SetBitsPerPixel(8);
        image.SetColorTable(c.Table);
        image.SetWidth(3);
        image.SetHeight(2);
        image.Canvas().Brush.Color = c.Color;
        image.Canvas().FillRect({ 1, 1, 3, 2 });
        EXPECT_EQ(
            Row(image, 1, 3), (std::vector<std::uint8_t> { Row(image, 0, 1)[0], c.Index, c.Index }))
            << std::hex << c.Color;
    }

    TBitmap packed;
    MakeImage(packed, 16, 1, 1);
    packed.Canvas().Brush.Color = 0x000084FF;
    packed.Canvas().FillRect({ 0, 0, 1, 1 });
    EXPECT_EQ(Row(packed, 0, 4), (std::vector<std::uint8_t> { 0x00, 0x7E, 0, 0 }));
    EXPECT_EQ(packed.PixelColor(0, 0), 0x000084FFu);

    TBitmap wide;
    MakeImage(wide, 32, 1, 1);
    wide.Canvas().Brush.Color = 0x123456;
    wide.Canvas().FillRect({ 0, 0, 1, 1 });
    EXPECT_EQ(Row(wide, 0, 4), (std::vector<std::uint8_t> { 0x12, 0x34, 0x56, 0 }));
}

TEST(BitmapDepth, InvalidOrNarrowingConversionRaisesAndLeavesImage)
{
    TBitmap image;
    MakeImage(image, 24, 2, 2);
    image.Canvas().Brush.Color = Red;
    image.Canvas().FillRect({ 0, 0, 1, 1 });
    EXPECT_THROW(image.SetBitsPerPixel(7), EInvalidGraphic);
    for (int bits : { 1, 4, 8, 16 })
        EXPECT_THROW(image.SetBitsPerPixel(bits), EInvalidGraphicOperation) << bits;
    EXPECT_EQ(image.BitsPerPixel(), 24);
    EXPECT_EQ(image.PixelColor(0, 0), Red);
    EXPECT_EQ(image.PixelColor(1, 1), clWhite);

    image.SetBitsPerPixel(32);
    EXPECT_EQ(Row(image, 0, 8), (std::vector<std::uint8_t> { 0, 0, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0 }));
}

TEST(CanvasStretchCopy, CopiesClipsScalesAndOverlapsLikeMemmove)
{
    TBitmap source;
    MakeImage(source, 24, 2, 2);
    SetRow(source, 0, { 0, 0, 0xFF, 0, 0xFF, 0 }); // red, green
    SetRow(source, 1, { 0xFF, 0, 0, 0, 0, 0 }); // blue, black

    TBitmap dest;
    MakeImage(dest, 24, 4, 4);
    dest.Canvas().StretchCopy({ 0, 0, 4, 4 }, source.Canvas(), { 0, 0, 2, 2 });
    for (std::int32_t y = 0; y < 4; ++y) {
        for (std::int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(dest.PixelColor(x, y), source.PixelColor(x / 2, y / 2)) << x << "," << y;
    }

    // Partly outside both images: only the overlapping pixels are copied.
    TBitmap clipped;
    MakeImage(clipped, 24, 3, 3);
    clipped.Canvas().StretchCopy({ 2, -1, 4, 1 }, source.Canvas(), { 1, 0, 3, 2 });
    EXPECT_EQ(clipped.PixelColor(2, 0), clBlack);
    EXPECT_EQ(CountOther(clipped, clWhite, Whole(clipped)), 1);
    clipped.Canvas().StretchCopy({ 0, 2, 3, 3 }, source.Canvas(), { 1, 0, 4, 1 });
    EXPECT_EQ(clipped.PixelColor(0, 2), Green);
    EXPECT_EQ(CountOther(clipped, clWhite, Whole(clipped)), 2);

    // Within one image: the source is read before it is overwritten.
    TBitmap strip;
    MakeImage(strip, 8, 4, 1);
    strip.SetColorTable({ { 0, 0, 0, 0 }, { 1, 0, 0, 0 }, { 2, 0, 0, 0 }, { 3, 0, 0, 0 } });
    SetRow(strip, 0, { 0, 1, 2, 3 });
    strip.Canvas().StretchCopy({ 1, 0, 4, 1 }, strip.Canvas(), { 0, 0, 3, 1 });
    EXPECT_EQ(Row(strip, 0, 4), (std::vector<std::uint8_t> { 0, 0, 1, 2 }));

    strip.Canvas().StretchCopy({ 3, 0, 1, 1 }, source.Canvas(), { 0, 0, 2, 2 });
    EXPECT_EQ(Row(strip, 0, 4), (std::vector<std::uint8_t> { 0, 0, 1, 2 }));

    dest.Canvas().CopyMode = 0x660046;
    try {
        dest.Canvas().StretchCopy({ 0, 0, 1, 1 }, source.Canvas(), { 0, 0, 1, 1 });
        ADD_FAILURE() << "unsupported copy mode accepted";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_NE(std::string(e.what()).find("0x660046"), std::string::npos) << e.what();
    }
}

TEST(BitmapDepth, ChannelMasksOfAnyShapeReadAndPaint)
{
    const struct
    {
        int Bits;
        std::vector<std::uint32_t> Masks;
        std::vector<std::uint8_t> Pixels;
        TColor Colors[2];
        std::vector<std::uint8_t> White; // clWhite painted at x = 0
    } cases[] = {
        // 5-6-5: a 6-bit green of 1 widens to 4.
        { 16, { 0xF800, 0x07E0, 0x001F }, { 0x00, 0xF8, 0x20, 0x00 }, { Red, 0x000400 },
            { 0xFF, 0xFF } },
        // 10-10-0: wide channels keep their top 8 bits; a zero mask reads 0.
        { 32, { 0x3FF00000, 0x000FFC00, 0 }, { 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0x20 },
            { 0x00FFFF, 0x000080 }, { 0x00, 0xFC, 0xFF, 0x3F } },
        // A full 32-bit mask and a mask with a hole.
        { 32, { 0xFFFFFFFF, 0, 0x00F000F0 }, { 0x00, 0x00, 0x00, 0x80, 0xF0, 0x00, 0xF0, 0x00 },
            { 0x000080, 0xF00000 }, { 0xFF, 0xFF, 0xFF, 0xFF } },
    };
    for (const auto& c : cases) {
        TBitmap image;
        LoadBytes(image, BmpBytes(2, 1, c.Bits, c.Masks, c.Pixels));
        ASSERT_TRUE(image.HasMasks());
        for (std::int32_t x = 0; x < 2; ++x)
            EXPECT_EQ(image.PixelColor(x, 0), c.Colors[x]) << c.Bits << " bits, x " << x;
        image.Canvas().FillRect({ 0, 0, 1, 1 });
        EXPECT_EQ(Row(image, 0, c.White.size()), c.White) << c.Bits << " bits";
        image.SetWidth(3);
        EXPECT_TRUE(image.HasMasks());
        EXPECT_EQ(image.PixelColor(1, 0), c.Colors[1]);
    }
}

TEST(BitmapSize, TopDownLoadedImageKeepsItsPictureWhenResized)
{
    TBitmap image;
    LoadBytes(image, BmpBytes(1, -2, 24, {}, { 0, 0, 0xFF, 0, 0xFF, 0, 0, 0 }));
    ASSERT_TRUE(image.TopDown());
    image.SetWidth(2);
    image.SetHeight(3);
    const TColor expected[3][2] = { { Red, clWhite }, { Blue, clWhite }, { clWhite, clWhite } };
    for (std::int32_t y = 0; y < 3; ++y) {
        for (std::int32_t x = 0; x < 2; ++x)
            EXPECT_EQ(image.PixelColor(x, y), expected[y][x]) << x << "," << y;
    }
}
