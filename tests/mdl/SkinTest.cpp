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
