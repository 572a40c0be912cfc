// The 162 directions a packed vertex's normal index refers to, spread over
// the unit sphere, and the search for the one nearest to a normal. Three
// entries (0, 76, 161) are a little off the mirror images of their partners;
// files made for the engine use them so, and so does the encoder.
#include "mdl/MDLClass.h"

#include <algorithm>
#include <cmath>

const TVec3 MDLNormals[MDLNormalCount] = {
    { -0.525725f, 0.000000f, 0.850650f }, // 0
    { -0.442863f, 0.238856f, 0.864188f }, // 1
    { -0.295242f, 0.000000f, 0.955423f }, // 2
    { -0.309017f, 0.500000f, 0.809017f }, // 3
    { -0.162460f, 0.262866f, 0.951056f }, // 4
    { 0.000000f, 0.000000f, 1.000000f }, // 5
    { 0.000000f, 0.850651f, 0.525731f }, // 6
    { -0.147621f, 0.716567f, 0.681718f }, // 7
    { 0.147621f, 0.716567f, 0.681718f }, // 8
    { 0.000000f, 0.525731f, 0.850651f }, // 9
    { 0.309017f, 0.500000f, 0.809017f }, // 10
    { 0.525731f, 0.000000f, 0.850651f }, // 11
    { 0.295242f, 0.000000f, 0.955423f }, // 12
    { 0.442863f, 0.238856f, 0.864188f }, // 13
    { 0.162460f, 0.262866f, 0.951056f }, // 14
    { -0.681718f, 0.147621f, 0.716567f }, // 15
    { -0.809017f, 0.309017f, 0.500000f }, // 16
    { -0.587785f, 0.425325f, 0.688191f }, // 17
    { -0.850651f, 0.525731f, 0.000000f }, // 18
    { -0.864188f, 0.442863f, 0.238856f }, // 19
    { -0.716567f, 0.681718f, 0.147621f }, // 20
    { -0.688191f, 0.587785f, 0.425325f }, // 21
    { -0.500000f, 0.809017f, 0.309017f }, // 22
    { -0.238856f, 0.864188f, 0.442863f }, // 23
    { -0.425325f, 0.688191f, 0.587785f }, // 24
    { -0.716567f, 0.681718f, -0.147621f }, // 25
    { -0.500000f, 0.809017f, -0.309017f }, // 26
    { -0.525731f, 0.850651f, 0.000000f }, // 27
    { 0.000000f, 0.850651f, -0.525731f }, // 28
    { -0.238856f, 0.864188f, -0.442863f }, // 29
    { 0.000000f, 0.955423f, -0.295242f }, // 30
    { -0.262866f, 0.951056f, -0.162460f }, // 31
    { 0.000000f, 1.000000f, 0.000000f }, // 32
    { 0.000000f, 0.955423f, 0.295242f }, // 33
    { -0.262866f, 0.951056f, 0.162460f }, // 34
    { 0.238856f, 0.864188f, 0.442863f }, // 35
    { 0.262866f, 0.951056f, 0.162460f }, // 36
    { 0.500000f, 0.809017f, 0.309017f }, // 37
    { 0.238856f, 0.864188f, -0.442863f }, // 38
    { 0.262866f, 0.951056f, -0.162460f }, // 39
    { 0.500000f, 0.809017f, -0.309017f }, // 40
    { 0.850651f, 0.525731f, 0.000000f }, // 41
    { 0.716567f, 0.681718f, 0.147621f }, // 42
    { 0.716567f, 0.681718f, -0.147621f }, // 43
    { 0.525731f, 0.850651f, 0.000000f }, // 44
    { 0.425325f, 0.688191f, 0.587785f }, // 45
    { 0.864188f, 0.442863f, 0.238856f }, // 46
    { 0.688191f, 0.587785f, 0.425325f }, // 47
    { 0.809017f, 0.309017f, 0.500000f }, // 48
    { 0.681718f, 0.147621f, 0.716567f }, // 49
    { 0.587785f, 0.425325f, 0.688191f }, // 50
    { 0.955423f, 0.295242f, 0.000000f }, // 51
    { 1.000000f, 0.000000f, 0.000000f }, // 52
    { 0.951056f, 0.162460f, 0.262866f }, // 53
    { 0.850651f, -0.525731f, 0.000000f }, // 54
    { 0.955423f, -0.295242f, 0.000000f }, // 55
    { 0.864188f, -0.442863f, 0.238856f }, // 56
    { 0.951056f, -0.162460f, 0.262866f }, // 57
    { 0.809017f, -0.309017f, 0.500000f }, // 58
    { 0.681718f, -0.147621f, 0.716567f }, // 59
    { 0.850651f, 0.000000f, 0.525731f }, // 60
    { 0.864188f, 0.442863f, -0.238856f }, // 61
    { 0.809017f, 0.309017f, -0.500000f }, // 62
    { 0.951056f, 0.162460f, -0.262866f }, // 63
    { 0.525731f, 0.000000f, -0.850651f }, // 64
    { 0.681718f, 0.147621f, -0.716567f }, // 65
    { 0.681718f, -0.147621f, -0.716567f }, // 66
    { 0.850651f, 0.000000f, -0.525731f }, // 67
    { 0.809017f, -0.309017f, -0.500000f }, // 68
    { 0.864188f, -0.442863f, -0.238856f }, // 69
    { 0.951056f, -0.162460f, -0.262866f }, // 70
    { 0.147621f, 0.716567f, -0.681718f }, // 71
    { 0.309017f, 0.500000f, -0.809017f }, // 72
    { 0.425325f, 0.688191f, -0.587785f }, // 73
    { 0.442863f, 0.238856f, -0.864188f }, // 74
    { 0.587785f, 0.425325f, -0.688191f }, // 75
    { 0.688197f, 0.587780f, -0.425327f }, // 76
    { -0.147621f, 0.716567f, -0.681718f }, // 77
    { -0.309017f, 0.500000f, -0.809017f }, // 78
    { 0.000000f, 0.525731f, -0.850651f }, // 79
    { -0.525731f, 0.000000f, -0.850651f }, // 80
    { -0.442863f, 0.238856f, -0.864188f }, // 81
    { -0.295242f, 0.000000f, -0.955423f }, // 82
    { -0.162460f, 0.262866f, -0.951056f }, // 83
    { 0.000000f, 0.000000f, -1.000000f }, // 84
    { 0.295242f, 0.000000f, -0.955423f }, // 85
    { 0.162460f, 0.262866f, -0.951056f }, // 86
    { -0.442863f, -0.238856f, -0.864188f }, // 87
    { -0.309017f, -0.500000f, -0.809017f }, // 88
    { -0.162460f, -0.262866f, -0.951056f }, // 89
    { 0.000000f, -0.850651f, -0.525731f }, // 90
    { -0.147621f, -0.716567f, -0.681718f }, // 91
    { 0.147621f, -0.716567f, -0.681718f }, // 92
    { 0.000000f, -0.525731f, -0.850651f }, // 93
    { 0.309017f, -0.500000f, -0.809017f }, // 94
    { 0.442863f, -0.238856f, -0.864188f }, // 95
    { 0.162460f, -0.262866f, -0.951056f }, // 96
    { 0.238856f, -0.864188f, -0.442863f }, // 97
    { 0.500000f, -0.809017f, -0.309017f }, // 98
    { 0.425325f, -0.688191f, -0.587785f }, // 99
    { 0.716567f, -0.681718f, -0.147621f }, // 100
    { 0.688191f, -0.587785f, -0.425325f }, // 101
    { 0.587785f, -0.425325f, -0.688191f }, // 102
    { 0.000000f, -0.955423f, -0.295242f }, // 103
    { 0.000000f, -1.000000f, 0.000000f }, // 104
    { 0.262866f, -0.951056f, -0.162460f }, // 105
    { 0.000000f, -0.850651f, 0.525731f }, // 106
    { 0.000000f, -0.955423f, 0.295242f }, // 107
    { 0.238856f, -0.864188f, 0.442863f }, // 108
    { 0.262866f, -0.951056f, 0.162460f }, // 109
    { 0.500000f, -0.809017f, 0.309017f }, // 110
    { 0.716567f, -0.681718f, 0.147621f }, // 111
    { 0.525731f, -0.850651f, 0.000000f }, // 112
    { -0.238856f, -0.864188f, -0.442863f }, // 113
    { -0.500000f, -0.809017f, -0.309017f }, // 114
    { -0.262866f, -0.951056f, -0.162460f }, // 115
    { -0.850651f, -0.525731f, 0.000000f }, // 116
    { -0.716567f, -0.681718f, -0.147621f }, // 117
    { -0.716567f, -0.681718f, 0.147621f }, // 118
    { -0.525731f, -0.850651f, 0.000000f }, // 119
    { -0.500000f, -0.809017f, 0.309017f }, // 120
    { -0.238856f, -0.864188f, 0.442863f }, // 121
    { -0.262866f, -0.951056f, 0.162460f }, // 122
    { -0.864188f, -0.442863f, 0.238856f }, // 123
    { -0.809017f, -0.309017f, 0.500000f }, // 124
    { -0.688191f, -0.587785f, 0.425325f }, // 125
    { -0.681718f, -0.147621f, 0.716567f }, // 126
    { -0.442863f, -0.238856f, 0.864188f }, // 127
    { -0.587785f, -0.425325f, 0.688191f }, // 128
    { -0.309017f, -0.500000f, 0.809017f }, // 129
    { -0.147621f, -0.716567f, 0.681718f }, // 130
    { -0.425325f, -0.688191f, 0.587785f }, // 131
    { -0.162460f, -0.262866f, 0.951056f }, // 132
    { 0.442863f, -0.238856f, 0.864188f }, // 133
    { 0.162460f, -0.262866f, 0.951056f }, // 134
    { 0.309017f, -0.500000f, 0.809017f }, // 135
    { 0.147621f, -0.716567f, 0.681718f }, // 136
    { 0.000000f, -0.525731f, 0.850651f }, // 137
    { 0.425325f, -0.688191f, 0.587785f }, // 138
    { 0.587785f, -0.425325f, 0.688191f }, // 139
    { 0.688191f, -0.587785f, 0.425325f }, // 140
    { -0.955423f, 0.295242f, 0.000000f }, // 141
    { -0.951056f, 0.162460f, 0.262866f }, // 142
    { -1.000000f, 0.000000f, 0.000000f }, // 143
    { -0.850651f, 0.000000f, 0.525731f }, // 144
    { -0.955423f, -0.295242f, 0.000000f }, // 145
    { -0.951056f, -0.162460f, 0.262866f }, // 146
    { -0.864188f, 0.442863f, -0.238856f }, // 147
    { -0.951056f, 0.162460f, -0.262866f }, // 148
    { -0.809017f, 0.309017f, -0.500000f }, // 149
    { -0.864188f, -0.442863f, -0.238856f }, // 150
    { -0.951056f, -0.162460f, -0.262866f }, // 151
    { -0.809017f, -0.309017f, -0.500000f }, // 152
    { -0.681718f, 0.147621f, -0.716567f }, // 153
    { -0.681718f, -0.147621f, -0.716567f }, // 154
    { -0.850651f, 0.000000f, -0.525731f }, // 155
    { -0.688191f, 0.587785f, -0.425325f }, // 156
    { -0.587785f, 0.425325f, -0.688191f }, // 157
    { -0.425325f, 0.688191f, -0.587785f }, // 158
    { -0.425325f, -0.688191f, -0.587785f }, // 159
    { -0.587785f, -0.425325f, -0.688191f }, // 160
    { -0.688197f, -0.587780f, -0.425327f }, // 161
};

