// The OBJ reader's inline shortcuts against the general rules they stand in
// for: the usual spellings of a line's keyword, and indices in plain form.
#include "obj/LineSyntax.h"
#include "obj/Numbers.h"
#include "obj/QuickNumbers.h"

#include <cstdint>
#include <string_view>

#include <gtest/gtest.h>

namespace {

TEST(ClassifyLine, GivesWhatTheKeywordRuleGives)
{
    const std::string_view lines[] = { "v 1 2 3", "v\t1 2 3", "v  1", "vn 0 0 1", "vn\t0",
        "vt 0.5 0.5", "vt\t0.5", "f 1/1/1 2/2/2", "f\t1//1", "fo 1 2 3", "V 1", "VN 1", "Vt 1",
        "F 1", "usemtl a", "USEMTL", "#v 1", "# f", "#", "v", "f", "vn", "vt", "vp 1 2", "vertex 1",
        "vnx 1", "fx 1", "v1 2", "f1", "", " v 1", "o v", "usemtl\tb c" };
    for (const std::string_view line : lines) {
        std::string_view rest, expectedRest;
        const TLineKind kind = ClassifyLine(line, rest);
        const TLineKind expected = ClassifyKeyword(line, expectedRest);
        EXPECT_EQ(kind, expected) << "'" << line << "'";
        if (kind != TLineKind::Other) {
            EXPECT_EQ(rest, expectedRest) << "'" << line << "'";
        }
    }
}

TEST(QuickIndex, TakesPlainIndicesAsStrToIntDoes)
{
    // The plain index and the text after it, which is left unread.
    const std::string_view taken[]
        = { "7", "0", "-12", "000000001", "999999999", "-999999999", "12/3", "-4 5", "5x" };
    for (const std::string_view text : taken) {
        const char* at = text.data();
        std::int32_t value = 0;
        ASSERT_TRUE(QuickIndex(at, text.data() + text.size(), value)) << text;
        const std::size_t length = static_cast<std::size_t>(at - text.data());
        EXPECT_EQ(value, StrToInt(text.substr(0, length))) << text;
        EXPECT_TRUE(length == text.size() || !IsDigit(text[length])) << text;
    }
    // Signs, hexadecimal and ten digits or more are left to StrToInt.
    const std::string_view refused[]
        = { "", "-", "+1", "$1", "x1", "/1", " 1", "1000000000", "-2147483648" };
    for (const std::string_view text : refused) {
        const char* at = text.data();
        std::int32_t value = 42;
        EXPECT_FALSE(QuickIndex(at, text.data() + text.size(), value)) << text;
        EXPECT_EQ(at, text.data()) << text;
        EXPECT_EQ(value, 42) << text;
    }
}

} // namespace
