#pragma once

#include "ChipTime.h"

#include <cstdint>
#include <vector>

namespace kvemu::chips {

// What the SFDP area of a serial NOR flash describes.
struct SfdpDescription
{
    std::uint64_t sizeBytes = 8 * 1024 * 1024;
    std::uint8_t manufacturer = 0xEF; // JEDEC ID of the vendor table
    std::uint32_t pageSize = 256;
    bool erase4k = true;    // 20h
    bool erase32k = true;   // 52h
    bool erase64k = true;   // D8h
    bool dualOutput = true; // 1-1-2 fast read, 3Bh
    bool quadOutput = true; // 1-1-4 fast read, 6Bh
    // 3: three-byte addresses only; 4: four only; 34: three, or four after B7h.
    unsigned addressModes = 3;
    Nanos pageProgramTime = 700 * Microsecond;
    Nanos erase4kTime = 45 * Millisecond;
    Nanos erase32kTime = 120 * Millisecond;
    Nanos erase64kTime = 150 * Millisecond;
    Nanos chipEraseTime = 20000 * Millisecond;
};

// The SFDP area that Read SFDP (5Ah) returns, laid out as JESD216B: the SFDP
// header, the parameter headers (the basic flash parameter table first, then
// a vendor table, then for parts with four-byte addressing the 4-byte address
// instruction table), and the tables themselves. Bytes past the end read 0xFF.
class SfdpTable
{
public:
    static constexpr std::uint32_t Signature = 0x50444653; // "SFDP", little-endian
    static constexpr std::uint32_t BasicTableOffset = 0x30;
    static constexpr std::uint32_t BasicTableWords = 16;
    static constexpr std::uint32_t VendorTableOffset = 0x80;
    static constexpr std::uint32_t VendorTableWords = 4;
    static constexpr std::uint32_t FourByteTableOffset = 0x90;
    static constexpr std::uint32_t FourByteTableWords = 2;
    static constexpr std::uint8_t FourByteTableId = 0x84; // ID LSB, MSB 0xFF

    static std::vector<std::uint8_t> build(const SfdpDescription &description);
};

} // namespace kvemu::chips
