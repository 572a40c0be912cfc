#include "obj/OBJClass.h"

#include "image/Bitmap.h"
#include "util/Errors.h"

#include "ImageTestUtil.h"
#include "TestUtil.h"
#include "image/TextureFile.h"
#include "image/TextureTestUtil.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr TColor Red = 0x0000FF;
constexpr TColor Green = 0x00FF00;
constexpr TColor Blue = 0xFF0000;

using TRect4 = std::array<int, 4>;

template <typename T> TRect4 RectOf(const T& item)
{
    return { item.RectX, item.RectY, item.RectW, item.RectH };
}

// A BMP file of one flat colour, made by the image layer itself.
void WriteBmp(const std::string& path, std::int32_t width, std::int32_t height, TColor color,
    int bitsPerPixel = 24)
{
    TBitmap image;
    image.SetBitsPerPixel(bitsPerPixel);
    image.SetWidth(width);
    image.SetHeight(height);
    image.Canvas().Brush.Color = color;
    image.Canvas().Brush.Style = bsSolid;
    image.Canvas().FillRect({ 0, 0, width, height });
    image.SaveBmpFile(path);
}

void AddMaterial(
    TOBJModel& model, const std::string& name, const std::string& mapKd, TVec3 kd = Vec3Zero())
{
    TOBJMaterial material {};
    material.Name = name;
    material.MapKd = mapKd;
    material.Kd = kd;
    model.Materials.push_back(material);
}

// A face giving only texture indices, one per corner.
void AddFace(TOBJModel& model, const std::string& materialName, std::initializer_list<int> uvs)
{
    TOBJFace face {};
    face.MaterialName = model.MaterialNameTable.Add(materialName);
    for (int uv : uvs)
        face.Corners[face.CornerCount++].UV = uv;
    model.Faces.push_back(face);
}

void AddUVs(TOBJModel& model, int count)
{
    for (int i = 0; i < count; ++i)
        model.AddUV(0.25f, 0.75f);
}

std::set<std::string> FileNames(const TScratchDir& dir)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        names.insert(entry.path().filename().string());
    return names;
}

} // namespace

TEST(UnifyTextures, PlacesTexturesSideBySideAndGrowsByRemainder)
{
    TScratchDir dir;
    WriteBmp(dir.File("a.bmp"), 100, 60, Red);
    WriteBmp(dir.File("b.bmp"), 64, 99, Blue);
    TOBJModel model;
    AddMaterial(model, "A", "a.bmp");
    AddMaterial(model, "B", "b.bmp");
    AddUVs(model, 7);
    AddFace(model, "A", { 1, 2, 3 });
    AddFace(model, "B", { 4, 5, 6, 7 });

    model.UnifyTextures(dir.File("model.bmp"));

    EXPECT_EQ(RectOf(model.Materials[0]), (TRect4 { 0, 0, 100, 60 }));
    EXPECT_EQ(RectOf(model.Materials[1]), (TRect4 { 104, 0, 64, 99 }));
    for (int uv = 1; uv <= 3; ++uv)
        EXPECT_EQ(RectOf(model.UVs[uv - 1]), (TRect4 { 0, 0, 100, 60 })) << uv;
    for (int uv = 4; uv <= 7; ++uv)
        EXPECT_EQ(RectOf(model.UVs[uv - 1]), (TRect4 { 104, 0, 64, 99 })) << uv;
    // Stamping leaves the coordinates themselves alone.
    EXPECT_EQ(model.UVs[0].U, 0.25f);
    EXPECT_EQ(model.UVs[0].V, 0.75f);

    TBitmap atlas;
    atlas.LoadBmpFile(dir.File("model.bmp"));
    EXPECT_EQ(atlas.Width(), 168);
    EXPECT_EQ(atlas.Height(), 102);
    EXPECT_EQ(atlas.BitsPerPixel(), 24);
    EXPECT_EQ(CountOther(atlas, Red, { 0, 0, 100, 60 }), 0);
    EXPECT_EQ(CountOther(atlas, Blue, { 104, 0, 168, 99 }), 0);
    // The gap after the first texture and everything below each one is white.
    EXPECT_EQ(CountOther(atlas, clWhite, { 100, 0, 104, 102 }), 0);
    EXPECT_EQ(CountOther(atlas, clWhite, { 0, 60, 100, 102 }), 0);
    EXPECT_EQ(CountOther(atlas, clWhite, { 104, 99, 168, 102 }), 0);
}

