// Exporting an MDL5 model as OBJ files, and converting those back.
#include "app/ModelExport.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <tuple>

#include <gtest/gtest.h>

#include "AppTestUtil.h"
#include "RunProgram.h"
#include "image/Bitmap.h"
#include "mdl/MDLClass.h"

namespace {

TRun Cli(const TScratchDir& Folder, std::vector<std::string> Arguments)
{
    TRunOptions options;
    options.Environment = { { "LC_ALL", "C" } };
    return RunProgram(Folder.Path().string(), TARVEX_CLI, std::move(Arguments), options);
}

void Convert(const std::string& OBJFile, const std::string& MDLFile)
{
    TScriptedHost host;
    host.OBJFile = OBJFile;
    host.MDLFile = MDLFile;
    TConversionCommand command(host);
    ASSERT_EQ(command.Execute(), TConversionCommand::TResult::Completed)
        << ::testing::PrintToString(host.Errors);
}

void Export(const std::string& MDLFile, const std::string& OutDir)
{
    TMDLModel model;
    model.LoadFromFile(MDLFile);
    const TModelExport exporter(model, TExportNames::For(MDLFile, OutDir));
    exporter.Write();
    // The room asked for before writing is about what was written.
    std::uint64_t written = 0;
    for (const std::string& file : exporter.Files())
        written += std::filesystem::file_size(file);
    EXPECT_NEAR(double(exporter.EstimatedBytes()), double(written), written * 0.05 + 1024);
}

// The file's bytes split at its sections: the header, each skin, and the
// skin vertices, triangles and frames together.
std::vector<std::vector<std::uint8_t>> Sections(const std::string& MDLFile)
{
    const std::vector<std::uint8_t> bytes = ReadAllBytes(MDLFile);
    TMDLModel model;
    model.LoadFromBytes(bytes.data(), bytes.size());
    std::vector<std::vector<std::uint8_t>> sections;
    std::size_t at = 0;
    auto take = [&](std::size_t size) {
        sections.emplace_back(
            bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + size));
        at += size;
    };
    take(84);
    for (const TMDLSkin5* skin : model.FileSkins())
        take(12 + skin->Data.size());
    take(bytes.size() - at);
    return sections;
}

// One material with a 99 x 37 texture (the atlas grows it to 102 x 42),
// coordinates reaching -1 and 1, a quad, texture coordinates beyond 0..1,
// and three frames, named.
void WriteOneMaterialModel(const TScratchDir& Dir)
{
    TBitmap texture;
    texture.SetBitsPerPixel(24);
    texture.SetWidth(99);
    texture.SetHeight(37);
    for (std::int32_t y = 0; y < 37; ++y)
        for (std::int32_t x = 0; x < 99 * 3; ++x)
            texture.RowData(y)[x] = static_cast<std::uint8_t>(x * 7 + y * 13);
    texture.SaveBmpFile(Dir.File("bark.bmp"));
    WriteText(Dir.File("tree.mtl"), "newmtl bark\nKd 0.3 0.6 0.9\nmap_Kd bark.bmp\n");
    WriteText(Dir.File("tree.fns"), "idle\nsway\n\n");
    for (int f = 0; f < 3; ++f) {
        std::string text = "mtllib tree.mtl\nv -1 -1 -1\nv 1 1 1\n";
        for (int v = 0; v < 4; ++v) {
            const float p[3] = { 0.1f * (v + f) - 0.3f, 0.999f - 0.2f * v, 0.25f * f - 0.5f };
            text += "v " + std::to_string(p[0]) + " " + std::to_string(p[1]) + " "
                + std::to_string(p[2]) + "\nvn " + std::to_string(p[1]) + " 0.5 "
                + std::to_string(p[2] - p[0]) + "\n";
        }
        WriteText(Dir.File("tree_" + std::to_string(f) + ".obj"),
            text
                + "vn 1 0 0\nvn 0 -1 0.5\nvt 0 0\nvt 1 1\nvt 1.5 -0.25\nvt 0.999 0.001\n"
                  "usemtl bark\nf 1/1/5 2/2/6 3/3/1 4/4/2\nf 4/4/2 3/3/1 5/1/3\nf 5/2/3 6/3/4 "
                  "1/4/5\n");
    }
}

} // namespace

