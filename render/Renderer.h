// A picture of an MDL5 model: one frame drawn in perspective, z-buffered,
// textured from the first skin and lit from the viewer's upper left, into a
// 24-bit image. The same model and view give the same pixels on every
// machine: one thread, and every sum evaluated in a fixed order without
// fused multiply-adds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/Bitmap.h"
#include "util/Vector.h"

class TMDLModel;

// Where the camera looks from. It always looks at the centre of the
// model's box (over all frames, so that an animation does not move in the
// picture); yaw turns it round the model's up axis (the file's Z) starting
// in front of the model (the file's +X), pitch raises it above the horizon.
struct TRenderView
{
    double Yaw = 30; // degrees
    double Pitch = 20; // degrees
    // 1 fits the model's bounding sphere to the picture; 2 shows it twice
    // as large.
    double Zoom = 1;
};

// The picture's colours (as every TColor, red in the low byte): a dark
// slate behind the model.
constexpr TColor RenderBackground = 0x403830;
// The surface of a model without a usable skin, before lighting.
constexpr TColor RenderNeutralGrey = 0xB4B4B4;

class TModelRenderer
{
public:
    // The largest picture side Render draws.
    static constexpr std::int32_t MaxSide = 4096;

    // Decodes the first skin when it can be shown (else the model is drawn
    // grey) and measures every frame once. The model must outlive the
    // renderer and stay unchanged while it is used. Several threads may
    // call Render on one renderer at once.
    explicit TModelRenderer(const TMDLModel& Model);
    ~TModelRenderer();
    TModelRenderer(const TModelRenderer&) = delete;
    TModelRenderer& operator=(const TModelRenderer&) = delete;

    std::size_t FrameCount() const;
    // Whether triangles are textured from the first skin.
    bool Textured() const { return !FSkin.empty(); }
    const TMDLModel& Model() const { return FModel; }

    // Draws frame Frame (< FrameCount(); a model without frames draws the
    // background) into Image, made Width x Height (1 to MaxSide each, else
    // ERangeError) at 24 bits. Triangles that name a missing vertex are left
    // out; one that names a missing skin vertex is grey.
    void Render(std::size_t Frame, const TRenderView& View, std::int32_t Width, std::int32_t Height,
        TBitmap& Image) const;

private:
    const TMDLModel& FModel;
    std::vector<std::uint32_t> FSkin; // 0xAARRGGBB, rows from the top
    std::int32_t FSkinWidth = 0;
    std::int32_t FSkinHeight = 0;
    // The box over all frames, in the file's axes.
    TVec3 FCentre { 0, 0, 0 };
    double FRadius = 1;
};

// A contact sheet: every frame in a grid, its name under each cell.
struct TSheetLayout
{
    std::int32_t Columns = 0;
    std::int32_t Rows = 0;
    std::int32_t CellWidth = 0;
    std::int32_t CellHeight = 0; // the picture, not its name
    std::int32_t LabelHeight = 0;

    // As square a grid as the frames allow (at least one cell).
    static TSheetLayout For(std::size_t Frames, std::int32_t CellWidth, std::int32_t CellHeight);
    std::int64_t Width() const { return std::int64_t(Columns) * CellWidth; }
    std::int64_t Height() const { return std::int64_t(Rows) * (CellHeight + LabelHeight); }
};

// Draws every frame of the renderer's model into Sheet as Layout places them.
// ERangeError when the sheet would pass the pixel store's limit.
void RenderContactSheet(const TModelRenderer& Renderer, const TRenderView& View,
    const TSheetLayout& Layout, TBitmap& Sheet);
