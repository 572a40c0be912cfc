// The one place that talks to the system about files: an owned descriptor,
// opening a file for reading, reads and writes that survive interruptions by
// signals, and the existence test that decides whether a companion file is
// there. Every reader and writer of the program goes through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A file descriptor that closes itself. Movable, not copyable.
class TFileDescriptor
{
public:
    TFileDescriptor() = default;
    explicit TFileDescriptor(int Fd)
        : FFd(Fd)
    {
    }
    ~TFileDescriptor();
    TFileDescriptor(TFileDescriptor&& Other) noexcept;
    TFileDescriptor& operator=(TFileDescriptor&& Other) noexcept;
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;

    int Get() const { return FFd; }
    bool IsOpen() const { return FFd >= 0; }
    // Closes now: 0, or the errno of a failed close (the descriptor is gone
    // either way, as the system leaves it).
    int Close();

private:
    int FFd = -1;
};

// True when Path holds a NUL byte. The system takes a path as a C string and
// would silently use only the part before it, another file than the one
// named (a texture name read from an MTL file may hold one): such a name
// names no file, and none can be made under it.
bool HasNulByte(const std::string& Path);

// The parts of a POSIX path. FolderPart keeps the final "/" and is empty for
// a bare name, so that FolderPart + NamePart gives the path back;
// ParentFolder is the folder as the system names it: "." for a bare name,
// "/" for a name at the root.
std::string FolderPart(const std::string& Path);
std::string NamePart(const std::string& Path);
std::string ParentFolder(const std::string& Path);

// True when Path names something that can be opened as a file: not a
// folder. Every failure of the test (a missing folder, a name too long for
// the file system, no permission to look) counts as "no file".
bool FileExists(const std::string& Path);

class EInOutError;
// The failure of opening a device, a pipe or a socket where a file is meant:
// code 5 (access denied), and a message that says what the name is.
EInOutError NotRegularFileError();

// Opens a file for reading and gives its size. Anything but a regular file
// (a folder, a device, a pipe) is refused, since only a regular file has an
// end to read to. EInOutError with the system's reason on any failure.
TFileDescriptor OpenRegularFile(const std::string& Path, std::uint64_t& Size);

// Reads up to Size bytes at Offset, again after an interruption, until Size
// bytes are in or the file ends: the count read, or -1 with errno set.
std::int64_t ReadAt(int Fd, void* Data, std::size_t Size, std::uint64_t Offset);

// Writes every byte, again after an interruption: 0, or the errno of the
// failure (ENOSPC when the system writes nothing without saying why).
int WriteAll(int Fd, const void* Data, std::size_t Size);
