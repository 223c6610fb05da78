#pragma once

#include "UsbConfig.h"
#include "UsbTypes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kvemu {

// One alternate setting of one interface, with its endpoints in descriptor
// order.
struct InterfaceSetting
{
    std::uint8_t number = 0;
    std::uint8_t alternate = 0;
    std::vector<EndpointInfo> endpoints;
};

// What a configuration descriptor block declares.
struct ConfigurationLayout
{
    std::uint8_t value = 1;
    std::uint8_t interfaceCount = 0;
    std::vector<InterfaceSetting> settings;

    const InterfaceSetting *setting(std::uint8_t number, std::uint8_t alternate) const;
};

// The descriptors a device shows while in one state.
struct DescriptorSet
{
    std::vector<std::uint8_t> device;        // 18 bytes
    std::vector<std::uint8_t> configuration; // the whole block, wTotalLength bytes
    ConfigurationLayout layout;

    std::uint16_t vendorId() const;
    std::uint16_t productId() const;
};

namespace descriptors {

inline constexpr std::uint8_t DeviceType = 1;
inline constexpr std::uint8_t ConfigurationType = 2;
inline constexpr std::uint8_t StringType = 3;
inline constexpr std::uint8_t InterfaceType = 4;
inline constexpr std::uint8_t EndpointType = 5;
inline constexpr std::size_t DeviceSize = 18;
inline constexpr std::size_t ConfigurationHeaderSize = 9;
// Larger configuration blocks than this are refused as corrupt.
inline constexpr std::size_t MaxConfigurationSize = 2048;

// Checks an 18-byte device descriptor; on failure returns false and says why.
bool checkDevice(std::span<const std::uint8_t> bytes, std::string &error);

// Walks a configuration block (exactly wTotalLength bytes): every descriptor
// inside it, endpoint counts, interface 0 alternate setting 0 present.
std::optional<ConfigurationLayout> parseConfiguration(std::span<const std::uint8_t> block,
                                                      std::string &error);

// The bare part's default descriptors: vendor and bare product ID, one
// configuration, interface 0 alternate setting 0 without endpoints.
DescriptorSet bare(const UsbConfig &config);

// Descriptors as our firmware images carry them.
std::vector<std::uint8_t> firmwareDevice(std::uint16_t vendorId, std::uint16_t productId);
// Interface 0, alternate setting 0: bulk 0x02 OUT, 0x04 OUT, 0x86 IN, 0x88 IN.
std::vector<std::uint8_t> firmwareConfiguration(std::uint16_t packetSize);

std::uint16_t packetSize(LinkSpeed speed);

} // namespace descriptors
} // namespace kvemu
