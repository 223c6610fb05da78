#pragma once

#include <cstdint>
#include <span>
#include <string>

// Reading command packets: fields and the checks that make a packet a
// protocol error (ProtocolError) instead of an out-of-bounds read.
namespace kvemu::packet {

// "0x1c": a command code or byte as the log writes it.
std::string hexByte(unsigned value);
// Throws ProtocolError("short packet 0x.. ...") when `packet` is shorter.
void requireLength(std::span<const std::uint8_t> packet, std::size_t length);
// Little-endian fields; the caller has checked the length.
std::uint32_t le16(std::span<const std::uint8_t> packet, std::size_t at);
std::uint32_t le32(std::span<const std::uint8_t> packet, std::size_t at);

} // namespace kvemu::packet
