// The MDL5 model in memory: its sections, the encoding of frames
// (MDLFrames.cpp, with the normal table and search in MDLNormalTable.cpp and
// MDLNormals.cpp), the skins (MDLSkin.cpp, MDLColourSkin.cpp), the assembly
// from an OBJ model (MDLModel.cpp), and the MDL5 file writer and reader
// (MDLWriter.cpp, MDLReader.cpp).
//
// An MDL5 file is the following blocks back to back, little-endian, with no
// gaps: the 84-byte header; the skins (type, width, height, pixels); the
// skin vertices (U, V as 16 bits each); the triangles (three vertex and three
// skin-vertex indices, 16 bits each); the frames (type, packed box, 16-byte
// name, packed vertices). The converter writes at most two skins, of types 5
// and 4, and frames of 16-bit coordinates; the engine's own tools write the
// other skin types and frames of 8-bit coordinates as well, and the reader
// takes all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/Activity.h"
#include "util/AtomicFile.h"
#include "util/ByteStream.h"
#include "util/Errors.h"
#include "util/NameTable.h"
#include "util/Vector.h"

class TBitmap;
class TOBJModel;
class TTextReader;

// Raised by LoadFromBMP for a format code other than 888 or 8888.
extern const char* const SIncorrectSkinFormat; // "Incorrect Skin format."
extern const char* const STooManyVerts; // "WARN: Too many verts."
extern const char* const STooManyUVVerts; // "WARN: Too many UV verts."
extern const char* const SFrameNamesLoaded; // "Frame name list loaded."
extern const char* const SDefaultFrameNames; // "Using default frame name."

// A file the MDL5 reader refuses; the message says what is wrong in English.
class EMDLFormatError : public Exception
{
public:
    using Exception::Exception;
};

constexpr int MDLNormalCount = 162;
// The unit directions a packed vertex's NormalIndex refers to.
extern const TVec3 MDLNormals[MDLNormalCount];
// The normal index by its definition: 0 for a normal without length,
// otherwise the first entry, in table order, whose cosine with the normal is
// greater than that of every earlier entry and than 0. EncodeVertex gives
// the same index faster; the tests and benchmarks hold it to this one.
std::uint8_t PlainNormalIndex(const TVec3& Normal);
// The same index by a faster route, the one EncodeVertex takes.
std::uint8_t NearestNormalIndex(const TVec3& Normal);

// Skin pixel formats.
constexpr std::int32_t SkinTypeIndexed = 0; // palette indices; no palette in the file
constexpr std::int32_t SkinType565 = 2; // 16 bits: red in the high 5, green 6, blue 5
constexpr std::int32_t SkinType4444 = 3; // 16 bits: alpha, red, green, blue from the top
constexpr std::int32_t SkinType888 = 4; // blue, green, red
constexpr std::int32_t SkinType8888 = 5; // blue, green, red, alpha
constexpr std::int32_t SkinTypeDDS = 6; // a DDS file; Width holds its byte count
// Added to types 2 to 5: three smaller levels, each a quarter of the one
// before, follow the pixels.
constexpr std::int32_t SkinMipLevelsFlag = 8;
constexpr int SkinMipLevels = 3;
// Format codes of LoadFromBMP.
constexpr int SkinFormat888 = 888;
constexpr int SkinFormat8888 = 8888;

// Triangles address vertices and skin vertices by 16-bit indices, so a
// model holds at most this many of each.
constexpr std::int32_t MDLIndexLimit = 65536;

// Frames of type 0 hold 8-bit coordinates, 4 bytes a vertex; any other type
// 16-bit ones, 8 bytes a vertex. The converter writes type 2.
constexpr std::int32_t FrameTypePacked8 = 0;
constexpr std::int32_t FrameTypePacked16 = 2;
constexpr std::size_t MDLHeaderSize = 84;
constexpr std::size_t FrameNameSize = 16;

