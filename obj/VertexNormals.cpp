// The normal each vertex takes into a frame, worked out from one file's own
// lists: the normal its corners name, else the normal at its own place in
// the list, else the area-weighted normal of the faces around it, else none.
//
// Sums and products are written in the order they are to be evaluated, in
// double precision, and rounded to single once at the end, so that every
// build gives the same bits: the build compiles this file without fused
// multiply-adds, and excess precision would change the bits just as well.
#include "obj/OBJClass.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

static_assert(FLT_EVAL_METHOD == 0, "the vertex normals need plain double arithmetic");

namespace {

// A vertex's state after the first look at the corners: no corner names a
// normal (0), every corner that does names normal j (j > 0), or they name
// different ones (Mixed). Once the sums are handed out, a negative state is
// -1 - the place of the vertex's sum.
constexpr std::int32_t Mixed = -1;

// The running sum of a vertex whose normal is made of several.
struct TNormalSum
{
    double X;
    double Y;
    double Z;
    // The last face (1-based count of the faces that added something) that
    // added to this sum: a face listing the vertex twice adds once.
    std::uint32_t LastFace;
    // A sum over faces, not over named normals.
    bool ByFaces;

    void Add(double x, double y, double z)
    {
        X = X + x;
        Y = Y + y;
        Z = Z + z;
    }
    bool IsZero() const { return X == 0.0 && Y == 0.0 && Z == 0.0; }
};

// One triangle's cross product.
struct TCross
{
    double X;
    double Y;
    double Z;
};

// Rounds a sum to single precision. A component beyond the single range (or
// not a number) has no single to round to: such a sum gives the zero
// vector, whose normal index is 0.
TVec3 ToSingle(const TNormalSum& Sum)
{
    const bool inRange
        = std::fabs(Sum.X) <= FLT_MAX && std::fabs(Sum.Y) <= FLT_MAX && std::fabs(Sum.Z) <= FLT_MAX;
    if (!inRange)
        return Vec3Zero();
    return TVec3 { static_cast<float>(Sum.X), static_cast<float>(Sum.Y),
        static_cast<float>(Sum.Z) };
}

bool Addresses(std::int32_t Index, std::size_t Count)
{
    return Index > 0 && static_cast<std::size_t>(Index) <= Count;
}

// Calls Visit on every corner of every face, in file order.
template <typename TVisit> void ForEachCorner(const TOBJModel& Model, TVisit&& Visit)
{
    for (const TOBJFace& face : Model.Faces) {
        const std::uint32_t count = face.CornerCount;
        const std::uint32_t inFace = count < 4 ? count : 4;
        for (std::uint32_t k = 0; k < inFace; ++k)
            Visit(face.Corners[k]);
        if (count > 4) {
            const TOBJCorner* more = &Model.MoreCorners[face.MoreCorners];
            for (std::uint32_t k = 0; k < count - 4; ++k)
                Visit(more[k]);
        }
    }
}

// Adds each named normal divided by its length to the sum of its vertex,
// for the vertices whose corners name more than one normal.
void SumNamedNormals(
    const TOBJModel& Model, const std::vector<std::int32_t>& State, std::vector<TNormalSum>& Sums)
{
    const std::size_t vertexCount = Model.Vertices.size();
    const std::size_t normalCount = Model.Normals.size();
    ForEachCorner(Model, [&](const TOBJCorner& c) {
        if (!Addresses(c.Vertex, vertexCount) || !Addresses(c.Normal, normalCount))
            return;
        const std::int32_t state = State[std::size_t(c.Vertex) - 1];
        if (state >= 0)
            return;
        // Only a vertex with a named normal gets here, so the sum is one of
        // named normals.
        const TVec3& n = Model.Normals[std::size_t(c.Normal) - 1];
        const double x = n.X;
        const double y = n.Y;
        const double z = n.Z;
        const double length = std::sqrt((x * x + y * y) + z * z);
        if (length == 0.0)
            return;
        Sums[std::size_t(-1 - state)].Add(x / length, y / length, z / length);
    });
}

// Adds the cross products of each face's fan of triangles to the sums of
// the face's vertices that take their normal from the faces.
void SumFaceNormals(
    const TOBJModel& Model, const std::vector<std::int32_t>& State, std::vector<TNormalSum>& Sums)
{
    const std::size_t vertexCount = Model.Vertices.size();
    auto sumOf = [&](const TOBJCorner& c) -> TNormalSum* {
        const std::int32_t state = State[std::size_t(c.Vertex) - 1];
        if (state >= 0)
            return nullptr;
        TNormalSum& sum = Sums[std::size_t(-1 - state)];
        return sum.ByFaces ? &sum : nullptr;
    };
    std::vector<TCross> crosses;
    std::uint32_t faceNumber = 0;
    for (const TOBJFace& face : Model.Faces) {
        const std::uint32_t count = face.CornerCount;
        if (count < 3)
            continue;
        bool wanted = false;
        bool complete = true;
        for (std::uint32_t k = 0; k < count && complete; ++k) {
            const TOBJCorner& c = Model.Corner(face, k);
            complete = Addresses(c.Vertex, vertexCount);
            wanted = wanted || (complete && sumOf(c));
        }
        if (!complete || !wanted)
            continue;
        ++faceNumber;

        auto position = [&](std::uint32_t k) -> const TVec3& {
            return Model.Vertices[std::size_t(Model.Corner(face, k).Vertex) - 1];
        };
        const TVec3& p1 = position(0);
        const double x1 = p1.X;
        const double y1 = p1.Y;
        const double z1 = p1.Z;
        crosses.clear();
        for (std::uint32_t k = 1; k + 1 < count; ++k) {
            const TVec3& p = position(k);
            const TVec3& q = position(k + 1);
            const double ax = double(p.X) - x1;
            const double ay = double(p.Y) - y1;
            const double az = double(p.Z) - z1;
            const double bx = double(q.X) - x1;
            const double by = double(q.Y) - y1;
            const double bz = double(q.Z) - z1;
            crosses.push_back(TCross { ay * bz - az * by, az * bx - ax * bz, ax * by - ay * bx });
        }

        // Sums that start equal end equal, so the end is worked out once for
        // the sums still at zero (a vertex's first face) and once per run of
        // sums that start where the previous one did (vertices that came
        // from one earlier face, as in a polygon given twice): such polygons
        // cost their corners, not their square. Vertices whose sums all
        // differ still cost the face's triangles each. lastStart begins at
        // zero, which no sum compared with it holds.
        TNormalSum fromZero {}, lastStart {}, lastEnd {};
        bool fromZeroDone = false;
        auto sameStart = [](const TNormalSum& a, const TNormalSum& b) {
            return a.X == b.X && a.Y == b.Y && a.Z == b.Z;
        };
        for (std::uint32_t k = 0; k < count; ++k) {
            TNormalSum* sum = sumOf(Model.Corner(face, k));
            if (!sum || sum->LastFace == faceNumber)
                continue;
            sum->LastFace = faceNumber;
            TNormalSum* end;
            if (sum->IsZero()) {
                if (!fromZeroDone) {
                    for (const TCross& cross : crosses)
                        fromZero.Add(cross.X, cross.Y, cross.Z);
                    fromZeroDone = true;
                }
                end = &fromZero;
            } else if (sameStart(*sum, lastStart)) {
                end = &lastEnd;
            } else {
                lastStart = *sum;
                lastEnd = *sum;
                for (const TCross& cross : crosses)
                    lastEnd.Add(cross.X, cross.Y, cross.Z);
                end = &lastEnd;
            }
            sum->X = end->X;
            sum->Y = end->Y;
            sum->Z = end->Z;
        }
    }
}

} // namespace

