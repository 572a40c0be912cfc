// Frame names under the cells of a contact sheet: a 5 x 7 pixel font of the
// printable ASCII characters, drawn in whole-pixel multiples.
#pragma once

#include <cstdint>
#include <string>

class TBitmap;

// The height of the strip under a cell this wide: its text at the scale
// DrawLabel picks, with a margin above and below.
std::int32_t LabelHeightFor(std::int32_t CellWidth);

// Writes Text centred in the strip of a 24-bit image from (Left, Top),
// Width x Height pixels, cut to the characters that fit. Bytes outside
// printable ASCII show as "?", so a hostile name draws only glyphs.
void DrawLabel(TBitmap& Image, std::int32_t Left, std::int32_t Top, std::int32_t Width,
    std::int32_t Height, const std::string& Text);
