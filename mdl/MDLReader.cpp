// Reading an MDL5 file back into the model. Every block's size follows from
// the header and the skin types, so each one is checked against the bytes
// that are left before anything is allocated for it.
#include "mdl/MDLClass.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "mdl/MDLInternal.h"
#include "util/ByteStream.h"
#include "util/FileIO.h"

using namespace MDLDetail;

namespace {

constexpr std::int32_t MaxSkins = 2;
// Far above any model the converter can write (a skin is at most 65535
// pixels on a side and 256 MiB), and small enough to refuse a file that
// could not be a model before reading it into memory.
constexpr std::uint64_t MaxFileSize = std::uint64_t(4) << 30;

std::string Text(std::uint64_t value)
{
    return std::to_string(value);
}

[[noreturn]] void RaiseTruncated(
    const TByteReader& reader, std::uint64_t count, std::string_view what)
{
    throw EMDLFormatError("The MDL5 file is truncated: " + std::string(what) + " needs "
        + Text(count) + " bytes at offset " + Text(reader.Position()) + ", but only "
        + Text(reader.Left()) + " remain.");
}

void CheckCount(std::int32_t value, const char* field)
{
    if (value < 0)
        throw EMDLFormatError(std::string("The MDL5 header's ") + field + " is negative ("
            + std::to_string(value) + ").");
}

TMDLPackedVertex ReadPackedVertex(TByteReader& in)
{
    TMDLPackedVertex vertex;
    vertex.Coord[0] = in.U16();
    vertex.Coord[1] = in.U16();
    vertex.Coord[2] = in.U16();
    vertex.NormalIndex = in.U8();
    vertex.Pad = in.U8();
    return vertex;
}

std::unique_ptr<TMDLSkin5> ReadSkin(TByteReader& in, int number)
{
    const std::string what = "skin " + std::to_string(number);
    in.Need(SkinHeaderSize, what);
    auto skin = std::make_unique<TMDLSkin5>();
    skin->SkinType = in.I32();
    skin->Width = in.I32();
    skin->Height = in.I32();
    if (skin->SkinType != SkinType888 && skin->SkinType != SkinType8888)
        throw EMDLFormatError("Skin " + std::to_string(number)
            + " of the MDL5 file has the unknown type " + std::to_string(skin->SkinType)
            + " (4 and 5 are known).");
    if (skin->Width < 0 || skin->Height < 0)
        throw EMDLFormatError("Skin " + std::to_string(number) + " of the MDL5 file has the size "
            + std::to_string(skin->Width) + " x " + std::to_string(skin->Height) + ".");
    // At most 2^31 x 2^31 x 4: no overflow in 64 bits.
    const std::uint64_t size = std::uint64_t(skin->Width) * std::uint64_t(skin->Height)
        * std::uint64_t(TMDLSkin5::BytesPerPixel(skin->SkinType));
    in.Need(size, what + "'s pixels");
    // The skin's byte count is a 32-bit quantity in memory.
    if (size > std::uint64_t(INT32_MAX))
        throw EMDLFormatError(
            "Skin " + std::to_string(number) + " of the MDL5 file is larger than 2 GiB.");
    skin->Data.resize(size);
    in.Bytes(skin->Data.data(), size);
    return skin;
}

} // namespace

