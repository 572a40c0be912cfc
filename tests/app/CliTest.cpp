// tarvex-cli from the outside: the built program run on models written into
// a scratch folder, its exit status, what it prints, the files it leaves,
// and the MDL bytes read back through the reader. With Debian's assimp
// installed, the converted example is also loaded by that independent reader.
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "AppTestUtil.h"
#include "Language.h"
#include "RunProgram.h"
#include "image/Bitmap.h"
#include "image/TextureFile.h"
#include "mdl/MDLClass.h"
#include "render/Renderer.h"
#include "util/TextFile.h"

namespace {

// Runs Program in Folder with the C locale's stamps, so the tests know their form.
TRun RunIn(
    const TScratchDir& Folder, const std::string& Program, std::vector<std::string> Arguments)
{
    TRunOptions options;
    options.Environment = { { "LC_ALL", "C" } };
    return RunProgram(Folder.Path().string(), Program, std::move(Arguments), options);
}

TRun Cli(const TScratchDir& Folder, std::vector<std::string> Arguments)
{
    return RunIn(Folder, TARVEX_CLI, std::move(Arguments));
}

// The log with every time stamp of the C locale ("12/08/26 07:47:24", or
// the date alone at midnight) replaced by "@", so the lines compare.
std::vector<std::string> Unstamped(const std::string& Out)
{
    static const std::regex stamp("^[0-9]{2}/[0-9]{2}/[0-9]{2}( [0-9]{2}:[0-9]{2}:[0-9]{2})?:");
    std::vector<std::string> lines;
    std::istringstream in(Out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(std::regex_replace(line, stamp, "@:"));
    return lines;
}

TEST(Cli, ConvertsASeriesWithFrameNamesAndMissingTexturesBesideTheOBJ)
{
    TScratchDir dir;
    WriteCube(dir, "crate");
    WriteText(dir.File("crate_1.obj"), CubeOBJ(0.25f));
    WriteText(dir.File("crate_2.obj"), CubeOBJ(0.75f));
    WriteText(dir.File("crate.fns"), "rest\r\nsquash\r\nstretch\r\n");

    const TRun run = Cli(dir, { "convert", "crate_0.obj" });
    ASSERT_EQ(run.Status, 0) << run.Err;
    // Standard error is no terminal here: no progress, no noise.
    EXPECT_EQ(run.Err, "");
    const std::vector<std::string> expected = {
        "@:Loading crate_0.obj..",
        "MTL Loaded.",
        "@:Unifying textures into crate.bmp..",
        "@:Done.",
        "@:Making MDL Frame_0..",
        "Frame name list loaded.",
        "MDL status:8Verts,12Faces,14UV Verts",
        "@:Loading Frame_1..",
        "@:Adding to MDL Frame_1..",
        "@:Loading Frame_2..",
        "@:Adding to MDL Frame_2..",
        "@:Done.",
        "@:Writing MDL..",
        "@:All Done.",
    };
    EXPECT_EQ(Unstamped(run.Out), expected) << run.Out;
    for (const char* side : { "crate.bmp", "bricks.bmp", "created_mtl1.bmp" })
        EXPECT_TRUE(FileExists(dir.File(side))) << side;

    TMDLModel model;
    model.LoadFromFile(dir.File("crate.mdl"));
    EXPECT_EQ(model.Header.NumVerts, 8);
    EXPECT_EQ(model.Header.NumTris, 12);
    EXPECT_EQ(model.Header.NumSkinVerts, 14);
    EXPECT_EQ(model.Header.NumSkins, 2);
    ASSERT_EQ(model.Frames.size(), 3u);
    EXPECT_EQ(model.Frames[0].NameText(), "rest");
    EXPECT_EQ(model.Frames[2].NameText(), "stretch");
    // The frames are the three files: a bigger cube, a bigger box.
    EXPECT_LT(model.Frames[1].BBoxMax.Coord[0], model.Frames[0].BBoxMax.Coord[0]);
    EXPECT_GT(model.Frames[2].BBoxMax.Coord[0], model.Frames[0].BBoxMax.Coord[0]);
    // Two textures of 80 x 80 side by side make the atlas the first skin.
    ASSERT_TRUE(model.TextureSkin);
    EXPECT_EQ(model.TextureSkin->Width, 160);
    EXPECT_EQ(model.TextureSkin->Height, 80);

    // info describes the same file.
    const TRun info = Cli(dir, { "info", "crate.mdl" });
    ASSERT_EQ(info.Status, 0) << info.Err;
    EXPECT_NE(info.Out.find("NumFrames:     3\n"), std::string::npos) << info.Out;
    EXPECT_NE(
        info.Out.find("Skin 0:        type 5 (blue, green, red, alpha), 160 x 80, 51200 bytes"),
        std::string::npos)
        << info.Out;
    EXPECT_NE(info.Out.find("Frame 1:       \"squash\", type 2 (16-bit), 8 vertices, box ("),
        std::string::npos)
        << info.Out;
}

TEST(Cli, ConvertsAMeshWithoutMaterialsToTheNamedOutput)
{
    TScratchDir dir;
    WriteText(dir.File("bare.obj"), CubeOBJ(0.5f));
    std::filesystem::create_directory(dir.File("out"));

    const TRun run = Cli(dir, { "convert", "bare.obj", "out/model.mdl" });
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out.find("MTL Loaded."), std::string::npos);
    TMDLModel model;
    model.LoadFromFile(dir.File("out/model.mdl"));
    EXPECT_EQ(model.Header.NumVerts, 8);
    EXPECT_EQ(model.Frames.size(), 1u);
    EXPECT_FALSE(FileExists(dir.File("bare.mdl")));
}

TEST(Cli, AFailureExitsWithTheErrorBoxTextAndWritesNoModel)
{
    TScratchDir dir;
    WriteCube(dir, "bad");
    WriteText(dir.File("bad_1.obj"), "v 0 zero 0\n");

    const TRun run = Cli(dir, { "convert", "bad_0.obj" });
    EXPECT_EQ(run.Status, 1);
    // Led by the file and line, as compilers write it.
    EXPECT_EQ(run.Err, "tarvex: bad_1.obj:1: 'zero' is not a valid floating-point number.\n");
    EXPECT_EQ(Unstamped(run.Out).back(), "@:Loading Frame_1..");
    EXPECT_FALSE(FileExists(dir.File("bad.mdl")));
    // What was done before the failure stays done.
    EXPECT_TRUE(FileExists(dir.File("bad.bmp")));

    const TRun missing = Cli(dir, { "convert", "none.obj" });
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err, "tarvex: none.obj: File not found.\n");
}

