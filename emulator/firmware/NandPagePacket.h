#pragma once

#include "NandChip.h"

#include <cstdint>
#include <span>
#include <string>

namespace kvemu {

// The address and size fields of a NAND page command, read the way the
// program lays them out, and the checks that make the programmer refuse
// one. The packet decides the addressing, not the chip:
//
//   0x27, 0x1C  byte 1: address cycles (column bytes + row bytes); column
//               bytes from the page size at 8-9 (columnBytesFor); the
//               column address from byte 2, the row address (the page within
//               the selected chip enable) from byte 2 + column bytes, both
//               little-endian; page count at 10-11 (decodePageCount)
//   0x37        as above, column bytes from the chip's page size (data +
//               spare); byte count at 8-11
//   0x1B        byte 1: row bytes; the row address from byte 2
//
// A packet is refused (problem() names why) when its page size is not the
// chip's, its page count or byte count is 0, its row bytes cannot address
// every page of the chip or are more than 4, its row lies beyond the chip,
// its pages run past the chip's last page, or 0x37 asks for more than a
// page. More row bytes than the chip needs are taken: the chip ignores the
// high address bits it does not have, which are 0 anyway.
class NandPagePacket
{
public:
    static constexpr std::size_t Length = 20;
    static constexpr unsigned MaxAddressCycles = 6; // bytes 2..7
    static constexpr unsigned MaxRowBytes = 4;
    // 0x37 with no chip to compare against: at most this many bytes.
    static constexpr std::uint32_t MaxFirstPageBytes = 65536;

    // The address rules of the program: the base-256 digits of the page size
    // (a 528-byte page takes 1), and of the page count of one chip enable
    // (so exactly 65536 pages take 3); 0 for 0.
    static unsigned columnBytesFor(std::uint32_t pageSize);
    static unsigned rowBytesFor(std::uint64_t pages);
    // The fewest row bytes that reach every one of `pages` pages (at least 1).
    static unsigned rowBytesNeeded(std::uint64_t pages);

    // Each throws ProtocolError for a packet shorter than Length or with
    // byte 1 out of range (0x27, 0x1C, 0x37: 1..6 cycles; 0x1B: 1..4 bytes).
    static NandPagePacket pages(std::span<const std::uint8_t> packet);
    // `chip` may be null (nobody answers on the chip enable): then the
    // column and row stay 0.
    static NandPagePacket firstPage(std::span<const std::uint8_t> packet,
                                    const chips::NandChip *chip);
    static NandPagePacket erase(std::span<const std::uint8_t> packet);

    // Why the programmer refuses the packet; empty when it carries it out.
    // Without a chip only the packet's own fields are checked.
    std::string problem(const chips::NandChip *chip) const;

    // Page bytes the command moves: page count x page size (0x37: its byte
    // count).
    std::uint64_t bytes() const;

    std::uint8_t code = 0;
    unsigned cycles = 0; // address cycles (0x1B: row bytes)
    unsigned columnBytes = 0;
    unsigned rowBytes = 0;
    std::uint32_t column = 0;
    std::uint32_t row = 0;
    std::uint32_t pageSize = 0; // the packet's (0x37: the chip's)
    std::uint32_t pageCount = 1;
    std::uint32_t byteCount = 0; // 0x37 only

private:
    // The packet's code and byte 1 (1..maxCycles, else ProtocolError).
    static NandPagePacket start(std::span<const std::uint8_t> packet, unsigned maxCycles,
                                const char *cyclesName);
    std::string name() const;
    std::string sizeProblem(const chips::NandChip *chip) const;
    std::string rowBytesProblem(const chips::NandChip *chip) const;
    std::string rangeProblem(const chips::NandChip &chip) const;
    void readAddress(std::span<const std::uint8_t> packet);
};

} // namespace kvemu
