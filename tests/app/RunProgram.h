// Running a built program from a test: fork and exec in a given folder,
// standard output and error captured through files, with an optional time
// limit, extra environment variables, and what the child's end tells: its
// exit status or the signal that ended it, and its peak memory.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestUtil.h"

struct TRunOptions
{
    // Set in the child on top of the inherited environment.
    std::vector<std::pair<std::string, std::string>> Environment;
    // The child (and its process group) is killed with SIGKILL once this has
    // passed; 0 waits as long as it takes.
    std::chrono::milliseconds TimeLimit { 0 };
};

struct TRun
{
    int Status = -1; // the exit status; -1 after a signal or when nothing ran
    int Signal = 0; // the signal that ended the child, 0 when it exited
    bool TimedOut = false; // killed because the time limit passed
    long PeakRSSKiB = 0; // the child's largest resident set
    std::string Out;
    std::string Err;
};

namespace RunProgramDetail {

// A fresh file for one captured stream, outside the folder the program runs
// in, so that the folder holds only what the program made.
inline std::string CaptureFile(const char* Stream)
{
    std::string pattern
        = (std::filesystem::temp_directory_path() / (std::string("tarvex-") + Stream + "-XXXXXX"))
              .string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return std::string();
    ::close(fd);
    return pattern;
}

inline std::string TakeText(const std::string& Path)
{
    if (Path.empty())
        return std::string();
    const std::vector<std::uint8_t> bytes = ReadAllBytes(Path);
    std::error_code ignored;
    std::filesystem::remove(Path, ignored);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace RunProgramDetail

// Runs Program with Arguments, Folder as its working directory.
inline TRun RunProgram(const std::string& Folder, const std::string& Program,
    std::vector<std::string> Arguments, const TRunOptions& Options = {})
{
    const std::string outFile = RunProgramDetail::CaptureFile("stdout");
    const std::string errFile = RunProgramDetail::CaptureFile("stderr");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(Program.c_str()));
    for (std::string& argument : Arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    TRun run;
    if (outFile.empty() || errFile.empty()) {
        run.Err = "cannot make the capture files";
        RunProgramDetail::TakeText(outFile);
        RunProgramDetail::TakeText(errFile);
        return run;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        // Its own process group, so that a kill reaches whatever it started.
        ::setpgid(0, 0);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_TRUNC);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_TRUNC);
        if (out < 0 || err < 0 || ::chdir(Folder.c_str()) != 0)
            ::_exit(127);
        for (const auto& [name, value] : Options.Environment)
            ::setenv(name.c_str(), value.c_str(), 1);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (child < 0) {
        run.Err = "fork failed";
        RunProgramDetail::TakeText(outFile);
        RunProgramDetail::TakeText(errFile);
        return run;
    }

    int status = 0;
    rusage usage {};
    const auto start = std::chrono::steady_clock::now();
    auto pause = std::chrono::milliseconds(1);
    pid_t done = 0;
    for (;;) {
        done = ::wait4(child, &status, Options.TimeLimit.count() > 0 ? WNOHANG : 0, &usage);
        if (done == child || (done < 0 && errno != EINTR))
            break;
        if (done == 0 && std::chrono::steady_clock::now() - start >= Options.TimeLimit) {
            run.TimedOut = true;
            ::kill(-child, SIGKILL);
            ::kill(child, SIGKILL);
            while ((done = ::wait4(child, &status, 0, &usage)) < 0 && errno == EINTR) { }
            break;
        }
        if (done == 0) {
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(20));
        }
    }
    if (done == child) {
        run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        run.PeakRSSKiB = usage.ru_maxrss; // kilobytes on Linux
    }
    run.Out = RunProgramDetail::TakeText(outFile);
    run.Err = RunProgramDetail::TakeText(errFile);
    return run;
}
