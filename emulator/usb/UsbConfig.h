#pragma once

#include "UsbTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvemu {

// How an emulated programmer is built. A plain struct: set what a test
// needs, keep the defaults for the rest.
struct UsbConfig
{
    static constexpr std::uint16_t Fx2VendorId = 0x04B4;
    static constexpr std::uint16_t Fx2ProductId = 0x8613;
    static constexpr std::uint16_t OlderVendorId = 0x0547;
    static constexpr std::uint16_t OlderProductId = 0x2131;

    // 0x04B4: FX2 part, CPUCS at 0xE600, 16 KiB program RAM. 0x0547: the
    // older part, CPUCS at 0x7F92, 8 KiB RAM. Any other value gets the FX2
    // layout.
    std::uint16_t vendorId = Fx2VendorId;
    // Product ID of the bare part (before firmware runs).
    std::uint16_t productId = Fx2ProductId;
    // High speed: 512-byte bulk packets; full speed: 64.
    LinkSpeed speed = LinkSpeed::High;
    // Non-empty: this firmware image ("NAND image 1", "SPI image 3", ...)
    // already runs when the device appears, as after an earlier session.
    std::string runningImage;
    // Time from the firmware start (disconnect) to its own enumeration.
    unsigned reenumerationDelayMs = 50;
    // N > 0: the N-th firmware-load write request (0xA0 OUT) stalls, once.
    unsigned failDownloadRequest = 0;
    // N > 0: once N bulk bytes (both directions together) have moved, the
    // device unplugs itself; a transfer crossing the limit moves only the
    // bytes up to it and fails.
    std::uint64_t unplugAfterBytes = 0;
    // On replug the device comes back with its firmware still running
    // instead of bare.
    bool firmwareSurvivesReplug = false;
    // Device address of the first enumeration (2..127); every further
    // enumeration takes the next one.
    std::uint8_t firstDeviceAddress = 2;

    // The configuration of a bare part of this vendor: its product ID, and
    // full speed for the older part.
    static UsbConfig forVendor(std::uint16_t vendorId);

    std::uint16_t cpucsAddress() const;
    std::size_t ramSize() const;
};

} // namespace kvemu