TEST(ExportNames, AreTheOnesAConversionOfTheFirstFrameLooksFor)
{
    // A conversion takes the name up to its first "_" and trims it.
    const char* const cases[][3] = { { "models/minigun_mdl5.mdl", "", "minigun-mdl5" },
        { "tree.v2.mdl", "out", "tree.v2" }, { "  .mdl", "out/", "model" } };
    for (const auto& [file, dir, base] : cases) {
        const TExportNames names = TExportNames::For(file, dir);
        const TConversionNames back = TConversionNames::FromOBJFile(names.FrameFile(0));
        EXPECT_EQ(names.BaseName, base);
        EXPECT_EQ(std::make_tuple(back.BaseName, back.FrameTag, back.MTLFile, back.FrameNamesFile),
            std::make_tuple(
                names.BaseName, std::string("0"), names.MTLFile(), names.FrameNamesFile()))
            << file;
    }
}

TEST(ExportValues, NormalsAndSkinCoordinatesReadAsAConversionMeansThem)
{
    // Every table direction is found again, and one beyond the table is no
    // direction.
    for (int index = 0; index < MDLNormalCount; ++index) {
        TMDLPackedVertex vertex {};
        TMDLModel::EncodeVertex(
            TVec3 { 0, 0, 0 }, TModelExport::Normal(std::uint8_t(index)), vertex);
        ASSERT_EQ(vertex.NormalIndex, index);
    }
    TMDLPackedVertex beyond {};
    TMDLModel::EncodeVertex(TVec3 { 0, 0, 0 }, TModelExport::Normal(200), beyond);
    EXPECT_EQ(beyond.NormalIndex, 0);

    // Stored values read signed only beyond the skin with the top bit set.
    const std::int32_t readings[][3]
        = { { 65408, 256, -128 }, { 65408, 65535, 65408 }, { 300, 256, 300 } };
    for (const auto& [value, size, pixel] : readings)
        EXPECT_EQ(SkinPixel(std::uint16_t(value), size), pixel) << value << " / " << size;
}

TEST(ExportRoundTrip, AConvertedModelComesBackSectionBySection)
{
    struct TCase
    {
        const char* Name;
        void (*Write)(const TScratchDir&);
        const char* OBJFile;
        bool SameColourSkin; // one material: its colour is in the file
    } const cases[] = {
        { "one material", WriteOneMaterialModel, "tree_0.obj", true },
        { "two materials", [](const TScratchDir& Dir) { WriteCube(Dir, "tree"); }, "tree_0.obj",
            false },
        { "no material", [](const TScratchDir& Dir) { WriteText(Dir.File("tree.obj"), CubeOBJ()); },
            "tree.obj", true },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScratchDir dir;
        c.Write(dir);
        Convert(dir.File(c.OBJFile), dir.File("tree.mdl"));
        Export(dir.File("tree.mdl"), dir.File("out"));
        Convert(dir.File("out/tree_0.obj"), dir.File("back.mdl"));

        const auto original = Sections(dir.File("tree.mdl"));
        const auto back = Sections(dir.File("back.mdl"));
        ASSERT_EQ(back.size(), original.size());
        EXPECT_EQ(back.front(), original.front()) << "header";
        EXPECT_EQ(back.back(), original.back()) << "skin vertices, triangles and frames";
        if (original.size() > 2) {
            EXPECT_EQ(back[1], original[1]) << "first skin";
        }
        if (original.size() > 3 && c.SameColourSkin) {
            EXPECT_EQ(back[2], original[2]) << "colour skin";
        }
    }
}

