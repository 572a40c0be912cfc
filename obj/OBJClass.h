// The OBJ mesh and its MTL materials in memory: reading both text formats
// (OBJReader.cpp, MTLReader.cpp), material names to indices and the default
// texture coordinates of faces that give none (OBJClass.cpp), and the
// texture atlas that merges the material textures into one image
// (Atlas.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "obj/Numbers.h"
#include "util/Activity.h"
#include "util/NameTable.h"
#include "util/Vector.h"

class TBitmap;
class TTextReader;

// Raised when the atlas would need a side the 16-bit rectangles cannot hold.
extern const char* const SAtlasTooLarge; // "Texture atlas exceeds 65535 pixels."
// Raised, with the file's name, when the atlas would replace a material's texture.
extern const char* const SAtlasIsTexture;
// Raised when the faces of a file would give more triangles than a count holds.
extern const char* const STooManyTriangles;

// The generator that decides on which lines the OBJ reader shows its
// progress. The model holds one, so that its state runs on from file to
// file and from conversion to conversion, starting at 0. Each draw returns
// 0..99; the first draw from state 0 returns 0.
class TProgressGenerator
{
public:
    std::uint32_t Next();
    std::uint32_t State() const { return FState; }
    // Tests use it to replay a run's start.
    void SetState(std::uint32_t State) { FState = State; }

private:
    std::uint32_t FState = 0;
};

// Indices are 1-based as written in the file (negative ones are resolved
// against the list while reading); 0 addresses nothing.
struct TOBJCorner
{
    std::int32_t Vertex;
    // NoUV when the corner gives no texture index.
    std::int32_t UV;
    // NoNormal when the corner gives no normal index.
    std::int32_t Normal;
};

constexpr std::int32_t NoUV = -1;
constexpr std::int32_t NoNormal = 0;

// A face keeps its first four corners in itself; the corners of a larger
// polygon from the fifth on sit in the model's MoreCorners list, in order,
// from MoreCorners on. TOBJModel::Corner reaches any of them.
struct TOBJFace
{
    TOBJCorner Corners[4];
    // The number of corners the face line gave.
    std::uint32_t CornerCount;
    // The place of corner 5 in the model's MoreCorners list, when there is one.
    std::uint32_t MoreCorners;
    // The material current when the face was read, as its number in the
    // model's MaterialNameTable; 0, the empty name, before any "usemtl".
    std::uint32_t MaterialName;
};

// The triangles a face of Count corners gives: a fan of Count - 2.
inline std::int64_t TrianglesOf(std::uint32_t Count)
{
    return Count >= 3 ? std::int64_t(Count) - 2 : 0;
}

// A place in the texture atlas, in pixels: left, top, width, height. A
// material has one, and so does each texture coordinate (the rectangle of the
// material whose faces use it); Rect() is the rectangle as one value.
struct TAtlasRect
{
    std::uint16_t RectX;
    std::uint16_t RectY;
    std::uint16_t RectW;
    std::uint16_t RectH;

    TAtlasRect& Rect() { return *this; }
    const TAtlasRect& Rect() const { return *this; }
};

struct TOBJMaterial : TAtlasRect
{
    std::string Name;
    // Colours: red, green, blue as X, Y, Z, nominally 0 to 1.
    TVec3 Ka;
    TVec3 Kd;
    TVec3 Ks;
    float Ns;
    // The texture name; UnifyTextures fills it in when it is empty.
    std::string MapKd;
    bool DefaultUVsMade;
    // 1-based indices into UVs for corners 1 to 4; 0 until made.
    std::int32_t DefaultUV[4];
};

constexpr std::int32_t NoMaterial = -1;

// Material names to material indices, the one way every stage that needs a
// material by name (default coordinates, the atlas, the colour skin) finds
// it: names compare byte for byte, and a name stands for the first material
// of that name.
class TMaterialLookup
{
public:
    explicit TMaterialLookup(const std::vector<TOBJMaterial>& Materials);
    // The index of the material Name stands for, or NoMaterial. Faces and
    // triangles come in runs of one material, so a name equal to the one
    // asked for last is answered without a search.
    std::int32_t Find(const std::string& Name);
    // The material each name of a table stands for, by the name's number.
    std::vector<std::int32_t> FindAll(const TNameTable& Names);
    // The material that the name of material Index stands for: Index
    // itself, or an earlier material of the same name.
    std::int32_t FirstOfName(std::size_t Index) const { return FFirstOfName[Index]; }

private:
    std::unordered_map<std::string_view, std::int32_t> FByName;
    std::vector<std::int32_t> FFirstOfName;
    std::string FLastName;
    std::int32_t FLastFound = NoMaterial;
    bool FAskedBefore = false;
};

struct TOBJUV : TAtlasRect
{
    float U;
    float V;
};

class TOBJModel
{
public:
    TOBJModel();
    virtual ~TOBJModel();
    TOBJModel(const TOBJModel&) = delete;
    TOBJModel& operator=(const TOBJModel&) = delete;

    // Borrowed, never released; unset means "do nothing".
    TActivityLog* ActivityLog = nullptr;
    TStatusPanel* StatusPanel = nullptr;
    TEventPump* EventPump = nullptr;

    std::vector<TVec3> Vertices;
    // As read, not normalised.
    std::vector<TVec3> Normals;
    std::vector<TOBJUV> UVs;
    std::vector<TOBJFace> Faces;
    // The names of the materials the faces take, each once.
    TNameTable MaterialNameTable;
    std::vector<TOBJMaterial> Materials;
    // Corners 5 onwards of the faces that have them.
    std::vector<TOBJCorner> MoreCorners;
    // The triangles the faces will give: n - 2 per face of n >= 3 corners.
    std::int32_t TriangleCount = 0;

