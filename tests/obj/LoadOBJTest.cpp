#include "obj/OBJClass.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "util/Errors.h"

namespace {

// Records what the model shows, in order.
class TRecorder : public TActivityLog, public TStatusPanel, public TEventPump
{
public:
    std::vector<std::string> Lines;
    std::vector<std::string> Texts;
    int Pumps = 0;

    void AddLine(const std::string& Text) override { Lines.push_back(Text); }
    void SetText(const std::string& Text) override { Texts.push_back(Text); }
    void ProcessMessages() override { ++Pumps; }
};

class LoadOBJ : public ::testing::Test
{
protected:
    LoadOBJ()
    {
        Model.ActivityLog = &Recorder;
        Model.StatusPanel = &Recorder;
        Model.EventPump = &Recorder;
    }

    std::string Write(const std::string& name, const std::string& text)
    {
        const std::string path = Dir.File(name);
        WriteText(path, text);
        return path;
    }
    // Reads an OBJ text, with an MTL text when one is given.
    void Load(const std::string& obj, const std::string& mtl = std::string())
    {
        Model.LoadOBJ(Write("m.obj", obj), mtl.empty() ? std::string() : Write("m.mtl", mtl));
    }
    // Reads an OBJ text that must fail with EConvertError; returns its message.
    std::string LoadFailing(const std::string& obj, const std::string& mtl = std::string())
    {
        try {
            Load(obj, mtl);
        } catch (const EConvertError& e) {
            return e.Message();
        }
        ADD_FAILURE() << "no conversion error";
        return std::string();
    }

