// Saving so that a file is either complete or untouched: refused targets,
// abandoned writes, permissions, links, devices and pipes.
#include "util/AtomicFile.h"

#include "util/Errors.h"

#include "TestUtil.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TBytes = std::vector<std::uint8_t>;
using TNames = std::set<std::string>;

const TBytes NewBytes = { 'n', 'e', 'w', 0, 0xFF };

TNames FileNames(const std::filesystem::path& folder)
{
    TNames names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

mode_t ModeOf(const std::string& path)
{
    struct stat info = {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

void Save(const std::string& path, const TBytes& bytes = NewBytes)
{
    TAtomicFile file(path, TLinkRule::Follow);
    file.Write(bytes.data(), bytes.size());
    file.Commit();
}

// The code and message of the I/O error the save raised, or "none".
std::string SaveError(const std::string& path)
{
    try {
        Save(path);
    } catch (const EInOutError& e) {
        return std::to_string(e.ErrorCode()) + " " + e.Message();
    }
    return "none";
}

} // namespace

TEST(AtomicFileErrors, RefusedTargetsRaiseAndLeaveNoTrace)
{
    const struct
    {
        const char* Target;
        const char* Error;
        TNames Left;
    } cases[] = {
        { "missing/model.mdl", "3 Invalid file name", {} },
        // A folder of that name, with a file in it that must stay.
        { "model.mdl", "5 File access denied", { "model.mdl" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Target);
        TScratchDir dir;
        if (!c.Left.empty()) {
            std::filesystem::create_directory(dir.File(c.Target));
            WriteAllBytes(dir.File(c.Target) + "/inside", { 1, 2, 3 });
        }
        EXPECT_EQ(SaveError(dir.File(c.Target)), c.Error);
        EXPECT_EQ(FileNames(dir.Path()), c.Left);
        if (!c.Left.empty()) {
            EXPECT_EQ(ReadAllBytes(dir.File(c.Target) + "/inside"), (TBytes { 1, 2, 3 }));
        }
    }
}

TEST(AtomicFileErrors, UnwritableFolderOrFileDeniesAccessAndKeepsTheOldFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    TScratchDir dir;
    const std::string folder = dir.File("locked");
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/model.mdl";
    WriteAllBytes(path, { 9, 8, 7 });
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    TOnExit unlock([&] { ::chmod(folder.c_str(), 0755); });
    EXPECT_EQ(SaveError(path), "5 File access denied");
    EXPECT_EQ(ReadAllBytes(path), (TBytes { 9, 8, 7 }));
    EXPECT_EQ(FileNames(folder), TNames { "model.mdl" });

    // A read-only file in a writable folder is refused the same way.
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(SaveError(path), "5 File access denied");
    EXPECT_EQ(ReadAllBytes(path), (TBytes { 9, 8, 7 }));
    EXPECT_EQ(FileNames(folder), TNames { "model.mdl" });
}

TEST(AtomicFile, ReplacesTheTargetOnlyOnCommit)
{
    TScratchDir dir;
    const std::string path = dir.File("model.mdl");
    WriteAllBytes(path, TBytes(1000, 0xAB));
    {
        TAtomicFile file(path, TLinkRule::Follow);
        file.Write(NewBytes.data(), NewBytes.size());
        EXPECT_EQ(ReadAllBytes(path), TBytes(1000, 0xAB)) << "replaced before the commit";
    } // abandoned
    EXPECT_EQ(ReadAllBytes(path), TBytes(1000, 0xAB));
    EXPECT_EQ(FileNames(dir.Path()), TNames { "model.mdl" });

    Save(path);
    EXPECT_EQ(ReadAllBytes(path), NewBytes);
    EXPECT_EQ(FileNames(dir.Path()), TNames { "model.mdl" });
}

TEST(AtomicFile, KeepsModeOfReplacedFileAndUsesUmaskForNewOne)
{
    TScratchDir dir;
    const std::string existing = dir.File("existing.mdl");
    WriteAllBytes(existing, { 1 });
    ASSERT_EQ(::chmod(existing.c_str(), 0640), 0);
    Save(existing);
    EXPECT_EQ(ModeOf(existing), 0640u);
    EXPECT_EQ(ReadAllBytes(existing), NewBytes);

    const mode_t oldMask = ::umask(022);
    TOnExit restore([&] { ::umask(oldMask); });
    Save(dir.File("new.mdl"));
    EXPECT_EQ(ModeOf(dir.File("new.mdl")), 0644u);
    ::umask(027);
    Save(dir.File("other.mdl"));
    EXPECT_EQ(ModeOf(dir.File("other.mdl")), 0640u);
    EXPECT_EQ(FileNames(dir.Path()), (TNames { "existing.mdl", "new.mdl", "other.mdl" }));
}

TEST(AtomicFile, SavingThroughSymlinkReplacesTheLinkedFile)
{
    TScratchDir dir;
    std::filesystem::create_directory(dir.File("real"));
    const std::string target = dir.File("real/model.mdl");
    WriteAllBytes(target, TBytes(500, 0xEE));
    const std::string link = dir.File("link.mdl");
    std::filesystem::create_symlink("real/model.mdl", link);
    Save(link);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link), "real/model.mdl");
    EXPECT_EQ(ReadAllBytes(target), NewBytes);
    EXPECT_EQ(FileNames(dir.Path()), (TNames { "link.mdl", "real" }));
    EXPECT_EQ(FileNames(dir.File("real")), TNames { "model.mdl" });

    // A link to a file not made yet makes that file, as creating it would.
    const std::string dangling = dir.File("new.mdl");
    std::filesystem::create_symlink("real/later.mdl", dangling);
    Save(dangling);
    EXPECT_TRUE(std::filesystem::is_symlink(dangling));
    EXPECT_EQ(ReadAllBytes(dir.File("real/later.mdl")), NewBytes);
}

TEST(AtomicFile, DevicesAndPipesAreWrittenThroughNotReplaced)
{
    Save("/dev/null");
    struct stat info;
    ASSERT_EQ(::stat("/dev/null", &info), 0);
    ASSERT_TRUE(S_ISCHR(info.st_mode)) << "/dev/null was replaced";

    TScratchDir dir;
    const std::string fifo = dir.File("pipe.mdl");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TBytes received;
    std::thread reader([&] { received = ReadAllBytes(fifo); });
    // The save opens the pipe without waiting; give the reader time to open
    // its end first, as a reading program would have.
    for (int i = 0; i < 200; ++i) {
        try {
            Save(fifo);
            break;
        } catch (const EInOutError&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    reader.join();
    EXPECT_EQ(received, NewBytes);
    EXPECT_EQ(FileNames(dir.Path()), TNames { "pipe.mdl" });
}
