// Reading and writing BMP files (device-independent bitmaps) for TBitmap.
//
// The reader walks the file front to back: file header, info header, masks,
// colour table, pixel data. It trusts none of the header's sizes: offsets and
// lengths (bfOffBits, bfSize, biSizeImage) never decide where anything lies or
// how much is allocated, the image size is checked before the pixel store is
// made, and every read is checked against the file length. The image is only
// changed once the whole file has been decoded.
#include "image/Bitmap.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "util/AtomicFile.h"
#include "util/ByteStream.h"
#include "util/Errors.h"
#include "util/TextFile.h"

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
constexpr std::size_t ReadBufferSize = 64 * 1024;

// Closes a POSIX file descriptor when it goes out of scope.
class TFileHandle
{
public:
    explicit TFileHandle(int fd)
        : FFd(fd)
    {
    }
    ~TFileHandle()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;

    int Fd() const { return FFd; }
    // Closes now and reports whether the close succeeded.
    bool Close()
    {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0;
    }

private:
    int FFd;
};

// Reads a file of known length front to back through a small buffer. Every
// read and skip is checked against the length first and raises EReadError
// when the file ends before it; nothing is ever read outside a buffer.
class TBmpReader
{
public:
    TBmpReader(int fd, std::uint64_t size)
        : FFd(fd)
        , FSize(size)
    {
    }

    std::uint64_t Left() const { return FSize - FPos; }
    bool Has(std::uint64_t n) const { return n <= Left(); }

    void Skip(std::uint64_t n)
    {
        Require(n);
        FPos += n;
    }

    void ReadBytes(std::uint8_t* dst, std::size_t n)
    {
        Require(n);
        while (n > 0) {
            const std::uint64_t bufferEnd = FBufferStart + FBuffer.size();
            if (FPos >= FBufferStart && FPos < bufferEnd) {
                const std::size_t offset = static_cast<std::size_t>(FPos - FBufferStart);
                const std::size_t chunk = std::min(n, FBuffer.size() - offset);
                std::memcpy(dst, FBuffer.data() + offset, chunk);
                dst += chunk;
                n -= chunk;
                FPos += chunk;
            } else if (n >= ReadBufferSize) {
                ReadAt(dst, n, FPos);
                FPos += n;
                n = 0;
            } else {
                FBuffer.resize(
                    static_cast<std::size_t>(std::min<std::uint64_t>(ReadBufferSize, Left())));
                FBufferStart = FPos;
                ReadAt(FBuffer.data(), FBuffer.size(), FPos);
            }
        }
    }

    std::uint8_t ReadU8()
    {
        std::uint8_t b;
        ReadBytes(&b, 1);
        return b;
    }
    std::uint16_t ReadU16()
    {
        std::uint8_t b[2];
        ReadBytes(b, sizeof b);
        return GetU16LE(b);
    }
    std::uint32_t ReadU32()
    {
        std::uint8_t b[4];
        ReadBytes(b, sizeof b);
        return GetU32LE(b);
    }
    std::int32_t ReadS32() { return static_cast<std::int32_t>(ReadU32()); }

private:
    void Require(std::uint64_t n) const
    {
        if (!Has(n))
            throw EReadError(SReadError);
    }

    // A file that shrinks while it is read ends early: that too is a read error.
    void ReadAt(std::uint8_t* dst, std::size_t n, std::uint64_t offset) const
    {
        while (n > 0) {
            const ssize_t got = ::pread(FFd, dst, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                throw EReadError(SReadError);
            dst += got;
            n -= static_cast<std::size_t>(got);
            offset += static_cast<std::uint64_t>(got);
        }
    }

    int FFd;
    std::uint64_t FSize;
    std::uint64_t FPos = 0;
    // File bytes from FBufferStart on.
    std::vector<std::uint8_t> FBuffer;
    std::uint64_t FBufferStart = 0;
};

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
    throw EInvalidGraphic(SInvalidBitmap);
}

