// Skins from bitmaps: a type 4 skin holds blue, green and red per pixel, a
// type 5 one an alpha byte after them, rows from the top without padding.
// And the skin types of the engine's own tools, read from their files and
// decoded for display.
#include "mdl/MDLClass.h"

#include <algorithm>
#include <cstdint>

#include "image/Bitmap.h"
#include "util/ByteStream.h"

const char* const SIncorrectSkinFormat = "Incorrect Skin format.";

namespace {

// The level of each channel of pure white, the one colour a type 5 skin
// gives alpha 255.
constexpr std::uint8_t WhiteLevel = 255;

} // namespace

std::int32_t TMDLSkin5::BytesPerPixel(std::int32_t SkinType)
{
    switch (PixelType(SkinType)) {
    case SkinTypeIndexed:
        return 1;
    case SkinType565:
    case SkinType4444:
        return 2;
    case SkinType8888:
        return 4;
    case SkinTypeDDS:
        return 0;
    default:
        return 3;
    }
}

bool TMDLSkin5::KnownType(std::int32_t SkinType)
{
    return SkinType == SkinTypeIndexed || (SkinType >= SkinType565 && SkinType <= SkinTypeDDS)
        || HasMipLevels(SkinType);
}

bool TMDLSkin5::HasMipLevels(std::int32_t SkinType)
{
    return SkinType >= SkinType565 + SkinMipLevelsFlag
        && SkinType <= SkinType8888 + SkinMipLevelsFlag;
}

std::int32_t TMDLSkin5::PixelType(std::int32_t SkinType)
{
    return HasMipLevels(SkinType) ? SkinType - SkinMipLevelsFlag : SkinType;
}

std::uint64_t TMDLSkin5::ByteCount(std::int32_t SkinType, std::int32_t Width, std::int32_t Height)
{
    if (SkinType == SkinTypeDDS)
        return static_cast<std::uint64_t>(std::max<std::int32_t>(Width, 0));
    // At most (2^31)^2 pixels: no overflow until the levels and the bytes
    // per pixel multiply it.
    const std::uint64_t first = std::uint64_t(std::max<std::int32_t>(Width, 0))
        * std::uint64_t(std::max<std::int32_t>(Height, 0));
    std::uint64_t pixels = first;
    if (HasMipLevels(SkinType))
        pixels += first / 4 + first / 16 + first / 64;
    const auto bytes = static_cast<std::uint64_t>(BytesPerPixel(SkinType));
    if (pixels > UINT64_MAX / 4)
        return UINT64_MAX;
    return pixels * bytes;
}

const char* TMDLSkin5::TypeName(std::int32_t SkinType)
{
    switch (KnownType(SkinType) ? PixelType(SkinType) : -1) {
    case SkinTypeIndexed:
        return "8-bit palette indices, shown as grey levels: the file keeps no palette";
    case SkinType565:
        return "16-bit 5-6-5 red, green, blue";
    case SkinType4444:
        return "16-bit 4-4-4-4 alpha, red, green, blue";
    case SkinType888:
        return "blue, green, red";
    case SkinType8888:
        return "blue, green, red, alpha";
    case SkinTypeDDS:
        return "an embedded DDS file, kept as it is and not decoded";
    default:
        return "";
    }
}

bool TMDLSkin5::Decodable() const
{
    return KnownType(SkinType) && SkinType != SkinTypeDDS && Width >= 0 && Height >= 0
        && Data.size() >= ByteCount(PixelType(SkinType), Width, Height);
}

namespace {

// A field of Bits bits widened to 8 by repeating its high bits, so that
// 0 stays 0 and the largest value becomes 255.
template <int Bits> std::uint32_t Widen(std::uint32_t Value)
{
    std::uint32_t wide = Value << (8 - Bits);
    for (int filled = Bits; filled < 8; filled += Bits)
        wide |= wide >> filled;
    return wide & 0xFF;
}

std::uint32_t Colour(
    std::uint32_t Alpha, std::uint32_t Red, std::uint32_t Green, std::uint32_t Blue)
{
    return Alpha << 24 | Red << 16 | Green << 8 | Blue;
}

} // namespace

std::vector<std::uint32_t> TMDLSkin5::DecodeColours() const
{
    if (!Decodable())
        return {};
    const std::size_t count = std::size_t(Width) * std::size_t(Height);
    std::vector<std::uint32_t> colours(count);
    const std::uint8_t* p = Data.data();
    switch (PixelType(SkinType)) {
    case SkinTypeIndexed:
        for (std::size_t i = 0; i < count; ++i)
            colours[i] = Colour(255, p[i], p[i], p[i]);
        break;
    case SkinType565:
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t v = GetU16LE(p + 2 * i);
            colours[i]
                = Colour(255, Widen<5>(v >> 11), Widen<6>((v >> 5) & 0x3F), Widen<5>(v & 0x1F));
        }
        break;
    case SkinType4444:
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t v = GetU16LE(p + 2 * i);
            colours[i] = Colour(Widen<4>(v >> 12), Widen<4>((v >> 8) & 0xF),
                Widen<4>((v >> 4) & 0xF), Widen<4>(v & 0xF));
        }
        break;
    case SkinType888:
        for (std::size_t i = 0; i < count; ++i, p += 3)
            colours[i] = Colour(255, p[2], p[1], p[0]);
        break;
    default: // SkinType8888
        for (std::size_t i = 0; i < count; ++i, p += 4)
            colours[i] = Colour(p[3], p[2], p[1], p[0]);
        break;
    }
    return colours;
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

std::int32_t SkinPixel(std::uint16_t Value, std::int32_t Size)
{
    if (Value > 0x7FFF && Value > Size)
        return static_cast<std::int16_t>(Value);
    return Value;
}
