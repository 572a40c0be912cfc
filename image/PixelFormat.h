// Pixel formats: how colours map to the pixel values of one depth, colour
// table and masks, and how spans of one value are written into a row. Shared
// by the pixel store, the canvas and the painters; not part of the image
// layer's interface.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/Bitmap.h"
#include "util/ByteStream.h"

namespace ImageDetail {

// 16-bit pixels without masks are 5-5-5; 32-bit pixels without masks are
// the bytes blue, green, red and one unused byte.
inline constexpr std::uint32_t Default16Masks[3] = { 0x7C00, 0x03E0, 0x001F };
inline constexpr std::uint32_t Default32Masks[3] = { 0xFF0000, 0x00FF00, 0x0000FF };

inline unsigned RedOf(TColor c)
{
    return c & 0xFF;
}
inline unsigned GreenOf(TColor c)
{
    return (c >> 8) & 0xFF;
}
inline unsigned BlueOf(TColor c)
{
    return (c >> 16) & 0xFF;
}

inline TColor MakeColor(unsigned red, unsigned green, unsigned blue)
{
    return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}

// The depths the store and a BMP file know: 1, 4, 8, 16, 24 or 32.
bool IsValidDepth(int bitsPerPixel);

// One colour channel of a 16- or 32-bit pixel, described by its mask. A
// mask may be 0 (the channel reads 0), all ones, or have holes; the value
// is taken from the lowest to the highest set bit.
struct TChannel
{
    std::uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;
};

TChannel MakeChannel(std::uint32_t mask);

// Widens a channel value of `bits` bits to 8 bits: wider channels keep their
// top 8 bits, narrower ones repeat their bits so that all ones gives 255.
inline unsigned WidenChannel(std::uint32_t value, int bits)
{
    if (bits <= 0)
        return 0;
    if (bits >= 8)
        return (value >> (bits - 8)) & 0xFF;
    unsigned result = 0;
    for (int pos = 8 - bits; pos > -bits; pos -= bits)
        result |= pos >= 0 ? value << pos : value >> -pos;
    return result & 0xFF;
}

// The channel value nearest to the 8-bit value v.
inline std::uint32_t NarrowChannel(unsigned v, const TChannel& channel)
{
    if (channel.Bits == 0)
        return 0;
    const std::uint64_t top = (std::uint64_t(1) << channel.Bits) - 1;
    const std::uint64_t value = (std::uint64_t(v) * top + 127) / 255;
    return static_cast<std::uint32_t>(value << channel.Shift) & channel.Mask;
}

// How colours map to the pixel values of one depth, colour table and masks.
// Encoding yields the pixel value once, so that a span is filled without
// searching the colour table for every pixel.
class TPixelFormat
{
public:
    TPixelFormat(int bitsPerPixel, const std::vector<TRGBQuad>* table, const std::uint32_t* masks);

    explicit TPixelFormat(const TBitmap& image)
        : TPixelFormat(
            image.BitsPerPixel(), &image.ColorTable(), image.HasMasks() ? image.Masks() : nullptr)
    {
    }

    int Bits() const { return FBits; }

    // The colour-table index of pixel x of a 1- or 4-bit row; the leftmost
    // pixel sits in the high bits of a byte.
    static std::uint32_t SmallIndex(const std::uint8_t* row, std::int32_t x, int bits)
    {
        return bits == 1 ? (row[x >> 3] >> (7 - (x & 7))) & 1
                         : (x & 1 ? row[x >> 1] & 0x0F : row[x >> 1] >> 4);
    }

    TColor Decode(const std::uint8_t* row, std::int32_t x) const
    {
        switch (FBits) {
        case 1:
        case 4:
            return TableColor(SmallIndex(row, x, FBits));
        case 8:
            return TableColor(row[x]);
        case 16:
            return MaskedColor(GetU16LE(row + 2 * std::size_t(x)));
        case 24: {
            const std::uint8_t* p = row + 3 * std::size_t(x);
            return MakeColor(p[2], p[1], p[0]);
        }
        case 32:
            return MaskedColor(GetU32LE(row + 4 * std::size_t(x)));
        default:
            return clBlack;
        }
    }

    std::uint32_t Encode(TColor c) const
    {
        switch (FBits) {
        case 1:
        case 4:
        case 8:
            return NearestIndex(c);
        case 24:
            return c & 0xFFFFFF;
        case 16:
        case 32:
            return NarrowChannel(RedOf(c), FChannels[0]) | NarrowChannel(GreenOf(c), FChannels[1])
                | NarrowChannel(BlueOf(c), FChannels[2]);
        default:
            return 0;
        }
    }