TEST(Cli, MessagesFollowTheLocaleAndLogLinesDoNot)
{
    TScratchDir dir;
    WriteCube(dir, "ship");
    const auto run = [&](std::vector<std::pair<std::string, std::string>> Environment,
                         const std::string& Input) {
        TRunOptions options;
        options.Environment = std::move(Environment);
        return RunProgram(dir.Path().string(), TARVEX_CLI, { "convert", Input }, options);
    };
    const std::vector<std::pair<std::string, std::string>> japanese = { { "LC_ALL", "" },
        { "LC_MESSAGES", "" }, { "LANGUAGE", "" }, { "LANG", JapaneseLocale } };
    // The build tree's catalogue, found beside the program as an installed
    // one is.
    ASSERT_TRUE(TLanguage(JapaneseLocale).Available()) << MissingJapaneseLocale();
    const TRun missing = run(japanese, "none.obj");
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err, "tarvex: none.obj: ファイルが見つかりません.\n");
    const TRun converted = run(japanese, "ship_0.obj");
    EXPECT_EQ(converted.Status, 0) << converted.Err;
    EXPECT_NE(converted.Out.find(":Loading ship_0.obj..\nMTL Loaded.\n"), std::string::npos)
        << converted.Out;
    // LANGUAGE names the language only under a locale other than C.
    EXPECT_EQ(run({ { "LC_ALL", "C" }, { "LANGUAGE", "ja" } }, "none.obj").Err,
        "tarvex: none.obj: File not found.\n");
}

