// Reading every kind of BMP file the reader accepts.
#include "image/Bitmap.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "BmpTestUtil.h"
#include "TestUtil.h"
#include "util/Errors.h"

// ---------------------------------------------------------------------------
// Loading

TEST(BmpLoad, WhitePixelFile)
{
    TScratchDir dir;
    TBitmap image;
    LoadBytes(image, dir, TBytes(kWhitePixelBmp.begin(), kWhitePixelBmp.end()));
    EXPECT_EQ(image.Width(), 1);
    EXPECT_EQ(image.Height(), 1);
    EXPECT_EQ(image.BitsPerPixel(), 24);
    EXPECT_EQ(Row(image, 0), (TBytes { 0xFF, 0xFF, 0xFF, 0x00 }));
    EXPECT_TRUE(image.ColorTable().empty());
    EXPECT_FALSE(image.HasMasks());
}

TEST(BmpLoad, EmptyFileEmptiesTheImage)
{
    TScratchDir dir;
    TBitmap image;
    LoadBytes(image, dir, KnownImageBmp());
    ASSERT_TRUE(image.HasPixels());
    LoadBytes(image, dir, {});
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    EXPECT_FALSE(image.HasPixels());
}

TEST(BmpLoad, RowDataZeroIsTheTopOfEitherRowOrder)
{
    TScratchDir dir;
    TBmpFields f = Fields(1, 3);
    f.Pixels = { 1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0 };
    TBitmap bottomUp;
    LoadBytes(bottomUp, dir, BuildBmp(f));
    EXPECT_EQ(
        Rows(bottomUp), (std::vector<TBytes> { { 3, 3, 3, 0 }, { 2, 2, 2, 0 }, { 1, 1, 1, 0 } }));

    f.Height = -3;
    TBitmap topDown;
    LoadBytes(topDown, dir, BuildBmp(f));
    EXPECT_EQ(topDown.Height(), 3);
    EXPECT_EQ(
        Rows(topDown), (std::vector<TBytes> { { 1, 1, 1, 0 }, { 2, 2, 2, 0 }, { 3, 3, 3, 0 } }));
}

TEST(BmpLoad, TakenRowsComeFromTheTopWithoutPaddingInEitherRowOrder)
{
    TScratchDir dir;
    // Three rows of three 24-bit pixels (9 bytes, padded to 12), then three
    // rows of nine 1-bit pixels (2 bytes, padded to 4).
    TBmpFields rgb = Fields(3, 3);
    for (std::uint8_t i = 0; i < 36; ++i)
        rgb.Pixels.push_back(i % 12 < 9 ? i : 0);
    TBmpFields bits = Fields(9, 3, 1);
    bits.Extra = IndexTable(2);
    bits.Pixels = { 0xA1, 0x80, 0, 0, 0xB2, 0x00, 0, 0, 0xC3, 0x80, 0, 0 };
    for (TBmpFields* f : { &rgb, &bits }) {
        for (const std::int32_t height : { 3, -3 }) {
            SCOPED_TRACE(std::to_string(f->BitCount) + " bits, height " + std::to_string(height));
            f->Height = height;
            TBitmap image;
            LoadBytes(image, dir, BuildBmp(*f));
            const std::size_t used = (std::size_t(image.Width()) * f->BitCount + 7) / 8;
            TBytes expected;
            for (const TBytes& row : Rows(image))
                expected.insert(expected.end(), row.begin(), row.begin() + std::ptrdiff_t(used));
            EXPECT_EQ(image.TakePackedRows(), expected);
            EXPECT_FALSE(image.HasPixels());
            EXPECT_EQ(image.Width(), 0);
            EXPECT_EQ(image.Height(), 0);
            EXPECT_EQ(image.BitsPerPixel(), f->BitCount);
        }
    }
}

TEST(BmpLoad, ShortPixelDataLeavesTheTopRowsZero)
{
    TScratchDir dir;
    TBmpFields f = Fields(1, 3);
    f.SizeImage = 12;
    f.Pixels = { 9, 9, 9, 9, 8, 8 }; // bottom row and half the middle one
    TBitmap image;
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_EQ(
        Rows(image), (std::vector<TBytes> { { 0, 0, 0, 0 }, { 8, 8, 0, 0 }, { 9, 9, 9, 9 } }));
}

TEST(BmpLoad, SizeImageLimitsThePixelBytesRead)
{
    TScratchDir dir;
    TBmpFields f = Fields(1, 2);
    f.SizeImage = 4;
    f.Pixels = { 1, 2, 3, 0, 4, 5, 6, 0 };
    TBitmap image;
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_EQ(Rows(image), (std::vector<TBytes> { { 0, 0, 0, 0 }, { 1, 2, 3, 0 } }));
}

