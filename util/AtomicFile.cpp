#include "util/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/Errors.h"
#include "util/FileIO.h"

namespace {

// Room left in a file name for the temporary file's prefix and suffix.
constexpr std::size_t MaxBaseNameForTemp = 200;

// The file a save to path must replace. Replacing a symbolic link itself
// would cut it from the file it names, so links are followed, also one whose
// file does not exist yet (as creating the file through it would).
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
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

TAtomicFile::TAtomicFile(const std::string& Path)
    : FPath(Path)
    , FTarget(Path)
{
    if (Path.empty() || HasNulByte(Path))
        RaiseInOutError(ENOENT, Path);
    FTarget = ResolveLinks(Path);
    // A file its owner made read-only is not to be replaced, though the
    // folder would allow it: the save is refused as writing it would be.
    if (::access(FTarget.c_str(), F_OK) == 0 && ::access(FTarget.c_str(), W_OK) != 0)
        RaiseInOutError(errno, Path);
    struct stat info;
    // A device, a pipe or a socket is written in place: renaming a file over
    // /dev/null would replace the device itself, and a pipe's reader waits
    // on the pipe, not on a name.
    const bool exists = ::stat(FTarget.c_str(), &info) == 0;
    // Only "no such file" lets the save go on to make one. A name too long
    // for the file system would otherwise be found only by the final
    // rename, after the whole file was written beside it under a short name.
    if (!exists && errno != ENOENT)
        RaiseInOutError(errno, Path);
    if (exists && S_ISDIR(info.st_mode))
        RaiseInOutError(EISDIR, Path);
    if (exists && !S_ISREG(info.st_mode)) {
        // Non-blocking only for the open, so a FIFO without a reader fails
        // at once instead of hanging the program.
        FFile
            = TFileDescriptor(::open(FTarget.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK));
        if (!FFile.IsOpen())
            RaiseInOutError(errno, Path);
        const int flags = ::fcntl(FFile.Get(), F_GETFL);
        if (flags < 0 || ::fcntl(FFile.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
            Fail(errno);
        FDirect = true;
        return;
    }
    const std::string base = NamePart(FTarget);
    const std::string dir = ParentFolder(FTarget);
    // A hidden name beside the target, so the rename never crosses file
    // systems; a very long name falls back to a short prefix.
    std::string pattern
        = dir + "/." + (base.size() <= MaxBaseNameForTemp ? base : "tarvex") + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    FFile = TFileDescriptor(::mkostemp(name.data(), O_CLOEXEC));
    if (!FFile.IsOpen())
        RaiseInOutError(errno, Path);
    FTempPath = name.data();

    mode_t mode = NewFileMode();
    if (::stat(FTarget.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        mode = info.st_mode & 07777;
    if (::fchmod(FFile.Get(), mode) != 0)
        Fail(errno);
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
}

void TAtomicFile::Fail(int errnoValue)
{
    Discard();
    RaiseInOutError(errnoValue, FPath);
}

void TAtomicFile::Write(const void* Data, std::size_t Size)
{
    if (!FFile.IsOpen())
        RaiseInOutError(EBADF, FPath);
    if (const int error = WriteAll(FFile.Get(), Data, Size))
        Fail(error);
}

void TAtomicFile::Commit()
{
    if (!FFile.IsOpen())
        RaiseInOutError(EBADF, FPath);
    if (FDirect) {
        if (const int error = FFile.Close())
            RaiseInOutError(error, FPath);
        return;
    }
    // The data must be on the disk before the name points at it, or a crash
    // right after the rename could leave an empty model behind.
    if (::fsync(FFile.Get()) != 0)
        Fail(errno);
    if (const int error = FFile.Close())
        Fail(error);
    if (::rename(FTempPath.c_str(), FTarget.c_str()) != 0)
        Fail(errno);
    FTempPath.clear();
}
