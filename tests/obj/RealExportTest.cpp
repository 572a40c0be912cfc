// The shapes of OBJ and MTL files that modelling programs write: corners
// without normals, polygons of any size, tab-indented MTL lines, texture
// options and an MTL file of another name.
#include "obj/OBJClass.h"

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "util/Errors.h"

namespace {

class RealExport : public ::testing::Test
{
protected:
    std::string Write(const std::string& name, const std::string& text)
    {
        const std::string path = Dir.File(name);
        WriteText(path, text);
        return path;
    }

    TScratchDir Dir;
    TOBJModel Model;
};

TEST_F(RealExport, ReadsEveryCornerForm)
{
    struct TRow
    {
        const char* Corner;
        std::int32_t Vertex, UV, Normal;
    };
    const TRow rows[] = {
        { "3", 3, NoUV, NoNormal }, { "3/2", 3, 2, NoNormal }, { "3//1", 3, NoUV, 1 },
        { "3/2/1", 3, 2, 1 }, { "3//", 3, NoUV, NoNormal }, { "3/2/", 3, 2, NoNormal },
        { "-1/-1/-1", 3, 2, 1 }, { "+3/$2/", 3, 2, NoNormal }, // forms of the general route alone
    };
    for (const TRow& row : rows) {
        // The corner last and first in a triangle, which the quick route
        // reads, and last in a pentagon, which the general route reads.
        const std::tuple<std::string, std::uint32_t, std::uint32_t> faces[] = {
            { std::string("f 1/1/1  2/1/1\t") + row.Corner, 2, 3 },
            { std::string("f\t") + row.Corner + " 1 2 ", 0, 3 },
            { std::string("f 1 2 1 2 ") + row.Corner, 4, 5 },
        };
        for (const auto& [face, at, count] : faces) {
            Model.LoadOBJ(
                Write("m.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 1\nvn 0 0 1\n" + face), "");
            ASSERT_EQ(Model.FaceCount(), 1) << face;
            const TOBJFace& read = Model.Faces[0];
            ASSERT_EQ(read.CornerCount, count) << face;
            const TOBJCorner& corner = Model.Corner(read, at);
            EXPECT_EQ(corner.Vertex, row.Vertex) << face;
            EXPECT_EQ(corner.UV, row.UV) << face;
            EXPECT_EQ(corner.Normal, row.Normal) << face;
            EXPECT_EQ(Model.TriangleCount, std::int32_t(count) - 2) << face;
        }
    }
    // A normal text that is there but no integer still fails.
    for (const char* corner : { "3/2/x", "3//1/", "3/2/1/1" }) {
        EXPECT_NE(MessageOfThrown<EConvertError>([&] {
            Model.LoadOBJ(Write("m.obj", std::string("f 1 2 ") + corner + "\n"), "");
        }).find("is not a valid integer"),
            std::string::npos)
            << corner;
    }
}

TEST_F(RealExport, KeepsEveryCornerOfALargePolygonAndGivesItDefaultCoordinates)
{
    std::string obj = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nusemtl a\nf 1//1 2//1 3 4\n";
    for (std::uint32_t n = 5; n <= 8; ++n) {
        obj += "f";
        for (std::uint32_t k = 0; k < n; ++k)
            obj += " " + std::to_string(k % 4 + 1) + "/" + std::to_string(k + 1);
        obj += "\n";
    }
    obj += "f 4 3 2 1 4 3\n";
    Model.LoadOBJ(Write("m.obj", obj), Write("m.mtl", "newmtl a\n"));
    ASSERT_EQ(Model.FaceCount(), 6);
    EXPECT_EQ(Model.TriangleCount, 2 + 3 + 4 + 5 + 6 + 4);
    for (std::uint32_t n = 5; n <= 8; ++n) {
        const TOBJFace& face = Model.Faces[n - 4];
        ASSERT_EQ(face.CornerCount, n);
        for (std::uint32_t k = 0; k < n; ++k) {
            EXPECT_EQ(Model.Corner(face, k).Vertex, std::int32_t(k % 4 + 1)) << n << "/" << k;
            EXPECT_EQ(Model.Corner(face, k).UV, std::int32_t(k + 1)) << n << "/" << k;
        }
    }
    // A polygon without texture indices: corners 1 to 4 take the four
    // defaults, the others the fourth.
    const TOBJFace& last = Model.Faces[5];
    const std::int32_t* defaults = Model.Materials[0].DefaultUV;
    for (std::uint32_t k = 0; k < 6; ++k)
        EXPECT_EQ(Model.Corner(last, k).UV, defaults[k < 4 ? k : 3]) << k;
    EXPECT_EQ(Model.Faces[0].Corners[3].UV, defaults[3]);
}

TEST_F(RealExport, ReadsColoursAndTextureStatementsAsExportersWriteThem)
{
    struct TRow
    {
        const char* Lines;
        TVec3 Kd;
        const char* MapKd;
    };
    const TRow rows[] = {
        { "\tKd 0.5 0.25 1\n\tmap_Kd wood.bmp\n", { 0.5f, 0.25f, 1 }, "wood.bmp" },
        { "Kd  0.5\t\t0.25   1  \n", { 0.5f, 0.25f, 1 }, "" },
        { "Kd 0.5\n", { 0.5f, 0.5f, 0.5f }, "" },
        { "Kd 0.5 \t\n", { 0.5f, 0.5f, 0.5f }, "" },
        { "map_Kd -s 1 1 1 wood.tga\n", {}, "wood.tga" },
        { "map_Kd -o 0.5 -s 2 -bm 0.3 wood.tga\n", {}, "wood.tga" },
        { "map_Kd -mm 0 1 -blendu off -blendv on -clamp on -cc off pic.png\n", {}, "pic.png" },
        { "map_Kd -boost 2 -texres 512 -imfchan m -type sphere pic.png\n", {}, "pic.png" },
        // Names with blanks are kept whole; only the line's ends are cut.
        { "map_Kd  My Textures\\Old Wood.png \t\n", {}, "My Textures\\Old Wood.png" },
        { "map_Kd -s 1 1 1\n", {}, "" },
        { "map_Kd -clamp\n", {}, "" },
        // Options match exactly: anything else starts the name.
        { "map_Kd -S 1 wood.tga\n", {}, "-S 1 wood.tga" },
        { "map_Kd -s 1 -2.5e1 x.tga\n", {}, "x.tga" },
        { "map_Kd -s 1 one.tga\n", {}, "one.tga" },
    };
    const std::string obj = Write("m.obj", "");
    for (const TRow& row : rows) {
        Model.LoadOBJ(obj, Write("m.mtl", std::string("newmtl a\n") + row.Lines));
        ASSERT_EQ(Model.MaterialCount(), 1) << row.Lines;
        EXPECT_EQ(Model.Materials[0].Kd.X, row.Kd.X) << row.Lines;
        EXPECT_EQ(Model.Materials[0].Kd.Y, row.Kd.Y) << row.Lines;
        EXPECT_EQ(Model.Materials[0].Kd.Z, row.Kd.Z) << row.Lines;
        EXPECT_EQ(Model.Materials[0].MapKd, row.MapKd) << row.Lines;
    }
    // Two numbers still fail on the missing third.
    EXPECT_EQ(MessageOfThrown<EConvertError>(
                  [&] { Model.LoadOBJ(obj, Write("m.mtl", "newmtl a\nKs 1 0.5\n")); }),
        "'' is not a valid floating-point number");
}

TEST_F(RealExport, ReadsTheMTLFileTheOBJNamesWhenNoneHasItsBaseName)
{
    // Folders, a folder as the name and the OBJ file itself are hostile cases.
    Write("other.mtl", "newmtl other\n");
    struct TRow
    {
        const char* Base; // the MTL of the base name, or null
        const char* OBJ;
        const char* Material; // empty: no materials
    };
    const TRow rows[] = {
        { "newmtl base\n", "mtllib other.mtl\n", "base" },
        { nullptr, "# exported\n\t MTLLIB  other.mtl  second.mtl\n", "other" },
        { nullptr, "mtllib none.mtl\nmtllib other.mtl\n", "" }, // the first one only
        { nullptr, "mtllib\n", "" },
    };
    for (const TRow& row : rows) {
        std::filesystem::remove(Dir.File("m.mtl"));
        if (row.Base)
            Write("m.mtl", row.Base);
        Model.LoadOBJ(Write("m.obj", row.OBJ), Dir.File("m.mtl"));
        const std::string material = Model.Materials.empty() ? "" : Model.Materials[0].Name;
        EXPECT_EQ(material, row.Material) << row.OBJ;
    }
    // The frames of a series read no MTL file at all.
    Model.LoadOBJ(Write("m_1.obj", "mtllib other.mtl\n"), "");
    EXPECT_TRUE(Model.Materials.empty());
}

} // namespace
