#include "Descriptors.h"

#include <algorithm>
#include <set>
#include <utility>

namespace kvemu {

namespace {

std::uint16_t le16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

void appendLe16(std::vector<std::uint8_t> &out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::vector<std::uint8_t> deviceDescriptor(std::uint16_t vendorId, std::uint16_t productId,
                                           std::uint16_t release)
{
    std::vector<std::uint8_t> d = {18, descriptors::DeviceType, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 64};
    appendLe16(d, vendorId);
    appendLe16(d, productId);
    appendLe16(d, release);
    d.insert(d.end(), {0, 0, 0, 1}); // no strings, one configuration
    return d;
}

std::vector<std::uint8_t> configurationBlock(const std::vector<EndpointInfo> &endpoints)
{
    const auto total = static_cast<std::uint16_t>(9 + 9 + 7 * endpoints.size());
    std::vector<std::uint8_t> c = {9, descriptors::ConfigurationType};
    appendLe16(c, total);
    c.insert(c.end(), {1, 1, 0, 0x80, 50}); // one interface, value 1, bus powered, 100 mA
    c.insert(c.end(), {9, descriptors::InterfaceType, 0, 0,
                       static_cast<std::uint8_t>(endpoints.size()), 0xFF, 0xFF, 0xFF, 0});
    for (const EndpointInfo &ep : endpoints) {
        c.insert(c.end(), {7, descriptors::EndpointType, ep.address, ep.attributes});
        appendLe16(c, ep.maxPacketSize);
        c.push_back(0);
    }
    return c;
}

bool validEndpointAddress(std::uint8_t address)
{
    return (address & 0x70) == 0 && (address & 0x0F) != 0;
}

} // namespace

const InterfaceSetting *ConfigurationLayout::setting(std::uint8_t number,
                                                     std::uint8_t alternate) const
{
    for (const InterfaceSetting &s : settings)
        if (s.number == number && s.alternate == alternate)
            return &s;
    return nullptr;
}

std::uint16_t DescriptorSet::vendorId() const
{
    return device.size() >= 10 ? le16(device, 8) : 0;
}

std::uint16_t DescriptorSet::productId() const
{
    return device.size() >= 12 ? le16(device, 10) : 0;
}

namespace descriptors {

bool checkDevice(std::span<const std::uint8_t> bytes, std::string &error)
{
    if (bytes.size() < DeviceSize) {
        error = "device descriptor truncated";
        return false;
    }
    if (bytes[0] != DeviceSize || bytes[1] != DeviceType) {
        error = "device descriptor has wrong bLength or bDescriptorType";
        return false;
    }
    const std::uint8_t ep0 = bytes[7];
    if (ep0 != 8 && ep0 != 16 && ep0 != 32 && ep0 != 64) {
        error = "device descriptor has an invalid bMaxPacketSize0";
        return false;
    }
    if (bytes[17] == 0) {
        error = "device descriptor declares no configuration";
        return false;
    }
    return true;
}

std::optional<ConfigurationLayout> parseConfiguration(std::span<const std::uint8_t> block,
                                                      std::string &error)
{
    if (block.size() < ConfigurationHeaderSize) {
        error = "configuration descriptor truncated";
        return std::nullopt;
    }
    if (block[0] != ConfigurationHeaderSize || block[1] != ConfigurationType) {
        error = "configuration descriptor has wrong bLength or bDescriptorType";
        return std::nullopt;
    }
    const std::size_t total = le16(block, 2);
    if (total != block.size()) {
        error = "wTotalLength does not match the configuration block";
        return std::nullopt;
    }
    ConfigurationLayout layout;
    layout.interfaceCount = block[4];
    layout.value = block[5];
    if (layout.value == 0) {
        error = "bConfigurationValue is 0";
        return std::nullopt;
    }

    std::vector<std::uint8_t> expectedEndpoints;
    std::size_t pos = ConfigurationHeaderSize;
    while (pos < total) {
        const std::size_t length = block[pos];
        if (total - pos < 2 || length < 2 || length > total - pos) {
            error = "descriptor inside the configuration runs past wTotalLength";
            return std::nullopt;
        }
        const std::uint8_t type = block[pos + 1];
        if (type == InterfaceType) {
            if (length < 9) {
                error = "interface descriptor too short";
                return std::nullopt;
            }
            InterfaceSetting s;
            s.number = block[pos + 2];
            s.alternate = block[pos + 3];
            if (layout.setting(s.number, s.alternate)) {
                error = "interface setting declared twice";
                return std::nullopt;
            }
            layout.settings.push_back(std::move(s));
            expectedEndpoints.push_back(block[pos + 4]);
        } else if (type == EndpointType) {
            if (length < 7) {
                error = "endpoint descriptor too short";
                return std::nullopt;
            }
            if (layout.settings.empty()) {
                error = "endpoint descriptor before any interface";
                return std::nullopt;
            }
            EndpointInfo ep;
            ep.address = block[pos + 2];
            ep.attributes = block[pos + 3];
            ep.maxPacketSize = le16(block, pos + 4);
            const unsigned size = ep.maxPacketSize & 0x7FF;
            if (!validEndpointAddress(ep.address) || size == 0 || size > 1024) {
                error = "endpoint descriptor has an invalid address or packet size";
                return std::nullopt;
            }
            auto &eps = layout.settings.back().endpoints;
            if (std::any_of(eps.begin(), eps.end(),
                            [&](const EndpointInfo &e) { return e.address == ep.address; })) {
                error = "endpoint declared twice in one setting";
                return std::nullopt;
            }
            eps.push_back(ep);
        } else if (type == DeviceType || type == ConfigurationType) {
            error = "device or configuration descriptor nested in a configuration";
            return std::nullopt;
        }
        pos += length;
    }

    for (std::size_t i = 0; i < layout.settings.size(); ++i) {
        if (layout.settings[i].endpoints.size() != expectedEndpoints[i]) {
            error = "bNumEndpoints does not match the endpoint descriptors";
            return std::nullopt;
        }
    }
    std::set<std::uint8_t> numbers;
    for (const InterfaceSetting &s : layout.settings)
        numbers.insert(s.number);
    if (numbers.size() != layout.interfaceCount) {
        error = "bNumInterfaces does not match the interface descriptors";
        return std::nullopt;
    }
    if (!layout.setting(0, 0)) {
        error = "no interface 0 alternate setting 0";
        return std::nullopt;
    }
    return layout;
}

DescriptorSet bare(const UsbConfig &config)
{
    DescriptorSet set;
    const std::uint16_t release = config.vendorId == UsbConfig::OlderVendorId ? 0x0001 : 0xA001;
    set.device = deviceDescriptor(config.vendorId, config.productId, release);
    set.configuration = configurationBlock({});
    std::string error;
    set.layout = parseConfiguration(set.configuration, error).value_or(ConfigurationLayout{});
    return set;
}

std::vector<std::uint8_t> firmwareDevice(std::uint16_t vendorId, std::uint16_t productId)
{
    return deviceDescriptor(vendorId, productId, 0x0110);
}

std::vector<std::uint8_t> firmwareConfiguration(std::uint16_t packetSize)
{
    std::vector<EndpointInfo> eps;
    for (std::uint8_t address : {0x02, 0x04, 0x86, 0x88})
        eps.push_back({address, 0x02, packetSize});
    return configurationBlock(eps);
}

std::uint16_t packetSize(LinkSpeed speed)
{
    return speed == LinkSpeed::High ? 512 : 64;
}

} // namespace descriptors
} // namespace kvemu
