#include "util/Split.h"

#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace {

struct TSplitCase
{
    const char* Text;
    const char* Delimiters;
    const char* Head;
    const char* Tail;
};

// Blank, tab, empty texts and repeated delimiters, as the readers meet them.
const TSplitCase kSplitCases[] = {
    { "v 1 2 3", " \t", "v", "1 2 3" },
    { "v  1 2", " \t", "v", " 1 2" },
    { " v 1", " \t", "", "v 1" },
    { "vt\t0.5 0.5", " \t", "vt", "0.5 0.5" },
    { "usemtl", " \t", "usemtl", "" },
    { "", " \t", "", "" },
    { "1/2/3", "/", "1", "2/3" },
    { "1//3", "/", "1", "/3" },
    { "/3", "/", "", "3" },
    { " 7 /8", "/", "7", "8" },
    { "ship_0", "_", "ship", "0" },
    { "ship_walk_2", "_", "ship", "walk_2" },
    { "ship", "_", "ship", "" },
    { "_0", "_", "", "0" },
    { "ship _ 0", "_", "ship", " 0" },
    { "a b", "", "a b", "" },
    // Every byte of code 32 or less is trimmed from the head, not only blanks.
    { "\r\n\x01 Kd\x1f\r ", "#", "Kd", "" },
    { "\x01\x02 \t", "/", "", "" },
    // Delimiter order and repetition do not matter; letters are case-sensitive.
    { "aXbxc", "xx", "aXb", "c" },
    { "f\t 1", "\t ", "f", " 1" },
    // Bytes above 127 are ordinary characters.
    { "\xe8\x89\xb2 \xe5\x90\x8d", " ", "\xe8\x89\xb2", "\xe5\x90\x8d" },
};

void PrintTo(const TSplitCase& c, std::ostream* os)
{
    *os << ::testing::PrintToString(std::string(c.Text)) << " at "
        << ::testing::PrintToString(std::string(c.Delimiters));
}

class SplitFirstTable : public ::testing::TestWithParam<TSplitCase>
{
};

TEST_P(SplitFirstTable, CutsAtTheFirstDelimiter)
{
    const TSplitCase& c = GetParam();
    std::string head = "old head", tail = "old tail";
    SplitFirst(std::string(c.Text), c.Delimiters, head, tail);
    EXPECT_EQ(head, c.Head);
    EXPECT_EQ(tail, c.Tail);

    std::string_view headView = "x", tailView = "y";
    SplitFirst(std::string_view(c.Text), c.Delimiters, headView, tailView);
    EXPECT_EQ(headView, c.Head);
    EXPECT_EQ(tailView, c.Tail);
}

INSTANTIATE_TEST_SUITE_P(Texts, SplitFirstTable, ::testing::ValuesIn(kSplitCases));

TEST(SplitFirst, AcceptsTheSameVariableAsTextAndOutput)
{
    std::string line = "f 1/2/3 4/5/6";
    std::string rest;
    SplitFirst(line, " \t", line, rest);
    EXPECT_EQ(line, "f");
    EXPECT_EQ(rest, "1/2/3 4/5/6");

    std::string head;
    SplitFirst(rest, " \t", head, rest);
    EXPECT_EQ(head, "1/2/3");
    EXPECT_EQ(rest, "4/5/6");
}

TEST(SplitFirst, ViewsPointIntoTheLineWithoutCopying)
{
    const std::string line = "vn 0 1 0";
    std::string_view head, tail;
    SplitFirst(std::string_view(line), " ", head, tail);
    EXPECT_EQ(head.data(), line.data());
    EXPECT_EQ(tail.data(), line.data() + 3);

    // Cutting the tail again in place walks the arguments.
    std::string_view arg;
    SplitFirst(tail, " ", arg, tail);
    EXPECT_EQ(arg, "0");
    EXPECT_EQ(tail, "1 0");
}

TEST(SplitFirst, KeepsEmbeddedNulBytes)
{
    const std::string text("a\0b c", 5);
    std::string head, tail;
    SplitFirst(text, " ", head, tail);
    EXPECT_EQ(head, std::string("a\0b", 3));
    EXPECT_EQ(tail, "c");
}

} // namespace
