// PNG, JPEG and TGA textures: each kind decodes to the pixels a BMP of the
// same picture holds; cut, damaged and oversized files are refused with the
// image unchanged and nothing printed.
#include "image/TextureFile.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include "BmpTestUtil.h"
#include "TestUtil.h"
#include "TextureTestUtil.h"
#include "image/Bitmap.h"
#include "util/Errors.h"

namespace {

// Everything written to standard error while the object lives.
class TStderrCapture
{
public:
    TStderrCapture()
        : FFile(std::tmpfile())
        , FSaved(::dup(2))
    {
        std::fflush(stderr);
        ::dup2(::fileno(FFile), 2);
    }
    ~TStderrCapture()
    {
        Restore();
        std::fclose(FFile);
    }
    std::string Text()
    {
        Restore();
        std::string text;
        std::rewind(FFile);
        for (int c; (c = std::fgetc(FFile)) != EOF;)
            text += static_cast<char>(c);
        return text;
    }

private:
    void Restore()
    {
        if (FSaved < 0)
            return;
        std::fflush(stderr);
        ::dup2(FSaved, 2);
        ::close(FSaved);
        FSaved = -1;
    }
    std::FILE* FFile;
    int FSaved;
};

struct TDecodeCase
{
    const char* Name;
    TTextureFormat Format;
    TBytes Bytes;
    TPicture Expected;
    unsigned Tolerance = 0; // per channel: JPEG is lossy
};

void PrintTo(const TDecodeCase& c, std::ostream* out)
{
    *out << c.Name;
}

// A picture of few colours, for palettes of 4 bits.
TPicture FewColours(std::int32_t width, std::int32_t height)
{
    const TColor colours[] = { 0x102030, 0xFFFFFF, 0x000000, 0x00FF80, 0x8040C0 };
    TPicture p { width, height, {} };
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x)
            p.Pixels.push_back(colours[(x * 2 + y) % 5]);
    }
    return p;
}

// The red channel cut to its top `depth` bits and spread back over 0-255,
// as grey of fewer than 8 bits reads.
TPicture GreyAtDepth(const TPicture& p, int depth)
{
    const unsigned steps = (1u << depth) - 1;
    return MapChannels(
        GreyPicture(p), [&](unsigned v) { return (v >> (8 - depth)) * 255 / steps; });
}

