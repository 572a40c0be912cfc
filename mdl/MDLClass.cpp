#include "mdl/MDLClass.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "image/Bitmap.h"
#include "obj/OBJClass.h"
#include "util/AtomicFile.h"
#include "util/ByteStream.h"
#include "util/TextFile.h"

const char* const SIncorrectSkinFormat = "Incorrect Skin format.";
const char* const STooManyVerts = "WARN: Too many verts.";
const char* const STooManyUVVerts = "WARN: Too many UV verts.";
const char* const SFrameNamesLoaded = "Frame name list loaded.";
const char* const SDefaultFrameNames = "Using default frame name.";

namespace {

using Extended = long double;

constexpr char MDLIdent[4] = { 'M', 'D', 'L', '5' };
constexpr float ModelScale = 0.01f;
// The colour skin's size when there is no atlas to take it from.
constexpr std::int32_t DefaultSkinWidth = 640;
constexpr std::int32_t DefaultSkinHeight = 480;
constexpr int OutlineWidth = 5;
// A packed coordinate spans -1..1 in 2 x 32767 steps.
constexpr Extended PackSteps = 32767.0L;
constexpr std::uint16_t PackedMax = 65535;
constexpr std::uint8_t WhiteLevel = 255;
// The largest colour skin painted in two halves by two threads.
constexpr std::uint64_t MaxSkinBytesInHalves = std::uint64_t(16) << 20;
constexpr std::size_t MinTrianglesInHalves = 2048;

// The low 16 bits of an integer-valued number, as a two's complement integer
// of any width would hold them. Taken with fmod, which is exact, so that no
// value outside an integer type's range is ever converted to one. A value
// that is not finite has no low bits and gives 0.
std::uint16_t Low16(Extended integral)
{
    // The usual values fit a 64-bit integer, whose conversion keeps the
    // same low bits.
    if (integral > -9.0e18L && integral < 9.0e18L)
        return static_cast<std::uint16_t>(static_cast<std::int64_t>(integral));
    if (!std::isfinite(integral))
        return 0;
    Extended rest = std::fmod(integral, 65536.0L);
    if (rest < 0)
        rest += 65536.0L;
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(rest));
}

// One step down from a 1-based index without the overflow of INT32_MIN - 1:
// the result wraps as the file's 16-bit fields would.
std::int32_t ToZeroBased(std::int32_t index)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(index) - 1u);
}

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

} // namespace

// --- Skins ---

std::int32_t TMDLSkin5::BytesPerPixel(std::int32_t SkinType)
{
    return SkinType == SkinType8888 ? 4 : 3;
}

void TMDLSkin5::LoadFromBMP(const std::string& FileName, int FormatCode)
{
    TBitmap bitmap;
    bitmap.SetBitsPerPixel(24);
    // Loading keeps the file's own depth; the conversion below reads any
    // other depth through the colour of each pixel.
    bitmap.LoadBmpFile(FileName);
    if (FormatCode == SkinFormat888)
        FromBitmap888(bitmap);
    else if (FormatCode == SkinFormat8888)
        FromBitmap8888(bitmap);
    else
        throw ERangeError(SIncorrectSkinFormat);
}

void TMDLSkin5::FromBitmap888(const TBitmap& Bitmap)
{
    FromBitmap(Bitmap, SkinType888);
}

void TMDLSkin5::FromBitmap888(TBitmap&& Bitmap)
{
    // A 24-bit store holds blue, green and red, as a type 4 skin does.
    if (Bitmap.BitsPerPixel() != 24 || !Bitmap.HasPixels()) {
        FromBitmap888(static_cast<const TBitmap&>(Bitmap));
        return;
    }
    const std::int32_t width = Bitmap.Width();
    const std::int32_t height = Bitmap.Height();
    Data = Bitmap.TakePackedRows();
    SkinType = SkinType888;
    Width = width;
    Height = height;
}

void TMDLSkin5::FromBitmap8888(const TBitmap& Bitmap)
{
    FromBitmap(Bitmap, SkinType8888);
}

