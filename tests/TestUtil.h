// Helpers shared by the tests: a scratch folder per test and whole-file I/O.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

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
