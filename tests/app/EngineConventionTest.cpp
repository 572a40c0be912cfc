// Converted models as the engine reads them: each position is the packed
// coordinate times the axis's scale plus its offset, and each vertex's table
// normal points the way the stored triangles around it wind, as in the
// engine's own files.
#include "app/ConversionCommand.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppTestUtil.h"
#include "obj/OBJClass.h"
#include "util/FileIO.h"

namespace {

using TPoint = std::array<double, 3>;

TPoint Sub(const TPoint& a, const TPoint& b)
{
    return { a[0] - b[0], a[1] - b[1], a[2] - b[2] };
}

TPoint Cross(const TPoint& a, const TPoint& b)
{
    return { a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0] };
}

struct TAgreement
{
    int Along = 0; // within 45 degrees of the winding's direction
    int Against = 0; // within 45 degrees of its opposite
    int Vertices = 0;
};

// For each vertex, the sum of (B - A) x (C - A) over the stored triangles
// around it, against its table normal.
TAgreement Agreement(const std::vector<TPoint>& positions,
    const std::vector<std::array<int, 3>>& triangles, const std::vector<int>& normalIndices)
{
    std::vector<TPoint> sums(positions.size(), TPoint { 0, 0, 0 });
    for (const auto& t : triangles) {
        const TPoint n
            = Cross(Sub(positions[t[1]], positions[t[0]]), Sub(positions[t[2]], positions[t[0]]));
        for (int v : t) {
            for (int k = 0; k < 3; ++k)
                sums[v][k] += n[k];
        }
    }
    TAgreement result;
    result.Vertices = static_cast<int>(positions.size());
    const double limit = std::sqrt(0.5);
    for (std::size_t v = 0; v < positions.size(); ++v) {
        const TVec3& table = MDLNormals[normalIndices[v]];
        const TPoint& s = sums[v];
        const double length = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
        if (length == 0)
            continue;
        const double cosine = (s[0] * table.X + s[1] * table.Y + s[2] * table.Z) / length;
        result.Along += cosine >= limit;
        result.Against += cosine <= -limit;
    }
    return result;
}

// The engine's reading of a frame: packed coordinate x scale + offset.
std::vector<TPoint> EnginePositions(const TMDLHeader& header, const TMDLFrame& frame)
{
    const float scale[3] = { header.Scale.X, header.Scale.Y, header.Scale.Z };
    const float offset[3] = { header.Offset.X, header.Offset.Y, header.Offset.Z };
    std::vector<TPoint> positions;
    for (const TMDLPackedVertex& v : frame.Vertices) {
        TPoint p;
        for (int axis = 0; axis < 3; ++axis)
            p[axis] = double(v.Coord[axis]) * scale[axis] + offset[axis];
        positions.push_back(p);
    }
    return positions;
}

TAgreement FrameAgreement(const TMDLModel& model, std::size_t frame)
{
    std::vector<std::array<int, 3>> triangles;
    for (const TMDLTriangle& t : model.Triangles->Items)
        triangles.push_back({ t.VertexIndex[0], t.VertexIndex[1], t.VertexIndex[2] });
    std::vector<int> indices;
    for (const TMDLPackedVertex& v : model.Frames[frame].Vertices)
        indices.push_back(v.NormalIndex);
    return Agreement(EnginePositions(model.Header, model.Frames[frame]), triangles, indices);
}

