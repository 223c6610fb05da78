#include "UsbConfig.h"

namespace kvemu {

UsbConfig UsbConfig::forVendor(std::uint16_t vendorId)
{
    UsbConfig config;
    config.vendorId = vendorId;
    if (vendorId == OlderVendorId) {
        config.productId = OlderProductId;
        config.speed = LinkSpeed::Full; // the older part has no high-speed link
    }
    return config;
}

std::uint16_t UsbConfig::cpucsAddress() const
{
    return vendorId == OlderVendorId ? 0x7F92 : 0xE600;
}

std::size_t UsbConfig::ramSize() const
{
    return vendorId == OlderVendorId ? 8 * 1024 : 16 * 1024;
}

} // namespace kvemu
