#include "util/FileIO.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/Errors.h"
#include "util/ReadFiles.h"

TFileDescriptor::~TFileDescriptor()
{
    if (FFd >= 0)
        ::close(FFd);
}

TFileDescriptor::TFileDescriptor(TFileDescriptor&& Other) noexcept
    : FFd(Other.FFd)
{
    Other.FFd = -1;
}

TFileDescriptor& TFileDescriptor::operator=(TFileDescriptor&& Other) noexcept
{
    if (this != &Other) {
        if (FFd >= 0)
            ::close(FFd);
        FFd = Other.FFd;
        Other.FFd = -1;
    }
    return *this;
}

int TFileDescriptor::Close()
{
    const int fd = FFd;
    FFd = -1;
    return fd < 0 || ::close(fd) == 0 ? 0 : errno;
}

std::string FolderPart(const std::string& Path)
{
    const std::size_t slash = Path.rfind('/');
    return slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
}

std::string NamePart(const std::string& Path)
{
    const std::size_t slash = Path.rfind('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

std::string ParentFolder(const std::string& Path)
{
    const std::size_t slash = Path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : Path.substr(0, slash);
}

bool HasNulByte(const std::string& Path)
{
    return Path.find('\0') != std::string::npos;
}

bool FileExists(const std::string& Path)
{
    struct stat info;
    return !Path.empty() && !HasNulByte(Path) && ::stat(Path.c_str(), &info) == 0
        && !S_ISDIR(info.st_mode);
}

EInOutError NotRegularFileError()
{
    return EInOutError(IoAccessDenied, "Not a regular file: a device, a pipe or a socket");
}

TFileDescriptor OpenRegularFile(const std::string& Path, std::uint64_t& Size)
{
    if (HasNulByte(Path))
        RaiseInOutError(ENOENT, Path);
    // Non-blocking, so that naming a pipe cannot hang the program in open().
    TFileDescriptor file(::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.IsOpen())
        RaiseInOutError(errno, Path);
    struct stat info;
    if (::fstat(file.Get(), &info) != 0)
        RaiseInOutError(errno, Path);
    if (S_ISDIR(info.st_mode))
        RaiseInOutError(EISDIR, Path);
    if (!S_ISREG(info.st_mode))
        throw NotRegularFileError();
    TReadFiles::Note(info.st_dev, info.st_ino, Path);
    Size = static_cast<std::uint64_t>(info.st_size);
    return file;
}

std::int64_t ReadAt(int Fd, void* Data, std::size_t Size, std::uint64_t Offset)
{
    auto* at = static_cast<char*>(Data);
    std::size_t done = 0;
    while (done < Size) {
        // At an offset of its own, so that readers sharing a descriptor do
        // not move each other's place.
        const ssize_t got = ::pread(Fd, at + done, Size - done, static_cast<off_t>(Offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

int WriteAll(int Fd, const void* Data, std::size_t Size)
{
    const auto* at = static_cast<const char*>(Data);
    while (Size > 0) {
        const ssize_t done = ::write(Fd, at, Size);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (done == 0)
            return ENOSPC;
        at += done;
        Size -= static_cast<std::size_t>(done);
    }
    return 0;
}
