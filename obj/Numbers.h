// The number conversions of the OBJ and MTL readers.
#pragma once

#include <cstdint>
#include <string_view>

// Messages of the number conversions, in English (Tr gives the user's
// language); %s is the offending text.
extern const char* const SInvalidFloat;
extern const char* const SInvalidInteger;

// A real number as the readers accept it: optional blanks, an optional sign,
// digits with at most one ".", an optional exponent, optional blanks. The
// result is the nearest single; a value too small for a single gives a zero
// of its sign, one too large raises EConvertError like any text outside the
// grammar. The separator is "." whatever the locale: the files always use it.
float StrToFloat(std::string_view Text);
// An integer: optional leading blanks, an optional sign, then decimal digits
// or hexadecimal ones after "$", "x" or "0x". Anything else, and any value
// outside the 32-bit signed range, raises EConvertError.
std::int32_t StrToInt(std::string_view Text);
