#include "SpiProtocol.h"

#include "Packet.h"
#include "PageCount.h"
#include "ProtocolError.h"
#include "SpiReadAnswer.h"

#include <algorithm>
#include <cstring>

namespace kvemu {

using packet::hexByte;
using packet::le16;
using packet::le32;
using packet::requireLength;

namespace {

using chips::SpiLines;

constexpr std::uint8_t WriteEnable = 0x06;
constexpr std::uint8_t ReadSfdp = 0x5A;
constexpr std::uint8_t DataFlashProgram = 0x82;
constexpr std::size_t SfdpLength = 2048;
// One status read on the bus: opcode and one byte.
constexpr chips::Nanos StatusReadTime = 2 * SpiReadAnswer::SingleLineByteTime;

SpiLines linesOf(std::uint8_t mode, std::uint8_t code)
{
    switch (mode) {
    case 0:
        return SpiLines::Single;
    case 1:
        return SpiLines::Dual;
    case 2:
        return SpiLines::Quad;
    default:
        throw ProtocolError(hexByte(code) + " with line mode " + std::to_string(mode));
    }
}

void appendAddress(std::vector<std::uint8_t> &bytes, std::uint64_t address, unsigned count)
{
    for (unsigned i = count; i > 0; --i)
        bytes.push_back(static_cast<std::uint8_t>(address >> (8 * (i - 1))));
}

std::uint64_t addressIn(std::span<const std::uint8_t> packet, std::size_t at, unsigned count)
{
    std::uint64_t address = 0;
    for (unsigned i = 0; i < count; ++i)
        address = (address << 8) | packet[at + i];
    return address;
}

unsigned addressCount(std::span<const std::uint8_t> packet, std::size_t at)
{
    const unsigned count = packet[at];
    if (count < 1 || count > 4)
        throw ProtocolError(hexByte(packet[0]) + " with " + std::to_string(count) +
                            " address bytes");
    return count;
}

} // namespace

SpiProtocol::SpiProtocol(ProtocolContext &context, unsigned image)
    : FamilyProtocol(context), m_image(image)
{}

std::vector<std::uint8_t> SpiProtocol::exchange(std::span<const std::uint8_t> header,
                                                std::size_t length)
{
    std::vector<std::uint8_t> bytes(length, 0xFF);
    m_context.clock.spend((header.size() + length) * SpiReadAnswer::SingleLineByteTime);
    if (chip())
        chip()->read(header, SpiLines::Single, m_context.clock.now())->read(bytes);
    return bytes;
}

void SpiProtocol::send(std::span<const std::uint8_t> header, std::span<const std::uint8_t> data,
                       SpiLines lines)
{
    m_context.clock.spend(header.size() * SpiReadAnswer::SingleLineByteTime +
                          data.size() * SpiReadAnswer::SingleLineByteTime /
                              static_cast<unsigned>(lines));
    if (chip())
        chip()->write(header, data, lines, m_context.clock.now());
}

bool SpiProtocol::poll(std::uint8_t opcode, std::uint8_t mask, std::uint8_t ready,
                       std::uint8_t &status)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        m_context.clock.spend(StatusReadTime);
        const chips::Nanos now = m_context.clock.now();
        status = 0xFF;
        if (chip())
            chip()
                ->read(std::span<const std::uint8_t>(&opcode, 1), SpiLines::Single, now)
                ->read(std::span<std::uint8_t>(&status, 1));
        if ((status & mask) == ready)
            return true;
        if (!chip() || now >= chip()->busyUntil())
            break; // idle and still not ready: it never will be
        m_context.clock.advanceTo(chip()->busyUntil());
    }
    m_context.clock.spend(PollTimeout);
    return false;
}

