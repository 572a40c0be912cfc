// Texture files made in the tests: PNG and JPEG written by libpng and
// libjpeg themselves, TGA field by field, each from a picture whose expected
// decoding is known.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "image/Bitmap.h"

using TBytes = std::vector<std::uint8_t>;

// Colours in TColor order (red in the low byte), rows from the top.
struct TPicture
{
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::vector<TColor> Pixels;

    TColor At(std::int32_t x, std::int32_t y) const { return Pixels[std::size_t(y) * Width + x]; }
};

inline unsigned Channel(TColor c, int shift)
{
    return (c >> shift) & 0xFF;
}

// A picture where neighbouring pixels differ in every channel.
inline TPicture PatternPicture(std::int32_t width, std::int32_t height)
{
    TPicture p { width, height, {} };
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const unsigned r = (x * 37 + y * 11 + 5) & 0xFF;
            const unsigned g = (x * 13 + y * 71 + 90) & 0xFF;
            const unsigned b = (x * 101 + y * 3 + 200) & 0xFF;
            p.Pixels.push_back(r | g << 8 | b << 16);
        }
    }
    return p;
}

// The same picture with each channel replaced by f(channel).
template <typename F> TPicture MapChannels(TPicture p, F f)
{
    for (TColor& c : p.Pixels)
        c = f(Channel(c, 0)) | f(Channel(c, 8)) << 8 | f(Channel(c, 16)) << 16;
    return p;
}

// The same picture in grey: every channel takes the red one.
inline TPicture GreyPicture(TPicture p)
{
    for (TColor& c : p.Pixels)
        c = (c & 0xFF) * 0x010101;
    return p;
}

// A 24-bit image of the picture, as a BMP file would load.
inline void FillBitmap(TBitmap& image, const TPicture& p)
{
    image.SetBitsPerPixel(24);
    image.SetWidth(p.Width);
    image.SetHeight(p.Height);
    for (std::int32_t y = 0; y < p.Height; ++y) {
        std::uint8_t* row = image.RowData(y);
        for (std::int32_t x = 0; x < p.Width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(Channel(p.At(x, y), 16));
            row[3 * x + 1] = static_cast<std::uint8_t>(Channel(p.At(x, y), 8));
            row[3 * x + 2] = static_cast<std::uint8_t>(Channel(p.At(x, y), 0));
        }
    }
}

// ---------------------------------------------------------------- PNG

struct TPngKind
{
    int ColorType; // PNG_COLOR_TYPE_*
    int BitDepth;
    bool Interlaced = false;
};

// Writing never fails on these pictures; if it did, the test program stops.
[[noreturn]] inline void PngWriteFailed(png_structp, png_const_charp message)
{
    std::fprintf(stderr, "libpng cannot write a test picture: %s\n", message);
    std::abort();
}

