#include "mdl/MDLClass.h"

#include "image/Bitmap.h"
#include "util/Activity.h"
#include "util/Errors.h"

#include "TestUtil.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TBytes = std::vector<std::uint8_t>;
using TNames = std::set<std::string>;
using TLines = std::vector<std::string>;
using TShape = std::vector<std::int32_t>;

constexpr TColor Red = 0x0000FF;
constexpr TColor Green = 0x00FF00;
constexpr TColor Blue = 0xFF0000;

// Scale (0.5, 1, 2), offset (-1, -2, 0.25); 2 skins, 2 vertices, 1 triangle,
// 2 frames, 2 skin vertices.
const TBytes HeaderBytes = { 'M', 'D', 'L', '5', 0, 0, 0, 0, //
    0, 0, 0, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0, 0x40, //
    0, 0, 0x80, 0xBF, 0, 0, 0, 0xC0, 0, 0, 0x80, 0x3E, //
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
    2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, //
    0, 0, 0, 0, 0, 0, 0, 0 };
const TBytes TextureSkinBytes = { 5, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x10, 0x20, 0x30, 0xFF };
const TBytes ColourSkinBytes = { 4, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 2, 3, 4, 5, 6 };
const TBytes SkinVertBytes = { 1, 0, 2, 0, 0x34, 0x12, 0xFF, 0xFF };
const TBytes TriangleBytes = { 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 3, 2 };
const TBytes Frame0Bytes = { 2, 0, 0, 0, 1, 0, 2, 0, 3, 0, 0, 0, 0, 1, 0, 2, 0, 3, 0, 0, //
    'f', 'r', 'a', 'm', 'e', '0', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
    0x0B, 0x0A, 0x0D, 0x0C, 0xFF, 0xFF, 0xA1, 0, 0, 0, 1, 0, 2, 0, 5, 0x7E };
const TBytes Frame1Bytes = { 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
    'f', 'r', 'a', 'm', 'e', '-', 'w', 'i', 't', 'h', '-', 'l', 'o', 'n', 'g', 0, //
    0xFE, 0xFF, 0x00, 0x80, 0xFF, 0x7F, 0, 0, 3, 0, 2, 0, 1, 0, 0xFF, 0x01 };