TEST(UnifyTextures, SameMapIsPlacedOnceButCaseOrDirectoryPlaceItAgain)
{
    TScratchDir dir;
    WriteBmp(dir.File("a.bmp"), 100, 60, Red);
    TOBJModel model;
    AddMaterial(model, "M0", "a.bmp");
    AddMaterial(model, "M1", "a.bmp");
    AddMaterial(model, "M2", "a.BMP");
    AddMaterial(model, "M3", "x/a.tga");
    AddMaterial(model, "M4", "a.bmp");

    model.UnifyTextures(dir.File("model.bmp"));

    // All five lead to a.bmp; only the byte-identical names share a place.
    EXPECT_EQ(RectOf(model.Materials[0]), (TRect4 { 0, 0, 100, 60 }));
    EXPECT_EQ(RectOf(model.Materials[1]), (TRect4 { 0, 0, 100, 60 }));
    EXPECT_EQ(RectOf(model.Materials[2]), (TRect4 { 104, 0, 100, 60 }));
    EXPECT_EQ(RectOf(model.Materials[3]), (TRect4 { 208, 0, 100, 60 }));
    EXPECT_EQ(RectOf(model.Materials[4]), (TRect4 { 0, 0, 100, 60 }));
    EXPECT_EQ(model.Materials[3].MapKd, "x/a.tga");
    EXPECT_EQ(FileNames(dir), (std::set<std::string> { "a.bmp", "model.bmp" }));

    TBitmap atlas;
    atlas.LoadBmpFile(dir.File("model.bmp"));
    // 308 grows by 4 to 312; the height 60 grows to 64 after the first
    // material and stays there.
    EXPECT_EQ(atlas.Width(), 312);
    EXPECT_EQ(atlas.Height(), 64);
    for (int left : { 0, 104, 208 }) {
        EXPECT_EQ(CountOther(atlas, Red, { left, 0, left + 100, 60 }), 0) << left;
        EXPECT_EQ(CountOther(atlas, clWhite, { left + 100, 0, left + 104, 64 }), 0) << left;
        EXPECT_EQ(CountOther(atlas, clWhite, { left, 60, left + 100, 64 }), 0) << left;
    }
}

TEST(UnifyTextures, SideKeepsGrowingOverLaterMaterialsUntilMultipleOfEight)
{
    TScratchDir dir;
    WriteBmp(dir.File("a.bmp"), 100, 60, Red);
    WriteBmp(dir.File("b.bmp"), 64, 99, Blue);
    TOBJModel model;
    AddMaterial(model, "A", "a.bmp");
    AddMaterial(model, "B", "b.bmp");
    // Neither places anything: 102 becomes 108, then 112, then stays.
    AddMaterial(model, "C", "b.bmp");
    AddMaterial(model, "D", "a.bmp");
    AddMaterial(model, "E", "a.bmp");

    model.UnifyTextures(dir.File("model.bmp"));

    EXPECT_EQ(RectOf(model.Materials[2]), (TRect4 { 104, 0, 64, 99 }));
    TBitmap atlas;
    atlas.LoadBmpFile(dir.File("model.bmp"));
    EXPECT_EQ(atlas.Width(), 168);
    EXPECT_EQ(atlas.Height(), 112);
    EXPECT_EQ(CountOther(atlas, clWhite, { 104, 99, 168, 112 }), 0);
}

TEST(UnifyTextures, TexturePathKeepsOnlyTheStemInTheAtlasFolder)
{
    TScratchDir dir;
    // Distinct widths, multiples of 8, tell which file each material got.
    const char* const maps[] = { "textures\\wood.tga", "../up.tga", "/abs/root.tga", "c:drive.png",
        "two.dots.tga", "noext", "mixed/dir\\last.bmp" };
    const char* const files[] = { "wood.bmp", "up.bmp", "root.bmp", "drive.bmp", "two.dots.bmp",
        "noext.bmp", "last.bmp" };
    TOBJModel model;
    std::set<std::string> expected { "model.bmp" };
    for (int i = 0; i < 7; ++i) {
        WriteBmp(dir.File(files[i]), 8 * (i + 1), 8, Green);
        AddMaterial(model, "M" + std::to_string(i), maps[i]);
        expected.insert(files[i]);
    }

    model.UnifyTextures(dir.File("model.bmp"));

    int left = 0;
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(RectOf(model.Materials[i]), (TRect4 { left, 0, 8 * (i + 1), 8 })) << maps[i];
        EXPECT_EQ(model.Materials[i].MapKd, maps[i]);
        left += 8 * (i + 1);
    }
    // No placeholder was needed anywhere.
    EXPECT_EQ(FileNames(dir), expected);
}

