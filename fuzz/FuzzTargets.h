// The fuzz targets: each takes arbitrary bytes, feeds them to one reader (or
// to a whole conversion) and checks what must hold whatever the bytes are.
// A documented failure (one of our exceptions, of the kinds the reader
// raises) is an answer, not a finding; anything else is a finding: a crash,
// a sanitizer report, a foreign exception, or a broken invariant, which goes
// to FuzzFinding.
//
// The same functions run under libFuzzer (fuzz/FuzzMain.cpp) and, in every
// test run, over the seed corpora and the regression folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// What a target made of its input.
enum class TFuzzVerdict {
    Accepted, // read (or converted) successfully
    Refused // refused with a documented error
};

using TFuzzTarget = TFuzzVerdict (*)(const std::uint8_t* Data, std::size_t Size);

// A BMP file into TBitmap; a loaded image is saved and must load back the same.
TFuzzVerdict FuzzBmp(const std::uint8_t* Data, std::size_t Size);
// An OBJ file into TOBJModel, then into a one-frame MDL5 model and back.
TFuzzVerdict FuzzOBJ(const std::uint8_t* Data, std::size_t Size);
// An MTL file into the materials, and their colours.
TFuzzVerdict FuzzMTL(const std::uint8_t* Data, std::size_t Size);
// A frame-name list used for the frames of a small model.
TFuzzVerdict FuzzFrameNames(const std::uint8_t* Data, std::size_t Size);
// An MDL5 file into TMDLModel; a loaded model writes back the same bytes.
TFuzzVerdict FuzzMDL(const std::uint8_t* Data, std::size_t Size);
// A PNG, JPEG or TGA file (the first byte picks which: 0, 1, 2 modulo 3)
// into TBitmap; a decoded image is 24-bit and saves and loads back the same.
TFuzzVerdict FuzzTexture(const std::uint8_t* Data, std::size_t Size);
// A bundle (see SplitBundle) converted by the conversion command in a
// scratch folder; nothing may be written outside that folder.
TFuzzVerdict FuzzConversion(const std::uint8_t* Data, std::size_t Size);

// The targets by name, as the fuzz programs and folders are named.
struct TFuzzTargetInfo
{
    const char* Name;
    TFuzzTarget Run;
};
extern const TFuzzTargetInfo FuzzTargets[];
extern const std::size_t FuzzTargetCount;

// A bundle is the files of one conversion in one input, split at lines of
// BundleSeparator: m_0.obj, m.mtl, t.bmp, m_1.obj and m.fns, in that order;
// missing trailing parts are missing files.
extern const char* const BundleSeparator;
extern const char* const BundleFiles[5];

// Reads the OBJ file at Path twice, in one pass and by two threads over
// blocks of BlockSize bytes, from the same state of the progress generator.
// Returns an empty text when both give the same model (every list, bit for
// bit), the same progress shown, the same failure, and leave the generator
// in the same state; otherwise what differs.
std::string OBJReadDifference(const std::string& Path, std::size_t BlockSize);

// Reports a finding and aborts; tests replace the handler to fail instead.
[[noreturn]] void FuzzFinding(const std::string& What);
void SetFuzzFindingHandler(std::function<void(const std::string&)> Handler);
