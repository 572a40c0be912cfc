#include "obj/Numbers.h"

#include <charconv>
#include <string>

#include "obj/QuickNumbers.h"
#include "util/Errors.h"
#include "util/Translate.h"

const char* const SInvalidFloat = N_("'%s' is not a valid floating-point number");
const char* const SInvalidInteger = N_("'%s' is not a valid integer");

namespace {

[[noreturn]] void RaiseConvert(const char* format, std::string_view text)
{
    throw EConvertError(FormatMessage(Tr(format), std::string(text)));
}

// Skips leading blanks and an optional sign; true for "-".
bool TakeSign(std::string_view& s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    if (s.empty() || (s.front() != '+' && s.front() != '-'))
        return false;
    const bool negative = s.front() == '-';
    s.remove_prefix(1);
    return negative;
}

} // namespace

float StrToFloat(std::string_view Text)
{
    const char* at = Text.data();
    float quick;
    if (QuickFloat(at, Text.data() + Text.size(), quick) && at == Text.data() + Text.size())
        return quick;

    // Check the grammar first: from_chars alone would also take "inf",
    // "nan" and hexadecimal digits.
    std::string_view s = Text;
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    const bool negative = TakeSign(s);
    const std::string_view number = s;

    // Decimal position of the first significant digit, so that an
    // out-of-range result can be told apart as too large or too small.
    std::size_t i = 0;
    std::int64_t intDigits = 0, leadingFractionZeros = 0;
    bool digits = false, significant = false;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
        digits = true;
        if (significant || s[i] != '0') {
            significant = true;
            ++intDigits;
        }
    }
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && IsDigit(s[i]); ++i) {
            digits = true;
            if (!significant && s[i] == '0')
                ++leadingFractionZeros;
            else
                significant = true;
        }
    }
    if (!digits)
        RaiseConvert(SInvalidFloat, Text);
    std::int64_t exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            negativeExponent = s[i++] == '-';
        if (i >= s.size() || !IsDigit(s[i]))
            RaiseConvert(SInvalidFloat, Text);
        for (; i < s.size() && IsDigit(s[i]); ++i) {
            // Far beyond any single; saturate instead of overflowing.
            if (exponent < 100000)
                exponent = exponent * 10 + (s[i] - '0');
        }
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != s.size())
        RaiseConvert(SInvalidFloat, Text);

    float value = 0;
    const auto result = std::from_chars(
        number.data(), number.data() + number.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Too small for a single rounds to a zero of its sign; too large has
        // no value the model could hold.
        const std::int64_t magnitude
            = (intDigits > 0 ? intDigits - 1 : -(leadingFractionZeros + 1)) + exponent;
        if (magnitude >= 0)
            RaiseConvert(SInvalidFloat, Text);
        value = 0.0f;
    } else if (result.ec != std::errc() || result.ptr != number.data() + number.size()) {
        RaiseConvert(SInvalidFloat, Text);
    }
    return negative ? -value : value;
}

std::int32_t StrToInt(std::string_view Text)
{
    std::string_view s = Text;
    const bool negative = TakeSign(s);
    int base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (!s.empty() && (s.front() == 'x' || s.front() == 'X')) {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty())
        RaiseConvert(SInvalidInteger, Text);
    // The magnitude may reach 2^31 for the most negative value.
    const std::int64_t limit = negative ? std::int64_t(1) << 31 : (std::int64_t(1) << 31) - 1;
    std::int64_t value = 0;
    for (char c : s) {
        int digit;
        if (IsDigit(c))
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            RaiseConvert(SInvalidInteger, Text);
        value = value * base + digit;
        if (value > limit)
            RaiseConvert(SInvalidInteger, Text);
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}
