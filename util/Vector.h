// Three-component vectors of single-precision floats and the few operations
// the converter needs on them. Sums and products of VecDot, VecLength and
// VecCos are formed in extended precision (long double, the x87 80-bit format
// here) and each result is rounded once to double when it is returned.
#pragma once

#include <cstdint>

struct TVec3
{
    float X;
    float Y;
    float Z;
};
static_assert(sizeof(TVec3) == 12, "TVec3 mirrors 12 bytes of the model file");

// A colour value: red in bits 0-7, green 8-15, blue 16-23, top byte 0.
using TColor = std::uint32_t;

TVec3 Vec3(float X, float Y, float Z);
TVec3 Vec3Zero();
double VecDot(TVec3 A, TVec3 B);
double VecLength(TVec3 Vec);
// Cosine of the angle between A and B. No guard against a zero length: the
// caller makes sure A has a length and B is a unit vector.
double VecCos(TVec3 A, TVec3 B);
// Each component times Factor in extended precision, rounded to single.
TVec3 VecScale(TVec3 Vec, double Factor);
// Red, green, blue fractions to a colour value: each times 256, truncated
// toward zero and limited to 0..255 (so 1.0 gives 255).
TColor VecToColor(TVec3 Vec);
