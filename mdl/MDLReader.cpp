// Reading an MDL5 file back into the model. Every block's size follows from
// the header and the skin types, so each one is checked against the bytes
// that are left before anything is allocated for it.
#include "mdl/MDLClass.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <initializer_list>

#include "mdl/MDLInternal.h"
#include "util/ByteStream.h"
#include "util/FileIO.h"

using namespace MDLDetail;

namespace {

// Far more than any model shows (the converter writes two), and few enough
// that a header cannot make the reader keep millions of empty skins.
constexpr std::int32_t MaxSkins = 4096;
// Far above any model the converter can write (a skin is at most 65535
// pixels on a side and 256 MiB), and small enough to refuse a file that
// could not be a model before reading it into memory.
constexpr std::uint64_t MaxFileSize = std::uint64_t(4) << 30;

std::string Text(std::uint64_t value)
{
    return std::to_string(value);
}

[[noreturn]] void RaiseTruncatedAt(
    std::uint64_t position, std::uint64_t left, std::uint64_t count, std::string_view what)
{
    throw EMDLFormatError("The MDL5 file is truncated: " + std::string(what) + " needs "
        + Text(count) + " bytes at offset " + Text(position) + ", but only " + Text(left)
        + " remain.");
}

[[noreturn]] void RaiseTruncated(
    const TByteReader& reader, std::uint64_t count, std::string_view what)
{
    RaiseTruncatedAt(reader.Position(), reader.Left(), count, what);
}

// The fields of an MDL5 file read from the file at their offsets, a block
// at a time, as TByteReader reads them from memory: what is passed over is
// never read, so a large file costs the fields read, not its size.
class TFileFields
{
public:
    TFileFields(int fd, std::uint64_t size, const std::string& path)
        : FFd(fd)
        , FSize(size)
        , FPath(path)
    {
    }

    std::uint64_t Position() const { return FPos; }
    std::uint64_t Left() const { return FSize - FPos; }
    void Need(std::uint64_t count, std::string_view what = {}) const
    {
        if (count > Left())
            RaiseTruncatedAt(FPos, Left(), count, what);
    }
    std::uint8_t U8() { return *Take(1); }
    std::uint16_t U16() { return GetU16LE(Take(2)); }
    std::uint32_t U32() { return GetU32LE(Take(4)); }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    TVec3 Vec()
    {
        TVec3 v;
        for (float* axis : { &v.X, &v.Y, &v.Z }) {
            const std::uint32_t bits = U32();
            std::memcpy(axis, &bits, sizeof bits);
        }
        return v;
    }
    void Bytes(void* to, std::size_t count)
    {
        if (count > 0)
            std::memcpy(to, Take(count), count);
    }
    void Skip(std::uint64_t count)
    {
        Need(count);
        FPos += count;
    }

private:
    static constexpr std::size_t BlockSize = 64 * 1024;

    // count bytes at the position, read from the file unless the block holds them.
    const std::uint8_t* Take(std::size_t count)
    {
        Need(count);
        if (FPos < FBlockStart || FPos + count > FBlockStart + FBlock.size()) {
            FBlock.resize(std::max<std::size_t>(count, BlockSize));
            const std::size_t wanted
                = static_cast<std::size_t>(std::min<std::uint64_t>(FBlock.size(), Left()));
            const std::int64_t got = ReadAt(FFd, FBlock.data(), wanted, FPos);
            if (got < 0)
                RaiseInOutError(errno, FPath);
            FBlock.resize(static_cast<std::size_t>(got));
            FBlockStart = FPos;
            // A file that shrank while it was read ends where it ends now.
            if (FBlock.size() < count) {
                FSize = FPos + FBlock.size();
                Need(count);
            }
        }
        const std::uint8_t* at = FBlock.data() + (FPos - FBlockStart);
        FPos += count;
        return at;
    }