inline void PngAppend(png_structp png, png_bytep data, png_size_t size)
{
    auto* out = static_cast<TBytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

// The picture as a PNG of the kind. Grey kinds take the red channel (scaled
// down to the bit depth by its top bits); alpha is a pattern of its own; a
// palette holds the picture's colours, which must be at most 2^BitDepth;
// 16-bit samples put the colour in the high byte and a pattern in the low.
inline TBytes MakePng(const TPicture& p, const TPngKind& kind)
{
    TBytes out;
    png_structp png
        = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngWriteFailed, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, PngAppend, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(p.Width), static_cast<png_uint_32>(p.Height),
        kind.BitDepth, kind.ColorType, kind.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<TColor> palette;
    if (kind.ColorType == PNG_COLOR_TYPE_PALETTE) {
        for (TColor c : p.Pixels) {
            if (std::find(palette.begin(), palette.end(), c) == palette.end())
                palette.push_back(c);
        }
        std::vector<png_color> entries;
        for (TColor c : palette)
            entries.push_back({ static_cast<png_byte>(Channel(c, 0)),
                static_cast<png_byte>(Channel(c, 8)), static_cast<png_byte>(Channel(c, 16)) });
        png_set_PLTE(png, info, entries.data(), static_cast<int>(entries.size()));
    }
    // A gamma that would darken every colour if it were applied.
    png_set_gAMA(png, info, 0.2);
    png_write_info(png, info);

    const int channels = png_get_channels(png, info);
    const int depth = kind.BitDepth;
    std::vector<TBytes> rows;
    for (std::int32_t y = 0; y < p.Height; ++y) {
        std::vector<unsigned> samples;
        for (std::int32_t x = 0; x < p.Width; ++x) {
            const TColor c = p.At(x, y);
            const unsigned alpha = (x * 29 + y * 7) & 0xFF;
            if (kind.ColorType == PNG_COLOR_TYPE_PALETTE) {
                samples.push_back(static_cast<unsigned>(
                    std::find(palette.begin(), palette.end(), c) - palette.begin()));
                continue;
            }
            std::vector<unsigned> values;
            if (channels <= 2)
                values.push_back(Channel(c, 0));
            else
                values = { Channel(c, 0), Channel(c, 8), Channel(c, 16) };
            if (channels == 2 || channels == 4)
                values.push_back(alpha);
            for (unsigned v : values)
                samples.push_back(depth == 16 ? v << 8 | ((x * 53 + y) & 0xFF) : v >> (8 - depth));
        }
        TBytes row((samples.size() * depth + 7) / 8, 0);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            if (depth == 16) {
                row[2 * i] = static_cast<std::uint8_t>(samples[i] >> 8);
                row[2 * i + 1] = static_cast<std::uint8_t>(samples[i]);
            } else {
                const std::size_t bit = i * depth;
                row[bit / 8] |= static_cast<std::uint8_t>(samples[i] << (8 - depth - bit % 8));
            }
        }
        rows.push_back(std::move(row));
    }
    std::vector<png_bytep> pointers;
    for (TBytes& row : rows)
        pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// ---------------------------------------------------------------- JPEG

struct TJpegKind
{
    bool Grey = false;
    bool Progressive = false;
};

// The picture as a JPEG of quality 100 without chroma subsampling, so that
// flat 8 x 8 blocks come back within a step or two of their colour.
inline TBytes MakeJpeg(const TPicture& p, const TJpegKind& kind)
{
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(p.Width);
    info.image_height = static_cast<JDIMENSION>(p.Height);
    info.input_components = kind.Grey ? 1 : 3;
    info.in_color_space = kind.Grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    for (int c = 0; c < info.num_components; ++c) {
        info.comp_info[c].h_samp_factor = 1;
        info.comp_info[c].v_samp_factor = 1;
    }
    if (kind.Progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    TBytes row;
    while (info.next_scanline < info.image_height) {
        row.clear();
        for (std::int32_t x = 0; x < p.Width; ++x) {
            const TColor c = p.At(x, static_cast<std::int32_t>(info.next_scanline));
            row.push_back(static_cast<std::uint8_t>(Channel(c, 0)));
            if (!kind.Grey) {
                row.push_back(static_cast<std::uint8_t>(Channel(c, 8)));
                row.push_back(static_cast<std::uint8_t>(Channel(c, 16)));
            }
        }
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&info, &pointer, 1);
    }
    jpeg_finish_compress(&info);
    TBytes out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

// A picture of flat 8 x 8 blocks, which JPEG keeps nearly exactly.
inline TPicture BlockPicture(std::int32_t width, std::int32_t height)
{
    TPicture p = PatternPicture(width, height);
    TPicture blocks = p;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x)
            blocks.Pixels[std::size_t(y) * width + x] = p.At(x / 8 * 8, y / 8 * 8);
    }
    return blocks;
}

// ---------------------------------------------------------------- TGA

struct TTgaKind
{
    int ImageType; // 1, 2, 3, or 9, 10, 11 for run-length
    int PixelBits; // 8 for grey and colour-mapped
    int MapEntryBits = 0; // 15, 16, 24 or 32 for colour-mapped
    bool TopDown = false;
    bool RightToLeft = false;
};

// Five bits of a channel, widened back as a decoder widens it.
inline unsigned Five(unsigned v)
{
    return v >> 3;
}
inline unsigned Widen(unsigned five)
{
    return five << 3 | five >> 2;
}

