// Exporting an MDL5 model as OBJ files, and converting those back.
#include "app/ModelExport.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

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

std::string FileText(const std::string& Path)
{
    const std::vector<std::uint8_t> bytes = ReadAllBytes(Path);
    return std::string(bytes.begin(), bytes.end());
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

// A mesh of one material whose texture is 99 x 37 (so the atlas grows it
// to 102 x 42), coordinates reaching -1 and 1, quads, a pentagon-free mix of
// faces, texture coordinates outside 0..1, and three frames with names.
void WriteOneMaterialModel(const TScratchDir& Dir)
{
    TBitmap texture;
    texture.SetBitsPerPixel(24);
    texture.SetWidth(99);
    texture.SetHeight(37);
    for (std::int32_t y = 0; y < 37; ++y) {
        std::uint8_t* row = texture.RowData(y);
        for (std::int32_t x = 0; x < 99 * 3; ++x)
            row[x] = static_cast<std::uint8_t>(x * 7 + y * 13);
    }
    texture.SaveBmpFile(Dir.File("bark.bmp"));
    WriteText(Dir.File("tree.mtl"), "newmtl bark\nKd 0.3 0.6 0.9\nmap_Kd bark.bmp\n");
    WriteText(Dir.File("tree.fns"), "idle\nsway\n\n");
    const char* const faces = "usemtl bark\n"
                              "f 1/1/1 2/2/2 3/3/3 4/4/4\n"
                              "f 4/4/4 3/3/3 5/5/5\n"
                              "f 5/5/5 6/6/6 1/1/1\n";
    const char* const texture_coordinates = "vt 0 0\nvt 1 1\nvt 0.5 0.25\nvt 1.5 -0.25\n"
                                            "vt 0.999 0.001\nvt 0.123 0.877\n";
    const float positions[3][6][3] = {
        { { -1, -1, -1 }, { 1, 1, 1 }, { 0.25f, -0.5f, 0.999f }, { -0.75f, 0.5f, 0 },
            { 0.1f, 0.2f, 0.3f }, { -0.3f, 0.9f, -0.6f } },
        { { -1, 0, 0 }, { 1, 0.5f, 0.5f }, { 0.3f, -0.5f, 0.9f }, { -0.7f, 0.4f, 0 },
            { 0.2f, 0.2f, 0.3f }, { -0.3f, 1, -0.6f } },
        { { 0, -1, 0 }, { 0.5f, 1, 1 }, { 0.25f, -0.4f, 0.8f }, { -0.75f, 0.5f, 0.1f },
            { 0.1f, 0.3f, 0.3f }, { -0.4f, 0.9f, -1 } },
    };
    for (int f = 0; f < 3; ++f) {
        std::string text = "mtllib tree.mtl\n";
        for (const auto& p : positions[f]) {
            text += "v " + std::to_string(p[0]) + " " + std::to_string(p[1]) + " "
                + std::to_string(p[2]) + "\n";
            text += "vn " + std::to_string(p[1] - p[2]) + " " + std::to_string(p[0] + 0.5f) + " "
                + std::to_string(p[2]) + "\n";
        }
        WriteText(
            Dir.File("tree_" + std::to_string(f) + ".obj"), text + texture_coordinates + faces);
    }
}

} // namespace

TEST(ExportNames, TakeTheModelsNameWithoutWhatAConversionReadsAsAFrameNumber)
{
    struct TCase
    {
        const char* MDLFile;
        const char* OutDir;
        const char* Dir;
        const char* BaseName;
        bool Renamed;
    } const cases[] = {
        { "models/tree.mdl", "", "models/", "tree", false },
        { "models/minigun_mdl5.mdl", "", "models/", "minigun-mdl5", true },
        { "tree.v2.mdl", "out", "out/", "tree.v2", false },
        { "/abs/tree", "out/", "out/", "tree", false },
        { ".mdl", "", "", ".mdl", false },
        { "  .mdl", "", "", "model", true },
    };
    for (const TCase& c : cases) {
        const TExportNames names = TExportNames::For(c.MDLFile, c.OutDir);
        EXPECT_EQ(names.Dir, c.Dir) << c.MDLFile;
        EXPECT_EQ(names.BaseName, c.BaseName) << c.MDLFile;
        EXPECT_EQ(names.Renamed, c.Renamed) << c.MDLFile;
        // What a conversion of the first frame file takes as its names.
        const TConversionNames back = TConversionNames::FromOBJFile(names.FrameFile(0));
        EXPECT_EQ(back.BaseName, names.BaseName) << c.MDLFile;
        EXPECT_EQ(back.FrameTag, "0") << c.MDLFile;
        EXPECT_EQ(back.MTLFile, names.MTLFile()) << c.MDLFile;
        EXPECT_EQ(back.FrameNamesFile, names.FrameNamesFile()) << c.MDLFile;
    }
}