// An icosahedron split twice (162 vertices, 320 faces) of the given radius,
// faces counter-clockwise seen from outside, with outward normals unless
// told otherwise.
std::string Icosphere(double radius, bool withNormals)
{
    const double t = (1 + std::sqrt(5.0)) / 2;
    std::vector<TPoint> points
        = { { -1, t, 0 }, { 1, t, 0 }, { -1, -t, 0 }, { 1, -t, 0 }, { 0, -1, t }, { 0, 1, t },
              { 0, -1, -t }, { 0, 1, -t }, { t, 0, -1 }, { t, 0, 1 }, { -t, 0, -1 }, { -t, 0, 1 } };
    std::vector<std::array<int, 3>> faces = { { 0, 11, 5 }, { 0, 5, 1 }, { 0, 1, 7 }, { 0, 7, 10 },
        { 0, 10, 11 }, { 1, 5, 9 }, { 5, 11, 4 }, { 11, 10, 2 }, { 10, 7, 6 }, { 7, 1, 8 },
        { 3, 9, 4 }, { 3, 4, 2 }, { 3, 2, 6 }, { 3, 6, 8 }, { 3, 8, 9 }, { 4, 9, 5 }, { 2, 4, 11 },
        { 6, 2, 10 }, { 8, 6, 7 }, { 9, 8, 1 } };
    auto unit = [](TPoint p) {
        const double l = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        return TPoint { p[0] / l, p[1] / l, p[2] / l };
    };
    for (TPoint& p : points)
        p = unit(p);
    for (int round = 0; round < 2; ++round) {
        std::map<std::pair<int, int>, int> middles;
        auto middle = [&](int a, int b) {
            const auto key = std::make_pair(std::min(a, b), std::max(a, b));
            const auto found = middles.find(key);
            if (found != middles.end())
                return found->second;
            points.push_back(unit({ points[a][0] + points[b][0], points[a][1] + points[b][1],
                points[a][2] + points[b][2] }));
            return middles[key] = static_cast<int>(points.size()) - 1;
        };
        std::vector<std::array<int, 3>> finer;
        for (const auto& f : faces) {
            const int ab = middle(f[0], f[1]), bc = middle(f[1], f[2]), ca = middle(f[2], f[0]);
            finer.push_back({ f[0], ab, ca });
            finer.push_back({ f[1], bc, ab });
            finer.push_back({ f[2], ca, bc });
            finer.push_back({ ab, bc, ca });
        }
        faces = finer;
    }
    std::string text;
    char line[128];
    for (const TPoint& p : points) {
        std::snprintf(
            line, sizeof line, "v %.6f %.6f %.6f\n", p[0] * radius, p[1] * radius, p[2] * radius);
        text += line;
        if (withNormals) {
            std::snprintf(line, sizeof line, "vn %.6f %.6f %.6f\n", p[0], p[1], p[2]);
            text += line;
        }
    }
    for (const auto& f : faces) {
        if (withNormals)
            std::snprintf(line, sizeof line, "f %d//%d %d//%d %d//%d\n", f[0] + 1, f[0] + 1,
                f[1] + 1, f[1] + 1, f[2] + 1, f[2] + 1);
        else
            std::snprintf(line, sizeof line, "f %d %d %d\n", f[0] + 1, f[1] + 1, f[2] + 1);
        text += line;
    }
    return text;
}

class EngineConventionTest : public ::testing::Test
{
protected:
    // Converts Base_0.obj and its series in dir into out.mdl and reads it back.
    void Convert(const std::string& base, TMDLModel& model)
    {
        host.OBJFile = dir.File(base + "_0.obj");
        host.MDLFile = dir.File("out.mdl");
        ASSERT_EQ(command.Execute(), TConversionCommand::TResult::Completed)
            << ::testing::PrintToString(host.Errors);
        model.LoadFromFile(dir.File("out.mdl"));
    }

    TScratchDir dir;
    TScriptedHost host;
    TConversionCommand command { host };
};

} // namespace

TEST_F(EngineConventionTest, TableNormalsFollowTheStoredWindingInEveryFrame)
{
    // Normals given, normals worked out from the faces, and a frame beyond
    // -1..1, whose axes are then fitted.
    WriteText(dir.File("ball_0.obj"), Icosphere(0.9, true));
    WriteText(dir.File("ball_1.obj"), Icosphere(0.5, false));
    WriteText(dir.File("ball_2.obj"), Icosphere(40.0, true));
    TMDLModel model;
    Convert("ball", model);
    ASSERT_EQ(model.Frames.size(), 3u);
    ASSERT_EQ(model.Frames[0].Count(), 162);
    for (std::size_t f = 0; f < 3; ++f) {
        const TAgreement a = FrameAgreement(model, f);
        EXPECT_GE(a.Along, a.Vertices * 95 / 100) << "frame " << f;
        EXPECT_EQ(a.Against, 0) << "frame " << f;
    }
}