struct TMDLHeader
{
    char Ident[4];
    std::int32_t Reserved1;
    TVec3 Scale;
    TVec3 Offset;
    std::uint32_t Reserved2;
    TVec3 Reserved3;
    std::int32_t NumSkins;
    std::int32_t SkinWidth;
    std::int32_t SkinHeight;
    std::int32_t NumVerts;
    std::int32_t NumTris;
    std::int32_t NumFrames;
    std::int32_t NumSkinVerts;
    std::int32_t Flags;
    std::int32_t Reserved4;
};

struct TMDLPackedVertex
{
    // File axes X, Y, Z: the OBJ z, x and y coordinates.
    std::uint16_t Coord[3];
    std::uint8_t NormalIndex;
    std::uint8_t Pad;
};

struct TMDLSkinVert
{
    // Pixel coordinates. The converter means them unsigned (a skin may be
    // up to 65535 pixels wide); a file may mean them signed, reaching left
    // of or above the skin.
    std::uint16_t U;
    std::uint16_t V;

    std::int16_t SignedU() const { return static_cast<std::int16_t>(U); }
    std::int16_t SignedV() const { return static_cast<std::int16_t>(V); }
};

// The pixel a stored 16-bit skin coordinate stands for on a side of Size
// pixels: the unsigned value, unless it has its top bit set and lies beyond
// the side, where a signed reading (left of or above the skin) is meant.
std::int32_t SkinPixel(std::uint16_t Value, std::int32_t Size);

struct TMDLTriangle
{
    // 0-based; only the low 16 bits reach the file.
    std::int32_t VertexIndex[3];
    std::int32_t UVIndex[3];
};

class TMDLSkin5
{
public:
    std::int32_t SkinType = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    // Rows from the top, Width pixels each, no padding, then the smaller
    // levels when the type has them; a DDS skin's file as it is.
    std::vector<std::uint8_t> Data;

    std::int32_t Size() const { return static_cast<std::int32_t>(Data.size()); }
    // Of the first level's pixels; 0 for a DDS skin.
    static std::int32_t BytesPerPixel(std::int32_t SkinType);
    // Whether the reader knows the type: 0, 2 to 6, 10 to 13.
    static bool KnownType(std::int32_t SkinType);
    // The type without its mip-level flag.
    static std::int32_t PixelType(std::int32_t SkinType);
    static bool HasMipLevels(std::int32_t SkinType);
    // The bytes a skin of a known type and these dimensions (none negative)
    // holds in the file, every level included; for a DDS skin, Width. Far
    // beyond any file, it is saturated rather than wrapped.
    static std::uint64_t ByteCount(std::int32_t SkinType, std::int32_t Width, std::int32_t Height);
    // What the pixels are, in a few words ("16-bit 5-6-5"); empty for an
    // unknown type.
    static const char* TypeName(std::int32_t SkinType);
    // Whether the pixels can be shown: every known type but DDS, with the
    // bytes of at least its first level.
    bool Decodable() const;
    // The first level as 0xAARRGGBB, rows from the top. A type without alpha
    // gives 255; palette indices give grey levels, since the file keeps no
    // palette. Empty when not Decodable.
    std::vector<std::uint32_t> DecodeColours() const;

    // Loads a BMP file (any depth, read as 24 bits) and converts it: code 888
    // gives a type 4 skin, 8888 a type 5 one. On any failure the skin keeps
    // what it held.
    void LoadFromBMP(const std::string& FileName, int FormatCode);
    // Type 4, three bytes per pixel.
    void FromBitmap888(const TBitmap& Bitmap);
    // The same, taking over the pixels of a 24-bit image, which is left
    // without pixels: a large skin is then never held twice.
    void FromBitmap888(TBitmap&& Bitmap);
    // Type 5: alpha 255 for pure white, 0 for every other colour.
    void FromBitmap8888(const TBitmap& Bitmap);
    void WriteTo(TByteWriter& Out) const;

private:
    void FromBitmap(const TBitmap& Bitmap, std::int32_t Type);
};

class TMDLSkinVerts
{
public:
    std::vector<TMDLSkinVert> Items;

