// Reading the input files of a conversion: opening a regular file, the text
// files (OBJ, MTL, frame-name lists) one line at a time, and the existence
// test that decides whether a companion file is there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// True when Path names something that can be opened as a file: not a
// folder. Every failure of the test (a missing folder, a name too long for
// the file system, no permission to look) counts as "no file".
bool FileExists(const std::string& Path);

// True when Path holds a NUL byte. The system takes a path as a C string and
// would silently use only the part before it, another file than the one
// named (a texture name read from an MTL file may hold one): such a name
// names no file, and none can be made under it.
bool HasNulByte(const std::string& Path);

// Opens a file for reading and gives its size. Anything but a regular file
// (a folder, a device, a pipe) is refused, since only a regular file has an
// end to read to. EInOutError with the system's reason on any failure; the
// caller closes the descriptor.
int OpenRegularFile(const std::string& Path, std::uint64_t& Size);

// Hands out the lines of a file as 8-bit text. A line ends at a carriage
// return, at a line feed, or at the pair CR LF; the end-of-text byte ends the
// file as if the file stopped there. A last line without a line end counts like any
// other; nothing follows the final line end. The file is read in large
// blocks, and a line is a view into the reader's buffer, valid until the
// next call.
class TTextReader
{
public:
    // Opens the file; EInOutError with the system's reason when it cannot.
    // EndOfText is the byte that ends the text: 26 for OBJ and MTL files, NUL
    // for the frame-name list.
    explicit TTextReader(const std::string& Path, char EndOfText = 26);
    ~TTextReader();
    TTextReader(const TTextReader&) = delete;
    TTextReader& operator=(const TTextReader&) = delete;

    // The size of the file in bytes when it was opened.
    std::uint64_t Size() const { return FSize; }
    // The next line without its line end; false at the end of the text.
    // A failed read raises EInOutError.
    bool ReadLine(std::string_view& Line);

private:
    // Moves the unread bytes to the front of the buffer, grows it when a
    // line fills it, and reads more. False at the end of the file.
    bool Fill();

    std::string FPath;
    char FEndOfText;
    int FFd = -1;
    std::uint64_t FSize = 0;
    std::vector<char> FBuffer;
    std::size_t FStart = 0; // first unread byte
    std::size_t FScanned = 0; // bytes from FStart known to hold no line end
    std::size_t FEnd = 0; // one past the last byte read
    bool FAtEnd = false; // the file (or its end-of-text byte) is reached
    bool FSkipLF = false; // the last line ended at a CR: a LF right after belongs to it
};
