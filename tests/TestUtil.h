// Helpers shared by the tests: a scratch folder per test and whole-file I/O.
#pragma once

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

// The message of the error of type E that Call raises; a test failure, and
// an empty text, when it raises none.
template <typename E, typename TCall> std::string MessageOfThrown(TCall&& Call)
{
    try {
        Call();
    } catch (const E& e) {
        return e.Message();
    }
    ADD_FAILURE() << "no " << typeid(E).name() << " was raised";
    return std::string();
}

// A fresh, empty folder for the running test, removed again with the object.
class TScratchDir
{
public:
    TScratchDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "tarvex-test-" + std::to_string(::getpid());
        if (info) {
            name += std::string("-") + info->test_suite_name() + "-" + info->name();
        }
        for (char& c : name) {
            if (c == '/')
                c = '_';
        }
        FPath = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(FPath);
        std::filesystem::create_directories(FPath);
    }
    ~TScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    std::string File(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

inline std::vector<std::uint8_t> ReadAllBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAllBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(
        reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const std::string& path, const std::string& text)
{
    WriteAllBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// Runs an undo step when the test leaves its scope, however it leaves.
class TOnExit
{
public:
    explicit TOnExit(std::function<void()> undo)
        : FUndo(std::move(undo))
    {
    }
    ~TOnExit() { FUndo(); }
    TOnExit(const TOnExit&) = delete;
    TOnExit& operator=(const TOnExit&) = delete;

private:
    std::function<void()> FUndo;
};

// A full disk, as the writers see it: writes beyond Bytes fail with EFBIG
// (SIGXFSZ is ignored meanwhile). Both are restored with the object.
class TFileSizeLimit
{
public:
    explicit TFileSizeLimit(rlim_t Bytes)
    {
        if (::getrlimit(RLIMIT_FSIZE, &FOldLimit) != 0)
            return;
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit capped = FOldLimit;
        capped.rlim_cur = std::min<rlim_t>(Bytes, FOldLimit.rlim_max);
        FActive = ::setrlimit(RLIMIT_FSIZE, &capped) == 0;
    }
    ~TFileSizeLimit()
    {
        if (FOldHandler != SIG_ERR) {
            ::setrlimit(RLIMIT_FSIZE, &FOldLimit);
            std::signal(SIGXFSZ, FOldHandler);
        }
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

    bool Active() const { return FActive; }

private:
    rlimit FOldLimit {};
    void (*FOldHandler)(int) = SIG_ERR;
    bool FActive = false;
};
