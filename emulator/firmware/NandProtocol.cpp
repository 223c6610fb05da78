#include "NandProtocol.h"

#include "NandPagePacket.h"
#include "NandReadAnswer.h"
#include "Packet.h"
#include "ProtocolError.h"

#include <algorithm>
#include <cstring>

namespace kvemu {

using packet::requireLength;

namespace {

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

void NandProtocol::readPages(std::span<const std::uint8_t> packet)
{
    const NandPagePacket p = NandPagePacket::pages(packet);
    const std::string problem = p.problem(chip());
    if (!problem.empty())
        throw ProtocolError(problem);
    const std::uint64_t length = wholePackets(p.bytes(), m_context.packetSize);
    m_context.answers.push(
        std::make_unique<NandReadAnswer>(chip(), p.row, p.column, p.pageSize, p.pageCount, length));
}

void NandProtocol::programPages(std::span<const std::uint8_t> packet)
{
    const NandPagePacket p = NandPagePacket::pages(packet);
    const std::string problem = p.problem(chip());
    // A refused command still takes its data, programming nothing.
    receiveProgram(problem.empty() ? chip() : nullptr, p.row, p.column, p.pageSize,
                   p.pageSize == 0 ? 0 : p.pageCount);
    if (!problem.empty())
        throw ProtocolError(problem);
}

void NandProtocol::receiveProgram(chips::NandChip *target, std::uint32_t row, std::uint32_t column,
                                  std::uint32_t pageSize, std::uint32_t pages)
{
    m_programChip = target;
    m_programRow = row;
    m_programColumn = column;
    m_programPagesLeft = pages;
    m_page.assign(pageSize, 0xFF);
    m_pageFill = 0;
    m_expected = wholePackets(std::uint64_t(pages) * pageSize, m_context.packetSize);
}

void NandProtocol::programPage()
{
    if (!m_programChip) {
        // No chip (nobody pulls the status down: it reads 0xFF, FAIL set), or
        // a refused command: the page counts as failed.
        ++m_failedPages;
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
    const NandPagePacket p = NandPagePacket::erase(packet);
    const std::string problem = p.problem(chip());
    if (!problem.empty())
        throw ProtocolError(problem);
    if (!chip()) {
        m_context.answers.push({0xFF, 1});
        return;
    }
    const auto result = chip()->eraseBlock(p.row);
    m_context.clock.spend(result.busy);
    m_context.answers.push({result.status, static_cast<std::uint8_t>(result.failed() ? 1 : 0)});
}

void NandProtocol::readFirstPage(std::span<const std::uint8_t> packet)
{
    const NandPagePacket p = NandPagePacket::firstPage(packet, chip());
    const std::string problem = p.problem(chip());
    if (!problem.empty())
        throw ProtocolError(problem);
    std::vector<std::uint8_t> answer(p.byteCount, 0xFF);
    if (chip())
        m_context.clock.spend(chip()->readPage(p.row, p.column, answer));
    m_context.answers.push(std::move(answer));
}

} // namespace kvemu