TEST(ExportRoundTrip, TheEngineSampleComesBackUpToItsPacking)
{
    if (!std::filesystem::exists(TARVEX_ENGINE_SAMPLE))
        GTEST_SKIP() << "the engine's sample model is not at " << TARVEX_ENGINE_SAMPLE;
    TScratchDir dir;
    std::filesystem::copy_file(TARVEX_ENGINE_SAMPLE, dir.File("minigun_mdl5.mdl"));
    const TRun run = Cli(dir, { "export", "minigun_mdl5.mdl" });
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("Wrote minigun-mdl5_0.obj ... minigun-mdl5_7.obj (8 frames)\n"),
        std::string::npos)
        << run.Out;
    const std::string names = "shot0\nshot1\nshot2\nshot3\nshot4\nshot5\nshot6\nshot7\n";
    EXPECT_EQ(ReadAllBytes(dir.File("minigun-mdl5.fns")),
        std::vector<std::uint8_t>(names.begin(), names.end()));
    Convert(dir.File("minigun-mdl5_0.obj"), dir.File("back.mdl"));

    TMDLModel original;
    original.LoadFromFile(dir.File("minigun_mdl5.mdl"));
    TMDLModel back;
    back.LoadFromFile(dir.File("back.mdl"));
    ASSERT_EQ(back.Frames.size(), original.Frames.size());
    ASSERT_EQ(back.Header.NumVerts, original.Header.NumVerts);
    ASSERT_EQ(back.Triangles->Items.size(), original.Triangles->Items.size());
    EXPECT_EQ(std::memcmp(back.Triangles->Items.data(), original.Triangles->Items.data(),
                  original.Triangles->Items.size() * sizeof(TMDLTriangle)),
        0);
    // Decoded positions: the same up to one constant per axis, within one
    // step of the coarser packing; the same normals.
    auto axes = [](const TVec3& v) { return std::array<double, 3> { v.X, v.Y, v.Z }; };
    const auto steps = axes(TVec3 { std::max(original.Header.Scale.X, back.Header.Scale.X),
        std::max(original.Header.Scale.Y, back.Header.Scale.Y),
        std::max(original.Header.Scale.Z, back.Header.Scale.Z) });
    std::array<double, 3> lo { INFINITY, INFINITY, INFINITY },
        hi { -INFINITY, -INFINITY, -INFINITY };
    for (std::size_t f = 0; f < original.Frames.size(); ++f) {
        for (std::size_t v = 0; v < original.Frames[f].Vertices.size(); ++v) {
            const auto a = axes(original.DecodePosition(original.Frames[f].Vertices[v]));
            const auto b = axes(back.DecodePosition(back.Frames[f].Vertices[v]));
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], b[k] - a[k]);
                hi[k] = std::max(hi[k], b[k] - a[k]);
            }
            EXPECT_EQ(
                back.Frames[f].Vertices[v].NormalIndex, original.Frames[f].Vertices[v].NormalIndex);
        }
    }
    for (int k = 0; k < 3; ++k)
        EXPECT_LE(hi[k] - lo[k], steps[k] * 1.001) << "axis " << k;
    // The skin: the 5-6-5 pixels widened to 8 bits (the atlas adds white
    // rows below).
    const std::vector<std::uint32_t> colours = original.TextureSkin->DecodeColours();
    const std::vector<std::uint32_t> again = back.TextureSkin->DecodeColours();
    ASSERT_EQ(back.TextureSkin->Width, original.TextureSkin->Width);
    ASSERT_GE(again.size(), colours.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < colours.size(); ++i)
        differing += (again[i] & 0xFFFFFF) != (colours[i] & 0xFFFFFF);
    EXPECT_EQ(differing, 0u);
}

TEST(ExportCommand, RefusesToReplaceFilesUnlessForcedAndNeverTheModelItself)
{
    TScratchDir dir;
    WriteCube(dir, "crate");
    Convert(dir.File("crate_0.obj"), dir.File("box.mdl"));
    const TRun first = Cli(dir, { "export", "box.mdl", "out" });
    ASSERT_EQ(first.Status, 0) << first.Err;
    const std::vector<std::uint8_t> mtl = ReadAllBytes(dir.File("out/box.mtl"));
    WriteText(dir.File("out/box.mtl"), "mine");
    const TRun again = Cli(dir, { "export", "box.mdl", "out" });
    EXPECT_EQ(again.Status, 1);
    EXPECT_EQ(again.Err,
        "tarvex: out/box_0.obj, out/box.mtl, out/box_skin.bmp and out/box.fns exist; add --force "
        "to replace them.\n");
    EXPECT_EQ(ReadAllBytes(dir.File("out/box.mtl")).size(), 4u);
    const TRun forced = Cli(dir, { "export", "--force", "box.mdl", "out" });
    EXPECT_EQ(forced.Status, 0) << forced.Err;
    EXPECT_EQ(ReadAllBytes(dir.File("out/box.mtl")), mtl);

    // A model whose name makes it one of its own export's files.
    std::filesystem::copy_file(dir.File("box.mdl"), dir.File("box.fns"));
    const TRun itself = Cli(dir, { "export", "--force", "box.fns" });
    EXPECT_EQ(itself.Status, 1);
    EXPECT_NE(itself.Err.find("would replace box.fns"), std::string::npos) << itself.Err;
    EXPECT_EQ(ReadAllBytes(dir.File("box.fns")), ReadAllBytes(dir.File("box.mdl")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("box_0.obj")));

    // Beside the model, converting the export back would overwrite it.
    const TRun beside = Cli(dir, { "export", "--force", "box.mdl" });
    EXPECT_EQ(beside.Status, 0) << beside.Err;
    EXPECT_NE(beside.Out.find("without naming an output would replace box.mdl"), std::string::npos)
        << beside.Out;

    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>> {
             { "export" }, { "export", "a.mdl", "b", "c" }, { "--force", "info", "box.mdl" } }) {
        const TRun run = Cli(dir, arguments);
        EXPECT_EQ(run.Status, 2) << ::testing::PrintToString(arguments);
    }
}
