// BMP files (device-independent bitmaps) for TBitmap: decoding from bytes in
// memory, encoding to bytes, and the file wrappers over both.
//
// The decoder walks the bytes front to back: file header, info header, masks,
// colour table, pixel data. It trusts none of the header's sizes: offsets and
// lengths (bfOffBits, bfSize, biSizeImage) never decide where anything lies or
// how much is allocated, the image size is checked before the pixel store is
// made, and every read is checked against the bytes left. The image is only
// changed once the whole picture has been decoded.
#include "image/Bitmap.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>
#include <new>

#include "image/PixelFormat.h"
#include "image/TextureFile.h"
#include "util/AtomicFile.h"
#include "util/ByteStream.h"
#include "util/Errors.h"
#include "util/FileIO.h"
#include "util/Translate.h"

namespace {

constexpr std::uint16_t BmpSignature = 0x4D42; // "BM"
constexpr std::uint32_t BmpFileHeaderSize = 14;
constexpr std::uint32_t BmpCoreHeaderSize = 12;
constexpr std::uint32_t BmpInfoHeaderSize = 40;
// Headers from 52 bytes on carry the red, green and blue masks at bytes 40-51.
constexpr std::uint32_t BmpHeaderWithMasksSize = 52;
constexpr std::uint32_t BmpMaskBytes = 12;

constexpr std::uint32_t BiRGB = 0;
constexpr std::uint32_t BiRLE8 = 1;
constexpr std::uint32_t BiRLE4 = 2;
constexpr std::uint32_t BiBitfields = 3;

constexpr std::size_t ColorTableLimit = 256;
// A file is read into memory up to the largest store plus this much for
// headers and colour table: uncompressed pixel data past the store is never
// read. Run-length data past that point (only a file larger than any store
// holds any) is treated as data that ends early.
constexpr std::uint64_t HeaderAllowance = std::uint64_t(1) << 20;

[[noreturn]] void RaiseShortRead(const TByteReader&, std::uint64_t, std::string_view)
{
    throw EReadError(Tr(SReadError));
}

// The BITMAPINFOHEADER fields the reader uses; a core header fills the first four.
struct TInfoHeader
{
    std::uint32_t Size = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint16_t Planes = 0;
    std::uint16_t BitCount = 0;
    std::uint32_t Compression = 0;
    std::uint32_t SizeImage = 0;
    std::int32_t XPelsPerMeter = 0;
    std::int32_t YPelsPerMeter = 0;
    std::uint32_t ClrUsed = 0;
    std::uint32_t ClrImportant = 0;
};

[[noreturn]] void RaiseInvalidBitmap()
{
    throw EInvalidGraphic(Tr(SInvalidBitmap));
}

// Writes a colour-table index into pixel (x, y) of a bottom-up store of 8 or
// 4 bits per pixel; pixels outside the picture are dropped.
class TIndexWriter
{
public:
    TIndexWriter(std::vector<std::uint8_t>& store, std::int64_t width, std::int64_t height,
        std::size_t stride, bool nibbles)
        : FStore(store)
        , FWidth(width)
        , FHeight(height)
        , FStride(stride)
        , FNibbles(nibbles)
    {
    }

