#pragma once

#include <cstdint>

// One record of a firmware image as the transport library downloads it:
// 22 bytes, an image is an array of them ended by a record of type End.
struct FirmwareRecord
{
    enum Type : std::uint8_t { Data = 0, End = 1 };
    static constexpr int MaxData = 16;

    std::uint8_t length; // data bytes used, at most 16
    std::uint8_t padding0;
    std::uint8_t address[2]; // load address, little-endian
    std::uint8_t type;
    std::uint8_t data[MaxData];
    std::uint8_t padding1;

    unsigned loadAddress() const { return unsigned(address[0]) | unsigned(address[1]) << 8; }
};

static_assert(sizeof(FirmwareRecord) == 22, "firmware records are 22 bytes");
