#include "Packet.h"

#include "ProtocolError.h"

#include <cstdio>

namespace kvemu::packet {

std::string hexByte(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFF);
    return text;
}

void requireLength(std::span<const std::uint8_t> packet, std::size_t length)
{
    if (packet.size() < length)
        throw ProtocolError(
            "short packet " + (packet.empty() ? std::string("(empty)") : hexByte(packet[0])) +
            ": " + std::to_string(packet.size()) + " bytes, needs " + std::to_string(length));
}

std::uint32_t le16(std::span<const std::uint8_t> packet, std::size_t at)
{
    return packet[at] | (std::uint32_t(packet[at + 1]) << 8);
}

std::uint32_t le32(std::span<const std::uint8_t> packet, std::size_t at)
{
    return le16(packet, at) | (le16(packet, at + 2) << 16);
}

} // namespace kvemu::packet