    TScratchDir Dir;
    TRecorder Recorder;
    TOBJModel Model;
};

const char* const kThreeVertices = "v 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\nv 1 1 0\r\n"
                                   "vt 0 0\r\nvt 1 0\r\nvt 0 1\r\nvt 1 1\r\n"
                                   "vn 0 0 1\r\n";

void ExpectCorner(const TOBJCorner& c, std::int32_t vertex, std::int32_t uv, std::int32_t normal)
{
    EXPECT_EQ(c.Vertex, vertex);
    EXPECT_EQ(c.UV, uv);
    EXPECT_EQ(c.Normal, normal);
}

TEST_F(LoadOBJ, ReadsListsAndFacesOfThreeFourAndMoreCorners)
{
    Load(std::string(kThreeVertices)
        + "f 1/1/1 2/2/1 3/3/1\r\n"
          "f 1/1/1 2/2/1 4/4/1 3/3/1\r\n"
          "f 1/1/1 2/2/1 4/4/1 3/3/1 1/2/1\r\n"
          "fo 3//1 2//1 1//1\r\n"
          "f\r\n");
    ASSERT_EQ(Model.VertexCount(), 4);
    EXPECT_EQ(Model.Vertices[1].X, 1.0f);
    EXPECT_EQ(Model.Vertices[2].Y, 1.0f);
    EXPECT_EQ(Model.NormalCount(), 1);
    EXPECT_EQ(Model.Normals[0].Z, 1.0f);
    EXPECT_EQ(Model.UVCount(), 4);
    EXPECT_EQ(Model.UVs[3].U, 1.0f);
    EXPECT_EQ(Model.UVs[3].V, 1.0f);

    ASSERT_EQ(Model.FaceCount(), 5);
    EXPECT_EQ(Model.Faces[0].CornerCount, 3);
    ExpectCorner(Model.Faces[0].Corners[2], 3, 3, 1);
    ExpectCorner(Model.Faces[0].Corners[3], 0, 0, 0);
    EXPECT_EQ(Model.Faces[1].CornerCount, 4);
    // A fifth corner is kept in the list of further corners.
    EXPECT_EQ(Model.Faces[2].CornerCount, 5);
    ExpectCorner(Model.Faces[2].Corners[3], 3, 3, 1);
    ExpectCorner(Model.Corner(Model.Faces[2], 4), 1, 2, 1);
    EXPECT_EQ(Model.MoreCorners.size(), 1u);
    // "fo" is a face too; without materials its missing UVs stay missing.
    EXPECT_EQ(Model.Faces[3].CornerCount, 3);
    ExpectCorner(Model.Faces[3].Corners[0], 3, NoUV, 1);
    // "f" alone is a face of no corners and no triangles.
    EXPECT_EQ(Model.Faces[4].CornerCount, 0);
    ExpectCorner(Model.Faces[4].Corners[0], 0, 0, 0);
    EXPECT_EQ(Model.TriangleCount, 1 + 2 + 3 + 1);
}

TEST_F(LoadOBJ, MatchesKeywordsInAnyCaseAndSkipsEverythingElse)
{
    Load("# comment\r\n"
         "mtllib m.mtl\r\n"
         "o thing\r\ng group\r\ns 1\r\nvp 1 2\r\n"
         " v 9 9 9\r\n" // indented lines count
         "\tvt 0.5 0.5\r\n"
         "V 1 2 3\r\n"
         "Vt 0.25 0.75\r\n"
         "vN 0 1 0\r\n"
         "vertex 1 2 3\r\n"
         "\r\n"
         "F 1/1/1 1/1/1 1/1/1\r\n");
    ASSERT_EQ(Model.VertexCount(), 2);
    EXPECT_EQ(Model.Vertices[0].Z, 9.0f);
    EXPECT_EQ(Model.Vertices[1].Z, 3.0f);
    ASSERT_EQ(Model.UVCount(), 2);
    EXPECT_EQ(Model.UVs[1].U, 0.25f);
    EXPECT_EQ(Model.NormalCount(), 1);
    EXPECT_EQ(Model.FaceCount(), 1);
}

TEST_F(LoadOBJ, SeparatesArgumentsByRunsOfBlanksAndTabs)
{
    // Extra arguments are ignored: a w coordinate, a fourth vertex number.
    Load("v 1 2 3 4\r\nvt 0.5\t0.25 0\r\nvn 1\t0 0\r\n"
         "v  7.0 0.0 12.0\r\n"
         "\t v\t\t8 \t9   10 \t \r\n");
    EXPECT_EQ(Model.Vertices[0].Z, 3.0f);
    EXPECT_EQ(Model.UVs[0].V, 0.25f);
    EXPECT_EQ(Model.Normals[0].X, 1.0f);
    ASSERT_EQ(Model.VertexCount(), 3);
    EXPECT_EQ(Model.Vertices[1].X, 7.0f);
    EXPECT_EQ(Model.Vertices[1].Z, 12.0f);
    EXPECT_EQ(Model.Vertices[2].Y, 9.0f);
    EXPECT_EQ(Model.Vertices[2].Z, 10.0f);

    // A missing argument is still empty.
    EXPECT_EQ(LoadFailing("v 1  2\r\n"), "'' is not a valid floating-point number");
    EXPECT_EQ(LoadFailing("vt 0.5\r\n"), "'' is not a valid floating-point number");
    EXPECT_EQ(LoadFailing("v 1 2 3 \r\nv 1 2\r\n"), "'' is not a valid floating-point number");
    EXPECT_EQ(LoadFailing("v 1 2,5 3\r\n"), "'2,5' is not a valid floating-point number");
}

TEST_F(LoadOBJ, StopsAtTheFirstBadNumberAndKeepsWhatWasRead)
{
    // A normal text that is there must be an integer.
    EXPECT_EQ(LoadFailing("v 0 0 0\r\nf 1 2 3/3/x\r\nv 1 1 1\r\n"), "'x' is not a valid integer");
    EXPECT_EQ(Model.VertexCount(), 1);
    ASSERT_EQ(Model.FaceCount(), 1);
    // The corners before the bad one are kept, its triangle is not counted.
    EXPECT_EQ(Model.Faces[0].CornerCount, 2);
    ExpectCorner(Model.Faces[0].Corners[1], 2, NoUV, NoNormal);
    EXPECT_EQ(Model.TriangleCount, 0);

    EXPECT_EQ(LoadFailing("f 1/1/1/1 2/2/2 3/3/3\r\n"), "'1/1' is not a valid integer");

    // A vertex whose second number is bad is counted with its first one.
    EXPECT_EQ(LoadFailing("v 1 2 3\r\nv 4 x 6\r\nv 7 8 9\r\n"),
        "'x' is not a valid floating-point number");
    ASSERT_EQ(Model.VertexCount(), 2);
    EXPECT_EQ(Model.Vertices[1].X, 4.0f);
    EXPECT_EQ(Model.Vertices[1].Y, 0.0f);
    EXPECT_EQ(Model.Vertices[1].Z, 0.0f);
    // A bad texture coordinate adds nothing.
    EXPECT_EQ(LoadFailing("vt 0 0\r\nvt 1 nan\r\n"), "'nan' is not a valid floating-point number");
    EXPECT_EQ(Model.UVCount(), 1);

    // The next read starts over.
    Load("v 5 5 5\r\n");
    EXPECT_EQ(Model.VertexCount(), 1);
    EXPECT_EQ(Model.FaceCount(), 0);
    EXPECT_EQ(Model.UVCount(), 0);
}

TEST_F(LoadOBJ, GivesIdenticalModelsForEveryLineEnd)
{
    const std::string crlf = std::string(kThreeVertices)
        + "usemtl a\r\nf 1//1 2//1 3//1\r\nf -3/-3/-1 -2/-2/-1 -1/-1/-1\r\n";
    const std::string mtl = "newmtl a\r\nKd 1 0 0\r\n";
    Load(crlf, mtl);
    const TOBJModel& m = Model;
    const auto snapshot = [&m] {
        std::string s;
        for (const TVec3& v : m.Vertices)
            s += std::to_string(v.X) + "," + std::to_string(v.Y) + "," + std::to_string(v.Z) + ";";
        for (const TOBJUV& uv : m.UVs)
            s += std::to_string(uv.U) + "," + std::to_string(uv.V) + ";";
        for (const TOBJFace& f : m.Faces) {
            s += m.MaterialNameTable.Name(f.MaterialName) + ":" + std::to_string(f.CornerCount);
            for (const TOBJCorner& c : f.Corners) {
                s += " " + std::to_string(c.Vertex) + "/" + std::to_string(c.UV) + "/"
                    + std::to_string(c.Normal);
            }
            s += ";";
        }
        return s + std::to_string(m.NormalCount()) + "/" + std::to_string(m.TriangleCount);
    };
    const std::string expected = snapshot();
    ASSERT_EQ(Model.FaceCount(), 2);

    std::string lf = crlf, cr = crlf;
    lf.erase(std::remove(lf.begin(), lf.end(), '\r'), lf.end());
    cr.erase(std::remove(cr.begin(), cr.end(), '\n'), cr.end());
    Model.Materials.clear();
    Load(lf, mtl);
    EXPECT_EQ(snapshot(), expected);
    Model.Materials.clear();
    Load(cr, mtl);
    EXPECT_EQ(snapshot(), expected);
}

TEST_F(LoadOBJ, ResolvesRelativeIndicesAgainstTheListsSoFar)
{
    Load("v 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\nvt 0 0\r\nvt 1 1\r\nvn 0 0 1\r\n"
         "f -3/-2/-1 -2/-1/-1 -1/-1/-1\r\n"
         "v 5 5 5\r\nvn 1 0 0\r\n"
         "f -1/1/-1 -2/2/-2 1/-2/1\r\n"
         // Still below 1 after resolving: addresses nothing.
         "f -9/-9/-9 1/1/1 2/2/2\r\n");
    ExpectCorner(Model.Faces[0].Corners[0], 1, 1, 1);
    ExpectCorner(Model.Faces[0].Corners[1], 2, 2, 1);
    ExpectCorner(Model.Faces[0].Corners[2], 3, 2, 1);
    ExpectCorner(Model.Faces[1].Corners[0], 4, 1, 2);
    ExpectCorner(Model.Faces[1].Corners[1], 3, 2, 1);
    ExpectCorner(Model.Faces[1].Corners[2], 1, 1, 1);
    ExpectCorner(Model.Faces[2].Corners[0], 0, 0, 0);
}

TEST_F(LoadOBJ, SharesFourDefaultUVsPerMaterial)
{
    Load(std::string(kThreeVertices)
            + "f 1//1 2//1 3//1\r\n" // no material yet
              "usemtl stone\r\n"
              "f 1//1 2//1 3//1\r\n"
              "f 2//1 4//1 3//1 1//1\r\n"
              "f 1/2/1 2//1 3/4/1\r\n" // corner 1 has its own UV
              "usemtl Stone\r\n" // names are case-sensitive
              "f 1//1 2//1 3//1\r\n"
              "usemtl wood\r\n"
              "f 1//1 2//1 3//1\r\n",
        "newmtl stone\r\nKd 0.5 0.5 0.5\r\nnewmtl wood\r\n");
    ASSERT_EQ(Model.FaceCount(), 6);
    EXPECT_EQ(Model.MaterialNameTable.Name(Model.Faces[0].MaterialName), "");
    EXPECT_EQ(Model.Faces[0].Corners[0].UV, NoUV);

    // Made once for stone (UVs 5 to 8), once for wood (9 to 12).
    ASSERT_EQ(Model.UVCount(), 12);
    const float u[4] = { 0.5f, 0.45f, 0.5f, 0.55f }, v[4] = { 0.5f, 0.5f, 0.55f, 0.55f };
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(Model.UVs[4 + k].U, u[k]);
        EXPECT_EQ(Model.UVs[4 + k].V, v[k]);
        // All four corners, also on a triangle.
        EXPECT_EQ(Model.Faces[1].Corners[k].UV, 5 + k);
        EXPECT_EQ(Model.Faces[2].Corners[k].UV, 5 + k);
        EXPECT_EQ(Model.Faces[5].Corners[k].UV, 9 + k);
        EXPECT_EQ(Model.Materials[0].DefaultUV[k], 5 + k);
    }
    EXPECT_TRUE(Model.Materials[0].DefaultUVsMade);
    EXPECT_TRUE(Model.Materials[1].DefaultUVsMade);
    // Only corner 1 decides; the others keep their own state.
    ExpectCorner(Model.Faces[3].Corners[0], 1, 2, 1);
    EXPECT_EQ(Model.Faces[3].Corners[1].UV, NoUV);
    EXPECT_EQ(Model.Faces[3].Corners[2].UV, 4);
    EXPECT_EQ(Model.MaterialNameTable.Name(Model.Faces[4].MaterialName), "Stone");
    EXPECT_EQ(Model.Faces[4].Corners[0].UV, NoUV);
}

