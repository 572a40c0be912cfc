// Reading MDL5 files back: round trips, and files the reader must refuse.
#include "mdl/MDLClass.h"

#include <cstring>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "image/Bitmap.h"
#include "obj/OBJClass.h"

namespace {

// A model with every section: two skins, skin vertices, a quad and a
// triangle, and two frames named from a list.
std::vector<std::uint8_t> SampleModelBytes()
{
    TScratchDir dir;
    TBitmap atlas;
    atlas.SetBitsPerPixel(24);
    atlas.SetWidth(3);
    atlas.SetHeight(2);
    atlas.SaveBmpFile(dir.File("a.bmp"));
    WriteText(dir.File("a.fns"), "stand\nsit\n");

    TOBJModel obj;
    obj.Vertices = { Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1) };
    obj.Normals = { Vec3(0, 0, 1), Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(1, 1, 1) };
    obj.UVs = { TOBJUV { { 0, 0, 3, 2 }, 0, 0 }, TOBJUV { { 0, 0, 3, 2 }, 1, 1 } };
    TOBJMaterial material {};
    material.Name = "m";
    material.Kd = Vec3(0.5f, 0.25f, 1);
    obj.Materials.push_back(material);
    TOBJFace quad {};
    quad.CornerCount = 4;
    for (int i = 0; i < 4; ++i)
        quad.Corners[i] = TOBJCorner { i + 1, i % 2 + 1, 0 };
    quad.MaterialName = obj.MaterialNameTable.Add("m");
    TOBJFace triangle = quad;
    triangle.CornerCount = 3;
    obj.Faces = { quad, triangle };
    obj.TriangleCount = 3;

    TMDLModel mdl;
    mdl.MakeFromOBJ(obj, dir.File("a.bmp"), dir.File("a.fns"));
    obj.Vertices[3] = Vec3(-0.5f, 0.25f, 0.75f);
    mdl.AddFrame(obj);
    return mdl.SaveToBytes();
}

// Writes a little-endian int32 at a byte offset.
void Poke(std::vector<std::uint8_t>& bytes, std::size_t at, std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    for (int k = 0; k < 4; ++k)
        bytes[at + k] = static_cast<std::uint8_t>(u >> (8 * k));
}

// The refusal of the bytes, which reading only what `info` shows from a
// file of them must give as well.
std::string LoadError(const std::vector<std::uint8_t>& bytes)
{
    std::string error, layoutError;
    TMDLModel mdl;
    try {
        mdl.LoadFromBytes(bytes.data(), bytes.size());
    } catch (const EMDLFormatError& e) {
        error = e.what();
    }
    TScratchDir dir;
    WriteAllBytes(dir.File("m.mdl"), bytes);
    try {
        mdl.LoadLayoutFromFile(dir.File("m.mdl"));
    } catch (const EMDLFormatError& e) {
        layoutError = e.what();
    }
    EXPECT_EQ(layoutError, error) << bytes.size() << " bytes";
    return error;
}

// Header offsets of the counts.
constexpr std::size_t NumSkinsAt = 48;
constexpr std::size_t NumVertsAt = 60;
constexpr std::size_t NumTrisAt = 64;
constexpr std::size_t NumFramesAt = 68;
constexpr std::size_t NumSkinVertsAt = 72;
constexpr std::size_t FirstSkinAt = 84;

} // namespace