// The stored bytes of one colour at a depth of 15 to 32 bits.
inline TBytes TgaColor(TColor c, int bits, unsigned alpha)
{
    if (bits >= 24) {
        TBytes out = { static_cast<std::uint8_t>(Channel(c, 16)),
            static_cast<std::uint8_t>(Channel(c, 8)), static_cast<std::uint8_t>(Channel(c, 0)) };
        if (bits == 32)
            out.push_back(static_cast<std::uint8_t>(alpha));
        return out;
    }
    const unsigned v = Five(Channel(c, 16)) | Five(Channel(c, 8)) << 5 | Five(Channel(c, 0)) << 10
        | (alpha & 1) << 15;
    return { static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8) };
}

// The picture as a TGA of the kind. Run-length kinds pack repeats in runs
// and the rest in raw packets, packets running on across rows. For 15- and
// 16-bit kinds the picture should hold only widened five-bit channels.
inline TBytes MakeTga(const TPicture& p, const TTgaKind& kind)
{
    const int plain = kind.ImageType & 7;
    std::vector<TColor> palette;
    if (plain == 1) {
        for (TColor c : p.Pixels) {
            if (std::find(palette.begin(), palette.end(), c) == palette.end())
                palette.push_back(c);
        }
    }
    // A map that starts at entry 3: indices count from there.
    const unsigned mapFirst = plain == 1 ? 3 : 0;
    TBytes out = { 5, static_cast<std::uint8_t>(plain == 1),
        static_cast<std::uint8_t>(kind.ImageType), static_cast<std::uint8_t>(mapFirst), 0,
        static_cast<std::uint8_t>(palette.size()), static_cast<std::uint8_t>(palette.size() >> 8),
        static_cast<std::uint8_t>(kind.MapEntryBits), 0, 0, 0, 0,
        static_cast<std::uint8_t>(p.Width), static_cast<std::uint8_t>(p.Width >> 8),
        static_cast<std::uint8_t>(p.Height), static_cast<std::uint8_t>(p.Height >> 8),
        static_cast<std::uint8_t>(kind.PixelBits),
        static_cast<std::uint8_t>((kind.TopDown ? 0x20 : 0) | (kind.RightToLeft ? 0x10 : 0)) };
    const TBytes id = { 'i', 'm', 'a', 'g', 'e' };
    out.insert(out.end(), id.begin(), id.end());
    for (TColor c : palette) {
        const TBytes entry = TgaColor(c, kind.MapEntryBits, 0xFF);
        out.insert(out.end(), entry.begin(), entry.end());
    }
    // Pixels in file order.
    std::vector<TBytes> pixels;
    for (std::int32_t row = 0; row < p.Height; ++row) {
        const std::int32_t y = kind.TopDown ? row : p.Height - 1 - row;
        for (std::int32_t column = 0; column < p.Width; ++column) {
            const std::int32_t x = kind.RightToLeft ? p.Width - 1 - column : column;
            const TColor c = p.At(x, y);
            if (plain == 1) {
                const auto index = std::find(palette.begin(), palette.end(), c) - palette.begin();
                pixels.push_back({ static_cast<std::uint8_t>(index + mapFirst) });
            } else if (plain == 3) {
                pixels.push_back({ static_cast<std::uint8_t>(Channel(c, 0)) });
            } else {
                pixels.push_back(TgaColor(c, kind.PixelBits, (x + y) & 0xFF));
            }
        }
    }
    if (!(kind.ImageType & 8)) {
        for (const TBytes& pixel : pixels)
            out.insert(out.end(), pixel.begin(), pixel.end());
        return out;
    }
    for (std::size_t i = 0; i < pixels.size();) {
        std::size_t same = 1;
        while (i + same < pixels.size() && same < 128 && pixels[i + same] == pixels[i])
            ++same;
        if (same > 1) {
            out.push_back(static_cast<std::uint8_t>(0x80 | (same - 1)));
            out.insert(out.end(), pixels[i].begin(), pixels[i].end());
            i += same;
            continue;
        }
        std::size_t raw = 1;
        while (i + raw < pixels.size() && raw < 128
            && !(i + raw + 1 < pixels.size() && pixels[i + raw + 1] == pixels[i + raw]))
            ++raw;
        out.push_back(static_cast<std::uint8_t>(raw - 1));
        for (std::size_t k = 0; k < raw; ++k)
            out.insert(out.end(), pixels[i + k].begin(), pixels[i + k].end());
        i += raw;
    }
    return out;
}