bool SpiProtocol::command(std::span<const std::uint8_t> packet)
{
    switch (packet[0]) {
    case 0x29: {
        requireLength(packet, 10);
        const std::uint8_t opcode = packet[1];
        m_context.answers.push(exchange(std::span<const std::uint8_t>(&opcode, 1), 3));
        return true;
    }
    case 0x2A: {
        requireLength(packet, 6);
        const std::uint8_t header[] = {ReadSfdp, 0, 0, 0, 0}; // address 0, one dummy byte
        m_context.answers.push(exchange(header, SfdpLength));
        return true;
    }
    case 0x27:
        read(packet);
        return true;
    case 0x1B:
        erase(packet);
        return true;
    case 0x1C:
        program(packet);
        return true;
    case 0x31:
        transfer(packet);
        return true;
    case 0x32:
        requireLength(packet, 1);
        endOfProgramming();
        return true;
    case 0x34:
        startUp(packet);
        return true;
    case 0x36:
        requireLength(packet, 2);
        return true;
    default:
        return false;
    }
}

void SpiProtocol::read(std::span<const std::uint8_t> packet)
{
    requireLength(packet, 20);
    const unsigned count = addressCount(packet, 2);
    const std::uint32_t bytes = le32(packet, 7);
    const SpiLines lines = linesOf(packet[15], packet[0]);
    if (bytes == 0)
        throw ProtocolError("0x27 for 0 bytes");
    std::vector<std::uint8_t> header{packet[1]};
    header.insert(header.end(), packet.begin() + 3, packet.begin() + 3 + count);
    if (lines != SpiLines::Single)
        header.push_back(0x00); // eight dummy clocks before the data
    m_context.clock.spend(header.size() * SpiReadAnswer::SingleLineByteTime);
    std::unique_ptr<chips::SpiOutput> output;
    if (chip())
        output = chip()->read(header, lines, m_context.clock.now());
    else
        output = std::make_unique<chips::ConstantOutput>();
    m_context.answers.push(std::make_unique<SpiReadAnswer>(std::move(output), bytes, lines));
}

void SpiProtocol::erase(std::span<const std::uint8_t> packet)
{
    requireLength(packet, 20);
    const unsigned count = addressCount(packet, 3);
    if (packet[1] != 0)
        send(packet.subspan(1, 1));
    std::vector<std::uint8_t> header{packet[2]};
    header.insert(header.end(), packet.begin() + 4, packet.begin() + 4 + count);
    send(header);
    std::uint8_t status = 0xFF;
    const bool ready = poll(packet[8], packet[9], packet[10], status);
    m_context.answers.push({status, static_cast<std::uint8_t>(ready ? 0 : 1)});
}

std::uint32_t SpiProtocol::programPageSize(std::span<const std::uint8_t> packet) const
{
    if (m_image == 3) {
        // DataFlash: byte 1 names the page size by its low byte.
        switch (packet[1]) {
        case 0x10:
            return 528;
        case 0x00:
            return 512;
        case 0x08:
            return 264;
        case 0x20:
            return 1056;
        default:
            throw ProtocolError("0x1c with DataFlash page size byte " + hexByte(packet[1]));
        }
    }
    if (m_image == 4)
        return packet[15] == 0 ? 256 : packet[15];
    return 256;
}