std::vector<TDecodeCase> DecodeCases()
{
    const TPicture pattern = PatternPicture(13, 11);
    const TPicture grey = GreyPicture(pattern);
    const TPicture few = FewColours(9, 7);
    // Channels of five bits, for 15- and 16-bit TGA pixels and map entries.
    const TPicture fives = MapChannels(pattern, [](unsigned v) { return Widen(Five(v)); });
    // Runs for the run-length kinds: pairs of equal pixels and a flat band
    // longer than a row, so packets run on from row to row.
    TPicture runs = PatternPicture(7, 6);
    for (std::size_t i = 0; i < runs.Pixels.size(); ++i) {
        if (i >= 10 && i < 30)
            runs.Pixels[i] = 0x336699;
        else if (i % 2 == 1)
            runs.Pixels[i] = runs.Pixels[i - 1];
    }
    const TPicture runFives = MapChannels(runs, [](unsigned v) { return Widen(Five(v)); });
    const TPicture blocks = BlockPicture(24, 16);

    const auto png = [](const TPicture& p, TPngKind kind) { return MakePng(p, kind); };
    const auto tga = [](const TPicture& p, TTgaKind kind) { return MakeTga(p, kind); };
    using F = TTextureFormat;
    return {
        { "PngGrey8", F::Png, png(grey, { PNG_COLOR_TYPE_GRAY, 8 }), grey },
        { "PngGrey4", F::Png, png(grey, { PNG_COLOR_TYPE_GRAY, 4 }), GreyAtDepth(pattern, 4) },
        { "PngGrey1", F::Png, png(grey, { PNG_COLOR_TYPE_GRAY, 1 }), GreyAtDepth(pattern, 1) },
        { "PngGrey16", F::Png, png(grey, { PNG_COLOR_TYPE_GRAY, 16 }), grey },
        { "PngGreyAlpha8", F::Png, png(grey, { PNG_COLOR_TYPE_GRAY_ALPHA, 8 }), grey },
        { "PngGreyAlpha16", F::Png, png(grey, { PNG_COLOR_TYPE_GRAY_ALPHA, 16 }), grey },
        { "PngPalette8", F::Png, png(pattern, { PNG_COLOR_TYPE_PALETTE, 8 }), pattern },
        { "PngPalette4", F::Png, png(few, { PNG_COLOR_TYPE_PALETTE, 4 }), few },
        { "PngRgb8", F::Png, png(pattern, { PNG_COLOR_TYPE_RGB, 8 }), pattern },
        { "PngRgba8", F::Png, png(pattern, { PNG_COLOR_TYPE_RGB_ALPHA, 8 }), pattern },
        { "PngRgb16", F::Png, png(pattern, { PNG_COLOR_TYPE_RGB, 16 }), pattern },
        { "PngRgba16", F::Png, png(pattern, { PNG_COLOR_TYPE_RGB_ALPHA, 16 }), pattern },
        { "PngRgbInterlaced", F::Png, png(pattern, { PNG_COLOR_TYPE_RGB, 8, true }), pattern },
        { "PngPaletteInterlaced", F::Png, png(few, { PNG_COLOR_TYPE_PALETTE, 4, true }), few },
        { "PngGrey2Interlaced", F::Png, png(grey, { PNG_COLOR_TYPE_GRAY, 2, true }),
            GreyAtDepth(pattern, 2) },
        { "JpegBaseline", F::Jpeg, MakeJpeg(blocks, {}), blocks, 3 },
        { "JpegProgressive", F::Jpeg, MakeJpeg(blocks, { false, true }), blocks, 3 },
        { "JpegGrey", F::Jpeg, MakeJpeg(GreyPicture(blocks), { true }), GreyPicture(blocks), 3 },
        { "JpegGreyProgressive", F::Jpeg, MakeJpeg(GreyPicture(blocks), { true, true }),
            GreyPicture(blocks), 3 },
        { "Tga24", F::Tga, tga(pattern, { 2, 24 }), pattern },
        { "Tga24TopDown", F::Tga, tga(pattern, { 2, 24, 0, true }), pattern },
        { "Tga24RightToLeft", F::Tga, tga(pattern, { 2, 24, 0, false, true }), pattern },
        { "Tga32", F::Tga, tga(pattern, { 2, 32 }), pattern },
        { "Tga32TopDown", F::Tga, tga(pattern, { 2, 32, 0, true }), pattern },
        { "Tga16", F::Tga, tga(fives, { 2, 16 }), fives },
        { "Tga15TopDown", F::Tga, tga(fives, { 2, 15, 0, true }), fives },
        { "TgaGrey", F::Tga, tga(grey, { 3, 8 }), grey },
        { "TgaGreyTopDown", F::Tga, tga(grey, { 3, 8, 0, true }), grey },
        { "TgaMapped24", F::Tga, tga(pattern, { 1, 8, 24 }), pattern },
        { "TgaMapped32TopDown", F::Tga, tga(pattern, { 1, 8, 32, true }), pattern },
        { "TgaMapped16", F::Tga, tga(fives, { 1, 8, 16 }), fives },
        { "TgaRle24", F::Tga, tga(runs, { 10, 24 }), runs },
        { "TgaRle24TopDown", F::Tga, tga(runs, { 10, 24, 0, true }), runs },
        { "TgaRle32", F::Tga, tga(runs, { 10, 32 }), runs },
        { "TgaRle16RightToLeft", F::Tga, tga(runFives, { 10, 16, 0, false, true }), runFives },
        { "TgaRle15TopDown", F::Tga, tga(runFives, { 10, 15, 0, true }), runFives },
        { "TgaRleGrey", F::Tga, tga(GreyPicture(runs), { 11, 8 }), GreyPicture(runs) },
        { "TgaRleMapped24", F::Tga, tga(runs, { 9, 8, 24 }), runs },
        { "TgaRleMapped15TopDown", F::Tga, tga(runFives, { 9, 8, 15, true }), runFives },
    };
}

class TextureDecode : public ::testing::TestWithParam<TDecodeCase>
{
};

