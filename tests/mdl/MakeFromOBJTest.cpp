// Building the MDL model from an OBJ model: triangles, skins, skin vertices,
// frame names and the header.
#include "mdl/MDLClass.h"

#include <algorithm>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "image/Bitmap.h"
#include "obj/OBJClass.h"

namespace {

class TLines : public TActivityLog
{
public:
    void AddLine(const std::string& Text) override { Lines.push_back(Text); }
    std::vector<std::string> Lines;
};

class MakeFromOBJTest : public ::testing::Test
{
protected:
    MakeFromOBJTest() { mdl.ActivityLog = &log; }

    // A face over 1-based vertex and texture indices, one pair per corner.
    void AddFace(std::vector<std::pair<int, int>> corners, const std::string& material = "")
    {
        TOBJFace face {};
        face.MoreCorners = static_cast<std::uint32_t>(obj.MoreCorners.size());
        for (std::size_t i = 0; i < corners.size(); ++i) {
            const TOBJCorner corner { corners[i].first, corners[i].second, 0 };
            if (i < 4)
                face.Corners[i] = corner;
            else
                obj.MoreCorners.push_back(corner);
        }
        face.CornerCount = static_cast<std::uint32_t>(corners.size());
        face.MaterialName = obj.MaterialNameTable.Add(material);
        obj.Faces.push_back(face);
        obj.TriangleCount += static_cast<std::int32_t>(TrianglesOf(face.CornerCount));
    }
    void AddMaterial(const std::string& name, TVec3 kd)
    {
        TOBJMaterial material {};
        material.Name = name;
        material.Kd = kd;
        obj.Materials.push_back(material);
    }
    void AddUV(float u, float v, std::uint16_t x, std::uint16_t w, std::uint16_t h)
    {
        obj.UVs.push_back(TOBJUV { { x, 0, w, h }, u, v });
    }
    // A white atlas of the given size.
    std::string WriteAtlas(int width, int height)
    {
        TBitmap atlas;
        atlas.SetBitsPerPixel(24);
        atlas.SetWidth(width);
        atlas.SetHeight(height);
        atlas.SaveBmpFile(atlasPath);
        return atlasPath;
    }
    void Build() { mdl.MakeFromOBJ(obj, atlasPath, namesPath); }
    // Blue, green, red of a pixel of a type 4 skin.
    static std::vector<int> Pixel(const TMDLSkin5& skin, int x, int y)
    {
        const std::size_t at = (std::size_t(y) * skin.Width + x) * 3;
        return { skin.Data[at], skin.Data[at + 1], skin.Data[at + 2] };
    }
    using BGR = std::vector<int>;

    TScratchDir dir;
    std::string atlasPath = dir.File("ship.bmp");
    std::string namesPath = dir.File("ship.fns");
    TLines log;
    TOBJModel obj;
    TMDLModel mdl;
};

} // namespace

TEST_F(MakeFromOBJTest, ReversesTrianglesAndSplitsQuadsFromTheirFirstCorner)
{
    for (int i = 0; i < 4; ++i)
        obj.Vertices.push_back(Vec3Zero());
    AddFace({ { 1, 5 }, { 2, 6 }, { 3, 7 }, { 4, 8 } }, "hull");
    AddFace({ { 1, 5 }, { 2, 6 } }); // too few corners: no triangle
    AddFace({ { 2, NoUV }, { 3, NoUV }, { 4, NoUV } }, "deck");
    Build();

    const TMDLTriangles& t = *mdl.Triangles;
    ASSERT_EQ(t.Count(), 3);
    EXPECT_EQ(t.ActivityLog, &log);
    const std::int32_t expected[3][6] = {
        { 2, 1, 0, 6, 5, 4 }, { 3, 2, 0, 7, 6, 4 },
        { 3, 2, 1, -2, -2, -2 }, // no texture index becomes -2
    };
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(t.Items[i].VertexIndex[k], expected[i][k]) << i;
            EXPECT_EQ(t.Items[i].UVIndex[k], expected[i][3 + k]) << i;
        }
    }
    std::vector<std::string> names;
    for (const std::uint32_t name : t.MaterialNames)
        names.push_back(t.MaterialNameTable.Name(name));
    EXPECT_EQ(names, (std::vector<std::string> { "hull", "hull", "deck" }));
    EXPECT_EQ(mdl.Header.NumTris, 3);
}

