#include "FirmwareImage.h"

#include <algorithm>
#include <cstring>

namespace kvemu::firmware {

namespace {

constexpr std::uint16_t DeviceAt = 0x00B0;
constexpr std::uint16_t HighSpeedAt = 0x00C8;
constexpr std::uint16_t FullSpeedAt = 0x00F8;
constexpr std::uint16_t CodeAt = 0x0200;

std::uint16_t le16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

bool validNumber(ImageFamily family, unsigned number)
{
    return family == ImageFamily::Nand ? number >= 1 && number <= 2 : number <= 4;
}

// The configuration block at `address`, bounded by its own wTotalLength.
std::optional<ConfigurationLayout> configurationAt(std::span<const std::uint8_t> ram,
                                                   std::size_t address,
                                                   std::vector<std::uint8_t> &block,
                                                   std::string &error)
{
    using namespace descriptors;
    if (address >= ram.size() || ram.size() - address < ConfigurationHeaderSize) {
        error = "configuration descriptor address outside RAM";
        return std::nullopt;
    }
    const std::size_t total = le16(ram, address + 2);
    if (total < ConfigurationHeaderSize || total > MaxConfigurationSize) {
        error = "configuration wTotalLength out of range";
        return std::nullopt;
    }
    if (ram.size() - address < total) {
        error = "configuration block runs past the end of RAM";
        return std::nullopt;
    }
    const auto first = ram.begin() + static_cast<std::ptrdiff_t>(address);
    block.assign(first, first + static_cast<std::ptrdiff_t>(total));
    return parseConfiguration(block, error);
}

} // namespace

std::optional<ParsedImage> parse(std::span<const std::uint8_t> ram, LinkSpeed speed,
                                 std::string &error)
{
    if (ram.size() < SignatureAddress + SignatureSize) {
        error = "RAM too small for a signature block";
        return std::nullopt;
    }
    const auto sig = ram.subspan(SignatureAddress, SignatureSize);
    if (std::memcmp(sig.data(), Magic, 8) != 0) {
        error = "no firmware signature";
        return std::nullopt;
    }
    ParsedImage parsed;
    if (sig[8] != 'N' && sig[8] != 'S') {
        error = "unknown image family";
        return std::nullopt;
    }
    parsed.image.family = static_cast<ImageFamily>(sig[8]);
    parsed.image.number = sig[9];
    if (!validNumber(parsed.image.family, parsed.image.number)) {
        error = "image number out of range for its family";
        return std::nullopt;
    }

    const auto name = sig.subspan(16, NameSize);
    const auto end = std::find(name.begin(), name.end(), std::uint8_t{0});
    if (end == name.begin()) {
        error = "image name is empty";
        return std::nullopt;
    }
    if (!std::all_of(name.begin(), end, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; }) ||
        !std::all_of(end, name.end(), [](std::uint8_t c) { return c == 0; })) {
        error = "image name is not NUL-padded printable ASCII";
        return std::nullopt;
    }
    parsed.image.name.assign(name.begin(), end);

    const std::size_t deviceAt = le16(sig, 10);
    if (deviceAt >= ram.size() || ram.size() - deviceAt < descriptors::DeviceSize) {
        error = "device descriptor address outside RAM";
        return std::nullopt;
    }
    const auto device = ram.subspan(deviceAt, descriptors::DeviceSize);
    if (!descriptors::checkDevice(device, error))
        return std::nullopt;
    parsed.descriptors.device.assign(device.begin(), device.end());

    // Both configurations must be sound, whichever one the link uses.
    std::vector<std::uint8_t> high, full;
    auto highLayout = configurationAt(ram, le16(sig, 12), high, error);
    if (!highLayout) {
        error = "high-speed " + error;
        return std::nullopt;
    }
    auto fullLayout = configurationAt(ram, le16(sig, 14), full, error);
    if (!fullLayout) {
        error = "full-speed " + error;
        return std::nullopt;
    }
    if (speed == LinkSpeed::High) {
        parsed.descriptors.configuration = std::move(high);
        parsed.descriptors.layout = std::move(*highLayout);
    } else {
        parsed.descriptors.configuration = std::move(full);
        parsed.descriptors.layout = std::move(*fullLayout);
    }
    return parsed;
}

std::optional<ImageInfo> infoFromName(std::string_view name)
{
    constexpr std::string_view nand = "NAND image ", spi = "SPI image ";
    ImageInfo info;
    std::string_view rest;
    if (name.substr(0, nand.size()) == nand) {
        info.family = ImageFamily::Nand;
        rest = name.substr(nand.size());
    } else if (name.substr(0, spi.size()) == spi) {
        info.family = ImageFamily::Spi;
        rest = name.substr(spi.size());
    } else {
        return std::nullopt;
    }
    if (rest.size() != 1 || rest[0] < '0' || rest[0] > '9')
        return std::nullopt;
    info.number = static_cast<std::uint8_t>(rest[0] - '0');
    if (!validNumber(info.family, info.number))
        return std::nullopt;
    info.name = std::string(name);
    return info;
}

std::uint16_t productId(const ImageInfo &image)
{
    return static_cast<std::uint16_t>((static_cast<unsigned>(image.family) << 8) | image.number);
}

std::vector<std::uint8_t> build(const ImageInfo &image, std::uint16_t vendorId)
{
    std::vector<std::uint8_t> ram(CodeAt + 5, 0);
    auto put = [&ram](std::size_t at, const std::vector<std::uint8_t> &bytes) {
        std::copy(bytes.begin(), bytes.end(), ram.begin() + static_cast<std::ptrdiff_t>(at));
    };
    put(0x0000, {0x02, CodeAt >> 8, CodeAt & 0xFF}); // LJMP to the code

    std::vector<std::uint8_t> sig(Magic, Magic + 8);
    sig.push_back(static_cast<std::uint8_t>(image.family));
    sig.push_back(image.number);
    for (std::uint16_t at : {DeviceAt, HighSpeedAt, FullSpeedAt}) {
        sig.push_back(static_cast<std::uint8_t>(at & 0xFF));
        sig.push_back(static_cast<std::uint8_t>(at >> 8));
    }
    const std::size_t nameLength = std::min(image.name.size(), NameSize);
    sig.insert(sig.end(), image.name.begin(),
               image.name.begin() + static_cast<std::ptrdiff_t>(nameLength));
    sig.resize(SignatureSize, 0);
    put(SignatureAddress, sig);

    put(DeviceAt, descriptors::firmwareDevice(vendorId, productId(image)));
    put(HighSpeedAt, descriptors::firmwareConfiguration(512));
    put(FullSpeedAt, descriptors::firmwareConfiguration(64));
    put(CodeAt, {0x75, 0x81, 0x5F, 0x80, 0xFE}); // MOV SP,#5Fh; SJMP $
    return ram;
}

} // namespace kvemu::firmware
