// Choosing a texture decoder by the file name, reading the file, and the
// 24-bit picture the decoders fill.
#include "image/TextureFile.h"

#include <algorithm>
#include <new>

#include "image/Bitmap.h"
#include "util/ByteStream.h"
#include "util/Errors.h"
#include "util/FileIO.h"
#include "util/Translate.h"

const char* const SInvalidTexture = "The texture %s cannot be read: %s";

namespace {

// No texture file larger than this is read whole: the largest store plus
// room for headers and a compressed stream that holds more than its pixels.
// A longer file is read up to here and then ends early for its decoder.
constexpr std::uint64_t MaxTextureFileBytes = TBitmap::MaxStoreBytes + (std::uint64_t(16) << 20);

std::string LowerAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

} // namespace

namespace ImageDetail {

void FailTexture(const std::string& Name, const std::string& Reason)
{
    // The reason goes in after the name, so a "%s" in the name stays as it is.
    const std::string format = SInvalidTexture;
    const std::size_t first = format.find("%s");
    const std::size_t second = format.find("%s", first + 2);
    throw EInvalidGraphic(format.substr(0, first) + Name
        + format.substr(first + 2, second - first - 2) + Reason + format.substr(second + 2));
}

TPicture24::TPicture24(std::int64_t Width, std::int64_t Height, const std::string& Name)
{
    if (Width <= 0 || Height <= 0)
        FailTexture(Name, "it has no pixels");
    if (Width > TBitmap::MaxDimension || Height > TBitmap::MaxDimension)
        FailTexture(Name, "it is larger than 65535 pixels on a side");
    FStride = TBitmap::StrideFor(Width, 24);
    const std::uint64_t storeBytes = std::uint64_t(FStride) * std::uint64_t(Height);
    if (storeBytes > TBitmap::MaxStoreBytes)
        FailTexture(Name, "its pixels would take more than 256 MiB");
    FWidth = static_cast<std::int32_t>(Width);
    FHeight = static_cast<std::int32_t>(Height);
    try {
        FBytes.assign(HeaderBytes + static_cast<std::size_t>(storeBytes), 0);
    } catch (const std::bad_alloc&) {
        FailTexture(Name, "there is not enough memory for its pixels");
    }
    // BITMAPFILEHEADER and BITMAPINFOHEADER of a bottom-up 24-bit picture;
    // the decoder reads only the fields written here.
    std::uint8_t* header = FBytes.data();
    header[0] = 'B';
    header[1] = 'M';
    PutU32LE(header + 2, static_cast<std::uint32_t>(FBytes.size())); // bfSize
    PutU32LE(header + 10, HeaderBytes); // bfOffBits
    PutU32LE(header + 14, 40); // biSize
    PutU32LE(header + 18, static_cast<std::uint32_t>(FWidth)); // biWidth
    PutU32LE(header + 22, static_cast<std::uint32_t>(FHeight)); // biHeight
    PutU16LE(header + 26, 1); // biPlanes
    PutU16LE(header + 28, 24); // biBitCount
    PutU32LE(header + 34, static_cast<std::uint32_t>(storeBytes)); // biSizeImage
}

void TPicture24::MoveTo(TBitmap& Image)
{
    Image.DecodeBmp(std::move(FBytes));
    FBytes.clear();
}

} // namespace ImageDetail

TTextureFormat TextureFormatOf(const std::string& Path)
{
    const std::string name = NamePart(Path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return TTextureFormat::None;
    const std::string extension = LowerAscii(name.substr(dot + 1));
    if (extension == "png")
        return TTextureFormat::Png;
    if (extension == "jpg" || extension == "jpeg")
        return TTextureFormat::Jpeg;
    if (extension == "tga")
        return TTextureFormat::Tga;
    return TTextureFormat::None;
}

void DecodeTexture(TBitmap& Image, TTextureFormat Format, const std::vector<std::uint8_t>& Bytes,
    const std::string& Name)
{
    switch (Format) {
    case TTextureFormat::Png:
        return DecodePng(Image, Bytes, Name);
    case TTextureFormat::Jpeg:
        return DecodeJpeg(Image, Bytes, Name);
    case TTextureFormat::Tga:
        return DecodeTga(Image, Bytes, Name);
    case TTextureFormat::None:
        break;
    }
    ImageDetail::FailTexture(Name, "only BMP, PNG, JPEG and TGA files are read");
}

std::vector<std::uint8_t> ImageDetail::ReadImageFile(const std::string& Path, std::uint64_t Limit)
{
    std::uint64_t size = 0;
    TFileDescriptor file;
    try {
        file = OpenRegularFile(Path, size);
    } catch (const EInOutError&) {
        throw EFOpenError(FormatMessage(Tr(SFOpenError), Path));
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(size, Limit)));
    // A file that shrinks while it is read ends early: that too is a read error.
    if (ReadAt(file.Get(), bytes.data(), bytes.size(), 0) != std::int64_t(bytes.size()))
        throw EReadError(Tr(SReadError));
    return bytes;
}

void LoadTextureFile(TBitmap& Image, const std::string& Path)
{
    DecodeTexture(
        Image, TextureFormatOf(Path), ImageDetail::ReadImageFile(Path, MaxTextureFileBytes), Path);
}
