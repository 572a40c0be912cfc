#include "util/Vector.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <ostream>

#include <gtest/gtest.h>

namespace {

TEST(Vector, MakesAndZeroes)
{
    const TVec3 v = Vec3(1, 2, 3);
    EXPECT_EQ(v.X, 1.0f);
    EXPECT_EQ(v.Y, 2.0f);
    EXPECT_EQ(v.Z, 3.0f);
    const TVec3 z = Vec3Zero();
    EXPECT_EQ(z.X, 0.0f);
    EXPECT_EQ(z.Y, 0.0f);
    EXPECT_EQ(z.Z, 0.0f);
}

TEST(Vector, DotAndLengthUseExtendedPrecision)
{
    EXPECT_EQ(VecDot(Vec3(1, 2, 3), Vec3(4, -5, 6)), 12.0);
    EXPECT_EQ(VecLength(Vec3(3, 4, 12)), 13.0);
    // 2^60 + 1 needs 61 bits: exact in the 64-bit mantissa of the extended
    // sum, lost in a double one. Added left to right, 2^60 + 1 - 2^60 keeps the 1.
    const float big = 1073741824.0f; // 2^30
    EXPECT_EQ(VecDot(Vec3(big, 1, big), Vec3(big, 1, -big)), 1.0);
}

TEST(Vector, CosOfParallelAndPerpendicularVectorsIsExact)
{
    EXPECT_EQ(VecCos(Vec3(1, 0, 0), Vec3(2, 0, 0)), 1.0);
    EXPECT_EQ(VecCos(Vec3(1, 0, 0), Vec3(-3, 0, 0)), -1.0);
    EXPECT_EQ(VecCos(Vec3(1, 0, 0), Vec3(0, 5, 0)), 0.0);
}

TEST(Vector, CosRoundsTheLengthsToDoubleBeforeMultiplying)
{
    // Follow the steps by hand: each length rounded to double, their product
    // held in extended precision, the dot product rounded to double, then one
    // division rounded to double.
    const TVec3 a = Vec3(1, 1, 1);
    const TVec3 b = Vec3(0.525731f, 0.0f, 0.850651f);
    const double la = static_cast<double>(std::sqrt(3.0L));
    const long double lbSquared = static_cast<long double>(b.X) * b.X
        + static_cast<long double>(b.Y) * b.Y + static_cast<long double>(b.Z) * b.Z;
    const double lb = static_cast<double>(std::sqrt(lbSquared));
    const long double p = static_cast<long double>(lb) * la;
    const double d = static_cast<double>(static_cast<long double>(b.X) + b.Y + b.Z);
    EXPECT_EQ(VecCos(a, b), static_cast<double>(d / p));
    EXPECT_NEAR(VecCos(a, b), (0.525731 + 0.850651) / std::sqrt(3.0), 1e-6);
}

TEST(Vector, ScaleRoundsEachProductToSingle)
{
    const TVec3 s = VecScale(Vec3(-250, 10, 0), 0.01);
    EXPECT_EQ(s.X, -2.5f);
    EXPECT_EQ(s.Y, 0.1f);
    EXPECT_EQ(s.Z, 0.0f);
    const TVec3 t = VecScale(Vec3(3, 1, -7), 1.0 / 3.0);
    EXPECT_EQ(t.X, 1.0f);
    EXPECT_EQ(t.Y, static_cast<float>(1.0L / 3.0));
    EXPECT_EQ(t.Z, static_cast<float>(-7.0L * (1.0 / 3.0)));
}

struct TColorCase
{
    TVec3 Fractions;
    TColor Expected;
};

void PrintTo(const TColorCase& c, std::ostream* os)
{
    *os << "(" << c.Fractions.X << ", " << c.Fractions.Y << ", " << c.Fractions.Z << ")";
}

class VecToColorTable : public ::testing::TestWithParam<TColorCase>
{
};

TEST_P(VecToColorTable, TruncatesAndClamps)
{
    const TColorCase& c = GetParam();
    const TColor color = VecToColor(c.Fractions);
    EXPECT_EQ(color, c.Expected);
    EXPECT_EQ(color >> 24, 0u);
}

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

const TColorCase kColorCases[] = {
    { { 1.0f, 1.0f, 1.0f }, 0x00FFFFFF },
    { { 0.5f, 0.25f, 0.0f }, 0x00004080 },
    { { 0.999f, 0.0039f, 0.0f }, 0x000000FF },
    { { 1.5f, -0.2f, 0.0f }, 0x000000FF },
    { { 0.0f, 0.0f, 1.0f }, 0x00FF0000 },
    { { 255.0f / 256.0f, 254.99f / 256.0f, -0.0f }, 0x0000FEFF },
    // Far outside the byte range: clamped without an out-of-range conversion.
    { { 1e30f, -1e30f, FLT_MAX }, 0x00FF00FF },
    { { -FLT_MAX, kInf, -kInf }, 0x0000FF00 },
    { { kNaN, 0.5f, kNaN }, 0x00008000 },
    { { -0.003f, 0.0039f, 0.00391f }, 0x00010000 },
};

INSTANTIATE_TEST_SUITE_P(Fractions, VecToColorTable, ::testing::ValuesIn(kColorCases));

} // namespace
