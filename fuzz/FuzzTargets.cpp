#include "fuzz/FuzzTargets.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <system_error>
#include <typeinfo>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "app/ConversionCommand.h"
#include "app/ModelExport.h"
#include "app/ModelInfo.h"
#include "image/Bitmap.h"
#include "image/TextureFile.h"
#include "mdl/MDLClass.h"
#include "obj/OBJClass.h"
#include "render/Renderer.h"
#include "util/ByteStream.h"
#include "util/Errors.h"
#include "util/TextFile.h"

namespace fs = std::filesystem;

const char* const BundleSeparator = "\n#@#\n";
const char* const BundleFiles[5] = { "m_0.obj", "m.mtl", "t.bmp", "m_1.obj", "m.fns" };

namespace {

std::function<void(const std::string&)>& FindingHandler()
{
    static std::function<void(const std::string&)> handler;
    return handler;
}

// A private folder for the files a target writes, made once per process and
// removed at exit. The targets work in Work; Root holds nothing else, so a
// file that appears beside Work was written outside the folder it was given.
class TScratch
{
public:
    TScratch()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvex-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            FuzzFinding("cannot make a scratch folder under " + pattern);
        FRoot = pattern;
        FWork = FRoot + "/work";
        fs::create_directory(FWork);
    }
    ~TScratch()
    {
        std::error_code ignored;
        fs::remove_all(FRoot, ignored);
    }

    const std::string& Work() const { return FWork; }
    std::string File(const std::string& Name) const { return FWork + "/" + Name; }

    // Empties Work and checks that Root holds nothing but Work.
    void Reset() const
    {
        for (const fs::directory_entry& entry : fs::directory_iterator(FRoot)) {
            if (entry.path().filename() != "work")
                FuzzFinding(
                    "a file was written outside the model's folder: " + entry.path().string());
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(FWork))
            fs::remove_all(entry.path());
    }

private:
    std::string FRoot;
    std::string FWork;
};

const TScratch& Scratch()
{
    static const TScratch scratch;
    return scratch;
}

void WriteFile(const std::string& Path, const std::uint8_t* Data, std::size_t Size)
{
    TFileDescriptor file(::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!file.IsOpen() || WriteAll(file.Get(), Data, Size) != 0 || file.Close() != 0)
        FuzzFinding("cannot write " + Path);
}

// The input as a file of the scratch folder, which is emptied first.
std::string InputFile(const std::string& Name, const std::uint8_t* Data, std::size_t Size)
{
    Scratch().Reset();
    const std::string path = Scratch().File(Name);
    WriteFile(path, Data, Size);
    return path;
}

void Check(bool Condition, const std::string& What)
{
    if (!Condition)
        FuzzFinding(What);
}

// A few header bytes may declare an image of hundreds of megabytes, which
// loads (the rows the file lacks are 0). The round trip and the skin are
// only checked below these sizes, so that one huge image does not stall the
// fuzzer; the load itself is always checked.
constexpr std::uint64_t CheckedStoreLimit = std::uint64_t(1) << 20;
constexpr std::int64_t ComparedPixelLimit = 1 << 12;
constexpr std::uint64_t SkinPixelLimit = std::uint64_t(1) << 16;
// Files declaring a store between this and the loader's limit are skipped.
constexpr std::uint64_t SlowStoreBytes = std::uint64_t(16) << 20;
// Conversions of a texture with more pixels are skipped.
constexpr std::uint64_t SlowTexturePixels = std::uint64_t(1) << 20;

// The size a BMP file's header declares; all 0 when it has no header.
struct TDeclaredSize
{
    std::int64_t Width = 0;
    std::int64_t Height = 0; // made positive
    int Bits = 0;

    std::uint64_t Pixels() const { return std::uint64_t(Width) * std::uint64_t(Height); }
    std::uint64_t StoreBytes() const
    {
        return std::uint64_t(TBitmap::StrideFor(Width, Bits)) * std::uint64_t(Height);
    }
};