TEST(UnifyTextures, MissingTextureBecomesPlaceholderOfKdColourNextToAtlas)
{
    TScratchDir dir;
    TOBJModel model;
    AddMaterial(model, "first", "", Vec3(1.0f, 0.5f, 0.25f));
    AddMaterial(model, "stone", "sub\\stone.tga", Vec3(0.0f, 1.0f, 0.0f));
    AddMaterial(model, "third", "", Vec3(0.0f, 0.0f, 1.0f));

    model.UnifyTextures(dir.File("model.bmp"));

    EXPECT_EQ(model.Materials[0].MapKd, "created_mtl0");
    EXPECT_EQ(model.Materials[1].MapKd, "sub\\stone.tga");
    EXPECT_EQ(model.Materials[2].MapKd, "created_mtl2");
    const std::string names[] = { "created_mtl0.bmp", "stone.bmp", "created_mtl2.bmp" };
    const TColor colours[] = { 0x4080FF, Green, Blue };
    TBitmap atlas;
    atlas.LoadBmpFile(dir.File("model.bmp"));
    EXPECT_EQ(atlas.Width(), 240);
    EXPECT_EQ(atlas.Height(), 80);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(names[i]);
        TBitmap tile;
        ASSERT_NO_THROW(tile.LoadBmpFile(dir.File(names[i])));
        EXPECT_EQ(tile.Width(), 80);
        EXPECT_EQ(tile.Height(), 80);
        EXPECT_EQ(CountOther(tile, colours[i], { 0, 0, 80, 80 }), 0);
        EXPECT_EQ(RectOf(model.Materials[i]), (TRect4 { 80 * i, 0, 80, 80 }));
        EXPECT_EQ(CountOther(atlas, colours[i], { 80 * i, 0, 80 * i + 80, 80 }), 0);
    }
}

TEST(UnifyTextures, ExistingFileIsUsedWhateverItHoldsAndNeverRewritten)
{
    TScratchDir dir;
    // Files where placeholders would go: a small picture and an empty file.
    WriteBmp(dir.File("created_mtl0.bmp"), 8, 4, Green);
    WriteAllBytes(dir.File("empty.bmp"), {});
    const auto pictureBytes = ReadAllBytes(dir.File("created_mtl0.bmp"));
    TOBJModel model;
    AddMaterial(model, "M0", "", Vec3(1.0f, 0.0f, 0.0f));
    AddMaterial(model, "M1", "empty.tga", Vec3(1.0f, 0.0f, 0.0f));
    AddMaterial(model, "M2", "", Vec3(0.0f, 0.0f, 1.0f));

    model.UnifyTextures(dir.File("model.bmp"));

    EXPECT_EQ(ReadAllBytes(dir.File("created_mtl0.bmp")), pictureBytes);
    EXPECT_TRUE(ReadAllBytes(dir.File("empty.bmp")).empty());
    EXPECT_EQ(RectOf(model.Materials[0]), (TRect4 { 0, 0, 8, 4 }));
    // The empty file gives an empty texture at the atlas's width then.
    EXPECT_EQ(RectOf(model.Materials[1]), (TRect4 { 8, 0, 0, 0 }));
    EXPECT_EQ(RectOf(model.Materials[2]), (TRect4 { 8, 0, 80, 80 }));

    // A second conversion finds the placeholder of the first and keeps it,
    // even though the material's colour has changed meanwhile.
    const auto placeholderBytes = ReadAllBytes(dir.File("created_mtl2.bmp"));
    ASSERT_FALSE(placeholderBytes.empty());
    model.Materials[0].MapKd.clear();
    model.Materials[2].MapKd.clear();
    model.Materials[2].Kd = Vec3(0.0f, 1.0f, 0.0f);
    model.UnifyTextures(dir.File("model.bmp"));
    EXPECT_EQ(ReadAllBytes(dir.File("created_mtl2.bmp")), placeholderBytes);
    TBitmap atlas;
    atlas.LoadBmpFile(dir.File("model.bmp"));
    EXPECT_EQ(CountOther(atlas, Green, { 0, 0, 8, 4 }), 0);
    EXPECT_EQ(CountOther(atlas, Blue, { 8, 0, 88, 80 }), 0);
}

