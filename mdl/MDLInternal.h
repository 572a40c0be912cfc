// What the files of the MDL5 model share and nothing outside them needs: the
// file's fixed sizes, which the writer and the reader must agree on, and the
// arithmetic of 16-bit fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "util/Activity.h"

namespace MDLDetail {

using Extended = long double;

constexpr char Ident[4] = { 'M', 'D', 'L', '5' };
// The fixed parts of the blocks after the header.
constexpr std::size_t SkinHeaderSize = 12; // type, width, height
constexpr std::size_t SkinVertSize = 4;
constexpr std::size_t TriangleSize = 12;
constexpr std::size_t FrameHeaderSize = 36; // type, box, name
constexpr std::size_t PackedVertexSize = 8;
// A frame of 8-bit coordinates: type, two 4-byte box vertices, name.
constexpr std::size_t Frame8HeaderSize = 28;
constexpr std::size_t PackedVertex8Size = 4;
constexpr std::uint16_t PackedMax = 65535;
// The header's scale of an axis whose coordinates lie inside -1..1.
constexpr float ModelScale = 0.01f;

// The low 16 bits of an integer-valued number, as a two's complement integer
// of any width would hold them; 0 for a value that is not finite.
std::uint16_t Low16(Extended Integral);

// Unset means "do nothing".
inline void LogTo(TActivityLog* Log, const std::string& Text)
{
    if (Log)
        Log->AddLine(Text);
}

} // namespace MDLDetail