TEST(MDLReader, ReadsBackEverySectionOfASavedModel)
{
    const std::vector<std::uint8_t> bytes = SampleModelBytes();
    TMDLModel mdl;
    mdl.LoadFromBytes(bytes.data(), bytes.size());

    EXPECT_EQ(mdl.Header.NumSkins, 2);
    ASSERT_TRUE(mdl.TextureSkin && mdl.ColourSkin);
    EXPECT_EQ(mdl.TextureSkin->SkinType, 5);
    EXPECT_EQ(mdl.ColourSkin->SkinType, 4);
    EXPECT_EQ(mdl.ColourSkin->Width, 3);
    EXPECT_EQ(mdl.ColourSkin->Height, 2);
    ASSERT_TRUE(mdl.SkinVerts);
    EXPECT_EQ(mdl.SkinVerts->Count(), 2);
    EXPECT_EQ(mdl.SkinVerts->Items[1].U, 3);
    ASSERT_TRUE(mdl.Triangles);
    ASSERT_EQ(mdl.Triangles->Count(), 3);
    EXPECT_EQ(mdl.Triangles->Items[1].VertexIndex[0], 3);
    ASSERT_EQ(mdl.Frames.size(), 2u);
    EXPECT_EQ(mdl.Frames[0].NameText(), "stand");
    EXPECT_EQ(mdl.Frames[1].NameText(), "sit");
    EXPECT_EQ(mdl.Frames[1].Vertices[3].Coord[0], TMDLModel::PackCoord(0.75f));
    // The normal (1, 1, 1) is looked up as (-1, -1, -1).
    EXPECT_EQ(mdl.Frames[0].Vertices[3].NormalIndex, PlainNormalIndex(Vec3(-1, -1, -1)));

    // Saving what was read gives the same file.
    EXPECT_EQ(mdl.SaveToBytes(), bytes);
}

TEST(MDLReader, LoadsAFileFromDiskAndReportsOneThatCannotBeOpened)
{
    const std::vector<std::uint8_t> bytes = SampleModelBytes(); // uses the test's scratch folder
    TScratchDir dir;
    WriteAllBytes(dir.File("ship.mdl"), bytes);
    TMDLModel mdl;
    mdl.LoadFromFile(dir.File("ship.mdl"));
    EXPECT_EQ(mdl.SaveToBytes(), bytes);

    try {
        mdl.LoadFromFile(dir.File("missing.mdl"));
        FAIL() << "a missing file loaded";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
    }
    EXPECT_THROW(mdl.LoadFromFile(dir.Path().string()), EInOutError);
    EXPECT_EQ(mdl.Frames.size(), 2u) << "a failed load keeps the model";
}

TEST(MDLReader, ReadsTheLayoutOfAFileAsTheWholeModelHasIt)
{
    const std::vector<std::uint8_t> bytes = SampleModelBytes();
    TScratchDir dir;
    WriteAllBytes(dir.File("m.mdl"), bytes);
    TMDLModel whole, layout;
    whole.LoadFromBytes(bytes.data(), bytes.size());
    layout.LoadLayoutFromFile(dir.File("m.mdl"));
    EXPECT_EQ(std::memcmp(&layout.Header, &whole.Header, sizeof whole.Header), 0);
    for (const auto skin : { &TMDLModel::TextureSkin, &TMDLModel::ColourSkin }) {
        ASSERT_TRUE(layout.*skin && whole.*skin);
        EXPECT_EQ((layout.*skin)->SkinType, (whole.*skin)->SkinType);
        EXPECT_EQ((layout.*skin)->Width, (whole.*skin)->Width);
        EXPECT_EQ((layout.*skin)->Height, (whole.*skin)->Height);
        EXPECT_TRUE((layout.*skin)->Data.empty()) << "pixels read";
    }
    ASSERT_EQ(layout.Frames.size(), 2u);
    for (std::size_t f = 0; f < 2; ++f) {
        EXPECT_EQ(layout.Frames[f].NameText(), whole.Frames[f].NameText());
        EXPECT_EQ(std::memcmp(&layout.Frames[f].BBoxMax, &whole.Frames[f].BBoxMax,
                      sizeof(TMDLPackedVertex)),
            0);
        EXPECT_TRUE(layout.Frames[f].Vertices.empty()) << "vertices read";
    }
}

