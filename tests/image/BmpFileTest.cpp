// BMP reading and writing of TBitmap. Every test file is built here, either
// as a literal byte array or with BuildBmp below.
#include "image/Bitmap.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "util/Errors.h"

namespace {

using TBytes = std::vector<std::uint8_t>;

// A 1 x 1 white 24-bit picture exactly as the program writes it.
constexpr std::array<std::uint8_t, 58> kWhitePixelBmp = {
    // BITMAPFILEHEADER: "BM", bfSize 58, reserved, bfOffBits 54
    0x42, 0x4D, 0x3A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00,
    // biSize 40, biWidth 1, biHeight 1, biPlanes 1, biBitCount 24, BI_RGB, biSizeImage 4
    0x28, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x18, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00,
    // pels per metre, colours used and important: all 0
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // the one row: white, then one padding byte
    0xFF, 0xFF, 0xFF, 0x00
};
static_assert(kWhitePixelBmp.size() == 58, "14 + 40 header bytes and one 4-byte row");

void PutU16(TBytes& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(TBytes& out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t GetU32(const TBytes& bytes, std::size_t at)
{
    return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16
        | static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

std::uint16_t GetU16(const TBytes& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}

TBytes Concat(std::initializer_list<TBytes> parts)
{
    TBytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The header fields of a test file. bfSize and bfOffBits are written as a
// careful writer would; SizeImage defaults to the length of Pixels.
struct TBmpFields
{
    std::uint16_t Type = 0x4D42;
    std::uint32_t HeaderSize = 40;
    std::int32_t Width = 1;
    std::int32_t Height = 1;
    std::uint16_t Planes = 1;
    std::uint16_t BitCount = 24;
    std::uint32_t Compression = 0;
    std::optional<std::uint32_t> SizeImage;
    std::int32_t XPelsPerMeter = 0;
    std::int32_t YPelsPerMeter = 0;
    std::uint32_t ClrUsed = 0;
    std::uint32_t ClrImportant = 0;
    TBytes HeaderTail; // header bytes from 40 on, for longer headers
    TBytes Extra; // masks and colour table
    TBytes Pixels;
};

TBytes BuildBmp(const TBmpFields& f)
{
    const std::uint32_t offBits = static_cast<std::uint32_t>(14 + f.HeaderSize + f.Extra.size());
    TBytes out;
    PutU16(out, f.Type);
    PutU32(out, offBits + static_cast<std::uint32_t>(f.Pixels.size()));
    PutU32(out, 0);
    PutU32(out, offBits);
    PutU32(out, f.HeaderSize);
    if (f.HeaderSize == 12) {
        PutU16(out, static_cast<std::uint16_t>(f.Width));
        PutU16(out, static_cast<std::uint16_t>(f.Height));
        PutU16(out, f.Planes);
        PutU16(out, f.BitCount);
    } else {
        PutU32(out, static_cast<std::uint32_t>(f.Width));
        PutU32(out, static_cast<std::uint32_t>(f.Height));
        PutU16(out, f.Planes);
        PutU16(out, f.BitCount);
        PutU32(out, f.Compression);
        PutU32(out, f.SizeImage.value_or(static_cast<std::uint32_t>(f.Pixels.size())));
        PutU32(out, static_cast<std::uint32_t>(f.XPelsPerMeter));
        PutU32(out, static_cast<std::uint32_t>(f.YPelsPerMeter));
        PutU32(out, f.ClrUsed);
        PutU32(out, f.ClrImportant);
        out.insert(out.end(), f.HeaderTail.begin(), f.HeaderTail.end());
    }
    out.insert(out.end(), f.Extra.begin(), f.Extra.end());
    out.insert(out.end(), f.Pixels.begin(), f.Pixels.end());
    return out;
}

TBmpFields Fields(std::int32_t width, std::int32_t height, std::uint16_t bitCount = 24,
    std::uint32_t compression = 0)
{
    TBmpFields f;
    f.Width = width;
    f.Height = height;
    f.BitCount = bitCount;
    f.Compression = compression;
    return f;
}

// A colour table whose entry i is (blue i, green i + 1, red 0x80).
TBytes IndexTable(int count)
{
    TBytes table;
    for (int i = 0; i < count; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        table.insert(table.end(), { v, static_cast<std::uint8_t>(v + 1), 0x80, 0 });
    }
    return table;
}

TBytes Row(const TBitmap& image, std::int32_t row)
{
    const std::uint8_t* data = image.RowData(row);
    return TBytes(data, data + image.Stride());
}

// Every row from the top, stride bytes each.
std::vector<TBytes> Rows(const TBitmap& image)
{
    std::vector<TBytes> rows;
    for (std::int32_t y = 0; y < image.Height(); ++y)
        rows.push_back(Row(image, y));
    return rows;
}

// A 2 x 2 24-bit picture: blue/green over red/white. Used as the "before"
// state of failing loads.
TBytes KnownImageBmp()
{
    TBmpFields f = Fields(2, 2);
    f.Pixels = { 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, // bottom: red, white
        0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00 }; // top: blue, green
    return BuildBmp(f);
}

TBitmap& LoadBytes(TBitmap& image, const TScratchDir& dir, const TBytes& bytes)
{
    const std::string path = dir.File("in.bmp");
    WriteAllBytes(path, bytes);
    image.LoadBmpFile(path);
    return image;
}

void MakeWhite24(TBitmap& image, std::int32_t width, std::int32_t height)
{
    image.SetBitsPerPixel(24);
    image.SetWidth(width);
    image.SetHeight(height);
}

} // namespace

// ---------------------------------------------------------------------------
// Saving

TEST(BmpSave, OneWhitePixelIsFiftyEightKnownBytes)
{
    TScratchDir dir;
    TBitmap image;
    MakeWhite24(image, 1, 1);
    image.SaveBmpFile(dir.File("white.bmp"));
    EXPECT_EQ(
        ReadAllBytes(dir.File("white.bmp")), TBytes(kWhitePixelBmp.begin(), kWhitePixelBmp.end()));
}

TEST(BmpSave, EightyByEightyHeaderFieldsAndLength)
{
    TScratchDir dir;
    TBitmap image;
    MakeWhite24(image, 80, 80);
    image.SaveBmpFile(dir.File("tile.bmp"));
    const TBytes bytes = ReadAllBytes(dir.File("tile.bmp"));

    ASSERT_EQ(bytes.size(), 19254u); // 54 + 240 * 80, nothing after the pixels
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(GetU32(bytes, 2), 19254u); // bfSize
    EXPECT_EQ(GetU32(bytes, 6), 0u); // both reserved fields
    EXPECT_EQ(GetU32(bytes, 10), 54u); // bfOffBits
    EXPECT_EQ(GetU32(bytes, 14), 40u); // biSize
    EXPECT_EQ(GetU32(bytes, 18), 80u); // biWidth
    EXPECT_EQ(GetU32(bytes, 22), 80u); // biHeight, positive: bottom-up
    EXPECT_EQ(GetU16(bytes, 26), 1u); // biPlanes
    EXPECT_EQ(GetU16(bytes, 28), 24u); // biBitCount
    EXPECT_EQ(GetU32(bytes, 30), 0u); // biCompression
    EXPECT_EQ(GetU32(bytes, 34), 19200u); // biSizeImage = 240 * 80
    for (std::size_t at = 38; at < 54; at += 4)
        EXPECT_EQ(GetU32(bytes, at), 0u) << "at offset " << at;
}

TEST(BmpSave, RowsGoBottomFirstWithZeroPadding)
{
    TScratchDir dir;
    TBitmap image;
    MakeWhite24(image, 3, 2);
    // Top row: (1,2,3) (4,5,6) (7,8,9); bottom row all 0x11.
    for (std::uint8_t i = 0; i < 9; ++i)
        image.RowData(0)[i] = static_cast<std::uint8_t>(i + 1);
    std::memset(image.RowData(1), 0x11, 9);
    image.SaveBmpFile(dir.File("rows.bmp"));

    const TBytes bytes = ReadAllBytes(dir.File("rows.bmp"));
    ASSERT_EQ(bytes.size(), 54u + 2 * 12);
    const TBytes pixels(bytes.begin() + 54, bytes.end());
    EXPECT_EQ(pixels,
        (TBytes { 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0, 0, 0, //
            1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0 }));
}

TEST(BmpSave, ImageWithoutPixelsEmptiesTheFile)
{
    TScratchDir dir;
    const std::string path = dir.File("empty.bmp");
    WriteAllBytes(path, { 1, 2, 3, 4 });
    TBitmap image;
    image.SetBitsPerPixel(24);
    image.SetWidth(100); // still no pixels: height is 0
    image.SaveBmpFile(path);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST(BmpSave, UncreatableFileRaisesFCreateErrorNamingIt)
{
    TScratchDir dir;
    TBitmap image;
    MakeWhite24(image, 1, 1);
    const std::string path = dir.File("missing/out.bmp");
    try {
        image.SaveBmpFile(path);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "ファイル " + path + " を作成できません");
    }
}

TEST(BmpSave, FullDiskRaisesWriteError)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full on this system";
    TBitmap image;
    MakeWhite24(image, 4, 4);
    try {
        image.SaveBmpFile("/dev/full");
        ADD_FAILURE() << "no error";
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.Message(), "ストリームへの書き込みエラー");
    }
}

TEST(BmpSave, MadeImageLoadsBackUnchanged)
{
    TScratchDir dir;
    TBitmap image;
    MakeWhite24(image, 5, 3);
    for (std::int32_t y = 0; y < 3; ++y) {
        for (int i = 0; i < 15; ++i)
            image.RowData(y)[i] = static_cast<std::uint8_t>(y * 40 + i);
    }
    image.SaveBmpFile(dir.File("trip.bmp"));

    TBitmap back;
    back.LoadBmpFile(dir.File("trip.bmp"));
    EXPECT_EQ(back.Width(), 5);
    EXPECT_EQ(back.Height(), 3);
    EXPECT_EQ(back.BitsPerPixel(), 24);
    EXPECT_EQ(Rows(back), Rows(image));
}

// Loading a file written the way this writer writes and saving it again
// gives the same bytes: depth, row order, colour table, masks, padding bytes
// and the resolution fields all survive.
struct TRoundTripCase
{
    const char* Name;
    TBmpFields Fields;
};

class BmpRoundTrip : public ::testing::TestWithParam<TRoundTripCase>
{
};

TEST_P(BmpRoundTrip, SavesTheLoadedFileByteForByte)
{
    TScratchDir dir;
    const TBytes original = BuildBmp(GetParam().Fields);
    TBitmap image;
    LoadBytes(image, dir, original);
    image.SaveBmpFile(dir.File("out.bmp"));
    EXPECT_EQ(ReadAllBytes(dir.File("out.bmp")), original);

    TBitmap inMemory;
    inMemory.DecodeBmp(original);
    EXPECT_EQ(inMemory.EncodeBmp(), original);
}

std::vector<TRoundTripCase> RoundTripCases()
{
    std::vector<TRoundTripCase> cases;
    {
        TBmpFields f = Fields(10, 2, 1);
        f.ClrUsed = 2;
        f.Extra = IndexTable(2);
        f.Pixels = { 0xA5, 0x40, 0, 0, 0x5A, 0x80, 0, 0 };
        cases.push_back({ "OneBit", f });
    }
    {
        TBmpFields f = Fields(5, 2, 4);
        f.ClrUsed = 3;
        f.XPelsPerMeter = 2835;
        f.YPelsPerMeter = 3780;
        f.ClrImportant = 2;
        f.Extra = IndexTable(3);
        f.Pixels = { 0x01, 0x20, 0x10, 0x00, 0x22, 0x11, 0x00, 0x00 };
        cases.push_back({ "FourBitShortTable", f });
    }
    {
        TBmpFields f = Fields(3, -2, 8);
        f.ClrUsed = 4;
        f.Extra = IndexTable(4);
        f.Pixels = { 0, 1, 2, 0xEE, 3, 2, 1, 0xDD }; // padding bytes kept as loaded
        cases.push_back({ "EightBitTopDown", f });
    }
    {
        TBmpFields f = Fields(2, 2, 16, 3);
        f.Extra = Concat({ { 0x00, 0xF8, 0, 0 }, { 0xE0, 0x07, 0, 0 }, { 0x1F, 0, 0, 0 } });
        f.Pixels = { 0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF };
        cases.push_back({ "SixteenBitBitfields", f });
    }
    {
        TBmpFields f = Fields(2, -1, 32);
        f.Pixels = { 1, 2, 3, 4, 5, 6, 7, 8 };
        cases.push_back({ "ThirtyTwoBitTopDown", f });
    }
    {
        TBmpFields f = Fields(1, 2);
        f.XPelsPerMeter = 100;
        f.YPelsPerMeter = 200;
        f.Pixels = { 1, 2, 3, 0x7F, 4, 5, 6, 0x7E };
        cases.push_back({ "TwentyFourBitWithPadding", f });
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Files, BmpRoundTrip, ::testing::ValuesIn(RoundTripCases()),
    [](const auto& info) { return std::string(info.param.Name); });

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

// ---------------------------------------------------------------------------
// Failures

TEST(BmpLoadError, MissingFileRaisesFOpenErrorNamingIt)
{
    TScratchDir dir;
    const std::string path = dir.File("nothing.bmp");
    TBitmap image;
    try {
        image.LoadBmpFile(path);
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "ファイル " + path + " は開けません");
    }
}

TEST(BmpLoadError, DirectoryRaisesFOpenError)
{
    TScratchDir dir;
    TBitmap image;
    EXPECT_THROW(image.LoadBmpFile(dir.Path().string()), EFOpenError);
}

TEST(BmpLoadError, ShortFilesRaiseReadErrorWhateverTheyStartWith)
{
    TScratchDir dir;
    const TBytes valid = KnownImageBmp();
    for (std::size_t n = 1; n < 14; ++n) {
        TBitmap image;
        EXPECT_THROW(LoadBytes(image, dir, TBytes(valid.begin(), valid.begin() + n)), EReadError)
            << n << " bytes";
        EXPECT_THROW(LoadBytes(image, dir, TBytes(n, 'X')), EReadError) << n << " bytes";
    }
}

enum class TFailure { Read, Invalid };

struct TFailureCase
{
    const char* Name;
    TFailure Expected;
    TBytes File;
};

TBytes WithFields(void (*change)(TBmpFields&))
{
    TBmpFields f = Fields(2, 2);
    f.Pixels = TBytes(16, 0x33);
    change(f);
    return BuildBmp(f);
}

TBytes Truncated(TBytes bytes, std::size_t length)
{
    bytes.resize(length);
    return bytes;
}

std::vector<TFailureCase> FailureCases()
{
    using F = TBmpFields;
    const TBytes eightBit = WithFields([](F& f) {
        f.BitCount = 8;
        f.Extra = IndexTable(256);
        f.Pixels = TBytes(8, 1);
    });
    const TBytes coreEightBit = WithFields([](F& f) {
        f.HeaderSize = 12;
        f.BitCount = 8;
        f.Extra = TBytes(3 * 256, 2);
        f.Pixels = TBytes(8, 1);
    });
    const TBytes bitfields = WithFields([](F& f) {
        f.BitCount = 16;
        f.Compression = 3;
        f.Extra = TBytes(12, 0xF0);
        f.Pixels = TBytes(8, 1);
    });
    return {
        { "NotBM", TFailure::Invalid, WithFields([](F& f) { f.Type = 0x4D41; }) },
        { "BMReversed", TFailure::Invalid, WithFields([](F& f) { f.Type = 0x424D; }) },
        { "FourteenBytesNotBM", TFailure::Invalid, TBytes(14, 'X') },
        { "PlanesZero", TFailure::Invalid, WithFields([](F& f) { f.Planes = 0; }) },
        { "PlanesTwo", TFailure::Invalid, WithFields([](F& f) { f.Planes = 2; }) },
        { "DepthZero", TFailure::Invalid, WithFields([](F& f) { f.BitCount = 0; }) },
        { "DepthTwo", TFailure::Invalid, WithFields([](F& f) { f.BitCount = 2; }) },
        { "DepthSixtyFour", TFailure::Invalid, WithFields([](F& f) { f.BitCount = 64; }) },
        { "CompressionJpeg", TFailure::Invalid, WithFields([](F& f) { f.Compression = 4; }) },
        { "CompressionHuge", TFailure::Invalid,
            WithFields([](F& f) { f.Compression = 0xFFFFFFFF; }) },
        { "Rle8AtFourBits", TFailure::Invalid, WithFields([](F& f) {
             f.BitCount = 4;
             f.Compression = 1;
         }) },
        { "Rle4AtEightBits", TFailure::Invalid, WithFields([](F& f) {
             f.BitCount = 8;
             f.Compression = 2;
         }) },
        { "Rle8TopDown", TFailure::Invalid, WithFields([](F& f) {
             f.BitCount = 8;
             f.Compression = 1;
             f.Height = -2;
         }) },
        { "HeaderSizeTwenty", TFailure::Invalid, WithFields([](F& f) { f.HeaderSize = 20; }) },
        { "HeaderSizeZero", TFailure::Invalid, WithFields([](F& f) { f.HeaderSize = 0; }) },
        { "HeaderSizeBeyondFile", TFailure::Read,
            WithFields([](F& f) { f.HeaderSize = 0xFFFFFFF0; }) },
        { "WidthOverLimit", TFailure::Invalid, WithFields([](F& f) { f.Width = 65536; }) },
        { "HeightOverLimit", TFailure::Invalid, WithFields([](F& f) { f.Height = 65536; }) },
        { "TopDownHeightOverLimit", TFailure::Invalid,
            WithFields([](F& f) { f.Height = -65536; }) },
        { "NegativeWidth", TFailure::Invalid, WithFields([](F& f) { f.Width = -2; }) },
        { "HeightInt32Min", TFailure::Invalid, WithFields([](F& f) { f.Height = INT32_MIN; }) },
        { "StoreOver256MiB", TFailure::Invalid, WithFields([](F& f) {
             f.BitCount = 32;
             f.Width = 16384; // 64 KiB a row
             f.Height = 4097;
         }) },
        { "EndsInHeaderSize", TFailure::Read, Truncated(KnownImageBmp(), 16) },
        { "EndsInInfoHeader", TFailure::Read, Truncated(KnownImageBmp(), 40) },
        { "EndsInCoreHeader", TFailure::Read, Truncated(coreEightBit, 22) },
        { "EndsInMasks", TFailure::Read, Truncated(bitfields, 54 + 6) },
        { "EndsInColourTable", TFailure::Read, Truncated(eightBit, 54 + 1023) },
        { "EndsInCoreColourTable", TFailure::Read, Truncated(coreEightBit, 26 + 767) },
        { "HugeColourCount", TFailure::Read, WithFields([](F& f) {
             f.BitCount = 8;
             f.ClrUsed = 0xFFFFFFFF;
             f.Extra = IndexTable(256);
         }) },
        { "HugeColourCountAtTwentyFourBits", TFailure::Read,
            WithFields([](F& f) { f.ClrUsed = 0x40000000; }) },
    };
}

class BmpLoadFailure : public ::testing::TestWithParam<TFailureCase>
{
};

TEST_P(BmpLoadFailure, RaisesAndLeavesTheImageAsItWas)
{
    TScratchDir dir;
    TBitmap image;
    LoadBytes(image, dir, KnownImageBmp());
    const std::vector<TBytes> before = Rows(image);

    const std::string path = dir.File("bad.bmp");
    WriteAllBytes(path, GetParam().File);
    if (GetParam().Expected == TFailure::Read) {
        try {
            image.LoadBmpFile(path);
            ADD_FAILURE() << "no error";
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message(), "ストリームからの読み込みエラー");
        }
    } else {
        try {
            image.LoadBmpFile(path);
            ADD_FAILURE() << "no error";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message(), "ビットマップイメージが不正です");
        }
    }
    EXPECT_EQ(image.Width(), 2);
    EXPECT_EQ(image.Height(), 2);
    EXPECT_EQ(image.BitsPerPixel(), 24);
    EXPECT_TRUE(image.ColorTable().empty());
    EXPECT_EQ(Rows(image), before);
}