TDeclaredSize DeclaredSize(const std::uint8_t* Data, std::size_t Size)
{
    constexpr std::size_t CoreEnd = 26;
    constexpr std::size_t InfoEnd = 30;
    TDeclaredSize size;
    if (Size < CoreEnd || Data[0] != 'B' || Data[1] != 'M')
        return size;
    if (GetU32LE(Data + 14) == 12) {
        size.Width = GetU16LE(Data + 18);
        size.Height = GetU16LE(Data + 20);
        size.Bits = GetU16LE(Data + 24);
    } else if (Size >= InfoEnd) {
        size.Width = std::max(0, static_cast<std::int32_t>(GetU32LE(Data + 18)));
        size.Height = std::abs(std::int64_t(static_cast<std::int32_t>(GetU32LE(Data + 22))));
        size.Bits = GetU16LE(Data + 28);
    }
    return size;
}

void CheckBitmapRoundTrip(const TBitmap& Image)
{
    Check(Image.Width() >= 0 && Image.Width() <= TBitmap::MaxDimension, "width out of range");
    Check(Image.Height() >= 0 && Image.Height() <= TBitmap::MaxDimension, "height out of range");
    const std::uint64_t store = std::uint64_t(Image.Stride()) * std::uint64_t(Image.Height());
    if (!Image.HasPixels() || store > CheckedStoreLimit)
        return;
    TBitmap again;
    again.DecodeBmp(Image.EncodeBmp());
    Check(again.Width() == Image.Width() && again.Height() == Image.Height(),
        "a saved image loads back with another size");
    Check(again.BitsPerPixel() == Image.BitsPerPixel(),
        "a saved image loads back with another depth");
    std::int64_t compared = 0;
    for (std::int32_t y = 0; y < Image.Height() && compared < ComparedPixelLimit; ++y) {
        for (std::int32_t x = 0; x < Image.Width() && compared < ComparedPixelLimit;
             ++x, ++compared) {
            if (again.PixelColor(x, y) != Image.PixelColor(x, y))
                FuzzFinding("pixel (" + std::to_string(x) + ", " + std::to_string(y)
                    + ") changed in a round trip");
        }
    }
}

// A model read back from its own bytes writes the same bytes again.
void CheckModelRoundTrip(TMDLModel& Model)
{
    const std::vector<std::uint8_t> bytes = Model.SaveToBytes();
    TMDLModel back;
    try {
        back.LoadFromBytes(bytes.data(), bytes.size());
    } catch (const EMDLFormatError& e) {
        FuzzFinding(std::string("a written model does not load: ") + e.what());
    }
    Check(back.SaveToBytes() == bytes, "a written model loads back as other bytes");
}

// The host of a conversion without a window: the OBJ file and the MDL file
// are given, the log and status go nowhere, an error is kept.
class TFuzzHost : public TConversionHost
{
public:
    TFuzzHost(std::string OBJFile, std::string MDLFile)
        : FOBJFile(std::move(OBJFile))
        , FMDLFile(std::move(MDLFile))
    {
    }

    bool AskOBJFile(std::string& FileName) override
    {
        FileName = FOBJFile;
        return true;
    }
    bool AskMDLFile(const std::string&, std::string& FileName) override
    {
        FileName = FMDLFile;
        return true;
    }
    void ShowError(const std::string& Text, const std::string&) override { Error = Text; }
    void AddLine(const std::string&) override { }
    void SetText(const std::string&) override { }
    void ProcessMessages() override { }

    std::string Error;

private:
    std::string FOBJFile;
    std::string FMDLFile;
};

} // namespace

void FuzzFinding(const std::string& What)
{
    if (FindingHandler())
        FindingHandler()(What);
    std::fprintf(stderr, "fuzz finding: %s\n", What.c_str());
    std::abort();
}

void SetFuzzFindingHandler(std::function<void(const std::string&)> Handler)
{
    FindingHandler() = std::move(Handler);
}

