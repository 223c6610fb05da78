#pragma once

#include "FamilyProtocol.h"

#include <vector>

namespace kvemu {

// The NAND firmware's commands. The page commands carry their addressing
// as NandPagePacket describes it (the packet decides, not the chip), and the
// firmware refuses a packet that does not fit the chip on the selected chip
// enable: it logs ERROR with the reason and answers nothing. A refused 0x1C
// still takes the data it announced (page count x page size, in whole USB
// packets) so that data never runs as commands; those pages count as failed.
//
//   0x29 READ ID of the selected chip enable: 6 bytes (0xFF: no chip)
//   0x2A READ PARAMETER PAGE: 512 bytes (generated: the page and its first
//        copy; from a file: its first 512 bytes, then 0xFF)
//   0x27 read pages: the pages, then 0xFF up to whole USB packets
//   0x1C program pages: the data follows on pipe 0 in whole USB packets;
//        each page is programmed as soon as its bytes are in, the rest of
//        the last packet is dropped
//   0x37 read from the first page of a block (the bad-block scan): the byte
//        count at 8-11, at most one page
//   0x1B block erase of the block that holds the row. Answer, 2 bytes:
//          byte 0  the chip's status register after the erase: 0xE0 ready,
//                  0xE1 with FAIL (bit 0) set; 0xFF when no chip answers
//          byte 1  1 when the erase failed (status bit 0 set), else 0
//   0x32 end of programming. Answer, 2 bytes:
//          byte 0  'D' (0x44)
//          byte 1  the number of pages whose program failed since the last
//                  0x32 (at most 255; pages without a chip, and pages of a
//                  refused 0x1C, count as failed)
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
    void readPages(std::span<const std::uint8_t> packet);
    void programPages(std::span<const std::uint8_t> packet);
    void eraseBlock(std::span<const std::uint8_t> packet);
    void readFirstPage(std::span<const std::uint8_t> packet);
    void programPage();
    void receiveProgram(chips::NandChip *target, std::uint32_t row, std::uint32_t column,
                        std::uint32_t pageSize, std::uint32_t pages);

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