void TMDLModel::LoadFromBytes(const std::uint8_t* Data, std::size_t Size)
{
    TByteReader in(Data, Size, RaiseTruncated);
    if (Size < MDLHeaderSize)
        throw EMDLFormatError("Not an MDL5 file: it has " + Text(Size) + " bytes, fewer than the "
            + Text(MDLHeaderSize) + " of the header.");

    TMDLHeader header;
    in.Bytes(header.Ident, sizeof header.Ident);
    if (std::memcmp(header.Ident, Ident, sizeof Ident) != 0)
        throw EMDLFormatError("Not an MDL5 file: it does not start with \"MDL5\".");
    header.Reserved1 = in.I32();
    header.Scale = in.Vec();
    header.Offset = in.Vec();
    header.Reserved2 = in.U32();
    header.Reserved3 = in.Vec();
    header.NumSkins = in.I32();
    header.SkinWidth = in.I32();
    header.SkinHeight = in.I32();
    header.NumVerts = in.I32();
    header.NumTris = in.I32();
    header.NumFrames = in.I32();
    header.NumSkinVerts = in.I32();
    header.Flags = in.I32();
    header.Reserved4 = in.I32();

    CheckCount(header.NumSkins, "NumSkins");
    CheckCount(header.NumVerts, "NumVerts");
    CheckCount(header.NumTris, "NumTris");
    CheckCount(header.NumFrames, "NumFrames");
    CheckCount(header.NumSkinVerts, "NumSkinVerts");
    if (header.NumSkins > MaxSkins)
        throw EMDLFormatError("The MDL5 header counts " + std::to_string(header.NumSkins)
            + " skins; a model has at most 2.");

    // Read into a new model first, so a refused file leaves this one as it was.
    std::unique_ptr<TMDLSkin5> skins[MaxSkins];
    for (std::int32_t i = 0; i < header.NumSkins; ++i)
        skins[i] = ReadSkin(in, i + 1);

    std::unique_ptr<TMDLSkinVerts> skinVerts;
    if (header.NumSkinVerts > 0) {
        in.Need(std::uint64_t(header.NumSkinVerts) * SkinVertSize, "the skin vertices");
        skinVerts = std::make_unique<TMDLSkinVerts>();
        skinVerts->Items.resize(std::size_t(header.NumSkinVerts));
        for (TMDLSkinVert& vert : skinVerts->Items) {
            vert.U = in.U16();
            vert.V = in.U16();
        }
    }

    in.Need(std::uint64_t(header.NumTris) * TriangleSize, "the triangles");
    auto triangles = std::make_unique<TMDLTriangles>();
    triangles->ActivityLog = ActivityLog;
    triangles->Items.resize(std::size_t(header.NumTris));
    triangles->MaterialNames.resize(std::size_t(header.NumTris));
    for (TMDLTriangle& triangle : triangles->Items) {
        for (std::int32_t& index : triangle.VertexIndex)
            index = in.U16();
        for (std::int32_t& index : triangle.UVIndex)
            index = in.U16();
    }

    // What is left must be exactly the frames.
    const std::uint64_t frameSize
        = FrameHeaderSize + PackedVertexSize * std::uint64_t(header.NumVerts);
    if (std::uint64_t(header.NumFrames) > in.Left() / frameSize)
        throw EMDLFormatError("The MDL5 file is truncated: " + std::to_string(header.NumFrames)
            + " frames of " + Text(frameSize) + " bytes need more than the " + Text(in.Left())
            + " bytes left at offset " + Text(in.Position()) + ".");
    const std::uint64_t trailing = in.Left() - std::uint64_t(header.NumFrames) * frameSize;
    if (trailing > 0)
        throw EMDLFormatError(
            "The MDL5 file has " + Text(trailing) + " bytes after its last frame.");
    std::vector<TMDLFrame> frames(std::size_t(header.NumFrames));
    for (std::size_t f = 0; f < frames.size(); ++f) {
        TMDLFrame& frame = frames[f];
        frame.FrameType = in.I32();
        if (frame.FrameType != FrameTypePacked16)
            throw EMDLFormatError("Frame " + Text(f) + " of the MDL5 file has the unknown type "
                + std::to_string(frame.FrameType) + " (2 is known).");
        frame.BBoxMin = ReadPackedVertex(in);
        frame.BBoxMax = ReadPackedVertex(in);
        in.Bytes(frame.Name, FrameNameSize);
        frame.Vertices.resize(std::size_t(header.NumVerts));
        for (TMDLPackedVertex& vertex : frame.Vertices)
            vertex = ReadPackedVertex(in);
    }

    Clear();
    Header = header;
    // A lone type 4 skin is a colour skin; otherwise the texture skin comes first.
    if (header.NumSkins == 1 && skins[0]->SkinType == SkinType888) {
        ColourSkin = std::move(skins[0]);
    } else {
        TextureSkin = std::move(skins[0]);
        ColourSkin = std::move(skins[1]);
    }
    SkinVerts = std::move(skinVerts);
    Triangles = std::move(triangles);
    Frames = std::move(frames);
}

void TMDLModel::LoadFromFile(const std::string& FileName)
{
    std::uint64_t size = 0;
    const TFileDescriptor file = OpenRegularFile(FileName, size);
    if (size > MaxFileSize)
        throw EMDLFormatError("Not an MDL5 model: " + FileName + " has " + Text(size)
            + " bytes, more than any model can hold.");
    std::vector<std::uint8_t> bytes(size);
    // A file that shrank while it was read is parsed as far as it goes.
    const std::int64_t got = ReadAt(file.Get(), bytes.data(), bytes.size(), 0);
    if (got < 0)
        RaiseInOutError(errno, FileName);
    bytes.resize(static_cast<std::size_t>(got));
    LoadFromBytes(bytes.data(), bytes.size());
}
