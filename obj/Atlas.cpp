// The texture atlas: every material's texture side by side in one image.
// The only part of the OBJ model that draws or reads images.
#include "obj/OBJClass.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "image/Bitmap.h"
#include "image/TextureFile.h"
#include "obj/LineSyntax.h"
#include "util/Errors.h"
#include "util/FileIO.h"
#include "util/Translate.h"

const char* const SAtlasTooLarge = "Texture atlas exceeds 65535 pixels.";
const char* const SAtlasIsTexture
    = "The texture %s would be overwritten by the texture atlas of the same name; rename the "
      "texture.";

namespace {

// A missing texture becomes a flat tile of this size.
constexpr std::int32_t PlaceholderSize = 80;
// Rectangles are 16-bit: no atlas side may pass this.
constexpr std::int64_t MaxAtlasSide = 65535;

std::string TexturePath(const std::string& atlasFileName, const std::string& mapKd)
{
    // Only the file name of the texture counts: directories in it (written
    // with either separator, or a drive) are dropped, so the texture is
    // always looked for, and a placeholder always written, in the atlas's
    // folder.
    std::string stem(NameInFolder(mapKd));
    const std::size_t dotAt = stem.rfind('.');
    if (dotAt != std::string::npos)
        stem.erase(dotAt);
    return FolderPart(atlasFileName) + stem + ".bmp";
}

// Where STEM.bmp is missing: the file map_Kd names, in the same folder, when
// it is of a format read besides BMP; empty otherwise.
std::string OtherTexturePath(const std::string& atlasFileName, const std::string& mapKd)
{
    const std::string path = FolderPart(atlasFileName) + std::string(NameInFolder(mapKd));
    if (TextureFormatOf(path) == TTextureFormat::None || !FileExists(path))
        return std::string();
    return path;
}

// The texture name of a material without one.
std::string CreatedMapName(std::size_t materialIndex)
{
    return "created_mtl" + std::to_string(materialIndex);
}

// Saving the atlas replaces whatever file has its name; when that is one of
// the textures (or the placeholder that would be written for one), the
// user's picture would be lost. Checked before anything is written.
void CheckAtlasIsNoTexture(
    const std::string& atlasFileName, const std::vector<TOBJMaterial>& materials)
{
    for (std::size_t i = 0; i < materials.size(); ++i) {
        const std::string& mapKd = materials[i].MapKd;
        const std::string path
            = TexturePath(atlasFileName, mapKd.empty() ? CreatedMapName(i) : mapKd);
        if (path == atlasFileName)
            throw EInvalidOperation(FormatMessage(SAtlasIsTexture, path));
    }
}

void CheckAtlasSide(std::int64_t side)
{
    if (side > MaxAtlasSide)
        throw ERangeError(SAtlasTooLarge);
}

} // namespace

void TOBJModel::SetUVRect(std::int32_t UVIndex, std::int32_t MaterialIndex)
{
    // A corner without a texture index, or one past the list, has no entry
    // to stamp.
    if (UVIndex < 1 || UVIndex > UVCount() || MaterialIndex < 0 || MaterialIndex >= MaterialCount())
        return;
    const TOBJMaterial& material = Materials[static_cast<std::size_t>(MaterialIndex)];
    TOBJUV& uv = UVs[static_cast<std::size_t>(UVIndex - 1)];
    uv.Rect() = material.Rect();
}

std::vector<std::string> TOBJModel::TextureFiles(const std::string& AtlasFileName) const
{
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < Materials.size(); ++i) {
        const std::string& mapKd = Materials[i].MapKd;
        const std::string name = mapKd.empty() ? CreatedMapName(i) : mapKd;
        paths.push_back(TexturePath(AtlasFileName, name));
        // The PNG, JPEG or TGA file read when there is no BMP.
        const std::string other = OtherTexturePath(AtlasFileName, name);
        if (!other.empty())
            paths.push_back(other);
    }
    return paths;
}

void TOBJModel::UnifyTextures(const std::string& AtlasFileName)
{
    TBitmap atlas;
    UnifyTextures(AtlasFileName, atlas);
}

