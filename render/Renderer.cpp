// The picture is made in double precision with every product and sum
// written out in the order it is evaluated; the build keeps the compiler
// from fusing them (-ffp-contract=off) and the angles' sines come from our
// own series, so no result depends on the machine's mathematics library.
#include "render/Renderer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "mdl/MDLClass.h"
#include "render/Font.h"
#include "util/Errors.h"

namespace {

struct TDir
{
    double X, Y, Z;
};

double Dot(const TDir& A, const TDir& B)
{
    return A.X * B.X + A.Y * B.Y + A.Z * B.Z;
}

TDir Unit(const TDir& A)
{
    const double length = std::sqrt(Dot(A, A));
    return { A.X / length, A.Y / length, A.Z / length };
}

constexpr double Pi = 3.14159265358979323846;

// Sine and cosine of an angle in degrees, from a fixed series on an exactly
// reduced argument.
void SinCosDegrees(double Degrees, double& Sin, double& Cos)
{
    if (!std::isfinite(Degrees))
        Degrees = 0;
    double d = std::fmod(Degrees, 360.0);
    const double quadrant = std::nearbyint(d / 90.0);
    d -= 90.0 * quadrant;
    const double x = d * (Pi / 180.0);
    const double x2 = x * x;
    // |x| <= pi/4: terms to x^17 and x^18 leave less than one unit in the last place.
    double s = 1.0, c = 1.0;
    for (int n = 17; n >= 3; n -= 2)
        s = 1.0 - s * x2 / (double(n) * double(n - 1));
    s = s * x;
    for (int n = 18; n >= 2; n -= 2)
        c = 1.0 - c * x2 / (double(n) * double(n - 1));
    switch ((static_cast<long long>(quadrant) % 4 + 4) % 4) {
    case 0:
        Sin = s, Cos = c;
        break;
    case 1:
        Sin = c, Cos = -s;
        break;
    case 2:
        Sin = -s, Cos = -c;
        break;
    default:
        Sin = -c, Cos = s;
        break;
    }
}

// The light comes from the viewer's upper left; the ambient term keeps the
// side turned away from it visible.
constexpr double Ambient = 0.3;
constexpr double Diffuse = 0.7;
// How far the camera stands, in radii of the model's sphere: a moderate
// perspective.
constexpr double CameraDistance = 3.0;
// The share of the picture's shorter side the sphere fills at zoom 1.
constexpr double Fill = 0.92;

struct TCorner
{
    double X, Y; // picture coordinates
    double InvDepth; // 1 / distance along the view
    double Light;
    double U, V; // skin pixels
};

struct TCamera
{
    TDir Right, Up, Eye;
    TDir Light; // towards the light, in the file's axes
    double Distance = 0;
    double Focal = 0;
    double CentreX = 0, CentreY = 0;
};

std::uint8_t Channel(double Value)
{
    if (!(Value > 0))
        return 0;
    if (Value >= 255)
        return 255;
    return static_cast<std::uint8_t>(Value + 0.5);
}

void FillBackground(TBitmap& Image)
{
    const std::uint8_t b = (RenderBackground >> 16) & 0xFF, g = (RenderBackground >> 8) & 0xFF,
                       r = RenderBackground & 0xFF;
    for (std::int32_t y = 0; y < Image.Height(); ++y) {
        std::uint8_t* row = Image.RowData(y);
        for (std::int32_t x = 0; x < Image.Width(); ++x) {
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
    }
}

void MakeImage(TBitmap& Image, std::int32_t Width, std::int32_t Height)
{
    if (Width < 1 || Height < 1 || Width > TModelRenderer::MaxSide
        || Height > TModelRenderer::MaxSide)
        throw ERangeError("The picture must be 1 to " + std::to_string(TModelRenderer::MaxSide)
            + " pixels a side.");
    Image.SetWidth(0);
    Image.SetHeight(0);
    Image.SetBitsPerPixel(24);
    Image.SetWidth(Width);
    Image.SetHeight(Height);
    FillBackground(Image);
}

} // namespace

TModelRenderer::TModelRenderer(const TMDLModel& Model)
    : FModel(Model)
{
    const std::vector<const TMDLSkin5*> skins = Model.FileSkins();
    if (!skins.empty() && skins[0]->Decodable() && skins[0]->Width > 0 && skins[0]->Height > 0) {
        FSkin = skins[0]->DecodeColours();
        FSkinWidth = skins[0]->Width;
        FSkinHeight = skins[0]->Height;
    }

    // The box of every finite position of every frame, then the farthest of
    // them from its centre.
    double low[3], high[3];
    std::fill(low, low + 3, std::numeric_limits<double>::infinity());
    std::fill(high, high + 3, -std::numeric_limits<double>::infinity());
    auto finite = [](const TVec3& p) {
        return std::isfinite(p.X) && std::isfinite(p.Y) && std::isfinite(p.Z);
    };
    for (const TMDLFrame& frame : Model.Frames) {
        for (const TMDLPackedVertex& vertex : frame.Vertices) {
            const TVec3 p = Model.DecodePosition(vertex);
            if (!finite(p))
                continue;
            const double c[3] = { p.X, p.Y, p.Z };
            for (int k = 0; k < 3; ++k) {
                low[k] = std::min(low[k], c[k]);
                high[k] = std::max(high[k], c[k]);
            }
        }
    }
    if (!(low[0] <= high[0]))
        return;
    const double centre[3] = { low[0] + (high[0] - low[0]) / 2, low[1] + (high[1] - low[1]) / 2,
        low[2] + (high[2] - low[2]) / 2 };
    FCentre = Vec3(float(centre[0]), float(centre[1]), float(centre[2]));
    double farthest = 0;
    for (const TMDLFrame& frame : Model.Frames) {
        for (const TMDLPackedVertex& vertex : frame.Vertices) {
            const TVec3 p = Model.DecodePosition(vertex);
            if (!finite(p))
                continue;
            const TDir d { p.X - double(FCentre.X), p.Y - double(FCentre.Y),
                p.Z - double(FCentre.Z) };
            farthest = std::max(farthest, Dot(d, d));
        }
    }
    farthest = std::sqrt(farthest);
    if (farthest > 0 && std::isfinite(farthest))
        FRadius = farthest;
}

TModelRenderer::~TModelRenderer() = default;

std::size_t TModelRenderer::FrameCount() const
{
    return FModel.Frames.size();
}

void TModelRenderer::Render(std::size_t Frame, const TRenderView& View, std::int32_t Width,
    std::int32_t Height, TBitmap& Image) const
{
    MakeImage(Image, Width, Height);
    if (Frame >= FModel.Frames.size() || !FModel.Triangles)
        return;
    const TMDLFrame& frame = FModel.Frames[Frame];

    TCamera camera;
    double sinYaw, cosYaw, sinPitch, cosPitch;
    SinCosDegrees(View.Yaw, sinYaw, cosYaw);
    SinCosDegrees(View.Pitch, sinPitch, cosPitch);
    camera.Eye = { cosPitch * cosYaw, cosPitch * sinYaw, sinPitch };
    camera.Right = { -sinYaw, cosYaw, 0 };
    camera.Up = { -sinPitch * cosYaw, -sinPitch * sinYaw, cosPitch };
    // Left, up and towards the viewer, in equal parts.
    camera.Light = Unit({ -camera.Right.X + camera.Up.X + camera.Eye.X,
        -camera.Right.Y + camera.Up.Y + camera.Eye.Y,
        -camera.Right.Z + camera.Up.Z + camera.Eye.Z });
    camera.Distance = CameraDistance * FRadius;
    const double zoom = std::isfinite(View.Zoom) && View.Zoom > 0 ? View.Zoom : 1.0;
    // The sphere's outline has radius Focal * R / sqrt(D^2 - R^2) in the picture.
    const double halfSide = double(std::min(Width, Height)) / 2;
    camera.Focal = Fill * halfSide * zoom * std::sqrt(CameraDistance * CameraDistance - 1.0);
    camera.CentreX = double(Width) / 2;
    camera.CentreY = double(Height) / 2;

    // Every vertex once: its place in the picture and its light.
    const std::size_t count = frame.Vertices.size();
    std::vector<TCorner> corners(count);
    std::vector<bool> usable(count);
    for (std::size_t i = 0; i < count; ++i) {
        const TMDLPackedVertex& vertex = frame.Vertices[i];
        const TVec3 p = FModel.DecodePosition(vertex);
        const TDir d { double(p.X) - double(FCentre.X), double(p.Y) - double(FCentre.Y),
            double(p.Z) - double(FCentre.Z) };
        const double depth = camera.Distance - Dot(d, camera.Eye);
        TCorner& corner = corners[i];
        corner.InvDepth = 1.0 / depth;
        corner.X = camera.CentreX + camera.Focal * Dot(d, camera.Right) * corner.InvDepth;
        corner.Y = camera.CentreY - camera.Focal * Dot(d, camera.Up) * corner.InvDepth;
        // The table's directions point the way the stored triangles wind,
        // into the model; the surface faces the other way.
        const TVec3& n = MDLNormals[vertex.NormalIndex < 162 ? vertex.NormalIndex : 0];
        const double facing = -Dot({ n.X, n.Y, n.Z }, camera.Light);
        corner.Light = Ambient + Diffuse * std::max(0.0, facing);
        usable[i] = std::isfinite(corner.X) && std::isfinite(corner.Y) && depth > 0;
    }

    std::vector<float> nearest(std::size_t(Width) * std::size_t(Height), 0.0f);
    const std::vector<TMDLSkinVert> none;
    const std::vector<TMDLSkinVert>& skinVerts = FModel.SkinVerts ? FModel.SkinVerts->Items : none;
    const double grey = double(RenderNeutralGrey & 0xFF);

    for (const TMDLTriangle& triangle : FModel.Triangles->Items) {
        TCorner c[3];
        bool drawn = true;
        for (int k = 0; k < 3; ++k) {
            const std::int32_t index = triangle.VertexIndex[k];
            drawn = drawn && index >= 0 && std::size_t(index) < count && usable[index];
            if (drawn)
                c[k] = corners[index];
        }
        if (!drawn)
            continue;
        bool textured = Textured();
        for (int k = 0; k < 3 && textured; ++k) {
            const std::int32_t index = triangle.UVIndex[k];
            textured = index >= 0 && std::size_t(index) < skinVerts.size();
            if (!textured)
                break;
            // As the engine maps them: pixel s is at s / width, so a
            // triangle's inside reaches the texels up to its edges.
            c[k].U = double(SkinPixel(skinVerts[index].U, FSkinWidth));
            c[k].V = double(SkinPixel(skinVerts[index].V, FSkinHeight));
        }

        const double area
            = (c[1].X - c[0].X) * (c[2].Y - c[0].Y) - (c[1].Y - c[0].Y) * (c[2].X - c[0].X);
        if (!(area != 0) || !std::isfinite(area))
            continue;
        const double left = std::min({ c[0].X, c[1].X, c[2].X });
        const double right = std::max({ c[0].X, c[1].X, c[2].X });
        const double top = std::min({ c[0].Y, c[1].Y, c[2].Y });
        const double bottom = std::max({ c[0].Y, c[1].Y, c[2].Y });
        // Pixel centres at x + 0.5 inside [left, right], limited to the
        // picture before they become integers.
        const double w = double(Width), h = double(Height);
        const auto x0 = std::int32_t(std::min(w, std::max(0.0, std::ceil(left - 0.5))));
        const auto x1 = std::int32_t(std::max(-1.0, std::min(w - 1, std::floor(right - 0.5))));
        const auto y0 = std::int32_t(std::min(h, std::max(0.0, std::ceil(top - 0.5))));
        const auto y1 = std::int32_t(std::max(-1.0, std::min(h - 1, std::floor(bottom - 0.5))));
        if (x0 > x1 || y0 > y1)
            continue;
        const double inverseArea = 1.0 / area;
        // Attributes over depth, interpolated linearly in the picture.
        double light[3], u[3], v[3];
        for (int k = 0; k < 3; ++k) {
            light[k] = c[k].Light * c[k].InvDepth;
            u[k] = textured ? c[k].U * c[k].InvDepth : 0;
            v[k] = textured ? c[k].V * c[k].InvDepth : 0;
        }
        for (std::int32_t y = y0; y <= y1; ++y) {
            const double py = double(y) + 0.5;
            std::uint8_t* row = Image.RowData(y);
            float* depthRow = nearest.data() + std::size_t(y) * std::size_t(Width);
            for (std::int32_t x = x0; x <= x1; ++x) {
                const double px = double(x) + 0.5;
                const double w0
                    = ((c[1].X - px) * (c[2].Y - py) - (c[1].Y - py) * (c[2].X - px)) * inverseArea;
                const double w1
                    = ((c[2].X - px) * (c[0].Y - py) - (c[2].Y - py) * (c[0].X - px)) * inverseArea;
                const double w2
                    = ((c[0].X - px) * (c[1].Y - py) - (c[0].Y - py) * (c[1].X - px)) * inverseArea;
                if (w0 < 0 || w1 < 0 || w2 < 0)
                    continue;
                const double invDepth
                    = w0 * c[0].InvDepth + w1 * c[1].InvDepth + w2 * c[2].InvDepth;
                const float closeness = static_cast<float>(invDepth);
                if (!(closeness > depthRow[x]))
                    continue;
                depthRow[x] = closeness;
                const double shade = (w0 * light[0] + w1 * light[1] + w2 * light[2]) / invDepth;
                double red = grey, green = grey, blue = grey;
                if (textured) {
                    const double su = (w0 * u[0] + w1 * u[1] + w2 * u[2]) / invDepth;
                    const double sv = (w0 * v[0] + w1 * v[1] + w2 * v[2]) / invDepth;
                    const double tx
                        = std::min(std::max(std::floor(su), 0.0), double(FSkinWidth - 1));
                    const double ty
                        = std::min(std::max(std::floor(sv), 0.0), double(FSkinHeight - 1));
                    const std::uint32_t texel
                        = FSkin[std::size_t(ty) * std::size_t(FSkinWidth) + std::size_t(tx)];
                    red = double((texel >> 16) & 0xFF);
                    green = double((texel >> 8) & 0xFF);
                    blue = double(texel & 0xFF);
                }
                row[3 * x] = Channel(blue * shade);
                row[3 * x + 1] = Channel(green * shade);
                row[3 * x + 2] = Channel(red * shade);
            }
        }
    }
}

TSheetLayout TSheetLayout::For(std::size_t Frames, std::int32_t CellWidth, std::int32_t CellHeight)
{
    TSheetLayout layout;
    const std::size_t cells = std::max<std::size_t>(Frames, 1);
    std::size_t columns = 1;
    while (columns * columns < cells)
        ++columns;
    layout.Columns = static_cast<std::int32_t>(columns);
    layout.Rows = static_cast<std::int32_t>((cells + columns - 1) / columns);
    layout.CellWidth = CellWidth;
    layout.CellHeight = CellHeight;
    layout.LabelHeight = LabelHeightFor(CellWidth);
    return layout;
}

void RenderContactSheet(const TModelRenderer& Renderer, const TRenderView& View,
    const TSheetLayout& Layout, TBitmap& Sheet)
{
    const std::int64_t width = Layout.Width(), height = Layout.Height();
    if (width > TBitmap::MaxDimension || height > TBitmap::MaxDimension
        || std::uint64_t(TBitmap::StrideFor(width, 24)) * std::uint64_t(height)
            > TBitmap::MaxStoreBytes)
        throw ERangeError("A sheet of " + std::to_string(Renderer.FrameCount()) + " frames at "
            + std::to_string(Layout.CellWidth) + " x " + std::to_string(Layout.CellHeight)
            + " pixels would be " + std::to_string(width) + " x " + std::to_string(height)
            + " pixels, more than a picture may hold; choose a smaller size.");
    Sheet.SetWidth(0);
    Sheet.SetHeight(0);
    Sheet.SetBitsPerPixel(24);
    Sheet.SetWidth(static_cast<std::int32_t>(width));
    Sheet.SetHeight(static_cast<std::int32_t>(height));
    FillBackground(Sheet);

    TBitmap cell;
    const TMDLModel& model = Renderer.Model();
    for (std::size_t frame = 0; frame < Renderer.FrameCount(); ++frame) {
        const std::int32_t left
            = std::int32_t(frame % std::size_t(Layout.Columns)) * Layout.CellWidth;
        const std::int32_t top = std::int32_t(frame / std::size_t(Layout.Columns))
            * (Layout.CellHeight + Layout.LabelHeight);
        Renderer.Render(frame, View, Layout.CellWidth, Layout.CellHeight, cell);
        for (std::int32_t y = 0; y < Layout.CellHeight; ++y)
            std::copy_n(cell.RowData(y), std::size_t(Layout.CellWidth) * 3,
                Sheet.RowData(top + y) + std::size_t(left) * 3);
        DrawLabel(Sheet, left, top + Layout.CellHeight, Layout.CellWidth, Layout.LabelHeight,
            model.Frames[frame].NameText());
    }
}
