// Frames: packing a position into three 16-bit coordinates, picking the
// table direction of a normal, a frame made of an OBJ model's vertices with
// its box and name, and the per-axis scales that fit a whole model's range.
#include "mdl/MDLClass.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "mdl/MDLInternal.h"
#include "obj/OBJClass.h"

using namespace MDLDetail;

namespace {

// A packed coordinate spans -1..1 in 2 x 32767 steps.
constexpr Extended PackSteps = 32767.0L;

} // namespace

// Taken with fmod, which is exact, so that no value outside an integer
// type's range is ever converted to one.
std::uint16_t MDLDetail::Low16(Extended Integral)
{
    // The usual values fit a 64-bit integer, whose conversion keeps the
    // same low bits.
    if (Integral > -9.0e18L && Integral < 9.0e18L)
        return static_cast<std::uint16_t>(static_cast<std::int64_t>(Integral));
    if (!std::isfinite(Integral))
        return 0;
    Extended rest = std::fmod(Integral, 65536.0L);
    if (rest < 0)
        rest += 65536.0L;
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(rest));
}

std::string TMDLFrame::NameText() const
{
    const char* end = std::find(Name, Name + FrameNameSize, '\0');
    return std::string(Name, end);
}

void TMDLFrame::SetName(const std::string& Text)
{
    std::fill(Name, Name + FrameNameSize, '\0');
    std::memcpy(Name, Text.data(), std::min(Text.size(), FrameNameSize - 1));
}

std::uint16_t TMDLModel::PackCoord(float Coord)
{
    // The usual coordinates take a short way. For 2^-14 <= |Coord| < 2^30,
    // Coord + 1 has at most 38 significant bits and its product with 32767
    // (15 bits) at most 53, so both are exact in double precision, equal to
    // the extended-precision results below, and truncate alike.
    const float magnitude = std::fabs(Coord);
    if (Coord == 0.0f || (magnitude >= 0x1p-14f && magnitude < 0x1p30f)) {
        const double product = (static_cast<double>(Coord) + 1.0) * 32767.0;
        return static_cast<std::uint16_t>(static_cast<std::int64_t>(product));
    }
    // Sum and product in extended precision: for tiny negative coordinates
    // double precision would round 1 + Coord up to 1 and pack one step higher.
    const Extended product = (static_cast<Extended>(Coord) + 1.0L) * PackSteps;
    return Low16(std::trunc(product));
}

void TMDLModel::EncodeVertex(const TVec3& Position, const TVec3& Normal, TMDLPackedVertex& Vertex)
{
    Vertex.Coord[0] = PackCoord(Position.Z);
    Vertex.Coord[1] = PackCoord(Position.X);
    Vertex.Coord[2] = PackCoord(Position.Y);
    Vertex.NormalIndex = NearestNormalIndex(FileNormal(Normal));
}

TVec3 TMDLModel::FileNormal(const TVec3& Normal)
{
    // The axes of the position, and the other way round: a stored triangle
    // winds the reverse of its OBJ face, and the engine's own models point
    // each normal the way their stored triangles wind. Both steps are exact.
    return Vec3(-Normal.Z, -Normal.X, -Normal.Y);
}

void TMDLModel::AddFrame(const TOBJModel& OBJModel)
{
    const std::size_t number = Frames.size();
    // Every frame of a file holds NumVerts vertices; one of another length
    // would shift every block after it and make the file unreadable.
    if (!Frames.empty() && OBJModel.Vertices.size() != Frames.front().VertexCount())
        throw EInvalidOperation("Frame_" + std::to_string(number) + " has "
            + std::to_string(OBJModel.Vertices.size()) + " vertices, but Frame_0 has "
            + std::to_string(Frames.front().VertexCount()));
    if (FitRange && !Frames.empty() && !Frames.back().Pending)
        throw EInvalidOperation("The frames were fitted already; add every frame first");
    TMDLFrame frame;
    const std::size_t count = OBJModel.Vertices.size();
    // Each frame's normals come from its own file's lists.
    const std::vector<TVec3> normals = OBJModel.VertexNormals();
    if (FitRange) {
        // Packed once every frame is here and the model's range is known;
        // until then 13 bytes a vertex, not the 8 of a packed vertex plus
        // the 12 of a position.
        frame.NormalIndices.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            frame.NormalIndices[i] = NearestNormalIndex(FileNormal(normals[i]));
        frame.Positions = OBJModel.Vertices;
        frame.Pending = true;
    } else {
        frame.Vertices.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            EncodeVertex(OBJModel.Vertices[i], normals[i], frame.Vertices[i]);
            frame.Vertices[i].Pad = 0;
        }
        frame.SetBox();
    }
    frame.FrameType = FrameTypePacked16;
    ReadFrameNames(number + 1);
    if (FrameNames.size() > number)
        frame.SetName(FrameNames[number]);
    else
        frame.SetName("frame" + std::to_string(number));
    Frames.push_back(std::move(frame));
    Header.NumFrames = static_cast<std::int32_t>(Frames.size());
}

