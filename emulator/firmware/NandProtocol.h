#pragma once

#include "FamilyProtocol.h"

#include <vector>

namespace kvemu {

// The NAND firmware's commands (packets as the program builds them; byte 1
// of the page commands counts the address cycles that follow from byte 2,
// column first, which the firmware clocks into the chip as they are):
//
//   0x29 READ ID of the selected chip enable: 6 bytes (0xFF: no chip)
//   0x2A READ PARAMETER PAGE: 512 bytes (the page and its first copy)
//   0x27 read pages: page size at 8-9, page count at 10-11; the pages, then
//        0xFF up to whole USB packets
//   0x1C program pages: as 0x27; the data follows on pipe 0 in whole USB
//        packets; each page is programmed as soon as its bytes are in
//   0x1B block erase: byte 1 row cycles from byte 2; answers the status
//        byte and 1 when the erase failed (else 0)
//   0x37 first page of a block for the bad-block scan: byte count at 8-11
//   0x32 end of programming: 'D' and the count of failed page programs
//   0x36 select chip enable 0..3
class NandProtocol : public FamilyProtocol
{
public:
    explicit NandProtocol(ProtocolContext &context) : FamilyProtocol(context) {}

    bool command(std::span<const std::uint8_t> packet) override;
    void data(std::span<const std::uint8_t> bytes) override;

    unsigned selectedChip() const { return m_chipEnable; }

private:
    chips::NandChip *chip() { return m_context.board.nand(m_chipEnable); }
    chips::NandChip::Address pageAddress(std::span<const std::uint8_t> packet);
    void readPages(std::span<const std::uint8_t> packet);
    void programPages(std::span<const std::uint8_t> packet);
    void eraseBlock(std::span<const std::uint8_t> packet);
    void readFirstPage(std::span<const std::uint8_t> packet);
    void programPage();

    unsigned m_chipEnable = 0;
    // The program in progress.
    chips::NandChip *m_programChip = nullptr;
    std::uint32_t m_programRow = 0;
    std::uint32_t m_programColumn = 0;
    std::uint32_t m_programPagesLeft = 0;
    std::vector<std::uint8_t> m_page;
    std::size_t m_pageFill = 0;
};

} // namespace kvemu