    // Sets pixels [x0, x1) of a row to an encoded value; the caller clips.
    void Fill(std::uint8_t* row, std::int32_t x0, std::int32_t x1, std::uint32_t value) const
    {
        if (x0 >= x1)
            return;
        const std::size_t count = std::size_t(x1 - x0);
        switch (FBits) {
        case 1:
        case 4:
            for (std::int32_t x = x0; x < x1; ++x)
                StoreSmall(row, x, value);
            break;
        case 8:
            std::memset(row + x0, static_cast<int>(value & 0xFF), count);
            break;
        case 16:
            for (std::size_t i = 0; i < count; ++i)
                PutU16LE(row + 2 * (std::size_t(x0) + i), static_cast<std::uint16_t>(value));
            break;
        case 24: {
            std::uint8_t* p = row + 3 * std::size_t(x0);
            const std::uint8_t pixel[3] = { static_cast<std::uint8_t>(BlueOf(value)),
                static_cast<std::uint8_t>(GreenOf(value)),
                static_cast<std::uint8_t>(RedOf(value)) };
            // The spans of skin polygons are a few pixels long: those are
            // stored byte by byte, cheaper than calls to memcpy.
            if (count <= ShortSpan) {
                for (std::size_t i = 0; i < count; ++i, p += 3) {
                    p[0] = pixel[0];
                    p[1] = pixel[1];
                    p[2] = pixel[2];
                }
                break;
            }
            // One pixel, then double the painted run until the span is full.
            std::memcpy(p, pixel, 3);
            const std::size_t total = 3 * count;
            for (std::size_t done = 3; done < total;) {
                const std::size_t n = std::min(done, total - done);
                std::memcpy(p + done, p, n);
                done += n;
            }
            break;
        }
        case 32:
            for (std::size_t i = 0; i < count; ++i)
                PutU32LE(row + 4 * (std::size_t(x0) + i), value);
            break;
        default:
            break;
        }
    }

private:
    static constexpr std::size_t ShortSpan = 16;

    TColor TableColor(std::size_t index) const
    {
        if (!FTable || index >= FTable->size())
            return clBlack;
        const TRGBQuad& q = (*FTable)[index];
        return MakeColor(q.Red, q.Green, q.Blue);
    }

    TColor MaskedColor(std::uint32_t pixel) const
    {
        unsigned v[3];
        for (int i = 0; i < 3; ++i) {
            const TChannel& ch = FChannels[i];
            v[i] = WidenChannel((pixel & ch.Mask) >> ch.Shift, ch.Bits);
        }
        return MakeColor(v[0], v[1], v[2]);
    }

    // The first table entry at the smallest squared RGB distance, among the
    // entries the depth can address; 0 for an empty table.
    std::uint32_t NearestIndex(TColor c) const;

    // 1- and 4-bit pixels: the leftmost pixel sits in the high bits of a byte.
    void StoreSmall(std::uint8_t* row, std::int32_t x, std::uint32_t value) const
    {
        const int perByte = 8 / FBits;
        const int shift = (perByte - 1 - x % perByte) * FBits;
        const unsigned mask = ((1u << FBits) - 1) << shift;
        std::uint8_t& b = row[x / perByte];
        b = static_cast<std::uint8_t>((b & ~mask) | ((value << shift) & mask));
    }

    int FBits;
    const std::vector<TRGBQuad>* FTable;
    TChannel FChannels[3];
};

// Spans of one colour on a 24-bit row: the colour's three bytes repeated
// over 48, copied in a few overlapping pieces whatever the span's length.
// A loop over the pixels costs a mispredicted exit on nearly every span of
// a skin's small triangles.
class TPixelRun24
{
public:
    void Use(std::uint32_t value)
    {
        if (FReady && value == FValue)
            return;
        const std::uint8_t pixel[3] = { static_cast<std::uint8_t>(BlueOf(value)),
            static_cast<std::uint8_t>(GreenOf(value)), static_cast<std::uint8_t>(RedOf(value)) };
        for (std::size_t i = 0; i < Bytes; ++i)
            FBytes[i] = pixel[i % 3];
        FValue = value;
        FReady = true;
    }

    // Pixels [x0, x1) of the row; the caller clips.
    void Fill(std::uint8_t* row, std::int32_t x0, std::int32_t x1) const
    {
        if (x0 >= x1)
            return;
        std::uint8_t* p = row + 3 * std::size_t(x0);
        std::size_t n = 3 * std::size_t(x1 - x0);
        // Whole repeats keep each byte in its place among the three.
        for (; n > Bytes; n -= Bytes, p += Bytes)
            std::memcpy(p, FBytes, Bytes);
        if (n >= 16) {
            std::memcpy(p, FBytes, 16);
            if (n > 32)
                std::memcpy(p + 16, FBytes + 16, 16);
            std::memcpy(p + n - 16, FBytes + n - 16, 16);
        } else if (n >= 8) {
            std::memcpy(p, FBytes, 8);
            std::memcpy(p + n - 8, FBytes + n - 8, 8);
        } else {
            std::memcpy(p, FBytes, 3);
            std::memcpy(p + n - 3, FBytes + n - 3, 3);
        }
    }

private:
    static constexpr std::size_t Bytes = 48;
    std::uint8_t FBytes[Bytes] = {};
    std::uint32_t FValue = 0;
    bool FReady = false;
};

} // namespace ImageDetail