TEST_P(TextureDecode, GivesThePixelsOfABmpOfTheSamePicture)
{
    const TDecodeCase& c = GetParam();
    TBitmap expected;
    FillBitmap(expected, c.Expected);
    TBitmap image;
    // A depth and colour table from an earlier file do not survive.
    TBmpFields eightBits = Fields(2, 2, 8);
    eightBits.Extra = IndexTable(256);
    eightBits.Pixels = TBytes(8, 1);
    image.DecodeBmp(BuildBmp(eightBits));
    DecodeTexture(image, c.Format, c.Bytes, "t");

    ASSERT_EQ(image.Width(), expected.Width());
    ASSERT_EQ(image.Height(), expected.Height());
    EXPECT_EQ(image.BitsPerPixel(), 24);
    EXPECT_TRUE(image.ColorTable().empty());
    int wrong = 0;
    for (std::int32_t y = 0; y < image.Height(); ++y) {
        for (std::int32_t x = 0; x < image.Width(); ++x) {
            const TColor got = image.PixelColor(x, y);
            const TColor want = expected.PixelColor(x, y);
            for (int shift : { 0, 8, 16 }) {
                const int d = int(Channel(got, shift)) - int(Channel(want, shift));
                if (unsigned(d < 0 ? -d : d) > c.Tolerance && ++wrong <= 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << got
                                  << ", not " << want;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, TextureDecode, ::testing::ValuesIn(DecodeCases()),
    [](const ::testing::TestParamInfo<TDecodeCase>& info) { return info.param.Name; });

const char* const MessageStart = "The texture t cannot be read: ";

// The failure's reason (after MessageStart); the image must be unchanged.
std::string Refusal(TTextureFormat format, const TBytes& bytes)
{
    TBitmap image;
    image.DecodeBmp(KnownImageBmp());
    const std::vector<TBytes> before = Rows(image);
    const std::string message
        = MessageOfThrown<EInvalidGraphic>([&] { DecodeTexture(image, format, bytes, "t"); });
    EXPECT_EQ(Rows(image), before) << message;
    EXPECT_EQ(message.rfind(MessageStart, 0), 0u) << message;
    return message.substr(std::min(message.size(), std::string(MessageStart).size()));
}

TEST(TextureRefusal, EveryCutOfAFileIsRefusedAndNothingIsPrinted)
{
    const TPicture blocks = BlockPicture(16, 16);
    const TPicture pattern = PatternPicture(5, 4);
    const struct
    {
        TTextureFormat Format;
        TBytes Bytes;
    } files[] = {
        { TTextureFormat::Png, MakePng(pattern, { PNG_COLOR_TYPE_RGB, 8, true }) },
        { TTextureFormat::Jpeg, MakeJpeg(blocks, {}) },
        { TTextureFormat::Jpeg, MakeJpeg(blocks, { false, true }) },
        { TTextureFormat::Tga, MakeTga(pattern, { 1, 8, 24 }) },
        { TTextureFormat::Tga, MakeTga(pattern, { 10, 32 }) },
    };
    TStderrCapture printed;
    for (const auto& file : files) {
        for (std::size_t length = 0; length < file.Bytes.size(); ++length) {
            SCOPED_TRACE(::testing::Message() << "format " << int(file.Format) << ", length "
                                              << length << " of " << file.Bytes.size());
            Refusal(file.Format, TBytes(file.Bytes.begin(), file.Bytes.begin() + length));
        }
        TBitmap whole;
        DecodeTexture(whole, file.Format, file.Bytes, "t");
    }
    EXPECT_EQ(printed.Text(), "");
}

// The PNG with its header's width and height replaced, its CRC made good.
TBytes PngOfSize(std::uint32_t width, std::uint32_t height)
{
    TBytes png = MakePng(PatternPicture(2, 2), { PNG_COLOR_TYPE_RGB, 8 });
    const auto putBigEndian = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            png[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    putBigEndian(16, width);
    putBigEndian(20, height);
    putBigEndian(29, static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17)));
    return png;
}

// The offset of the first marker 0xFF Code in a JPEG file.
std::size_t JpegMarker(const TBytes& jpeg, std::uint8_t code)
{
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code)
            return i;
    }
    ADD_FAILURE() << "no marker " << int(code);
    return 0;
}

TEST(TextureRefusal, SizesBeyondTheLimitsAreRefusedBeforeThePixelsAreRead)
{
    TBytes jpeg = MakeJpeg(BlockPicture(16, 16), {});
    const std::size_t frame = JpegMarker(jpeg, 0xC0);
    for (std::size_t at : { frame + 5, frame + 7 }) { // height, width: 65500
        jpeg[at] = 0xFF;
        jpeg[at + 1] = 0xDC;
    }
    TBytes tga = MakeTga(PatternPicture(2, 2), { 2, 24 });
    tga[12] = tga[13] = tga[14] = tga[15] = 0xFF; // 65535 x 65535
    TBytes emptyTga = tga;
    emptyTga[12] = emptyTga[13] = 0;

    const std::string tooWide = "it is larger than 65535 pixels on a side";
    const std::string tooLarge = "its pixels would take more than 256 MiB";
    EXPECT_EQ(Refusal(TTextureFormat::Png, PngOfSize(65536, 1)), tooWide);
    EXPECT_EQ(Refusal(TTextureFormat::Png, PngOfSize(1, 70000)), tooWide);
    EXPECT_EQ(Refusal(TTextureFormat::Png, PngOfSize(65535, 65535)), tooLarge);
    EXPECT_EQ(Refusal(TTextureFormat::Jpeg, jpeg), tooLarge);
    EXPECT_EQ(Refusal(TTextureFormat::Tga, tga), tooLarge);
    EXPECT_EQ(Refusal(TTextureFormat::Tga, emptyTga), "it has no pixels");
    // A size within the limits is decoded (here as far as the data goes).
    EXPECT_EQ(Refusal(TTextureFormat::Png, PngOfSize(4000, 2000)), "Not enough image data");
}

TEST(TextureRefusal, DamagedAndForeignFilesSayWhatIsWrong)
{
    TBytes badCrc = MakePng(PatternPicture(4, 4), { PNG_COLOR_TYPE_RGB, 8 });
    const std::string idat = "IDAT";
    const auto chunk = std::search(badCrc.begin(), badCrc.end(), idat.begin(), idat.end());
    ASSERT_NE(chunk, badCrc.end());
    const std::size_t length = std::size_t(chunk[-2]) << 8 | chunk[-1];
    chunk[4 + std::ptrdiff_t(length)] ^= 0x01; // the chunk's CRC
    TBytes badHuffman = MakeJpeg(BlockPicture(8, 8), {});
    const std::size_t table = JpegMarker(badHuffman, 0xC4);
    for (std::size_t i = 0; i < 16; ++i)
        badHuffman[table + 5 + i] = 0xFF; // 4080 codes: more than any table holds
    TBytes greyTga16 = MakeTga(PatternPicture(2, 2), { 3, 8 });
    greyTga16[16] = 16;
    TBytes tgaType4 = MakeTga(PatternPicture(2, 2), { 2, 24 });
    tgaType4[2] = 4;

    TStderrCapture printed;
    EXPECT_EQ(Refusal(TTextureFormat::Png, badCrc), "IDAT: CRC error");
    EXPECT_EQ(Refusal(TTextureFormat::Jpeg, badHuffman), "Bogus Huffman table definition");
    EXPECT_EQ(Refusal(TTextureFormat::Png, KnownImageBmp()), "it is not a PNG file");
    EXPECT_EQ(
        Refusal(TTextureFormat::Jpeg, KnownImageBmp()), "Not a JPEG file: starts with 0x42 0x4d");
    EXPECT_EQ(Refusal(TTextureFormat::Tga, greyTga16), "its grey pixels are not 8 bits");
    EXPECT_EQ(
        Refusal(TTextureFormat::Tga, tgaType4), "it is not a TGA file of a kind that is read");
    EXPECT_EQ(Refusal(TTextureFormat::None, KnownImageBmp()),
        "only BMP, PNG, JPEG and TGA files are read");
    EXPECT_EQ(printed.Text(), "");
}

TEST(TextureFormatOf, GoesByTheExtensionInAnyCase)
{
    EXPECT_EQ(TextureFormatOf("dir/a.PNG"), TTextureFormat::Png);
    EXPECT_EQ(TextureFormatOf("a.b.JpEg"), TTextureFormat::Jpeg);
    EXPECT_EQ(TextureFormatOf("a.jpg"), TTextureFormat::Jpeg);
    EXPECT_EQ(TextureFormatOf("a.Tga"), TTextureFormat::Tga);
    EXPECT_EQ(TextureFormatOf("a.tga.bmp"), TTextureFormat::None);
    EXPECT_EQ(TextureFormatOf("png"), TTextureFormat::None);
    EXPECT_EQ(TextureFormatOf("dir.png/a"), TTextureFormat::None);
}

} // namespace