void TMDLFrame::SetBox()
{
    for (int axis = 0; axis < 3; ++axis) {
        BBoxMin.Coord[axis] = PackedMax;
        BBoxMax.Coord[axis] = 0;
    }
    for (const TMDLPackedVertex& vertex : Vertices) {
        for (int axis = 0; axis < 3; ++axis) {
            if (vertex.Coord[axis] > BBoxMax.Coord[axis])
                BBoxMax.Coord[axis] = vertex.Coord[axis];
        }
        for (int axis = 0; axis < 3; ++axis) {
            if (vertex.Coord[axis] < BBoxMin.Coord[axis])
                BBoxMin.Coord[axis] = vertex.Coord[axis];
        }
    }
    // One unit of margin on each side, held at the ends of the range: a
    // wrapped bound would turn the box inside out.
    for (int axis = 0; axis < 3; ++axis) {
        if (BBoxMin.Coord[axis] > 0)
            --BBoxMin.Coord[axis];
        if (BBoxMax.Coord[axis] < PackedMax)
            ++BBoxMax.Coord[axis];
    }
}

namespace {

// A position's coordinate on a file axis: X is the OBJ z, Y the OBJ x, Z the
// OBJ y.
float FileAxis(const TVec3& Position, int Axis)
{
    return Axis == 0 ? Position.Z : (Axis == 1 ? Position.X : Position.Y);
}

} // namespace

void TMDLModel::FitFrames()
{
    if (Frames.empty() || !Frames.front().Pending)
        return;
    // The largest magnitude on each axis over every frame. Coordinates that
    // are not finite cannot be fitted and are packed as they are.
    float lo[3] = { 0, 0, 0 };
    float hi[3] = { 0, 0, 0 };
    for (const TMDLFrame& frame : Frames) {
        for (const TVec3& position : frame.Positions) {
            for (int axis = 0; axis < 3; ++axis) {
                const float c = FileAxis(position, axis);
                if (std::isfinite(c)) {
                    lo[axis] = std::min(lo[axis], c);
                    hi[axis] = std::max(hi[axis], c);
                }
            }
        }
    }
    // An axis inside -1..1 is packed as it is, on the scale of 0.01; a larger
    // one is divided by its largest magnitude, and its scale grows by as much,
    // so every position stays 327.67 times its coordinate less one constant.
    float divisor[3];
    float scale[3];
    for (int axis = 0; axis < 3; ++axis) {
        const bool inside = lo[axis] >= -1.0f && hi[axis] <= 1.0f;
        divisor[axis] = inside ? 1.0f : std::max(-lo[axis], hi[axis]);
        scale[axis] = inside ? ModelScale
                             : static_cast<float>(static_cast<double>(ModelScale) * divisor[axis]);
    }
    // The engine reads a position as packed x scale + offset in single
    // precision; beyond this the header itself would hold infinities.
    const char* const objAxis[3] = { "z", "x", "y" };
    for (int axis = 0; axis < 3; ++axis) {
        if (!std::isfinite(static_cast<float>(double(PackedMax) * scale[axis]))) {
            char reach[32];
            std::snprintf(reach, sizeof reach, "%g", double(std::max(-lo[axis], hi[axis])));
            throw ERangeError(std::string("The model's coordinates reach ") + reach + " on the OBJ "
                + objAxis[axis] + " axis; an MDL5 model holds coordinates up to about 5e35.");
        }
    }
    for (TMDLFrame& frame : Frames) {
        if (!frame.Pending)
            continue;
        frame.Vertices.resize(frame.Positions.size());
        for (std::size_t i = 0; i < frame.Vertices.size(); ++i) {
            TMDLPackedVertex& vertex = frame.Vertices[i];
            for (int axis = 0; axis < 3; ++axis) {
                const float c = FileAxis(frame.Positions[i], axis);
                vertex.Coord[axis] = PackCoord(c / divisor[axis]);
            }
            vertex.NormalIndex = frame.NormalIndices[i];
            vertex.Pad = 0;
        }
        frame.SetBox();
        std::vector<TVec3>().swap(frame.Positions);
        std::vector<std::uint8_t>().swap(frame.NormalIndices);
        frame.Pending = false;
    }
    SetScaleAndOffset(scale);
}

void TMDLModel::SetScaleAndOffset(const float Scale[3])
{
    // Minus the centre of frame 0's box, so the model sits around the origin.
    const TMDLFrame& first = Frames.front();
    float offset[3];
    for (int axis = 0; axis < 3; ++axis) {
        const std::int32_t max = first.BBoxMax.Coord[axis];
        const std::int32_t min = first.BBoxMin.Coord[axis];
        const std::int32_t extent = max - min;
        const float centre = static_cast<float>(-(max - extent / 2.0));
        // Both factors have 24 significant bits: the product is exact in
        // double precision and rounded once.
        offset[axis] = static_cast<float>(static_cast<double>(centre) * Scale[axis]);
    }
    Header.Scale = Vec3(Scale[0], Scale[1], Scale[2]);
    Header.Offset = Vec3(offset[0], offset[1], offset[2]);
}
