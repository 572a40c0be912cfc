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
    UVs.push_back(TOBJUV { U, V, TAtlasRect {} });
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

TMaterialResolution TOBJModel::ResolveMaterialNames() const
{
    TMaterialResolution resolution;
    std::unordered_map<std::string_view, std::int32_t> byName;
    resolution.FirstOfName.reserve(Materials.size());
    for (std::size_t i = 0; i < Materials.size(); ++i) {
        const auto entry = byName.emplace(Materials[i].Name, static_cast<std::int32_t>(i));
        resolution.FirstOfName.push_back(entry.first->second);
    }
    // Faces come in runs of one material: a name is looked up once per run.
    resolution.OfFace.reserve(Faces.size());
    std::int32_t runMaterial = NoMaterial;
    for (std::size_t f = 0; f < Faces.size(); ++f) {
        const std::string& name = Faces[f].MaterialName;
        if (f == 0 || name != Faces[f - 1].MaterialName) {
            const auto found = byName.find(name);
            runMaterial = found != byName.end() ? found->second : NoMaterial;
        }
        resolution.OfFace.push_back(runMaterial);
    }
    return resolution;
}

void TOBJModel::AssignDefaultUVs()
{
    const std::vector<std::int32_t> materialOf = ResolveMaterialNames().OfFace;
    for (std::size_t f = 0; f < Faces.size(); ++f) {
        TOBJFace& face = Faces[f];
        if (face.Corners[0].UV != NoUV || materialOf[f] == NoMaterial)
            continue;
        TOBJMaterial& material = Materials[static_cast<std::size_t>(materialOf[f])];
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
