#include "obj/Numbers.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "util/Errors.h"

namespace {

std::uint32_t Bits(float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

std::string ConvertMessage(const char* format, const std::string& text)
{
    return FormatMessage(format, text);
}

TEST(StrToFloat, AcceptsTheDecimalGrammar)
{
    EXPECT_EQ(StrToFloat("1"), 1.0f);
    EXPECT_EQ(StrToFloat("-2.5"), -2.5f);
    EXPECT_EQ(StrToFloat("+0.25"), 0.25f);
    EXPECT_EQ(StrToFloat("1."), 1.0f);
    EXPECT_EQ(StrToFloat(".5"), 0.5f);
    EXPECT_EQ(StrToFloat("1e3"), 1000.0f);
    EXPECT_EQ(StrToFloat("1.5E-2"), 0.015f);
    EXPECT_EQ(StrToFloat("2e+1"), 20.0f);
    EXPECT_EQ(StrToFloat("  7  "), 7.0f);
    EXPECT_EQ(StrToFloat("000123.4500"), 123.45f);
    // The sign of zero survives.
    EXPECT_EQ(Bits(StrToFloat("-0")), Bits(-0.0f));
}

TEST(StrToFloat, RoundsToTheNearestSingle)
{
    EXPECT_EQ(StrToFloat("0.1"), 0.1f);
    EXPECT_EQ(StrToFloat("3.4028235e38"), std::numeric_limits<float>::max());
    // Halfway between 1 and the next single: ties go to even (1).
    EXPECT_EQ(StrToFloat("1.000000059604644775390625"), 1.0f);
    EXPECT_EQ(StrToFloat("1.000000059604644775390626"), std::nextafter(1.0f, 2.0f));
    // Subnormal singles are kept; anything smaller is a zero of its sign.
    EXPECT_EQ(StrToFloat("1.401298464324817e-45"), std::numeric_limits<float>::denorm_min());
    EXPECT_EQ(Bits(StrToFloat("1e-50")), Bits(0.0f));
    EXPECT_EQ(Bits(StrToFloat("-1e-50")), Bits(-0.0f));
    EXPECT_EQ(Bits(StrToFloat("0.0000001e-99999999999")), Bits(0.0f));
    EXPECT_EQ(Bits(StrToFloat("123456789e-60")), Bits(0.0f));
}

TEST(StrToFloat, MatchesFromCharsOnRandomDecimalTexts)
{
    // The number rules must not change a single bit against a correctly
    // rounding conversion, whatever the digit count or exponent.
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-44, 38);
    std::uniform_int_distribution<int> precision(1, 17);
    for (int i = 0; i < 20000; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*e", precision(random), mantissa(random));
        std::string s(text);
        const std::size_t e = s.find('e');
        s = s.substr(0, e) + "e" + std::to_string(std::stoi(s.substr(e + 1)) + exponent(random));
        const float expected = std::strtof(s.c_str(), nullptr);
        if (std::isinf(expected) || (expected == 0 && std::stod(s) != 0))
            continue;
        ASSERT_EQ(Bits(StrToFloat(s)), Bits(expected)) << s;
    }
}

// Plain numbers without an exponent, as the files write them, take a quick
// route (one division of exact integers). It must round exactly as
// from_chars does: random texts of every digit count, and texts close to a
// midpoint between two singles, where a route through doubles could round
// twice.
TEST(StrToFloat, RoundsPlainNumbersLikeFromChars)
{
    auto reference = [](const std::string& s) {
        const bool negative = s[0] == '-';
        const char* begin = s.data() + (negative || s[0] == '+' ? 1 : 0);
        float value = 0;
        const auto result = std::from_chars(begin, s.data() + s.size(), value);
        EXPECT_TRUE(result.ec == std::errc() && result.ptr == s.data() + s.size()) << s;
        return negative ? -value : value;
    };
    std::mt19937_64 random(20261208);
    std::size_t checked = 0;
    auto check = [&](const std::string& s) {
        ++checked;
        ASSERT_EQ(Bits(StrToFloat(s)), Bits(reference(s))) << s;
    };
    const char* const signs[] = { "", "-", "+" };
    for (int i = 0; i < 300000; ++i) {
        std::string s = signs[random() % 3];
        const int whole = static_cast<int>(random() % 11);
        const int fraction = static_cast<int>(random() % 24);
        for (int k = 0; k < whole; ++k)
            s += static_cast<char>('0' + random() % 10);
        if (fraction > 0 || whole == 0)
            s += '.';
        for (int k = 0; k < fraction; ++k)
            s += static_cast<char>('0' + random() % 10);
        if (whole == 0 && fraction == 0)
            s += '5';
        check(s);
    }
    for (int i = 0; i < 30000; ++i) {
        // The midpoint above a random single, printed with 6 to 22 decimals.
        const float f = std::ldexp(1.0f + static_cast<float>(random() % (1u << 23)) / (1u << 23),
            static_cast<int>(random() % 60) - 30);
        const double midpoint = (double(f) + double(std::nextafter(f, 2 * f))) / 2;
        char text[64];
        for (int decimals = 6; decimals <= 22; decimals += 2) {
            std::snprintf(text, sizeof text, "%.*f", decimals, midpoint);
            check(text);
        }
    }
    // Integers at the edges of what singles and doubles hold exactly, and
    // exact midpoints, which round to even.
    for (const char* s : { "16777216", "16777217", "16777218", "16777219", "9007199254740992",
             "9007199254740993", "0.0000000001", "0.00000000001", "1.000000059604644775390625",
             "0.0000000000000000000000", "-0.000000", "99999999999999999999" })
        check(s);
    EXPECT_GT(checked, 500000u);
}

TEST(StrToFloat, RejectsTextOutsideTheGrammarNamingIt)
{
    const char* const bad[] = { "", " ", "-", "+", ".", "e5", "1e", "1e+", "1.2.3", "1,5", "--1",
        "+-1", "1 2", "nan", "NaN", "inf", "-infinity", "0x1p3", "0x10", "1f", "1d", "$10",
        // Beyond the single range: the model never holds an infinity.
        "3.4028236e38", "1e39", "-1e39", "1e99999999999" };
    for (const char* text : bad) {
        try {
            StrToFloat(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), ConvertMessage(SInvalidFloat, text));
        }
    }
    EXPECT_EQ(ConvertMessage(SInvalidFloat, "x"), "'x' is not a valid floating-point number");
}

TEST(StrToInt, AcceptsDecimalAndHexadecimal)
{
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("-7"), -7);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("  12"), 12);
    EXPECT_EQ(StrToInt("007"), 7);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_EQ(StrToInt("0x10"), 16);
    EXPECT_EQ(StrToInt("x10"), 16);
    EXPECT_EQ(StrToInt("-$10"), -16);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(StrToInt("$7FFFFFFF"), 2147483647);
}

TEST(StrToInt, RejectsOtherTextAndValuesOutside32Bits)
{
    const char* const bad[] = { "", " ", "-", "+", "1.0", "1e2", "12 ", "1/2", "$", "0x", "$G",
        "ten", "2147483648", "-2147483649", "$80000000", "99999999999999999999" };
    for (const char* text : bad) {
        try {
            StrToInt(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), ConvertMessage(SInvalidInteger, text));
        }
    }
    EXPECT_EQ(ConvertMessage(SInvalidInteger, ""), "'' is not a valid integer");
}

} // namespace
