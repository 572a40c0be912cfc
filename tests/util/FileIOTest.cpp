// The file access every reader and writer goes through: path parts and the
// existence test.
#include "util/FileIO.h"

#include <string>

#include <gtest/gtest.h>

#include "TestUtil.h"

namespace {

TEST(PathParts, SplitAtTheLastSlash)
{
    // Path, folder part, name part, parent folder.
    const char* const cases[][4] = {
        { "a/b/ship_0.obj", "a/b/", "ship_0.obj", "a/b" },
        { "ship.obj", "", "ship.obj", "." },
        { "/ship.obj", "/", "ship.obj", "/" },
        { "a/b/", "a/b/", "", "a/b" },
        { "a\\b.obj", "", "a\\b.obj", "." }, // only "/" separates
        { "", "", "", "." },
    };
    for (const auto& c : cases) {
        const std::string path = c[0];
        EXPECT_EQ(FolderPart(path), c[1]) << path;
        EXPECT_EQ(NamePart(path), c[2]) << path;
        EXPECT_EQ(FolderPart(path) + NamePart(path), path);
        EXPECT_EQ(ParentFolder(path), c[3]) << path;
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