TEST(UnifyTextures, PlaceholderTakesDepthOfLastLoadedTextureAtlasStays24Bit)
{
    TScratchDir dir;
    WriteBmp(dir.File("deep.bmp"), 16, 8, Red, 32);
    TOBJModel model;
    AddMaterial(model, "deep", "deep.bmp");
    AddMaterial(model, "flat", "", Vec3(0.0f, 0.0f, 1.0f));

    model.UnifyTextures(dir.File("model.bmp"));

    TBitmap tile;
    tile.LoadBmpFile(dir.File("created_mtl1.bmp"));
    EXPECT_EQ(tile.BitsPerPixel(), 32);
    EXPECT_EQ(CountOther(tile, Blue, { 0, 0, 80, 80 }), 0);
    TBitmap atlas;
    atlas.LoadBmpFile(dir.File("model.bmp"));
    EXPECT_EQ(atlas.BitsPerPixel(), 24);
    EXPECT_EQ(CountOther(atlas, Red, { 0, 0, 16, 8 }), 0);
    EXPECT_EQ(CountOther(atlas, Blue, { 16, 0, 96, 80 }), 0);
}

TEST(UnifyTextures, ModelWithoutMaterialsGetsWhiteAtlasOfPlaceholderSize)
{
    TScratchDir dir;
    WriteAllBytes(dir.File("model.bmp"), { 1, 2, 3 });
    TOBJModel model;
    AddUVs(model, 3);
    AddFace(model, "", { 1, 2, 3 });

    TBitmap inMemory;
    model.UnifyTextures(dir.File("model.bmp"), inMemory);

    TBitmap saved;
    saved.LoadBmpFile(dir.File("model.bmp"));
    for (const TBitmap* atlas : { &inMemory, &saved }) {
        EXPECT_EQ(atlas->Width(), 80);
        EXPECT_EQ(atlas->Height(), 80);
        EXPECT_EQ(atlas->BitsPerPixel(), 24);
        EXPECT_EQ(CountOther(*atlas, clWhite, { 0, 0, 80, 80 }), 0);
    }
    // No placeholder, and the coordinates stay at the atlas's corner.
    EXPECT_EQ(FileNames(dir), (std::set<std::string> { "model.bmp" }));
    for (const TOBJUV& uv : model.UVs)
        EXPECT_EQ(RectOf(uv), (TRect4 { 0, 0, 0, 0 }));
}

TEST(UnifyTextures, LaterMaterialWinsAndUnmatchedCornersKeepZero)
{
    TScratchDir dir;
    WriteBmp(dir.File("a.bmp"), 8, 8, Red);
    WriteBmp(dir.File("b.bmp"), 16, 16, Blue);
    TOBJModel model;
    AddMaterial(model, "A", "a.bmp");
    AddMaterial(model, "B", "b.bmp");
    AddUVs(model, 8);
    model.UVs.shrink_to_fit();
    // Face order does not matter, material order does: B stamps coordinate 3 last.
    AddFace(model, "B", { 3, 4, 5 });
    AddFace(model, "A", { 1, 2, 3 });
    AddFace(model, "nothing", { 6, 6, 6 });
    AddFace(model, "a", { 7, 7, 7 }); // names compare with case
    // Corners without a coordinate or past the list are skipped.
    AddFace(model, "A", { 2, NoUV, 9, 1000000 });
    // A corner past CornerCount is no corner, whatever its UV field holds.
    AddFace(model, "A", { 1, 1, 1 });
    model.Faces.back().Corners[3].UV = 8;

    model.UnifyTextures(dir.File("model.bmp"));

    const TRect4 a { 0, 0, 8, 8 }, b { 8, 0, 16, 16 }, zero { 0, 0, 0, 0 };
    const TRect4 expected[] = { a, a, b, b, b, zero, zero, zero };
    for (int uv = 1; uv <= 8; ++uv)
        EXPECT_EQ(RectOf(model.UVs[uv - 1]), expected[uv - 1]) << uv;
}

