#include "app/ModelInfo.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

#include "mdl/MDLClass.h"

namespace {

// The shortest text that reads back as the same single, whatever the locale.
std::string FloatText(float Value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, Value);
    return std::string(text, result.ptr);
}

std::string VecText(const TVec3& Value)
{
    return FloatText(Value.X) + " " + FloatText(Value.Y) + " " + FloatText(Value.Z);
}

std::string Quoted(const std::string& Text)
{
    std::string quoted = "\"";
    for (const char c : Text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string PackedText(const TMDLPackedVertex& Vertex)
{
    return "(" + std::to_string(Vertex.Coord[0]) + ", " + std::to_string(Vertex.Coord[1]) + ", "
        + std::to_string(Vertex.Coord[2]) + ")";
}

// "Name:" padded so that the values line up.
std::string Label(const std::string& Name)
{
    std::string label = Name + ":";
    label.resize(std::max<std::size_t>(label.size() + 1, 15), ' ');
    return label;
}

void Field(std::ostream& Out, const char* Name, const std::string& Value)
{
    Out << Label(Name) << Value << '\n';
}

void Field(std::ostream& Out, const char* Name, std::int64_t Value)
{
    Field(Out, Name, std::to_string(Value));
}

void DescribeSkin(std::ostream& Out, std::size_t Number, const TMDLSkin5& Skin)
{
    Out << Label("Skin " + std::to_string(Number)) << "type " << Skin.SkinType << " ("
        << TMDLSkin5::TypeName(Skin.SkinType) << "), ";
    if (Skin.SkinType != SkinTypeDDS)
        Out << Skin.Width << " x " << Skin.Height << ", ";
    if (TMDLSkin5::HasMipLevels(Skin.SkinType))
        Out << SkinMipLevels << " smaller levels, ";
    Out << TMDLSkin5::ByteCount(Skin.SkinType, Skin.Width, Skin.Height) << " bytes\n";
}

std::string DecodedText(const TMDLModel& Model, const TMDLPackedVertex& Vertex)
{
    const TVec3 position = Model.DecodePosition(Vertex);
    return "(" + FloatText(position.X) + ", " + FloatText(position.Y) + ", " + FloatText(position.Z)
        + ")";
}

} // namespace

void DescribeMDL(
    const TMDLModel& Model, const std::string& FileName, std::uint64_t FileSize, std::ostream& Out)
{
    const TMDLHeader& header = Model.Header;
    Field(Out, "File", FileName + " (" + std::to_string(FileSize) + " bytes)");
    Field(Out, "Ident", Quoted(std::string(header.Ident, sizeof header.Ident)));
    Field(Out, "Reserved1", header.Reserved1);
    Field(Out, "Scale", VecText(header.Scale));
    Field(Out, "Offset", VecText(header.Offset));
    Field(Out, "Reserved2", header.Reserved2);
    Field(Out, "Reserved3", VecText(header.Reserved3));
    Field(Out, "NumSkins", header.NumSkins);
    Field(Out, "SkinWidth", header.SkinWidth);
    Field(Out, "SkinHeight", header.SkinHeight);
    Field(Out, "NumVerts", header.NumVerts);
    Field(Out, "NumTris", header.NumTris);
    Field(Out, "NumFrames", header.NumFrames);
    Field(Out, "NumSkinVerts", header.NumSkinVerts);
    Field(Out, "Flags", header.Flags);
    Field(Out, "Reserved4", header.Reserved4);

    // In file order.
    const std::vector<const TMDLSkin5*> skins = Model.FileSkins();
    for (std::size_t i = 0; i < skins.size(); ++i)
        DescribeSkin(Out, i, *skins[i]);
    for (std::size_t i = 0; i < Model.Frames.size(); ++i) {
        const TMDLFrame& frame = Model.Frames[i];
        Out << Label("Frame " + std::to_string(i)) << Quoted(frame.NameText()) << ", type "
            << frame.FrameType << (frame.Packed8() ? " (8-bit)" : " (16-bit)") << ", "
            << header.NumVerts << " vertices, box " << PackedText(frame.BBoxMin) << " - "
            << PackedText(frame.BBoxMax) << ", decoded " << DecodedText(Model, frame.BBoxMin)
            << " - " << DecodedText(Model, frame.BBoxMax) << '\n';
    }
}
