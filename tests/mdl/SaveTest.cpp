#include "mdl/MDLClass.h"

#include "util/Activity.h"
#include "util/Errors.h"

#include "TestUtil.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using TBytes = std::vector<std::uint8_t>;
using TNames = std::set<std::string>;
using TLines = std::vector<std::string>;

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
    model.Triangles->MaterialNames = { model.Triangles->MaterialNameTable.Add("never written") };
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

TNames FileNames(const std::filesystem::path& folder)
{
    TNames names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
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

TEST(MDLSaveWarnings, WritesLowSixteenBitsAndLogsEachWarningOncePerSave)
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

    // Each warning once per save, where its first index is met: a triangle
    // checks its vertex indices before its UV ones.
    EXPECT_EQ(save({ { { 65536, 1, -1 }, { 65537, 0, 2 } },
                  { { 65535, 0x10005, 0 }, { 0, 0, 0x7FFFFFFF } } }),
        (TBytes { 0, 0, 1, 0, 0xFF, 0xFF, 1, 0, 0, 0, 2, 0, //
            0xFF, 0xFF, 5, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF }));
    EXPECT_EQ(log.Lines, (TLines { verts, uvs }));
    save({ { { 0, 1, 2 }, { 0, -1, -1 } }, { { 70000, 70000, 0 }, { 70000, 0, 0 } } });
    EXPECT_EQ(log.Lines, (TLines { uvs, verts }));
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
    EXPECT_EQ(SaveError(model, path), "101 Disk full");
    EXPECT_EQ(ReadAllBytes(path), old);
    EXPECT_EQ(FileNames(dir.Path()), TNames { "model.mdl" });
}
