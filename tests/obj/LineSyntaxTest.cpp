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
    // Plain indices are taken, with the text after them left unread; signs,
    // hexadecimal and ten digits or more are left to StrToInt.
    const struct
    {
        std::string_view Text;
        bool Taken;
    } cases[] = { { "7", true }, { "0", true }, { "-12", true }, { "000000001", true },
        { "999999999", true }, { "-999999999", true }, { "12/3", true }, { "-4 5", true },
        { "5x", true }, { "", false }, { "-", false }, { "+1", false }, { "$1", false },
        { "x1", false }, { "/1", false }, { " 1", false }, { "1000000000", false },
        { "-2147483648", false } };
    for (const auto& c : cases) {
        const char* at = c.Text.data();
        std::int32_t value = 42;
        ASSERT_EQ(QuickIndex(at, c.Text.data() + c.Text.size(), value), c.Taken) << c.Text;
        const std::size_t length = static_cast<std::size_t>(at - c.Text.data());
        if (c.Taken) {
            EXPECT_EQ(value, StrToInt(c.Text.substr(0, length))) << c.Text;
            EXPECT_TRUE(length == c.Text.size() || !IsDigit(c.Text[length])) << c.Text;
        } else {
            EXPECT_EQ(length, 0u) << c.Text;
            EXPECT_EQ(value, 42) << c.Text;
        }
    }
}

} // namespace