TEST(UnifyTextures, FourthDefaultCoordinateOfTriangleOnlyMaterialStaysZero)
{
    TScratchDir dir;
    WriteBmp(dir.File("tri.bmp"), 16, 16, Red);
    WriteText(dir.File("model.mtl"), "newmtl tri\r\nmap_Kd tri.tga\r\nnewmtl quad\r\n");
    WriteText(dir.File("model.obj"),
        "v 0 0 0\r\nv 1 0 0\r\nv 1 1 0\r\nv 0 1 0\r\nvn 0 0 1\r\n"
        "usemtl tri\r\nf 1//1 2//1 3//1\r\nusemtl quad\r\nf 1//1 2//1 3//1 4//1\r\n");
    TOBJModel model;
    model.LoadOBJ(dir.File("model.obj"), dir.File("model.mtl"));
    ASSERT_EQ(model.UVCount(), 8);

    model.UnifyTextures(dir.File("model.bmp"));

    const TRect4 tri { 0, 0, 16, 16 }, quad { 16, 0, 80, 80 };
    const TRect4 expected[] = { tri, tri, tri, { 0, 0, 0, 0 }, quad, quad, quad, quad };
    for (int uv = 1; uv <= 8; ++uv)
        EXPECT_EQ(RectOf(model.UVs[uv - 1]), expected[uv - 1]) << uv;
}

TEST(UnifyTextures, TextureNamedLikeAtlasIsRefusedBeforeAnythingIsWritten)
{
    // The atlas's file name and the materials' maps ("" for none). The
    // first: the user's texture is there. The second: a placeholder for
    // missing.tga would be written before the second material's created
    // name is found to be the atlas's.
    const std::vector<std::vector<std::string>> cases
        = { { "box.bmp", "box.bmp" }, { "created_mtl1.bmp", "missing.tga", "" } };
    for (const std::vector<std::string>& c : cases) {
        SCOPED_TRACE(c[0]);
        TScratchDir dir;
        WriteBmp(dir.File("box.bmp"), 8, 8, Red);
        const std::vector<std::uint8_t> texture = ReadAllBytes(dir.File("box.bmp"));
        TOBJModel model;
        for (std::size_t i = 1; i < c.size(); ++i)
            AddMaterial(model, "M" + std::to_string(i), c[i]);

        EXPECT_EQ(MessageOfThrown<EInvalidOperation>([&] { model.UnifyTextures(dir.File(c[0])); }),
            "The texture " + dir.File(c[0])
                + " would be overwritten by the texture atlas of the same name; rename the "
                  "texture.");
        EXPECT_EQ(FileNames(dir), (std::set<std::string> { "box.bmp" }));
        EXPECT_EQ(ReadAllBytes(dir.File("box.bmp")), texture);
    }
}

TEST(UnifyTextures, AtlasPastSixteenBitsRaisesRangeErrorWithoutSaving)
{
    TScratchDir dir;
    // Wide but one pixel high, so the files stay small.
    WriteBmp(dir.File("w1.bmp"), 40000, 1, Red);
    WriteBmp(dir.File("w2.bmp"), 40000, 1, Blue);
    // 65535 is a valid side, but growing it by its remainder is not.
    WriteBmp(dir.File("tall.bmp"), 1, 65535, Green);

    // The first material's map and the width it is placed with, then the map
    // that makes the atlas too large.
    struct TCase
    {
        const char* First;
        int FirstWidth;
        const char* Second;
    };
    for (const TCase& c : { TCase { "w1.bmp", 40000, "w2.bmp" }, TCase { "", 80, "tall.bmp" } }) {
        SCOPED_TRACE(c.Second);
        TOBJModel model;
        AddMaterial(model, "M0", c.First);
        AddMaterial(model, "M1", c.Second);
        try {
            model.UnifyTextures(dir.File("model.bmp"));
            ADD_FAILURE() << "no ERangeError";
        } catch (const ERangeError& e) {
            EXPECT_STREQ(e.what(), "Texture atlas exceeds 65535 pixels.");
        }
        EXPECT_FALSE(std::filesystem::exists(dir.File("model.bmp")));
        // What was set before the failure stays.
        EXPECT_EQ(model.Materials[0].RectW, c.FirstWidth);
    }
}

