#include "app/ModelExport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "image/Bitmap.h"
#include "mdl/MDLClass.h"
#include "util/AtomicFile.h"
#include "util/ByteStream.h"
#include "util/Errors.h"
#include "util/FileIO.h"

namespace {

// The scale of an axis whose coordinates the converter packs as they are.
constexpr float UnitScale = 0.01f;
constexpr double PackedHalfRange = 32767.0;
constexpr std::uint32_t PackedMax = 65535;

void Append(std::string& Out, float Value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, Value);
    Out.append(text, result.ptr);
}

void Append(std::string& Out, std::size_t Value)
{
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, Value);
    Out.append(text, result.ptr);
}

void AppendVector(std::string& Out, const char* Keyword, float X, float Y, float Z)
{
    Out += Keyword;
    Out += ' ';
    Append(Out, X);
    Out += ' ';
    Append(Out, Y);
    Out += ' ';
    Append(Out, Z);
    Out += '\n';
}

// The picture size of a DDS file, from its header: "DDS ", the header's
// size, its flags, then the height and the width.
bool DDSPictureSize(const TMDLSkin5& Skin, std::int32_t& Width, std::int32_t& Height)
{
    if (Skin.Data.size() < 20 || std::string(Skin.Data.begin(), Skin.Data.begin() + 4) != "DDS ")
        return false;
    const std::uint32_t height = GetU32LE(Skin.Data.data() + 12);
    const std::uint32_t width = GetU32LE(Skin.Data.data() + 16);
    if (width == 0 || height == 0 || width > 65535 || height > 65535)
        return false;
    Width = static_cast<std::int32_t>(width);
    Height = static_cast<std::int32_t>(height);
    return true;
}

// Kd as the MDL file still shows it: the converter paints its colour skin,
// second after the texture and as large, in the material colours, so the
// pixel at the middle of a triangle holds that triangle's material colour.
// With one material that is the colour; with several, the first triangle's.
std::string MaterialColour(const TMDLModel& Model)
{
    const std::string white = "Kd 1 1 1";
    const std::vector<const TMDLSkin5*> skins = Model.FileSkins();
    if (skins.size() < 2 || skins[0]->SkinType != SkinType8888 || skins[1]->SkinType != SkinType888
        || skins[1]->Width != skins[0]->Width || skins[1]->Height != skins[0]->Height
        || !skins[1]->Decodable() || !Model.Triangles || !Model.SkinVerts)
        return white;
    const TMDLSkin5& colours = *skins[1];
    const std::vector<TMDLSkinVert>& verts = Model.SkinVerts->Items;
    for (const TMDLTriangle& triangle : Model.Triangles->Items) {
        double x = 0;
        double y = 0;
        bool known = true;
        for (const std::int32_t index : triangle.UVIndex) {
            if (index < 0 || std::size_t(index) >= verts.size()) {
                known = false;
                break;
            }
            x += verts[std::size_t(index)].U;
            y += verts[std::size_t(index)].V;
        }
        const auto px = static_cast<std::int64_t>(std::floor(x / 3));
        const auto py = static_cast<std::int64_t>(std::floor(y / 3));
        if (!known || px >= colours.Width || py >= colours.Height)
            continue;
        const std::uint8_t* pixel = colours.Data.data()
            + (std::size_t(py) * std::size_t(colours.Width) + std::size_t(px)) * 3;
        // The converter takes trunc(256 x Kd) of each channel: the middle of
        // the level's interval gives the level back.
        std::string kd = "Kd";
        for (const int channel : { 2, 1, 0 }) {
            kd += ' ';
            Append(kd, static_cast<float>((pixel[channel] + 0.5) / 256.0));
        }
        return kd;
    }
    return white;
}

const char* const MaterialName = "skin";

bool IsWhite(std::uint32_t Colour)
{
    return (Colour & 0xFFFFFF) == 0xFFFFFF;
}

// The converter's atlas of one texture grows each side s by s mod 8 in
// white. Of a side Size, the texture side that grows back to it, dropping
// only white: the longest Size - r with (Size - r) mod 8 = r whose last r
// lines (IsWhite) are all white; Size itself when there is none.
template <typename TIsWhite> std::int32_t TextureSide(std::int32_t Size, TIsWhite IsWhite)
{
    if (Size % 8 == 0)
        return Size;
    std::int32_t white = 0; // lines at the end known to be white
    for (std::int32_t r = 1; r < 8 && r < Size; ++r) {
        if (white < r) {
            if (!IsWhite(Size - r))
                break;
            white = r;
        }
        if ((Size - r) % 8 == r)
            return Size - r;
    }
    return Size;
}

} // namespace

