// The quick routes for the plain numbers OBJ files are made of. They live in
// a header so that the OBJ reader, which calls them for every number of every
// line, has them inlined; StrToFloat tries the same route first.
#pragma once

#include <cstdint>
#include <cstring>

inline bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

namespace QuickNumbers {

// Powers of ten held exactly: by a single up to 10^10, by a double up to 10^22.
constexpr float SinglePowersOfTen[]
    = { 1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f };
constexpr double DoublePowersOfTen[] = { 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10,
    1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22 };
constexpr int MaxSingleFraction = 10;
constexpr int MaxDoubleFraction = 22;
constexpr std::uint64_t MaxSingleMantissa = std::uint64_t(1) << 24;
constexpr std::uint64_t MaxDoubleMantissa = std::uint64_t(1) << 53;
constexpr int MaxMantissaDigits = 19; // an unsigned 64-bit integer holds any 19 digits

} // namespace QuickNumbers

// A number of the plain form the files use, an optional sign, digits and an
// optional fraction ("-0.850651"), read at At and left with At after it,
// when its nearest single can be had without the general conversion; false
// otherwise, with At unchanged, for the full route.
//
// Its digits without the point make an integer M, its fraction has F digits,
// and the value is M / 10^F. When M and 10^F are both exact singles, one
// division in single precision, which IEEE arithmetic rounds correctly, gives
// the nearest single. When they are exact doubles, the division in double
// precision gives the nearest double q, and rounding q to a single gives the
// nearest single unless a midpoint between two singles lies between the
// exact value and q. Such a midpoint is a double, and q is the double nearest
// to the value, so the midpoint is q itself or its neighbour: its 29 bits
// below a single's precision read 0x10000000, one more or one less. Those
// few values take the full route.
inline bool QuickFloat(const char*& At, const char* End, float& Value)
{
    using namespace QuickNumbers;
    const char* p = At;
    bool negative = false;
    if (p < End && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    std::uint64_t mantissa = 0;
    int significant = 0;
    int fraction = 0;
    bool digits = false;
    for (; p < End && IsDigit(*p); ++p) {
        digits = true;
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
        if (mantissa != 0 && ++significant > MaxMantissaDigits)
            return false;
    }
    if (p < End && *p == '.') {
        for (++p; p < End && IsDigit(*p); ++p) {
            digits = true;
            mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
            if ((mantissa != 0 && ++significant > MaxMantissaDigits)
                || ++fraction > MaxDoubleFraction)
                return false;
        }
    }
    if (!digits)
        return false;
    float value;
    if (mantissa <= MaxSingleMantissa && fraction <= MaxSingleFraction) {
        value = static_cast<float>(mantissa);
        if (fraction > 0)
            value /= SinglePowersOfTen[fraction];
    } else if (mantissa <= MaxDoubleMantissa) {
        const double quotient = static_cast<double>(mantissa) / DoublePowersOfTen[fraction];
        std::uint64_t bits;
        std::memcpy(&bits, &quotient, sizeof bits);
        constexpr std::uint64_t BelowSingle = (std::uint64_t(1) << 29) - 1;
        constexpr std::uint64_t Midpoint = std::uint64_t(1) << 28;
        if ((bits & BelowSingle) - (Midpoint - 1) <= 2)
            return false;
        value = static_cast<float>(quotient);
    } else {
        return false;
    }
    Value = negative ? -value : value;
    At = p;
    return true;
}

// An index of the plain form, an optional "-" and one to nine digits, read
// at At and left with At after it; anything else (a sign "+", hexadecimal,
// ten digits or more) returns false with At unchanged.
inline bool QuickIndex(const char*& At, const char* End, std::int32_t& Value)
{
    const char* p = At;
    const bool negative = p < End && *p == '-';
    if (negative)
        ++p;
    const char* const first = p;
    std::int32_t value = 0;
    for (; p < End && IsDigit(*p); ++p) {
        if (p - first == 9)
            return false;
        value = value * 10 + (*p - '0');
    }
    if (p == first)
        return false;
    Value = negative ? -value : value;
    At = p;
    return true;
}