    int FFd;
    std::uint64_t FSize;
    const std::string& FPath;
    std::uint64_t FPos = 0;
    std::uint64_t FBlockStart = 0;
    std::vector<std::uint8_t> FBlock;
};

void CheckCount(std::int32_t value, const char* field)
{
    if (value < 0)
        throw EMDLFormatError(std::string("The MDL5 header's ") + field + " is negative ("
            + std::to_string(value) + ").");
}

template <typename TIn> TMDLPackedVertex ReadPackedVertex(TIn& in)
{
    TMDLPackedVertex vertex;
    vertex.Coord[0] = in.U16();
    vertex.Coord[1] = in.U16();
    vertex.Coord[2] = in.U16();
    vertex.NormalIndex = in.U8();
    vertex.Pad = in.U8();
    return vertex;
}

// With Whole false the pixels are passed over, and the skin holds none.
template <typename TIn> std::unique_ptr<TMDLSkin5> ReadSkin(TIn& in, int number, bool Whole)
{
    const std::string what = "skin " + std::to_string(number);
    in.Need(SkinHeaderSize, what);
    auto skin = std::make_unique<TMDLSkin5>();
    skin->SkinType = in.I32();
    skin->Width = in.I32();
    skin->Height = in.I32();
    if (!TMDLSkin5::KnownType(skin->SkinType))
        throw EMDLFormatError("Skin " + std::to_string(number)
            + " of the MDL5 file has the unknown type " + std::to_string(skin->SkinType)
            + " (0, 2 to 6 and 10 to 13 are known).");
    // An embedded DDS file keeps its byte count where the width would be;
    // its height field carries nothing and is kept as it is.
    const bool dds = skin->SkinType == SkinTypeDDS;
    if (dds && skin->Width < 0)
        throw EMDLFormatError("Skin " + std::to_string(number)
            + " of the MDL5 file is a DDS file of " + std::to_string(skin->Width) + " bytes.");
    if (!dds && (skin->Width < 0 || skin->Height < 0))
        throw EMDLFormatError("Skin " + std::to_string(number) + " of the MDL5 file has the size "
            + std::to_string(skin->Width) + " x " + std::to_string(skin->Height) + ".");
    const std::uint64_t size = TMDLSkin5::ByteCount(skin->SkinType, skin->Width, skin->Height);
    in.Need(size, what + (dds ? "'s DDS file" : "'s pixels"));
    // The skin's byte count is a 32-bit quantity in memory.
    if (size > std::uint64_t(INT32_MAX))
        throw EMDLFormatError(
            "Skin " + std::to_string(number) + " of the MDL5 file is larger than 2 GiB.");
    if (!Whole) {
        in.Skip(size);
        return skin;
    }
    skin->Data.resize(size);
    in.Bytes(skin->Data.data(), size);
    return skin;
}

// An 8-bit packed vertex: three coordinates and the normal index.
template <typename TIn> TMDLPackedVertex ReadPackedVertex8(TIn& in)
{
    TMDLPackedVertex vertex {};
    vertex.Coord[0] = in.U8();
    vertex.Coord[1] = in.U8();
    vertex.Coord[2] = in.U8();
    vertex.NormalIndex = in.U8();
    return vertex;
}

template <typename TIn>
void ReadFrame(TIn& in, TMDLFrame& frame, std::size_t number, std::int32_t vertices, bool Whole)
{
    // The frame's name for the refusal, made only when there is one: a
    // file may hold millions of frames.
    auto need = [&](std::uint64_t count) {
        if (count > in.Left())
            in.Need(count, "frame " + Text(number));
    };
    need(4);
    frame.FrameType = in.I32();
    const bool small = frame.Packed8();
    const std::uint64_t vertexSize = small ? PackedVertex8Size : PackedVertexSize;
    need((small ? Frame8HeaderSize : FrameHeaderSize) - 4 + vertexSize * std::uint64_t(vertices));
    frame.BBoxMin = small ? ReadPackedVertex8(in) : ReadPackedVertex(in);
    frame.BBoxMax = small ? ReadPackedVertex8(in) : ReadPackedVertex(in);
    in.Bytes(frame.Name, FrameNameSize);
    if (!Whole) {
        in.Skip(vertexSize * std::uint64_t(vertices));
        return;
    }
    frame.Vertices.resize(std::size_t(vertices));
    for (TMDLPackedVertex& vertex : frame.Vertices)
        vertex = small ? ReadPackedVertex8(in) : ReadPackedVertex(in);
}

void CheckFileSize(const std::string& FileName, std::uint64_t size)
{
    if (size > MaxFileSize)
        throw EMDLFormatError("Not an MDL5 model: " + FileName + " has " + Text(size)
            + " bytes, more than any model can hold.");
}

} // namespace

