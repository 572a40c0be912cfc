// A large OBJ file is read by two threads, one taking the vertex lines and
// one the face lines. Whatever the file holds, that must give what one pass
// in file order gives: the same lists bit for bit, the same failure, the same
// progress shown and the progress generator left in the same state. Blocks
// of a few bytes make small files take the two-thread route and put block
// borders everywhere, between a CR and its LF included.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "fuzz/FuzzTargets.h"
#include "obj/OBJClass.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t BlockSizes[] = { 1, 2, 3, 7, 64, 4096 };

// A mesh of Count vertices (with normals and texture coordinates) and faces
// over them, in the spellings the quick routes take and in every other one
// the reader accepts; Bad, when not empty, replaces line BadLine.
std::string Mesh(
    int count, const std::string& lineEnd, int badLine = -1, const std::string& bad = "")
{
    std::vector<std::string> lines = { "# mesh", "mtllib m.mtl", "o part" };
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        switch (i % 7) {
        case 0:
            lines.push_back("v 0." + n + " -1.5 " + n + ".25");
            break;
        case 1:
            lines.push_back("V\t1e-3 +2 -0.0000000000000000000000001"); // general route
            break;
        case 2:
            lines.push_back("v 123456.789012 -98765.4321 16777217");
            break;
        default:
            lines.push_back("v -" + n + ".5 0.000001 1");
        }
        lines.push_back(i % 5 == 0 ? "vn 0 0 1 extra" : "vn -0.577350 0.577350 0.577350");
        lines.push_back(i % 9 == 0 ? "vt 0.5 0.5" + std::string("\x01") : "vt 0.25 0.75");
        if (i >= 3) {
            const std::string a = std::to_string(i + 1), b = std::to_string(i),
                              c = std::to_string(i - 1);
            switch (i % 8) {
            case 0:
                lines.push_back("f " + a + "/" + a + "/" + a + " " + b + "/" + b + "/" + b + " " + c
                    + "/" + c + "/" + c);
                break;
            case 1:
                lines.push_back("f -1//-1 -2//-2 -3//-3 -4//-4"); // negative, no texture index
                break;
            case 2:
                lines.push_back("usemtl mat" + std::to_string(i % 3));
                lines.push_back("fo " + a + "/" + a + "/" + a + "\t" + b + "/" + b + "/" + b + " "
                    + c + "/" + c + "/" + c + " ");
                break;
            case 3:
                lines.push_back(
                    "f $1/x2/0x3 " + b + "/" + b + "/" + b + "  " + c + "/" + c + "/" + c);
                break;
            case 4:
                lines.push_back("f " + a + "/-99999/" + a + " " + b + "/" + b + "/" + b + " " + c
                    + "/" + c + "/" + c + " " + a + "/1/1\t\t" + b + "//");
                break;
            default:
                lines.push_back("f " + a + "/" + a + "/" + a + " " + b + "/" + b + "/" + b + " " + c
                    + "/" + c + "/" + c);
            }
        }
    }
    if (badLine >= 0 && badLine < static_cast<int>(lines.size()))
        lines[static_cast<std::size_t>(badLine)] = bad;
    std::string text;
    for (const std::string& line : lines)
        text += line + lineEnd;
    return text;
}

class ParallelRead : public ::testing::Test
{
protected:
    void ExpectSameAsOnePass(const std::string& text, const std::string& what)
    {
        const std::string path = Dir.File("m.obj");
        WriteText(path, text);
        for (std::size_t blockSize : BlockSizes) {
            if (blockSize < 7 && text.size() > 20000)
                continue; // a byte at a time over a large file proves nothing more
            EXPECT_EQ(OBJReadDifference(path, blockSize), "")
                << what << ", blocks of " << blockSize;
        }
    }

    TScratchDir Dir;
};

TEST_F(ParallelRead, GivesWhatOnePassGivesWhateverTheLineEnds)
{
    // The mesh itself reads without a failure, every kind of line included.
    const std::string path = Dir.File("check.obj");
    WriteText(path, Mesh(400, "\n"));
    TOBJModel model;
    model.LoadOBJ(path, "");
    EXPECT_EQ(model.VertexCount(), 400);
    EXPECT_EQ(model.UVCount(), 400);
    EXPECT_EQ(model.FaceCount(), 397);
    EXPECT_EQ(model.Faces[6].Corners[2].Vertex, 8); // -3 after 10 vertices
    EXPECT_EQ(model.MaterialNameTable.Name(model.Faces[6].MaterialName), "");
    EXPECT_EQ(model.MaterialNameTable.Name(model.Faces[8].MaterialName), "mat1");

    for (const std::string lineEnd : { "\r\n", "\n", "\r" })
        ExpectSameAsOnePass(Mesh(400, lineEnd), "a mesh");
    // Line ends of every kind in one file, an empty last line without an
    // end, and the end-of-text byte with lines after it.
    ExpectSameAsOnePass(Mesh(50, "\r\n") + Mesh(50, "\n") + "\r\r\n\n\rv 1 2 3", "mixed line ends");
    ExpectSameAsOnePass(Mesh(60, "\n") + "v 1 2 3\x1a" + Mesh(20, "\n"), "text after byte 26");
    ExpectSameAsOnePass(std::string(70000, 'x') + "\nv 1 2 3\nf 1/1/1 1/1/1 1/1/1", "a long line");
}

TEST_F(ParallelRead, FailsOnTheSameLineWithTheSameProgressShown)
{
    const std::string bads[] = { "v 1 2 x", "vt 0.5", "vn 1 2 3e", "f 1/2/3 4/5/6 7/8/x",
        "f 1/1 2/2 3/3 4/4 5/5/5/5", "f 99999999999/1/1 1/1/1 1/1/1" };
    int k = 0;
    for (const std::string& bad : bads) {
        // Early, in the middle and on the last line, alternately in a vertex
        // part and a face part of the file.
        for (int line : { 3, 400 + k, 1800 - 1 }) {
            ExpectSameAsOnePass(Mesh(600, k % 2 ? "\n" : "\r\n", line, bad),
                "'" + bad + "' on line " + std::to_string(line));
        }
        ++k;
    }
}

TEST_F(ParallelRead, GivesWhatOnePassGivesOnTheFuzzSeeds)
{
    int files = 0;
    for (const fs::directory_entry& entry :
        fs::directory_iterator(fs::path(TARVEX_FUZZ_SEEDS) / "obj")) {
        const std::vector<std::uint8_t> bytes = ReadAllBytes(entry.path().string());
        ExpectSameAsOnePass(
            std::string(bytes.begin(), bytes.end()), entry.path().filename().string());
        ++files;
    }
    EXPECT_GT(files, 5);
}

} // namespace