TEST(UnifyTextures, PngJpegAndTgaTexturesLandAsBmpsOfTheSamePixelsWould)
{
    // The same model twice: once with PNG, JPEG and TGA textures (and a
    // BMP beside a PNG of the same stem, which must win), once with BMP
    // files of the pixels those decode to. Atlas and rectangles must match.
    const TPicture png = PatternPicture(13, 11);
    const TPicture tga = PatternPicture(6, 21);
    const TBytes jpeg = MakeJpeg(BlockPicture(16, 8), { false, true });
    TScratchDir dir;
    const std::string other = dir.File("other/");
    const std::string bmps = dir.File("bmps/");
    std::filesystem::create_directory(other);
    std::filesystem::create_directory(bmps);
    WriteAllBytes(other + "a.PNG", MakePng(png, { PNG_COLOR_TYPE_RGB_ALPHA, 16, true }));
    WriteAllBytes(other + "b.jpeg", jpeg);
    WriteAllBytes(other + "c.tga", MakeTga(tga, { 10, 32, 0, true }));
    WriteBmp(other + "d.bmp", 5, 5, Red);
    WriteAllBytes(other + "d.png", MakePng(png, { PNG_COLOR_TYPE_RGB, 8 }));
    TBitmap picture;
    FillBitmap(picture, png);
    picture.SaveBmpFile(bmps + "a.bmp");
    DecodeJpeg(picture, jpeg, "b.jpeg");
    picture.SaveBmpFile(bmps + "b.bmp");
    FillBitmap(picture, tga);
    picture.SaveBmpFile(bmps + "c.bmp");
    WriteBmp(bmps + "d.bmp", 5, 5, Red);

    std::vector<TRect4> rects[2];
    TBytes atlases[2];
    int run = 0;
    for (const std::string& folder : { other, bmps }) {
        TOBJModel model;
        AddMaterial(model, "A", "textures\\a.PNG");
        AddMaterial(model, "B", "b.jpeg");
        AddMaterial(model, "C", "c.tga");
        AddMaterial(model, "D", "d.png");
        AddMaterial(model, "E", "missing.png", Vec3(0.0f, 0.0f, 1.0f));
        model.UnifyTextures(folder + "model.bmp");
        for (const TOBJMaterial& material : model.Materials)
            rects[run].push_back(RectOf(material));
        atlases[run++] = ReadAllBytes(folder + "model.bmp");
    }
    EXPECT_EQ(rects[0], rects[1]);
    EXPECT_EQ(rects[0][2], (TRect4 { 36, 0, 6, 21 }));
    EXPECT_EQ(atlases[0], atlases[1]);
    // Placeholders are written only where no file of the name is found.
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(other))
        written.insert(entry.path().filename().string());
    EXPECT_EQ(written,
        (std::set<std::string> {
            "a.PNG", "b.jpeg", "c.tga", "d.bmp", "d.png", "missing.bmp", "model.bmp" }));
}

TEST(SetUVRect, CopiesMaterialRectangleAndSkipsIndicesThatAddressNothing)
{
    TOBJModel model;
    AddMaterial(model, "M", "m.bmp");
    model.Materials[0].Rect() = TAtlasRect { 1, 2, 65535, 4 };
    AddUVs(model, 2);
    model.UVs.shrink_to_fit();
    model.Materials.shrink_to_fit();

    model.SetUVRect(2, 0);
    EXPECT_EQ(RectOf(model.UVs[1]), (TRect4 { 1, 2, 65535, 4 }));
    EXPECT_EQ(model.UVs[1].U, 0.25f);

    const std::pair<int, int> nowhere[] = { { 0, 0 }, { NoUV, 0 }, { 3, 0 }, { 1, -1 }, { 1, 1 } };
    for (const auto& [uv, material] : nowhere)
        model.SetUVRect(uv, material);
    EXPECT_EQ(RectOf(model.UVs[0]), (TRect4 { 0, 0, 0, 0 }));
    EXPECT_EQ(RectOf(model.UVs[1]), (TRect4 { 1, 2, 65535, 4 }));
}