void TOBJModel::UnifyTextures(const std::string& AtlasFileName, TBitmap& Atlas)
{
    CheckAtlasIsNoTexture(AtlasFileName, Materials);
    TBitmap& atlas = Atlas;
    atlas.SetBitsPerPixel(24);
    // The placeholder being made; it takes the format of the last texture
    // read, as one image used for both would.
    TBitmap tile;
    tile.SetBitsPerPixel(24);

    // The textures already in the atlas, by map name, with their rectangle.
    std::unordered_map<std::string, TAtlasRect> placed;
    // The layout comes first, the atlas is made once at its final size and
    // each texture copied into it once: growing it texture by texture would
    // copy the whole atlas every time. The textures are kept till then.
    struct TPlacement
    {
        std::unique_ptr<TBitmap> Texture;
        std::int32_t Left;
    };
    std::vector<TPlacement> placements;
    std::int64_t width = atlas.Width();
    std::int64_t height = atlas.Height();

    // The faces of each material, in list order, gathered once instead of
    // scanning every face for every material.
    TMaterialLookup materials(Materials);
    const std::vector<std::int32_t> materialOf = materials.FindAll(MaterialNameTable);
    std::vector<std::vector<std::size_t>> facesOf(Materials.size());
    for (std::size_t f = 0; f < Faces.size(); ++f) {
        const std::uint32_t name = Faces[f].MaterialName;
        const std::int32_t found = name < materialOf.size() ? materialOf[name] : NoMaterial;
        if (found != NoMaterial)
            facesOf[static_cast<std::size_t>(found)].push_back(f);
    }

    for (std::size_t i = 0; i < Materials.size(); ++i) {
        TOBJMaterial& material = Materials[i];
        if (material.MapKd.empty())
            material.MapKd = CreatedMapName(i);
        const std::string texturePath = TexturePath(AtlasFileName, material.MapKd);

        // A file already there is used as it is, whatever it holds; only
        // without it is the named PNG, JPEG or TGA file read, and only
        // without both is a placeholder written.
        const bool bmpFound = FileExists(texturePath);
        const std::string otherPath
            = bmpFound ? std::string() : OtherTexturePath(AtlasFileName, material.MapKd);
        if (!bmpFound && otherPath.empty()) {
            tile.SetWidth(PlaceholderSize);
            tile.SetHeight(PlaceholderSize);
            TCanvas& canvas = tile.Canvas();
            canvas.Brush.Color = VecToColor(material.Kd);
            canvas.Brush.Style = bsSolid;
            canvas.FillRect(TRect { 0, 0, tile.Width(), tile.Height() });
            tile.SaveBmpFile(texturePath);
        }

        const auto known = placed.find(material.MapKd);
        if (known != placed.end()) {
            material.Rect() = known->second;
        } else {
            auto texture = std::make_unique<TBitmap>();
            if (otherPath.empty())
                texture->LoadBmpFile(texturePath);
            else
                LoadTextureFile(*texture, otherPath);
            tile.AssignFormat(*texture);
            const std::int64_t left = width;
            CheckAtlasSide(left + texture->Width());
            width = left + texture->Width();
            height = std::max<std::int64_t>(height, texture->Height());
            material.Rect() = TAtlasRect { static_cast<std::uint16_t>(left), 0,
                static_cast<std::uint16_t>(texture->Width()),
                static_cast<std::uint16_t>(texture->Height()) };
            placed.emplace(material.MapKd, material.Rect());
            placements.push_back(
                TPlacement { std::move(texture), static_cast<std::int32_t>(left) });
        }

        // The remainder is added, not rounded up: 99 becomes 102, and a side
        // keeps growing over the next materials until it is a multiple of 8.
        CheckAtlasSide(width + width % 8);
        width += width % 8;
        CheckAtlasSide(height + height % 8);
        height += height % 8;
        // An atlas too large to hold is refused at the material that makes
        // it so, as growing it would have been.
        if (width > 0 && height > 0
            && std::uint64_t(TBitmap::StrideFor(width, 24)) * std::uint64_t(height)
                > TBitmap::MaxStoreBytes)
            throw EOutOfResources(Tr(SOutOfResources));

        // Every material of a name stamps the faces of that name, so where
        // names repeat the last such material's rectangle stays.
        for (const std::size_t f : facesOf[static_cast<std::size_t>(materials.FirstOfName(i))]) {
            const TOBJFace& face = Faces[f];
            for (std::uint32_t k = 0; k < face.CornerCount; ++k)
                SetUVRect(Corner(face, k).UV, static_cast<std::int32_t>(i));
        }
    }

    // New pixels are white: what no texture covers stays so.
    atlas.SetWidth(static_cast<std::int32_t>(width));
    atlas.SetHeight(static_cast<std::int32_t>(height));
    TCanvas& canvas = atlas.Canvas();
    canvas.CopyMode = cmSrcCopy;
    for (TPlacement& placement : placements) {
        const TBitmap& texture = *placement.Texture;
        canvas.StretchCopy(
            TRect { placement.Left, 0, placement.Left + texture.Width(), texture.Height() },
            placement.Texture->Canvas(), TRect { 0, 0, texture.Width(), texture.Height() });
        placement.Texture.reset();
    }
    if (Materials.empty()) {
        // Readers of the model refuse a skin without pixels, so a model
        // without materials gets a white tile the size of a placeholder.
        // Its texture coordinates keep their zero rectangles.
        atlas.SetWidth(PlaceholderSize);
        atlas.SetHeight(PlaceholderSize);
        TCanvas& canvas = atlas.Canvas();
        canvas.Brush.Color = clWhite;
        canvas.Brush.Style = bsSolid;
        canvas.FillRect(TRect { 0, 0, atlas.Width(), atlas.Height() });
    }
    atlas.SaveBmpFile(AtlasFileName);
}
