// Conversions that do not end by themselves: killed by a signal while a
// file is being saved, or writing their log into a pipe whose reader has
// gone. The folder must hold only completed files afterwards, and the old
// model stays as it was until a new one replaces it whole.
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestUtil.h"
#include "mdl/MDLClass.h"

namespace fs = std::filesystem;

namespace {

const std::string OBJText = "mtllib box.mtl\n"
                            "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
                            "vt 0 0\nvt 1 0\nvt 0 1\n"
                            "usemtl red\nf 1/1 2/2 3/3\n";
const std::string MTLText = "newmtl red\nKd 1 0 0\n";
const std::vector<std::uint8_t> OldModel = { 'o', 'l', 'd' };

std::set<std::string> Names(const fs::path& Folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(Folder))
        names.insert(entry.path().filename().string());
    return names;
}

// Starts tarvex-cli convert box.obj in Folder with the extra environment;
// its standard output goes to Out (or /dev/null when -1), its errors to
// /dev/null.
pid_t Start(const fs::path& Folder, const std::vector<std::pair<std::string, std::string>>& Env,
    int Out = -1)
{
    const pid_t child = ::fork();
    if (child != 0)
        return child;
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0 || ::chdir(Folder.c_str()) != 0)
        ::_exit(127);
    for (const auto& [name, value] : Env)
        ::setenv(name.c_str(), value.c_str(), 1);
    ::dup2(Out >= 0 ? Out : null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::execl(TARVEX_CLI, TARVEX_CLI, "convert", "box.obj", static_cast<char*>(nullptr));
    ::_exit(127);
}

// Waits up to 10 seconds for the child to stop (Stopped) or end; the
// status, or -1 after a timeout, when the child is killed.
int Wait(pid_t Child, bool Stopped)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const pid_t done = ::waitpid(Child, &status, WNOHANG | (Stopped ? WUNTRACED : 0));
        if (done == Child)
            return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(Child, SIGKILL);
    ::waitpid(Child, &status, 0);
    return -1;
}

struct TInterrupt
{
    const char* Name;
    const char* StopAt; // the file whose save is interrupted
    bool Unnamed; // the new file made by O_TMPFILE, else a named one
    int Signal;
};

void PrintTo(const TInterrupt& Case, std::ostream* Out)
{
    *Out << Case.Name;
}

class Interrupted : public ::testing::TestWithParam<TInterrupt>
{
};

TEST_P(Interrupted, LeavesOnlyCompletedFiles)
{
    const TInterrupt& item = GetParam();
    TScratchDir dir;
    WriteText(dir.File("box.obj"), OBJText);
    WriteText(dir.File("box.mtl"), MTLText);
    WriteAllBytes(dir.File("box.mdl"), OldModel);
    std::vector<std::pair<std::string, std::string>> env
        = { { "TARVEX_TEST_STOP_AT_COMMIT", item.StopAt } };
    if (!item.Unnamed)
        env.emplace_back("TARVEX_TEST_NO_TMPFILE", "1");

    const pid_t child = Start(dir.Path(), env);
    ASSERT_GT(child, 0);
    const int stopped = Wait(child, true);
    ASSERT_TRUE(stopped != -1 && WIFSTOPPED(stopped))
        << "never reached the save of " << item.StopAt;
    // At this moment the new file is complete but not in its place; only a
    // named one can be seen.
    std::set<std::string> before = { "box.obj", "box.mtl", "box.mdl", "created_mtl0.bmp" };
    if (std::string(item.StopAt) == "box.mdl")
        before.insert("box.bmp");
    EXPECT_EQ(Names(dir.Path()).size(), before.size() + (item.Unnamed ? 0 : 1));

    ::kill(child, item.Signal);
    ::kill(child, SIGCONT);
    const int ended = Wait(child, false);
    ASSERT_TRUE(ended != -1 && WIFSIGNALED(ended)) << "status " << ended;
    EXPECT_EQ(WTERMSIG(ended), item.Signal);
    EXPECT_EQ(Names(dir.Path()), before);
    EXPECT_EQ(ReadAllBytes(dir.File("box.mdl")), OldModel);
}

INSTANTIATE_TEST_SUITE_P(Saves, Interrupted,
    ::testing::Values(TInterrupt { "ModelUnnamedINT", "box.mdl", true, SIGINT },
        TInterrupt { "ModelUnnamedTERM", "box.mdl", true, SIGTERM },
        TInterrupt { "ModelUnnamedHUP", "box.mdl", true, SIGHUP },
        TInterrupt { "ModelNamedINT", "box.mdl", false, SIGINT },
        TInterrupt { "ModelNamedTERM", "box.mdl", false, SIGTERM },
        TInterrupt { "ModelNamedHUP", "box.mdl", false, SIGHUP },
        TInterrupt { "AtlasUnnamedTERM", "box.bmp", true, SIGTERM },
        TInterrupt { "AtlasNamedTERM", "box.bmp", false, SIGTERM }),
    [](const ::testing::TestParamInfo<TInterrupt>& info) { return std::string(info.param.Name); });

// convert ... | grep -q WARN: the reader closes the pipe while the log is
// still written. The save completes; the status is 1, not death by SIGPIPE.
TEST(ClosedLogPipe, FinishesTheSaveAndExitsWithOne)
{
    TScratchDir dir;
    WriteText(dir.File("box.obj"), OBJText);
    WriteText(dir.File("box.mtl"), MTLText);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]); // the reader is gone before the first line
    const pid_t child = Start(dir.Path(), {}, ends[1]);
    ::close(ends[1]);
    ASSERT_GT(child, 0);
    const int ended = Wait(child, false);
    ASSERT_NE(ended, -1);
    ASSERT_TRUE(WIFEXITED(ended)) << "ended by signal " << WTERMSIG(ended);
    EXPECT_EQ(WEXITSTATUS(ended), 1);
    EXPECT_EQ(Names(dir.Path()),
        (std::set<std::string> { "box.obj", "box.mtl", "box.mdl", "box.bmp", "created_mtl0.bmp" }));
    TMDLModel model;
    model.LoadFromFile(dir.File("box.mdl"));
    EXPECT_EQ(model.Header.NumTris, 1);
}

} // namespace
