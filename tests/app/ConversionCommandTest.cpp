// The conversion command against a scripted front end: the names it derives,
// the frame series, the lines it logs and failures. The window's tests drive
// the same command through the dialogs, the error box and the event pump.
#include "app/ConversionCommand.h"

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "AppTestUtil.h"
#include "util/TextFile.h"

namespace {

class ConversionCommandTest : public ::testing::Test
{
protected:
    ConversionCommandTest()
    {
        command.TimeStamp = [] { return std::string("[stamp]"); };
    }

    TScratchDir dir;
    TScriptedHost host;
    TConversionCommand command { host };
};

using Result = TConversionCommand::TResult;

TEST(ConversionNames, FollowTheBaseNameBeforeTheFirstUnderscore)
{
    struct TCase
    {
        const char* Path;
        const char* BaseName;
        const char* FrameTag;
        const char* MTLFile;
        const char* Frame2;
    };
    const TCase cases[] = {
        { "/d/ship_0.obj", "ship", "0", "/d/ship.mtl", "/d/ship_2.obj" },
        { "/d/ship.obj", "ship", "", "/d/ship.mtl", "/d/ship_2.obj" },
        { "/d/ship_walk_1.obj", "ship", "walk_1", "/d/ship.mtl", "/d/ship_2.obj" },
        { "/d/_0.obj", "", "0", "/d/.mtl", "/d/_2.obj" },
        // Only the last dot of the file name starts the extension, and a dot
        // in a folder name is no extension at all.
        { "/d.v2/my.ship_0.obj", "my.ship", "0", "/d.v2/my.ship.mtl", "/d.v2/my.ship_2.obj" },
        { "/d.v2/ship", "ship", "", "/d.v2/ship.mtl", "/d.v2/ship_2.obj" },
        // The base name is trimmed, the tag is not.
        { "rel/ ship _ 0.obj", "ship", " 0", "rel/ship.mtl", "rel/ship_2.obj" },
        { "ship_0.obj", "ship", "0", "ship.mtl", "ship_2.obj" },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path);
        const TConversionNames names = TConversionNames::FromOBJFile(c.Path);
        EXPECT_EQ(names.BaseName, c.BaseName);
        EXPECT_EQ(names.FrameTag, c.FrameTag);
        EXPECT_EQ(names.MTLFile, c.MTLFile);
        EXPECT_EQ(names.SkinFile, names.Dir + names.BaseName + ".bmp");
        EXPECT_EQ(names.FrameNamesFile, names.Dir + names.BaseName + ".fns");
        EXPECT_EQ(names.FrameFile(2), c.Frame2);
        EXPECT_EQ(names.DefaultMDLFile(), names.Dir + names.BaseName + ".mdl");
    }
}

TEST(TimeStamp, LeavesOutTheTimeAtMidnightOnly)
{
    const std::string saved = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "C");
    std::tm time {};
    time.tm_year = 126;
    time.tm_mon = 11;
    time.tm_mday = 6;
    time.tm_hour = 17;
    time.tm_min = 18;
    time.tm_sec = 30;
    EXPECT_EQ(FormatTimeStamp(time), "12/06/26 17:18:30");
    time.tm_hour = time.tm_min = time.tm_sec = 0;
    EXPECT_EQ(FormatTimeStamp(time), "12/06/26");
    time.tm_sec = 1;
    EXPECT_EQ(FormatTimeStamp(time), "12/06/26 00:00:01");
    std::setlocale(LC_TIME, saved.c_str());
}

TEST_F(ConversionCommandTest, LogsEveryStepAndStopsTheSeriesAtTheFirstGap)
{
    WriteCube(dir, "ship");
    WriteText(dir.File("ship_1.obj"), CubeOBJ(0.25f));
    WriteText(dir.File("ship_3.obj"), CubeOBJ(0.75f));
    host.OBJFile = dir.File("ship_0.obj");
    host.MDLFile = dir.File("out.mdl");

    ASSERT_EQ(command.Execute(), Result::Completed) << ::testing::PrintToString(host.Errors);
    const std::vector<std::string> expected = {
        "[stamp]:Loading ship_0.obj..",
        "MTL Loaded.",
        "[stamp]:Unifying textures into ship.bmp..",
        "[stamp]:Done.",
        "[stamp]:Making MDL Frame_0..",
        "Using default frame name.",
        "MDL status:8Verts,12Faces,14UV Verts",
        "[stamp]:Loading Frame_1..",
        "[stamp]:Adding to MDL Frame_1..",
        "[stamp]:Done.",
        "[stamp]:Writing MDL..",
        "[stamp]:All Done.",
    };
    EXPECT_EQ(host.Lines, expected);
    EXPECT_EQ(command.FrameFile, dir.File("ship_2.obj"));
    EXPECT_TRUE(FileExists(dir.File("ship.bmp")));
    // The missing texture got its placeholder, as did the material with none.
    EXPECT_TRUE(FileExists(dir.File("bricks.bmp")));
    EXPECT_TRUE(FileExists(dir.File("created_mtl1.bmp")));

    TMDLModel written;
    written.LoadFromFile(dir.File("out.mdl"));
    EXPECT_EQ(written.Header.NumFrames, 2);
    EXPECT_EQ(written.Frames[1].NameText(), "frame1");
}