TBytes Concat(std::initializer_list<TBytes> parts)
{
    TBytes all;
    for (const TBytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::unique_ptr<TMDLSkin5> MakeSkin(std::int32_t type, std::int32_t width, TBytes data)
{
    auto skin = std::make_unique<TMDLSkin5>();
    skin->SkinType = type;
    skin->Width = width;
    skin->Height = 1;
    skin->Data = std::move(data);
    return skin;
}

// The model HeaderBytes and the section arrays above describe.
void BuildSmallModel(TMDLModel& model)
{
    std::memcpy(model.Header.Ident, "MDL5", 4);
    model.Header.Scale = Vec3(0.5f, 1.0f, 2.0f);
    model.Header.Offset = Vec3(-1.0f, -2.0f, 0.25f);
    model.Header.NumSkins = 2;
    model.Header.NumVerts = 2;
    model.Header.NumTris = 1;
    model.Header.NumFrames = 2;
    model.Header.NumSkinVerts = 2;
    model.TextureSkin = MakeSkin(SkinType8888, 1, { 0x10, 0x20, 0x30, 0xFF });
    model.ColourSkin = MakeSkin(SkinType888, 2, { 1, 2, 3, 4, 5, 6 });
    model.SkinVerts = std::make_unique<TMDLSkinVerts>();
    model.SkinVerts->Items = { { 1, 2 }, { 0x1234, 0xFFFF } };
    model.Triangles = std::make_unique<TMDLTriangles>();
    model.Triangles->Items = { { { 1, 0, 1 }, { 0, 1, 0x0203 } } };
    model.Triangles->MaterialNames = { "never written" };
    model.Frames.assign(2, TMDLFrame());
    model.Frames[0].BBoxMin = { { 1, 2, 3 }, 0, 0 };
    model.Frames[0].BBoxMax = { { 0x100, 0x200, 0x300 }, 0, 0 };
    model.Frames[0].SetName("frame0");
    model.Frames[0].Vertices = { { { 0x0A0B, 0x0C0D, 0xFFFF }, 161, 0 }, { { 0, 1, 2 }, 5, 0x7E } };
    model.Frames[1].SetName("frame-with-long-name");
    model.Frames[1].Vertices = { { { 0xFFFE, 0x8000, 0x7FFF }, 0, 0 }, { { 3, 2, 1 }, 0xFF, 1 } };
}

class TCapturedLog : public TActivityLog
{
public:
    void AddLine(const std::string& Text) override { Lines.push_back(Text); }
    std::vector<std::string> Lines;
};

// Undoes a change to the process when the scope ends, also after a failed ASSERT.
TNames FileNames(const std::filesystem::path& folder)
{
    TNames names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

mode_t ModeOf(const std::string& path)
{
    struct stat info = {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// The code and message of the I/O error SaveToFile raised, or "none".
std::string SaveError(TMDLModel& model, const std::string& path)
{
    try {
        model.SaveToFile(path);
    } catch (const EInOutError& e) {
        return std::to_string(e.ErrorCode()) + " " + e.Message();
    }
    return "none";
}

// Pixel format, width, height and byte count.
TShape Shape(const TMDLSkin5& skin)
{
    return { skin.SkinType, skin.Width, skin.Height, skin.Size() };
}

// A 2 x 2 BMP file: red | green over blue | white.
void WriteQuadBmp(const std::string& path, int bitsPerPixel)
{
    TBitmap image;
    image.SetBitsPerPixel(bitsPerPixel);
    if (bitsPerPixel == 8)
        image.SetColorTable(
            { { 0, 0, 0xFF, 0 }, { 0, 0xFF, 0, 0 }, { 0xFF, 0, 0, 0 }, { 0xFF, 0xFF, 0xFF, 0 } });
    image.SetWidth(2);
    image.SetHeight(2);
    const TColor colors[4] = { Red, Green, Blue, clWhite };
    for (int i = 0; i < 4; ++i) {
        image.Canvas().Brush.Color = colors[i];
        image.Canvas().FillRect({ i % 2, i / 2, i % 2 + 1, i / 2 + 1 });
    }
    image.SaveBmpFile(path);
}

} // namespace

TEST(MDLSave, WritesHandBuiltModelByteForByte)
{
    TScratchDir dir;
    TMDLModel model;
    BuildSmallModel(model);
    const TBytes expected = Concat({ HeaderBytes, TextureSkinBytes, ColourSkinBytes, SkinVertBytes,
        TriangleBytes, Frame0Bytes, Frame1Bytes });
    // 84, 12 + Size per skin, 4 per skin vertex, 12 per triangle, 36 + 8 per vertex per frame.
    ASSERT_EQ(expected.size(), 84u + (12 + 4) + (12 + 6) + 4 * 2 + 12 * 1 + 2 * (36 + 8 * 2));

    const std::string path = dir.File("model.mdl");
    model.SaveToFile(path);
    EXPECT_EQ(ReadAllBytes(path), expected);
    EXPECT_EQ(model.SaveToBytes(), expected);
    // Saving leaves the model as it was, and nothing of a longer old file survives.
    WriteAllBytes(path, TBytes(1000, 0xAB));
    model.SaveToFile(path);
    EXPECT_EQ(ReadAllBytes(path), expected);
    EXPECT_EQ(FileNames(dir.Path()), TNames { "model.mdl" });
}

TEST(MDLSave, WritesOnlyTheSkinsTheHeaderCountsAndExistingSections)
{
    TMDLModel model;
    BuildSmallModel(model);
    const TBytes rest = Concat({ SkinVertBytes, TriangleBytes, Frame0Bytes, Frame1Bytes });
    auto header = [](std::uint8_t numSkins) {
        TBytes bytes = HeaderBytes;
        bytes[48] = numSkins;
        return bytes;
    };
    model.Header.NumSkins = 0;
    EXPECT_EQ(model.SaveToBytes(), Concat({ header(0), rest }));
    model.Header.NumSkins = 1;
    EXPECT_EQ(model.SaveToBytes(), Concat({ header(1), TextureSkinBytes, rest }));
    // Without a texture skin the colour skin is the one the count covers.
    model.TextureSkin.reset();
    EXPECT_EQ(model.SaveToBytes(), Concat({ header(1), ColourSkinBytes, rest }));
    model.Header.NumSkins = 2;
    EXPECT_EQ(model.SaveToBytes(), Concat({ header(2), ColourSkinBytes, rest }));
    BuildSmallModel(model);
    model.ColourSkin.reset();
    EXPECT_EQ(model.SaveToBytes(), Concat({ HeaderBytes, TextureSkinBytes, rest }));

    // The header goes out as it stands, even when its counts disagree with the sections.
    BuildSmallModel(model);
    model.Header.NumTris = 7;
    model.Header.NumSkinVerts = 0x01020304;
    TBytes odd = HeaderBytes;
    odd[64] = 7;
    std::copy_n(TBytes { 4, 3, 2, 1 }.begin(), 4, odd.begin() + 72);
    const TBytes skins = Concat({ TextureSkinBytes, ColourSkinBytes });
    EXPECT_EQ(model.SaveToBytes(), Concat({ odd, skins, rest }));

    BuildSmallModel(model);
    model.SkinVerts->Items.clear();
    const TBytes noSkinVerts
        = Concat({ HeaderBytes, skins, TriangleBytes, Frame0Bytes, Frame1Bytes });
    EXPECT_EQ(model.SaveToBytes(), noSkinVerts);
    model.SkinVerts.reset();
    EXPECT_EQ(model.SaveToBytes(), noSkinVerts);
    model.Triangles.reset();
    EXPECT_EQ(model.SaveToBytes(), Concat({ HeaderBytes, skins, Frame0Bytes, Frame1Bytes }));
}

TEST(MDLSkin, ConvertsRowsFromTheTopWithoutPaddingAndMarksPureWhite)
{
    TBitmap image;
    image.SetBitsPerPixel(24);
    image.SetWidth(2);
    image.SetHeight(1);
    auto paint = [&](std::int32_t x, std::int32_t y, TColor color) {
        image.Canvas().Brush.Color = color;
        image.Canvas().FillRect({ x, y, x + 1, y + 1 });
    };
    paint(0, 0, Red);
    paint(1, 0, Blue);
    TMDLSkin5 skin;
    skin.FromBitmap888(image);
    EXPECT_EQ(Shape(skin), (TShape { 4, 2, 1, 6 }));
    EXPECT_EQ(skin.Data, (TBytes { 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00 }));

    // Two rows of three pixels: rows are padded to 12 bytes and kept bottom-up in memory.
    image.SetWidth(3);
    image.SetHeight(2);
    paint(0, 0, clWhite);
    paint(1, 0, 0xFEFFFF); // blue 254, green 255, red 255
    paint(2, 0, clBlack);
    for (std::int32_t x = 0; x < 3; ++x)
        paint(x, 1, Green);
    skin.FromBitmap8888(image);
    EXPECT_EQ(Shape(skin), (TShape { 5, 3, 2, 24 }));
    EXPECT_EQ(skin.Data,
        (TBytes { 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0, 0, 0, 0, 0, //
            0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0 }));

    TBitmap empty;
    empty.SetBitsPerPixel(24);
    skin.FromBitmap888(empty);
    EXPECT_EQ(Shape(skin), (TShape { 4, 0, 0, 0 }));
    TMDLModel model;
    model.Header.NumSkins = 1;
    model.TextureSkin = std::make_unique<TMDLSkin5>(skin);
    const TBytes file = model.SaveToBytes();
    EXPECT_EQ(
        TBytes(file.begin() + 84, file.end()), (TBytes { 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 }));
}

TEST(MDLSkin, WritesPixelDataOfAnyLengthUnchanged)
{
    TScratchDir dir;
    const std::string path = dir.File("skin.mdl");
    for (std::size_t size : { 1023u, 1024u, 2049u, 65441u, 70000u }) {
        SCOPED_TRACE(size);
        TBytes data(size);
        for (std::size_t i = 0; i < size; ++i)
            data[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
        TMDLModel model;
        model.Header.NumSkins = 1;
        model.TextureSkin = MakeSkin(SkinType888, 0x0102, data);
        model.SaveToFile(path);
        const TBytes file = ReadAllBytes(path);
        ASSERT_EQ(file.size(), 84 + 12 + size);
        const TBytes leading = { 4, 0, 0, 0, 0x02, 0x01, 0, 0, 1, 0, 0, 0 };
        EXPECT_EQ(TBytes(file.begin() + 84, file.begin() + 96), leading);
        EXPECT_EQ(TBytes(file.begin() + 96, file.end()), data);
    }
}

TEST(MDLSkin, LoadsBmpFilesOfAnyDepthAndKeepsContentsOnFailure)
{
    TScratchDir dir;
    for (int bits : { 24, 32, 8 }) {
        const std::string path = dir.File("quad" + std::to_string(bits) + ".bmp");
        SCOPED_TRACE(bits);
        WriteQuadBmp(path, bits);
        TMDLSkin5 skin;
        skin.LoadFromBMP(path, SkinFormat888);
        EXPECT_EQ(Shape(skin), (TShape { 4, 2, 2, 12 }));
        EXPECT_EQ(skin.Data, (TBytes { 0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF }));
        skin.LoadFromBMP(path, SkinFormat8888);
        EXPECT_EQ(Shape(skin), (TShape { 5, 2, 2, 16 }));
        EXPECT_EQ(skin.Data,
            (TBytes { 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF }));
    }

    TMDLSkin5 skin = *MakeSkin(SkinType8888, 1, { 1, 2, 3, 4 });
    try {
        skin.LoadFromBMP(dir.File("quad24.bmp"), 777);
        ADD_FAILURE() << "format 777 accepted";
    } catch (const ERangeError& e) {
        EXPECT_STREQ(e.what(), "Incorrect Skin format.");
    }
    EXPECT_THROW(skin.LoadFromBMP(dir.File("missing.bmp"), SkinFormat888), EFOpenError);
    EXPECT_EQ(Shape(skin), (TShape { 5, 1, 1, 4 }));
    EXPECT_EQ(skin.Data, (TBytes { 1, 2, 3, 4 }));
}

TEST(MDLSaveWarnings, WritesLowSixteenBitsAndLogsEachOversizedIndex)
{
    TCapturedLog log;
    TMDLModel model;
    model.Triangles = std::make_unique<TMDLTriangles>();
    model.Triangles->ActivityLog = &log;
    auto save = [&](std::vector<TMDLTriangle> items) {
        log.Lines.clear();
        model.Triangles->Items = std::move(items);
        const TBytes file = model.SaveToBytes();
        return TBytes(file.begin() + 84, file.end());
    };
    const std::string verts = "WARN: Too many verts.";
    const std::string uvs = "WARN: Too many UV verts.";
    EXPECT_EQ(save({ { { 0, 1, 65536 }, { 0, 1, 2 } } }),
        (TBytes { 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 2, 0 }));
    EXPECT_EQ(log.Lines, TLines { verts });
    EXPECT_EQ(save({ { { 0, 1, 2 }, { -1, 0, 65535 } } }),
        (TBytes { 0, 0, 1, 0, 2, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF }));
    EXPECT_EQ(log.Lines, TLines { uvs });

    // Each triangle logs its vertex warnings, then its UV ones.
    EXPECT_EQ(save({ { { 65536, 1, -1 }, { 65537, 0, 2 } },
                  { { 65535, 0x10005, 0 }, { 0, 0, 0x7FFFFFFF } } }),
        (TBytes { 0, 0, 1, 0, 0xFF, 0xFF, 1, 0, 0, 0, 2, 0, //
            0xFF, 0xFF, 5, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF }));
    EXPECT_EQ(log.Lines, (TLines { verts, verts, uvs, verts, uvs }));
}

TEST(MDLSaveErrors, MissingFolderOrDirectoryTargetRaisesAndLeavesNoTrace)
{
    TScratchDir dir;
    TMDLModel model;
    BuildSmallModel(model);
    EXPECT_EQ(SaveError(model, dir.File("missing/model.mdl")), "3 不正なファイル名です");
    EXPECT_TRUE(FileNames(dir.Path()).empty());

    std::filesystem::create_directory(dir.File("model.mdl"));
    WriteAllBytes(dir.File("model.mdl/inside"), { 1, 2, 3 });
    EXPECT_EQ(SaveError(model, dir.File("model.mdl")), "5 ファイルへのアクセスが拒否されました");
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("model.mdl")));
    EXPECT_EQ(ReadAllBytes(dir.File("model.mdl/inside")), (TBytes { 1, 2, 3 }));
    EXPECT_EQ(FileNames(dir.Path()), TNames { "model.mdl" });
}

TEST(MDLSaveErrors, FullDiskKeepsTheOldFile)
{
    TScratchDir dir;
    const std::string path = dir.File("model.mdl");
    const TBytes old(300, 0x5A);
    WriteAllBytes(path, old);
    TMDLModel model;
    BuildSmallModel(model);
    model.TextureSkin = MakeSkin(SkinType8888, 4096, TBytes(4 * 4096, 0x77));

    TFileSizeLimit full(4096);
    ASSERT_TRUE(full.Active());
    EXPECT_EQ(SaveError(model, path), "101 ディスクがいっぱいです");
    EXPECT_EQ(ReadAllBytes(path), old);
    EXPECT_EQ(FileNames(dir.Path()), TNames { "model.mdl" });
}

TEST(MDLSaveErrors, UnwritableFolderDeniesAccessAndKeepsTheOldFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    TScratchDir dir;
    const std::string folder = dir.File("locked");
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/model.mdl";
    WriteAllBytes(path, { 9, 8, 7 });
    TMDLModel model;
    BuildSmallModel(model);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    TOnExit unlock([&] { ::chmod(folder.c_str(), 0755); });
    EXPECT_EQ(SaveError(model, path), "5 ファイルへのアクセスが拒否されました");
    EXPECT_EQ(ReadAllBytes(path), (TBytes { 9, 8, 7 }));
    EXPECT_EQ(FileNames(folder), TNames { "model.mdl" });

    // A read-only file in a writable folder is refused the same way.
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(SaveError(model, path), "5 ファイルへのアクセスが拒否されました");
    EXPECT_EQ(ReadAllBytes(path), (TBytes { 9, 8, 7 }));
    EXPECT_EQ(FileNames(folder), TNames { "model.mdl" });
}

TEST(MDLSavePermissions, KeepsModeOfReplacedFileAndUsesUmaskForNewOne)
{
    TScratchDir dir;
    TMDLModel model;
    BuildSmallModel(model);
    const std::string existing = dir.File("existing.mdl");
    WriteAllBytes(existing, { 1 });
    ASSERT_EQ(::chmod(existing.c_str(), 0640), 0);
    model.SaveToFile(existing);
    EXPECT_EQ(ModeOf(existing), 0640u);
    EXPECT_EQ(ReadAllBytes(existing), model.SaveToBytes());

    const mode_t oldMask = ::umask(022);
    TOnExit restore([&] { ::umask(oldMask); });
    model.SaveToFile(dir.File("new.mdl"));
    EXPECT_EQ(ModeOf(dir.File("new.mdl")), 0644u);
    ::umask(027);
    model.SaveToFile(dir.File("other.mdl"));
    EXPECT_EQ(ModeOf(dir.File("other.mdl")), 0640u);
    EXPECT_EQ(FileNames(dir.Path()), (TNames { "existing.mdl", "new.mdl", "other.mdl" }));
}

TEST(MDLSavePermissions, SavingThroughSymlinkReplacesTheLinkedFile)
{
    TScratchDir dir;
    std::filesystem::create_directory(dir.File("real"));
    const std::string target = dir.File("real/model.mdl");
    WriteAllBytes(target, TBytes(500, 0xEE));
    const std::string link = dir.File("link.mdl");
    std::filesystem::create_symlink("real/model.mdl", link);
    TMDLModel model;
    BuildSmallModel(model);
    model.SaveToFile(link);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link), "real/model.mdl");
    EXPECT_EQ(ReadAllBytes(target), model.SaveToBytes());
    EXPECT_EQ(FileNames(dir.Path()), (TNames { "link.mdl", "real" }));
    EXPECT_EQ(FileNames(dir.File("real")), TNames { "model.mdl" });

    // A link to a file not made yet makes that file, as creating it would.
    const std::string dangling = dir.File("new.mdl");
    std::filesystem::create_symlink("real/later.mdl", dangling);
    model.SaveToFile(dangling);
    EXPECT_TRUE(std::filesystem::is_symlink(dangling));
    EXPECT_EQ(ReadAllBytes(dir.File("real/later.mdl")), model.SaveToBytes());
}

TEST(MDLSavePermissions, DevicesAndPipesAreWrittenThroughNotReplaced)
{
    TMDLModel model;
    BuildSmallModel(model);
    model.SaveToFile("/dev/null");
    struct stat info;
    ASSERT_EQ(::stat("/dev/null", &info), 0);
    ASSERT_TRUE(S_ISCHR(info.st_mode)) << "/dev/null was replaced";

    TScratchDir dir;
    const std::string fifo = dir.File("pipe.mdl");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::uint8_t> received;
    std::thread reader([&] { received = ReadAllBytes(fifo); });
    // The save opens the pipe without waiting; give the reader time to open
    // its end first, as a reading program would have.
    for (int i = 0; i < 200; ++i) {
        try {
            model.SaveToFile(fifo);
            break;
        } catch (const EInOutError&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    reader.join();
    EXPECT_EQ(received, model.SaveToBytes());
    EXPECT_EQ(FileNames(dir.Path()), TNames { "pipe.mdl" });
}