TEST(Cli, InfoRefusesAMalformedFile)
{
    TScratchDir dir;
    WriteText(dir.File("short.mdl"), "MDL5");
    // Led by the file, as the refusals of the other commands are.
    for (const char* command : { "info", "export" }) {
        const TRun run = Cli(dir, { command, "short.mdl" });
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Err,
            "tarvex: short.mdl: Not an MDL5 file: it has 4 bytes, fewer than the 84 of the "
            "header.\n");
        EXPECT_EQ(run.Out, "");
    }
}

TEST(Cli, InfoDescribesTheEnginesOwnSample)
{
    if (!FileExists(TARVEX_ENGINE_SAMPLE))
        GTEST_SKIP() << "the engine's sample model is not at " << TARVEX_ENGINE_SAMPLE;
    TScratchDir dir;
    const TRun run = Cli(dir, { "info", TARVEX_ENGINE_SAMPLE });
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    for (const char* line :
        { "\nSkin 0:        type 2 (16-bit 5-6-5 red, green, blue), 1272 x 1114, 2834016 bytes\n",
            "\nFrame 7:       \"shot7\", type 2 (16-bit), 314 vertices, box (0, 0, 0) - (65535, "
            "65535, 65535), decoded (-36.7513, -13.293145, -5.7481637) - (35.896133, 2.0458121, "
            "7.401393)\n" })
        EXPECT_NE(run.Out.find(line), std::string::npos) << line << run.Out;
}

TEST(Cli, UsageErrorsExitWithTwoAndHelpAndVersionWithZero)
{
    TScratchDir dir;
    for (const std::vector<std::string>& arguments :
        std::vector<std::vector<std::string>> { {}, { "turn" }, { "convert" },
            { "convert", "a", "b", "c" }, { "info" }, { "--verbose", "info", "x.mdl" } }) {
        const TRun run = Cli(dir, arguments);
        EXPECT_EQ(run.Status, 2) << ::testing::PrintToString(arguments);
        EXPECT_NE(run.Err.find("Usage: tarvex-cli convert"), std::string::npos) << run.Err;
        EXPECT_EQ(run.Out, "");
    }
    const TRun help = Cli(dir, { "--help" });
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Out.rfind("Usage: tarvex-cli convert", 0), 0u);
    const TRun version = Cli(dir, { "--version" });
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out.rfind("tarvex-cli (Tarvex) 0.9\n", 0), 0u) << version.Out;

    // After "--" a name that starts with "-" is a file, not an option.
    WriteText(dir.File("-odd.obj"), CubeOBJ());
    const TRun odd = Cli(dir, { "convert", "--", "-odd.obj", "odd.mdl" });
    EXPECT_EQ(odd.Status, 0) << odd.Err;
    EXPECT_TRUE(FileExists(dir.File("odd.mdl")));
}

// A three-frame crate converted in Dir, as crate.mdl.
void MakeCrate(const TScratchDir& Dir)
{
    WriteCube(Dir, "crate");
    WriteText(Dir.File("crate_1.obj"), CubeOBJ(0.25f));
    WriteText(Dir.File("crate_2.obj"), CubeOBJ(0.75f));
    ASSERT_EQ(Cli(Dir, { "convert", "crate_0.obj" }).Status, 0);
}

bool AllBackground(const TBitmap& Image, int Left, int Top, int Width, int Height)
{
    for (int y = Top; y < Top + Height; ++y)
        for (int x = Left; x < Left + Width; ++x)
            if (Image.PixelColor(x, y) != RenderBackground)
                return false;
    return true;
}

