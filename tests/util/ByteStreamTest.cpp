// The byte reader's bounds: a read that would pass the end never touches
// the bytes beyond it but calls the owner's handler, with what was asked.
#include "util/ByteStream.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct TShortRead
{
    std::uint64_t Count;
    std::size_t Position;
    std::size_t Left;
    std::string What;
};

[[noreturn]] void ThrowShortRead(
    const TByteReader& reader, std::uint64_t count, std::string_view what)
{
    throw TShortRead { count, reader.Position(), reader.Left(), std::string(what) };
}

} // namespace

TEST(ByteReader, ReadingPastTheEndCallsTheHandler)
{
    // Three bytes of a seven-byte range are left when each read starts.
    const std::vector<std::uint8_t> bytes = { 1, 2, 3, 4, 5, 6, 7 };
    std::uint8_t sink[8];
    const struct
    {
        const char* Read;
        std::function<void(TByteReader&)> Call;
        std::uint64_t Count;
        std::size_t Position; // where the refused field starts
        const char* What;
    } cases[] = {
        { "U16", [](TByteReader& in) { in.U16(), in.U16(); }, 2, 6, "" },
        { "U32", [](TByteReader& in) { in.U32(); }, 4, 4, "" },
        { "I32", [](TByteReader& in) { in.I32(); }, 4, 4, "" },
        { "F32", [](TByteReader& in) { in.F32(); }, 4, 4, "" },
        // A vector is three floats; the first of them is not there.
        { "Vec", [](TByteReader& in) { in.Vec(); }, 4, 4, "" },
        { "Bytes", [&](TByteReader& in) { in.Bytes(sink, 4); }, 4, 4, "" },
        { "Take", [](TByteReader& in) { in.Take(5); }, 5, 4, "" },
        { "Skip", [](TByteReader& in) { in.Skip(std::uint64_t(1) << 40); }, std::uint64_t(1) << 40,
            4, "" },
        { "Need", [](TByteReader& in) { in.Need(4, "the frames"); }, 4, 4, "the frames" },
        { "U8", [](TByteReader& in) { in.Skip(3), in.U8(); }, 1, 7, "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Read);
        TByteReader in(bytes.data(), bytes.size(), ThrowShortRead);
        in.Skip(4);
        try {
            c.Call(in);
            ADD_FAILURE() << "read past the end without a call to the handler";
        } catch (const TShortRead& s) {
            EXPECT_EQ(s.Count, c.Count);
            EXPECT_EQ(s.Position, c.Position);
            EXPECT_EQ(s.Left, bytes.size() - c.Position);
            EXPECT_EQ(s.What, c.What);
        }
    }
}

TEST(ByteReader, ReadsUpToTheLastByteWithoutTheHandler)
{
    const std::vector<std::uint8_t> bytes = { 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07 };
    TByteReader in(bytes.data(), bytes.size(), ThrowShortRead);
    EXPECT_EQ(in.U32(), 0x04030201u);
    EXPECT_EQ(in.U16(), 0x0605);
    EXPECT_EQ(in.U8(), 0x07);
    EXPECT_EQ(in.Left(), 0u);
    in.Need(0);
    in.Bytes(nullptr, 0);
}
