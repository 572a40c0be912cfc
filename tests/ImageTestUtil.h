// Helpers shared by the tests that look at pixels.
#pragma once

#include <cstdint>

#include "image/Bitmap.h"

// The pixels of the rectangle that are not `color`.
inline int CountOther(const TBitmap& image, TColor color, const TRect& r)
{
    int n = 0;
    for (std::int32_t y = r.Top; y < r.Bottom; ++y) {
        for (std::int32_t x = r.Left; x < r.Right; ++x)
            n += image.PixelColor(x, y) != color;
    }
    return n;
}