INSTANTIATE_TEST_SUITE_P(Files, BmpLoadFailure, ::testing::ValuesIn(FailureCases()),
    [](const auto& info) { return std::string(info.param.Name); });

// Every prefix of a valid file's bytes: the empty one gives an empty image, those that
// end before the pixel data raise EReadError, the rest load at full size with
// the missing pixels 0.
TEST(BmpLoadTruncated, EveryPrefixLoadsOrRaisesReadError)
{
    struct TSample
    {
        const char* Name;
        TBytes File;
        std::size_t PixelOffset;
    };
    TBmpFields rgb = Fields(3, 2);
    rgb.Pixels = TBytes(24, 0x5A);
    TBmpFields indexed = Fields(3, -2, 8);
    indexed.ClrUsed = 5;
    indexed.Extra = IndexTable(5);
    indexed.Pixels = { 1, 2, 3, 0, 4, 3, 2, 0 };
    TBmpFields rle = Fields(4, 2, 8, 1);
    rle.Extra = IndexTable(256);
    rle.Pixels = { 0, 3, 1, 2, 3, 0, 1, 4, 0, 0, 0, 2, 1, 0, 3, 9, 0, 1 };
    TBmpFields masked = Fields(2, 2, 32, 3);
    masked.Extra = Concat({ { 0, 0, 0xFF, 0 }, { 0, 0xFF, 0, 0 }, { 0xFF, 0, 0, 0 } });
    masked.Pixels = TBytes(16, 0xC3);
    // A run of four, an end of line, an absolute run of four, the end.
    TBmpFields rle4 = Fields(4, 2, 4, 2);
    rle4.Extra = IndexTable(16);
    rle4.Pixels = { 4, 0x12, 0, 0, 0, 4, 0x34, 0x56, 0, 1 };
    TBmpFields core = Fields(9, 2, 1);
    core.HeaderSize = 12;
    core.Extra = { 0, 0, 0, 0xFF, 0xFF, 0xFF };
    core.Pixels = { 0xA5, 0x80, 0, 0, 0x5A, 0x00, 0, 0 };
    // A 108-byte header holding the masks of 5-6-5 pixels.
    TBmpFields v4 = Fields(3, 2, 16, 3);
    v4.HeaderSize = 108;
    v4.HeaderTail
        = Concat({ { 0, 0xF8, 0, 0 }, { 0xE0, 0x07, 0, 0 }, { 0x1F, 0, 0, 0 }, TBytes(56) });
    v4.Pixels = TBytes(16, 0x77);
    const TSample samples[] = {
        { "24-bit", BuildBmp(rgb), 54 },
        { "8-bit", BuildBmp(indexed), 54 + 20 },
        { "RLE8", BuildBmp(rle), 54 + 1024 },
        { "bitfields", BuildBmp(masked), 54 + 12 },
        { "RLE4", BuildBmp(rle4), 54 + 64 },
        { "core 1-bit", BuildBmp(core), 14 + 12 + 6 },
        { "V4 header", BuildBmp(v4), 14 + 108 },
    };

    for (const TSample& sample : samples) {
        for (std::size_t n = 0; n <= sample.File.size(); ++n) {
            SCOPED_TRACE(std::string(sample.Name) + ", " + std::to_string(n) + " bytes");
            TBitmap image;
            const TBytes prefix(sample.File.begin(), sample.File.begin() + n);
            if (n > 0 && n < sample.PixelOffset) {
                EXPECT_THROW(image.DecodeBmp(prefix), EReadError);
                continue;
            }
            try {
                image.DecodeBmp(prefix);
            } catch (const std::exception& e) {
                ADD_FAILURE() << "unexpected failure: " << e.what();
                continue;
            }
            if (n == 0) {
                EXPECT_FALSE(image.HasPixels());
                continue;
            }
            ASSERT_TRUE(image.HasPixels());
            EXPECT_EQ(image.Height(), 2);
            if (n == sample.PixelOffset) {
                for (const TBytes& row : Rows(image))
                    EXPECT_EQ(row, TBytes(row.size(), 0));
            }
        }
    }
}

