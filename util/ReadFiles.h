// The files a conversion reads, known by device and inode rather than by
// name, so that no file it writes can be one of them: a link, a second
// hard link or another spelling of an input's name is found out as surely
// as the name itself.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <sys/types.h>

// Raised, naming both files, when an output would replace an input.
extern const char* const SOutputIsInput;

class TReadFiles
{
public:
    // From now until it is destroyed, every file OpenRegularFile opens is
    // noted here. One is active at a time; a second one set up meanwhile
    // takes over until it ends.
    TReadFiles();
    ~TReadFiles();
    TReadFiles(const TReadFiles&) = delete;
    TReadFiles& operator=(const TReadFiles&) = delete;

    // Notes a file that the conversion will read later, when there is one
    // at Path (links followed, as reading follows them).
    void Expect(const std::string& Path);
    // Raises EInvalidOperation when writing Path would replace a file noted
    // so far: the file at Path itself or, when Path is a link, the file it
    // leads to.
    void CheckNotRead(const std::string& Path) const;
    // The name under which the file at Path (or the one a link there leads
    // to) was noted, or null when it was not.
    const std::string* ReadAs(const std::string& Path) const;

    // What OpenRegularFile calls for each file it opens.
    static void Note(dev_t Device, ino_t Inode, const std::string& Path);

private:
    struct TEntry
    {
        dev_t Device;
        ino_t Inode;
        std::string Path;
    };
    void Add(dev_t Device, ino_t Inode, const std::string& Path);

    mutable std::mutex FLock; // a second thread may open files meanwhile
    std::vector<TEntry> FEntries;
    TReadFiles* FOuter;
};
