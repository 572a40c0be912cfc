#include "util/TextFile.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "util/Errors.h"

namespace {

std::vector<std::string> LinesOf(
    const std::string& path, std::size_t blockSize = TTextReader::DefaultBlockSize)
{
    TTextReader reader(path, 26, nullptr, blockSize);
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.ReadLine(line))
        lines.emplace_back(line);
    return lines;
}

using TLines = std::vector<std::string>;

TEST(TTextReader, EndsLinesAtCRAtLFAndAtCRLF)
{
    TScratchDir dir;
    const std::string path = dir.File("a.txt");
    const TLines three = { "v 1 2 3", "vt 0 1", "f 1//1" };
    WriteText(path, "v 1 2 3\r\nvt 0 1\r\nf 1//1\r\n");
    EXPECT_EQ(LinesOf(path), three);
    WriteText(path, "v 1 2 3\nvt 0 1\nf 1//1\n");
    EXPECT_EQ(LinesOf(path), three);
    WriteText(path, "v 1 2 3\rvt 0 1\rf 1//1\r");
    EXPECT_EQ(LinesOf(path), three);
    // Without a final line end the last line counts all the same.
    WriteText(path, "v 1 2 3\r\nvt 0 1\nf 1//1");
    EXPECT_EQ(LinesOf(path), three);
}

TEST(TTextReader, KeepsEmptyLinesAndPairsOnlyCRWithAFollowingLF)
{
    TScratchDir dir;
    const std::string path = dir.File("a.txt");
    // LF CR is two line ends; CR CR LF is an empty line between.
    WriteText(path, "a\n\rb\r\r\nc\n\n");
    EXPECT_EQ(LinesOf(path), (TLines { "a", "", "b", "", "c", "" }));
    WriteText(path, "\r\n");
    EXPECT_EQ(LinesOf(path), (TLines { "" }));
    WriteText(path, "");
    EXPECT_EQ(LinesOf(path), TLines {});
}

TEST(TTextReader, StopsAtByte26)
{
    TScratchDir dir;
    const std::string path = dir.File("a.txt");
    WriteText(path, "one\r\ntwo\x1Athree\r\nfour\r\n");
    EXPECT_EQ(LinesOf(path), (TLines { "one", "two" }));
    WriteText(path, "one\r\n\x1Atwo\r\n");
    EXPECT_EQ(LinesOf(path), (TLines { "one" }));
    WriteText(path, "\x1A");
    EXPECT_EQ(LinesOf(path), TLines {});
}

TEST(TTextReader, KeepsNulAndHighBytesInsideLines)
{
    TScratchDir dir;
    const std::string path = dir.File("a.txt");
    const std::string text("a\0b\xff\r\nc", 7);
    WriteText(path, text);
    EXPECT_EQ(LinesOf(path), (TLines { std::string("a\0b\xff", 4), "c" }));
}

TEST(TTextReader, ReadsLinesAcrossBlockBoundariesAndLongerThanABlock)
{
    TScratchDir dir;
    const std::string path = dir.File("a.txt");
    // Lines of every length around the block size, and a CR LF pair split
    // by a block boundary wherever it falls.
    TLines expected;
    std::string text;
    for (std::size_t length : { std::size_t(1), std::size_t(262143), std::size_t(262144),
             std::size_t(262145), std::size_t(3), std::size_t(1) << 20, std::size_t(0) }) {
        std::string line(length, 'x');
        for (std::size_t i = 0; i < line.size(); i += 97)
            line[i] = static_cast<char>('a' + expected.size());
        expected.push_back(line);
        text += line + "\r\n";
    }
    WriteText(path, text);
    const TLines lines = LinesOf(path);
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i] == expected[i]) << "line " << i << " of " << lines[i].size();

    // Many short CR LF lines: no LF may be taken for an empty line when the
    // CR was the last byte of a block.
    std::string many;
    for (int i = 0; i < 100000; ++i)
        many += std::to_string(i % 10) + "\r\n";
    WriteText(path, many);
    const TLines manyLines = LinesOf(path);
    ASSERT_EQ(manyLines.size(), 100000u);
    for (int i = 0; i < 100000; ++i)
        ASSERT_EQ(manyLines[i], std::to_string(i % 10)) << i;
}

TEST(TTextReader, GivesTheSameLinesWhateverTheBlockSize)
{
    TScratchDir dir;
    const std::string path = dir.File("a.txt");
    using namespace std::string_literals;
    WriteText(path, "a\r\nbb\rccc\n\r\n\r\r\n\nd\0e\r"s + std::string(40, 'f') + "\r\n\x1Ag\n");
    const TLines expected = { "a", "bb", "ccc", "", "", "", "", "d\0e"s, std::string(40, 'f') };
    for (std::size_t blockSize = 1; blockSize <= 12; ++blockSize) {
        EXPECT_EQ(LinesOf(path, blockSize), expected) << "blocks of " << blockSize;
        // Blocks hold whole lines: cutting each one gives the same lines.
        TTextReader reader(path, 26, nullptr, blockSize);
        TLines lines;
        std::string_view block, line;
        while (reader.ReadBlock(block)) {
            TLineCursor cursor(block);
            while (cursor.Next(line))
                lines.emplace_back(line);
        }
        EXPECT_EQ(lines, expected) << "blocks of " << blockSize;
    }
}

TEST(TTextReader, ReportsSizeAndOpenFailures)
{
    TScratchDir dir;
    const std::string path = dir.File("a.txt");
    WriteText(path, "12345");
    EXPECT_EQ(TTextReader(path).Size(), 5u);
    try {
        TTextReader reader(dir.File("missing.obj"));
        FAIL() << "opened a missing file";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), IoFileNotFound);
    }
    try {
        TTextReader reader(dir.File("no/such/dir.obj"));
        FAIL() << "opened a file in a missing folder";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), IoPathNotFound);
    }
    // A folder and a device are no text files.
    EXPECT_THROW(TTextReader reader(dir.Path().string()), EInOutError);
    EXPECT_THROW(TTextReader reader("/dev/zero"), EInOutError);
}

} // namespace