// Uncompressed rows of a picture about as large as its file become the store
// in the decoded bytes' own buffer: whatever lies past the pixel data read
// (rows the data lacks, bytes beyond biSizeImage or beyond the store) must
// read 0 or be cut off, never show through.
TEST(BmpDecode, RowsInTheBytesOwnBufferKeepOnlyThePixelsRead)
{
    constexpr std::int32_t width = 64, height = 64;
    constexpr std::size_t stride = width * 3, store = stride * height;
    TBytes pixels(store);
    for (std::size_t i = 0; i < store; ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 7 + 1);
    struct TCase
    {
        const char* Name;
        std::size_t DataBytes; // pixel bytes in the file
        std::uint32_t SizeImage; // 0: the data's length
        std::size_t Expected; // file rows read, from the bottom
    };
    const TCase cases[] = {
        { "whole", store, 0, store },
        { "short data", store - 5 * stride - 3, 0, store - 5 * stride - 3 },
        { "smaller biSizeImage", store, static_cast<std::uint32_t>(store / 2), store / 2 },
        { "data past the store", store + 4000, 0, store },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBmpFields f = Fields(width, height);
        f.Pixels = pixels;
        f.Pixels.resize(c.DataBytes, 0xEE);
        f.SizeImage = c.SizeImage ? c.SizeImage : static_cast<std::uint32_t>(c.DataBytes);
        TBitmap image;
        image.DecodeBmp(BuildBmp(f));
        ASSERT_EQ(image.Stride() * std::size_t(image.Height()), store);
        TBytes expected(pixels.begin(), pixels.begin() + std::ptrdiff_t(c.Expected));
        expected.resize(store, 0);
        TBytes got;
        for (std::int32_t y = height - 1; y >= 0; --y) {
            const TBytes row = Row(image, y);
            got.insert(got.end(), row.begin(), row.end());
        }
        EXPECT_EQ(got, expected);
    }
}