TExportNames TExportNames::For(const std::string& MDLFile, const std::string& OutDir)
{
    TExportNames names;
    if (OutDir.empty())
        names.Dir = FolderPart(MDLFile);
    else
        names.Dir = OutDir.back() == '/' ? OutDir : OutDir + "/";
    std::string name = NamePart(MDLFile);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    std::string base = name;
    std::replace(base.begin(), base.end(), '_', '-');
    // A name of blanks alone would be trimmed away by the conversion.
    if (base.find_first_not_of(" \t") == std::string::npos)
        base = "model";
    names.BaseName = base;
    names.Renamed = base != name;
    return names;
}

std::string TExportNames::FrameFile(std::size_t Frame) const
{
    return Dir + BaseName + "_" + std::to_string(Frame) + ".obj";
}

TModelExport::TModelExport(const TMDLModel& Model, TExportNames Names)
    : FModel(Model)
    , FNames(std::move(Names))
{
    // A scale that is no number, or so large that positions overflow single
    // precision, leaves no coordinate to write.
    const float scale[3] = { Model.Header.Scale.X, Model.Header.Scale.Y, Model.Header.Scale.Z };
    for (int axis = 0; axis < 3; ++axis) {
        if (!std::isfinite(Coordinate(0, scale[axis]))
            || !std::isfinite(Coordinate(PackedMax, scale[axis]))) {
            char value[32];
            std::snprintf(value, sizeof value, "%g", double(scale[axis]));
            throw ERangeError(std::string("The model's scale on the file's ") + "XYZ"[axis]
                + " axis is " + value + ": its positions cannot be written as OBJ coordinates.");
        }
    }
    const std::vector<const TMDLSkin5*> skins = Model.FileSkins();
    FSkin = skins.empty() ? nullptr : skins.front();
    if (FSkin && FSkin->SkinType == SkinTypeDDS) {
        FMaterial = true;
        if (!DDSPictureSize(*FSkin, FSkinWidth, FSkinHeight))
            FSkinWidth = FSkinHeight = 0;
    } else if (FSkin && FSkin->Decodable() && FSkin->Width > 0 && FSkin->Height > 0) {
        FMaterial = true;
        FSkinWidth = FSkin->Width;
        FSkinHeight = FSkin->Height;
        // A picture beyond the image store's limits is refused when the
        // texture is made, before its colours would take four times its size.
        if (std::uint64_t(TBitmap::StrideFor(FSkinWidth, 24)) * std::uint64_t(FSkinHeight)
            <= TBitmap::MaxStoreBytes)
            FColours = FSkin->DecodeColours();
        if (!FColours.empty()) {
            const std::size_t width = std::size_t(FSkinWidth);
            FTextureWidth = TextureSide(FSkinWidth, [&](std::int32_t x) {
                for (std::size_t y = 0; y < std::size_t(FSkinHeight); ++y)
                    if (!IsWhite(FColours[y * width + std::size_t(x)]))
                        return false;
                return true;
            });
            FTextureHeight = TextureSide(FSkinHeight, [&](std::int32_t y) {
                for (std::size_t x = 0; x < width; ++x)
                    if (!IsWhite(FColours[std::size_t(y) * width + x]))
                        return false;
                return true;
            });
        }
    }
    if (FTextureWidth == 0) {
        FTextureWidth = FSkinWidth;
        FTextureHeight = FSkinHeight;
    }
    // A model converted without materials has a white tile as its only
    // skin and every skin vertex at (0, 0): a material would add a skin.
    const auto atOrigin = [](const TMDLSkinVert& vert) { return vert.U == 0 && vert.V == 0; };
    if (skins.size() == 1 && !FColours.empty()
        && std::all_of(FColours.begin(), FColours.end(), IsWhite)
        && (!Model.SkinVerts
            || std::all_of(Model.SkinVerts->Items.begin(), Model.SkinVerts->Items.end(), atOrigin)))
        FMaterial = false;
    FKd = MaterialColour(Model);
    if (Model.Triangles) {
        for (const TMDLTriangle& triangle : Model.Triangles->Items) {
            for (const std::int32_t index : triangle.VertexIndex) {
                if (index < 0 || index >= Model.Header.NumVerts) {
                    ++FSkipped;
                    break;
                }
            }
        }
    }
}

