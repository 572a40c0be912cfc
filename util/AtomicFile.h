// Writing a file so that it is either complete or not there at all: the bytes
// go into a new file beside the target, which replaces the target only once
// every byte has been written, synced and closed. A failed or abandoned write
// removes its temporary file and leaves an existing target as it was.
// Devices and pipes (/dev/null, a FIFO) have no file to replace and are
// written directly.
#pragma once

#include <cstddef>
#include <string>

#include "util/FileIO.h"

class TAtomicFile
{
public:
    // Creates the temporary file in the target's folder; EInOutError when it
    // cannot, or when the target exists but may not be written. A target that
    // is a symbolic link is resolved, so the file the link points to is the
    // one replaced.
    explicit TAtomicFile(const std::string& Path);
    // Removes the temporary file unless Commit has succeeded.
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    // Writes every byte or raises EInOutError naming the target.
    void Write(const void* Data, std::size_t Size);
    // Syncs, closes and renames the temporary file over the target. The new
    // file keeps the old one's permissions, or gets the usual ones of a new
    // file.
    void Commit();

private:
    [[noreturn]] void Fail(int errnoValue);
    void Discard();

    std::string FPath; // as given: the name the errors report
    std::string FTarget; // the file that will be replaced
    std::string FTempPath;
    TFileDescriptor FFile;
    bool FDirect = false; // an existing device or pipe, written in place
};
