#include "SfdpTable.h"

#include <algorithm>

namespace kvemu::chips {

namespace {

void put32(std::vector<std::uint8_t> &table, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        table[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Second word of the basic table: density in bits, as N - 1 up to 2 Gbit and
// as 2^N (bit 31 set) above.
std::uint32_t densityWord(std::uint64_t bytes)
{
    const std::uint64_t bits = bytes * 8;
    if (bits <= (1ull << 31))
        return static_cast<std::uint32_t>(bits - 1);
    unsigned n = 0;
    while ((1ull << n) < bits)
        ++n;
    return 0x80000000u | n;
}

// A typical time as (count + 1) x unit in `countBits` bits and a two-bit
// unit; `units` in nanoseconds, smallest first. Returns count | unit << countBits.
std::uint32_t encodeTime(Nanos time, const Nanos (&units)[4], unsigned countBits)
{
    const std::uint32_t maxCount = (1u << countBits) - 1;
    for (std::uint32_t u = 0; u < 4; ++u) {
        const Nanos steps = (time + units[u] - 1) / units[u];
        if (steps <= maxCount + 1)
            return static_cast<std::uint32_t>(steps == 0 ? 0 : steps - 1) | (u << countBits);
    }
    return maxCount | (3u << countBits);
}

std::uint32_t eraseTime(Nanos time)
{
    static const Nanos units[4] = {Millisecond, 16 * Millisecond, 128 * Millisecond,
                                   1000 * Millisecond};
    return encodeTime(time, units, 5);
}

} // namespace

std::vector<std::uint8_t> SfdpTable::build(const SfdpDescription &d)
{
    const bool fourByte = d.addressModes != 3;
    std::vector<std::uint8_t> table(fourByte ? FourByteTableOffset + 4 * FourByteTableWords
                                             : VendorTableOffset + 4 * VendorTableWords,
                                    0xFF);
    // SFDP header: signature, revision 1.6, two or three parameter headers
    // (count - 1), access protocol 0xFF (legacy).
    put32(table, 0, Signature);
    table[4] = 0x06;
    table[5] = 0x01;
    table[6] = fourByte ? 0x02 : 0x01;
    table[7] = 0xFF;
    // Parameter header 0: basic flash parameter table (ID 0xFF00), 1.6.
    table[8] = 0x00;
    table[9] = 0x06;
    table[10] = 0x01;
    table[11] = BasicTableWords;
    put32(table, 12, BasicTableOffset | 0xFF000000u);
    // Parameter header 1: the vendor's table (ID LSB = JEDEC ID, bank 1).
    table[16] = d.manufacturer;
    table[17] = 0x00;
    table[18] = 0x01;
    table[19] = VendorTableWords;
    put32(table, 20, VendorTableOffset | 0x01000000u);
    if (fourByte) {
        // Parameter header 2: the 4-byte address instruction table, 1.0.
        table[24] = FourByteTableId;
        table[25] = 0x00;
        table[26] = 0x01;
        table[27] = FourByteTableWords;
        put32(table, 28, FourByteTableOffset | 0xFF000000u);
    }

    const std::size_t t = BasicTableOffset;
    std::uint32_t w1 = 0xFF800000u | (0x7u << 5) | (1u << 2); // unused bits set, >= 64-byte buffer
    w1 |= d.erase4k ? (0x1u | (0x20u << 8)) : (0x3u | (0xFFu << 8));
    if (d.dualOutput)
        w1 |= 1u << 16;
    if (d.quadOutput)
        w1 |= 1u << 22;
    w1 |= (d.addressModes == 34 ? 1u : d.addressModes == 4 ? 2u : 0u) << 17;
    put32(table, t + 0, w1);
    put32(table, t + 4, densityWord(d.sizeBytes));
    // 1-4-4 not supported (low half 0); 1-1-4: 8 dummy clocks, no mode clocks, 6Bh.
    put32(table, t + 8, d.quadOutput ? (0x08u << 16) | (0x6Bu << 24) : 0);
    // 1-1-2: 8 dummy clocks, 3Bh; 1-2-2 not supported.
    put32(table, t + 12, d.dualOutput ? 0x08u | (0x3Bu << 8) : 0);
    put32(table, t + 16, 0xFFFFFFEEu); // neither 2-2-2 nor 4-4-4
    put32(table, t + 20, 0x0000FFFFu);
    put32(table, t + 24, 0x0000FFFFu);
    // Erase types 1..4: size as 2^N and opcode; unused types are 0.
    std::uint32_t types[4] = {0, 0, 0, 0};
    Nanos times[4] = {0, 0, 0, 0};
    unsigned n = 0;
    if (d.erase4k) {
        types[n] = 12 | (0x20u << 8);
        times[n++] = d.erase4kTime;
    }
    if (d.erase32k) {
        types[n] = 15 | (0x52u << 8);
        times[n++] = d.erase32kTime;
    }
    if (d.erase64k) {
        types[n] = 16 | (0xD8u << 8);
        times[n++] = d.erase64kTime;
    }
    put32(table, t + 28, types[0] | (types[1] << 16));
    put32(table, t + 32, types[2] | (types[3] << 16));
    // Erase times: maximum = 2 x typical (multiplier count 0), then per type
    // a 5-bit count and 2-bit unit.
    std::uint32_t w10 = 0;
    const unsigned shifts[4] = {4, 11, 18, 25};
    for (unsigned i = 0; i < n; ++i)
        w10 |= eraseTime(times[i]) << shifts[i];
    put32(table, t + 36, w10);
    // Program: maximum = 2 x typical; page size 2^N; page program typical time
    // in 8 or 64 us units; byte program times; chip erase time.
    unsigned pageBits = 0;
    while ((1u << pageBits) < d.pageSize && pageBits < 15)
        ++pageBits;
    static const Nanos pageUnits[4] = {8 * Microsecond, 64 * Microsecond, 64 * Microsecond,
                                       64 * Microsecond};
    std::uint32_t page = encodeTime(d.pageProgramTime, pageUnits, 5) & 0x3F;
    static const Nanos byteUnits[4] = {Microsecond, 8 * Microsecond, 8 * Microsecond,
                                       8 * Microsecond};
    const std::uint32_t firstByte = encodeTime(30 * Microsecond, byteUnits, 4) & 0x1F;
    const std::uint32_t nextByte = encodeTime(3 * Microsecond, byteUnits, 4) & 0x1F;
    static const Nanos chipUnits[4] = {16 * Millisecond, 256 * Millisecond, 4000 * Millisecond,
                                       64000 * Millisecond};
    const std::uint32_t chip = encodeTime(d.chipEraseTime, chipUnits, 5);
    put32(table, t + 40,
          0x0u | (pageBits << 4) | (page << 8) | (firstByte << 14) | (nextByte << 19) |
              (chip << 24) | 0x80000000u);
    put32(table, t + 44, 0xFFFFFFFFu); // no suspend and resume
    put32(table, t + 48, 0xFFFFFFFFu);
    // Busy polling through 05h bit 0; no deep power-down.
    put32(table, t + 52, 0xFFFFFF07u);
    // Quad enable: bit 1 of status register 2, read with 35h, written with 01h (two bytes).
    put32(table, t + 56, 0x5u << 20);
    // Four-byte addressing: enter with B7h, leave with E9h; soft reset 66h/99h;
    // status register 1 non-volatile, written after 06h.
    std::uint32_t w16 = (0x10u << 8) | 0x80u | 0x01u;
    if (d.addressModes == 34)
        w16 |= (0x01u << 24) | (0x001u << 14);
    put32(table, t + 60, w16);
    // Vendor table: supply voltage range 2.7 .. 3.6 V and the rest reserved.
    put32(table, VendorTableOffset, 0x36002700u);
    if (fourByte) {
        // Four-byte instructions: 13h and 0Ch reads, 3Ch and 6Ch with the
        // output modes, 12h and 34h programs, erase types 1-3 as 21h, 5Ch,
        // DCh (in the order of the basic table's erase types); the rest
        // reserved (1).
        std::uint32_t supported = 0x1u | 0x2u | 0x40u;
        if (d.dualOutput)
            supported |= 0x4u;
        if (d.quadOutput)
            supported |= 0x10u | 0x80u;
        std::uint32_t opcodes = 0xFFFFFFFFu;
        unsigned type = 0;
        const auto eraseType = [&](bool present, std::uint8_t opcode) {
            if (!present)
                return;
            supported |= 0x200u << type;
            opcodes = (opcodes & ~(0xFFu << (8 * type))) | (std::uint32_t(opcode) << (8 * type));
            ++type;
        };
        eraseType(d.erase4k, 0x21);
        eraseType(d.erase32k, 0x5C);
        eraseType(d.erase64k, 0xDC);
        put32(table, FourByteTableOffset, 0xFFF00000u | supported);
        put32(table, FourByteTableOffset + 4, opcodes);
    }
    return table;
}

} // namespace kvemu::chips
