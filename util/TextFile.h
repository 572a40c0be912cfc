// Reading the text files of a conversion (OBJ, MTL, frame-name lists) one
// line at a time or in blocks of whole lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/Errors.h"
#include "util/FileIO.h"

// Raised (as EReadError, with the file and line as its place) for a line
// longer than TTextReader::MaxLineBytes.
extern const char* const SLineTooLong; // "Line longer than 64 MiB"

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
    // BlockSize is the bytes read from the file at a time; tests make it
    // small so that short files cross many block borders.
    explicit TTextReader(const std::string& Path, char EndOfText = 26,
        std::vector<char>* Buffer = nullptr, std::size_t BlockSize = DefaultBlockSize);
    // Another reader of the file Other has open, from its start, with the
    // same end-of-text byte and block size: two threads may each read the
    // file at their own pace. It shares Other's descriptor, so Other must outlive it.
    TTextReader(const TTextReader& Other, std::vector<char>* Buffer);
    ~TTextReader();
    TTextReader(const TTextReader&) = delete;
    TTextReader& operator=(const TTextReader&) = delete;

    // The path the file was opened by.
    const std::string& Path() const { return FPath; }
    // The size of the file in bytes when it was opened.
    std::uint64_t Size() const { return FSize; }
    // The next line without its line end; false at the end of the text.
    // A failed read raises EInOutError.
    bool ReadLine(std::string_view& Line);
    // The next run of whole lines, line ends included, for TLineCursor: a
    // block never ends inside a line or between a CR and its LF. False at the
    // end of the text. Not to be mixed with ReadLine on one reader.
    bool ReadBlock(std::string_view& Lines);

    // Big enough that the system calls cost nothing next to the parsing,
    // small enough to stay in the caches.
    static constexpr std::size_t DefaultBlockSize = std::size_t(1) << 20;
    // The longest line read; a longer one raises EReadError(SLineTooLong).
    static constexpr std::size_t MaxLineBytes = std::size_t(64) << 20;
    std::size_t BlockSize() const { return FBlockSize; }

private:
    // Moves the unread bytes to the front of the buffer, grows it when a
    // line fills it, and reads more. False at the end of the file.
    bool Fill();

    std::string FPath;
    char FEndOfText;
    std::uint64_t FSize = 0; // set by the opening, which comes next
    TFileDescriptor FOwnFile; // the file, for the reader that opened it
    int FFd = -1;
    std::size_t FBlockSize;
    std::uint64_t FOffset = 0; // of the next byte to read from the file
    std::vector<char> FOwnBuffer;
    std::vector<char>& FBuffer;
    std::size_t FStart = 0; // first unread byte
    std::size_t FScanned = 0; // bytes from FStart known to hold no place to end a block
    std::size_t FEnd = 0; // one past the last byte read
    bool FAtEnd = false; // the file (or its end-of-text byte) is reached
    TLineCursor FLines; // the block ReadLine is handing out
};

// Hands each line of the file at Path to OnLine, which returns false to stop
// early. A failure, of the reading or of OnLine, leaves stamped with the file
// and the line it concerns (0 when the file could not be opened).
template <typename TOnLine>
void ForEachTextLine(const std::string& Path, char EndOfText, TOnLine&& OnLine)
{
    std::uint64_t lineNumber = 0;
    try {
        TTextReader reader(Path, EndOfText);
        std::string_view line;
        for (lineNumber = 1; reader.ReadLine(line); ++lineNumber) {
            if (!OnLine(line))
                return;
        }
    } catch (Exception& failure) {
        failure.SetPlace(Path, lineNumber);
        throw;
    }
}