bool IsValidBmpDepth(int bpp)
{
    return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
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
void DecodeRle(TBmpReader& in, std::uint64_t count, std::int32_t width, std::int32_t height,
    bool nibbles, std::size_t stride, std::vector<std::uint8_t>& store)
{
    TIndexWriter pixels(store, width, height, stride, nibbles);
    auto next = [&](std::uint8_t& b) {
        if (count == 0)
            return false;
        b = in.ReadU8();
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
TInfoHeader ReadInfoHeader(TBmpReader& in, std::uint32_t masks[3], bool& masksRead)
{
    TInfoHeader info;
    info.Size = in.ReadU32();
    masksRead = false;
    if (info.Size == BmpCoreHeaderSize) {
        info.Width = in.ReadU16();
        info.Height = in.ReadU16();
        info.Planes = in.ReadU16();
        info.BitCount = in.ReadU16();
        return info;
    }
    // Any other header shorter than the 40-byte info header is refused.
    if (info.Size < BmpInfoHeaderSize)
        RaiseInvalidBitmap();
    info.Width = in.ReadS32();
    info.Height = in.ReadS32();
    info.Planes = in.ReadU16();
    info.BitCount = in.ReadU16();
    info.Compression = in.ReadU32();
    info.SizeImage = in.ReadU32();
    info.XPelsPerMeter = in.ReadS32();
    info.YPelsPerMeter = in.ReadS32();
    info.ClrUsed = in.ReadU32();
    info.ClrImportant = in.ReadU32();
    std::uint64_t rest = info.Size - BmpInfoHeaderSize;
    if (info.Size >= BmpHeaderWithMasksSize) {
        for (int i = 0; i < 3; ++i)
            masks[i] = in.ReadU32();
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
    if (!IsValidBmpDepth(info.BitCount))
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

// Little-endian output into a growing byte buffer.
void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    std::uint8_t b[2];
    PutU16LE(b, v);
    out.insert(out.end(), b, b + sizeof b);
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    std::uint8_t b[4];
    PutU32LE(b, v);
    out.insert(out.end(), b, b + sizeof b);
}

void PutS32(std::vector<std::uint8_t>& out, std::int32_t v)
{
    PutU32(out, static_cast<std::uint32_t>(v));
}

} // namespace

void TBitmap::LoadBmpFile(const std::string& path)
{
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below anyway.
    TFileHandle file(
        HasNulByte(path) ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (file.Fd() < 0 || ::fstat(file.Fd(), &st) != 0 || !S_ISREG(st.st_mode))
        throw EFOpenError(FormatMessage(SFOpenError, path));

    if (st.st_size == 0) {
        // An empty file empties the image, as setting both dimensions to 0
        // would: depth, colour table and masks stay for pixels made later.
        FWidth = 0;
        FHeight = 0;
        FTopDown = false;
        std::vector<std::uint8_t>().swap(FPixels);
        return;
    }

    TBmpReader in(file.Fd(), static_cast<std::uint64_t>(st.st_size));

    // BITMAPFILEHEADER: only the signature matters. bfSize and bfOffBits are
    // not trusted; the pixel data is taken to follow the colour table.
    if (!in.Has(BmpFileHeaderSize))
        throw EReadError(SReadError);
    if (in.ReadU16() != BmpSignature)
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
            mask = in.ReadU32();
    }

    // The colour table: k entries of 4 bytes (3 after a core header). k comes
    // from the file and may be absurd, so it is checked against what is left
    // before anything is read; only the first 256 entries are kept, and
    // images above 8 bits keep none.
    std::uint64_t colorCount = info.ClrUsed;
    if (colorCount == 0 && bpp <= 8)
        colorCount = std::uint64_t(1) << bpp;
    const std::uint64_t entrySize = core ? 3 : 4;
    if (!in.Has(colorCount * entrySize))
        throw EReadError(SReadError);
    std::vector<TRGBQuad> table;
    const std::uint64_t kept = bpp <= 8 ? std::min<std::uint64_t>(colorCount, ColorTableLimit) : 0;
    table.reserve(static_cast<std::size_t>(kept));
    for (std::uint64_t i = 0; i < kept; ++i) {
        std::uint8_t entry[4] = { 0, 0, 0, 0 };
        in.ReadBytes(entry, static_cast<std::size_t>(entrySize));
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
        try {
            pixels.assign(static_cast<std::size_t>(storeSize), 0);
        } catch (const std::bad_alloc&) {
            RaiseInvalidBitmap();
        }
        const std::uint64_t declared = info.SizeImage != 0 ? info.SizeImage : storeSize;
        const std::uint64_t available = std::min(declared, in.Left());
        if (info.Compression == BiRLE8 || info.Compression == BiRLE4) {
            DecodeRle(in, available, width, height, info.Compression == BiRLE4, stride, pixels);
        } else {
            // Rows as stored; bytes beyond the store are ignored, and the
            // rows a short file lacks (the last ones in the file) stay 0.
            in.ReadBytes(pixels.data(), static_cast<std::size_t>(std::min(available, storeSize)));
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

void TBitmap::SaveBmpFile(const std::string& path) const
{
    // The image is written beside the file and replaces it only when
    // complete, so a failed save never leaves a truncated texture behind.
    std::unique_ptr<TAtomicFile> file;
    try {
        file = std::make_unique<TAtomicFile>(path);
    } catch (const EInOutError&) {
        throw EFCreateError(FormatMessage(SFCreateError, path));
    }
    // The headers and the pixel store go out as they are: the pixels are not
    // copied into one buffer first, which would double the memory a large
    // atlas needs.
    auto finish = [&file](const std::uint8_t* headers, std::size_t headerSize,
                      const std::uint8_t* pixels, std::size_t pixelSize) {
        try {
            file->Write(headers, headerSize);
            file->Write(pixels, pixelSize);
            file->Commit();
        } catch (const EInOutError&) {
            throw EWriteError(SWriteError);
        }
    };
    if (!HasPixels()) {
        finish(nullptr, 0, nullptr, 0);
        return;
    }

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
        throw EWriteError(SWriteError);

    std::vector<std::uint8_t> out;
    out.reserve(offBits);
    // BITMAPFILEHEADER
    PutU16(out, BmpSignature); // bfType
    PutU32(out, offBits + static_cast<std::uint32_t>(sizeImage)); // bfSize
    PutU16(out, 0); // bfReserved1
    PutU16(out, 0); // bfReserved2
    PutU32(out, offBits); // bfOffBits
    // BITMAPINFOHEADER
    PutU32(out, BmpInfoHeaderSize); // biSize
    PutS32(out, FWidth); // biWidth
    PutS32(out, FTopDown ? -FHeight : FHeight); // biHeight: negative for top-down rows
    PutU16(out, 1); // biPlanes
    PutU16(out, static_cast<std::uint16_t>(bpp)); // biBitCount
    PutU32(out, writeMasks ? BiBitfields : BiRGB); // biCompression
    PutU32(out, static_cast<std::uint32_t>(sizeImage)); // biSizeImage
    PutS32(out, FFileInfo.XPelsPerMeter); // biXPelsPerMeter
    PutS32(out, FFileInfo.YPelsPerMeter); // biYPelsPerMeter
    PutU32(out, clrUsed); // biClrUsed
    PutU32(out, FFileInfo.ClrImportant); // biClrImportant
    if (writeMasks) {
        for (std::uint32_t mask : FMasks)
            PutU32(out, mask);
    }
    for (const TRGBQuad& entry : table) {
        out.push_back(entry.Blue);
        out.push_back(entry.Green);
        out.push_back(entry.Red);
        out.push_back(0);
    }
    assert(out.size() == offBits);
    finish(out.data(), out.size(), FPixels.data(), FPixels.size());
}
