// The normal of each vertex: the normals its corners name, the normal at its
// place in the list, the faces around it, or none.
#include "obj/OBJClass.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace {

TOBJCorner C(std::int32_t vertex, std::int32_t normal = NoNormal)
{
    return TOBJCorner { vertex, NoUV, normal };
}

struct TCase
{
    const char* Name;
    std::vector<TVec3> Vertices;
    std::vector<TVec3> Normals;
    std::vector<std::vector<TOBJCorner>> Faces;
    std::vector<TVec3> Expected;
};

void AddFace(TOBJModel& model, const std::vector<TOBJCorner>& corners)
{
    TOBJFace face {};
    face.CornerCount = static_cast<std::uint32_t>(corners.size());
    face.MoreCorners = static_cast<std::uint32_t>(model.MoreCorners.size());
    for (std::size_t k = 0; k < corners.size(); ++k) {
        if (k < 4)
            face.Corners[k] = corners[k];
        else
            model.MoreCorners.push_back(corners[k]);
    }
    model.Faces.push_back(face);
}

// The sum of unit vectors, written out here on its own.
TVec3 UnitSum(const std::vector<TVec3>& named)
{
    double sum[3] = { 0.0, 0.0, 0.0 };
    for (const TVec3& n : named) {
        const double v[3] = { n.X, n.Y, n.Z };
        const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        for (int axis = 0; axis < 3; ++axis)
            sum[axis] += v[axis] / length;
    }
    return Vec3(float(sum[0]), float(sum[1]), float(sum[2]));
}

} // namespace

TEST(VertexNormals, FollowsTheNamedThenListedThenFaceNormals)
{
    const TVec3 n1 = Vec3(1, 2, 2), n2 = Vec3(0.1f, -0.7f, 0.3f),
                tiny = Vec3(3e-30f, 1e-30f, -2e-30f);
    // Nearly (1, 0, 0): added to (-1, 0, 0) its last bits show, and they
    // differ when the division, the grouping of the length or the precision
    // does.
    const TVec3 nearX = Vec3(0x1.75a892p-1f, 0x1.5d3f8ep-15f, 0x1.8dbf76p-17f);
    const TVec3 o = Vec3Zero(), z12 = Vec3(0, 0, 12);
    // 16777217 * 2^30 lies halfway between two singles: 1.5 added to it
    // twice leaves it there and it rounds down, 3 added once takes it above.
    const float a = 24929.0f * 0x1p30f, b = 673.0f, low = 0x1p54f;
    const TCase cases[] = {
        { "one normal named throughout: as read, from any place", { o, o },
            { Vec3(0, 0, 1), Vec3(0, 3, 4) }, { { C(1, 2) }, { C(2, 2), C(1), C(2, 2) } },
            { Vec3(0, 3, 4), Vec3(0, 3, 4) } },
        { "different normals: unit vectors summed per corner, zero length adds nothing",
            { o, o, o }, { n1, n2, Vec3Zero(), tiny, Vec3(-2, 0, 0), nearX },
            { { C(1, 1), C(1, 2), C(2, 4) }, { C(1, 1), C(1, 3), C(1, 4) }, { C(3, 5), C(3, 6) } },
            { UnitSum({ n1, n2, n1, tiny }), tiny, UnitSum({ Vec3(-2, 0, 0), nearX }) } },
        { "corners addressing nothing passed over; then the normal at the vertex's place",
            { o, Vec3(1, 0, 0), Vec3(0, 1, 0) }, { Vec3(2, 0, 0), Vec3(0, 5, 0) },
            { { C(1, 1), C(2, 9), C(3, -1) }, { C(0, 1), C(4, 1), C(1, 0) } },
            { Vec3(2, 0, 0), Vec3(0, 5, 0), Vec3(0, 0, 1) } },
        { "each vertex's corners name its own normal: the normals as listed",
            { o, Vec3(1, 0, 0), Vec3(0, 1, 0), o }, { n2, tiny, n1 },
            { { C(1, 1), C(2, 2), C(3, 3) }, { C(3, 3), C(2, 2), C(1, 1), C(1, 1) } },
            { n2, tiny, n1, o } },
        { "fans of faces; a vertex listed twice counts once; incomplete or short faces add nothing",
            { o, Vec3(2, 0, 0), Vec3(2, 3, 0), Vec3(0, 3, 0), Vec3(0, 0, 5) }, {},
            { { C(1), C(2), C(3), C(4) }, { C(1), C(2), C(5) }, { C(1), C(1), C(2), C(5) },
                { C(1), C(2), C(99) }, { C(1), C(5) } },
            { Vec3(0, -20, 12), Vec3(0, -20, 12), z12, z12, Vec3(0, -20, 0) } },
        { "corners past the fourth; a vertex of no face has no normal",
            { o, Vec3(1, 0, 0), Vec3(1, 1, 0), Vec3(0.5f, 2, 0), Vec3(0, 1, 0), o }, {},
            { { C(1), C(2), C(3), C(4), C(5) } },
            { Vec3(0, 0, 3), Vec3(0, 0, 3), Vec3(0, 0, 3), Vec3(0, 0, 3), Vec3(0, 0, 3), o } },
        { "each triangle adds to the running sum, no subtotal per face",
            { o, Vec3(a, 0, 0), Vec3(0, b, 0), Vec3(1, 0, 0), Vec3(1, 1.5f, 0), Vec3(0, 1.5f, 0) },
            {}, { { C(1), C(2), C(3) }, { C(1), C(4), C(5), C(6) } },
            { Vec3(0, 0, low), Vec3(0, 0, low), Vec3(0, 0, low), Vec3(0, 0, 3), Vec3(0, 0, 3),
                Vec3(0, 0, 3) } },
        { "a sum beyond the single range is the zero vector",
            { o, Vec3(1e20f, 0, 0), Vec3(0, 1e20f, 0), Vec3(0, 1e18f, 0) }, {},
            { { C(1), C(2), C(3) }, { C(1), C(2), C(4) } },
            { o, o, o, Vec3(0, 0, float(double(1e20f) * double(1e18f))) } },
    };
    auto flat = [](const std::vector<TVec3>& normals) {
        std::vector<float> all;
        for (const TVec3& n : normals)
            all.insert(all.end(), { n.X, n.Y, n.Z });
        return all;
    };
    for (const TCase& c : cases) {
        TOBJModel model;
        model.Vertices = c.Vertices;
        model.Normals = c.Normals;
        for (const auto& face : c.Faces)
            AddFace(model, face);
        EXPECT_EQ(flat(model.VertexNormals()), flat(c.Expected)) << c.Name;
    }
}
