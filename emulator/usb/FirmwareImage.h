#pragma once

#include "Descriptors.h"
#include "UsbTypes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Our firmware images carry a signature block that tells the emulated
// programmer which image runs and where the image's USB descriptors lie:
//
//   at 0x0080, 48 bytes:
//     0..7    "KVFWSIG1"
//     8       family: 'N' (NAND) or 'S' (SPI)
//     9       image number: NAND 1 or 2, SPI 0..4
//     10..11  address of the device descriptor (little-endian)
//     12..13  address of the high-speed configuration block
//     14..15  address of the full-speed configuration block
//     16..47  the image's name, ASCII, NUL-padded
namespace kvemu::firmware {

inline constexpr std::uint16_t SignatureAddress = 0x0080;
inline constexpr std::size_t SignatureSize = 48;
inline constexpr std::size_t NameSize = 32;
inline constexpr char Magic[] = "KVFWSIG1";

// An image found in RAM, with the descriptors it shows at one link speed.
struct ParsedImage
{
    ImageInfo image;
    DescriptorSet descriptors; // idVendor as in the image
};

// Reads the signature block and the descriptors it points to from `ram`
// (program RAM from address 0). Every address, length and descriptor field
// is checked; on failure returns nothing and says why in `error`.
std::optional<ParsedImage> parse(std::span<const std::uint8_t> ram, LinkSpeed speed,
                                 std::string &error);

// "NAND image 1" -> NAND 1, "SPI image 4" -> SPI 4; nothing for other names.
std::optional<ImageInfo> infoFromName(std::string_view name);

// The product ID our images use: family letter in the high byte, image
// number in the low byte ('N' 1 -> 0x4E01).
std::uint16_t productId(const ImageInfo &image);

// RAM contents (from address 0) of an image laid out as our firmware images
// are: reset vector, signature block, descriptors, a code stub that loops.
std::vector<std::uint8_t> build(const ImageInfo &image, std::uint16_t vendorId);

} // namespace kvemu::firmware
