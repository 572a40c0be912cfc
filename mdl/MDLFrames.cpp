// Frames: packing a position into three 16-bit coordinates, picking the
// table direction of a normal, and a frame made of an OBJ model's vertices
// with its box and name.
#include "mdl/MDLClass.h"

#include <algorithm>
#include <cmath>
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
    Vertex.NormalIndex = NearestNormalIndex(Normal);
}

void TMDLModel::AddFrame(const TOBJModel& OBJModel)
{
    const std::size_t number = Frames.size();
    // Every frame of a file holds NumVerts vertices; one of another length
    // would shift every block after it and make the file unreadable.
    if (!Frames.empty() && OBJModel.Vertices.size() != Frames.front().Vertices.size())
        throw EInvalidOperation("Frame_" + std::to_string(number) + " has "
            + std::to_string(OBJModel.Vertices.size()) + " vertices, but Frame_0 has "
            + std::to_string(Frames.front().Vertices.size()));
    TMDLFrame frame;
    for (int axis = 0; axis < 3; ++axis) {
        frame.BBoxMin.Coord[axis] = PackedMax;
        frame.BBoxMax.Coord[axis] = 0;
    }
    const std::size_t count = OBJModel.Vertices.size();
    frame.Vertices.resize(count);
    // Each frame's normals come from its own file's lists.
    const std::vector<TVec3> normals = OBJModel.VertexNormals();
    for (std::size_t i = 0; i < count; ++i) {
        TMDLPackedVertex& vertex = frame.Vertices[i];
        EncodeVertex(OBJModel.Vertices[i], normals[i], vertex);
        vertex.Pad = 0;
        for (int axis = 0; axis < 3; ++axis) {
            if (vertex.Coord[axis] > frame.BBoxMax.Coord[axis])
                frame.BBoxMax.Coord[axis] = vertex.Coord[axis];
        }
        for (int axis = 0; axis < 3; ++axis) {
            if (vertex.Coord[axis] < frame.BBoxMin.Coord[axis])
                frame.BBoxMin.Coord[axis] = vertex.Coord[axis];
        }
    }
    // One unit of margin on each side, held at the ends of the range: a
    // wrapped bound would turn the box inside out.
    for (int axis = 0; axis < 3; ++axis) {
        if (frame.BBoxMin.Coord[axis] > 0)
            --frame.BBoxMin.Coord[axis];
        if (frame.BBoxMax.Coord[axis] < PackedMax)
            ++frame.BBoxMax.Coord[axis];
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
