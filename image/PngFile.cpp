// PNG textures through libpng, from bytes in memory, and rendered pictures
// encoded the same way.
//
// libpng reports errors by calling a handler that must not return; ours
// longjmps back to DecodePng, which raises our own error once libpng's
// structures are released. No C++ object with a destructor lives in the
// frames libpng runs between setjmp and longjmp. Warnings are dropped:
// nothing is printed.
#include "image/TextureFile.h"

#include <csetjmp>
#include <cstring>
#include <memory>
#include <string>

#include <png.h>

#include "image/Bitmap.h"
#include "util/Errors.h"

using ImageDetail::FailTexture;
using ImageDetail::TPicture24;

namespace {

constexpr std::size_t PngSignatureBytes = 8;

// Chunks that would change colours (gamma, chromaticities, profiles, the
// background) or only describe the picture: skipped unread, so that the
// colours are the stored ones and no compressed text is inflated.
constexpr png_byte IgnoredChunks[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0"
                                     "pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0tIME\0tRNS\0zTXt";
constexpr int IgnoredChunkCount = 18;

// The way back from libpng's error handler, with its message; libpng's
// error pointer points at one, for reading and writing alike.
struct TPngFailure
{
    std::jmp_buf Jump;
    char Message[200];
};

[[noreturn]] void OnError(png_structp Png, png_const_charp Message)
{
    TPngFailure& failure = *static_cast<TPngFailure*>(png_get_error_ptr(Png));
    std::strncpy(failure.Message, Message ? Message : "", sizeof failure.Message - 1);
    failure.Message[sizeof failure.Message - 1] = '\0';
    std::longjmp(failure.Jump, 1);
}

// What the reader's handlers reach (libpng's input pointer).
struct TPngInput : TPngFailure
{
    const std::vector<std::uint8_t>* Bytes;
    std::size_t Position;
};

void OnWarning(png_structp, png_const_charp)
{
}

void OnRead(png_structp Png, png_bytep Data, png_size_t Count)
{
    TPngInput& input = *static_cast<TPngInput*>(png_get_io_ptr(Png));
    const std::size_t left = input.Bytes->size() - input.Position;
    if (Count > left)
        png_error(Png, "the file ends early");
    std::memcpy(Data, input.Bytes->data() + input.Position, Count);
    input.Position += Count;
}

// libpng's structures, released however DecodePng ends.
struct TPngReader
{
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    ~TPngReader() { png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr); }
};

// Reads the header, sets the transforms to 8-bit blue, green, red and checks
// the size; the picture's dimensions go to Width and Height. Returns false
// when libpng failed (the message is in Input).
bool ReadHeader(TPngReader& Reader, TPngInput& Input, png_uint_32& Width, png_uint_32& Height)
{
    if (setjmp(Input.Jump))
        return false;
    png_structp png = Reader.Png;
    png_infop info = Reader.Info;
    png_set_read_fn(png, &Input, OnRead);
    // Larger pictures are refused with our own message once the header is
    // read; libpng's own limit is far higher.
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, IgnoredChunks, IgnoredChunkCount);
    png_read_info(png, info);

    Width = png_get_image_width(png, info);
    Height = png_get_image_height(png, info);
    // libpng makes its row buffers in png_read_update_info: a picture
    // beyond the limits goes back now, for TPicture24 to refuse.
    if (Width > std::uint32_t(TBitmap::MaxDimension)
        || Height > std::uint32_t(TBitmap::MaxDimension)
        || std::uint64_t(TBitmap::StrideFor(Width, 24)) * Height > TBitmap::MaxStoreBytes)
        return true;
    const int colorType = png_get_color_type(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
    }
    // The high byte of each 16-bit channel.
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t(Width) * 3)
        png_error(png, "unexpected pixel layout");
    return true;
}

