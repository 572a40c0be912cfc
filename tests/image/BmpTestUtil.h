// BMP files built field by field for the reader and writer tests.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "TestUtil.h"
#include "image/Bitmap.h"

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

inline void PutU16(TBytes& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void PutU32(TBytes& out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

inline std::uint32_t GetU32(const TBytes& bytes, std::size_t at)
{
    return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16
        | static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

inline std::uint16_t GetU16(const TBytes& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}

inline TBytes Concat(std::initializer_list<TBytes> parts)
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

inline TBytes BuildBmp(const TBmpFields& f)
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

inline TBmpFields Fields(std::int32_t width, std::int32_t height, std::uint16_t bitCount = 24,
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
inline TBytes IndexTable(int count)
{
    TBytes table;
    for (int i = 0; i < count; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        table.insert(table.end(), { v, static_cast<std::uint8_t>(v + 1), 0x80, 0 });
    }
    return table;
}

inline TBytes Row(const TBitmap& image, std::int32_t row)
{
    const std::uint8_t* data = image.RowData(row);
    return TBytes(data, data + image.Stride());
}

// Every row from the top, stride bytes each.
inline std::vector<TBytes> Rows(const TBitmap& image)
{
    std::vector<TBytes> rows;
    for (std::int32_t y = 0; y < image.Height(); ++y)
        rows.push_back(Row(image, y));
    return rows;
}

// A 2 x 2 24-bit picture: blue/green over red/white. Used as the "before"
// state of failing loads.
inline TBytes KnownImageBmp()
{
    TBmpFields f = Fields(2, 2);
    f.Pixels = { 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, // bottom: red, white
        0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00 }; // top: blue, green
    return BuildBmp(f);
}

inline TBitmap& LoadBytes(TBitmap& image, const TScratchDir& dir, const TBytes& bytes)
{
    const std::string path = dir.File("in.bmp");
    WriteAllBytes(path, bytes);
    image.LoadBmpFile(path);
    return image;
}

inline void MakeWhite24(TBitmap& image, std::int32_t width, std::int32_t height)
{
    image.SetBitsPerPixel(24);
    image.SetWidth(width);
    image.SetHeight(height);
}