std::vector<std::string> TModelExport::Files() const
{
    std::vector<std::string> files;
    for (std::size_t f = 0; f < FModel.Frames.size(); ++f)
        files.push_back(FNames.FrameFile(f));
    files.push_back(FNames.MTLFile());
    if (DDSSkin() || (FMaterial && FSkin))
        files.push_back(FNames.Dir + FNames.SkinName(DDSSkin() != nullptr));
    files.push_back(FNames.FrameNamesFile());
    return files;
}

const TMDLSkin5* TModelExport::DDSSkin() const
{
    return FSkin && FSkin->SkinType == SkinTypeDDS ? FSkin : nullptr;
}

float TModelExport::Coordinate(std::uint32_t P, float Scale)
{
    const double c
        = double(Scale) / double(UnitScale) * ((double(P) + 0.5) / PackedHalfRange - 1.0);
    // The top of the range, 65534, packs from 1 exactly; the middle of its
    // step lies beyond 1, where the converter would widen the axis's scale.
    if (Scale == UnitScale && P <= 65534 && c > 1.0)
        return 1.0f;
    return static_cast<float>(c);
}

TVec3 TModelExport::Normal(std::uint8_t Index)
{
    if (Index >= MDLNormalCount)
        return TVec3 { 0, 0, 0 };
    // The converter looks up (-z, -x, -y) of an OBJ normal (x, y, z).
    const TVec3& d = MDLNormals[Index];
    return TVec3 { -d.Y, -d.Z, -d.X };
}

float TModelExport::TextureCoordinate(std::int32_t Pixel, std::int32_t Size)
{
    // The converter truncates Size x coordinate toward zero; the middle of
    // the pixel's interval survives single precision on either side of 0.
    const double middle = Pixel >= 0 ? Pixel + 0.5 : Pixel - 0.5;
    return static_cast<float>(middle / std::max<std::int32_t>(Size, 1));
}

std::string TModelExport::FrameOBJ(std::size_t Frame) const
{
    const TMDLFrame& frame = FModel.Frames.at(Frame);
    const TMDLHeader& header = FModel.Header;
    std::string out;
    out.reserve(frame.Vertices.size() * 80);
    out += "# Frame ";
    Append(out, Frame);
    out += " of an MDL5 model, exported by tarvex-cli\n";
    out += "mtllib " + FNames.BaseName + ".mtl\n";

    const float scale[3] = { header.Scale.X, header.Scale.Y, header.Scale.Z };
    for (const TMDLPackedVertex& vertex : frame.Vertices) {
        float c[3];
        for (int axis = 0; axis < 3; ++axis)
            c[axis] = Coordinate(vertex.Coord[axis], scale[axis]);
        AppendVector(out, "v", c[1], c[2], c[0]);
    }
    const std::vector<TMDLSkinVert> none;
    const std::vector<TMDLSkinVert>& verts = FModel.SkinVerts ? FModel.SkinVerts->Items : none;
    for (const TMDLSkinVert& vert : verts) {
        const std::int32_t u = SkinPixel(vert.U, FSkinWidth);
        const std::int32_t v = SkinPixel(vert.V, FSkinHeight);
        out += "vt ";
        Append(out, TextureCoordinate(u, FTextureWidth));
        out += ' ';
        Append(out, TextureCoordinate(FTextureHeight - v, FTextureHeight));
        out += '\n';
    }
    for (const TMDLPackedVertex& vertex : frame.Vertices) {
        const TVec3 n = Normal(vertex.NormalIndex);
        AppendVector(out, "vn", n.X, n.Y, n.Z);
    }

    if (FMaterial)
        out += std::string("usemtl ") + MaterialName + "\n";
    if (!FModel.Triangles)
        return out;
    const auto vertexCount = static_cast<std::size_t>(frame.Vertices.size());
    for (const TMDLTriangle& triangle : FModel.Triangles->Items) {
        bool inside = true;
        for (const std::int32_t index : triangle.VertexIndex)
            inside = inside && index >= 0 && std::size_t(index) < vertexCount;
        if (!inside)
            continue;
        // Stored in the reverse of counter-clockwise order.
        out += 'f';
        for (int k = 2; k >= 0; --k) {
            const std::size_t v = std::size_t(triangle.VertexIndex[k]) + 1;
            const std::int32_t t = triangle.UVIndex[k];
            out += ' ';
            Append(out, v);
            out += '/';
            if (t >= 0 && std::size_t(t) < verts.size())
                Append(out, std::size_t(t) + 1);
            out += '/';
            Append(out, v);
        }
        out += '\n';
    }
    return out;
}