TEST(BmpLoad, PixelsFollowTheTableWhateverOffBitsSays)
{
    TScratchDir dir;
    TBytes bytes = KnownImageBmp();
    bytes[10] = 0xFF; // bfOffBits far beyond the file
    bytes[2] = 0x01; // bfSize wrong too
    TBitmap image;
    LoadBytes(image, dir, bytes);
    EXPECT_EQ(Row(image, 0), (TBytes { 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00 }));
}

TEST(BmpLoad, EightBitFileReplacesTheDepthSet)
{
    TScratchDir dir;
    TBmpFields f = Fields(3, 1, 8);
    f.Extra = Concat({ { 0, 0, 0xFF, 0 }, { 0, 0xFF, 0, 0 }, { 0xFF, 0, 0, 0 }, IndexTable(253) });
    f.Pixels = { 2, 0, 1, 0 };
    TBitmap image;
    image.SetBitsPerPixel(24);
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_EQ(image.BitsPerPixel(), 8);
    EXPECT_EQ(image.Stride(), 4u);
    EXPECT_EQ(Row(image, 0), (TBytes { 2, 0, 1, 0 }));
    ASSERT_EQ(image.ColorTable().size(), 256u);
    EXPECT_EQ(image.ColorTable()[0].Red, 0xFF);
    EXPECT_EQ(image.ColorTable()[2].Blue, 0xFF);

    // Copied onto a 24-bit image, the indices become their table colours.
    TBitmap target;
    MakeWhite24(target, 3, 1);
    target.Canvas().StretchCopy({ 0, 0, 3, 1 }, image.Canvas(), { 0, 0, 3, 1 });
    EXPECT_EQ(TBytes(target.RowData(0), target.RowData(0) + 9),
        (TBytes { 0xFF, 0, 0, 0, 0, 0xFF, 0, 0xFF, 0 }));
}

TEST(BmpLoad, LowDepthsKeepPackedRowsAndTheirTable)
{
    TScratchDir dir;
    TBmpFields f = Fields(10, 1, 1);
    f.Extra = IndexTable(2);
    f.Pixels = { 0xA5, 0x40, 0x00, 0x00 };
    TBitmap image;
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_EQ(image.BitsPerPixel(), 1);
    EXPECT_EQ(image.Stride(), 4u);
    EXPECT_EQ(Row(image, 0), f.Pixels);
    ASSERT_EQ(image.ColorTable().size(), 2u);
    EXPECT_EQ(image.ColorTable()[1].Green, 2);

    f.BitCount = 4;
    f.Width = 7;
    f.Extra = IndexTable(16);
    f.Pixels = { 0x12, 0x34, 0x56, 0x70 };
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_EQ(image.BitsPerPixel(), 4);
    EXPECT_EQ(image.Width(), 7);
    EXPECT_EQ(Row(image, 0), f.Pixels);
    EXPECT_EQ(image.ColorTable().size(), 16u);
}

TEST(BmpLoad, ColourCountDecidesWherePixelsStart)
{
    TScratchDir dir;
    TBitmap image;
    // Two entries for an 8-bit image: pixels right after them.
    TBmpFields f;
    f.BitCount = 8;
    f.ClrUsed = 2;
    f.Extra = IndexTable(2);
    f.Pixels = { 1, 0, 0, 0 };
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_EQ(image.ColorTable().size(), 2u);
    EXPECT_EQ(Row(image, 0), f.Pixels);

    // 300 entries: 256 kept, the rest skipped.
    f.ClrUsed = 300;
    f.Extra = IndexTable(300);
    f.Pixels = { 7, 0, 0, 0 };
    LoadBytes(image, dir, BuildBmp(f));
    ASSERT_EQ(image.ColorTable().size(), 256u);
    EXPECT_EQ(image.ColorTable()[255].Blue, 255);
    EXPECT_EQ(Row(image, 0), f.Pixels);

    // A table in a 24-bit file is skipped and not kept.
    f.BitCount = 24;
    f.ClrUsed = 2;
    f.Extra = IndexTable(2);
    f.Pixels = { 4, 5, 6, 0 };
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_TRUE(image.ColorTable().empty());
    EXPECT_EQ(Row(image, 0), f.Pixels);
}

