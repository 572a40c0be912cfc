// Pictures of small models made for the purpose: a cube whose faces take
// six colours from six regions of its skin, seen from each side, and a
// sphere converted from OBJ whose light must fall on the side the light
// comes from, and must not once its normal indices are turned round.
#include "render/Renderer.h"

#include <algorithm>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "app/AppTestUtil.h"
#include "mdl/MDLClass.h"

namespace {

struct TRGB
{
    int R, G, B;
};

TRGB At(const TBitmap& Image, int X, int Y)
{
    const TColor c = Image.PixelColor(X, Y);
    return { int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF) };
}

// Face k of the cube: its outward axis and sign, in the file's axes.
constexpr int FaceAxis[6] = { 0, 1, 0, 1, 2, 2 };
constexpr int FaceSign[6] = { 1, 1, -1, -1, 1, -1 };
// Each face's region of the skin: red, green, blue, yellow, cyan, magenta.
constexpr TRGB FaceColour[6] = { { 255, 0, 0 }, { 0, 255, 0 }, { 0, 0, 255 }, { 255, 255, 0 },
    { 0, 255, 255 }, { 255, 0, 255 } };
constexpr int Band = 10;

// A cube from -1 to 1 on each axis, four vertices a face so that each face
// has its own normal; the skin's regions of Band x Band pixels lie in two
// rows of three.
void MakeCube(TMDLModel& Model, bool Reversed)
{
    Model.Clear();
    Model.Header.Scale = Vec3(1, 1, 1);
    Model.Header.Offset = Vec3(-1, -1, -1);
    Model.Header.NumSkins = 1;
    auto skin = std::make_unique<TMDLSkin5>();
    skin->SkinType = SkinType888;
    skin->Width = 3 * Band;
    skin->Height = 2 * Band;
    for (int y = 0; y < 2 * Band; ++y) {
        for (int x = 0; x < 3 * Band; ++x) {
            const TRGB& c = FaceColour[y / Band * 3 + x / Band];
            skin->Data.insert(
                skin->Data.end(), { std::uint8_t(c.B), std::uint8_t(c.G), std::uint8_t(c.R) });
        }
    }
    Model.TextureSkin = std::move(skin);
    Model.SkinVerts = std::make_unique<TMDLSkinVerts>();
    Model.Triangles = std::make_unique<TMDLTriangles>();
    TMDLFrame frame;
    for (int face = 0; face < 6; ++face) {
        const int a = FaceAxis[face], b = (a + 1) % 3, c = (a + 2) % 3;
        const float inward[3] = { a == 0 ? -float(FaceSign[face]) : 0,
            a == 1 ? -float(FaceSign[face]) : 0, a == 2 ? -float(FaceSign[face]) : 0 };
        const int base = 4 * face;
        for (int corner = 0; corner < 4; ++corner) {
            TMDLPackedVertex v {};
            v.Coord[a] = FaceSign[face] > 0 ? 2 : 0;
            v.Coord[b] = (corner == 1 || corner == 2) ? 2 : 0;
            v.Coord[c] = corner >= 2 ? 2 : 0;
            v.NormalIndex = PlainNormalIndex(Vec3(inward[0], inward[1], inward[2]));
            frame.Vertices.push_back(v);
            Model.SkinVerts->Items.push_back(
                { std::uint16_t(face % 3 * Band + (v.Coord[b] ? Band : 0)),
                    std::uint16_t(face / 3 * Band + (v.Coord[c] ? Band : 0)) });
        }
        Model.Triangles->Items.push_back(
            { { base, base + 1, base + 2 }, { base, base + 1, base + 2 } });
        Model.Triangles->Items.push_back(
            { { base, base + 2, base + 3 }, { base, base + 2, base + 3 } });
    }
    if (Reversed)
        std::reverse(Model.Triangles->Items.begin(), Model.Triangles->Items.end());
    Model.Frames.push_back(frame);
}

TEST(Renderer, EachSideOfTheCubeShowsItsOwnSkinRegionInFrontOfTheOneBehind)
{
    struct TCase
    {
        double Yaw, Pitch;
        int Face;
    };
    const TCase cases[]
        = { { 0, 0, 0 }, { 90, 0, 1 }, { 180, 0, 2 }, { -90, 0, 3 }, { 0, 90, 4 }, { 30, -90, 5 } };
    for (const bool reversed : { false, true }) {
        TMDLModel model;
        MakeCube(model, reversed);
        const TModelRenderer renderer(model);
        ASSERT_TRUE(renderer.Textured());
        for (const TCase& c : cases) {
            TBitmap picture;
            renderer.Render(0, { c.Yaw, c.Pitch, 1 }, 64, 48, picture);
            ASSERT_EQ(picture.BitsPerPixel(), 24);
            // Off the centre too, so that a wrong texture coordinate does
            // not hide in the middle of a region.
            for (const auto& p :
                { std::make_pair(32, 24), std::make_pair(28, 20), std::make_pair(36, 28) }) {
                const TRGB seen = At(picture, p.first, p.second);
                const TRGB& want = FaceColour[c.Face];
                EXPECT_TRUE((seen.R > 60) == (want.R > 0) && (seen.G > 60) == (want.G > 0)
                    && (seen.B > 60) == (want.B > 0) && seen.R + seen.G + seen.B > 60 * 2)
                    << "yaw " << c.Yaw << " pitch " << c.Pitch << " reversed " << reversed << " at "
                    << p.first << "," << p.second << ": " << seen.R << " " << seen.G << " "
                    << seen.B;
            }
            // The corner of the picture stays background.
            EXPECT_EQ(picture.PixelColor(0, 0), RenderBackground);
        }
    }
}

