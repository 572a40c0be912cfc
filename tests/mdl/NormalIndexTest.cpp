// The fast normal search against the definition of the normal index, on the
// normals most likely to split them: ties, near ties, the borders of the
// search's map, lengths at the ends of the float range and random
// directions, well over a million in all.
#include "mdl/MDLClass.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();
constexpr float Tiny = std::numeric_limits<float>::denorm_min();
constexpr float Huge = std::numeric_limits<float>::max();

// Powers of two scale a normal exactly, so these keep every ratio between its
// components.
const float ExactScales[] = { 1.0f, 0x1p-100f, 0x1p100f };
// Makes every component of a normal inside [-1, 1] denormal, still keeping
// the ratios of those with few significant bits. The definition loads such
// floats at a few microseconds a normal, so they are used more sparingly.
constexpr float DenormalScale = 0x1p-140f;

// Every order and every sign of three components.
void AddSignedPermutations(std::vector<TVec3>& normals, float a, float b, float c)
{
    const float orders[6][3]
        = { { a, b, c }, { a, c, b }, { b, a, c }, { b, c, a }, { c, a, b }, { c, b, a } };
    for (const auto& o : orders) {
        for (int signs = 0; signs < 8; ++signs) {
            normals.push_back(
                Vec3(signs & 1 ? -o[0] : o[0], signs & 2 ? -o[1] : o[1], signs & 4 ? -o[2] : o[2]));
        }
    }
}

float Nudged(float value, int ulps)
{
    for (; ulps > 0; --ulps)
        value = std::nextafter(value, Inf);
    for (; ulps < 0; ++ulps)
        value = std::nextafter(value, -Inf);
    return value;
}

std::string Describe(const TVec3& n)
{
    std::ostringstream text;
    text.precision(9);
    text << "(" << n.X << ", " << n.Y << ", " << n.Z << ")";
    return text.str();
}

// The definition's 162 extended-precision cosines per normal are the cost,
// so the normals are split over two threads, which also has the search
// called from both at once.
void ExpectDefinitionsIndex(const std::vector<TVec3>& normals)
{
    constexpr int Threads = 2;
    constexpr std::size_t Shown = 5;
    struct TMismatch
    {
        TVec3 Normal;
        int Fast;
        int Plain;
    };
    std::vector<TMismatch> found[Threads];
    std::size_t counts[Threads] = {};
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&, t] {
            for (std::size_t i = t; i < normals.size(); i += Threads) {
                // Through the vertex encoder, whose input is reordered
                // and negated before the search.
                TMDLPackedVertex vertex {};
                TMDLModel::EncodeVertex(Vec3Zero(), normals[i], vertex);
                const int fast = vertex.NormalIndex;
                const TVec3& n = normals[i];
                const int plain = PlainNormalIndex(Vec3(-n.Z, -n.X, -n.Y));
                if (fast != plain && counts[t]++ < Shown)
                    found[t].push_back({ normals[i], fast, plain });
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    for (const auto& mismatches : found) {
        for (const TMismatch& m : mismatches)
            ADD_FAILURE() << "normal " << Describe(m.Normal) << ": " << m.Fast << " instead of "
                          << m.Plain;
    }
    EXPECT_EQ(counts[0] + counts[1], 0u) << "of " << normals.size() << " normals";
}

TEST(NormalIndex, AgreesOnAxesTiesAndEveryLength)
{
    std::vector<TVec3> normals;
    // Axes, zero with every sign, and lengths from the smallest normal float
    // up to the largest; then ties: with equal components, entries that are
    // mirror images or permutations of each other get equal cosines.
    const float sizes[] = { 0.0f, std::numeric_limits<float>::min(), 1e-20f, 0.3f, 0.5f, 1.0f, 1.5f,
        2.0f, 1e20f, 3e38f, Huge };
    for (float a : sizes) {
        for (float b : sizes) {
            AddSignedPermutations(normals, a, 0.0f, 0.0f);
            AddSignedPermutations(normals, a, a, b);
            AddSignedPermutations(normals, a, b, 0.0f);
            AddSignedPermutations(normals, a, b, Nudged(a, 1));
        }
    }
    // Denormal lengths, down to the smallest denormal alone.
    const float denormals[] = { Tiny, 3 * Tiny, 1e-40f, std::numeric_limits<float>::min() / 3 };
    for (float a : denormals) {
        for (float b : denormals) {
            AddSignedPermutations(normals, a, 0.0f, 0.0f);
            AddSignedPermutations(normals, a, a, b);
            AddSignedPermutations(normals, a, b, 0.0f);
        }
        AddSignedPermutations(normals, a, 1.0f, 0.0f);
        AddSignedPermutations(normals, a, Huge, 1e-20f);
    }
    // No finite length: the plain search decides, and so must the fast one.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float odd : { Inf, -Inf, nan }) {
        AddSignedPermutations(normals, odd, 0.0f, 0.0f);
        AddSignedPermutations(normals, odd, 1.0f, Huge);
        AddSignedPermutations(normals, odd, odd, Tiny);
    }
    EXPECT_GE(normals.size(), 25000u);
    ExpectDefinitionsIndex(normals);
}