TEST(ExportValues, ConvertBackToWhatTheFileHolds)
{
    // Every packed value of the unit scale packs back to itself, from a
    // coordinate that keeps the axis on that scale.
    for (std::uint32_t p = 0; p <= 65534; ++p) {
        const float c = TModelExport::Coordinate(p, 0.01f);
        ASSERT_EQ(TMDLModel::PackCoord(c), p) << c;
        ASSERT_LE(std::fabs(c), 1.0f) << p;
    }
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

    // Texture coordinates truncate back to their pixel, on either side of
    // the picture and on the largest side.
    const std::int32_t pixels[][2] = { { 0, 1 }, { 0, 256 }, { 255, 256 }, { 256, 256 },
        { 384, 256 }, { -1, 256 }, { -128, 256 }, { 65534, 65535 }, { -32768, 7 } };
    for (const auto& [pixel, size] : pixels) {
        const long double scaled
            = static_cast<long double>(size) * TModelExport::TextureCoordinate(pixel, size);
        EXPECT_EQ(static_cast<std::int64_t>(std::trunc(scaled)), pixel) << pixel << " / " << size;
    }
    // Stored values read signed only beyond the skin with the top bit set.
    const std::int32_t readings[][3] = { { 65408, 256, -128 }, { 65408, 65535, 65408 },
        { 300, 256, 300 }, { 32768, 100, -32768 }, { 40000, 0, -25536 } };
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
    EXPECT_EQ(FileText(dir.File("minigun-mdl5.fns")),
        "shot0\nshot1\nshot2\nshot3\nshot4\nshot5\nshot6\nshot7\n");
    Convert(dir.File("minigun-mdl5_0.obj"), dir.File("back.mdl"));

    TMDLModel original;
    original.LoadFromFile(dir.File("minigun_mdl5.mdl"));
    TMDLModel back;
    back.LoadFromFile(dir.File("back.mdl"));
    ASSERT_EQ(back.Frames.size(), original.Frames.size());
    ASSERT_EQ(back.Header.NumVerts, original.Header.NumVerts);
    EXPECT_EQ(back.Triangles->Items.size(), original.Triangles->Items.size());
    for (std::size_t t = 0; t < original.Triangles->Items.size(); ++t) {
        const TMDLTriangle& a = original.Triangles->Items[t];
        const TMDLTriangle& b = back.Triangles->Items[t];
        ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "triangle " << t;
    }
    // Decoded positions: the same up to one constant per axis, within one
    // step of the coarser packing.
    const float steps[3] = { std::max(original.Header.Scale.X, back.Header.Scale.X),
        std::max(original.Header.Scale.Y, back.Header.Scale.Y),
        std::max(original.Header.Scale.Z, back.Header.Scale.Z) };
    for (int axis = 0; axis < 3; ++axis) {
        double lo = INFINITY;
        double hi = -INFINITY;
        for (std::size_t f = 0; f < original.Frames.size(); ++f) {
            for (std::size_t v = 0; v < original.Frames[f].Vertices.size(); ++v) {
                const TVec3 a = original.DecodePosition(original.Frames[f].Vertices[v]);
                const TVec3 b = back.DecodePosition(back.Frames[f].Vertices[v]);
                const float da[3] = { a.X, a.Y, a.Z };
                const float db[3] = { b.X, b.Y, b.Z };
                lo = std::min(lo, double(db[axis]) - da[axis]);
                hi = std::max(hi, double(db[axis]) - da[axis]);
                EXPECT_EQ(back.Frames[f].Vertices[v].NormalIndex,
                    original.Frames[f].Vertices[v].NormalIndex);
            }
        }
        EXPECT_LE(hi - lo, steps[axis] * 1.001) << "axis " << axis;
    }
    // The skin: the 5-6-5 pixels widened to 8 bits; the rows the atlas adds
    // below are white.
    const TMDLSkin5& skin = *original.TextureSkin;
    const TMDLSkin5& again = *back.TextureSkin;
    ASSERT_EQ(again.Width, skin.Width);
    ASSERT_GE(again.Height, skin.Height);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < std::size_t(skin.Width) * std::size_t(skin.Height); ++i) {
        const std::uint32_t v = GetU16LE(skin.Data.data() + 2 * i);
        const std::uint32_t r = v >> 11, g = (v >> 5) & 63, b = v & 31;
        const std::uint8_t expected[3] = { std::uint8_t(b << 3 | b >> 2),
            std::uint8_t(g << 2 | g >> 4), std::uint8_t(r << 3 | r >> 2) };
        differing += std::memcmp(again.Data.data() + 4 * i, expected, 3) != 0;
    }
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
    EXPECT_EQ(FileText(dir.File("out/box.mtl")), "mine");
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