TEST_F(LoadOBJ, ChangesTheMaterialOfLaterFacesOnly)
{
    Load(std::string(kThreeVertices)
        + "f 1/1/1 2/2/1 3/3/1\r\nusemtl a b\r\nf 1/1/1 2/2/1 3/3/1\r\n"
          "usemtl\r\nf 1/1/1 2/2/1 3/3/1\r\n");
    EXPECT_EQ(Model.MaterialNameTable.Name(Model.Faces[0].MaterialName), "");
    // Names end at the first blank.
    EXPECT_EQ(Model.MaterialNameTable.Name(Model.Faces[1].MaterialName), "a");
    EXPECT_EQ(Model.MaterialNameTable.Name(Model.Faces[2].MaterialName), "");
}

TEST_F(LoadOBJ, ReadsMaterials)
{
    Load("",
        "Kd 0.1 0.1 0.1\r\n" // before any material: ignored
        "newmtl first\r\n"
        "Ka 0.1 0.2 0.3\r\n"
        "kd 1 0.5 0.25 9\r\n"
        "KS 0 0 1\r\n"
        "Ns 96.078431\r\n"
        "illum 2\r\n"
        "map_Kd -s 1 1 1 wood.tga\r\n"
        "newmtl\r\n"
        "MAP_KD textures\\Wood Grain.bmp\r\n");
    ASSERT_EQ(Model.MaterialCount(), 2);
    const TOBJMaterial& first = Model.Materials[0];
    EXPECT_EQ(first.Name, "first");
    EXPECT_EQ(first.Ka.Z, 0.3f);
    EXPECT_EQ(first.Kd.X, 1.0f);
    EXPECT_EQ(first.Kd.Y, 0.5f);
    EXPECT_EQ(first.Kd.Z, 0.25f);
    EXPECT_EQ(first.Ks.Z, 1.0f);
    EXPECT_EQ(first.Ns, 96.078431f);
    // Options before the name are skipped.
    EXPECT_EQ(first.MapKd, "wood.tga");
    EXPECT_EQ(first.RectW, 0);
    EXPECT_FALSE(first.DefaultUVsMade);
    EXPECT_EQ(Model.Materials[1].Name, "");
    // The name is the rest of the line.
    EXPECT_EQ(Model.Materials[1].MapKd, "textures\\Wood Grain.bmp");
    EXPECT_EQ(Model.Materials[1].Kd.X, 0.0f);
    EXPECT_EQ(Recorder.Lines, std::vector<std::string> { "MTL Loaded." });
    // The empty OBJ file shows no progress.
    EXPECT_TRUE(Recorder.Texts.empty());
    EXPECT_EQ(Model.VertexCount(), 0);

    // The colour is taken whole: the bad third number leaves Kd as it was.
    EXPECT_EQ(LoadFailing("", "newmtl a\r\nKd 0.5 0.5 0.5\r\nKd 1 1\r\n"),
        "'' is not a valid floating-point number");
    ASSERT_EQ(Model.MaterialCount(), 1);
    EXPECT_EQ(Model.Materials[0].Kd.X, 0.5f);
}

