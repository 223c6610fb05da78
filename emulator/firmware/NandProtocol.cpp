#include "NandProtocol.h"

#include "NandReadAnswer.h"
#include "Packet.h"
#include "PageCount.h"
#include "ProtocolError.h"

#include <algorithm>
#include <cstring>

namespace kvemu {

using packet::hexByte;
using packet::le16;
using packet::le32;
using packet::requireLength;

namespace {

constexpr std::size_t PageCommandLength = 20;
constexpr std::size_t MaxAddressCycles = 6; // bytes 2..7
constexpr std::uint32_t MaxFirstPageBytes = 65536;

std::uint64_t wholePackets(std::uint64_t bytes, unsigned packet)
{
    return (bytes + packet - 1) / packet * packet;
}

} // namespace

bool NandProtocol::command(std::span<const std::uint8_t> packet)
{
    switch (packet[0]) {
    case 0x29: {
        requireLength(packet, 6);
        std::vector<std::uint8_t> id(6, 0xFF);
        if (chip())
            chip()->readId(id);
        m_context.answers.push(std::move(id));
        return true;
    }
    case 0x2A: {
        requireLength(packet, 6);
        std::vector<std::uint8_t> page(512, 0xFF);
        if (chip())
            chip()->readParameterPage(0, page);
        m_context.answers.push(std::move(page));
        return true;
    }
    case 0x27:
        readPages(packet);
        return true;
    case 0x1C:
        programPages(packet);
        return true;
    case 0x1B:
        eraseBlock(packet);
        return true;
    case 0x37:
        readFirstPage(packet);
        return true;
    case 0x32:
        endOfProgramming();
        return true;
    case 0x36:
        requireLength(packet, 2);
        if (packet[1] >= ChipBoardLayout::MaxChipEnables)
            throw ProtocolError("chip enable " + std::to_string(packet[1]) + " out of range");
        m_chipEnable = packet[1];
        return true;
    default:
        return false;
    }
}

chips::NandChip::Address NandProtocol::pageAddress(std::span<const std::uint8_t> packet)
{
    requireLength(packet, PageCommandLength);
    const unsigned cycles = packet[1];
    if (cycles == 0 || cycles > MaxAddressCycles)
        throw ProtocolError(hexByte(packet[0]) + " with " + std::to_string(cycles) +
                            " address cycles");
    if (!chip())
        return {};
    return chip()->decodeAddress(packet.subspan(2, cycles));
}

void NandProtocol::readPages(std::span<const std::uint8_t> packet)
{
    const auto address = pageAddress(packet);
    const std::uint32_t pageSize = le16(packet, 8);
    if (pageSize == 0)
        throw ProtocolError("0x27 with page size 0");
    const std::uint32_t pages = decodePageCount(packet[10], packet[11]);
    const std::uint64_t length =
        wholePackets(std::uint64_t(pages) * pageSize, m_context.packetSize);
    m_context.answers.push(std::make_unique<NandReadAnswer>(chip(), address.row, address.column,
                                                            pageSize, pages, length));
}

void NandProtocol::programPages(std::span<const std::uint8_t> packet)
{
    const auto address = pageAddress(packet);
    const std::uint32_t pageSize = le16(packet, 8);
    if (pageSize == 0)
        throw ProtocolError("0x1C with page size 0");
    const std::uint32_t pages = decodePageCount(packet[10], packet[11]);
    m_programChip = chip();
    m_programRow = address.row;
    m_programColumn = address.column;
    m_programPagesLeft = pages;
    m_page.assign(pageSize, 0xFF);
    m_pageFill = 0;
    m_expected = wholePackets(std::uint64_t(pages) * pageSize, m_context.packetSize);
}

void NandProtocol::programPage()
{
    if (!m_programChip) {
        ++m_failedPages; // nobody pulls the status down: it reads 0xFF, FAIL set
    } else {
        const auto result = m_programChip->programPage(m_programRow, m_programColumn, m_page);
        m_context.clock.spend(result.busy);
        if (result.failed())
            ++m_failedPages;
    }
    ++m_programRow;
    --m_programPagesLeft;
    m_pageFill = 0;
}

void NandProtocol::data(std::span<const std::uint8_t> bytes)
{
    bytes =
        bytes.first(static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), m_expected)));
    m_expected -= bytes.size();
    while (!bytes.empty() && m_programPagesLeft > 0) {
        const std::size_t n = std::min(bytes.size(), m_page.size() - m_pageFill);
        std::memcpy(m_page.data() + m_pageFill, bytes.data(), n);
        m_pageFill += n;
        bytes = bytes.subspan(n);
        if (m_pageFill == m_page.size())
            programPage();
    }
    // What is left fills the last USB packet and is not programmed.
}

void NandProtocol::eraseBlock(std::span<const std::uint8_t> packet)
{
    requireLength(packet, PageCommandLength);
    const unsigned cycles = packet[1];
    if (cycles == 0 || cycles > 4)
        throw ProtocolError("0x1b with " + std::to_string(cycles) + " row cycles");
    if (!chip()) {
        m_context.answers.push({0xFF, 1});
        return;
    }
    const auto result = chip()->eraseBlock(chip()->decodeRow(packet.subspan(2, cycles)));
    m_context.clock.spend(result.busy);
    m_context.answers.push({result.status, static_cast<std::uint8_t>(result.failed() ? 1 : 0)});
}

void NandProtocol::readFirstPage(std::span<const std::uint8_t> packet)
{
    const auto address = pageAddress(packet);
    const std::uint32_t bytes = le32(packet, 8);
    if (bytes == 0 || bytes > MaxFirstPageBytes)
        throw ProtocolError("0x37 for " + std::to_string(bytes) + " bytes");
    std::vector<std::uint8_t> answer(bytes, 0xFF);
    if (chip())
        m_context.clock.spend(chip()->readPage(address.row, address.column, answer));
    m_context.answers.push(std::move(answer));
}

} // namespace kvemu
