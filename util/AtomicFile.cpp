#include "util/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/Errors.h"
#include "util/FileIO.h"

namespace {

// Room left in a file name for the temporary file's prefix and suffix.
constexpr std::size_t MaxBaseNameForTemp = 200;

// Test hooks, read from the environment; no user sets them. With
// TARVEX_TEST_NO_TMPFILE set, saves take the named temporary file, as on a
// file system without O_TMPFILE. TARVEX_TEST_STOP_AT_COMMIT=NAME stops the
// process (SIGSTOP) when the save of a file called NAME has written every
// byte and not yet replaced the target: the moment a test kills it at.
bool UnnamedFilesDisabled()
{
    return std::getenv("TARVEX_TEST_NO_TMPFILE") != nullptr;
}

void StopHereForTests(const std::string& path)
{
    const char* const name = std::getenv("TARVEX_TEST_STOP_AT_COMMIT");
    if (name && NamePart(path) == name)
        ::raise(SIGSTOP);
}

// ---------------------------------------------------------------- signals

// The named temporary files that exist right now. A signal that ends the
// program removes them first; the handler may only read fixed memory, so
// the names sit in fixed slots: 0 free, 1 being filled, 2 ready.
constexpr int PendingSlots = 16;
std::atomic<int> GSlotState[PendingSlots];
char GSlotPath[PendingSlots][PATH_MAX];
constexpr int EndingSignals[] = { SIGINT, SIGTERM, SIGHUP };

extern "C" void RemovePendingAndReraise(int signal)
{
    const int savedErrno = errno;
    for (int i = 0; i < PendingSlots; ++i) {
        if (GSlotState[i].load() == 2)
            ::unlink(GSlotPath[i]);
    }
    errno = savedErrno;
    // SA_RESETHAND put back the default action, and SA_NODEFER lets it
    // happen at once: the program ends as the signal meant it to.
    ::raise(signal);
}

void InstallHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int signal : EndingSignals) {
            struct sigaction old = {};
            if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL)
                continue; // ignored (nohup) or handled by the program: left alone
            struct sigaction action = {};
            action.sa_handler = RemovePendingAndReraise;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESETHAND | SA_NODEFER;
            ::sigaction(signal, &action, nullptr);
        }
    });
}

// Puts Path among the names a signal removes: the slot, or -1 when every
// slot is taken (the name is then not guarded).
int Guard(const std::string& path)
{
    if (path.size() >= PATH_MAX)
        return -1;
    InstallHandlers();
    for (int i = 0; i < PendingSlots; ++i) {
        int expected = 0;
        if (GSlotState[i].compare_exchange_strong(expected, 1)) {
            std::memcpy(GSlotPath[i], path.c_str(), path.size() + 1);
            GSlotState[i].store(2);
            return i;
        }
    }
    return -1;
}

void Unguard(int& slot)
{
    if (slot >= 0)
        GSlotState[slot].store(0);
    slot = -1;
}

// ---------------------------------------------------------------- names

// The file a save to path must replace when links are followed: a link is
// followed, also one whose file does not exist yet (as creating the file
// through it would).
std::string ResolveLinks(const std::string& path)
{
    constexpr int MaxLinks = 40; // the system's own limit on a chain of links
    std::string target = path;
    for (int i = 0; i < MaxLinks; ++i) {
        struct stat info;
        if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return target;
        std::vector<char> text(PATH_MAX + 1);
        const ssize_t length = ::readlink(target.c_str(), text.data(), PATH_MAX);
        if (length <= 0)
            return target;
        const std::string link(text.data(), static_cast<std::size_t>(length));
        target = link[0] == '/' ? link : ParentFolder(target) + "/" + link;
    }
    return target; // a loop: the save reports what the system says of it
}

// The permissions open() would give a new file under the current umask.
mode_t NewFileMode()
{
    static std::mutex lock; // umask can only be read by setting it
    std::lock_guard<std::mutex> hold(lock);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A hidden name beside the target, so that the rename never crosses file
// systems; a very long name falls back to a short prefix.
std::string TempPrefix(const std::string& dir, const std::string& base)
{
    return dir + "/." + (base.size() <= MaxBaseNameForTemp ? base : "tarvex") + ".";
}

// A name not taken at the moment, for the new file's short life beside the
// target: the prefix and six letters from a per-process sequence.
std::string FreshName(const std::string& prefix)
{
    static std::atomic<std::uint64_t> sequence {
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())
        ^ (static_cast<std::uint64_t>(::getpid()) << 32)
    };
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uint64_t value = (sequence += 0x9E3779B97F4A7C15ULL) * 0xBF58476D1CE4E5B9ULL;
    std::string name = prefix;
    for (int i = 0; i < 6; ++i, value /= 62)
        name += letters[value % 62];
    return name;
}

// The path through which an unnamed file is given a name.
std::string ProcFdPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

[[noreturn]] void Raise(int errnoValue, const std::string& path)
{
    EInOutError failure = EInOutError::FromErrno(errnoValue, path);
    failure.SetPlace(path, 0);
    throw failure;
}

[[noreturn]] void RaiseNotRegular(const std::string& path)
{
    EInOutError failure = NotRegularFileError();
    failure.SetPlace(path, 0);
    throw failure;
}

} // namespace