TFuzzVerdict FuzzBmp(const std::uint8_t* Data, std::size_t Size)
{
    // Mutated headers often declare images of hundreds of megabytes, whose
    // store costs the fuzzer a large part of a second to clear, and the
    // loader treats them as it treats small ones. Those are left out; sizes
    // beyond the store limit are still fed to the loader, which must refuse
    // them before allocating anything.
    const std::uint64_t declared = DeclaredSize(Data, Size).StoreBytes();
    if (declared > SlowStoreBytes && declared <= TBitmap::MaxStoreBytes)
        return TFuzzVerdict::Refused;
    TBitmap image;
    try {
        image.DecodeBmp(std::vector<std::uint8_t>(Data, Data + Size));
    } catch (const EReadError&) {
        return TFuzzVerdict::Refused;
    } catch (const EInvalidGraphic&) {
        return TFuzzVerdict::Refused;
    }
    CheckBitmapRoundTrip(image);
    if (std::uint64_t(image.Width()) * std::uint64_t(image.Height()) > SkinPixelLimit)
        return TFuzzVerdict::Accepted;
    // The conversion reads textures as skins through the colour of each pixel.
    TMDLSkin5 skin;
    skin.FromBitmap888(image);
    Check(skin.Data.size() == std::size_t(skin.Width) * std::size_t(skin.Height) * 3,
        "a skin's bytes do not match its size");
    return TFuzzVerdict::Accepted;
}

namespace {

// The size a PNG, JPEG or TGA file declares, as far as a quick look finds
// it; 0 x 0 when it finds none.
TDeclaredSize DeclaredTextureSize(TTextureFormat Format, const std::uint8_t* Data, std::size_t Size)
{
    TDeclaredSize size;
    size.Bits = 24;
    const auto bigEndian16
        = [&](std::size_t at) { return std::int64_t(Data[at]) << 8 | Data[at + 1]; };
    if (Format == TTextureFormat::Png && Size >= 24) {
        size.Width = bigEndian16(16) << 16 | bigEndian16(18);
        size.Height = bigEndian16(20) << 16 | bigEndian16(22);
    } else if (Format == TTextureFormat::Tga && Size >= 16) {
        size.Width = GetU16LE(Data + 12);
        size.Height = GetU16LE(Data + 14);
    } else if (Format == TTextureFormat::Jpeg) {
        // The first start-of-frame marker (0xC0 to 0xCF but for the
        // Huffman, arithmetic-table and extension markers).
        for (std::size_t i = 0; i + 9 <= Size; ++i) {
            const std::uint8_t code = Data[i + 1];
            if (Data[i] == 0xFF && code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8
                && code != 0xCC) {
                size.Height = bigEndian16(i + 5);
                size.Width = bigEndian16(i + 7);
                break;
            }
        }
    }
    return size;
}

} // namespace

TFuzzVerdict FuzzTexture(const std::uint8_t* Data, std::size_t Size)
{
    if (Size == 0)
        return TFuzzVerdict::Refused;
    // The first byte picks the decoder; the rest is the file.
    constexpr TTextureFormat Formats[]
        = { TTextureFormat::Png, TTextureFormat::Jpeg, TTextureFormat::Tga };
    const TTextureFormat format = Formats[Data[0] % 3];
    const std::vector<std::uint8_t> bytes(Data + 1, Data + Size);
    // As for BMP: large declared pictures are slow to clear and no
    // different to decode; beyond the limits they are still fed in.
    const std::uint64_t declared
        = DeclaredTextureSize(format, bytes.data(), bytes.size()).StoreBytes();
    if (declared > SlowStoreBytes && declared <= TBitmap::MaxStoreBytes)
        return TFuzzVerdict::Refused;
    TBitmap image;
    try {
        DecodeTexture(image, format, bytes, "t");
    } catch (const EInvalidGraphic& e) {
        Check(e.Message().rfind("The texture t cannot be read: ", 0) == 0,
            "a refusal that does not name the file: " + e.Message());
        return TFuzzVerdict::Refused;
    }
    Check(image.BitsPerPixel() == 24 && image.HasPixels(), "a decoded texture is not 24-bit");
    CheckBitmapRoundTrip(image);
    return TFuzzVerdict::Accepted;
}

namespace {

// What one read of an OBJ file gave, in a form that compares bit for bit.
struct TOBJRead : public TStatusPanel, public TEventPump
{
    std::string Failure;
    std::vector<std::string> Progress;
    std::uint32_t NextDraw = 0;
    std::string Lists;

