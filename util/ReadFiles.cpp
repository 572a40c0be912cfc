#include "util/ReadFiles.h"

#include <atomic>

#include <sys/stat.h>

#include "util/Errors.h"
#include "util/FileIO.h"

const char* const SOutputIsInput
    = "Writing %s would replace %s, which this conversion reads; choose another name.";

namespace {

std::atomic<TReadFiles*> GActive { nullptr };

std::string FormatTwo(
    const std::string& Format, const std::string& First, const std::string& Second)
{
    const std::size_t at = Format.find("%s");
    const std::string rest = Format.substr(at + 2);
    return Format.substr(0, at) + First + FormatMessage(rest, Second);
}

} // namespace

TReadFiles::TReadFiles()
    : FOuter(GActive.exchange(this))
{
}

TReadFiles::~TReadFiles()
{
    GActive.store(FOuter);
}

void TReadFiles::Note(dev_t Device, ino_t Inode, const std::string& Path)
{
    if (TReadFiles* const active = GActive.load())
        active->Add(Device, Inode, Path);
}

void TReadFiles::Add(dev_t Device, ino_t Inode, const std::string& Path)
{
    std::lock_guard<std::mutex> hold(FLock);
    for (const TEntry& entry : FEntries) {
        if (entry.Device == Device && entry.Inode == Inode)
            return;
    }
    FEntries.push_back(TEntry { Device, Inode, Path });
}

void TReadFiles::Expect(const std::string& Path)
{
    struct stat info;
    if (!Path.empty() && !HasNulByte(Path) && ::stat(Path.c_str(), &info) == 0
        && S_ISREG(info.st_mode))
        Add(info.st_dev, info.st_ino, Path);
}

const std::string* TReadFiles::ReadAs(const std::string& Path) const
{
    if (Path.empty() || HasNulByte(Path))
        return nullptr; // names no file, and the save says so
    struct stat named, reached;
    const bool hasNamed = ::lstat(Path.c_str(), &named) == 0;
    const bool hasReached = ::stat(Path.c_str(), &reached) == 0;
    std::lock_guard<std::mutex> hold(FLock);
    for (const TEntry& entry : FEntries) {
        if ((hasNamed && named.st_dev == entry.Device && named.st_ino == entry.Inode)
            || (hasReached && reached.st_dev == entry.Device && reached.st_ino == entry.Inode))
            return &entry.Path;
    }
    return nullptr;
}

void TReadFiles::CheckNotRead(const std::string& Path) const
{
    if (const std::string* input = ReadAs(Path))
        throw EInvalidOperation(FormatTwo(SOutputIsInput, Path, *input));
}