void SpiProtocol::program(std::span<const std::uint8_t> packet)
{
    requireLength(packet, 20);
    const std::uint32_t pageSize = programPageSize(packet);
    m_pagesLeft = decodePageCount(packet[10], packet[11]);
    if (m_pagesLeft == 0)
        throw ProtocolError("0x1c for 0 pages");
    m_page.assign(pageSize, 0xFF);
    m_pageFill = 0;
    m_expected = std::uint64_t(m_pagesLeft) * pageSize;
    m_discard = false;
    try {
        m_addressBytes = addressCount(packet, 2);
        if (m_image != 3 && m_image != 4)
            m_lines = linesOf(packet[15], packet[0]);
    } catch (const ProtocolError &) {
        // The data still comes: it is taken and dropped, its pages failed.
        m_discard = true;
        throw;
    }
    m_address = addressIn(packet, 3, m_addressBytes);
    m_pollOpcode = packet[16];
    m_pollMask = packet[17];
    m_pollReady = packet[18];
    if (m_image == 3) {
        // DataFlash: page program through buffer 1 with built-in erase.
        m_opcode = DataFlashProgram;
        m_writeEnable = false;
        m_lines = SpiLines::Single;
        // 264/528/1056-byte pages sit at the next power of two in the address.
        m_addressStep = (pageSize % 33 == 0) ? pageSize / 33 * 64 : pageSize;
    } else if (m_image == 4) {
        m_opcode = packet[1];
        m_writeEnable = true;
        m_lines = SpiLines::Single;
        if (m_addressBytes == 1)
            m_address |= std::uint64_t((packet[1] >> 3) & 1) << 8;
        m_addressStep = pageSize;
    } else {
        m_opcode = packet[1];
        m_writeEnable = true;
        m_addressStep = pageSize;
    }
}

void SpiProtocol::programPage()
{
    if (m_writeEnable)
        send(std::span<const std::uint8_t>(&WriteEnable, 1));
    std::uint8_t opcode = m_opcode;
    if (m_image == 4 && m_addressBytes == 1)
        opcode = static_cast<std::uint8_t>((opcode & 0xF7) | (((m_address >> 8) & 1) << 3));
    std::vector<std::uint8_t> header{opcode};
    appendAddress(header, m_address, m_addressBytes);
    send(header, m_page, m_lines);
    std::uint8_t status = 0xFF;
    if (!poll(m_pollOpcode, m_pollMask, m_pollReady, status))
        ++m_failedPages;
    m_address += m_addressStep;
    --m_pagesLeft;
    m_pageFill = 0;
}

void SpiProtocol::data(std::span<const std::uint8_t> bytes)
{
    bytes =
        bytes.first(static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), m_expected)));
    m_expected -= bytes.size();
    while (!bytes.empty() && m_pagesLeft > 0) {
        const std::size_t n = std::min(bytes.size(), m_page.size() - m_pageFill);
        std::memcpy(m_page.data() + m_pageFill, bytes.data(), n);
        m_pageFill += n;
        bytes = bytes.subspan(n);
        if (m_pageFill != m_page.size())
            continue;
        if (m_discard) {
            ++m_failedPages;
            --m_pagesLeft;
            m_pageFill = 0;
        } else {
            programPage();
        }
    }
}

void SpiProtocol::transfer(std::span<const std::uint8_t> packet)
{
    requireLength(packet, 2);
    const std::size_t out = packet[1];
    requireLength(packet, 3 + out);
    const std::size_t in = packet[2 + out];
    if (out == 0)
        throw ProtocolError("0x31 without an opcode");
    m_context.answers.push(exchange(packet.subspan(2, out), in));
}

void SpiProtocol::startUp(std::span<const std::uint8_t> packet)
{
    requireLength(packet, 3);
    const unsigned entries = packet[2];
    // Check every entry before any goes to the chip.
    std::size_t at = 3;
    for (unsigned i = 0; i < entries; ++i) {
        if (at + 3 > packet.size() || at + 3 + packet[at + 2] > packet.size())
            throw ProtocolError("0x34 entry " + std::to_string(i + 1) + " runs past the packet");
        at += 3 + packet[at + 2];
    }
    const bool dataFlash = m_image == 3;
    at = 3;
    for (unsigned i = 0; i < entries; ++i) {
        if (packet[at] != 0)
            send(packet.subspan(at, 1));
        send(packet.subspan(at + 1, 1), packet.subspan(at + 3, packet[at + 2]));
        std::uint8_t status = 0xFF;
        // Let a register write finish before the next command.
        poll(dataFlash ? 0xD7 : 0x05, dataFlash ? 0x80 : 0x01, dataFlash ? 0x80 : 0x00, status);
        at += 3 + packet[at + 2];
    }
}

} // namespace kvemu