TEST(Cli, RenderLaysOutEveryFrameWithItsNameAndWritesPngAsBmp)
{
    TScratchDir dir;
    MakeCrate(dir);
    const TRun run = Cli(dir, { "render", "crate.mdl", "sheet.bmp", "--all", "--size", "40x30" });
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "Wrote sheet.bmp (80 x 82)\n");
    TBitmap sheet;
    sheet.LoadBmpFile(dir.File("sheet.bmp"));
    ASSERT_EQ(sheet.Width(), 80);
    // Two rows of a 30-pixel picture over an 11-pixel name.
    ASSERT_EQ(sheet.Height(), 82);
    for (int cell = 0; cell < 3; ++cell) {
        const int left = cell % 2 * 40, top = cell / 2 * 41;
        EXPECT_FALSE(AllBackground(sheet, left, top, 40, 30)) << cell;
        EXPECT_FALSE(AllBackground(sheet, left, top + 30, 40, 11)) << cell; // the name
    }
    EXPECT_TRUE(AllBackground(sheet, 40, 41, 40, 41));

    // The same frame as PNG and as BMP: the same pixels.
    for (const char* name : { "one.png", "one.BMP" })
        ASSERT_EQ(
            Cli(dir, { "render", "--frame", "2", "--size", "24", "crate.mdl", name }).Status, 0);
    TBitmap png, bmp;
    DecodePng(png, ReadAllBytes(dir.File("one.png")), "one.png");
    bmp.LoadBmpFile(dir.File("one.BMP"));
    ASSERT_EQ(png.Width(), 24);
    ASSERT_EQ(png.Height(), 24);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            ASSERT_EQ(png.PixelColor(x, y), bmp.PixelColor(x, y)) << x << "," << y;
}

TEST(Cli, RenderRefusesBadOptionsMissingFramesAndReplacingTheModel)
{
    TScratchDir dir;
    MakeCrate(dir);
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>> {
             { "render", "crate.mdl" }, { "render", "crate.mdl", "a.jpg" },
             { "render", "crate.mdl", "a.png", "--frame", "1", "--all" },
             { "render", "crate.mdl", "a.png", "--size", "0x5" },
             { "render", "crate.mdl", "a.png", "--size", "4097" },
             { "render", "crate.mdl", "a.png", "--yaw", "left" },
             { "render", "crate.mdl", "a.png", "--pitch" }, { "info", "crate.mdl", "--all" } }) {
        const TRun run = Cli(dir, arguments);
        EXPECT_EQ(run.Status, 2) << ::testing::PrintToString(arguments) << run.Err;
        EXPECT_FALSE(FileExists(dir.File("a.png")));
    }
    const TRun missing = Cli(dir, { "render", "crate.mdl", "a.png", "--frame", "3" });
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err,
        "tarvex: crate.mdl: there is no frame 3; the model has 3 frames, counted from 0.\n");

    // A picture name that leads to the model itself.
    const std::vector<std::uint8_t> model = ReadAllBytes(dir.File("crate.mdl"));
    std::filesystem::create_symlink("crate.mdl", dir.File("link.png"));
    const TRun onto = Cli(dir, { "render", "crate.mdl", "link.png" });
    EXPECT_EQ(onto.Status, 1);
    EXPECT_EQ(onto.Err,
        "tarvex: Writing link.png would replace crate.mdl, the model it shows; choose another "
        "name.\n");
    EXPECT_EQ(ReadAllBytes(dir.File("crate.mdl")), model);
}

TEST(Cli, TheConvertedExampleLoadsInAnIndependentReader)
{
    TScratchDir dir;
    std::filesystem::copy(TARVEX_EXAMPLES, dir.Path(), std::filesystem::copy_options::recursive);
    const TRun run = Cli(dir, { "convert", "windmill_0.obj" });
    ASSERT_EQ(run.Status, 0) << run.Err;
    TMDLModel model;
    model.LoadFromFile(dir.File("windmill.mdl"));
    EXPECT_EQ(model.Frames.size(), 3u);

    if (std::system("command -v assimp >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "assimp (Debian's assimp-utils) is not installed";
    const TRun assimp = RunIn(dir, "assimp", { "info", "windmill.mdl" });
    EXPECT_EQ(assimp.Status, 0) << assimp.Out << assimp.Err;
    EXPECT_EQ(assimp.Err.find("ERROR"), std::string::npos) << assimp.Err;
    EXPECT_NE(assimp.Out.find("Faces:              20"), std::string::npos) << assimp.Out;
}

} // namespace