namespace {

// The normal table in double precision, each entry scaled to unit length,
// for the quick first pass of the normal search.
struct TUnitNormals
{
    double X[MDLNormalCount];
    double Y[MDLNormalCount];
    double Z[MDLNormalCount];

    TUnitNormals()
    {
        for (int i = 0; i < MDLNormalCount; ++i) {
            const double length = VecLength(MDLNormals[i]);
            X[i] = MDLNormals[i].X / length;
            Y[i] = MDLNormals[i].Y / length;
            Z[i] = MDLNormals[i].Z / length;
        }
    }
};

// The definition of the normal index over a set of entries: the first entry,
// in index order, whose cosine with the normal is strictly greater than every
// earlier one and than 0.
std::uint8_t ExactNearestNormal(const TVec3& normal, const int* entries, int count)
{
    double best = 0.0;
    int index = 0;
    for (int k = 0; k < count; ++k) {
        const double cosine = VecCos(normal, MDLNormals[entries[k]]);
        if (cosine > best) {
            best = cosine;
            index = entries[k];
        }
    }
    return static_cast<std::uint8_t>(index);
}

} // namespace

std::uint8_t NearestNormalIndex(const TVec3& normal)
{
    static const TUnitNormals units;
    const double length = VecLength(normal);
    if (length == 0.0)
        return 0;
    if (!std::isfinite(length))
        return PlainNormalIndex(normal);

    // The cosines in double precision are within about 1e-15 of the
    // extended-precision ones that decide. Only the entries whose quick
    // cosine comes within a wide margin of the best can hold the maximum (or
    // tie with it), so those alone are compared the exact way, in index
    // order: the result is the same as comparing all 162.
    constexpr double Margin = 1e-9;
    const double x = normal.X / length;
    const double y = normal.Y / length;
    const double z = normal.Z / length;
    // Kept free of dependencies between entries so the compiler can run
    // them side by side.
    double quick[MDLNormalCount];
    for (int i = 0; i < MDLNormalCount; ++i)
        quick[i] = x * units.X[i] + y * units.Y[i] + z * units.Z[i];
    constexpr int Lanes = 6; // 162 = 6 x 27
    double lanes[Lanes] = { -2.0, -2.0, -2.0, -2.0, -2.0, -2.0 };
    for (int i = 0; i < MDLNormalCount; i += Lanes) {
        for (int k = 0; k < Lanes; ++k)
            lanes[k] = std::max(lanes[k], quick[i + k]);
    }
    const double best = *std::max_element(lanes, lanes + Lanes);
    if (best <= -Margin)
        return 0; // no entry can have a positive cosine
    int candidates[MDLNormalCount];
    int count = 0;
    const double threshold = best - Margin;
    for (int i = 0; i < MDLNormalCount; ++i) {
        if (quick[i] >= threshold) // rarely more than one entry
            candidates[count++] = i;
    }
    // A lone candidate is the one entry with the greatest cosine, and that
    // cosine is clearly positive: nothing is left to compare.
    if (count == 1 && best > Margin)
        return static_cast<std::uint8_t>(candidates[0]);
    return ExactNearestNormal(normal, candidates, count);
}

std::uint8_t PlainNormalIndex(const TVec3& Normal)
{
    if (VecLength(Normal) == 0.0)
        return 0;
    int all[MDLNormalCount];
    for (int i = 0; i < MDLNormalCount; ++i)
        all[i] = i;
    return ExactNearestNormal(Normal, all, MDLNormalCount);
}