TEST(BmpLoad, CoreHeaderHasThreeByteTableEntries)
{
    TScratchDir dir;
    TBmpFields f;
    f.HeaderSize = 12;
    f.Width = 2;
    f.Height = 2;
    f.BitCount = 4;
    for (int i = 0; i < 16; ++i)
        f.Extra.insert(f.Extra.end(), { static_cast<std::uint8_t>(i), 0x40, 0x80 });
    f.Pixels = { 0x12, 0, 0, 0, 0x34, 0, 0, 0 };
    TBitmap image;
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_EQ(image.Width(), 2);
    EXPECT_EQ(image.Height(), 2);
    EXPECT_EQ(image.BitsPerPixel(), 4);
    ASSERT_EQ(image.ColorTable().size(), 16u);
    EXPECT_EQ(image.ColorTable()[15].Blue, 15);
    EXPECT_EQ(image.ColorTable()[15].Green, 0x40);
    EXPECT_EQ(image.ColorTable()[15].Red, 0x80);
    EXPECT_EQ(Rows(image), (std::vector<TBytes> { { 0x34, 0, 0, 0 }, { 0x12, 0, 0, 0 } }));
}

TEST(BmpLoad, SixteenAndThirtyTwoBitsWithAndWithoutMasks)
{
    TScratchDir dir;
    TBitmap image;
    TBmpFields f = Fields(2, 1, 16);
    f.Pixels = { 0x00, 0x7C, 0x1F, 0x00 }; // 5-5-5: red, blue
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_EQ(image.BitsPerPixel(), 16);
    EXPECT_FALSE(image.HasMasks());
    EXPECT_EQ(Row(image, 0), f.Pixels);

    // 5-6-5 masks after a 40-byte header.
    const TBytes masks565 = { 0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0 };
    f.Compression = 3;
    f.Extra = masks565;
    f.Pixels = { 0x00, 0xF8, 0xE0, 0x07 };
    LoadBytes(image, dir, BuildBmp(f));
    ASSERT_TRUE(image.HasMasks());
    EXPECT_EQ(image.Masks()[0], 0xF800u);
    EXPECT_EQ(image.Masks()[1], 0x07E0u);
    EXPECT_EQ(image.Masks()[2], 0x001Fu);
    EXPECT_EQ(Row(image, 0), f.Pixels);

    // The same masks inside a 108-byte header, nothing between header and pixels.
    f.HeaderSize = 108;
    f.HeaderTail = Concat({ masks565, TBytes(56, 0xAB) });
    f.Extra.clear();
    LoadBytes(image, dir, BuildBmp(f));
    ASSERT_TRUE(image.HasMasks());
    EXPECT_EQ(image.Masks()[1], 0x07E0u);
    EXPECT_EQ(Row(image, 0), f.Pixels);

    // A long header's masks count only with BI_BITFIELDS.
    f.Compression = 0;
    f.Width = 1;
    f.BitCount = 32;
    f.Pixels = { 1, 2, 3, 4 };
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_EQ(image.BitsPerPixel(), 32);
    EXPECT_FALSE(image.HasMasks());
    EXPECT_EQ(Row(image, 0), f.Pixels);
}

TEST(BmpLoad, BitfieldsAtEightBitsReadsRowsAsStored)
{
    TScratchDir dir;
    TBmpFields f;
    f.BitCount = 8;
    f.Compression = 3;
    f.ClrUsed = 1;
    f.Extra = IndexTable(1);
    f.Pixels = { 5, 6, 7, 8 };
    TBitmap image;
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_FALSE(image.HasMasks());
    EXPECT_EQ(Row(image, 0), f.Pixels);
}

TEST(BmpLoad, ZeroWidthGivesAnImageWithoutPixels)
{
    TScratchDir dir;
    TBmpFields f = Fields(0, 7);
    TBitmap image;
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 7);
    EXPECT_FALSE(image.HasPixels());
}

// ---------------------------------------------------------------------------
// Run-length data

struct TRleCase
{
    const char* Name;
    int BitCount; // 8: RLE8, 4: RLE4
    std::int32_t Width;
    std::int32_t Height;
    TBytes Data;
    std::vector<TBytes> Rows; // from the top, stride bytes each
};

class BmpRle : public ::testing::TestWithParam<TRleCase>
{
};

TEST_P(BmpRle, DecodesToUncompressedRows)
{
    const TRleCase& c = GetParam();
    TBmpFields f = Fields(
        c.Width, c.Height, static_cast<std::uint16_t>(c.BitCount), c.BitCount == 8 ? 1 : 2);
    f.Extra = IndexTable(c.BitCount == 8 ? 256 : 16);
    f.Pixels = c.Data;
    TScratchDir dir;
    TBitmap image;
    LoadBytes(image, dir, BuildBmp(f));
    EXPECT_EQ(image.BitsPerPixel(), c.BitCount);
    EXPECT_EQ(image.ColorTable().size(), c.BitCount == 8 ? 256u : 16u);
    EXPECT_EQ(Rows(image), c.Rows);
}