TEST_F(LoadOBJ, KeepsMaterialsOnlyWithoutAnMTLName)
{
    Load("", "newmtl a\r\n");
    ASSERT_EQ(Model.MaterialCount(), 1);
    // A further frame: no MTL name, the materials stay.
    Model.LoadOBJ(Write("m_1.obj", ""), "");
    EXPECT_EQ(Model.MaterialCount(), 1);
    // A new conversion whose MTL file is missing starts without materials.
    Model.LoadOBJ(Write("n.obj", ""), Dir.File("n.mtl"));
    EXPECT_EQ(Model.MaterialCount(), 0);
    EXPECT_EQ(Recorder.Lines.size(), 1u);
    // A folder is no MTL file either.
    Load("", "newmtl a\r\n");
    Model.LoadOBJ(Write("n.obj", ""), Dir.Path().string());
    EXPECT_EQ(Model.MaterialCount(), 0);
}

TEST_F(LoadOBJ, GivesFrameFacesTheDefaultUVsOfTheFirstFile)
{
    Load(std::string(kThreeVertices) + "usemtl a\r\nf 1//1 2//1 3//1\r\n", "newmtl a\r\n");
    ASSERT_EQ(Model.UVCount(), 8);
    // A frame without texture coordinates reuses indices 5 to 8, which its
    // own list does not hold: whoever uses them must check the list.
    Model.LoadOBJ(Write("m_1.obj", "v 0 0 0\r\nvn 0 0 1\r\nusemtl a\r\nf 1//1 1//1 1//1\r\n"), "");
    EXPECT_EQ(Model.UVCount(), 0);
    EXPECT_EQ(Model.Faces[0].Corners[0].UV, 5);
}

