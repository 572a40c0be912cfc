// Textures in the formats model packs ship them in besides BMP: PNG (libpng),
// JPEG (libjpeg-turbo) and TGA (our own decoder). Each decoder works on the
// bytes of a whole file in memory and gives a 24-bit image with the colours
// as stored: alpha dropped, 16-bit channels cut to their high byte, grey as
// equal channels, palettes expanded, gamma and colour profiles ignored.
//
// The limits are those of BMP (TBitmap::MaxDimension a side,
// TBitmap::MaxStoreBytes of pixels), checked before the pixels are
// allocated. Every failure (a truncated or damaged file, a kind not read, a
// size beyond the limits) raises EInvalidGraphic with SInvalidTexture naming
// the file, and leaves the image as it was. The libraries never print.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TBitmap;

// "The texture %s cannot be read: %s": the file, then what is wrong with it.
extern const char* const SInvalidTexture;

enum class TTextureFormat { None, Png, Jpeg, Tga };

// The format a file name's extension names (.png, .jpg, .jpeg, .tga, in
// any case); None for any other.
TTextureFormat TextureFormatOf(const std::string& Path);

// Name is the file the bytes came from, for the messages.
void DecodePng(TBitmap& Image, const std::vector<std::uint8_t>& Bytes, const std::string& Name);
void DecodeJpeg(TBitmap& Image, const std::vector<std::uint8_t>& Bytes, const std::string& Name);
void DecodeTga(TBitmap& Image, const std::vector<std::uint8_t>& Bytes, const std::string& Name);
void DecodeTexture(TBitmap& Image, TTextureFormat Format, const std::vector<std::uint8_t>& Bytes,
    const std::string& Name);

// A 24-bit image as a PNG file (8-bit red, green, blue; no other chunks),
// the same bytes for the same pixels.
std::vector<std::uint8_t> EncodePng(const TBitmap& Image);

// Reads the file and decodes it by its extension. EFOpenError when it cannot
// be opened or is no regular file, EReadError when it shrinks while read.
void LoadTextureFile(TBitmap& Image, const std::string& Path);

namespace ImageDetail {

// What the decoders share: a 24-bit picture built in place as a BMP file in
// memory, which TBitmap::DecodeBmp then takes over without copying the rows.
class TPicture24
{
public:
    // Refuses a size beyond the limits (Fail), then makes the store, black.
    TPicture24(std::int64_t Width, std::int64_t Height, const std::string& Name);

    std::int32_t Width() const { return FWidth; }
    std::int32_t Height() const { return FHeight; }
    // The 3 x Width bytes (blue, green, red) of picture row Y, counted from the top.
    std::uint8_t* Row(std::int32_t Y)
    {
        return FBytes.data() + HeaderBytes + std::size_t(FHeight - 1 - Y) * FStride;
    }
    // Hands the picture to the image; the picture is empty afterwards.
    void MoveTo(TBitmap& Image);

    static constexpr std::size_t HeaderBytes = 54;

private:
    std::int32_t FWidth;
    std::int32_t FHeight;
    std::size_t FStride;
    std::vector<std::uint8_t> FBytes;
};

// The bytes of the image file at Path, at most Limit of them (a decoder
// finds a longer file's picture within them or refuses it). EFOpenError when
// it cannot be opened or is no regular file, EReadError when it shrinks
// while read.
std::vector<std::uint8_t> ReadImageFile(const std::string& Path, std::uint64_t Limit);

// EInvalidGraphic with SInvalidTexture for Name and Reason.
[[noreturn]] void FailTexture(const std::string& Name, const std::string& Reason);

} // namespace ImageDetail