std::vector<TVec3> TOBJModel::VertexNormals() const
{
    const std::size_t vertexCount = Vertices.size();
    const std::size_t normalCount = Normals.size();
    std::vector<TVec3> result(vertexCount, Vec3Zero());

    // The usual file names one normal per vertex, so the first look only
    // notes whether a vertex's corners agree; sums are made for the few
    // vertices that need them.
    std::vector<std::int32_t> state(vertexCount, 0);
    ForEachCorner(*this, [&](const TOBJCorner& c) {
        if (!Addresses(c.Vertex, vertexCount) || !Addresses(c.Normal, normalCount))
            return;
        std::int32_t& s = state[std::size_t(c.Vertex) - 1];
        if (s == 0)
            s = c.Normal;
        else if (s != c.Normal)
            s = Mixed;
    });

    std::vector<TNormalSum> sums;
    bool anyMixed = false;
    bool anyByFaces = false;
    for (std::size_t i = 0; i < vertexCount; ++i) {
        const std::int32_t s = state[i];
        if (s > 0) {
            result[i] = Normals[std::size_t(s) - 1];
        } else if (s == 0 && i < normalCount) {
            result[i] = Normals[i];
        } else if (s == 0 && i >= std::size_t(INT32_MAX)) {
            // No corner can address it, so no face uses it: no normal.
        } else {
            const bool byFaces = s == 0;
            anyMixed = anyMixed || !byFaces;
            anyByFaces = anyByFaces || byFaces;
            state[i] = -1 - static_cast<std::int32_t>(sums.size());
            sums.push_back(TNormalSum { 0.0, 0.0, 0.0, 0, byFaces });
        }
    }
    if (sums.empty())
        return result;

    if (anyMixed)
        SumNamedNormals(*this, state, sums);
    if (anyByFaces)
        SumFaceNormals(*this, state, sums);
    for (std::size_t i = 0; i < vertexCount; ++i) {
        if (state[i] < 0)
            result[i] = ToSingle(sums[std::size_t(-1 - state[i])]);
    }
    return result;
}
