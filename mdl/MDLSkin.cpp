// Skins from bitmaps: a type 4 skin holds blue, green and red per pixel, a
// type 5 one an alpha byte after them, rows from the top without padding.
#include "mdl/MDLClass.h"

#include "image/Bitmap.h"

const char* const SIncorrectSkinFormat = "Incorrect Skin format.";

namespace {

// The level of each channel of pure white, the one colour a type 5 skin
// gives alpha 255.
constexpr std::uint8_t WhiteLevel = 255;

} // namespace

std::int32_t TMDLSkin5::BytesPerPixel(std::int32_t SkinType)
{
    return SkinType == SkinType8888 ? 4 : 3;
}

void TMDLSkin5::LoadFromBMP(const std::string& FileName, int FormatCode)
{
    TBitmap bitmap;
    bitmap.SetBitsPerPixel(24);
    // Loading keeps the file's own depth; the conversion below reads any
    // other depth through the colour of each pixel.
    bitmap.LoadBmpFile(FileName);
    if (FormatCode == SkinFormat888)
        FromBitmap888(bitmap);
    else if (FormatCode == SkinFormat8888)
        FromBitmap8888(bitmap);
    else
        throw ERangeError(SIncorrectSkinFormat);
}

void TMDLSkin5::FromBitmap888(const TBitmap& Bitmap)
{
    FromBitmap(Bitmap, SkinType888);
}

void TMDLSkin5::FromBitmap888(TBitmap&& Bitmap)
{
    // A 24-bit store holds blue, green and red, as a type 4 skin does.
    if (Bitmap.BitsPerPixel() != 24 || !Bitmap.HasPixels()) {
        FromBitmap888(static_cast<const TBitmap&>(Bitmap));
        return;
    }
    const std::int32_t width = Bitmap.Width();
    const std::int32_t height = Bitmap.Height();
    Data = Bitmap.TakePackedRows();
    SkinType = SkinType888;
    Width = width;
    Height = height;
}

void TMDLSkin5::FromBitmap8888(const TBitmap& Bitmap)
{
    FromBitmap(Bitmap, SkinType8888);
}

void TMDLSkin5::FromBitmap(const TBitmap& Bitmap, std::int32_t Type)
{
    std::int32_t width = Bitmap.Width();
    std::int32_t height = Bitmap.Height();
    // An image without pixels has a zero side; the other side is kept.
    if (!Bitmap.HasPixels() && width > 0 && height > 0)
        width = height = 0;
    const std::size_t pixelBytes = static_cast<std::size_t>(BytesPerPixel(Type));
    std::vector<std::uint8_t> data(std::size_t(width) * std::size_t(height) * pixelBytes);
    std::uint8_t* out = data.data();
    for (std::int32_t row = 0; row < height; ++row) {
        const std::uint8_t* bytes = Bitmap.BitsPerPixel() == 24 ? Bitmap.RowData(row) : nullptr;
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t blue, green, red;
            if (bytes) {
                blue = bytes[3 * x];
                green = bytes[3 * x + 1];
                red = bytes[3 * x + 2];
            } else {
                // Any other depth goes through the colour of each pixel.
                const TColor colour = Bitmap.PixelColor(x, row);
                red = std::uint8_t(colour);
                green = std::uint8_t(colour >> 8);
                blue = std::uint8_t(colour >> 16);
            }
            *out++ = blue;
            *out++ = green;
            *out++ = red;
            if (Type == SkinType8888) {
                const bool white = blue == WhiteLevel && green == WhiteLevel && red == WhiteLevel;
                *out++ = white ? 255 : 0;
            }
        }
    }
    SkinType = Type;
    Width = width;
    Height = height;
    Data = std::move(data);
}
