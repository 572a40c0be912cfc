// Reading MDL5 files back: round trips, and files the reader must refuse.
#include "mdl/MDLClass.h"

#include <cstring>
#include <initializer_list>
#include <tuple>
#include <utility>

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

// Files of the forms the engine's own tools write, put together byte by byte
// here rather than through the writer, so that the reader's sizes are
// checked against sizes written out by hand.
struct TFileBuilder
{
    std::vector<std::uint8_t> Bytes;
    // Where each block and each field group ends: the places a cut file is
    // most likely to be misread.
    std::vector<std::size_t> Borders;

    void U8(unsigned value) { Bytes.push_back(static_cast<std::uint8_t>(value)); }
    void U16(unsigned value)
    {
        U8(value & 0xFF);
        U8(value >> 8);
    }
    void I32(std::int32_t value)
    {
        Bytes.resize(Bytes.size() + 4);
        Poke(Bytes, Bytes.size() - 4, value);
    }
    void Border() { Borders.push_back(Bytes.size()); }
};

struct TSkinCase
{
    std::int32_t Type, Width, Height;
    std::size_t Bytes; // what follows the skin's type, width and height
};

struct TFileCase
{
    const char* Name;
    std::vector<TSkinCase> Skins;
    std::vector<std::int32_t> FrameTypes;
};

constexpr int BuiltVerts = 2;

// The bytes of skin s.
std::vector<std::uint8_t> SkinPattern(std::size_t s, std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + s * 31 + 1);
    return bytes;
}

// Vertex v of frame f; 8-bit frames hold coordinates of 0 to 255 and no pad.
TMDLPackedVertex BuiltVertex(std::size_t f, int v, bool small)
{
    const auto at = static_cast<std::uint16_t>(f * 3 + std::size_t(v) * 100);
    if (small)
        return { { std::uint16_t(200 + at % 50), std::uint16_t(7 + v), 255 }, std::uint8_t(161 - v),
            0 };
    return { { std::uint16_t(40000 + at), std::uint16_t(513 + v), 65535 }, std::uint8_t(100 + v),
        std::uint8_t(9 + v) };
}

// A model of the case's skins (pattern bytes), three skin vertices, one
// triangle and a frame of two vertices for each frame type.
TFileBuilder BuildFile(const TFileCase& file)
{
    TFileBuilder out;
    for (char c : std::string("MDL5"))
        out.U8(static_cast<unsigned char>(c));
    for (int i = 0; i < 11; ++i) // reserved, scale, offset, reserved
        out.I32(0x3F000000 + i); // 0.5 and a little more
    for (std::int32_t count : { std::int32_t(file.Skins.size()), 0, 0, BuiltVerts, 1,
             std::int32_t(file.FrameTypes.size()), 3, 0, 0 })
        out.I32(count);
    out.Border();
    for (std::size_t s = 0; s < file.Skins.size(); ++s) {
        const TSkinCase& skin = file.Skins[s];
        out.I32(skin.Type);
        out.I32(skin.Width);
        out.I32(skin.Height);
        out.Border();
        for (std::uint8_t byte : SkinPattern(s, skin.Bytes))
            out.U8(byte);
        out.Border();
    }
    for (unsigned uv : { 1u, 2u, 3u, 4u, 0xFFFFu, 5u })
        out.U16(uv);
    out.Border();
    for (unsigned index : { 0u, 1u, 1u, 0u, 1u, 2u })
        out.U16(index);
    out.Border();
    for (std::size_t f = 0; f < file.FrameTypes.size(); ++f) {
        const bool small = file.FrameTypes[f] == 0;
        auto vertex = [&](const TMDLPackedVertex& v) {
            for (std::uint16_t coord : v.Coord) {
                if (small)
                    out.U8(coord);
                else
                    out.U16(coord);
            }
            out.U8(v.NormalIndex);
            if (!small)
                out.U8(v.Pad);
        };
        out.I32(file.FrameTypes[f]);
        out.Border();
        vertex(BuiltVertex(f, 0, small));
        vertex(BuiltVertex(f, 1, small));
        out.Border();
        const std::string name = "frame" + std::to_string(f);
        for (std::size_t k = 0; k < FrameNameSize; ++k)
            out.U8(k < name.size() ? static_cast<unsigned char>(name[k]) : 0);
        out.Border();
        for (int v = 0; v < BuiltVerts; ++v)
            vertex(BuiltVertex(f, v, small));
        out.Border();
    }
    return out;
}

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