// The search's map cuts each cube face (a normal divided by its largest
// magnitude) into cells whose sides are power-of-two fractions of the face's,
// so the normals sit on and a few float steps around every such border down
// to 1/64 of the side (1/32 at the corners of cells), and across the cube's
// edges, where a nudge hands the largest magnitude to another axis.
TEST(NormalIndex, AgreesOnAndAroundTheBordersOfTheMap)
{
    std::vector<TVec3> normals;
    std::mt19937 random(4107);
    std::uniform_real_distribution<float> across(-1.0f, 1.0f);
    auto add = [&](int axis, float major, float u, float w) {
        float c[3];
        c[axis] = major;
        c[(axis + 1) % 3] = u;
        c[(axis + 2) % 3] = w;
        normals.push_back(Vec3(c[0], c[1], c[2]));
    };
    // Multiples of 0.1 round, so those ratios land within a float step of
    // the borders rather than on them.
    for (float scale : { ExactScales[0], ExactScales[1], ExactScales[2], 0.1f }) {
        for (int axis = 0; axis < 3; ++axis) {
            for (float side : { scale, -scale }) {
                // Borders in one coordinate, anywhere in the other.
                for (int k = 0; k <= 64; ++k) {
                    const float border = (k / 32.0f - 1.0f) * scale;
                    for (int ulps = -2; ulps <= 2; ++ulps) {
                        for (int n = 0; n < 12; ++n) {
                            const float other = across(random) * scale;
                            add(axis, side, Nudged(border, ulps), other);
                            add(axis, side, other, Nudged(border, ulps));
                        }
                    }
                }
                // Corners of cells: borders in both.
                for (int k = 0; k <= 32; ++k) {
                    for (int l = 0; l <= 32; ++l) {
                        for (int ulps = -1; ulps <= 1; ++ulps) {
                            add(axis, side, Nudged((k / 16.0f - 1.0f) * scale, ulps),
                                Nudged((l / 16.0f - 1.0f) * scale, -ulps));
                            add(axis, side, Nudged((k / 16.0f - 1.0f) * scale, ulps),
                                Nudged((l / 16.0f - 1.0f) * scale, ulps));
                        }
                    }
                }
            }
        }
    }
    for (int axis = 0; axis < 3; ++axis) {
        for (float side : { DenormalScale, -DenormalScale }) {
            for (int k = 0; k <= 16; ++k) {
                for (int l = 0; l <= 16; ++l) {
                    for (int ulps = -1; ulps <= 1; ++ulps) {
                        add(axis, side, Nudged((k / 8.0f - 1.0f) * DenormalScale, ulps),
                            (l / 8.0f - 1.0f) * DenormalScale);
                    }
                }
            }
        }
    }
    EXPECT_GE(normals.size(), 300000u);
    ExpectDefinitionsIndex(normals);
}

// The entries themselves, mirrored and permuted, and the midpoints between
// any two, which sit on the borders between entries (and, a float step off,
// just beside them).
TEST(NormalIndex, AgreesOnTheTableEntriesAndBetweenThem)
{
    std::vector<TVec3> normals;
    for (const TVec3& e : MDLNormals) {
        for (float scale : { ExactScales[0], ExactScales[1], ExactScales[2], 1e-30f, 3e38f })
            AddSignedPermutations(normals, e.X * scale, e.Y * scale, e.Z * scale);
        normals.push_back(Vec3(e.X * DenormalScale, e.Y * DenormalScale, e.Z * DenormalScale));
    }
    for (const TVec3& e : MDLNormals) {
        for (const TVec3& f : MDLNormals) {
            const TVec3 middle = Vec3(e.X + f.X, e.Y + f.Y, e.Z + f.Z);
            normals.push_back(middle);
            normals.push_back(Vec3(
                middle.X * ExactScales[1], middle.Y * ExactScales[1], middle.Z * ExactScales[1]));
            for (int ulps : { -1, 1 }) {
                normals.push_back(Vec3(Nudged(middle.X, ulps), middle.Y, middle.Z));
                normals.push_back(Vec3(middle.X, Nudged(middle.Y, ulps), middle.Z));
                normals.push_back(Vec3(middle.X, middle.Y, Nudged(middle.Z, ulps)));
            }
        }
    }
    EXPECT_GE(normals.size(), 200000u);
    ExpectDefinitionsIndex(normals);
}

TEST(NormalIndex, AgreesOnRandomDirectionsOfEveryLength)
{
    std::vector<TVec3> normals;
    std::mt19937 random(20261208);
    std::normal_distribution<float> gauss;
    // Up to 10^37.5, so that a component some times the size of the others
    // still fits a float; down to where denormals begin, and a few below.
    std::uniform_real_distribution<float> exponent(-37.0f, 37.5f);
    std::uniform_real_distribution<float> denormal(-45.0f, -38.0f);
    for (int i = 0; i < 2000; ++i) {
        normals.push_back(Vec3(gauss(random) * std::pow(10.0f, denormal(random)),
            gauss(random) * std::pow(10.0f, denormal(random)),
            gauss(random) * std::pow(10.0f, i % 2 ? denormal(random) : exponent(random))));
    }
    for (int i = 0; i < 450000; ++i) {
        const TVec3 d = Vec3(gauss(random), gauss(random), gauss(random));
        switch (i % 4) {
        case 0: // as they come, about unit length
            normals.push_back(d);
            break;
        case 1: { // one length, from tiny to huge
            const float scale = std::pow(10.0f, exponent(random));
            normals.push_back(Vec3(d.X * scale, d.Y * scale, d.Z * scale));
            break;
        }
        default: // each component its own size
            normals.push_back(Vec3(d.X * std::pow(10.0f, exponent(random)),
                d.Y * std::pow(10.0f, exponent(random)), d.Z * std::pow(10.0f, exponent(random))));
            break;
        }
    }
    ExpectDefinitionsIndex(normals);
}

} // namespace