void TMDLSkin5::FromBitmap(const TBitmap& Bitmap, std::int32_t Type)
{
    std::int32_t width = Bitmap.Width();
    std::int32_t height = Bitmap.Height();
    // An image without pixels has a zero side; the other side is kept.
    if (!Bitmap.HasPixels() && width > 0 && height > 0)
        width = height = 0;
    const std::size_t pixelBytes = static_cast<std::size_t>(BytesPerPixel(Type));
    std::vector<std::uint8_t> data(std::size_t(width) * std::size_t(height) * pixelBytes);
    std::uint8_t* out = data.data();
    for (std::int32_t row = 0; row < height; ++row) {
        const std::uint8_t* bytes = Bitmap.BitsPerPixel() == 24 ? Bitmap.RowData(row) : nullptr;
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t blue, green, red;
            if (bytes) {
                blue = bytes[3 * x];
                green = bytes[3 * x + 1];
                red = bytes[3 * x + 2];
            } else {
                // Any other depth goes through the colour of each pixel.
                const TColor colour = Bitmap.PixelColor(x, row);
                red = std::uint8_t(colour);
                green = std::uint8_t(colour >> 8);
                blue = std::uint8_t(colour >> 16);
            }
            *out++ = blue;
            *out++ = green;
            *out++ = red;
            if (Type == SkinType8888) {
                const bool white = blue == WhiteLevel && green == WhiteLevel && red == WhiteLevel;
                *out++ = white ? 255 : 0;
            }
        }
    }
    SkinType = Type;
    Width = width;
    Height = height;
    Data = std::move(data);
}

void TMDLSkin5::WriteTo(TByteWriter& Out) const
{
    Out.I32(SkinType);
    Out.I32(Width);
    Out.I32(Height);
    Out.Bytes(Data.data(), Data.size());
}

// --- Skin vertices, triangles, frames ---

void TMDLSkinVerts::WriteTo(TByteWriter& Out) const
{
    WriteRecords<4>(Out, Items, [](const TMDLSkinVert& vert, std::uint8_t* record) {
        PutU16LE(record, vert.U);
        PutU16LE(record + 2, vert.V);
    });
}

void TMDLTriangles::Log(const std::string& Text)
{
    if (ActivityLog)
        ActivityLog->AddLine(Text);
}

