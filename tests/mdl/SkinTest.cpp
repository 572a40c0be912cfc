// Skins from bitmaps: pixel order, rows, the alpha of type 5 and BMP files
// of every depth.
#include "mdl/MDLClass.h"

#include "image/Bitmap.h"
#include "util/Errors.h"

#include "TestUtil.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using TBytes = std::vector<std::uint8_t>;
using TShape = std::vector<std::int32_t>;

constexpr TColor Red = 0x0000FF;
constexpr TColor Green = 0x00FF00;
constexpr TColor Blue = 0xFF0000;

// Pixel format, width, height and byte count.
TShape Shape(const TMDLSkin5& skin)
{
    return { skin.SkinType, skin.Width, skin.Height, skin.Size() };
}

// A 2 x 2 BMP file: red | green over blue | white.
void WriteQuadBmp(const std::string& path, int bitsPerPixel)
{
    TBitmap image;
    image.SetBitsPerPixel(bitsPerPixel);
    if (bitsPerPixel == 8)
        image.SetColorTable(
            { { 0, 0, 0xFF, 0 }, { 0, 0xFF, 0, 0 }, { 0xFF, 0, 0, 0 }, { 0xFF, 0xFF, 0xFF, 0 } });
    image.SetWidth(2);
    image.SetHeight(2);
    const TColor colors[4] = { Red, Green, Blue, clWhite };
    for (int i = 0; i < 4; ++i) {
        image.Canvas().Brush.Color = colors[i];
        image.Canvas().FillRect({ i % 2, i / 2, i % 2 + 1, i / 2 + 1 });
    }
    image.SaveBmpFile(path);
}

} // namespace

TEST(MDLSkin, ConvertsRowsFromTheTopWithoutPaddingAndMarksPureWhite)
{
    TBitmap image;
    image.SetBitsPerPixel(24);
    image.SetWidth(2);
    image.SetHeight(1);
    auto paint = [&](std::int32_t x, std::int32_t y, TColor color) {
        image.Canvas().Brush.Color = color;
        image.Canvas().FillRect({ x, y, x + 1, y + 1 });
    };
    paint(0, 0, Red);
    paint(1, 0, Blue);
    TMDLSkin5 skin;
    skin.FromBitmap888(image);
    EXPECT_EQ(Shape(skin), (TShape { 4, 2, 1, 6 }));
    EXPECT_EQ(skin.Data, (TBytes { 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00 }));

    // Two rows of three pixels: rows are padded to 12 bytes and kept bottom-up in memory.
    image.SetWidth(3);
    image.SetHeight(2);
    paint(0, 0, clWhite);
    paint(1, 0, 0xFEFFFF); // blue 254, green 255, red 255
    paint(2, 0, clBlack);
    for (std::int32_t x = 0; x < 3; ++x)
        paint(x, 1, Green);
    skin.FromBitmap8888(image);
    EXPECT_EQ(Shape(skin), (TShape { 5, 3, 2, 24 }));
    EXPECT_EQ(skin.Data,
        (TBytes { 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0, 0, 0, 0, 0, //
            0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0 }));

    TBitmap empty;
    empty.SetBitsPerPixel(24);
    skin.FromBitmap888(empty);
    EXPECT_EQ(Shape(skin), (TShape { 4, 0, 0, 0 }));
    TMDLModel model;
    model.Header.NumSkins = 1;
    model.TextureSkin = std::make_unique<TMDLSkin5>(skin);
    const TBytes file = model.SaveToBytes();
    EXPECT_EQ(
        TBytes(file.begin() + 84, file.end()), (TBytes { 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 }));
}

