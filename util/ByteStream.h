// Little-endian binary data: the BMP and MDL5 files store every multi-byte
// field so, whatever the machine. A reader over bytes in memory that never
// reads past their end, and a writer into a buffer that may hand its bytes on
// to a file as it fills. These and the four helpers below are the only places
// that know the byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "util/Vector.h"

inline std::uint16_t GetU16LE(const std::uint8_t* Bytes)
{
    return static_cast<std::uint16_t>(Bytes[0] | Bytes[1] << 8);
}

inline std::uint32_t GetU32LE(const std::uint8_t* Bytes)
{
    return static_cast<std::uint32_t>(Bytes[0]) | static_cast<std::uint32_t>(Bytes[1]) << 8
        | static_cast<std::uint32_t>(Bytes[2]) << 16 | static_cast<std::uint32_t>(Bytes[3]) << 24;
}

inline void PutU16LE(std::uint8_t* Bytes, std::uint16_t Value)
{
    Bytes[0] = static_cast<std::uint8_t>(Value);
    Bytes[1] = static_cast<std::uint8_t>(Value >> 8);
}

inline void PutU32LE(std::uint8_t* Bytes, std::uint32_t Value)
{
    Bytes[0] = static_cast<std::uint8_t>(Value);
    Bytes[1] = static_cast<std::uint8_t>(Value >> 8);
    Bytes[2] = static_cast<std::uint8_t>(Value >> 16);
    Bytes[3] = static_cast<std::uint8_t>(Value >> 24);
}

// Fields out of a byte range. Every read is checked against what is left;
// one that would pass the end calls the owner's short-read handler, which
// raises the owner's own error (a truncated bitmap and a truncated model
// are told apart), with a few words on what was being read.
class TByteReader
{
public:
    // Must not return.
    using TShortRead
        = void (*)(const TByteReader& Reader, std::uint64_t Count, std::string_view What);

    TByteReader(const std::uint8_t* Data, std::size_t Size, TShortRead OnShortRead)
        : FData(Data)
        , FSize(Size)
        , FOnShortRead(OnShortRead)
    {
    }

    std::size_t Size() const { return FSize; }
    std::size_t Position() const { return FPos; }
    std::size_t Left() const { return FSize - FPos; }
    bool Has(std::uint64_t Count) const { return Count <= Left(); }
    // Calls the short-read handler unless Count bytes are left.
    void Need(std::uint64_t Count, std::string_view What = {}) const
    {
        if (!Has(Count))
            FOnShortRead(*this, Count, What);
    }

    std::uint8_t U8()
    {
        Need(1);
        return FData[FPos++];
    }
    std::uint16_t U16()
    {
        Need(2);
        const std::uint16_t value = GetU16LE(FData + FPos);
        FPos += 2;
        return value;
    }
    std::uint32_t U32()
    {
        Need(4);
        const std::uint32_t value = GetU32LE(FData + FPos);
        FPos += 4;
        return value;
    }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    float F32();
    TVec3 Vec();
    // Copies Count bytes out.
    void Bytes(void* To, std::size_t Count);
    // The next Count bytes in place, passed over.
    const std::uint8_t* Take(std::size_t Count)
    {
        Need(Count);
        const std::uint8_t* at = FData + FPos;
        FPos += Count;
        return at;
    }
    void Skip(std::uint64_t Count)
    {
        Need(Count);
        FPos += static_cast<std::size_t>(Count);
    }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
    TShortRead FOnShortRead;
};

// Fields into a byte buffer. With a sink, the buffer is handed on whenever
// it fills and on Flush; without one, it keeps every byte.
class TByteWriter
{
public:
    using TSink = void (*)(void* Context, const std::uint8_t* Data, std::size_t Size);

    TByteWriter() = default;
    TByteWriter(TSink Sink, void* Context);

    void U16(std::uint16_t Value);
    void U32(std::uint32_t Value);
    void I32(std::int32_t Value) { U32(static_cast<std::uint32_t>(Value)); }
    void F32(float Value);
    void Vec(const TVec3& Value);
    void Bytes(const void* Data, std::size_t Size);
    void Flush();

    // The bytes not yet handed to a sink.
    const std::vector<std::uint8_t>& Buffer() const { return FBuffer; }
    std::vector<std::uint8_t> TakeBuffer() { return std::move(FBuffer); }

private:
    TSink FSink = nullptr;
    void* FContext = nullptr;
    std::vector<std::uint8_t> FBuffer;
};

// Writes a list as fixed-size records: Pack lays out one item at the given
// address. The records go to the writer a block at a time, not a field at a
// time, which on a large model is the difference between milliseconds and
// seconds.
template <std::size_t RecordSize, typename TItem, typename TPack>
void WriteRecords(TByteWriter& Out, const std::vector<TItem>& Items, TPack Pack)
{
    constexpr std::size_t RecordsPerBlock = 1024;
    std::uint8_t block[RecordsPerBlock * RecordSize];
    std::size_t filled = 0;
    for (const TItem& item : Items) {
        Pack(item, block + filled * RecordSize);
        if (++filled == RecordsPerBlock) {
            Out.Bytes(block, sizeof block);
            filled = 0;
        }
    }
    Out.Bytes(block, filled * RecordSize);
}
