#include "image/PixelFormat.h"

#include <limits>

namespace ImageDetail {

bool IsValidDepth(int bitsPerPixel)
{
    switch (bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return true;
    default:
        return false;
    }
}

TChannel MakeChannel(std::uint32_t mask)
{
    TChannel channel;
    channel.Mask = mask;
    if (mask == 0)
        return channel;
    int low = 0;
    while (((mask >> low) & 1) == 0)
        ++low;
    int high = 31;
    while (((mask >> high) & 1) == 0)
        --high;
    channel.Shift = low;
    channel.Bits = high - low + 1;
    return channel;
}

TPixelFormat::TPixelFormat(
    int bitsPerPixel, const std::vector<TRGBQuad>* table, const std::uint32_t* masks)
    : FBits(bitsPerPixel)
    , FTable(table)
{
    // Only 16- and 32-bit pixels have channels; the canvas makes a format
    // for every polygon, so the others skip measuring the masks.
    if (FBits != 16 && FBits != 32)
        return;
    const std::uint32_t* use = masks;
    if (!use)
        use = FBits == 16 ? Default16Masks : Default32Masks;
    for (int i = 0; i < 3; ++i)
        FChannels[i] = MakeChannel(use[i]);
}

std::uint32_t TPixelFormat::NearestIndex(TColor c) const
{
    if (!FTable)
        return 0;
    const std::size_t usable = std::min(FTable->size(), std::size_t(1) << FBits);
    std::uint32_t best = 0;
    long bestDistance = std::numeric_limits<long>::max();
    for (std::size_t i = 0; i < usable; ++i) {
        const TRGBQuad& q = (*FTable)[i];
        const long dr = long(q.Red) - long(RedOf(c));
        const long dg = long(q.Green) - long(GreenOf(c));
        const long db = long(q.Blue) - long(BlueOf(c));
        const long distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<std::uint32_t>(i);
        }
    }
    return best;
}

} // namespace ImageDetail
