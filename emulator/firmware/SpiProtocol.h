#pragma once

#include "FamilyProtocol.h"

#include <vector>

namespace kvemu {

// The SPI firmware's commands. Addresses in packets are big-endian in the
// given number of bytes; counts little-endian. Line mode 0, 1, 2 reads or
// programs on 1, 2, 4 data lines; on 2 and 4 lines the firmware clocks one
// dummy byte after the address of a read (the 1-1-2 and 1-1-4 fast reads).
//
//   0x29 byte 1 is sent as the opcode (9Fh), 3 bytes read back
//   0x2A Read SFDP (5Ah) from 0: 2048 bytes
//   0x27 read: opcode 1, address bytes 2, address from 3, byte count 7-10,
//        line mode 15
//   0x1B erase: byte 1 sent alone first unless 0 (06h, write enable), then
//        opcode 2 with address bytes 3 and the address from 4; the status
//        is polled with opcode 8 until (status AND mask 9) = value 10.
//        Answers the last status and 1 when the polling timed out (else 0)
//   0x1C program, data following on pipe 0, page by page, each polled as
//        0x1B does with opcode 16, mask 17, value 18:
//          images 0-2: 256-byte pages, each after write enable, with opcode
//            1 and address bytes 2 on the lines of mode 15
//          image 3 (DataFlash): byte 1 is the page size's low byte (0x10:
//            528, 0x00: 512, 0x08: 264, 0x20: 1056); each page goes through
//            buffer 1 with built-in erase (82h), the address advancing by
//            one page (page x 1024 for 528-byte pages)
//          image 4 (EEPROM): byte 15 is the page size (0: 256); each page
//            after write enable, with opcode 1 (address bit 8 in opcode bit
//            3 on one-address-byte parts)
//        the page count at 10-11 (two nested loops)
//   0x31 byte 1 = n bytes to send from byte 2, then a byte count to read
//   0x32 end of programming: 'D' and the count of failed page programs
//   0x34 start-up commands: byte 2 entries of (a byte sent alone first
//        unless 0, the opcode, n, n data bytes)
//   0x36 (chip enable) is taken and has no effect on a serial chip
//
// Refused with a ProtocolError (an ERROR line, no answer): packets shorter
// than their layout, 0 or more than 4 address bytes, a line mode above 2, a
// read of 0 bytes, a program of 0 pages or with an unknown DataFlash page
// size byte, 0x31 without an opcode, 0x34 entries that run past the packet.
// A refused 0x1C whose page count and size can be read still takes the data
// it announced, programs none of it and counts its pages as failed.
class SpiProtocol : public FamilyProtocol
{
public:
    // A status poll that cannot succeed (the chip is idle and the status
    // does not match) gives up after this long.
    static constexpr chips::Nanos PollTimeout = 1000 * chips::Millisecond;

    // `image`: the SPI firmware image that runs (0..4).
    SpiProtocol(ProtocolContext &context, unsigned image);

    bool command(std::span<const std::uint8_t> packet) override;
    void data(std::span<const std::uint8_t> bytes) override;

private:
    chips::SpiChip *chip() { return m_context.board.spi(); }
    std::vector<std::uint8_t> exchange(std::span<const std::uint8_t> header, std::size_t length);
    void send(std::span<const std::uint8_t> header, std::span<const std::uint8_t> data = {},
              chips::SpiLines lines = chips::SpiLines::Single);
    bool poll(std::uint8_t opcode, std::uint8_t mask, std::uint8_t ready, std::uint8_t &status);
    void read(std::span<const std::uint8_t> packet);
    void erase(std::span<const std::uint8_t> packet);
    void program(std::span<const std::uint8_t> packet);
    std::uint32_t programPageSize(std::span<const std::uint8_t> packet) const;
    void transfer(std::span<const std::uint8_t> packet);
    void startUp(std::span<const std::uint8_t> packet);
    void programPage();

    unsigned m_image;
    // The program in progress.
    std::uint8_t m_opcode = 0;
    unsigned m_addressBytes = 3;
    std::uint64_t m_address = 0;
    std::uint64_t m_addressStep = 256;
    bool m_writeEnable = true;
    chips::SpiLines m_lines = chips::SpiLines::Single;
    std::uint8_t m_pollOpcode = 0x05;
    std::uint8_t m_pollMask = 0x01;
    std::uint8_t m_pollReady = 0x00;
    std::uint32_t m_pagesLeft = 0;
    std::vector<std::uint8_t> m_page;
    std::size_t m_pageFill = 0;
    // A refused program: its data is taken and dropped.
    bool m_discard = false;
};

} // namespace kvemu