    std::int32_t Count() const { return static_cast<std::int32_t>(Items.size()); }
    void WriteTo(TByteWriter& Out) const;
};

class TMDLTriangles
{
public:
    std::vector<TMDLTriangle> Items;
    TActivityLog* ActivityLog = nullptr;
    // One per triangle: the material whose colour paints it on the colour
    // skin, as its number in MaterialNameTable (0, the empty name, for none).
    std::vector<std::uint32_t> MaterialNames;
    TNameTable MaterialNameTable;

    std::int32_t Count() const { return static_cast<std::int32_t>(Items.size()); }
    void Log(const std::string& Text);
    // Writes every index as its low 16 bits. The first vertex index and the
    // first skin-vertex index that do not fit (a negative one included) log
    // their warning, once each per call, where they are met.
    void WriteTo(TByteWriter& Out);
};

class TMDLFrame
{
public:
    std::int32_t FrameType = FrameTypePacked16;
    TMDLPackedVertex BBoxMin {};
    TMDLPackedVertex BBoxMax {};
    // NUL-terminated, zero-filled.
    char Name[FrameNameSize] {};
    // In a frame of 8-bit coordinates each Coord holds 0 to 255 and Pad is 0.
    std::vector<TMDLPackedVertex> Vertices;
    // A fitted frame, until the model's range is known, keeps its positions
    // as read (OBJ axes) and its normal indices instead of Vertices.
    bool Pending = false;
    std::vector<TVec3> Positions;
    std::vector<std::uint8_t> NormalIndices;

    // The box of the packed vertices, one unit wider on each side where the
    // range allows.
    void SetBox();
    bool Packed8() const { return FrameType == FrameTypePacked8; }
    std::int32_t Count() const { return static_cast<std::int32_t>(Vertices.size()); }
    // The number of vertices, packed or still pending.
    std::size_t VertexCount() const { return Pending ? Positions.size() : Vertices.size(); }
    // The name up to its terminator (all 16 bytes when there is none).
    std::string NameText() const;
    // Keeps the first 15 bytes of a longer name.
    void SetName(const std::string& Text);
    void WriteTo(TByteWriter& Out) const;
};

class TMDLModel
{
public:
    TMDLModel();
    virtual ~TMDLModel();
    TMDLModel(const TMDLModel&) = delete;
    TMDLModel& operator=(const TMDLModel&) = delete;

    // Borrowed, never released; unset means "do nothing".
    TActivityLog* ActivityLog = nullptr;
    // One name per line of the frame-name list, read as far as frames are
    // added (the list is read on as AddFrame needs a name); empty before
    // the first build.
    std::vector<std::string> FrameNames;
    TMDLHeader Header;
    std::unique_ptr<TMDLSkin5> TextureSkin;
    std::unique_ptr<TMDLSkin5> ColourSkin;
    // The skins after the second, in file order: only read from files the
    // converter did not write.
    std::vector<std::unique_ptr<TMDLSkin5>> MoreSkins;
    std::unique_ptr<TMDLSkinVerts> SkinVerts;
    std::unique_ptr<TMDLTriangles> Triangles;
    std::vector<TMDLFrame> Frames;

    void Log(const std::string& Text);

    // The skins the writer writes, in file order: as many of the existing
    // ones as the header counts.
    std::vector<const TMDLSkin5*> FileSkins() const;
    // A packed vertex's position, packed x Scale + Offset per file axis: the
    // exact product and the sum in double precision, then single; the same
    // on every machine.
    TVec3 DecodePosition(const TMDLPackedVertex& Vertex) const;