TEST_F(MakeFromOBJTest, FansPolygonsOfFiveToEightCornersFromTheFirst)
{
    // Corner k has vertex k and texture coordinate 10 + k (1-based).
    const std::vector<std::vector<int>> expected[] = {
        { { 2, 1, 0 }, { 3, 2, 0 }, { 4, 3, 0 } },
        { { 2, 1, 0 }, { 3, 2, 0 }, { 4, 3, 0 }, { 5, 4, 0 } },
        { { 2, 1, 0 }, { 3, 2, 0 }, { 4, 3, 0 }, { 5, 4, 0 }, { 6, 5, 0 } },
        { { 2, 1, 0 }, { 3, 2, 0 }, { 4, 3, 0 }, { 5, 4, 0 }, { 6, 5, 0 }, { 7, 6, 0 } },
    };
    for (int i = 0; i < 8; ++i)
        obj.Vertices.push_back(Vec3Zero());
    for (int n = 5; n <= 8; ++n) {
        obj.Faces.clear();
        obj.MoreCorners.clear();
        obj.TriangleCount = 0;
        AddFace({ { 1, 11 }, { 2, 12 }, { 3, 13 } }); // before, to offset the corner list
        std::vector<std::pair<int, int>> corners;
        for (int k = 1; k <= n; ++k)
            corners.emplace_back(k, 10 + k);
        AddFace(corners, "p");
        Build();
        const TMDLTriangles& t = *mdl.Triangles;
        const auto& triangles = expected[n - 5];
        ASSERT_EQ(t.Count(), 1 + static_cast<std::int32_t>(triangles.size())) << n;
        for (std::size_t i = 0; i < triangles.size(); ++i) {
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(t.Items[i + 1].VertexIndex[k], triangles[i][k]) << n << "/" << i;
                EXPECT_EQ(t.Items[i + 1].UVIndex[k], 10 + triangles[i][k]) << n << "/" << i;
            }
            EXPECT_EQ(t.MaterialNameTable.Name(t.MaterialNames[i + 1]), "p");
        }
        EXPECT_EQ(mdl.Header.NumTris, n - 1);
    }
}

TEST_F(MakeFromOBJTest, PlacesSkinVerticesInAtlasPixelsFromTheTop)
{
    AddMaterial("m", Vec3(1, 1, 1));
    AddUV(0.5f, 0.25f, 64, 128, 256);
    AddUV(0.999f, 0.0f, 64, 128, 256); // 127.872 truncates
    AddUV(0.0f, 1.5f, 64, 128, 256); // 256 - 384 wraps
    AddUV(0.7f, 0.7f, 0, 0, 0); // never stamped
    AddUV(1e30f, -1e30f, 100, 128, 256); // far out of range: low bits only
    AddUV(1.0f, 0.0f, 65000, 1000, 10); // 66000 wraps
    Build();

    ASSERT_TRUE(mdl.SkinVerts);
    const std::vector<TMDLSkinVert>& v = mdl.SkinVerts->Items;
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(v[0].U, 128);
    EXPECT_EQ(v[0].V, 192);
    EXPECT_EQ(v[1].U, 191);
    EXPECT_EQ(v[1].V, 256);
    EXPECT_EQ(v[2].U, 64);
    EXPECT_EQ(v[2].V, 65408);
    EXPECT_EQ(v[3].U, 0);
    EXPECT_EQ(v[3].V, 0);
    // 128 x 1e30 and 256 x 1e30 are multiples of 65536.
    EXPECT_EQ(v[4].U, 100);
    EXPECT_EQ(v[4].V, 256);
    EXPECT_EQ(v[5].U, 464);
    EXPECT_EQ(mdl.Header.NumSkinVerts, 6);
}