std::string TModelExport::MTL() const
{
    std::string out = "# The material of an MDL5 model, exported by tarvex-cli\n";
    if (!FMaterial)
        return out;
    out += std::string("newmtl ") + MaterialName + "\n" + FKd + "\n";
    out += "map_Kd " + FNames.SkinName(DDSSkin() != nullptr) + "\n";
    return out;
}

std::string TModelExport::FrameNames() const
{
    std::string out;
    for (const TMDLFrame& frame : FModel.Frames) {
        std::string name = frame.NameText();
        // A line break inside a name would end it early and shift the rest.
        std::replace(name.begin(), name.end(), '\r', ' ');
        std::replace(name.begin(), name.end(), '\n', ' ');
        out += name + "\n";
    }
    return out;
}

bool TModelExport::SkinImage(TBitmap& Image) const
{
    if (!FMaterial || DDSSkin())
        return false;
    if (FColours.empty())
        throw EOutOfResources("The first skin, " + std::to_string(FSkinWidth) + " x "
            + std::to_string(FSkinHeight) + " pixels, is too large for a texture of at most "
            + std::to_string(TBitmap::MaxStoreBytes >> 20) + " MiB.");
    Image.SetBitsPerPixel(24);
    Image.SetWidth(FTextureWidth);
    Image.SetHeight(FTextureHeight);
    for (std::int32_t y = 0; y < FTextureHeight; ++y) {
        std::uint8_t* row = Image.RowData(y);
        const std::uint32_t* from = FColours.data() + std::size_t(y) * std::size_t(FSkinWidth);
        for (std::int32_t x = 0; x < FTextureWidth; ++x, row += 3) {
            row[0] = static_cast<std::uint8_t>(from[x]);
            row[1] = static_cast<std::uint8_t>(from[x] >> 8);
            row[2] = static_cast<std::uint8_t>(from[x] >> 16);
        }
    }
    return true;
}

namespace {

void WriteText(const std::string& Path, const std::string& Text)
{
    TAtomicFile file(Path, TLinkRule::Replace);
    file.Write(Text.data(), Text.size());
    file.Commit();
}

} // namespace

std::uint64_t TModelExport::EstimatedBytes() const
{
    std::uint64_t bytes = MTL().size() + FrameNames().size();
    if (!FModel.Frames.empty())
        bytes += std::uint64_t(FrameOBJ(0).size()) * FModel.Frames.size();
    if (const TMDLSkin5* dds = DDSSkin())
        bytes += dds->Data.size();
    else if (FMaterial)
        bytes
            += std::uint64_t(TBitmap::StrideFor(FTextureWidth, 24)) * std::uint64_t(FTextureHeight);
    return bytes;
}

void TModelExport::Write() const
{
    if (!FNames.Dir.empty())
        std::filesystem::create_directories(FNames.Dir);
    // The texture first: a conversion of the files finds everything it
    // names.
    if (const TMDLSkin5* dds = DDSSkin()) {
        TAtomicFile file(FNames.Dir + FNames.SkinName(true), TLinkRule::Replace);
        file.Write(dds->Data.data(), dds->Data.size());
        file.Commit();
    } else {
        TBitmap image;
        if (SkinImage(image))
            image.SaveBmpFile(FNames.Dir + FNames.SkinName(false));
    }
    WriteText(FNames.MTLFile(), MTL());
    WriteText(FNames.FrameNamesFile(), FrameNames());
    for (std::size_t f = 0; f < FModel.Frames.size(); ++f)
        WriteText(FNames.FrameFile(f), FrameOBJ(f));
}
