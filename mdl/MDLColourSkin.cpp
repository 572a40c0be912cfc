// The colour skin: every triangle painted on a white skin in its material's
// diffuse colour, with a thick outline, at its place on the texture skin.
// Many triangles on a skin of moderate size are painted in two halves by
// two threads.
#include "mdl/MDLClass.h"

#include <cstdint>
#include <exception>
#include <system_error>
#include <thread>

#include "image/Bitmap.h"
#include "obj/OBJClass.h"

namespace {

constexpr int OutlineWidth = 5;
// The largest colour skin painted in two halves by two threads.
constexpr std::uint64_t MaxSkinBytesInHalves = std::uint64_t(16) << 20;
constexpr std::size_t MinTrianglesInHalves = 2048;

} // namespace

void TMDLModel::PaintColourSkin(const TOBJModel& OBJModel, std::int32_t Width, std::int32_t Height)
{
    std::vector<TColor> colours;
    colours.reserve(OBJModel.Materials.size());
    for (const TOBJMaterial& material : OBJModel.Materials)
        colours.push_back(VecToColor(material.Kd));
    // The material whose colours paint each triangle, found before the
    // painting threads start. A triangle without a material keeps the
    // colours of the last one that had one; before any, the pen is black
    // and the brush white.
    std::vector<std::int32_t> materialOf;
    materialOf.reserve(Triangles->MaterialNames.size());
    const std::vector<std::int32_t> materialOfName
        = TMaterialLookup(OBJModel.Materials).FindAll(Triangles->MaterialNameTable);
    std::int32_t current = NoMaterial;
    for (const std::uint32_t name : Triangles->MaterialNames) {
        const std::int32_t found = name < materialOfName.size() ? materialOfName[name] : NoMaterial;
        if (found != NoMaterial)
            current = found;
        materialOf.push_back(current);
    }

    // Paints the Rows rows of the skin from row Top down on Band, whose row 0
    // is the skin's row Top. What a pixel gets depends only on differences
    // of coordinates, so every triangle, moved up by Top, paints on the band
    // exactly what it paints on those rows of the whole skin.
    auto paint = [&](TBitmap& band, std::int32_t top, std::int32_t rows) {
        band.SetBitsPerPixel(24);
        band.SetWidth(Width);
        band.SetHeight(rows);
        TCanvas& canvas = band.Canvas();
        canvas.Brush.Color = clWhite;
        canvas.Brush.Style = bsSolid;
        canvas.Pen.Style = psSolid;
        canvas.Pen.SetWidth(OutlineWidth);
        canvas.FillRect(TRect { 0, 0, Width, rows });

        // Later triangles paint over earlier ones. They are painted from the
        // last to the first, each only where no later one has painted: the
        // same skin, but each pixel painted once, however many triangles
        // lie over it.
        canvas.SetPaintUnder(true);
        const std::vector<TMDLSkinVert>& verts = SkinVerts->Items;
        for (std::size_t i = Triangles->Items.size(); i-- > 0;) {
            const TMDLTriangle& triangle = Triangles->Items[i];
            const std::int32_t material = materialOf[i];
            canvas.Pen.Color
                = material != NoMaterial ? colours[static_cast<std::size_t>(material)] : clBlack;
            canvas.Brush.Color
                = material != NoMaterial ? colours[static_cast<std::size_t>(material)] : clWhite;
            TPoint points[3];
            bool onSkin = true;
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t index = static_cast<std::uint32_t>(triangle.UVIndex[k]);
                if (index >= verts.size()) {
                    onSkin = false;
                    break;
                }
                points[k] = TPoint { verts[index].U, verts[index].V - top };
            }
            // A corner without a skin vertex has no place on the skin.
            if (onSkin)
                canvas.Polygon(points, 3);
        }
        canvas.SetPaintUnder(false);
    };

    ColourSkin.reset(new TMDLSkin5);
    // The upper and the lower half are painted side by side by two threads.
    // A very large skin is painted whole: its halves would briefly be held
    // twice when they are joined. So are a few triangles, quicker painted
    // than a thread is started.
    const std::int32_t upperRows = Height / 2;
    const bool halves = PaintInParallel && upperRows > 0 && Width > 0
        && Triangles->Items.size() >= MinTrianglesInHalves
        && std::uint64_t(Width) * std::uint64_t(Height) * 3 <= MaxSkinBytesInHalves
        && std::thread::hardware_concurrency() >= 2;
    auto paintWhole = [&] {
        TBitmap bitmap;
        paint(bitmap, 0, Height);
        ColourSkin->FromBitmap888(std::move(bitmap));
    };
    if (!halves) {
        paintWhole();
        return;
    }
    TBitmap upper, lower;
    std::exception_ptr lowerFailure;
    std::thread lowerThread;
    try {
        lowerThread = std::thread([&] {
            try {
                paint(lower, upperRows, Height - upperRows);
            } catch (...) {
                lowerFailure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        paintWhole(); // no second thread to be had
        return;
    }
    try {
        paint(upper, 0, upperRows);
    } catch (...) {
        lowerThread.join();
        throw;
    }
    lowerThread.join();
    if (lowerFailure)
        std::rethrow_exception(lowerFailure);
    // Packed rows from the top, as a type 4 skin holds them.
    std::vector<std::uint8_t> rows = upper.TakePackedRows();
    const std::vector<std::uint8_t> lowerRows = lower.TakePackedRows();
    rows.insert(rows.end(), lowerRows.begin(), lowerRows.end());
    ColourSkin->SkinType = SkinType888;
    ColourSkin->Width = Width;
    ColourSkin->Height = Height;
    ColourSkin->Data = std::move(rows);
}