TEST_F(MakeFromOBJTest, MakesTheSkinsThatAtlasAndMaterialsCallFor)
{
    AddUV(0.5f, 0.5f, 0, 10, 10);
    // Neither: no skins, no skin vertices, and the header says so.
    Build();
    EXPECT_FALSE(mdl.TextureSkin);
    EXPECT_FALSE(mdl.ColourSkin);
    EXPECT_FALSE(mdl.SkinVerts);
    EXPECT_EQ(mdl.Header.NumSkins, 0);
    EXPECT_EQ(mdl.Header.NumSkinVerts, 0);

    // Materials only: a default-size colour skin, which is counted and written.
    AddMaterial("m", Vec3(0, 1, 0));
    Build();
    EXPECT_FALSE(mdl.TextureSkin);
    ASSERT_TRUE(mdl.ColourSkin);
    EXPECT_EQ(mdl.ColourSkin->SkinType, 4);
    EXPECT_EQ(mdl.ColourSkin->Width, 640);
    EXPECT_EQ(mdl.ColourSkin->Height, 480);
    EXPECT_EQ(mdl.Header.NumSkins, 1);
    EXPECT_EQ(mdl.Header.NumSkinVerts, 1);
    EXPECT_EQ(mdl.SaveToBytes().size(), 84u + 12 + 640 * 480 * 3 + 4 + 36);

    // Atlas and materials: the colour skin takes the atlas's size.
    WriteAtlas(7, 5);
    Build();
    ASSERT_TRUE(mdl.TextureSkin);
    EXPECT_EQ(mdl.TextureSkin->SkinType, 5);
    EXPECT_EQ(mdl.TextureSkin->Size(), 7 * 5 * 4);
    EXPECT_EQ(mdl.ColourSkin->Width, 7);
    EXPECT_EQ(mdl.ColourSkin->Height, 5);
    EXPECT_EQ(mdl.Header.NumSkins, 2);

    // The white atlas of a model without materials: an 80 x 80 skin, no
    // colour skin, and unstamped coordinates at the skin's corner.
    obj.Materials.clear();
    obj.UVs.clear();
    AddUV(0.5f, 0.5f, 0, 0, 0);
    WriteAtlas(80, 80);
    Build();
    ASSERT_TRUE(mdl.TextureSkin);
    EXPECT_EQ(mdl.TextureSkin->Width, 80);
    EXPECT_EQ(mdl.TextureSkin->Height, 80);
    EXPECT_FALSE(mdl.ColourSkin);
    EXPECT_EQ(mdl.Header.NumSkins, 1);
    ASSERT_EQ(mdl.Header.NumSkinVerts, 1);
    EXPECT_EQ(mdl.SkinVerts->Items[0].U, 0);
    EXPECT_EQ(mdl.SkinVerts->Items[0].V, 0);
}

TEST_F(MakeFromOBJTest, PaintsEachTriangleInItsMaterialColourWithAWideOutline)
{
    for (int i = 0; i < 3; ++i)
        obj.Vertices.push_back(Vec3Zero());
    AddMaterial("red", Vec3(1, 0, 0));
    AddMaterial("red", Vec3(0, 0, 1)); // a second of the same name is ignored
    AddMaterial("green", Vec3(0, 1, 0));
    WriteAtlas(100, 100);
    // Skin vertices (20, 20), (60, 20), (20, 60) and (70, 70), (90, 70), (70, 90).
    AddUV(0.2f, 0.8f, 0, 100, 100);
    AddUV(0.6f, 0.8f, 0, 100, 100);
    AddUV(0.2f, 0.4f, 0, 100, 100);
    AddUV(0.7f, 0.3f, 0, 100, 100);
    AddUV(0.9f, 0.3f, 0, 100, 100);
    AddUV(0.7f, 0.1f, 0, 100, 100);
    // Reversed by the build, so list the corners backwards.
    AddFace({ { 1, 3 }, { 2, 2 }, { 3, 1 } }, "red");
    AddFace({ { 1, 99 }, { 2, 2 }, { 3, 1 } }, "green"); // no skin vertex 99: not painted
    AddFace({ { 1, 6 }, { 2, 5 }, { 3, 4 } }, "unknown"); // keeps green
    Build();

    const TMDLSkin5& skin = *mdl.ColourSkin;
    ASSERT_EQ(skin.Width, 100);
    const BGR red { 0, 0, 255 }, green { 0, 255, 0 }, white { 255, 255, 255 };
    EXPECT_EQ(Pixel(skin, 30, 30), red);
    EXPECT_EQ(Pixel(skin, 40, 18), red) << "the outline reaches two pixels out";
    EXPECT_EQ(Pixel(skin, 40, 15), white);
    EXPECT_EQ(Pixel(skin, 75, 75), green);
    EXPECT_EQ(Pixel(skin, 5, 95), white);
}

