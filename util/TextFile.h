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

// Splits whole lines held in memory: a line ends at a carriage return, at a
// line feed, or at the pair CR LF; a last line without a line end counts like
// any other. The views point into the text.
class TLineCursor
{
public:
    TLineCursor() = default;
    explicit TLineCursor(std::string_view Text)
        : FAt(Text.data())
        , FEnd(Text.data() + Text.size())
    {
    }
    // The next line without its line end; false after the last one.
    bool Next(std::string_view& Line);

private:
    const char* FAt = nullptr;
    const char* FEnd = nullptr;
};

// Hands out a file as 8-bit text, one line at a time or in blocks of whole
// lines. The end-of-text byte ends the file as if the file stopped there;
// nothing follows the final line end. The file is read in large blocks into
// a buffer that is reused; a view is valid until the next call.
class TTextReader
{
public:
    // Opens the file; EInOutError with the system's reason when it cannot.
    // EndOfText is the byte that ends the text: 26 for OBJ and MTL files, NUL
    // for the frame-name list.
    // Buffer, when given, holds the bytes read instead of a buffer of the
    // reader's own, so that a caller reading file after file reuses one.
    explicit TTextReader(
        const std::string& Path, char EndOfText = 26, std::vector<char>* Buffer = nullptr);
    // Another reader of the file Other has open, from its start, with the
    // same end-of-text byte: two threads may each read the file at their own
    // pace. It shares Other's descriptor, so Other must outlive it.
    TTextReader(const TTextReader& Other, std::vector<char>* Buffer);
    ~TTextReader();
    TTextReader(const TTextReader&) = delete;
    TTextReader& operator=(const TTextReader&) = delete;

    // The size of the file in bytes when it was opened.
    std::uint64_t Size() const { return FSize; }
    // The next line without its line end; false at the end of the text.
    // A failed read raises EInOutError.
    bool ReadLine(std::string_view& Line);
    // The next run of whole lines, line ends included, for TLineCursor: a
    // block never ends inside a line or between a CR and its LF. False at the
    // end of the text. Not to be mixed with ReadLine on one reader.
    bool ReadBlock(std::string_view& Lines);

    // The bytes read from the file at a time; tests make it small so that
    // short files cross many block borders.
    static std::size_t BlockSize;

private:
    // Moves the unread bytes to the front of the buffer, grows it when a
    // line fills it, and reads more. False at the end of the file.
    bool Fill();

    std::string FPath;
    char FEndOfText;
    int FFd = -1;
    bool FOwnsFd = false;
    std::uint64_t FSize = 0;
    std::uint64_t FOffset = 0; // of the next byte to read from the file
    std::vector<char> FOwnBuffer;
    std::vector<char>& FBuffer;
    std::size_t FStart = 0; // first unread byte
    std::size_t FScanned = 0; // bytes from FStart known to hold no place to end a block
    std::size_t FEnd = 0; // one past the last byte read
    bool FAtEnd = false; // the file (or its end-of-text byte) is reached
    TLineCursor FLines; // the block ReadLine is handing out
};
