#include "obj/OBJClass.h"

#include <string_view>
#include <unordered_map>

#include "util/FileIO.h"

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
        if (FileExists(MTLFileName))
            LoadMTL(MTLFileName);
        else
            Materials.clear();
    }
    // Only faces without a texture index at their first corner take default
    // coordinates; without any, there is nothing to look for.
    if (ReadOBJ(FileName))
        AssignDefaultUVs();
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

void TOBJModel::AssignDefaultUVs()
{
    TMaterialLookup materials(Materials);
    for (TOBJFace& face : Faces) {
        if (face.Corners[0].UV != NoUV)
            continue;
        const std::int32_t found = materials.Find(face.MaterialName);
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
        // All four corners, also on a triangle.
        for (int k = 0; k < 4; ++k)
            face.Corners[k].UV = material.DefaultUV[k];
    }
}