TEST_F(MakeFromOBJTest, NamesFramesFromTheListFileLineByLine)
{
    // CR, LF and CR LF all end a line; blanks stay; byte 26 is text here and
    // NUL ends it.
    WriteText(
        namesPath, std::string(" walk \rrun\r\n\nj\x1Ump\n", 19) + std::string("\0tail\n", 6));
    Build();
    EXPECT_EQ(log.Lines.at(0), "Frame name list loaded.");
    // Read as far as the frames go.
    EXPECT_EQ(mdl.FrameNames, (std::vector<std::string> { " walk " }));
    for (int i = 0; i < 4; ++i)
        mdl.AddFrame(obj);
    EXPECT_EQ(mdl.FrameNames, (std::vector<std::string> { " walk ", "run", "", "j\x1Ump" }));
    EXPECT_EQ(mdl.Frames[0].NameText(), " walk ");
    EXPECT_EQ(mdl.Frames[1].NameText(), "run");
    EXPECT_EQ(mdl.Frames[2].NameText(), "");
    EXPECT_EQ(mdl.Frames[4].NameText(), "frame4");

    // An empty list is still a list; a missing one means default names.
    WriteText(namesPath, "");
    Build();
    EXPECT_EQ(log.Lines.at(2), "Frame name list loaded.");
    EXPECT_EQ(mdl.Frames[0].NameText(), "frame0");
    std::filesystem::remove(namesPath);
    Build();
    EXPECT_EQ(log.Lines.at(4), "Using default frame name.");
}

TEST_F(MakeFromOBJTest, FillsTheHeaderAndCentresFrameZero)
{
    // Axis 0 (the OBJ z) packs to 32767 and 32768, widened to 32766..32769.
    obj.Vertices = { Vec3(0, 0, 0), Vec3(0, 0, 4e-5f), Vec3(0, 0, 0) };
    obj.Normals = { Vec3(0, 0, 1), Vec3(0, 0, 1), Vec3(0, 0, 1) };
    AddUV(0, 0, 0, 0, 0);
    AddUV(0, 0, 0, 0, 0);
    AddUV(0, 0, 0, 0, 0);
    AddFace({ { 1, 1 }, { 2, 2 }, { 3, 3 } });
    Build();

    const TMDLHeader& h = mdl.Header;
    EXPECT_EQ(std::memcmp(h.Ident, "MDL5", 4), 0);
    EXPECT_EQ(h.Scale.X, 0.01f);
    EXPECT_EQ(h.Scale.Z, 0.01f);
    EXPECT_EQ(h.Offset.X, -327.67498779296875f);
    // The other axes span 32766..32768: centre 32767.
    EXPECT_EQ(h.Offset.Y, static_cast<float>(-32767.0f * static_cast<long double>(0.01f)));
    EXPECT_EQ(h.Offset.Z, h.Offset.Y);
    EXPECT_EQ(h.NumVerts, 3);
    EXPECT_EQ(h.NumTris, 1);
    EXPECT_EQ(h.NumFrames, 1);
    EXPECT_EQ(h.NumSkins, 0);
    EXPECT_EQ(h.Reserved1 | h.Reserved2 | h.SkinWidth | h.SkinHeight | h.Flags | h.Reserved4, 0);
    EXPECT_EQ(log.Lines,
        (std::vector<std::string> {
            "Using default frame name.", "MDL status:3Verts,1Faces,3UV Verts" }));

    // A second build starts from nothing and centres its own frame 0.
    mdl.AddFrame(obj);
    obj.Vertices = { Vec3(0.5f, 0.5f, 0.5f) };
    WriteText(namesPath, "idle\n");
    Build();
    EXPECT_EQ(mdl.Frames.size(), 1u);
    EXPECT_EQ(mdl.Header.NumFrames, 1);
    EXPECT_EQ(mdl.Frames[0].NameText(), "idle");
    EXPECT_EQ(mdl.Header.Offset.X, mdl.Header.Offset.Y);
    EXPECT_NEAR(mdl.Header.Offset.X, -491.5f, 0.01f);
    EXPECT_EQ(log.Lines.back(), "MDL status:1Verts,1Faces,3UV Verts");
}

// The conversion hands the atlas over in memory; the model must be the one
// the saved atlas file gives, also for an atlas without pixels whose sides
// are not both 0 (saved as an empty file).
TEST_F(MakeFromOBJTest, TakesTheAtlasInMemoryAsItsSavedFileWouldGiveIt)
{
    AddMaterial("m", Vec3(0, 0.5f, 1));
    AddUV(0.25f, 0.75f, 0, 8, 5);
    AddFace({ { 1, 1 }, { 1, 1 }, { 1, 1 } }, "m");
    obj.Vertices.push_back(Vec3(0.5f, -0.25f, 0));
    const std::pair<int, int> sides[] = { { 8, 5 }, { 0, 5 }, { 3, 0 } };
    for (const auto& [width, height] : sides) {
        TBitmap atlas;
        atlas.SetBitsPerPixel(24);
        atlas.SetWidth(width);
        atlas.SetHeight(height);
        if (atlas.HasPixels())
            atlas.Canvas().FillRect(TRect { 1, 1, 3, 2 });
        atlas.SaveBmpFile(atlasPath);
        Build();
        const std::vector<std::uint8_t> fromFile = mdl.SaveToBytes();
        mdl.MakeFromOBJ(obj, &atlas, namesPath);
        EXPECT_TRUE(mdl.SaveToBytes() == fromFile) << width << " x " << height;
        EXPECT_FALSE(atlas.HasPixels());
    }
}

