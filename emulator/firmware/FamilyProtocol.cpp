#include "FamilyProtocol.h"

#include "ProtocolError.h"

#include <algorithm>
#include <cstdio>

namespace kvemu {

void FamilyProtocol::endOfProgramming()
{
    m_context.answers.push(
        {0x44, static_cast<std::uint8_t>(std::min<unsigned>(m_failedPages, 0xFF))});
    m_failedPages = 0;
}

std::string FamilyProtocol::hexByte(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFF);
    return text;
}

void FamilyProtocol::requireLength(std::span<const std::uint8_t> packet, std::size_t length)
{
    if (packet.size() < length)
        throw ProtocolError(
            "short packet " + (packet.empty() ? std::string("(empty)") : hexByte(packet[0])) +
            ": " + std::to_string(packet.size()) + " bytes, needs " + std::to_string(length));
}

std::uint32_t FamilyProtocol::le16(std::span<const std::uint8_t> packet, std::size_t at)
{
    return packet[at] | (std::uint32_t(packet[at + 1]) << 8);
}

std::uint32_t FamilyProtocol::le32(std::span<const std::uint8_t> packet, std::size_t at)
{
    return le16(packet, at) | (le16(packet, at + 2) << 16);
}

} // namespace kvemu