// Images of 4 x 2 (RLE8) and 5 x 2 (RLE4): stride 4, the file's first row is
// the bottom one.
const TRleCase kRleCases[] = {
    { "Rle8Runs", 8, 4, 2, { 3, 5, 1, 7, 0, 0, 4, 9, 0, 1 }, { { 9, 9, 9, 9 }, { 5, 5, 5, 7 } } },
    { "Rle8AbsoluteRunSkipsPadding", 8, 4, 2, { 0, 3, 1, 2, 3, 0, 1, 4, 0, 0, 1, 6, 0, 1 },
        { { 6, 0, 0, 0 }, { 1, 2, 3, 4 } } },
    { "Rle8Delta", 8, 4, 2, { 0, 2, 1, 1, 2, 8, 0, 1 }, { { 0, 8, 8, 0 }, { 0, 0, 0, 0 } } },
    { "Rle8RunPastRowEndIsClipped", 8, 4, 2, { 6, 5, 1, 3, 0, 0, 1, 6, 0, 1 },
        { { 6, 0, 0, 0 }, { 5, 5, 5, 5 } } },
    { "Rle8AbsoluteRunPastRowEndIsClipped", 8, 4, 2, { 0, 6, 1, 2, 3, 4, 5, 6, 1, 9, 0, 0, 1, 7 },
        { { 7, 0, 0, 0 }, { 1, 2, 3, 4 } } },
    { "Rle8DeltaPastRowEndIsClipped", 8, 4, 2, { 0, 2, 10, 0, 1, 5, 0, 0, 1, 6 },
        { { 6, 0, 0, 0 }, { 0, 0, 0, 0 } } },
    { "Rle8DeltaPastImageStops", 8, 4, 2, { 0, 2, 255, 255, 1, 5, 0, 0, 1, 5 },
        { { 0, 0, 0, 0 }, { 0, 0, 0, 0 } } },
    { "Rle8EndOfLinePastImage", 8, 4, 2, { 0, 0, 0, 0, 0, 0, 2, 5, 0, 1 },
        { { 0, 0, 0, 0 }, { 0, 0, 0, 0 } } },
    { "Rle8StopsAtEndOfBitmap", 8, 4, 2, { 2, 3, 0, 1, 2, 4 }, { { 0, 0, 0, 0 }, { 3, 3, 0, 0 } } },
    { "Rle8DataEndingMidPair", 8, 4, 2, { 2, 3, 0 }, { { 0, 0, 0, 0 }, { 3, 3, 0, 0 } } },
    { "Rle8DataEndingInAbsoluteRun", 8, 4, 2, { 0, 4, 1, 2 }, { { 0, 0, 0, 0 }, { 1, 2, 0, 0 } } },
    { "Rle4RunsAlternateNibbles", 4, 5, 2, { 5, 0x12, 0, 0, 3, 0x34, 0, 1 },
        { { 0x34, 0x30, 0, 0 }, { 0x12, 0x12, 0x10, 0 } } },
    { "Rle4AbsoluteRunSkipsPadding", 4, 5, 2, { 0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 1, 0x70, 0, 1 },
        { { 0x70, 0, 0, 0 }, { 0x12, 0x34, 0x50, 0 } } },
    { "Rle4AbsoluteRunWithoutPadding", 4, 5, 2, { 0, 3, 0x12, 0x30, 2, 0x55, 0, 1 },
        { { 0, 0, 0, 0 }, { 0x12, 0x35, 0x50, 0 } } },
    { "Rle4DeltaToOddColumn", 4, 5, 2, { 0, 2, 1, 1, 3, 0xBC, 0, 1 },
        { { 0x0B, 0xCB, 0, 0 }, { 0, 0, 0, 0 } } },
    { "Rle4RunPastRowEndLeavesPaddingNibble", 4, 5, 2, { 7, 0x12, 0, 1 },
        { { 0, 0, 0, 0 }, { 0x12, 0x12, 0x10, 0 } } },
    { "Rle4AbsoluteRunPastRowEnd", 4, 5, 2, { 0, 8, 0x12, 0x34, 0x56, 0x78, 0, 0, 1, 0xF0 },
        { { 0xF0, 0, 0, 0 }, { 0x12, 0x34, 0x50, 0 } } },
};

INSTANTIATE_TEST_SUITE_P(Data, BmpRle, ::testing::ValuesIn(kRleCases),
    [](const auto& info) { return std::string(info.param.Name); });
