// Building the model from an OBJ model: triangles, skin vertices, the
// skins, the frame names, frame 0 and the header. The skins are made in
// MDLSkin.cpp and MDLColourSkin.cpp, the frames in MDLFrames.cpp.
#include "mdl/MDLClass.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/Bitmap.h"
#include "mdl/MDLInternal.h"
#include "obj/OBJClass.h"
#include "util/TextFile.h"

using namespace MDLDetail;

const char* const SFrameNamesLoaded = "Frame name list loaded.";
const char* const SDefaultFrameNames = "Using default frame name.";

namespace {

// The colour skin's size when there is no atlas to take it from.
constexpr std::int32_t DefaultSkinWidth = 640;
constexpr std::int32_t DefaultSkinHeight = 480;

// One step down from a 1-based index without the overflow of INT32_MIN - 1:
// the result wraps as the file's 16-bit fields would.
std::int32_t ToZeroBased(std::int32_t index)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(index) - 1u);
}

} // namespace

TMDLModel::TMDLModel()
{
    std::memset(&Header, 0, sizeof Header);
}

TMDLModel::~TMDLModel() = default;

void TMDLModel::Log(const std::string& Text)
{
    LogTo(ActivityLog, Text);
}

void TMDLModel::Clear()
{
    FrameNames.clear();
    FFrameNameList.reset();
    std::memset(&Header, 0, sizeof Header);
    TextureSkin.reset();
    ColourSkin.reset();
    MoreSkins.clear();
    SkinVerts.reset();
    Triangles.reset();
    Frames.clear();
}

std::vector<const TMDLSkin5*> TMDLModel::FileSkins() const
{
    // As many of the existing skins as the header counts, texture skin first.
    std::vector<const TMDLSkin5*> skins;
    auto add = [&](const TMDLSkin5* skin) {
        if (skin && std::int64_t(skins.size()) < Header.NumSkins)
            skins.push_back(skin);
    };
    add(TextureSkin.get());
    add(ColourSkin.get());
    for (const auto& skin : MoreSkins)
        add(skin.get());
    return skins;
}

TVec3 TMDLModel::DecodePosition(const TMDLPackedVertex& Vertex) const
{
    // A 16-bit integer times a single is exact in double precision.
    const float scale[3] = { Header.Scale.X, Header.Scale.Y, Header.Scale.Z };
    const float offset[3] = { Header.Offset.X, Header.Offset.Y, Header.Offset.Z };
    float position[3];
    for (int axis = 0; axis < 3; ++axis)
        position[axis] = static_cast<float>(
            double(Vertex.Coord[axis]) * double(scale[axis]) + double(offset[axis]));
    return TVec3 { position[0], position[1], position[2] };
}

void TMDLModel::CheckLimits(const TOBJModel& OBJModel)
{
    static_assert(MDLIndexLimit == PackedMax + 1, "an index limit of 16 bits");
    auto check = [](std::size_t count, const char* what) {
        if (count > std::size_t(MDLIndexLimit))
            throw ERangeError(std::string("Too many ") + what + ": the model has "
                + std::to_string(count) + ", an MDL5 model holds at most "
                + std::to_string(MDLIndexLimit) + ".");
    };
    check(OBJModel.Vertices.size(), "vertices");
    check(OBJModel.UVs.size(), "texture coordinates");
}

void TMDLModel::MakeFromOBJ(const TOBJModel& OBJModel, const std::string& AtlasFileName,
    const std::string& FrameNamesFileName)
{
    if (!FileExists(AtlasFileName)) {
        MakeFromOBJ(OBJModel, nullptr, FrameNamesFileName);
        return;
    }
    TBitmap atlas;
    // Loading keeps the file's own depth; the skin reads any other depth
    // through the colour of each pixel.
    atlas.SetBitsPerPixel(24);
    atlas.LoadBmpFile(AtlasFileName);
    MakeFromOBJ(OBJModel, &atlas, FrameNamesFileName);
}