    // Raises ERangeError when the OBJ model has more vertices or texture
    // coordinates than MDLIndexLimit, saying the count and the limit. The
    // conversion asks before it writes anything; MakeFromOBJ does not ask.
    static void CheckLimits(const TOBJModel& OBJModel);
    // Replaces the whole model with one built from the OBJ model: triangles,
    // the atlas as texture skin, skin vertices, the colour skin, the
    // frame-name list, frame 0 and the header.
    // Atlas, when given, is the texture atlas in memory; it becomes the
    // texture skin and is left without pixels. Without it there is no
    // texture skin.
    void MakeFromOBJ(
        const TOBJModel& OBJModel, TBitmap* Atlas, const std::string& FrameNamesFileName);
    // The same with the atlas read from AtlasFileName, when that file exists.
    void MakeFromOBJ(const TOBJModel& OBJModel, const std::string& AtlasFileName,
        const std::string& FrameNamesFileName);

    // The low 16 bits of trunc((Coord + 1) * 32767), so -1..1 maps to 0..65534.
    static std::uint16_t PackCoord(float Coord);
    // Packs Position (axes z, x, y) and picks the table direction nearest to
    // FileNormal(Normal); leaves Pad alone.
    static void EncodeVertex(const TVec3& Position, const TVec3& Normal, TMDLPackedVertex& Vertex);
    // The direction the table is searched with for an OBJ normal (x, y, z):
    // (-z, -x, -y), in the file's axes and facing the way the engine's own
    // models face theirs.
    static TVec3 FileNormal(const TVec3& Normal);
    // Appends a frame made of the OBJ model's current vertices and normals.
    // A frame after the first must have as many vertices as the first
    // (otherwise EInvalidOperation "Frame_N has n vertices, but Frame_0 has
    // m", and the model is unchanged).
    void AddFrame(const TOBJModel& OBJModel);

    // Writes the model into a new file beside FileName and renames it over
    // FileName once complete: a failed save leaves an existing file as it was.
    // A link at FileName is followed (a name the user chose) or replaced (a
    // name the program chose).
    void SaveToFile(const std::string& FileName, TLinkRule Links = TLinkRule::Follow);
    // The bytes SaveToFile writes.
    std::vector<std::uint8_t> SaveToBytes();
    void WriteTo(TByteWriter& Out);

    // Replaces the model with the contents of an MDL5 file; EMDLFormatError
    // when the file does not follow the layout (the model is then unchanged).
    void LoadFromFile(const std::string& FileName);
    void LoadFromBytes(const std::uint8_t* Data, std::size_t Size);
    // What `info` shows, read from the file at its offsets: the header, the
    // skins without their pixels, the frames without their vertices, no
    // skin vertices and no triangles; the file is checked as LoadFromFile
    // checks it, with the same errors, but only those parts are read.
    void LoadLayoutFromFile(const std::string& FileName);

    // Whether frames keep their positions as read until FitFrames packs them
    // all, each axis on a scale that holds the whole model's range. Off, each
    // frame is packed as it is added, for coordinates inside -1..1 on the
    // scale of 0.01.
    bool FitRange = false;
    // Packs the frames that kept their positions and sets the header's scale
    // and offset. For a model whose coordinates lie inside -1..1 this gives
    // the very bytes of packing each frame as it comes. Saving fits frames
    // left unpacked; adding a frame after fitting is refused.
    void FitFrames();

    // Releases every section and frame and zeroes the header.
    void Clear();

    // Whether a large colour skin may be painted in two halves by two
    // threads. The result is the same either way; tests compare the two.
    bool PaintInParallel = true;

private:
    void Triangulate(const TOBJModel& OBJModel);
    void MakeSkinVerts(const TOBJModel& OBJModel);
    void PaintColourSkin(const TOBJModel& OBJModel, std::int32_t Width, std::int32_t Height);
    template <typename TIn> void ReadModel(TIn& In, std::uint64_t Size, bool Whole);
    void LoadFrameNames(const std::string& FileName);
    // Reads lines of the frame-name list until FrameNames holds Count names
    // or the list ends.
    void ReadFrameNames(std::size_t Count);

    // The frame-name list while it has lines not yet read, and the lines read.
    std::unique_ptr<TTextReader> FFrameNameList;
    std::uint64_t FFrameNameLines = 0;
    void FillHeader(const TOBJModel& OBJModel);
    void SetScaleAndOffset(const float Scale[3]);
};
