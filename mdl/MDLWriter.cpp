// Writing the model as an MDL5 file, block after block in file order. The
// header goes out as it stands; the blocks follow from the sections that
// exist, so a model whose header disagrees with them is written all the same.
#include "mdl/MDLClass.h"

#include "mdl/MDLInternal.h"
#include "util/AtomicFile.h"
#include "util/ByteStream.h"

using namespace MDLDetail;

const char* const STooManyVerts = "WARN: Too many verts.";
const char* const STooManyUVVerts = "WARN: Too many UV verts.";

namespace {

void WriteSink(void* context, const std::uint8_t* data, std::size_t size)
{
    static_cast<TAtomicFile*>(context)->Write(data, size);
}

void PackVertex(const TMDLPackedVertex& vertex, std::uint8_t* record)
{
    PutU16LE(record, vertex.Coord[0]);
    PutU16LE(record + 2, vertex.Coord[1]);
    PutU16LE(record + 4, vertex.Coord[2]);
    record[6] = vertex.NormalIndex;
    record[7] = vertex.Pad;
}

void PackVertex8(const TMDLPackedVertex& vertex, std::uint8_t* record)
{
    for (int k = 0; k < 3; ++k)
        record[k] = static_cast<std::uint8_t>(vertex.Coord[k]);
    record[3] = vertex.NormalIndex;
}

} // namespace

void TMDLSkin5::WriteTo(TByteWriter& Out) const
{
    Out.I32(SkinType);
    Out.I32(Width);
    Out.I32(Height);
    Out.Bytes(Data.data(), Data.size());
}

void TMDLSkinVerts::WriteTo(TByteWriter& Out) const
{
    WriteRecords<SkinVertSize>(Out, Items, [](const TMDLSkinVert& vert, std::uint8_t* record) {
        PutU16LE(record, vert.U);
        PutU16LE(record + 2, vert.V);
    });
}

void TMDLTriangles::Log(const std::string& Text)
{
    LogTo(ActivityLog, Text);
}

void TMDLTriangles::WriteTo(TByteWriter& Out)
{
    // One line says all there is to say; a model of a million bad indices
    // would otherwise bury the log under a million lines.
    bool vertsWarned = false;
    bool uvsWarned = false;
    auto warnOnce = [this](const std::int32_t(&indices)[3], bool& warned, const char* text) {
        for (std::int32_t index : indices) {
            if (!warned && static_cast<std::uint32_t>(index) > PackedMax) {
                Log(text);
                warned = true;
            }
        }
    };
    WriteRecords<TriangleSize>(Out, Items, [&](const TMDLTriangle& triangle, std::uint8_t* record) {
        for (int k = 0; k < 3; ++k) {
            PutU16LE(record + 2 * k, static_cast<std::uint16_t>(triangle.VertexIndex[k]));
            PutU16LE(record + 6 + 2 * k, static_cast<std::uint16_t>(triangle.UVIndex[k]));
        }
        warnOnce(triangle.VertexIndex, vertsWarned, STooManyVerts);
        warnOnce(triangle.UVIndex, uvsWarned, STooManyUVVerts);
    });
}

void TMDLFrame::WriteTo(TByteWriter& Out) const
{
    Out.I32(FrameType);
    // A frame of 8-bit coordinates, as read from a file, keeps the low
    // 8 bits of each and no pad byte.
    const bool small = Packed8();
    for (const TMDLPackedVertex* box : { &BBoxMin, &BBoxMax }) {
        std::uint8_t record[PackedVertexSize];
        (small ? PackVertex8 : PackVertex)(*box, record);
        Out.Bytes(record, small ? PackedVertex8Size : PackedVertexSize);
    }
    Out.Bytes(Name, FrameNameSize);
    if (small)
        WriteRecords<PackedVertex8Size>(Out, Vertices, PackVertex8);
    else
        WriteRecords<PackedVertexSize>(Out, Vertices, PackVertex);
}

void TMDLModel::WriteTo(TByteWriter& Out)
{
    FitFrames();
    // Header fields in file order.
    Out.Bytes(Header.Ident, sizeof Header.Ident);
    Out.I32(Header.Reserved1);
    Out.Vec(Header.Scale);
    Out.Vec(Header.Offset);
    Out.U32(Header.Reserved2);
    Out.Vec(Header.Reserved3);
    Out.I32(Header.NumSkins);
    Out.I32(Header.SkinWidth);
    Out.I32(Header.SkinHeight);
    Out.I32(Header.NumVerts);
    Out.I32(Header.NumTris);
    Out.I32(Header.NumFrames);
    Out.I32(Header.NumSkinVerts);
    Out.I32(Header.Flags);
    Out.I32(Header.Reserved4);

    for (const TMDLSkin5* skin : FileSkins())
        skin->WriteTo(Out);
    if (SkinVerts && SkinVerts->Count() > 0)
        SkinVerts->WriteTo(Out);
    if (Triangles)
        Triangles->WriteTo(Out);
    for (const TMDLFrame& frame : Frames)
        frame.WriteTo(Out);
}

void TMDLModel::SaveToFile(const std::string& FileName, TLinkRule Links)
{
    TAtomicFile file(FileName, Links);
    TByteWriter out(WriteSink, &file);
    WriteTo(out);
    out.Flush();
    file.Commit();
}

std::vector<std::uint8_t> TMDLModel::SaveToBytes()
{
    TByteWriter out;
    WriteTo(out);
    return out.TakeBuffer();
}