    // Corner K (0-based, below the face's CornerCount) of a face of this model.
    const TOBJCorner& Corner(const TOBJFace& Face, std::uint32_t K) const
    {
        return K < 4 ? Face.Corners[K] : MoreCorners[std::size_t(Face.MoreCorners) + (K - 4)];
    }
    TOBJCorner& Corner(TOBJFace& Face, std::uint32_t K)
    {
        return K < 4 ? Face.Corners[K] : MoreCorners[std::size_t(Face.MoreCorners) + (K - 4)];
    }

    std::int32_t VertexCount() const { return static_cast<std::int32_t>(Vertices.size()); }
    std::int32_t NormalCount() const { return static_cast<std::int32_t>(Normals.size()); }
    std::int32_t UVCount() const { return static_cast<std::int32_t>(UVs.size()); }
    std::int32_t FaceCount() const { return static_cast<std::int32_t>(Faces.size()); }
    std::int32_t MaterialCount() const { return static_cast<std::int32_t>(Materials.size()); }

    void Log(const std::string& Text);

    // Reads the MTL file when MTLFileName names an existing file, then the OBJ
    // file, then makes the default texture coordinates. An empty MTLFileName
    // keeps the materials (the further frames of a conversion); a non-empty
    // one without a file empties them. On a failure the model keeps what was
    // read up to the failing line.
    void LoadOBJ(const std::string& FileName, const std::string& MTLFileName);
    // Appends a texture coordinate with a zero rectangle; its 1-based index
    // is the new UVCount().
    void AddUV(float U, float V);
    // Gives every face whose corner 1 has no texture index the four default
    // coordinates of its material, made once per material.
    void AssignDefaultUVs();
    // The normal of each vertex, in list order, from this model's own lists
    // (VertexNormals.cpp). The corners that use a vertex and name a normal
    // decide: one normal named throughout is taken as read, different ones
    // give the sum of their unit vectors. A vertex without such corners
    // takes the normal at its own place in the list; without that, the sum
    // of the cross products of the triangles of the faces around it (twice
    // their area, outward for counter-clockwise faces); without faces, the
    // zero vector. A sum beyond the single range also gives the zero vector.
    std::vector<TVec3> VertexNormals() const;

    // Places every material's texture side by side in one atlas, stamps the
    // rectangles onto the materials and the coordinates their faces use, and
    // saves the atlas at AtlasFileName. Missing textures get an 80 x 80 tile
    // of the material's Kd colour, written next to the atlas. Without
    // materials the atlas is an 80 x 80 white tile. A texture whose file
    // would be the atlas itself raises EInvalidOperation before anything is
    // written. Atlas receives the 24-bit image that was saved (it must be a
    // new, empty image), for the next stage to use without reading the file
    // back.
    void UnifyTextures(const std::string& AtlasFileName, TBitmap& Atlas);
    void UnifyTextures(const std::string& AtlasFileName);
    // The texture file of each material as UnifyTextures will look for it,
    // so that a conversion knows its inputs before it writes anything.
    std::vector<std::string> TextureFiles(const std::string& AtlasFileName) const;
    // Copies the rectangle of material MaterialIndex (0-based) into the
    // coordinate UVIndex (1-based); an index that addresses nothing is skipped.
    void SetUVRect(std::int32_t UVIndex, std::int32_t MaterialIndex);

    // Whether a file of more than one read block has its faces read by a
    // second thread while this one reads the vertices. The result is the
    // same either way; tests compare the two.
    bool ReadInParallel = true;
    // The bytes read from a file at a time; tests make it small so that
    // short files cross many block borders.
    std::size_t ReadBlockSize = std::size_t(1) << 20;
    TProgressGenerator Progress;

private:
    class TLineReader;

    // The MTL file that the first "mtllib" statement of the OBJ file names,
    // in the OBJ's folder; empty without one.
    static std::string NamedMTLFile(const std::string& FileName);
    void LoadMTL(const std::string& MTLFileName);
    void ReadMTLLine(std::string_view Line);
    // The readers return whether some face gave no texture index at its
    // first corner.
    bool ReadOBJ(const std::string& FileName);
    // One pass over the file in file order, as the format defines it. Lines
    // before FirstShown advance the progress generator without showing it.
    bool ReadOBJInOrder(const TTextReader& File, std::uint64_t FirstShown);
    // Two threads side by side, one for the vertex lines and one for the face
    // lines, giving what one pass gives. False when either failed or no second
    // thread could be had: the lists are then partial, the generator has run
    // on, and FirstUnshown is the first line whose progress was not shown.
    bool ReadOBJInParallel(TTextReader& File, bool& FacesWithoutUV, std::uint64_t& FirstUnshown);
    void ShowProgress(std::uint64_t Sum, std::uint64_t Size);
    // Empties the lists the OBJ file fills.
    void ClearLists();
    // Room for as many faces as a file of FileSize bytes can hold, within a cap.
    void ReserveFaces(std::uint64_t FileSize);

    // Read buffers kept from file to file: fresh memory costs more than
    // reading into memory already in use.
    std::vector<char> FReadBuffers[2];
    // The last progress text and its percentage.
    std::string FProgressText;
    std::int64_t FProgressPercent = 0;
};