// Reads every row (every pass of an interlaced picture) into the picture,
// then the chunks up to the end, so that a file cut short is refused.
bool ReadPixels(TPngReader& Reader, TPngInput& Input, png_bytepp Rows)
{
    if (setjmp(Input.Jump))
        return false;
    png_read_image(Reader.Png, Rows);
    png_read_end(Reader.Png, nullptr);
    return true;
}

// What the writer's handler reaches (libpng's output pointer): the bytes so far.
struct TPngOutput : TPngFailure
{
    std::vector<std::uint8_t>* Bytes;
};

void OnWrite(png_structp Png, png_bytep Data, png_size_t Count)
{
    TPngOutput& output = *static_cast<TPngOutput*>(png_get_io_ptr(Png));
    // No exception may pass through libpng's frames.
    try {
        output.Bytes->insert(output.Bytes->end(), Data, Data + Count);
    } catch (const std::bad_alloc&) {
        png_error(Png, "there is not enough memory");
    }
}

void OnFlush(png_structp)
{
}

struct TPngWriter
{
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    ~TPngWriter() { png_destroy_write_struct(&Png, Info ? &Info : nullptr); }
};

bool WritePixels(
    TPngWriter& Writer, TPngOutput& Output, png_uint_32 Width, png_uint_32 Height, png_bytepp Rows)
{
    if (setjmp(Output.Jump))
        return false;
    png_set_write_fn(Writer.Png, &Output, OnWrite, OnFlush);
    png_set_IHDR(Writer.Png, Writer.Info, Width, Height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(Writer.Png, Writer.Info);
    png_set_bgr(Writer.Png);
    png_write_image(Writer.Png, Rows);
    png_write_end(Writer.Png, nullptr);
    return true;
}

} // namespace

std::vector<std::uint8_t> EncodePng(const TBitmap& Image)
{
    if (Image.BitsPerPixel() != 24 || !Image.HasPixels())
        throw EInvalidGraphicOperation("Only a 24-bit picture is written as PNG.");
    std::vector<std::uint8_t> bytes;
    TPngOutput output {};
    output.Bytes = &bytes;
    TPngWriter writer;
    writer.Png = png_create_write_struct(
        PNG_LIBPNG_VER_STRING, static_cast<TPngFailure*>(&output), OnError, OnWarning);
    if (writer.Png)
        writer.Info = png_create_info_struct(writer.Png);
    if (!writer.Info)
        throw EOutOfResources("There is not enough memory to write a PNG picture.");
    const auto height = static_cast<png_uint_32>(Image.Height());
    std::unique_ptr<png_bytep[]> rows(new png_bytep[height]);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(Image.RowData(static_cast<std::int32_t>(y)));
    if (!WritePixels(writer, output, static_cast<png_uint_32>(Image.Width()), height, rows.get()))
        throw EWriteError(std::string("The PNG picture cannot be written: ") + output.Message);
    return bytes;
}

void DecodePng(TBitmap& Image, const std::vector<std::uint8_t>& Bytes, const std::string& Name)
{
    if (Bytes.size() < PngSignatureBytes || png_sig_cmp(Bytes.data(), 0, PngSignatureBytes) != 0)
        FailTexture(Name, "it is not a PNG file");

    TPngInput input {};
    input.Bytes = &Bytes;
    TPngReader reader;
    reader.Png = png_create_read_struct(
        PNG_LIBPNG_VER_STRING, static_cast<TPngFailure*>(&input), OnError, OnWarning);
    if (reader.Png)
        reader.Info = png_create_info_struct(reader.Png);
    if (!reader.Info)
        FailTexture(Name, "there is not enough memory to read it");

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    if (!ReadHeader(reader, input, width, height))
        FailTexture(Name, input.Message);
    TPicture24 picture(width, height, Name);
    std::unique_ptr<png_bytep[]> rows(new png_bytep[height]);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = picture.Row(static_cast<std::int32_t>(y));
    if (!ReadPixels(reader, input, rows.get()))
        FailTexture(Name, input.Message);
    picture.MoveTo(Image);
}
