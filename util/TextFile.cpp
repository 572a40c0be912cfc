#include "util/TextFile.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/Errors.h"

namespace {

// Big enough that the system calls cost nothing next to the parsing, small
// enough to stay in the caches.
constexpr std::size_t ReadBlockSize = std::size_t(256) << 10;

constexpr char CarriageReturn = 13;
constexpr char LineFeed = 10;

} // namespace

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

int OpenRegularFile(const std::string& Path, std::uint64_t& Size)
{
    if (HasNulByte(Path))
        RaiseInOutError(ENOENT, Path);
    // Non-blocking, so that naming a pipe cannot hang the program in open().
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        RaiseInOutError(errno, Path);
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        RaiseInOutError(error, Path);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        RaiseInOutError(S_ISDIR(info.st_mode) ? EISDIR : EACCES, Path);
    }
    Size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

TTextReader::TTextReader(const std::string& Path, char EndOfText)
    : FPath(Path)
    , FEndOfText(EndOfText)
{
    FFd = OpenRegularFile(Path, FSize);
    FBuffer.resize(ReadBlockSize);
}

TTextReader::~TTextReader()
{
    if (FFd >= 0)
        ::close(FFd);
}

bool TTextReader::Fill()
{
    if (FAtEnd)
        return false;
    if (FStart > 0) {
        std::copy(FBuffer.begin() + FStart, FBuffer.begin() + FEnd, FBuffer.begin());
        FEnd -= FStart;
        FStart = 0;
    }
    // A line longer than the buffer doubles it; the buffer never holds more
    // than the longest line plus one block.
    if (FBuffer.size() - FEnd < ReadBlockSize)
        FBuffer.resize(std::max(FBuffer.size() * 2, FEnd + ReadBlockSize));
    for (;;) {
        const ssize_t got = ::read(FFd, FBuffer.data() + FEnd, FBuffer.size() - FEnd);
        if (got > 0) {
            FEnd += static_cast<std::size_t>(got);
            return true;
        }
        if (got == 0) {
            FAtEnd = true;
            return false;
        }
        if (errno != EINTR)
            RaiseInOutError(errno, FPath);
    }
}

bool TTextReader::ReadLine(std::string_view& Line)
{
    for (;;) {
        if (FSkipLF && FStart < FEnd) {
            if (FBuffer[FStart] == LineFeed)
                ++FStart;
            FSkipLF = false;
        }
        const char* const begin = FBuffer.data() + FStart;
        const char* const end = FBuffer.data() + FEnd;
        const char endOfText = FEndOfText;
        const char* const at = std::find_if(begin + FScanned, end, [endOfText](char c) {
            return c == CarriageReturn || c == LineFeed || c == endOfText;
        });
        if (at != end) {
            const std::size_t length = static_cast<std::size_t>(at - begin);
            FStart += length + 1;
            FScanned = 0;
            if (*at == endOfText) {
                // Nothing after the end-of-text byte is text; what came before it on
                // its line is the last line.
                FAtEnd = true;
                FStart = FEnd = 0;
                if (length == 0)
                    return false;
            }
            FSkipLF = *at == CarriageReturn;
            Line = std::string_view(begin, length);
            return true;
        }
        FScanned = FEnd - FStart;
        if (!Fill()) {
            if (FStart == FEnd)
                return false;
            // The last line, without a line end.
            Line = std::string_view(FBuffer.data() + FStart, FEnd - FStart);
            FStart = FEnd;
            FScanned = 0;
            return true;
        }
    }
}