    void Put(std::int64_t x, std::int64_t y, std::uint8_t index)
    {
        if (x < 0 || x >= FWidth || y < 0 || y >= FHeight)
            return;
        std::uint8_t* row = FStore.data() + static_cast<std::size_t>(y) * FStride;
        if (!FNibbles) {
            row[x] = index;
            return;
        }
        std::uint8_t& b = row[x / 2];
        if (x % 2 == 0)
            b = static_cast<std::uint8_t>((b & 0x0F) | (index & 0x0F) << 4);
        else
            b = static_cast<std::uint8_t>((b & 0xF0) | (index & 0x0F));
    }

private:
    std::vector<std::uint8_t>& FStore;
    std::int64_t FWidth;
    std::int64_t FHeight;
    std::size_t FStride;
    bool FNibbles;
};

// Decodes count bytes of run-length data (8 bits a pixel for RLE8, 4 for
// RLE4) into a bottom-up store, row 0 being the bottom row as in the file.
// Runs, absolute runs and deltas that go past the end of a row or the top of
// the picture are clipped: a row never wraps into the next. Data that ends
// early simply stops the decoding, leaving the remaining pixels 0. Every
// step consumes at least two bytes of a finite count, so the loop ends.
void DecodeRle(TByteReader& in, std::uint64_t count, std::int32_t width, std::int32_t height,
    bool nibbles, std::size_t stride, std::vector<std::uint8_t>& store)
{
    TIndexWriter pixels(store, width, height, stride, nibbles);
    auto next = [&](std::uint8_t& b) {
        if (count == 0)
            return false;
        b = in.U8();
        --count;
        return true;
    };
    // x stays within 0..width and y only grows, so neither can overflow.
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::uint8_t first;
    std::uint8_t second;
    while (y < height && next(first) && next(second)) {
        if (first > 0) {
            // Encoded run: first pixels of the index (RLE4: the two nibbles in turn).
            for (int i = 0; i < first && x + i < width; ++i) {
                const std::uint8_t index = !nibbles ? second
                    : i % 2 == 0                    ? static_cast<std::uint8_t>(second >> 4)
                                                    : static_cast<std::uint8_t>(second & 0x0F);
                pixels.Put(x + i, y, index);
            }
            x = std::min<std::int64_t>(x + first, width);
            continue;
        }
        switch (second) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            return;
        case 2: { // delta: move right dx and up dy rows
            std::uint8_t dx;
            std::uint8_t dy;
            if (!next(dx) || !next(dy))
                return;
            x = std::min<std::int64_t>(x + dx, width);
            y += dy;
            break;
        }
        default: { // absolute run of `second` pixels, padded to a 16-bit boundary
            const int n = second;
            const int bytes = nibbles ? (n + 1) / 2 : n;
            for (int j = 0; j < bytes; ++j) {
                std::uint8_t b;
                if (!next(b))
                    return;
                if (!nibbles) {
                    pixels.Put(x + j, y, b);
                } else {
                    pixels.Put(x + 2 * j, y, static_cast<std::uint8_t>(b >> 4));
                    if (2 * j + 1 < n)
                        pixels.Put(x + 2 * j + 1, y, static_cast<std::uint8_t>(b & 0x0F));
                }
            }
            x = std::min<std::int64_t>(x + n, width);
            std::uint8_t pad;
            if (bytes % 2 != 0 && !next(pad))
                return;
            break;
        }
        }
    }
}

// Reads the header size and the info header that follows the file header.
// Only the first 40 bytes of a longer header are used, and the masks at
// bytes 40-51 when it is long enough to hold them; the rest is skipped.
TInfoHeader ReadInfoHeader(TByteReader& in, std::uint32_t masks[3], bool& masksRead)
{
    TInfoHeader info;
    info.Size = in.U32();
    masksRead = false;
    if (info.Size == BmpCoreHeaderSize) {
        info.Width = in.U16();
        info.Height = in.U16();
        info.Planes = in.U16();
        info.BitCount = in.U16();
        return info;
    }
    // Any other header shorter than the 40-byte info header is refused.
    if (info.Size < BmpInfoHeaderSize)
        RaiseInvalidBitmap();
    info.Width = in.I32();
    info.Height = in.I32();
    info.Planes = in.U16();
    info.BitCount = in.U16();
    info.Compression = in.U32();
    info.SizeImage = in.U32();
    info.XPelsPerMeter = in.I32();
    info.YPelsPerMeter = in.I32();
    info.ClrUsed = in.U32();
    info.ClrImportant = in.U32();
    std::uint64_t rest = info.Size - BmpInfoHeaderSize;
    if (info.Size >= BmpHeaderWithMasksSize) {
        for (int i = 0; i < 3; ++i)
            masks[i] = in.U32();
        masksRead = true;
        rest -= BmpMaskBytes;
    }
    in.Skip(rest);
    return info;
}

// Refuses what cannot be held: unknown planes, depths and compressions, and
// sizes beyond the limits above, before anything is allocated.
void CheckInfoHeader(const TInfoHeader& info)
{
    if (info.Planes != 1)
        RaiseInvalidBitmap();
    if (info.Compression > BiBitfields)
        RaiseInvalidBitmap();
    if (!ImageDetail::IsValidDepth(info.BitCount))
        RaiseInvalidBitmap();
    // Run-length data is decoded bottom-up only; a top-down RLE file is not
    // a valid bitmap.
    if (info.Compression == BiRLE8 && (info.BitCount != 8 || info.Height < 0))
        RaiseInvalidBitmap();
    if (info.Compression == BiRLE4 && (info.BitCount != 4 || info.Height < 0))
        RaiseInvalidBitmap();
    // INT32_MIN has no positive counterpart: refuse it before taking |height|.
    if (info.Width < 0 || info.Height == INT32_MIN)
        RaiseInvalidBitmap();
    const std::int64_t width = info.Width;
    const std::int64_t height = info.Height < 0 ? -std::int64_t(info.Height) : info.Height;
    if (width > TBitmap::MaxDimension || height > TBitmap::MaxDimension)
        RaiseInvalidBitmap();
    const std::uint64_t stride = TBitmap::StrideFor(width, info.BitCount);
    if (stride * static_cast<std::uint64_t>(height) > TBitmap::MaxStoreBytes)
        RaiseInvalidBitmap();
}

} // namespace

