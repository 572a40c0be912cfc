// The file access every reader and writer goes through: path parts and the
// existence test.
#include "util/FileIO.h"

#include <string>

#include <gtest/gtest.h>

#include "TestUtil.h"

namespace {

TEST(PathParts, SplitAtTheLastSlash)
{
    const struct
    {
        const char* Path;
        const char* Folder;
        const char* Name;
        const char* Parent;
    } cases[] = {
        { "a/b/ship_0.obj", "a/b/", "ship_0.obj", "a/b" },
        { "ship.obj", "", "ship.obj", "." },
        { "/ship.obj", "/", "ship.obj", "/" },
        { "a/b/", "a/b/", "", "a/b" },
        { "a\\b.obj", "", "a\\b.obj", "." }, // only "/" separates
        { "", "", "", "." },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FolderPart(c.Path), c.Folder) << c.Path;
        EXPECT_EQ(NamePart(c.Path), c.Name) << c.Path;
        EXPECT_EQ(FolderPart(c.Path) + NamePart(c.Path), c.Path);
        EXPECT_EQ(ParentFolder(c.Path), c.Parent) << c.Path;
    }
}

TEST(FileExists, IsTrueForFilesOnly)
{
    TScratchDir dir;
    const std::string path = dir.File("a.mtl");
    EXPECT_FALSE(FileExists(path));
    WriteText(path, "");
    EXPECT_TRUE(FileExists(path));
    EXPECT_FALSE(FileExists(dir.Path().string()));
    EXPECT_FALSE(FileExists(""));
    // A name longer than the file system allows is simply not there.
    EXPECT_FALSE(FileExists(dir.File(std::string(5000, 'n') + ".bmp")));
}

} // namespace
