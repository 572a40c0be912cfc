#include "util/ByteStream.h"

#include <cstring>

namespace {

// Bytes a writer with a sink gathers before it hands them on.
constexpr std::size_t WriteBufferSize = std::size_t(64) << 10;

} // namespace

float TByteReader::F32()
{
    const std::uint32_t bits = U32();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TVec3 TByteReader::Vec()
{
    const float x = F32();
    const float y = F32();
    return Vec3(x, y, F32());
}

void TByteReader::Bytes(void* To, std::size_t Count)
{
    if (Count == 0)
        return;
    std::memcpy(To, Take(Count), Count);
}

TByteWriter::TByteWriter(TSink Sink, void* Context)
    : FSink(Sink)
    , FContext(Context)
{
    FBuffer.reserve(WriteBufferSize);
}

void TByteWriter::U16(std::uint16_t Value)
{
    std::uint8_t bytes[2];
    PutU16LE(bytes, Value);
    Bytes(bytes, sizeof bytes);
}

void TByteWriter::U32(std::uint32_t Value)
{
    std::uint8_t bytes[4];
    PutU32LE(bytes, Value);
    Bytes(bytes, sizeof bytes);
}

void TByteWriter::F32(float Value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &Value, sizeof bits);
    U32(bits);
}

void TByteWriter::Vec(const TVec3& Value)
{
    F32(Value.X);
    F32(Value.Y);
    F32(Value.Z);
}

void TByteWriter::Bytes(const void* Data, std::size_t Size)
{
    if (Size == 0)
        return;
    const auto* bytes = static_cast<const std::uint8_t*>(Data);
    if (FSink && FBuffer.size() + Size > WriteBufferSize) {
        Flush();
        if (Size >= WriteBufferSize) {
            FSink(FContext, bytes, Size);
            return;
        }
    }
    FBuffer.insert(FBuffer.end(), bytes, bytes + Size);
}

void TByteWriter::Flush()
{
    if (FSink && !FBuffer.empty()) {
        FSink(FContext, FBuffer.data(), FBuffer.size());
        FBuffer.clear();
    }
}