// Every engine position is 327.67 times its OBJ coordinate less one constant
// per axis, within one packing step, however far the model reaches.
TEST_F(EngineConventionTest, FitsEachAxisToTheRangeOfEveryFrame)
{
    // OBJ x (file Y) spans -100..250 in the last frame only; the others stay
    // inside -1..1 on every axis.
    auto frame = [](double xLow, double xHigh, double shift) {
        std::string text;
        char line[96];
        for (int i = 0; i <= 40; ++i) {
            const double s = i / 40.0;
            std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\n", xLow + (xHigh - xLow) * s,
                -0.9 + 1.8 * s * s + shift, 0.7 - 1.6 * s + shift);
            text += line;
        }
        for (int i = 1; i + 2 <= 41; ++i) {
            std::snprintf(line, sizeof line, "f %d %d %d\n", i, i + 1, i + 2);
            text += line;
        }
        return text;
    };
    const std::string frames[3] = { frame(-0.5, 0.75, 0), frame(-1, 1, 0.1), frame(-100, 250, 0) };
    for (int f = 0; f < 3; ++f)
        WriteText(dir.File("range_" + std::to_string(f) + ".obj"), frames[f]);
    TMDLModel model;
    Convert("range", model);
    ASSERT_EQ(model.Frames.size(), 3u);

    // Inside -1..1 an axis keeps the scale of 0.01; the wide one grows by 250.
    EXPECT_EQ(model.Header.Scale.X, 0.01f);
    EXPECT_EQ(model.Header.Scale.Z, 0.01f);
    EXPECT_FLOAT_EQ(model.Header.Scale.Y, 2.5f);
    const float steps[3] = { model.Header.Scale.X, model.Header.Scale.Y, model.Header.Scale.Z };
    double constant[3] = {};
    bool first = true;
    for (int f = 0; f < 3; ++f) {
        TOBJModel obj;
        obj.LoadOBJ(dir.File("range_" + std::to_string(f) + ".obj"), std::string());
        const std::vector<TPoint> engine = EnginePositions(model.Header, model.Frames[f]);
        for (std::size_t v = 0; v < engine.size(); ++v) {
            const TVec3& p = obj.Vertices[v];
            const double objAxis[3] = { p.Z, p.X, p.Y };
            for (int axis = 0; axis < 3; ++axis) {
                const double rest = engine[v][axis] - 327.67 * objAxis[axis];
                if (first)
                    constant[axis] = rest;
                EXPECT_NEAR(rest, constant[axis], steps[axis] * 1.001)
                    << "frame " << f << " vertex " << v << " axis " << axis;
            }
            first = false;
        }
    }
}

TEST_F(EngineConventionTest, RefusesCoordinatesBeyondWhatTheHeaderCanScale)
{
    WriteText(dir.File("far_0.obj"), "v 0 0 0\nv 0 1 0\nv 0 0 1\nf 1 2 3\n");
    WriteText(dir.File("far_1.obj"), "v 0 0 0\nv -6e35 1 0\nv 0 0 1\nf 1 2 3\n");
    host.OBJFile = dir.File("far_0.obj");
    host.MDLFile = dir.File("out.mdl");
    EXPECT_EQ(command.Execute(), TConversionCommand::TResult::Failed);
    EXPECT_EQ(host.Errors,
        std::vector<std::string> { "The model's coordinates reach 6e+35 on the OBJ x axis; an "
                                   "MDL5 model holds coordinates up to about 5e35." });
    EXPECT_FALSE(FileExists(dir.File("out.mdl")));
}