TEST_F(LoadOBJ, RaisesInOutErrorForAMissingOBJFile)
{
    Load("v 1 1 1\r\n");
    try {
        Model.LoadOBJ(Dir.File("missing.obj"), "");
        FAIL() << "read a missing file";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), IoFileNotFound);
    }
}

// One padded file of exactly 1000 bytes whose first line has the given length.
std::string ThousandBytes(std::size_t firstLine)
{
    std::string text = "#" + std::string(firstLine - 1, 'x') + "\r\n";
    while (text.size() < 1000)
        text += std::string(std::min<std::size_t>(48, 1000 - text.size() - 2), '#') + "\r\n";
    text.resize(1000);
    return text;
}

TEST_F(LoadOBJ, ShowsProgressOnTheLinesTheGeneratorPicks)
{
    // A fresh generator draws 0 first: the first line always shows.
    Model.Progress.SetState(0);
    Load(ThousandBytes(10));
    ASSERT_FALSE(Recorder.Texts.empty());
    // 12 of 1000 bytes: 1.2 rounds to 1.
    EXPECT_EQ(Recorder.Texts[0], "Loading OBJ.. 1% Complete");
    EXPECT_EQ(Recorder.Pumps, static_cast<int>(Recorder.Texts.size()));

    Model.Progress.SetState(0);
    Recorder.Texts.clear();
    Load(ThousandBytes(23));
    // 25 of 1000 bytes: 2.5 rounds to even.
    EXPECT_EQ(Recorder.Texts.at(0), "Loading OBJ.. 2% Complete");

    // Over many lines, about one in a hundred shows, and the counts of the
    // later texts keep the two bytes per line end.
    Model.Progress.SetState(0);
    Recorder.Texts.clear();
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += "#\n";
    Load(text);
    EXPECT_GT(Recorder.Texts.size(), 30u);
    EXPECT_LT(Recorder.Texts.size(), 80u);
    EXPECT_EQ(Recorder.Texts[0], "Loading OBJ.. 0% Complete");
    // With LF line ends the sum runs ahead of the size, 3 bytes counted for
    // every 2 read, so the percentage climbs past 100 towards 150.
    int previous = -1;
    for (const std::string& t : Recorder.Texts) {
        ASSERT_EQ(t.rfind("Loading OBJ.. ", 0), 0u) << t;
        const int percent = std::stoi(t.substr(14));
        EXPECT_EQ(t, "Loading OBJ.. " + std::to_string(percent) + "% Complete");
        EXPECT_GE(percent, previous);
        EXPECT_LE(percent, 150);
        previous = percent;
    }
    EXPECT_GT(previous, 100);
}