TEST(Renderer, AModelWithoutAUsableSkinIsGreyAndAMissingFrameIsBackground)
{
    TMDLModel model;
    MakeCube(model, false);
    model.TextureSkin->SkinType = SkinTypeDDS; // not decodable
    const TModelRenderer renderer(model);
    EXPECT_FALSE(renderer.Textured());
    TBitmap picture;
    renderer.Render(0, TRenderView(), 40, 40, picture);
    const TRGB centre = At(picture, 20, 20);
    EXPECT_TRUE(centre.R == centre.G && centre.G == centre.B && centre.R > 60) << centre.R;
    // A triangle naming a vertex the frame lacks is left out, not read.
    model.Triangles->Items.push_back({ { 0, 1, 400 }, { 0, 1, 2 } });
    renderer.Render(1, TRenderView(), 40, 40, picture);
    EXPECT_EQ(picture.PixelColor(20, 20), RenderBackground);
    renderer.Render(0, TRenderView(), 40, 40, picture);
    EXPECT_EQ(At(picture, 20, 20).R, centre.R);
    EXPECT_THROW(renderer.Render(0, TRenderView(), 0, 40, picture), ERangeError);
    // Zoomed so far that the corners lie beyond any pixel number.
    renderer.Render(0, { 30, 20, 1e9 }, 40, 40, picture);
    EXPECT_EQ(At(picture, 20, 20).G, At(picture, 0, 39).G);
    EXPECT_NE(picture.PixelColor(20, 20), RenderBackground);
}

// A sphere of latitude rings, faces counter-clockwise seen from outside,
// with outward normals.
std::string SphereOBJ()
{
    const int rings = 16, sides = 32;
    const double pi = 3.14159265358979323846;
    std::string text;
    for (int i = 0; i <= rings; ++i) {
        for (int j = 0; j < sides; ++j) {
            const double t = pi * i / rings, p = 2 * pi * j / sides;
            const double x = std::sin(t) * std::cos(p), y = std::cos(t),
                         z = std::sin(t) * std::sin(p);
            char line[128];
            std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\nvn %.6f %.6f %.6f\n", 0.8 * x,
                0.8 * y, 0.8 * z, x, y, z);
            text += line;
        }
    }
    auto at = [&](int i, int j) { return std::to_string(i * sides + j % sides + 1); };
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < sides; ++j) {
            const std::string a = at(i, j), b = at(i, j + 1), c = at(i + 1, j + 1),
                              d = at(i + 1, j);
            text += "f " + a + "//" + a + " " + b + "//" + b + " " + c + "//" + c + " " + d + "//"
                + d + "\n";
        }
    }
    return text;
}

int Brightness(const TBitmap& Image, int X, int Y)
{
    const TRGB c = At(Image, X, Y);
    return c.R + c.G + c.B;
}

TEST(Renderer, ConvertedNormalsLightTheSideFacingTheLightAndTurnedRoundOnesDoNot)
{
    TScratchDir dir;
    WriteText(dir.File("ball_0.obj"), SphereOBJ());
    TScriptedHost host;
    host.OBJFile = dir.File("ball_0.obj");
    host.MDLFile = dir.File("ball.mdl");
    TConversionCommand command(host);
    ASSERT_EQ(command.Execute(), TConversionCommand::TResult::Completed);
    TMDLModel model;
    model.LoadFromFile(dir.File("ball.mdl"));

    // Upper left of the disc faces the light; the rim at the lower right
    // faces away from it.
    TBitmap picture;
    TModelRenderer(model).Render(0, TRenderView(), 100, 100, picture);
    const int lit = Brightness(picture, 26, 26), unlit = Brightness(picture, 78, 78);
    EXPECT_GT(lit, 2 * unlit) << lit << " " << unlit;

    for (TMDLPackedVertex& v : model.Frames[0].Vertices) {
        const TVec3& n = MDLNormals[v.NormalIndex];
        v.NormalIndex = PlainNormalIndex(Vec3(-n.X, -n.Y, -n.Z));
    }
    TModelRenderer(model).Render(0, TRenderView(), 100, 100, picture);
    EXPECT_LT(Brightness(picture, 26, 26) + 60, Brightness(picture, 78, 78));
}

} // namespace