TEST_F(MakeFromOBJTest, StopsOnAnAtlasThatIsNotABitmap)
{
    WriteText(atlasPath, "not a bitmap");
    EXPECT_THROW(Build(), EReadError);
}

// The colour skin is painted in two halves by two threads; the halves must
// join into exactly the skin one pass paints: triangles across the border,
// off the skin, of unknown materials and without skin vertices included, on
// skins of odd and even heights.
// The colour skin as painting every triangle in order paints it: the
// colours of a triangle's material, or those of the last triangle that had
// one (a black pen and a white brush before any).
std::vector<std::uint8_t> ColourSkinInOrder(
    const TMDLModel& mdl, const TOBJModel& obj, std::int32_t width, std::int32_t height)
{
    TBitmap skin;
    skin.SetBitsPerPixel(24);
    skin.SetWidth(width);
    skin.SetHeight(height);
    TCanvas& canvas = skin.Canvas();
    canvas.Pen.SetWidth(5);
    const std::vector<TMDLSkinVert>& verts = mdl.SkinVerts->Items;
    for (std::size_t i = 0; i < mdl.Triangles->Items.size(); ++i) {
        for (const TOBJMaterial& material : obj.Materials) {
            if (material.Name
                == mdl.Triangles->MaterialNameTable.Name(mdl.Triangles->MaterialNames[i])) {
                canvas.Pen.Color = canvas.Brush.Color = VecToColor(material.Kd);
                break;
            }
        }
        TPoint points[3];
        bool onSkin = true;
        for (int k = 0; k < 3; ++k) {
            const auto index = static_cast<std::size_t>(mdl.Triangles->Items[i].UVIndex[k]);
            onSkin = onSkin && index < verts.size();
            if (onSkin)
                points[k] = { verts[index].U, verts[index].V };
        }
        if (onSkin)
            canvas.Polygon(points, 3);
    }
    std::vector<std::uint8_t> rows;
    for (std::int32_t y = 0; y < height; ++y)
        rows.insert(rows.end(), skin.RowData(y), skin.RowData(y) + std::size_t(width) * 3);
    return rows;
}

TEST_F(MakeFromOBJTest, PaintsTheSameColourSkinInTwoHalvesAsInOrder)
{
    std::mt19937 random(99);
    std::uniform_real_distribution<float> coordinate(-0.2f, 1.2f);
    for (int i = 0; i < 3; ++i)
        obj.Vertices.push_back(Vec3Zero());
    AddMaterial("a", Vec3(1, 0, 0));
    AddMaterial("b", Vec3(0, 0.5f, 1));
    const char* const names[] = { "a", "b", "missing" };
    for (int i = 0; i < 3000; ++i) {
        // Mostly small triangles, as a mesh's layout gives, some large.
        const float u = coordinate(random), v = coordinate(random);
        const float size = i % 10 == 0 ? 0.5f : 0.02f;
        AddUV(u, v, 0, 301, 201);
        AddUV(u + size * coordinate(random), v + size * coordinate(random), 0, 301, 201);
        AddUV(u - size * coordinate(random), v + size * coordinate(random), 0, 301, 201);
        const int first = 3 * i + 1;
        AddFace({ { 1, first }, { 2, i % 97 == 0 ? 99999 : first + 1 }, { 3, first + 2 } },
            names[(i / 40 + 2) % 3]);
    }
    for (const int height : { 201, 200 }) {
        WriteAtlas(301, height);
        mdl.PaintInParallel = false;
        Build();
        const std::vector<std::uint8_t> whole = mdl.ColourSkin->Data;
        mdl.PaintInParallel = true;
        Build();
        EXPECT_EQ(mdl.ColourSkin->Height, height);
        EXPECT_TRUE(mdl.ColourSkin->Data == whole) << "a skin of height " << height;
        EXPECT_TRUE(ColourSkinInOrder(mdl, obj, 301, height) == whole)
            << "not the skin of the triangles painted in order, height " << height;
        EXPECT_NE(std::count(whole.begin(), whole.end(), 255), std::ptrdiff_t(whole.size()))
            << "nothing was painted";
    }
}
