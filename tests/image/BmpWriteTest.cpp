// Writing BMP files and reading them back unchanged.
#include "image/Bitmap.h"

#include <array>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "BmpTestUtil.h"
#include "TestUtil.h"
#include "util/Errors.h"

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

TEST(BmpSave, UncreatableFileRaisesFCreateErrorNamingItAndTheReason)
{
    TScratchDir dir;
    TBitmap image;
    MakeWhite24(image, 1, 1);
    const std::string path = dir.File("missing/out.bmp");
    EXPECT_EQ(MessageOfThrown<EFCreateError>([&] { image.SaveBmpFile(path); }),
        "The file " + path + " cannot be created (Invalid file name)");
    // The image layer writes files the program names itself: never into a
    // device.
    EXPECT_EQ(MessageOfThrown<EFCreateError>([&] { image.SaveBmpFile("/dev/full"); }),
        "The file /dev/full cannot be created (Not a regular file: a device, a pipe or a socket)");
}

TEST(BmpSave, FullDiskRaisesWriteErrorNamingTheFileAndLeavesNothing)
{
    // A file size limit fails the write as a full disk does (EFBIG).
    TScratchDir dir;
    const std::string path = dir.File("full.bmp");
    TBitmap image;
    MakeWhite24(image, 64, 64);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message, place;
    try {
        image.SaveBmpFile(path);
    } catch (const EWriteError& e) {
        message = e.Message();
        place = e.PlaceFile();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(message, "Error writing to a stream (Disk full)");
    EXPECT_EQ(place, path);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
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
