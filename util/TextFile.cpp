#include "util/TextFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "util/Errors.h"

const char* const SLineTooLong = "Line longer than 64 MiB";

namespace {

constexpr char CarriageReturn = 13;
constexpr char LineFeed = 10;

// The first CR or LF in [at, end), or end. Lines are short, so the bytes are
// compared sixteen at a time where the processor allows it.
const char* FindLineEnd(const char* at, const char* end)
{
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8(CarriageReturn);
    const __m128i lf = _mm_set1_epi8(LineFeed);
    for (; end - at >= 16; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const int mask
            = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)));
        if (mask != 0)
            return at + __builtin_ctz(static_cast<unsigned>(mask));
    }
#endif
    for (; at < end; ++at) {
        if (*at == CarriageReturn || *at == LineFeed)
            return at;
    }
    return end;
}

} // namespace

bool TLineCursor::Next(std::string_view& Line)
{
    if (FAt == FEnd)
        return false;
    const char* const at = FindLineEnd(FAt, FEnd);
    Line = std::string_view(FAt, static_cast<std::size_t>(at - FAt));
    if (at == FEnd)
        FAt = FEnd; // the last line, without a line end
    else if (*at == CarriageReturn && at + 1 < FEnd && at[1] == LineFeed)
        FAt = at + 2;
    else
        FAt = at + 1;
    return true;
}

TTextReader::TTextReader(
    const std::string& Path, char EndOfText, std::vector<char>* Buffer, std::size_t BlockSize)
    : FPath(Path)
    , FEndOfText(EndOfText)
    , FSize(0)
    , FOwnFile(OpenRegularFile(Path, FSize))
    , FFd(FOwnFile.Get())
    , FBlockSize(std::max<std::size_t>(BlockSize, 1))
    , FBuffer(Buffer ? *Buffer : FOwnBuffer)
{
    if (FBuffer.size() < FBlockSize)
        FBuffer.resize(FBlockSize);
}

TTextReader::TTextReader(const TTextReader& Other, std::vector<char>* Buffer)
    : FPath(Other.FPath)
    , FEndOfText(Other.FEndOfText)
    , FSize(Other.FSize)
    , FFd(Other.FFd)
    , FBlockSize(Other.FBlockSize)
    , FBuffer(Buffer ? *Buffer : FOwnBuffer)
{
    if (FBuffer.size() < FBlockSize)
        FBuffer.resize(FBlockSize);
}

TTextReader::~TTextReader() = default;

bool TTextReader::Fill()
{
    if (FAtEnd)
        return false;
    if (FStart > 0) {
        std::copy(FBuffer.begin() + FStart, FBuffer.begin() + FEnd, FBuffer.begin());
        FEnd -= FStart;
        FStart = 0;
    }
    // Fill is only asked for more when the unread bytes hold no line end:
    // they are one line so far. Past the bound it is no text line of any
    // format read here, and holding it would cost memory the file does not
    // even need to hold (a sparse file of one endless line).
    if (FEnd - FStart >= MaxLineBytes)
        throw EReadError(SLineTooLong);
    // A line longer than the buffer doubles it; the buffer never holds more
    // than the longest line plus one block. Near the bound it grows straight
    // to the bound plus one block, never past it and never twice.
    const std::size_t block = FBlockSize;
    if (FBuffer.size() - FEnd < block) {
        std::size_t grown = std::max(FBuffer.size() * 2, FEnd + block);
        if (grown >= MaxLineBytes)
            grown = MaxLineBytes + block;
        FBuffer.resize(grown);
    }
    const std::int64_t got
        = ReadAt(FFd, FBuffer.data() + FEnd, std::min(FBuffer.size() - FEnd, block), FOffset);
    if (got < 0)
        RaiseInOutError(errno, FPath);
    if (got == 0) {
        FAtEnd = true;
        return false;
    }
    FOffset += static_cast<std::uint64_t>(got);
    char* const fresh = FBuffer.data() + FEnd;
    // Nothing after the end-of-text byte is text: the file ends there.
    const void* endOfText = std::memchr(fresh, FEndOfText, static_cast<std::size_t>(got));
    if (endOfText) {
        FEnd = static_cast<std::size_t>(static_cast<const char*>(endOfText) - FBuffer.data());
        FAtEnd = true;
    } else {
        FEnd += static_cast<std::size_t>(got);
    }
    return true;
}

bool TTextReader::ReadBlock(std::string_view& Lines)
{
    for (;;) {
        const char* const base = FBuffer.data();
        const char* const from = base + FStart + FScanned;
        const char* const to = base + FEnd;
        // A block ends after its last LF. Without one it ends after its last
        // CR, once the byte after that CR is known not to be a LF.
        const char* cut = nullptr;
        if (from < to) {
            const void* lf = ::memrchr(from, LineFeed, static_cast<std::size_t>(to - from));
            if (lf) {
                cut = static_cast<const char*>(lf) + 1;
            } else {
                const char* const crTo = FAtEnd ? to : to - 1;
                const void* cr = crTo > from
                    ? ::memrchr(from, CarriageReturn, static_cast<std::size_t>(crTo - from))
                    : nullptr;
                if (cr)
                    cut = static_cast<const char*>(cr) + 1;
            }
        }
        if (!cut && FAtEnd && FStart < FEnd)
            cut = to; // the last line, without a line end
        if (cut) {
            const std::size_t length = static_cast<std::size_t>(cut - (base + FStart));
            Lines = std::string_view(base + FStart, length);
            FStart += length;
            FScanned = 0;
            return true;
        }
        if (FAtEnd)
            return false;
        // Only the last byte, a CR perhaps, may still turn out to end a block.
        FScanned = FEnd > FStart ? FEnd - FStart - 1 : 0;
        Fill();
    }
}

bool TTextReader::ReadLine(std::string_view& Line)
{
    for (;;) {
        if (FLines.Next(Line))
            return true;
        std::string_view block;
        if (!ReadBlock(block))
            return false;
        FLines = TLineCursor(block);
    }
}