TAtomicFile::TAtomicFile(const std::string& Path, TLinkRule Links)
    : FPath(Path)
    , FTarget(Path)
{
    if (Path.empty())
        Raise(ENOENT, Path);
    // A NUL byte would cut the name short, to another file's.
    if (HasNulByte(Path))
        Raise(EINVAL, Path);
    if (Links == TLinkRule::Follow)
        FTarget = ResolveLinks(Path);
    struct stat info;
    // With links followed the name is taken as the system takes it; without,
    // a link at the name is itself what the new file replaces.
    const int found = Links == TLinkRule::Follow ? ::stat(FTarget.c_str(), &info)
                                                 : ::lstat(FTarget.c_str(), &info);
    const bool exists = found == 0;
    // Only "no such file" lets the save go on to make one. A name too long
    // for the file system would otherwise be found only by the final
    // rename, after the whole file was written beside it under a short name.
    if (!exists && errno != ENOENT)
        Raise(errno, Path);
    if (exists && S_ISDIR(info.st_mode))
        Raise(EISDIR, Path);
    if (exists && Links == TLinkRule::Replace && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode))
        RaiseNotRegular(Path);
    if (exists && Links == TLinkRule::Follow && !S_ISREG(info.st_mode)) {
        // A device, a pipe or a socket the user named is written in place:
        // renaming a file over /dev/null would replace the device itself,
        // and a pipe's reader waits on the pipe, not on a name.
        // Non-blocking only for the open, so a FIFO without a reader fails
        // at once instead of hanging the program.
        FFile
            = TFileDescriptor(::open(FTarget.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK));
        if (!FFile.IsOpen())
            Raise(errno, Path);
        const int flags = ::fcntl(FFile.Get(), F_GETFL);
        if (flags < 0 || ::fcntl(FFile.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
            Fail(errno);
        FDirect = true;
        return;
    }
    FMode = NewFileMode();
    if (exists && S_ISREG(info.st_mode)) {
        // A file its owner made read-only is not to be replaced, though the
        // folder would allow it: the save is refused as writing it would be.
        if (::access(FTarget.c_str(), W_OK) != 0)
            Raise(errno, Path);
        // Set-uid, set-gid and sticky are never handed on, nor bits that a
        // new file would not get: a planted 06777 file must not make one.
        FMode &= info.st_mode & 0777;
    }

    const std::string dir = ParentFolder(FTarget);
    if (!UnnamedFilesDisabled() && ::access("/proc/self/fd", X_OK) == 0) {
        FFile = TFileDescriptor(::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        FUnnamed = FFile.IsOpen();
    }
    // Any refusal (a file system without unnamed files, but also a folder
    // that is missing or closed) is met again, and reported, by the named
    // file.
    if (!FUnnamed)
        CreateNamed(dir, NamePart(FTarget));
    if (::fchmod(FFile.Get(), FMode) != 0)
        Fail(errno);
}

void TAtomicFile::CreateNamed(const std::string& Dir, const std::string& Base)
{
    const std::string pattern = TempPrefix(Dir, Base) + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // The signal handler is in place before the file exists, so that only
    // the instant between its making and its guarding is unguarded.
    InstallHandlers();
    FFile = TFileDescriptor(::mkostemp(name.data(), O_CLOEXEC));
    if (!FFile.IsOpen())
        Raise(errno, FPath);
    FTempPath = name.data();
    FSlot = Guard(FTempPath);
}

TAtomicFile::~TAtomicFile()
{
    Discard();
}

void TAtomicFile::Discard()
{
    FFile.Close();
    if (!FTempPath.empty()) {
        ::unlink(FTempPath.c_str());
        FTempPath.clear();
    }
    Unguard(FSlot);
}

void TAtomicFile::Fail(int errnoValue)
{
    Discard();
    Raise(errnoValue, FPath);
}

void TAtomicFile::Write(const void* Data, std::size_t Size)
{
    if (!FFile.IsOpen())
        Raise(EBADF, FPath);
    if (const int error = WriteAll(FFile.Get(), Data, Size))
        Fail(error);
}

void TAtomicFile::Commit()
{
    if (!FFile.IsOpen())
        Raise(EBADF, FPath);
    if (FDirect) {
        if (const int error = FFile.Close())
            Raise(error, FPath);
        return;
    }
    // The data must be on the disk before the name points at it, or a crash
    // right after the rename could leave an empty model behind.
    if (::fsync(FFile.Get()) != 0)
        Fail(errno);
    StopHereForTests(FTarget);
    if (FUnnamed) {
        const std::string self = ProcFdPath(FFile.Get());
        // Where nothing has the name yet, the file simply gets it.
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, FTarget.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            if (const int error = FFile.Close())
                Raise(error, FPath);
            return;
        }
        if (errno != EEXIST)
            Fail(errno);
        // Otherwise under a passing name, which a signal removes, and
        // renamed over the old file in one step.
        const std::string prefix = TempPrefix(ParentFolder(FTarget), NamePart(FTarget));
        for (int attempt = 0;; ++attempt) {
            const std::string name = FreshName(prefix);
            FSlot = Guard(name);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                FTempPath = name;
                break;
            }
            const int error = errno;
            Unguard(FSlot);
            if (error != EEXIST || attempt == 100)
                Fail(error);
        }
    }
    if (const int error = FFile.Close())
        Fail(error);
    if (::rename(FTempPath.c_str(), FTarget.c_str()) != 0)
        Fail(errno);
    FTempPath.clear();
    Unguard(FSlot);
}