TEST_F(ConversionCommandTest, OnlyTheTagZeroStartsASeries)
{
    WriteCube(dir, "ship");
    WriteText(dir.File("ship_1.obj"), CubeOBJ(0.25f));
    for (const char* name : { "ship.obj", "ship_00.obj", "ship_ 0.obj", "ship_1.obj" }) {
        SCOPED_TRACE(name);
        if (!FileExists(dir.File(name)))
            WriteText(dir.File(name), CubeOBJ(0.5f, "ship.mtl"));
        host.OBJFile = dir.File(name);
        host.MDLFile = dir.File("out.mdl");
        host.Lines.clear();
        ASSERT_EQ(command.Execute(), Result::Completed);
        for (const std::string& line : host.Lines)
            EXPECT_EQ(line.find("Frame_1"), std::string::npos) << line;
        TMDLModel written;
        written.LoadFromFile(dir.File("out.mdl"));
        EXPECT_EQ(written.Header.NumFrames, 1);
    }
}

TEST_F(ConversionCommandTest, AFailureEndsTheRunWhereItHappensAndIsShownOnce)
{
    host.OBJFile = dir.File("none_0.obj");
    host.MDLFile = dir.File("out.mdl");
    EXPECT_EQ(command.Execute(), Result::Failed);
    EXPECT_EQ(host.Lines, std::vector<std::string> { "[stamp]:Loading none_0.obj.." });
    EXPECT_EQ(host.Errors, std::vector<std::string> { "File not found." });
    EXPECT_FALSE(command.Busy());

    // A frame with another vertex count would make an unreadable file: the
    // run stops before the save, and what was written before stays.
    WriteCube(dir, "ship");
    WriteText(dir.File("ship_1.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\n");
    host.OBJFile = dir.File("ship_0.obj");
    host.Errors.clear();
    host.Lines.clear();
    EXPECT_EQ(command.Execute(), Result::Failed);
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0], "Frame_1 has 3 vertices, but Frame_0 has 8.");
    EXPECT_EQ(host.Lines.back(), "[stamp]:Adding to MDL Frame_1..");
    EXPECT_FALSE(FileExists(dir.File("out.mdl")));
    EXPECT_TRUE(FileExists(dir.File("ship.bmp")));
    EXPECT_EQ(command.MDLModel.Header.NumFrames, 1);
}

std::string Repeated(const std::string& Line, int Count)
{
    std::string text;
    for (int i = 0; i < Count; ++i)
        text += Line;
    return text;
}

std::map<std::string, std::vector<std::uint8_t>> FilesIn(const TScratchDir& Dir)
{
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& entry : std::filesystem::directory_iterator(Dir.Path()))
        files[entry.path().filename().string()] = ReadAllBytes(entry.path().string());
    return files;
}

TEST_F(ConversionCommandTest, RefusesToLoseATextureOrPassSixteenBitIndicesBeforeWritingAnything)
{
    const std::string clash = "The texture %s would be overwritten by the texture atlas of the "
                              "same name; rename the texture.";
    const std::string limit = ", an MDL5 model holds at most 65536.";
    const std::string unifying = "[stamp]:Unifying textures into box.bmp..";
    struct TCase
    {
        const char* What;
        std::string OBJ;
        std::string MTL; // empty: no box.mtl
        bool UserTexture; // box.bmp is there, the user's texture
        std::string Error; // %s for the folder's box.bmp; empty: converts
    };
    const TCase cases[] = {
        { "texture named like the atlas", CubeOBJ(), "newmtl red\nmap_Kd textures\\box.png\n", true,
            clash },
        { "65537 vertices", Repeated("v 0 0 0\n", 65537), "", false,
            "Too many vertices: the model has 65537" + limit },
        // Four default coordinates join the file's 65533.
        { "65537 coordinates",
            "v 0 0 0\nvn 0 0 1\n" + Repeated("vt 0 0\n", 65533) + "usemtl red\nf 1//1 1//1 1//1\n",
            "newmtl red\n", false, "Too many texture coordinates: the model has 65537" + limit },
        { "65536 of each",
            Repeated("v 0 0 0\n", 65536) + Repeated("vt 0 0\n", 65536)
                + "vn 0 0 1\nf 65536/65536/1 1/1/1 2/2/1\n",
            "", false, "" },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            std::filesystem::remove_all(entry.path());
        WriteText(dir.File("box.obj"), c.OBJ);
        if (!c.MTL.empty())
            WriteText(dir.File("box.mtl"), c.MTL);
        if (c.UserTexture)
            WriteText(dir.File("box.bmp"), "the user's picture");
        const auto before = FilesIn(dir);
        host.OBJFile = dir.File("box.obj");
        host.MDLFile = dir.File("box.mdl");
        host.Lines.clear();
        host.Errors.clear();

        const Result result = command.Execute();

        if (c.Error.empty()) {
            ASSERT_EQ(result, Result::Completed) << ::testing::PrintToString(host.Errors);
            EXPECT_EQ(command.MDLModel.Header.NumVerts, 65536);
            EXPECT_EQ(command.MDLModel.Header.NumSkinVerts, 65536);
            // Index 65535 is the last that fits: no warning.
            for (const std::string& line : host.Lines)
                EXPECT_NE(line.rfind("WARN", 0), 0u) << line;
            continue;
        }
        EXPECT_EQ(result, Result::Failed);
        EXPECT_EQ(
            host.Errors, std::vector<std::string> { FormatMessage(c.Error, dir.File("box.bmp")) });
        // The texture check is the atlas stage's first step; the limits come before it.
        if (c.Error == clash)
            EXPECT_EQ(host.Lines.back(), unifying);
        else
            EXPECT_EQ(std::count(host.Lines.begin(), host.Lines.end(), unifying), 0);
        EXPECT_EQ(FilesIn(dir), before);
    }
}

TEST(FailureText, AddsTheFullStopAndNamesMemoryExhaustion)
{
    EXPECT_EQ(FailureText(EConvertError("Incorrect Skin format.")), "Incorrect Skin format.");
    EXPECT_EQ(FailureText(EConvertError("I/O error (32)")), "I/O error (32)");
    EXPECT_EQ(FailureText(std::bad_alloc()), "Out of memory.");
}

} // namespace
