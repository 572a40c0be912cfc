// TGA textures: uncompressed and run-length, colour-mapped (8-bit indices),
// true colour of 15, 16, 24 or 32 bits, 8-bit grey; rows from the bottom or
// from the top, and either horizontal direction.
//
// The file has no signature: the 18-byte header must describe one of the
// kinds above. The reader walks the bytes front to back (header, image ID,
// colour map, pixels) with a bounded reader, so a file cut anywhere is
// refused rather than read past. The footer of later files, the attribute
// (alpha) bits and the origin offsets are not used.
#include "image/TextureFile.h"

#include <string_view>

#include "image/Bitmap.h"
#include "util/ByteStream.h"
#include "util/Errors.h"

using ImageDetail::FailTexture;
using ImageDetail::TPicture24;

namespace {

constexpr std::size_t TgaHeaderSize = 18;

// Image types; the run-length kinds are the plain ones plus 8.
constexpr std::uint8_t TgaColorMapped = 1;
constexpr std::uint8_t TgaTrueColor = 2;
constexpr std::uint8_t TgaGrey = 3;
constexpr std::uint8_t TgaRunLength = 8;

// Image descriptor bits.
constexpr std::uint8_t TgaRightToLeft = 0x10;
constexpr std::uint8_t TgaTopDown = 0x20;

// Run-length packets: the top bit marks a run, the rest counts pixels less one.
constexpr std::uint8_t TgaRunPacket = 0x80;
constexpr std::uint8_t TgaPacketCount = 0x7F;

struct TShortFile
{
};

[[noreturn]] void RaiseShortFile(const TByteReader&, std::uint64_t, std::string_view)
{
    throw TShortFile();
}

struct TTgaHeader
{
    std::uint8_t IdLength;
    std::uint8_t ColorMapType;
    std::uint8_t ImageType;
    std::uint16_t MapFirst;
    std::uint16_t MapLength;
    std::uint8_t MapEntryBits;
    std::uint16_t Width;
    std::uint16_t Height;
    std::uint8_t PixelBits;
    std::uint8_t Descriptor;
};

// (blue, green, red) of one stored pixel or map entry of 15 to 32 bits.
// Five-bit channels widen by repeating their top bits, so 31 becomes 255.
void ToBgr(const std::uint8_t* In, int Bits, std::uint8_t* Out)
{
    if (Bits >= 24) {
        Out[0] = In[0];
        Out[1] = In[1];
        Out[2] = In[2];
        return;
    }
    const unsigned v = GetU16LE(In);
    const auto widen
        = [](unsigned five) { return static_cast<std::uint8_t>(five << 3 | five >> 2); };
    Out[0] = widen(v & 0x1F);
    Out[1] = widen(v >> 5 & 0x1F);
    Out[2] = widen(v >> 10 & 0x1F);
}

// Bytes a pixel or map entry of this many bits takes in the file.
std::size_t BytesOf(int Bits)
{
    return static_cast<std::size_t>((Bits + 7) / 8);
}

bool IsTrueColorDepth(int Bits)
{
    return Bits == 15 || Bits == 16 || Bits == 24 || Bits == 32;
}

// The reason the header is refused, or nullptr when it describes a kind read here.
const char* HeaderProblem(const TTgaHeader& H)
{
    const std::uint8_t kind = H.ImageType & ~TgaRunLength;
    if (H.ImageType > (TgaGrey | TgaRunLength) || kind < TgaColorMapped || kind > TgaGrey
        || H.ColorMapType > 1)
        return "it is not a TGA file of a kind that is read";
    if (kind == TgaColorMapped
        && (H.ColorMapType != 1 || H.PixelBits != 8 || !IsTrueColorDepth(H.MapEntryBits)))
        return "its colour map is not of a kind that is read";
    if (kind == TgaTrueColor && !IsTrueColorDepth(H.PixelBits))
        return "its pixel depth is not 15, 16, 24 or 32 bits";
    if (kind == TgaGrey && H.PixelBits != 8)
        return "its grey pixels are not 8 bits";
    return nullptr;
}

void Decode(TByteReader& In, const TTgaHeader& H, TPicture24& Picture)
{
    In.Skip(H.IdLength);
    // The map: entries before MapFirst are not stored; indices outside the
    // map read as black. A map that a true-colour or grey file carries
    // anyway is skipped.
    std::vector<std::uint8_t> map;
    if (H.ColorMapType == 1) {
        const std::size_t entryBytes = BytesOf(H.MapEntryBits);
        const std::uint8_t* entries = In.Take(std::size_t(H.MapLength) * entryBytes);
        if ((H.ImageType & ~TgaRunLength) == TgaColorMapped) {
            map.assign(std::size_t(256) * 3, 0);
            for (std::size_t i = 0; i < H.MapLength && H.MapFirst + i < 256; ++i)
                ToBgr(entries + i * entryBytes, H.MapEntryBits, map.data() + (H.MapFirst + i) * 3);
        }
    }

    const std::uint8_t kind = H.ImageType & ~TgaRunLength;
    const int bits = H.PixelBits;
    const std::size_t pixelBytes = BytesOf(bits);
    const auto putPixel = [&](const std::uint8_t* in, std::uint8_t* out) {
        if (kind == TgaTrueColor) {
            ToBgr(in, bits, out);
        } else if (kind == TgaGrey) {
            out[0] = out[1] = out[2] = in[0];
        } else {
            const std::uint8_t* entry = map.data() + std::size_t(in[0]) * 3;
            out[0] = entry[0];
            out[1] = entry[1];
            out[2] = entry[2];
        }
    };

    const std::int32_t width = Picture.Width();
    const std::int32_t height = Picture.Height();
    const bool rightToLeft = (H.Descriptor & TgaRightToLeft) != 0;
    const bool topDown = (H.Descriptor & TgaTopDown) != 0;
    // Run-length packets may run on from one row into the next; a packet
    // that runs past the last pixel is cut there.
    std::uint8_t runPixel[4] = { 0, 0, 0, 0 };
    int runLeft = 0;
    bool runRepeats = false;
    for (std::int32_t row = 0; row < height; ++row) {
        std::uint8_t* out = Picture.Row(topDown ? row : height - 1 - row);
        for (std::int32_t column = 0; column < width; ++column) {
            std::uint8_t* at = out + std::size_t(rightToLeft ? width - 1 - column : column) * 3;
            if (!(H.ImageType & TgaRunLength)) {
                putPixel(In.Take(pixelBytes), at);
                continue;
            }
            if (runLeft == 0) {
                const std::uint8_t packet = In.U8();
                runLeft = (packet & TgaPacketCount) + 1;
                runRepeats = (packet & TgaRunPacket) != 0;
                if (runRepeats)
                    In.Bytes(runPixel, pixelBytes);
            }
            putPixel(runRepeats ? runPixel : In.Take(pixelBytes), at);
            --runLeft;
        }
    }
}

} // namespace

void DecodeTga(TBitmap& Image, const std::vector<std::uint8_t>& Bytes, const std::string& Name)
{
    TByteReader in(Bytes.data(), Bytes.size(), RaiseShortFile);
    try {
        if (!in.Has(TgaHeaderSize))
            FailTexture(Name, "it is too short for a TGA file");
        TTgaHeader h;
        h.IdLength = in.U8();
        h.ColorMapType = in.U8();
        h.ImageType = in.U8();
        h.MapFirst = in.U16();
        h.MapLength = in.U16();
        h.MapEntryBits = in.U8();
        in.Skip(4); // the origin offsets
        h.Width = in.U16();
        h.Height = in.U16();
        h.PixelBits = in.U8();
        h.Descriptor = in.U8();
        if (const char* problem = HeaderProblem(h))
            FailTexture(Name, problem);
        TPicture24 picture(h.Width, h.Height, Name);
        Decode(in, h, picture);
        picture.MoveTo(Image);
    } catch (const TShortFile&) {
        FailTexture(Name, "the file ends early");
    }
}
