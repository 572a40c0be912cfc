#include "obj/OBJClass.h"

#include <string_view>
#include <unordered_map>

#include "obj/LineSyntax.h"
#include "util/Errors.h"
#include "util/FileIO.h"
#include "util/TextFile.h"

namespace {

// The four default texture coordinates of a material, near the middle of its
// atlas rectangle, for corners 1 to 4.
constexpr float DefaultU[4] = { 0.5f, 0.45f, 0.5f, 0.55f };
constexpr float DefaultV[4] = { 0.5f, 0.5f, 0.55f, 0.55f };

} // namespace

TOBJModel::TOBJModel() = default;
TOBJModel::~TOBJModel() = default;

void TOBJModel::Log(const std::string& Text)
{
    if (ActivityLog)
        ActivityLog->AddLine(Text);
}

void TOBJModel::AddUV(float U, float V)
{
    UVs.push_back(TOBJUV { TAtlasRect {}, U, V });
}

void TOBJModel::LoadOBJ(const std::string& FileName, const std::string& MTLFileName)
{
    // The further frames of a conversion pass no MTL file and keep the
    // materials of the first one. A named MTL file that is not there leaves
    // no materials, so nothing of an earlier conversion carries over.
    if (!MTLFileName.empty()) {
        // Without an MTL file of the OBJ's base name, the one the OBJ file
        // names itself, looked for beside it.
        std::string mtlFile = MTLFileName;
        if (!FileExists(mtlFile))
            mtlFile = NamedMTLFile(FileName);
        if (!mtlFile.empty() && FileExists(mtlFile))
            LoadMTL(mtlFile);
        else
            Materials.clear();
    }
    // Only faces without a texture index at their first corner take default
    // coordinates; without any, there is nothing to look for.
    bool facesWithoutUV;
    try {
        facesWithoutUV = ReadOBJ(FileName);
    } catch (Exception& failure) {
        failure.SetPlace(FileName, 0); // a failure to open it; lines have their own
        throw;
    }
    if (facesWithoutUV)
        AssignDefaultUVs();
}

std::string TOBJModel::NamedMTLFile(const std::string& FileName)
{
    std::string named;
    ForEachTextLine(FileName, 26, [&](std::string_view line) {
        std::string_view rest = line;
        if (!KeywordIs(NextArgument(rest), "MTLLIB"))
            return true;
        const std::string_view name = NameInFolder(NextArgument(rest));
        if (!name.empty())
            named = FolderPart(FileName) + std::string(name);
        return false;
    });
    return named;
}

TMaterialLookup::TMaterialLookup(const std::vector<TOBJMaterial>& Materials)
{
    FFirstOfName.reserve(Materials.size());
    for (std::size_t i = 0; i < Materials.size(); ++i) {
        const auto entry = FByName.emplace(Materials[i].Name, static_cast<std::int32_t>(i));
        FFirstOfName.push_back(entry.first->second);
    }
}

std::int32_t TMaterialLookup::Find(const std::string& Name)
{
    if (FAskedBefore && Name == FLastName)
        return FLastFound;
    const auto found = FByName.find(Name);
    FLastFound = found != FByName.end() ? found->second : NoMaterial;
    FLastName = Name;
    FAskedBefore = true;
    return FLastFound;
}

std::vector<std::int32_t> TMaterialLookup::FindAll(const TNameTable& Names)
{
    std::vector<std::int32_t> found;
    found.reserve(Names.Names().size());
    for (const std::string& name : Names.Names())
        found.push_back(Find(name));
    return found;
}

void TOBJModel::AssignDefaultUVs()
{
    const std::vector<std::int32_t> materialOf
        = TMaterialLookup(Materials).FindAll(MaterialNameTable);
    for (TOBJFace& face : Faces) {
        if (face.Corners[0].UV != NoUV)
            continue;
        const std::int32_t found
            = face.MaterialName < materialOf.size() ? materialOf[face.MaterialName] : NoMaterial;
        if (found == NoMaterial)
            continue;
        TOBJMaterial& material = Materials[static_cast<std::size_t>(found)];
        if (!material.DefaultUVsMade) {
            for (int k = 0; k < 4; ++k) {
                AddUV(DefaultU[k], DefaultV[k]);
                material.DefaultUV[k] = UVCount();
            }
            material.DefaultUVsMade = true;
        }
        // All four corners, also on a triangle; the corners of a larger
        // polygon from the fifth on take the fourth coordinate.
        for (int k = 0; k < 4; ++k)
            face.Corners[k].UV = material.DefaultUV[k];
        for (std::uint32_t k = 4; k < face.CornerCount; ++k)
            Corner(face, k).UV = material.DefaultUV[3];
    }
}
