// JPEG textures through libjpeg-turbo, from bytes in memory.
//
// libjpeg's error exit must not return (its default one ends the program);
// ours longjmps back to DecodeJpeg, which raises our own error once the
// decompressor is released. No C++ object with a destructor lives in the
// frames libjpeg runs between setjmp and longjmp. Its messages are never
// printed. Data that ends early is a warning to libjpeg, which would make up
// grey pixels for the rest; here it refuses the file, like any other file
// cut short. Other warnings (stray bytes between markers and the like) leave
// the picture as libjpeg decodes it.
#include "image/TextureFile.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "image/Bitmap.h"

using ImageDetail::FailTexture;
using ImageDetail::TPicture24;

namespace {

// libjpeg's working memory (the coefficients of a progressive picture take
// far more than its pixels) is held within this much; a file that would need
// more is refused.
constexpr long MaxWorkingMemory = 1L << 30;
// Each scan of a progressive file passes over the whole picture; a few bytes
// each, scans could keep the decoder busy for minutes. Real encoders write
// about ten.
constexpr int MaxScans = 1000;

struct TJpegErrors
{
    jpeg_error_mgr Manager; // first: libjpeg hands it back as the whole
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void Fail(j_common_ptr Info)
{
    auto* errors = reinterpret_cast<TJpegErrors*>(Info->err);
    std::longjmp(errors->Jump, 1);
}

void OnErrorExit(j_common_ptr Info)
{
    auto* errors = reinterpret_cast<TJpegErrors*>(Info->err);
    Info->err->format_message(Info, errors->Message);
    Fail(Info);
}

void OnMessage(j_common_ptr Info, int Level)
{
    if (Level < 0 && Info->err->msg_code == JWRN_JPEG_EOF) {
        auto* errors = reinterpret_cast<TJpegErrors*>(Info->err);
        std::strcpy(errors->Message, "the file ends early");
        Fail(Info);
    }
}

void OnOutputMessage(j_common_ptr)
{
}

void OnProgress(j_common_ptr Info)
{
    if (Info->is_decompressor
        && reinterpret_cast<j_decompress_ptr>(Info)->input_scan_number > MaxScans) {
        auto* errors = reinterpret_cast<TJpegErrors*>(Info->err);
        std::strcpy(errors->Message, "it has too many scans");
        Fail(Info);
    }
}

// Reads the header and sets the output to 8-bit blue, green, red. Returns
// false when libjpeg failed (the message is in Errors).
bool ReadHeader(jpeg_decompress_struct& Info, TJpegErrors& Errors,
    const std::vector<std::uint8_t>& Bytes, jpeg_progress_mgr& Progress)
{
    if (setjmp(Errors.Jump))
        return false;
    jpeg_create_decompress(&Info);
    Info.mem->max_memory_to_use = MaxWorkingMemory;
    Progress.progress_monitor = OnProgress;
    Info.progress = &Progress;
    jpeg_mem_src(&Info, Bytes.data(), static_cast<unsigned long>(Bytes.size()));
    jpeg_read_header(&Info, TRUE);
    // Grey and colour pictures alike come out as the BMP stores them.
    Info.out_color_space = JCS_EXT_BGR;
    return true;
}

bool ReadPixels(jpeg_decompress_struct& Info, TJpegErrors& Errors, TPicture24& Picture)
{
    if (setjmp(Errors.Jump))
        return false;
    jpeg_start_decompress(&Info);
    if (Info.output_width != JDIMENSION(Picture.Width())
        || Info.output_height != JDIMENSION(Picture.Height()) || Info.output_components != 3)
        std::longjmp(Errors.Jump, 2);
    while (Info.output_scanline < Info.output_height) {
        JSAMPROW row = Picture.Row(static_cast<std::int32_t>(Info.output_scanline));
        jpeg_read_scanlines(&Info, &row, 1);
    }
    jpeg_finish_decompress(&Info);
    return true;
}

} // namespace

void DecodeJpeg(TBitmap& Image, const std::vector<std::uint8_t>& Bytes, const std::string& Name)
{
    // libjpeg takes an empty buffer for a program error and exits.
    if (Bytes.empty())
        FailTexture(Name, "the file is empty");
    jpeg_decompress_struct info {};
    TJpegErrors errors {};
    info.err = jpeg_std_error(&errors.Manager);
    errors.Manager.error_exit = OnErrorExit;
    errors.Manager.emit_message = OnMessage;
    errors.Manager.output_message = OnOutputMessage;
    std::strcpy(errors.Message, "it is not a valid JPEG file");
    jpeg_progress_mgr progress {};

    if (!ReadHeader(info, errors, Bytes, progress)) {
        jpeg_destroy_decompress(&info);
        FailTexture(Name, errors.Message);
    }
    const std::int64_t width = info.image_width;
    const std::int64_t height = info.image_height;
    // Refused before libjpeg allocates anything for the pixels.
    try {
        TPicture24 picture(width, height, Name);
        if (!ReadPixels(info, errors, picture))
            FailTexture(Name, errors.Message);
        jpeg_destroy_decompress(&info);
        picture.MoveTo(Image);
    } catch (...) {
        jpeg_destroy_decompress(&info);
        throw;
    }
}