    void SetText(const std::string& Text) override { Progress.push_back(Text); }
    void ProcessMessages() override { Progress.emplace_back("(pump)"); }
};

template <typename T> void AppendBytes(std::string& out, const T& value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

TOBJRead ReadOBJOneWay(const std::string& path, bool parallel, std::size_t blockSize)
{
    TOBJRead read;
    TOBJModel model;
    model.StatusPanel = &read;
    model.EventPump = &read;
    model.ReadInParallel = parallel;
    model.ReadBlockSize = blockSize;
    // A fresh model's generator shows the first line, so that even short
    // files show some progress.
    try {
        model.LoadOBJ(path, std::string());
    } catch (const Exception& failure) {
        read.Failure = std::string(typeid(failure).name()) + ": " + failure.Message() + " at line "
            + std::to_string(failure.PlaceLine());
    } catch (const std::exception& failure) {
        read.Failure = std::string(typeid(failure).name()) + ": " + failure.what();
    }
    read.NextDraw = model.Progress.Next();

    std::string& out = read.Lists;
    for (const std::vector<TVec3>* list : { &model.Vertices, &model.Normals }) {
        AppendBytes(out, list->size());
        for (const TVec3& v : *list)
            AppendBytes(out, v);
    }
    AppendBytes(out, model.UVs.size());
    for (const TOBJUV& uv : model.UVs) {
        AppendBytes(out, uv.U);
        AppendBytes(out, uv.V);
    }
    AppendBytes(out, model.Faces.size());
    for (const TOBJFace& face : model.Faces) {
        AppendBytes(out, face.Corners);
        AppendBytes(out, face.CornerCount);
        if (face.CornerCount > 4)
            AppendBytes(out, face.MoreCorners);
        const std::string& material = model.MaterialNameTable.Name(face.MaterialName);
        AppendBytes(out, material.size());
        out += material;
    }
    AppendBytes(out, model.MoreCorners.size());
    for (const TOBJCorner& corner : model.MoreCorners)
        AppendBytes(out, corner);
    AppendBytes(out, model.TriangleCount);
    return read;
}

} // namespace

std::string OBJReadDifference(const std::string& Path, std::size_t BlockSize)
{
    const TOBJRead once = ReadOBJOneWay(Path, false, std::size_t(1) << 20);
    const TOBJRead twice = ReadOBJOneWay(Path, true, BlockSize);
    std::string difference;
    if (once.Failure != twice.Failure)
        difference += "failure '" + once.Failure + "' became '" + twice.Failure + "'; ";
    if (once.Progress != twice.Progress)
        difference += "progress of " + std::to_string(once.Progress.size()) + " calls became "
            + std::to_string(twice.Progress.size()) + "; ";
    if (once.NextDraw != twice.NextDraw)
        difference += "the progress generator ends elsewhere; ";
    if (once.Lists != twice.Lists)
        difference += "the lists differ; ";
    return difference;
}

TFuzzVerdict FuzzOBJ(const std::uint8_t* Data, std::size_t Size)
{
    const std::string path = InputFile("in.obj", Data, Size);
    // Blocks so small that the input crosses many of their borders: the
    // reading by two threads must give what one pass gives.
    const std::size_t blockSize = 1 + (Size > 0 ? Data[0] % 16 : 0);
    const std::string difference = OBJReadDifference(path, blockSize);
    Check(difference.empty(), "two-thread reading differs: " + difference);
    TOBJModel obj;
    try {
        obj.LoadOBJ(path, std::string());
    } catch (const EConvertError&) {
        return TFuzzVerdict::Refused;
    }
    std::int64_t triangles = 0;
    for (const TOBJFace& face : obj.Faces) {
        if (face.CornerCount > 4)
            Check(std::uint64_t(face.MoreCorners) + face.CornerCount - 4 <= obj.MoreCorners.size(),
                "a face's further corners run past their list");
        triangles += TrianglesOf(face.CornerCount);
    }
    Check(triangles == obj.TriangleCount, "the triangle count does not match the faces");
    // Without an atlas or materials the model has no skin: only the
    // triangles and the frame's packed vertices.
    TMDLModel mdl;
    mdl.MakeFromOBJ(obj, Scratch().File("none.bmp"), Scratch().File("none.fns"));
    Check(mdl.Triangles->Count() == obj.TriangleCount, "triangles lost on the way to the model");
    CheckModelRoundTrip(mdl);
    return TFuzzVerdict::Accepted;
}

TFuzzVerdict FuzzMTL(const std::uint8_t* Data, std::size_t Size)
{
    const std::string path = InputFile("in.mtl", Data, Size);
    // The materials are read on the way to a mesh, here an empty one.
    const std::string mesh = Scratch().File("empty.obj");
    WriteFile(mesh, nullptr, 0);
    TOBJModel obj;
    try {
        obj.LoadOBJ(mesh, path);
    } catch (const EConvertError&) {
        return TFuzzVerdict::Refused;
    }
    for (const TOBJMaterial& material : obj.Materials) {
        for (const TVec3& colour : { material.Ka, material.Kd, material.Ks })
            Check(VecToColor(colour) <= 0xFFFFFF, "a colour beyond 24 bits");
    }
    return TFuzzVerdict::Accepted;
}

TFuzzVerdict FuzzFrameNames(const std::uint8_t* Data, std::size_t Size)
{
    const std::string path = InputFile("in.fns", Data, Size);
    TOBJModel obj;
    obj.Vertices = { Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0) };
    TMDLModel mdl;
    // Reading the list has no failure of its own: every byte is part of a name.
    mdl.MakeFromOBJ(obj, Scratch().File("none.bmp"), path);
    for (int frame = 1; frame < 4; ++frame)
        mdl.AddFrame(obj);
    for (std::size_t frame = 0; frame < mdl.Frames.size(); ++frame) {
        const std::string name = mdl.Frames[frame].NameText();
        Check(name.size() < FrameNameSize, "a frame name fills its whole field");
        if (frame < mdl.FrameNames.size())
            Check(mdl.FrameNames[frame].compare(0, name.size(), name) == 0,
                "a frame name is not the start of its line");
        else
            Check(name == "frame" + std::to_string(frame), "a frame without a line is misnamed");
    }
    CheckModelRoundTrip(mdl);
    return TFuzzVerdict::Accepted;
}

