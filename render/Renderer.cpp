#include "render/Renderer.h"

#include "mdl/MDLClass.h"

TModelRenderer::TModelRenderer(const TMDLModel& Model)
    : FModel(Model)
{
}

TModelRenderer::~TModelRenderer() = default;

std::size_t TModelRenderer::FrameCount() const
{
    return FModel.Frames.size();
}

void TModelRenderer::Render(std::size_t, const TRenderView&, std::int32_t Width,
    std::int32_t Height, TBitmap& Image) const
{
    Image.SetBitsPerPixel(24);
    Image.SetWidth(Width);
    Image.SetHeight(Height);
}

TSheetLayout TSheetLayout::For(std::size_t, std::int32_t CellWidth, std::int32_t CellHeight)
{
    TSheetLayout layout;
    layout.Columns = 1;
    layout.Rows = 1;
    layout.CellWidth = CellWidth;
    layout.CellHeight = CellHeight;
    return layout;
}

void RenderContactSheet(const TModelRenderer&, const TRenderView&, const TSheetLayout&, TBitmap&)
{
}
