#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace kvemu::chips {

// What an ONFI 1.0 parameter page says about a chip (one LUN per chip
// enable is enough for our parts).
struct OnfiDescription
{
    std::string manufacturer; // at most 12 characters, blank-padded
    std::string model;        // at most 20 characters, blank-padded
    std::uint8_t jedecManufacturer = 0;
    std::uint32_t dataBytesPerPage = 2048;
    std::uint16_t spareBytesPerPage = 64;
    std::uint32_t pagesPerBlock = 64;
    std::uint32_t blocksPerLun = 1024;
    std::uint8_t lunCount = 1;
    std::uint8_t columnCycles = 2;
    std::uint8_t rowCycles = 2;
    std::uint16_t maxBadBlocksPerLun = 20;
    std::uint16_t programTimeUs = 700; // tPROG maximum
    std::uint16_t eraseTimeUs = 3000;  // tBERS maximum
    std::uint16_t readTimeUs = 25;     // tR maximum
};

// The 256-byte parameter page that READ PARAMETER PAGE (ECh) returns, laid
// out as ONFI 1.0 says, closed by its integrity CRC. The chip sends it
// repeatedly: the copies after the first are the redundant ones.
class OnfiParameterPage
{
public:
    static constexpr std::size_t Size = 256;
    // The CRC covers bytes 0..253 and sits little-endian in 254..255.
    static constexpr std::size_t CrcOffset = 254;

    static std::array<std::uint8_t, Size> build(const OnfiDescription &description);
    // ONFI's CRC-16: polynomial 0x8005, initial value 0x4F4E, bits taken most
    // significant first, no reflection, no final XOR.
    static std::uint16_t crc16(std::span<const std::uint8_t> bytes);
};

} // namespace kvemu::chips