TEST(MDLSkin, LoadsBmpFilesOfAnyDepthAndKeepsContentsOnFailure)
{
    TScratchDir dir;
    for (int bits : { 24, 32, 8 }) {
        const std::string path = dir.File("quad" + std::to_string(bits) + ".bmp");
        SCOPED_TRACE(bits);
        WriteQuadBmp(path, bits);
        TMDLSkin5 skin;
        skin.LoadFromBMP(path, SkinFormat888);
        EXPECT_EQ(Shape(skin), (TShape { 4, 2, 2, 12 }));
        EXPECT_EQ(skin.Data, (TBytes { 0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF }));
        skin.LoadFromBMP(path, SkinFormat8888);
        EXPECT_EQ(Shape(skin), (TShape { 5, 2, 2, 16 }));
        EXPECT_EQ(skin.Data,
            (TBytes { 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF }));
    }

    TMDLSkin5 skin;
    skin.SkinType = SkinType8888;
    skin.Width = skin.Height = 1;
    skin.Data = { 1, 2, 3, 4 };
    try {
        skin.LoadFromBMP(dir.File("quad24.bmp"), 777);
        ADD_FAILURE() << "format 777 accepted";
    } catch (const ERangeError& e) {
        EXPECT_STREQ(e.what(), "Incorrect Skin format.");
    }
    EXPECT_THROW(skin.LoadFromBMP(dir.File("missing.bmp"), SkinFormat888), EFOpenError);
    EXPECT_EQ(Shape(skin), (TShape { 5, 1, 1, 4 }));
    EXPECT_EQ(skin.Data, (TBytes { 1, 2, 3, 4 }));
}

TEST(MDLSkin, DecodesTheFirstLevelOfEveryPixelTypeToColours)
{
    struct TCase
    {
        std::int32_t Type, Width, Height;
        TBytes Data;
        std::vector<std::uint32_t> Colours; // 0xAARRGGBB; none when not decodable
    };
    const TCase cases[] = {
        // Grey levels: the file keeps no palette.
        { 0, 3, 1, { 0, 127, 255 }, { 0xFF000000, 0xFF7F7F7F, 0xFFFFFFFF } },
        // 5-6-5, little-endian, red in the high bits; fields widened by
        // repeating their high bits.
        { 2, 2, 2, { 0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x10, 0x84 },
            { 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF848284 } },
        // 4-4-4-4: alpha, red, green, blue from the top.
        { 3, 2, 1, { 0x23, 0xF1, 0xCF, 0x08 }, { 0xFF112233, 0x0088CCFF } },
        { 4, 1, 1, { 1, 2, 3 }, { 0xFF030201 } },
        { 5, 1, 1, { 1, 2, 3, 4 }, { 0x04030201 } },
        // With smaller levels after the first: only the first is decoded.
        { 10, 2, 2, { 0x00, 0xF8, 0, 0, 0, 0, 0x1F, 0x00, 0xFF, 0xFF },
            { 0xFFFF0000, 0xFF000000, 0xFF000000, 0xFF0000FF } },
        { 12, 2, 2, { 1, 2, 3, 0, 0, 0, 0, 0, 0, 4, 5, 6, 9, 9, 9 },
            { 0xFF030201, 0xFF000000, 0xFF000000, 0xFF060504 } },
        // A DDS file is kept, not decoded; nor are short data, unknown types
        // or negative sizes.
        { 6, 4, 0, { 'D', 'D', 'S', ' ' }, {} },
        { 5, 2, 1, { 1, 2, 3, 4, 5, 6, 7 }, {} },
        { 2, 1, 1, {}, {} },
        { 7, 1, 1, { 1, 2, 3, 4 }, {} },
        { 0, -1, -1, { 1 }, {} },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(
            "type " + std::to_string(c.Type) + ", " + std::to_string(c.Data.size()) + " bytes");
        TMDLSkin5 skin;
        skin.SkinType = c.Type;
        skin.Width = c.Width;
        skin.Height = c.Height;
        skin.Data = c.Data;
        EXPECT_EQ(skin.Decodable(), !c.Colours.empty());
        EXPECT_EQ(skin.DecodeColours(), c.Colours);
    }
}