void TBitmap::DecodeBmp(std::vector<std::uint8_t> bytes)
{
    if (bytes.empty()) {
        // No bytes empty the image, as setting both dimensions to 0 would:
        // depth, colour table and masks stay for pixels made later.
        FWidth = 0;
        FHeight = 0;
        FTopDown = false;
        std::vector<std::uint8_t>().swap(FPixels);
        return;
    }

    TByteReader in(bytes.data(), bytes.size(), RaiseShortRead);

    // BITMAPFILEHEADER: only the signature matters. bfSize and bfOffBits are
    // not trusted; the pixel data is taken to follow the colour table.
    in.Need(BmpFileHeaderSize);
    if (in.U16() != BmpSignature)
        RaiseInvalidBitmap();
    in.Skip(BmpFileHeaderSize - 2);

    std::uint32_t masks[3] = { 0, 0, 0 };
    bool masksRead = false;
    const TInfoHeader info = ReadInfoHeader(in, masks, masksRead);
    CheckInfoHeader(info);

    const int bpp = info.BitCount;
    const bool core = info.Size == BmpCoreHeaderSize;
    const bool hasMasks = info.Compression == BiBitfields && (bpp == 16 || bpp == 32);
    // A 40-byte header (or any too short to hold them) is followed by the masks.
    if (hasMasks && !masksRead) {
        for (auto& mask : masks)
            mask = in.U32();
    }

    // The colour table: k entries of 4 bytes (3 after a core header). k comes
    // from the file and may be absurd, so it is checked against what is left
    // before anything is read; only the first 256 entries are kept, and
    // images above 8 bits keep none.
    std::uint64_t colorCount = info.ClrUsed;
    if (colorCount == 0 && bpp <= 8)
        colorCount = std::uint64_t(1) << bpp;
    const std::uint64_t entrySize = core ? 3 : 4;
    in.Need(colorCount * entrySize);
    std::vector<TRGBQuad> table;
    const std::uint64_t kept = bpp <= 8 ? std::min<std::uint64_t>(colorCount, ColorTableLimit) : 0;
    table.reserve(static_cast<std::size_t>(kept));
    for (std::uint64_t i = 0; i < kept; ++i) {
        std::uint8_t entry[4] = { 0, 0, 0, 0 };
        in.Bytes(entry, static_cast<std::size_t>(entrySize));
        table.push_back(TRGBQuad { entry[0], entry[1], entry[2], 0 });
    }
    in.Skip((colorCount - kept) * entrySize);

    const std::int32_t width = info.Width;
    const std::int32_t height = info.Height < 0 ? -info.Height : info.Height;
    const bool topDown = info.Height < 0;
    const std::size_t stride = StrideFor(width, bpp);
    const std::uint64_t storeSize = static_cast<std::uint64_t>(stride) * height;

    std::vector<std::uint8_t> pixels;
    if (storeSize > 0) {
        const std::uint64_t declared = info.SizeImage != 0 ? info.SizeImage : storeSize;
        const std::uint64_t available = std::min<std::uint64_t>(declared, in.Left());
        const bool rle = info.Compression == BiRLE8 || info.Compression == BiRLE4;
        // Rows as stored; bytes beyond the store are ignored, and the rows
        // short data lacks (the last ones in the file) stay 0.
        const auto taken = static_cast<std::size_t>(std::min(available, storeSize));
        try {
            if (!rle && storeSize >= bytes.size() / 2) {
                // The bytes become the store: the rows move to the front, so
                // a large picture is never held twice.
                const std::size_t from = in.Position();
                std::memmove(bytes.data(), bytes.data() + from, taken);
                std::fill(bytes.begin() + std::ptrdiff_t(taken),
                    bytes.begin()
                        + std::ptrdiff_t(std::min<std::uint64_t>(bytes.size(), storeSize)),
                    0);
                bytes.resize(static_cast<std::size_t>(storeSize), 0);
                pixels.swap(bytes);
            } else {
                pixels.assign(static_cast<std::size_t>(storeSize), 0);
                if (rle)
                    DecodeRle(
                        in, available, width, height, info.Compression == BiRLE4, stride, pixels);
                else
                    in.Bytes(pixels.data(), taken);
            }
        } catch (const std::bad_alloc&) {
            RaiseInvalidBitmap();
        }
    }

    // Nothing below can fail: the image changes all at once or not at all.
    FWidth = width;
    FHeight = height;
    FBitsPerPixel = bpp;
    FTopDown = topDown;
    FColorTable.swap(table);
    FHasMasks = hasMasks;
    for (int i = 0; i < 3; ++i)
        FMasks[i] = hasMasks ? masks[i] : 0;
    FFileInfo.XPelsPerMeter = info.XPelsPerMeter;
    FFileInfo.YPelsPerMeter = info.YPelsPerMeter;
    FFileInfo.ClrImportant = info.ClrImportant;
    FPixels.swap(pixels);
}

