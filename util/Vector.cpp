#include "util/Vector.h"

#include <cmath>

namespace {

using Extended = long double;

// The dot product before it is rounded to double.
Extended DotExtended(const TVec3& a, const TVec3& b)
{
    Extended sum = Extended(a.X) * b.X;
    sum += Extended(a.Y) * b.Y;
    sum += Extended(a.Z) * b.Z;
    return sum;
}

// One colour byte: the fraction times 256, truncated and limited to 0..255.
// The limits are applied in floating point, so no out-of-range value is ever
// converted to an integer; a NaN counts as 0.
std::uint32_t ColorByte(float fraction)
{
    const double scaled = std::trunc(double(fraction) * 256.0);
    if (!(scaled > 0.0))
        return 0;
    if (scaled >= 255.0)
        return 255;
    return static_cast<std::uint32_t>(scaled);
}

} // namespace

TVec3 Vec3(float X, float Y, float Z)
{
    return TVec3 { X, Y, Z };
}

TVec3 Vec3Zero()
{
    return TVec3 { 0.0f, 0.0f, 0.0f };
}

double VecDot(TVec3 A, TVec3 B)
{
    return static_cast<double>(DotExtended(A, B));
}

double VecLength(TVec3 Vec)
{
    return static_cast<double>(std::sqrt(DotExtended(Vec, Vec)));
}

double VecCos(TVec3 A, TVec3 B)
{
    const double la = VecLength(A);
    const Extended p = Extended(VecLength(B)) * la;
    const double d = VecDot(A, B);
    return static_cast<double>(d / p);
}

TVec3 VecScale(TVec3 Vec, double Factor)
{
    const Extended f = Factor;
    return TVec3 { static_cast<float>(Vec.X * f), static_cast<float>(Vec.Y * f),
        static_cast<float>(Vec.Z * f) };
}

TColor VecToColor(TVec3 Vec)
{
    return ColorByte(Vec.X) | (ColorByte(Vec.Y) << 8) | (ColorByte(Vec.Z) << 16);
}