void TMDLTriangles::WriteTo(TByteWriter& Out)
{
    WriteRecords<12>(Out, Items, [this](const TMDLTriangle& triangle, std::uint8_t* record) {
        for (int k = 0; k < 3; ++k) {
            PutU16LE(record + 2 * k, static_cast<std::uint16_t>(triangle.VertexIndex[k]));
            PutU16LE(record + 6 + 2 * k, static_cast<std::uint16_t>(triangle.UVIndex[k]));
        }
        for (std::int32_t index : triangle.VertexIndex) {
            if (static_cast<std::uint32_t>(index) > PackedMax)
                Log(STooManyVerts);
        }
        for (std::int32_t index : triangle.UVIndex) {
            if (static_cast<std::uint32_t>(index) > PackedMax)
                Log(STooManyUVVerts);
        }
    });
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

void TMDLFrame::WriteTo(TByteWriter& Out) const
{
    Out.I32(FrameType);
    for (const TMDLPackedVertex* box : { &BBoxMin, &BBoxMax }) {
        std::uint8_t record[8];
        PackVertex(*box, record);
        Out.Bytes(record, sizeof record);
    }
    Out.Bytes(Name, FrameNameSize);
    WriteRecords<8>(Out, Vertices, PackVertex);
}

// --- The model ---

TMDLModel::TMDLModel()
{
    std::memset(&Header, 0, sizeof Header);
}

TMDLModel::~TMDLModel() = default;

void TMDLModel::Log(const std::string& Text)
{
    if (ActivityLog)
        ActivityLog->AddLine(Text);
}

void TMDLModel::Clear()
{
    FrameNames.clear();
    std::memset(&Header, 0, sizeof Header);
    TextureSkin.reset();
    ColourSkin.reset();
    SkinVerts.reset();
    Triangles.reset();
    Frames.clear();
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
    // Converting to an integer truncates toward zero; only products that fit
    // take that short way.
    constexpr Extended Limit = 9.0e18L;
    if (product > -Limit && product < Limit)
        return static_cast<std::uint16_t>(static_cast<std::int64_t>(product));
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
    for (std::size_t i = 0; i < count; ++i) {
        TMDLPackedVertex& vertex = frame.Vertices[i];
        // A vertex without a normal at its own position counts as having a
        // zero normal.
        const TVec3 normal = i < OBJModel.Normals.size() ? OBJModel.Normals[i] : Vec3Zero();
        EncodeVertex(OBJModel.Vertices[i], normal, vertex);
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
    if (FrameNames.size() > number)
        frame.SetName(FrameNames[number]);
    else
        frame.SetName("frame" + std::to_string(number));
    Frames.push_back(std::move(frame));
    Header.NumFrames = static_cast<std::int32_t>(Frames.size());
}

void TMDLModel::MakeFromOBJ(
    const TOBJModel& OBJModel, const std::string& AtlasFileName, const std::string& FrameNamesFileName)
{
    Clear();
    const bool atlasPresent = FileExists(AtlasFileName);
    const bool materialsPresent = OBJModel.MaterialCount() > 0;

    Triangles.reset(new TMDLTriangles);
    Triangles->ActivityLog = ActivityLog;
    Triangulate(OBJModel);

    if (atlasPresent) {
        TextureSkin.reset(new TMDLSkin5);
        TextureSkin->LoadFromBMP(AtlasFileName, SkinFormat8888);
    }
    std::int32_t skinWidth = 0;
    std::int32_t skinHeight = 0;
    if (materialsPresent || atlasPresent) {
        skinWidth = atlasPresent ? TextureSkin->Width : DefaultSkinWidth;
        skinHeight = atlasPresent ? TextureSkin->Height : DefaultSkinHeight;
        MakeSkinVerts(OBJModel);
    }
    if (materialsPresent)
        PaintColourSkin(OBJModel, skinWidth, skinHeight);

    LoadFrameNames(FrameNamesFileName);
    AddFrame(OBJModel);
    FillHeader(OBJModel);
    Log("MDL status:" + std::to_string(OBJModel.VertexCount()) + "Verts,"
        + std::to_string(OBJModel.TriangleCount) + "Faces," + std::to_string(OBJModel.UVCount())
        + "UV Verts");
}

void TMDLModel::Triangulate(const TOBJModel& OBJModel)
{
    auto add = [this](const TOBJFace& face, int a, int b, int c) {
        const TOBJCorner* corners[3] = { &face.Corners[a], &face.Corners[b], &face.Corners[c] };
        TMDLTriangle triangle;
        for (int k = 0; k < 3; ++k) {
            triangle.VertexIndex[k] = ToZeroBased(corners[k]->Vertex);
            triangle.UVIndex[k] = ToZeroBased(corners[k]->UV);
        }
        Triangles->Items.push_back(triangle);
        Triangles->MaterialNames.push_back(face.MaterialName);
    };
    Triangles->Items.reserve(static_cast<std::size_t>(std::max(OBJModel.TriangleCount, 0)));
    Triangles->MaterialNames.reserve(Triangles->Items.capacity());
    for (const TOBJFace& face : OBJModel.Faces) {
        // The corners in reverse order turn the OBJ winding into the engine's.
        if (face.CornerCount == 3) {
            add(face, 2, 1, 0);
        } else if (face.CornerCount == 4) {
            add(face, 2, 1, 0);
            add(face, 3, 2, 0);
        }
    }
}

void TMDLModel::MakeSkinVerts(const TOBJModel& OBJModel)
{
    SkinVerts.reset(new TMDLSkinVerts);
    SkinVerts->Items.reserve(OBJModel.UVs.size());
    for (const TOBJUV& uv : OBJModel.UVs) {
        // A 16-bit integer times a single is exact in extended precision.
        const std::uint16_t across = Low16(std::trunc(uv.Rect.W * static_cast<Extended>(uv.U)));
        const std::uint16_t down = Low16(std::trunc(uv.Rect.H * static_cast<Extended>(uv.V)));
        TMDLSkinVert vert;
        vert.U = static_cast<std::uint16_t>(uv.Rect.X + across);
        // v = 1 is the top row of the texture, v = 0 its bottom edge.
        vert.V = static_cast<std::uint16_t>(uv.Rect.H - down - uv.Rect.Y);
        SkinVerts->Items.push_back(vert);
    }
}

void TMDLModel::PaintColourSkin(const TOBJModel& OBJModel, std::int32_t Width, std::int32_t Height)
{
    // The first material of each name is the one that counts.
    std::unordered_map<std::string, TColor> colours;
    for (const TOBJMaterial& material : OBJModel.Materials)
        colours.emplace(material.Name, VecToColor(material.Kd));

    // Paints the Rows rows of the skin from row Top down on Band, whose row 0
    // is the skin's row Top. What a pixel gets depends only on differences
    // of coordinates, so every triangle, moved up by Top, paints on the band
    // exactly what it paints on those rows of the whole skin.
    auto paint = [&](TBitmap& band, std::int32_t top, std::int32_t rows) {
        band.SetBitsPerPixel(24);
        band.SetWidth(Width);
        band.SetHeight(rows);
        TCanvas& canvas = band.Canvas();
        canvas.Brush.Color = clWhite;
        canvas.Brush.Style = bsSolid;
        canvas.Pen.Style = psSolid;
        canvas.Pen.SetWidth(OutlineWidth);
        canvas.FillRect(TRect { 0, 0, Width, rows });

        const std::vector<TMDLSkinVert>& verts = SkinVerts->Items;
        const TColor* runColour = nullptr;
        for (std::size_t i = 0; i < Triangles->Items.size(); ++i) {
            const TMDLTriangle& triangle = Triangles->Items[i];
            // A material that is not found leaves the colours of the last
            // one that was. Triangles come in runs of one material: a name
            // is looked up once per run.
            const std::string& name = Triangles->MaterialNames[i];
            if (i == 0 || name != Triangles->MaterialNames[i - 1]) {
                const auto found = colours.find(name);
                runColour = found != colours.end() ? &found->second : nullptr;
            }
            if (runColour) {
                canvas.Pen.Color = *runColour;
                canvas.Brush.Color = *runColour;
            }
            TPoint points[3];
            bool onSkin = true;
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t index = static_cast<std::uint32_t>(triangle.UVIndex[k]);
                if (index >= verts.size()) {
                    onSkin = false;
                    break;
                }
                points[k] = TPoint { verts[index].U, verts[index].V - top };
            }
            // A corner without a skin vertex has no place on the skin.
            if (onSkin)
                canvas.Polygon(points, 3);
        }
    };

    ColourSkin.reset(new TMDLSkin5);
    // The upper and the lower half are painted side by side by two threads.
    // A very large skin is painted whole: its halves would briefly be held
    // twice when they are joined. So are a few triangles, quicker painted
    // than a thread is started.
    const std::int32_t upperRows = Height / 2;
    const bool halves = PaintInParallel && upperRows > 0 && Width > 0
        && Triangles->Items.size() >= MinTrianglesInHalves
        && std::uint64_t(Width) * std::uint64_t(Height) * 3 <= MaxSkinBytesInHalves
        && std::thread::hardware_concurrency() >= 2;
    auto paintWhole = [&] {
        TBitmap bitmap;
        paint(bitmap, 0, Height);
        ColourSkin->FromBitmap888(std::move(bitmap));
    };
    if (!halves) {
        paintWhole();
        return;
    }
    TBitmap upper, lower;
    std::exception_ptr lowerFailure;
    std::thread lowerThread;
    try {
        lowerThread = std::thread([&] {
            try {
                paint(lower, upperRows, Height - upperRows);
            } catch (...) {
                lowerFailure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        paintWhole(); // no second thread to be had
        return;
    }
    try {
        paint(upper, 0, upperRows);
    } catch (...) {
        lowerThread.join();
        throw;
    }
    lowerThread.join();
    if (lowerFailure)
        std::rethrow_exception(lowerFailure);
    // Packed rows from the top, as a type 4 skin holds them.
    std::vector<std::uint8_t> rows = upper.TakePackedRows();
    const std::vector<std::uint8_t> lowerRows = lower.TakePackedRows();
    rows.insert(rows.end(), lowerRows.begin(), lowerRows.end());
    ColourSkin->SkinType = SkinType888;
    ColourSkin->Width = Width;
    ColourSkin->Height = Height;
    ColourSkin->Data = std::move(rows);
}

void TMDLModel::LoadFrameNames(const std::string& FileName)
{
    FrameNames.clear();
    if (!FileExists(FileName)) {
        Log(SDefaultFrameNames);
        return;
    }
    // Every line is a name as it stands, blanks and empty lines included.
    TTextReader reader(FileName, '\0');
    std::string_view line;
    while (reader.ReadLine(line))
        FrameNames.emplace_back(line);
    Log(SFrameNamesLoaded);
}

void TMDLModel::FillHeader(const TOBJModel& OBJModel)
{
    std::memset(&Header, 0, sizeof Header);
    std::memcpy(Header.Ident, MDLIdent, sizeof MDLIdent);
    Header.Scale = Vec3(ModelScale, ModelScale, ModelScale);

    // Minus the centre of frame 0's box, so the model sits around the origin.
    const TMDLFrame& first = Frames.front();
    float centre[3];
    for (int axis = 0; axis < 3; ++axis) {
        const std::int32_t max = first.BBoxMax.Coord[axis];
        const std::int32_t min = first.BBoxMin.Coord[axis];
        const std::int32_t extent = max - min;
        centre[axis] = static_cast<float>(-(max - extent / 2.0));
    }
    Header.Offset = VecScale(Vec3(centre[0], centre[1], centre[2]), static_cast<double>(ModelScale));
    Header.Reserved3 = Vec3Zero();

    // The counts describe what the file will hold: the skins that exist, in
    // writing order, and the skin vertices that are written.
    Header.NumSkins = (TextureSkin ? 1 : 0) + (ColourSkin ? 1 : 0);
    Header.NumVerts = OBJModel.VertexCount();
    Header.NumTris = Triangles->Count();
    Header.NumFrames = static_cast<std::int32_t>(Frames.size());
    Header.NumSkinVerts = SkinVerts ? SkinVerts->Count() : 0;
}

// --- Writing ---

void TMDLModel::WriteTo(TByteWriter& Out)
{
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

    // As many of the existing skins as the header counts, texture skin first.
    std::int32_t skinsLeft = Header.NumSkins;
    for (const TMDLSkin5* skin : { TextureSkin.get(), ColourSkin.get() }) {
        if (skin && skinsLeft > 0) {
            skin->WriteTo(Out);
            --skinsLeft;
        }
    }
    if (SkinVerts && SkinVerts->Count() > 0)
        SkinVerts->WriteTo(Out);
    if (Triangles)
        Triangles->WriteTo(Out);
    for (const TMDLFrame& frame : Frames)
        frame.WriteTo(Out);
}

void TMDLModel::SaveToFile(const std::string& FileName)
{
    TAtomicFile file(FileName);
    TByteWriter out(WriteSink, &file);
    WriteTo(out);
    out.Flush();
    file.Commit();
}

std::vector<std::uint8_t> TMDLModel::SaveToBytes()
{
    TByteWriter out;
    WriteTo(out);
    return out.Buffer();
}