// The whole file (Whole) or what `info` shows of it: the header, the type
// and size of each skin, and the type, box and name of each frame; the rest
// is checked to be there and passed over. Every check is made either way.
template <typename TIn> void TMDLModel::ReadModel(TIn& in, std::uint64_t Size, bool Whole)
{
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
            + " skins; Tarvex reads at most " + std::to_string(MaxSkins) + ".");

    // Read into a new model first, so a refused file leaves this one as it was.
    std::vector<std::unique_ptr<TMDLSkin5>> skins;
    for (std::int32_t i = 0; i < header.NumSkins; ++i)
        skins.push_back(ReadSkin(in, i + 1, Whole));

    std::unique_ptr<TMDLSkinVerts> skinVerts;
    if (header.NumSkinVerts > 0) {
        in.Need(std::uint64_t(header.NumSkinVerts) * SkinVertSize, "the skin vertices");
    }
    if (header.NumSkinVerts > 0 && !Whole) {
        in.Skip(std::uint64_t(header.NumSkinVerts) * SkinVertSize);
    } else if (header.NumSkinVerts > 0) {
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
    if (!Whole)
        in.Skip(std::uint64_t(header.NumTris) * TriangleSize);
    else
        triangles->Items.resize(std::size_t(header.NumTris));
    triangles->MaterialNames.resize(triangles->Items.size());
    for (TMDLTriangle& triangle : triangles->Items) {
        for (std::int32_t& index : triangle.VertexIndex)
            index = in.U16();
        for (std::int32_t& index : triangle.UVIndex)
            index = in.U16();
    }

    // What is left must be exactly the frames; each is at least the size of
    // one of 8-bit coordinates.
    const std::uint64_t leastFrameSize
        = Frame8HeaderSize + PackedVertex8Size * std::uint64_t(header.NumVerts);
    if (std::uint64_t(header.NumFrames) > in.Left() / leastFrameSize)
        throw EMDLFormatError("The MDL5 file is truncated: " + std::to_string(header.NumFrames)
            + " frames of at least " + Text(leastFrameSize) + " bytes need more than the "
            + Text(in.Left()) + " bytes left at offset " + Text(in.Position()) + ".");
    std::vector<TMDLFrame> frames(std::size_t(header.NumFrames));
    for (std::size_t f = 0; f < frames.size(); ++f)
        ReadFrame(in, frames[f], f, header.NumVerts, Whole);
    if (in.Left() > 0)
        throw EMDLFormatError(
            "The MDL5 file has " + Text(in.Left()) + " bytes after its last frame.");

    Clear();
    Header = header;
    // A lone type 4 skin is a colour skin; otherwise the texture skin comes
    // first, the colour skin second, and any others after them.
    if (skins.size() == 1 && skins[0]->SkinType == SkinType888) {
        ColourSkin = std::move(skins[0]);
    } else {
        if (skins.size() > 0)
            TextureSkin = std::move(skins[0]);
        if (skins.size() > 1)
            ColourSkin = std::move(skins[1]);
        for (std::size_t i = 2; i < skins.size(); ++i)
            MoreSkins.push_back(std::move(skins[i]));
    }
    SkinVerts = std::move(skinVerts);
    Triangles = std::move(triangles);
    Frames = std::move(frames);
}

void TMDLModel::LoadFromBytes(const std::uint8_t* Data, std::size_t Size)
{
    TByteReader in(Data, Size, RaiseTruncated);
    ReadModel(in, Size, true);
}

void TMDLModel::LoadLayoutFromFile(const std::string& FileName)
{
    std::uint64_t size = 0;
    const TFileDescriptor file = OpenRegularFile(FileName, size);
    CheckFileSize(FileName, size);
    TFileFields in(file.Get(), size, FileName);
    ReadModel(in, size, false);
}

void TMDLModel::LoadFromFile(const std::string& FileName)
{
    std::uint64_t size = 0;
    const TFileDescriptor file = OpenRegularFile(FileName, size);
    CheckFileSize(FileName, size);
    std::vector<std::uint8_t> bytes(size);
    // A file that shrank while it was read is parsed as far as it goes.
    const std::int64_t got = ReadAt(file.Get(), bytes.data(), bytes.size(), 0);
    if (got < 0)
        RaiseInOutError(errno, FileName);
    bytes.resize(static_cast<std::size_t>(got));
    LoadFromBytes(bytes.data(), bytes.size());
}