TEST(MDLReader, RefusesEveryTruncationAndTrailingBytes)
{
    const std::vector<std::uint8_t> bytes = SampleModelBytes();
    for (std::size_t size = 0; size < bytes.size(); ++size)
        EXPECT_NE(LoadError(std::vector<std::uint8_t>(
                      bytes.begin(), bytes.begin() + std::ptrdiff_t(size))),
            "")
            << size;
    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_EQ(LoadError(longer), "The MDL5 file has 1 bytes after its last frame.");
    EXPECT_NE(
        LoadError(std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 1)).find("truncated"),
        std::string::npos);
}

TEST(MDLReader, RefusesHeadersAndBlocksThatCannotBeRight)
{
    const std::vector<std::uint8_t> good = SampleModelBytes();
    auto with = [&good](std::size_t at, std::int32_t value) {
        std::vector<std::uint8_t> bytes = good;
        Poke(bytes, at, value);
        return LoadError(bytes);
    };
    std::vector<std::uint8_t> badIdent = good;
    badIdent[3] = '7';
    EXPECT_EQ(LoadError(badIdent), "Not an MDL5 file: it does not start with \"MDL5\".");
    EXPECT_EQ(with(NumSkinsAt, 3), "The MDL5 header counts 3 skins; a model has at most 2.");
    for (std::size_t at : { NumSkinsAt, NumVertsAt, NumTrisAt, NumFramesAt, NumSkinVertsAt })
        EXPECT_NE(with(at, -1).find("is negative (-1)"), std::string::npos) << at;
    EXPECT_EQ(with(FirstSkinAt, 6),
        "Skin 1 of the MDL5 file has the unknown type 6 (4 and 5 are known).");
    EXPECT_NE(with(FirstSkinAt + 4, -3).find("size -3 x 2"), std::string::npos);

    // Counts far beyond the file are refused before anything is allocated.
    for (std::size_t at : { NumVertsAt, NumTrisAt, NumFramesAt, NumSkinVertsAt })
        EXPECT_NE(with(at, 0x7FFFFFFF).find("truncated"), std::string::npos) << at;
    EXPECT_NE(with(FirstSkinAt + 4, 0x7FFFFFFF).find("truncated"), std::string::npos);

    // The first frame follows the 84-byte header, the skins, 2 skin vertices
    // and 3 triangles.
    const std::size_t firstFrameAt = 84 + (12 + 3 * 2 * 4) + (12 + 3 * 2 * 3) + 2 * 4 + 3 * 12;
    EXPECT_EQ(
        with(firstFrameAt, 3), "Frame 0 of the MDL5 file has the unknown type 3 (2 is known).");

    TMDLModel mdl;
    mdl.LoadFromBytes(good.data(), good.size());
    std::vector<std::uint8_t> bad = good;
    Poke(bad, NumFramesAt, 1);
    EXPECT_THROW(mdl.LoadFromBytes(bad.data(), bad.size()), EMDLFormatError);
    EXPECT_EQ(mdl.SaveToBytes(), good) << "a refused file leaves the model as it was";
}

TEST(MDLReader, KeepsALoneColourSkinAsTheColourSkin)
{
    TMDLModel mdl;
    std::memcpy(mdl.Header.Ident, "MDL5", 4);
    mdl.Header.NumSkins = 1;
    mdl.ColourSkin.reset(new TMDLSkin5);
    mdl.ColourSkin->SkinType = 4;
    mdl.ColourSkin->Width = 1;
    mdl.ColourSkin->Height = 1;
    mdl.ColourSkin->Data = { 1, 2, 3 };
    const std::vector<std::uint8_t> bytes = mdl.SaveToBytes();
    ASSERT_EQ(bytes.size(), 84u + 12 + 3);

    TMDLModel back;
    back.LoadFromBytes(bytes.data(), bytes.size());
    EXPECT_FALSE(back.TextureSkin);
    ASSERT_TRUE(back.ColourSkin);
    EXPECT_EQ(back.ColourSkin->Data, (std::vector<std::uint8_t> { 1, 2, 3 }));
    EXPECT_EQ(back.SaveToBytes(), bytes);
}