// Packing every frame once all are read gives, for a model inside -1..1, the
// bytes of packing each as it comes.
TEST_F(EngineConventionTest, AModelInsideTheUnitRangeKeepsItsBytes)
{
    WriteCube(dir, "box");
    WriteText(dir.File("box_1.obj"), CubeOBJ(0.25f));
    TMDLModel fitted;
    Convert("box", fitted);
    const std::vector<std::uint8_t> fittedBytes = ReadAllBytes(dir.File("out.mdl"));

    command.MDLModel.FitRange = false;
    TMDLModel asItComes;
    Convert("box", asItComes);
    EXPECT_EQ(ReadAllBytes(dir.File("out.mdl")), fittedBytes);
}

// The engine's own sample model, as the reader takes it.
class EngineSample : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!FileExists(TARVEX_ENGINE_SAMPLE))
            GTEST_SKIP() << "the engine's sample model is not at " << TARVEX_ENGINE_SAMPLE;
        model.LoadFromFile(TARVEX_ENGINE_SAMPLE);
    }

    TMDLModel model;
};

TEST_F(EngineSample, ReadsItsSkinTrianglesAndFrames)
{
    EXPECT_EQ(model.Header.NumVerts, 314);
    EXPECT_EQ(model.Header.NumTris, 576);
    EXPECT_EQ(model.Header.NumSkinVerts, 117);
    ASSERT_EQ(model.FileSkins().size(), 1u);
    const TMDLSkin5& skin = *model.FileSkins()[0];
    EXPECT_EQ(skin.SkinType, SkinType565);
    EXPECT_EQ(skin.Width, 1272);
    EXPECT_EQ(skin.Height, 1114);
    EXPECT_EQ(skin.Data.size(), 1272u * 1114 * 2);
    // Its first pixel, 0xA514.
    const std::vector<std::uint32_t> colours = skin.DecodeColours();
    ASSERT_EQ(colours.size(), 1272u * 1114);
    EXPECT_EQ(colours[0], 0xFFA5A2A5u);
    ASSERT_TRUE(model.SkinVerts);
    EXPECT_EQ(model.SkinVerts->Count(), 117);
    EXPECT_EQ(model.Triangles->Count(), 576);

    ASSERT_EQ(model.Frames.size(), 8u);
    for (std::size_t f = 0; f < 8; ++f) {
        EXPECT_EQ(model.Frames[f].NameText(), "shot" + std::to_string(f));
        EXPECT_EQ(model.Frames[f].FrameType, 2);
        EXPECT_EQ(model.Frames[f].Count(), 314);
    }
    // Packed (12850, 36751, 39064) and (3084, 12593, 30069) x scale + offset.
    const TMDLFrame& frame = model.Frames[0];
    const TMDLPackedVertex& first = frame.Vertices.front();
    const TMDLPackedVertex& last = frame.Vertices.back();
    EXPECT_EQ(first.Coord[0], 12850);
    EXPECT_EQ(first.NormalIndex, 52);
    EXPECT_EQ(last.Coord[2], 30069);
    EXPECT_EQ(last.NormalIndex, 62);
    const TVec3 a = model.DecodePosition(first), b = model.DecodePosition(last);
    EXPECT_EQ(a.X, -22.5067062f);
    EXPECT_EQ(a.Y, -4.69129848f);
    EXPECT_EQ(a.Z, 2.09000349f);
    EXPECT_EQ(b.X, -33.3325996f);
    EXPECT_EQ(b.Y, -10.3456593f);
    EXPECT_EQ(b.Z, 0.28516233f);
}

// The measure above on the engine's own sample model.
TEST_F(EngineSample, StoresNormalsAlongItsTrianglesWinding)
{
    const TAgreement a = FrameAgreement(model, 0);
    EXPECT_EQ(a.Vertices, 314);
    EXPECT_EQ(a.Along, 258);
    EXPECT_EQ(a.Against, 0);
}