TEST(MDLReader, ReadsEverySkinTypeAndFrameFormOfTheEnginesFiles)
{
    const std::vector<TFileCase> cases = {
        { "palette indices", { { 0, 3, 2, 6 } }, { 2 } },
        { "5-6-5", { { 2, 3, 2, 12 } }, { 0 } },
        { "4-4-4-4", { { 3, 2, 2, 8 } }, { 2 } },
        { "lone 8-8-8", { { 4, 2, 1, 6 } }, { 2 } },
        { "8-8-8-8", { { 5, 1, 2, 8 } }, { 2 } },
        // The height field of a DDS skin carries nothing.
        { "DDS", { { 6, 5, 77, 5 } }, { 2 } },
        { "empty DDS", { { 6, 0, -4, 0 } }, { 2 } },
        // The first level and three smaller ones: n + n/4 + n/16 + n/64 pixels.
        { "5-6-5 levels", { { 10, 4, 4, (16 + 4 + 1 + 0) * 2 } }, { 2 } },
        { "4-4-4-4 levels", { { 11, 8, 8, (64 + 16 + 4 + 1) * 2 } }, { 2 } },
        { "8-8-8 levels", { { 12, 2, 2, (4 + 1 + 0 + 0) * 3 } }, { 2 } },
        { "8-8-8-8 levels", { { 13, 16, 8, (128 + 32 + 8 + 2) * 4 } }, { 2 } },
        { "8-bit frames", {}, { 0, 0 } },
        { "frame type 7", {}, { 7 } },
        { "three skins, mixed frames",
            { { 6, 3, 0, 3 }, { 0, 1, 1, 1 }, { 11, 2, 4, (8 + 2) * 2 } }, { 0, 2, 7, 0 } },
    };
    for (const TFileCase& file : cases) {
        SCOPED_TRACE(file.Name);
        const TFileBuilder built = BuildFile(file);
        TMDLModel mdl;
        ASSERT_NO_THROW(mdl.LoadFromBytes(built.Bytes.data(), built.Bytes.size()));

        const std::vector<const TMDLSkin5*> skins = mdl.FileSkins();
        ASSERT_EQ(skins.size(), file.Skins.size());
        EXPECT_EQ(mdl.MoreSkins.size(), file.Skins.size() > 2 ? file.Skins.size() - 2 : 0);
        for (std::size_t s = 0; s < skins.size(); ++s) {
            const TSkinCase& want = file.Skins[s];
            EXPECT_EQ(std::make_tuple(skins[s]->SkinType, skins[s]->Width, skins[s]->Height),
                std::make_tuple(want.Type, want.Width, want.Height));
            EXPECT_EQ(skins[s]->Data, SkinPattern(s, want.Bytes)) << "skin " << s;
        }
        EXPECT_EQ(mdl.SkinVerts->Items[2].SignedU(), -1);
        ASSERT_EQ(mdl.Frames.size(), file.FrameTypes.size());
        for (std::size_t f = 0; f < mdl.Frames.size(); ++f) {
            const TMDLFrame& frame = mdl.Frames[f];
            const bool small = file.FrameTypes[f] == 0;
            EXPECT_EQ(frame.Packed8(), small);
            EXPECT_EQ(frame.NameText(), "frame" + std::to_string(f));
            ASSERT_EQ(frame.Count(), BuiltVerts);
            for (int v = 0; v < BuiltVerts; ++v) {
                const TMDLPackedVertex want = BuiltVertex(f, v, small);
                EXPECT_EQ(std::memcmp(&frame.Vertices[std::size_t(v)], &want, sizeof want), 0)
                    << "frame " << f << " vertex " << v;
            }
        }
        EXPECT_EQ(mdl.SaveToBytes(), built.Bytes);

        // Cut at each border and a byte either side: refused alike by both
        // readers until the file is whole.
        for (std::size_t border : built.Borders) {
            for (std::size_t size : { border - 1, border, border + 1 }) {
                if (size > built.Bytes.size())
                    continue;
                const std::string error = LoadError(std::vector<std::uint8_t>(
                    built.Bytes.begin(), built.Bytes.begin() + std::ptrdiff_t(size)));
                EXPECT_EQ(error.empty(), size == built.Bytes.size()) << size << ": " << error;
            }
        }
    }
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
    auto with = [&good](std::initializer_list<std::pair<std::size_t, std::int32_t>> pokes) {
        std::vector<std::uint8_t> bytes = good;
        for (const auto& [at, value] : pokes)
            Poke(bytes, at, value);
        return LoadError(bytes);
    };
    std::vector<std::uint8_t> badIdent = good;
    badIdent[3] = '7';
    EXPECT_EQ(LoadError(badIdent), "Not an MDL5 file: it does not start with \"MDL5\".");
    EXPECT_EQ(with({ { NumSkinsAt, 4097 } }),
        "The MDL5 header counts 4097 skins; Tarvex reads at most 4096.");
    const std::string manySkins = with({ { NumSkinsAt, 4096 } });
    EXPECT_NE(manySkins, "");
    EXPECT_EQ(manySkins.find("at most"), std::string::npos) << manySkins;
    for (std::size_t at : { NumSkinsAt, NumVertsAt, NumTrisAt, NumFramesAt, NumSkinVertsAt })
        EXPECT_NE(with({ { at, -1 } }).find("is negative (-1)"), std::string::npos) << at;
    for (std::int32_t type : { 1, 7, 9, 14, -1 })
        EXPECT_EQ(with({ { FirstSkinAt, type } }),
            "Skin 1 of the MDL5 file has the unknown type " + std::to_string(type)
                + " (0, 2 to 6 and 10 to 13 are known).");
    EXPECT_NE(with({ { FirstSkinAt + 4, -3 } }).find("size -3 x 2"), std::string::npos);
    EXPECT_EQ(with({ { FirstSkinAt, 6 }, { FirstSkinAt + 4, -3 } }),
        "Skin 1 of the MDL5 file is a DDS file of -3 bytes.");

    // Counts far beyond the file are refused before anything is allocated.
    for (std::size_t at : { NumVertsAt, NumTrisAt, NumFramesAt, NumSkinVertsAt })
        EXPECT_NE(with({ { at, 0x7FFFFFFF } }).find("truncated"), std::string::npos) << at;
    EXPECT_NE(with({ { FirstSkinAt + 4, 0x7FFFFFFF } }).find("truncated"), std::string::npos);
    EXPECT_NE(with({ { FirstSkinAt, 13 }, { FirstSkinAt + 4, 0x7FFFFFFF },
                       { FirstSkinAt + 8, 0x7FFFFFFF } })
                  .find("truncated"),
        std::string::npos);
    EXPECT_NE(with({ { FirstSkinAt, 6 }, { FirstSkinAt + 4, 0x7FFFFFFF } }).find("DDS file needs"),
        std::string::npos);

    // The first frame follows the 84-byte header, the skins, 2 skin vertices
    // and 3 triangles. Any type but 0 has 16-bit coordinates.
    const std::size_t firstFrameAt = 84 + (12 + 3 * 2 * 4) + (12 + 3 * 2 * 3) + 2 * 4 + 3 * 12;
    EXPECT_EQ(with({ { firstFrameAt, 3 } }), "");

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
