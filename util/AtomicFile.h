// Writing a file so that it is either complete or not there at all: the bytes
// go into a new file beside the target, which replaces the target only once
// every byte has been written, synced and closed. A failed or abandoned write
// leaves an existing target as it was, and a killed program leaves nothing:
// the new file has no name until it replaces the target (O_TMPFILE), and
// where the file system cannot make such a file, the named temporary file is
// removed by SIGINT, SIGTERM and SIGHUP on their way.
#pragma once

#include <cstddef>
#include <string>

#include <sys/types.h>

#include "util/FileIO.h"

// What a save does with a symbolic link at the target's name.
enum class TLinkRule {
    // The link is replaced by the new file; the file it points to is never
    // touched. For every file a conversion writes on its own account (the
    // atlas, placeholders, the model's default name), since a downloaded
    // model folder may hold links to anywhere. A device, pipe or socket at
    // the name is refused: it is no file to replace, nor one to write into.
    Replace,
    // The link is followed and the file it names replaced, as editors do:
    // only for a name the user gave. Devices and pipes reached so are
    // written in place.
    Follow,
};

class TAtomicFile
{
public:
    // Creates the new, unnamed file in the folder of the file that will be
    // replaced; EInOutError (with the path as its place) when it cannot, or
    // when the target exists but may not be written.
    TAtomicFile(const std::string& Path, TLinkRule Links);
    // Discards the new file unless Commit has succeeded.
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    // Writes every byte or raises EInOutError naming the target.
    void Write(const void* Data, std::size_t Size);
    // Syncs, closes and puts the new file in the target's place. The new
    // file keeps the old one's permission bits without set-uid, set-gid and
    // sticky, and never more than a new file gets under the umask.
    void Commit();

private:
    [[noreturn]] void Fail(int errnoValue);
    void Discard();
    // The named temporary file beside the target, for file systems without
    // unnamed files.
    void CreateNamed(const std::string& Dir, const std::string& Base);

    std::string FPath; // as given: the name the errors report
    std::string FTarget; // the name that will be replaced
    std::string FTempPath; // the named temporary file, while there is one
    TFileDescriptor FFile;
    int FSlot = -1; // where a signal finds the temporary file's name
    mode_t FMode = 0; // of the new file
    bool FDirect = false; // an existing device or pipe, written in place
    bool FUnnamed = false; // made with O_TMPFILE, no name yet
};