void TBitmap::LoadBmpFile(const std::string& path)
{
    DecodeBmp(ImageDetail::ReadImageFile(path, MaxStoreBytes + HeaderAllowance));
}

std::vector<std::uint8_t> TBitmap::EncodeBmpHeaders() const
{
    if (!HasPixels())
        return {};
    const int bpp = FBitsPerPixel;
    const std::uint64_t sizeImage = static_cast<std::uint64_t>(Stride()) * FHeight;
    assert(sizeImage == FPixels.size());

    // Depths of 8 and below always get a table; an image that holds none is
    // written with black entries, and biClrUsed 0 says "all of them".
    std::vector<TRGBQuad> table;
    std::uint32_t clrUsed = 0;
    const bool writeMasks = FHasMasks && (bpp == 16 || bpp == 32);
    if (bpp <= 8) {
        const std::size_t full = std::size_t(1) << bpp;
        if (FColorTable.empty()) {
            table.assign(full, TRGBQuad { 0, 0, 0, 0 });
        } else {
            table.assign(
                FColorTable.begin(), FColorTable.begin() + std::min(full, FColorTable.size()));
            clrUsed = static_cast<std::uint32_t>(table.size());
        }
    }
    const std::uint32_t extraBytes
        = static_cast<std::uint32_t>(table.size() * 4) + (writeMasks ? BmpMaskBytes : 0);
    const std::uint32_t offBits = BmpFileHeaderSize + BmpInfoHeaderSize + extraBytes;
    if (sizeImage > UINT32_MAX - offBits)
        throw EWriteError(Tr(SWriteError));

    TByteWriter out;
    // BITMAPFILEHEADER
    out.U16(BmpSignature); // bfType
    out.U32(offBits + static_cast<std::uint32_t>(sizeImage)); // bfSize
    out.U16(0); // bfReserved1
    out.U16(0); // bfReserved2
    out.U32(offBits); // bfOffBits
    // BITMAPINFOHEADER
    out.U32(BmpInfoHeaderSize); // biSize
    out.I32(FWidth); // biWidth
    out.I32(FTopDown ? -FHeight : FHeight); // biHeight: negative for top-down rows
    out.U16(1); // biPlanes
    out.U16(static_cast<std::uint16_t>(bpp)); // biBitCount
    out.U32(writeMasks ? BiBitfields : BiRGB); // biCompression
    out.U32(static_cast<std::uint32_t>(sizeImage)); // biSizeImage
    out.I32(FFileInfo.XPelsPerMeter); // biXPelsPerMeter
    out.I32(FFileInfo.YPelsPerMeter); // biYPelsPerMeter
    out.U32(clrUsed); // biClrUsed
    out.U32(FFileInfo.ClrImportant); // biClrImportant
    if (writeMasks) {
        for (std::uint32_t mask : FMasks)
            out.U32(mask);
    }
    for (const TRGBQuad& entry : table) {
        const std::uint8_t bytes[4] = { entry.Blue, entry.Green, entry.Red, 0 };
        out.Bytes(bytes, sizeof bytes);
    }
    assert(out.Buffer().size() == offBits);
    return out.TakeBuffer();
}

std::vector<std::uint8_t> TBitmap::EncodeBmp() const
{
    std::vector<std::uint8_t> bytes = EncodeBmpHeaders();
    bytes.insert(bytes.end(), FPixels.begin(), FPixels.end());
    return bytes;
}

void TBitmap::SaveBmpFile(const std::string& path) const
{
    // The image is written beside the file and replaces it only when
    // complete, so a failed save never leaves a truncated texture behind.
    // Every file of the image layer is one the program names itself (the
    // atlas, placeholders): a link at its name is replaced, never followed.
    std::unique_ptr<TAtomicFile> file;
    try {
        file = std::make_unique<TAtomicFile>(path, TLinkRule::Replace);
    } catch (const EInOutError& failure) {
        // The file is named in the message; the reason follows it.
        throw EFCreateError(
            FormatMessage(Tr(SFCreateError), path) + " (" + failure.Message() + ")");
    }
    // The headers and the pixel store go out as they are: the pixels are not
    // copied into one buffer first, which would double the memory a large
    // atlas needs.
    const std::vector<std::uint8_t> headers = EncodeBmpHeaders();
    try {
        file->Write(headers.data(), headers.size());
        file->Write(FPixels.data(), FPixels.size());
        file->Commit();
    } catch (const EInOutError& failure) {
        // The file as the place, the system's reason (a full disk) after
        // the stream error.
        EWriteError error(std::string(Tr(SWriteError)) + " (" + failure.Message() + ")");
        error.SetPlace(path, 0);
        throw error;
    }
}