void TMDLModel::MakeFromOBJ(
    const TOBJModel& OBJModel, TBitmap* Atlas, const std::string& FrameNamesFileName)
{
    Clear();
    const bool atlasPresent = Atlas != nullptr;
    const bool materialsPresent = OBJModel.MaterialCount() > 0;

    Triangles.reset(new TMDLTriangles);
    Triangles->ActivityLog = ActivityLog;
    Triangulate(OBJModel);

    if (atlasPresent) {
        TextureSkin.reset(new TMDLSkin5);
        // An atlas without pixels is saved as an empty file, which reads
        // back as 0 x 0 whatever its sides were.
        if (!Atlas->HasPixels()) {
            Atlas->SetWidth(0);
            Atlas->SetHeight(0);
        }
        TextureSkin->FromBitmap8888(*Atlas);
        Atlas->SetWidth(0); // its pixels are in the skin now
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
    auto add = [this, &OBJModel](const TOBJFace& face, std::uint32_t a, std::uint32_t b) {
        const TOBJCorner* corners[3]
            = { &OBJModel.Corner(face, a), &OBJModel.Corner(face, b), &face.Corners[0] };
        TMDLTriangle triangle;
        for (int k = 0; k < 3; ++k) {
            triangle.VertexIndex[k] = ToZeroBased(corners[k]->Vertex);
            triangle.UVIndex[k] = ToZeroBased(corners[k]->UV);
        }
        Triangles->Items.push_back(triangle);
        Triangles->MaterialNames.push_back(face.MaterialName);
    };
    Triangles->MaterialNameTable = OBJModel.MaterialNameTable;
    Triangles->Items.reserve(static_cast<std::size_t>(std::max(OBJModel.TriangleCount, 0)));
    Triangles->MaterialNames.reserve(Triangles->Items.capacity());
    for (const TOBJFace& face : OBJModel.Faces) {
        // A fan around the first corner, each triangle's corners in reverse
        // order, which turns the OBJ winding into the engine's: a triangle
        // gives (3, 2, 1), a quad (3, 2, 1) and (4, 3, 1).
        for (std::uint32_t k = 2; k < face.CornerCount; ++k)
            add(face, k, k - 1);
    }
}

void TMDLModel::MakeSkinVerts(const TOBJModel& OBJModel)
{
    SkinVerts.reset(new TMDLSkinVerts);
    SkinVerts->Items.reserve(OBJModel.UVs.size());
    for (const TOBJUV& uv : OBJModel.UVs) {
        // A 16-bit integer times a single is exact in extended precision.
        const std::uint16_t across = Low16(std::trunc(uv.RectW * static_cast<Extended>(uv.U)));
        const std::uint16_t down = Low16(std::trunc(uv.RectH * static_cast<Extended>(uv.V)));
        TMDLSkinVert vert;
        vert.U = static_cast<std::uint16_t>(uv.RectX + across);
        // v = 1 is the top row of the texture, v = 0 its bottom edge.
        vert.V = static_cast<std::uint16_t>(uv.RectH - down - uv.RectY);
        SkinVerts->Items.push_back(vert);
    }
}

void TMDLModel::LoadFrameNames(const std::string& FileName)
{
    FrameNames.clear();
    FFrameNameList.reset();
    FFrameNameLines = 0;
    if (!FileExists(FileName)) {
        Log(SDefaultFrameNames);
        return;
    }
    // Opened now, read as frames are added: a list of more lines than
    // there are frames costs only the lines they take.
    try {
        FFrameNameList = std::make_unique<TTextReader>(FileName, '\0');
    } catch (Exception& failure) {
        failure.SetPlace(FileName, 0);
        throw;
    }
    Log(SFrameNamesLoaded);
}

void TMDLModel::ReadFrameNames(std::size_t Count)
{
    if (!FFrameNameList)
        return;
    try {
        // Every line is a name as it stands, blanks and empty lines included.
        std::string_view line;
        while (FrameNames.size() < Count) {
            if (!FFrameNameList->ReadLine(line)) {
                FFrameNameList.reset();
                return;
            }
            ++FFrameNameLines;
            FrameNames.emplace_back(line);
        }
    } catch (Exception& failure) {
        failure.SetPlace(FFrameNameList->Path(), FFrameNameLines + 1);
        FFrameNameList.reset();
        throw;
    }
}

void TMDLModel::FillHeader(const TOBJModel& OBJModel)
{
    std::memset(&Header, 0, sizeof Header);
    std::memcpy(Header.Ident, Ident, sizeof Ident);
    // Fitted frames get their scales and offset once every frame is packed.
    if (!Frames.front().Pending) {
        const float scale[3] = { ModelScale, ModelScale, ModelScale };
        SetScaleAndOffset(scale);
    }
    Header.Reserved3 = Vec3Zero();

    // The counts describe what the file will hold: the skins that exist, in
    // writing order, and the skin vertices that are written.
    Header.NumSkins = (TextureSkin ? 1 : 0) + (ColourSkin ? 1 : 0);
    Header.NumVerts = OBJModel.VertexCount();
    Header.NumTris = Triangles->Count();
    Header.NumFrames = static_cast<std::int32_t>(Frames.size());
    Header.NumSkinVerts = SkinVerts ? SkinVerts->Count() : 0;
}
