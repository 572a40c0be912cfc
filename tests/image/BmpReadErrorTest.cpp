// BMP files the reader refuses, and files cut short anywhere.
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
// Failures

TEST(BmpLoadError, MissingFileRaisesFOpenErrorNamingIt)
{
    TScratchDir dir;
    const std::string path = dir.File("nothing.bmp");
    TBitmap image;
    EXPECT_EQ(MessageOfThrown<EFOpenError>([&] { image.LoadBmpFile(path); }),
        "The file " + path + " cannot be opened");
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
        EXPECT_EQ(MessageOfThrown<EReadError>([&] { image.LoadBmpFile(path); }),
            "Error reading from a stream");
    } else {
        EXPECT_EQ(MessageOfThrown<EInvalidGraphic>([&] { image.LoadBmpFile(path); }),
            "The bitmap image is not valid");
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