TFuzzVerdict FuzzMDL(const std::uint8_t* Data, std::size_t Size)
{
    // What `info` reads of the file must be refused or shown as the whole
    // model is.
    std::string layoutError;
    TMDLModel layout;
    try {
        layout.LoadLayoutFromFile(InputFile("in.mdl", Data, Size));
    } catch (const EMDLFormatError& failure) {
        layoutError = failure.what();
    }
    TMDLModel mdl;
    try {
        mdl.LoadFromBytes(Data, Size);
    } catch (const EMDLFormatError& failure) {
        Check(layoutError == failure.what(), "info refuses the file otherwise than the reader");
        return TFuzzVerdict::Refused;
    }
    Check(layoutError.empty(), "info refuses a file the reader takes");
    const std::vector<std::uint8_t> bytes = mdl.SaveToBytes();
    Check(bytes.size() == Size && std::memcmp(bytes.data(), Data, Size) == 0,
        "a loaded model writes other bytes than it was read from");
    // Every skin read whole can be shown, but a DDS file, one colour a pixel.
    for (const TMDLSkin5* skin : mdl.FileSkins()) {
        const bool shown = skin->SkinType != SkinTypeDDS;
        Check(skin->Decodable() == shown, "a skin read whole cannot be shown, or a DDS skin can");
        const std::size_t colours = skin->DecodeColours().size();
        Check(colours == (shown ? std::size_t(skin->Width) * std::size_t(skin->Height) : 0),
            "a skin decodes to other than one colour a pixel, or none when it cannot be shown");
    }
    // Frame 0 exported reads back as an OBJ file of the model's vertices,
    // its skin vertices as texture coordinates, and every triangle that
    // names vertices the frame has.
    bool exportable = !mdl.Frames.empty();
    std::unique_ptr<TModelExport> exporter;
    try {
        exporter
            = std::make_unique<TModelExport>(mdl, TExportNames::For(Scratch().File("in.mdl"), ""));
    } catch (const ERangeError&) {
        // A scale beyond single precision, refused with its axis named.
        exportable = false;
    }
    if (exportable) {
        const std::string text = exporter->FrameOBJ(0);
        const std::string objFile = Scratch().File("in_0.obj");
        WriteFile(objFile, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        TOBJModel obj;
        try {
            obj.LoadOBJ(objFile, std::string());
        } catch (const EConvertError& failure) {
            FuzzFinding(std::string("an exported frame does not read back: ") + failure.what());
        }
        Check(obj.VertexCount() == mdl.Header.NumVerts
                && obj.UVCount() == (mdl.SkinVerts ? mdl.SkinVerts->Count() : 0)
                && std::size_t(obj.TriangleCount) + exporter->SkippedTriangles()
                    == std::size_t(mdl.Header.NumTris),
            "an exported frame reads back with other counts");
    }
    // Every model read draws: frame 0 and the last, from a view that puts
    // the far side in front, never outside the picture or its skin.
    const TModelRenderer renderer(mdl);
    TBitmap picture;
    for (const std::size_t frame : { std::size_t(0), mdl.Frames.size() - 1 }) {
        renderer.Render(frame, { 200, -35, 1.5 }, 24, 16, picture);
        Check(picture.Width() == 24 && picture.Height() == 16 && picture.BitsPerPixel() == 24,
            "a rendered frame is not the picture asked for");
    }
    std::ostringstream description, layoutDescription;
    DescribeMDL(mdl, "in.mdl", Size, description);
    DescribeMDL(layout, "in.mdl", Size, layoutDescription);
    Check(description.str() == layoutDescription.str(),
        "info shows the file otherwise than the reader");
    return TFuzzVerdict::Accepted;
}

TFuzzVerdict FuzzConversion(const std::uint8_t* Data, std::size_t Size)
{
    Scratch().Reset();
    const std::size_t separatorLength = std::strlen(BundleSeparator);
    const std::uint8_t* at = Data;
    const std::uint8_t* const end = Data + Size;
    for (const char* name : BundleFiles) {
        const auto* found = static_cast<const std::uint8_t*>(
            ::memmem(at, std::size_t(end - at), BundleSeparator, separatorLength));
        const std::uint8_t* partEnd = found ? found : end;
        // A texture of many pixels makes every step of the conversion slow,
        // and under the fuzzer's instrumentation one input can take seconds;
        // such textures are left to the hostile-file tests, which time them.
        if (name == BundleFiles[2]
            && DeclaredSize(at, std::size_t(partEnd - at)).Pixels() > SlowTexturePixels)
            return TFuzzVerdict::Refused;
        WriteFile(Scratch().File(name), at, std::size_t(partEnd - at));
        if (!found)
            break;
        at = found + separatorLength;
    }

    const std::string mdlFile = Scratch().File("out.mdl");
    TFuzzHost host(Scratch().File(BundleFiles[0]), mdlFile);
    TConversionCommand command(host);
    const TConversionCommand::TResult result = command.Execute();
    if (result == TConversionCommand::TResult::Completed) {
        TMDLModel written;
        try {
            written.LoadFromFile(mdlFile);
        } catch (const Exception& e) {
            FuzzFinding(std::string("a converted model does not load: ") + e.what());
        }
        Check(written.Header.NumVerts == command.OBJModel.VertexCount(),
            "the written model lost vertices");
    }
    // Reset also finds anything written outside the folder.
    Scratch().Reset();
    if (result == TConversionCommand::TResult::Failed) {
        Check(!host.Error.empty(), "a failure without a message");
        // The text of std::bad_alloc; other messages may quote the input.
        Check(host.Error != "Out of memory.", "a conversion ran out of memory");
        return TFuzzVerdict::Refused;
    }
    Check(result == TConversionCommand::TResult::Completed,
        "a conversion neither completed nor failed");
    return TFuzzVerdict::Accepted;
}

const TFuzzTargetInfo FuzzTargets[] = {
    { "bmp", FuzzBmp },
    { "obj", FuzzOBJ },
    { "mtl", FuzzMTL },
    { "framenames", FuzzFrameNames },
    { "mdl", FuzzMDL },
    { "conversion", FuzzConversion },
    { "texture", FuzzTexture },
};
const std::size_t FuzzTargetCount = sizeof FuzzTargets / sizeof FuzzTargets[0];