TEST(TProgressGenerator, IsTheLinearCongruentialSequence)
{
    TProgressGenerator generator;
    // The first draw of a run is 0: the state becomes 1, and 1 * 100 >> 32 is 0.
    EXPECT_EQ(generator.Next(), 0u);
    // 134775814 * 100 / 2^32 = 3.14
    EXPECT_EQ(generator.Next(), 3u);
    generator.SetState(1);
    std::uint32_t state = 1;
    int zeros = 0;
    for (int i = 0; i < 100000; ++i) {
        state = state * 134775813u + 1u;
        const std::uint32_t expected
            = static_cast<std::uint32_t>((std::uint64_t(state) * 100) >> 32);
        const std::uint32_t drawn = generator.Next();
        ASSERT_EQ(drawn, expected) << "draw " << i + 2;
        ASSERT_LT(drawn, 100u);
        zeros += drawn == 0;
    }
    // About one line in a hundred shows progress.
    EXPECT_GT(zeros, 800);
    EXPECT_LT(zeros, 1200);
}

TEST(TOBJModelUnset, WorksWithoutLogPanelOrPump)
{
    TScratchDir dir;
    const std::string obj = dir.File("a.obj"), mtl = dir.File("a.mtl");
    WriteAllBytes(obj, { 'v', ' ', '1', ' ', '2', ' ', '3', '\r', '\n' });
    WriteAllBytes(mtl, { 'n', 'e', 'w', 'm', 't', 'l', ' ', 'a' });
    TOBJModel model;
    model.LoadOBJ(obj, mtl);
    EXPECT_EQ(model.VertexCount(), 1);
    EXPECT_EQ(model.MaterialCount(), 1);
}

} // namespace
