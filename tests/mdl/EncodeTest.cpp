// Frame encoding: packed coordinates, the normal index, boxes and names.
#include "mdl/MDLClass.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "obj/OBJClass.h"

namespace {

int NormalIndexOf(const TVec3& normal)
{
    TMDLPackedVertex vertex {};
    TMDLModel::EncodeVertex(Vec3Zero(), normal, vertex);
    return vertex.NormalIndex;
}

} // namespace

TEST(PackCoord, MapsMinusOneToOneOntoTheSixteenBitRange)
{
    const struct
    {
        float Coord;
        std::uint16_t Packed;
    } cases[] = {
        { -1.0f, 0 },
        { -0.5f, 16383 }, // 16383.5 is truncated, not rounded
        { 0.0f, 32767 },
        { 0.5f, 49150 },
        { 1.0f, 65534 },
        { 1.0001f, 1 }, // 65537
        { -1.0001f, 65533 }, // -3
        { -1.00001f, 0 }, // -0.33 truncates to 0
        // 1 + c is formed in extended precision: a tiny negative c stays below 1.
        { -1e-18f, 32766 },
        { -1e-21f, 32767 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(TMDLModel::PackCoord(c.Coord), c.Packed) << c.Coord;
}

TEST(PackCoord, KeepsTheLowBitsOfValuesFarOutOfRange)
{
    // Integral coordinates make (c + 1) * 32767 an exact integer, so 64-bit
    // arithmetic gives the expected low bits.
    for (float coord : { 1e6f, -1e6f, 3.0e9f, -7.5e8f, 65536.0f }) {
        const std::int64_t product = (static_cast<std::int64_t>(coord) + 1) * 32767;
        EXPECT_EQ(TMDLModel::PackCoord(coord), static_cast<std::uint16_t>(product)) << coord;
    }
    // Beyond 2^80 every product is a multiple of 65536.
    EXPECT_EQ(TMDLModel::PackCoord(1e30f), 0);
    EXPECT_EQ(TMDLModel::PackCoord(-std::numeric_limits<float>::max()), 0);
    EXPECT_EQ(TMDLModel::PackCoord(std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ(TMDLModel::PackCoord(std::numeric_limits<float>::quiet_NaN()), 0);
}

// Packing is defined in extended precision; most coordinates take a shorter
// way, which must give the same bits for every single, near the borders of
// that way included.
TEST(PackCoord, GivesTheExtendedPrecisionResultForEverySingle)
{
    auto reference = [](float coord) {
        const long double product = (static_cast<long double>(coord) + 1.0L) * 32767.0L;
        if (product > -9.0e18L && product < 9.0e18L)
            return static_cast<std::uint16_t>(static_cast<std::int64_t>(product));
        if (!std::isfinite(product))
            return std::uint16_t(0);
        long double rest = std::fmod(std::trunc(product), 65536.0L);
        if (rest < 0)
            rest += 65536.0L;
        return static_cast<std::uint16_t>(static_cast<std::uint32_t>(rest));
    };
    std::mt19937 random(7);
    std::vector<float> coords;
    for (int i = 0; i < 1000000; ++i) {
        const std::uint32_t bits = random();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        coords.push_back(f);
        // Uniform in -1..1 as well, where models live.
        coords.push_back(std::ldexp(static_cast<float>(bits >> 8), -23) - 1.0f);
    }
    for (float border : { 0x1p-14f, 0x1p30f, 1.0f, 0.5f }) {
        for (float c = border, k = 0; k < 64; ++k, c = std::nextafter(c, 0.0f)) {
            coords.push_back(c);
            coords.push_back(-c);
            coords.push_back(std::nextafter(border, 1e38f) + (c - border));
        }
    }
    int mismatches = 0;
    for (float c : coords) {
        if (TMDLModel::PackCoord(c) != reference(c) && ++mismatches <= 5)
            ADD_FAILURE() << "coordinate " << c;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(EncodeVertex, PacksThePositionInTheOrderZXY)
{
    TMDLPackedVertex vertex {};
    vertex.Pad = 0xAB;
    TMDLModel::EncodeVertex(Vec3(0.5f, -0.5f, 0.0f), Vec3(0, 0, 1), vertex);
    EXPECT_EQ(vertex.Coord[0], 32767);
    EXPECT_EQ(vertex.Coord[1], 49150);
    EXPECT_EQ(vertex.Coord[2], 16383);
    EXPECT_EQ(vertex.Pad, 0xAB) << "encoding leaves Pad alone";
}

TEST(NormalIndex, PicksTheTableDirectionOfTheNormal)
{
    const struct
    {
        TVec3 Normal;
        int Index;
    } cases[] = {
        { { 0, 0, 1 }, 5 },
        { { 1, 0, 0 }, 52 },
        { { 0, 1, 0 }, 32 },
        { { 0, 0, -1 }, 84 },
        { { -1, 0, 0 }, 143 },
        { { 0, -1, 0 }, 104 },
        { { 0, 0, 2 }, 5 }, // the length does not matter
        { { 0, 0, 0 }, 0 },
        { { -0.0f, 0, 0 }, 0 },
        // Ties between entries 45, 47 and 50: the lowest index wins.
        { { 1, 1, 1 }, 45 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NearestNormalIndex(c.Normal), c.Index)
            << c.Normal.X << " " << c.Normal.Y << " " << c.Normal.Z;
        EXPECT_EQ(PlainNormalIndex(c.Normal), c.Index)
            << c.Normal.X << " " << c.Normal.Y << " " << c.Normal.Z;
    }
}

// A vertex's OBJ normal (x, y, z) is looked up in the file's axes (z, x, y)
// and reversed, as the stored triangles wind the other way round.
TEST(EncodeVertex, LooksUpTheNormalInTheFilesAxesReversed)
{
    const struct
    {
        TVec3 OBJ;
        TVec3 File;
    } cases[] = {
        { { 0, 0, 1 }, { -1, 0, 0 } },
        { { 1, 0, 0 }, { 0, -1, 0 } },
        { { 0, 1, 0 }, { 0, 0, -1 } },
        { { 0, 0, -1 }, { 1, 0, 0 } },
        { { 1, 1, 1 }, { -1, -1, -1 } },
        { { 0.25f, -0.5f, 0.75f }, { -0.75f, -0.25f, 0.5f } },
        { { 0, 0, 0 }, { 0, 0, 0 } },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NormalIndexOf(c.OBJ), PlainNormalIndex(c.File))
            << c.OBJ.X << " " << c.OBJ.Y << " " << c.OBJ.Z;
    }
}

TEST(NormalIndex, KeepsTheTableEntriesThatAreOffTheirMirrorImages)
{
    EXPECT_EQ(MDLNormals[0].X, -0.525725f);
    EXPECT_EQ(MDLNormals[0].Z, 0.850650f);
    EXPECT_EQ(MDLNormals[11].X, 0.525731f);
    EXPECT_EQ(MDLNormals[76].X, 0.688197f);
    EXPECT_EQ(MDLNormals[161].Z, -0.425327f);
    // Each of them is still the nearest entry to itself.
    for (int i : { 0, 76, 161 })
        EXPECT_EQ(NearestNormalIndex(MDLNormals[i]), i);
}

class AddFrameTest : public ::testing::Test
{
protected:
    void AddVertex(TVec3 position, TVec3 normal)
    {
        obj.Vertices.push_back(position);
        obj.Normals.push_back(normal);
    }
    static std::vector<std::uint16_t> Box(const TMDLPackedVertex& v)
    {
        EXPECT_EQ(v.NormalIndex, 0);
        EXPECT_EQ(v.Pad, 0);
        return { v.Coord[0], v.Coord[1], v.Coord[2] };
    }
    using Coords = std::vector<std::uint16_t>;

    TOBJModel obj;
    TMDLModel mdl;
};

TEST_F(AddFrameTest, WidensTheBoxOfItsVerticesByOneUnit)
{
    AddVertex(Vec3Zero(), Vec3(0, 0, 1));
    mdl.AddFrame(obj);
    ASSERT_EQ(mdl.Frames.size(), 1u);
    EXPECT_EQ(Box(mdl.Frames[0].BBoxMin), (Coords { 32766, 32766, 32766 }));
    EXPECT_EQ(Box(mdl.Frames[0].BBoxMax), (Coords { 32768, 32768, 32768 }));

    // A later frame of another length would make the file unreadable.
    obj.Vertices.clear();
    obj.Normals.clear();
    EXPECT_THROW(mdl.AddFrame(obj), EInvalidOperation);
    EXPECT_EQ(mdl.Frames.size(), 1u);
    EXPECT_EQ(mdl.Header.NumFrames, 1);

    mdl.Clear();
    mdl.AddFrame(obj);
    EXPECT_EQ(mdl.Frames[0].Count(), 0);
    EXPECT_EQ(Box(mdl.Frames[0].BBoxMin), (Coords { 65534, 65534, 65534 }));
    EXPECT_EQ(Box(mdl.Frames[0].BBoxMax), (Coords { 1, 1, 1 }));
}

TEST_F(AddFrameTest, TakesEachAxisBoundFromAnyVertexAndHoldsTheEndsOfTheRange)
{
    // Pack to (65535, 0, 49150) and (32767, 32767, 16383); the normals are
    // looked up as (0, -1, 0) and (0, 0, -1).
    AddVertex(Vec3(-1.0f, 0.5f, 1.00004f), Vec3(1, 0, 0));
    AddVertex(Vec3(0.0f, -0.5f, 0.0f), Vec3(0, 1, 0));
    mdl.AddFrame(obj);
    const TMDLFrame& frame = mdl.Frames[0];
    EXPECT_EQ(Box(frame.BBoxMin), (Coords { 32766, 0, 16382 }));
    EXPECT_EQ(Box(frame.BBoxMax), (Coords { 65535, 32768, 49151 }));
    EXPECT_EQ(frame.FrameType, 2);
    ASSERT_EQ(frame.Count(), 2);
    EXPECT_EQ(frame.Vertices[0].NormalIndex, 104);
    EXPECT_EQ(frame.Vertices[1].NormalIndex, 84);
}

TEST_F(AddFrameTest, TakesNormalsByListPositionAndGivesMissingOnesIndexZero)
{
    AddVertex(Vec3Zero(), Vec3(0, 0, -1)); // looked up as (1, 0, 0)
    obj.Vertices.push_back(Vec3(0.5f, 0, 0)); // no normal at position 1
    mdl.AddFrame(obj);
    const TMDLFrame& frame = mdl.Frames[0];
    ASSERT_EQ(frame.Count(), 2);
    EXPECT_EQ(frame.Vertices[0].NormalIndex, 52);
    EXPECT_EQ(frame.Vertices[1].NormalIndex, 0);
    EXPECT_EQ(frame.Vertices[1].Coord[1], 49150);
    EXPECT_EQ(frame.Vertices[1].Pad, 0);
}

TEST_F(AddFrameTest, TakesEachFilesOwnListsAndGivesASumBeyondSinglesIndexZero)
{
    // A face without normals whose cross product is 1e40 along z.
    obj.Vertices = { Vec3Zero(), Vec3(1e20f, 0, 0), Vec3(0, 1e20f, 0) };
    obj.Faces.push_back(TOBJFace { { { 1, NoUV, 0 }, { 2, NoUV, 0 }, { 3, NoUV, 0 } }, 3, 0, 0 });
    mdl.AddFrame(obj);
    // The next file names its second normal at corner 1.
    obj.Normals = { Vec3(0, 0, 2), Vec3(3, 0, 0) };
    obj.Faces[0].Corners[0].Normal = 2;
    mdl.AddFrame(obj);

    const int east = NormalIndexOf(Vec3(1, 0, 0));
    const int expected[2][3] = { { 0, 0, 0 }, { east, east, 0 } };
    for (int f = 0; f < 2; ++f) {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(mdl.Frames[f].Vertices[i].NormalIndex, expected[f][i]) << f << " " << i;
    }
}

TEST_F(AddFrameTest, NamesFramesFromTheListThenByNumber)
{
    mdl.FrameNames = { "walk", "", "a name of twenty....", "jump" };
    for (int i = 0; i < 5; ++i)
        mdl.AddFrame(obj);
    EXPECT_EQ(mdl.Header.NumFrames, 5);
    EXPECT_EQ(mdl.Frames[0].NameText(), "walk");
    EXPECT_EQ(mdl.Frames[3].NameText(), "jump");
    EXPECT_EQ(mdl.Frames[4].NameText(), "frame4");

    const char empty[FrameNameSize] = {};
    EXPECT_EQ(std::memcmp(mdl.Frames[1].Name, empty, FrameNameSize), 0);
    // A long name keeps its first 15 bytes and its terminator.
    const char cut[FrameNameSize] = "a name of twent";
    EXPECT_EQ(std::memcmp(mdl.Frames[2].Name, cut, FrameNameSize), 0);
    // The bytes after a short name stay 0.
    const char walk[FrameNameSize] = "walk";
    EXPECT_EQ(std::memcmp(mdl.Frames[0].Name, walk, FrameNameSize), 0);

    TMDLModel fresh;
    fresh.AddFrame(obj);
    const char frame0[FrameNameSize] = { 0x66, 0x72, 0x61, 0x6D, 0x65, 0x30 };
    EXPECT_EQ(std::memcmp(fresh.Frames[0].Name, frame0, FrameNameSize), 0);
}
