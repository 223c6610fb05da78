#pragma once

#include "EzUsbDevice.h"
#include "UsbTypes.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Helpers shared by the emulator's tests. The firmware images here are put
// together byte by byte, independently of the emulator's own builder, so a
// test checks the emulator against the layout rather than against itself.
namespace EmulatorTest {

using Bytes = std::vector<std::uint8_t>;

inline QByteArray toBytes(const Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

// A scratch buffer of `size` bytes for one bulk read.
inline std::span<std::uint8_t> room(std::size_t size)
{
    static Bytes scratch;
    scratch.assign(size, 0);
    return scratch;
}

inline void put16(Bytes &ram, std::size_t at, std::uint16_t value)
{
    ram[at] = static_cast<std::uint8_t>(value & 0xFF);
    ram[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void put(Bytes &ram, std::size_t at, const Bytes &bytes)
{
    std::copy(bytes.begin(), bytes.end(), ram.begin() + static_cast<std::ptrdiff_t>(at));
}

inline Bytes deviceDescriptor(std::uint16_t vendor, std::uint16_t product)
{
    return {18,
            1,
            0x00,
            0x02,
            0xFF,
            0xFF,
            0xFF,
            64,
            static_cast<std::uint8_t>(vendor & 0xFF),
            static_cast<std::uint8_t>(vendor >> 8),
            static_cast<std::uint8_t>(product & 0xFF),
            static_cast<std::uint8_t>(product >> 8),
            0x10,
            0x01,
            0,
            0,
            0,
            1};
}

// Interface 0, alternate setting 0 with bulk 0x02 OUT, 0x04 OUT, 0x86 IN,
// 0x88 IN of `packet` bytes: 46 bytes in all.
inline Bytes configurationBlock(std::uint16_t packet)
{
    Bytes c = {9, 2, 46, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 4, 0xFF, 0xFF, 0xFF, 0};
    for (std::uint8_t ep : {0x02, 0x04, 0x86, 0x88})
        c.insert(c.end(), {7, 5, ep, 2, static_cast<std::uint8_t>(packet & 0xFF),
                           static_cast<std::uint8_t>(packet >> 8), 0});
    return c;
}

// Where a test image keeps its parts; other places than the emulator's own
// builder uses, to show the addresses come from the signature block.
struct Layout
{
    std::uint16_t device = 0x0100;
    std::uint16_t highSpeed = 0x0120;
    std::uint16_t fullSpeed = 0x0160;
    std::size_t size = 0x0200;
};

inline constexpr std::uint16_t ImageVendor = 0xABCD; // replaced by the part's own
inline constexpr std::uint16_t ImageProduct = 0x1234;

// RAM contents from address 0 of a valid image.
inline Bytes image(char family = 'N', std::uint8_t number = 1,
                   const std::string &name = "NAND image 1", const Layout &layout = {})
{
    Bytes ram(layout.size, 0);
    ram[0] = 0x02; // LJMP 0x01C0
    ram[1] = 0x01;
    ram[2] = 0xC0;
    const char magic[] = "KVFWSIG1";
    std::copy(magic, magic + 8, ram.begin() + 0x80);
    ram[0x88] = static_cast<std::uint8_t>(family);
    ram[0x89] = number;
    put16(ram, 0x8A, layout.device);
    put16(ram, 0x8C, layout.highSpeed);
    put16(ram, 0x8E, layout.fullSpeed);
    std::copy(name.begin(), name.end(), ram.begin() + 0x90);
    put(ram, layout.device, deviceDescriptor(ImageVendor, ImageProduct));
    put(ram, layout.highSpeed, configurationBlock(512));
    put(ram, layout.fullSpeed, configurationBlock(64));
    ram[0x1C0] = 0x80; // SJMP $
    ram[0x1C1] = 0xFE;
    return ram;
}

// Loads the data records of an Intel HEX file into `ram`; false on a
// malformed line or an address outside `ram`.
inline bool loadIntelHex(const QString &path, Bytes &ram)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        if (line[0] != ':')
            return false;
        const QByteArray record = QByteArray::fromHex(line.mid(1));
        if (record.size() < 5 || record.size() != 5 + static_cast<unsigned char>(record[0]))
            return false;
        const int length = static_cast<unsigned char>(record[0]);
        const int address =
            (static_cast<unsigned char>(record[1]) << 8) | static_cast<unsigned char>(record[2]);
        if (record[3] == 1)
            return true;
        if (record[3] != 0)
            continue;
        if (static_cast<std::size_t>(address + length) > ram.size())
            return false;
        for (int i = 0; i < length; ++i)
            ram[static_cast<std::size_t>(address + i)] = static_cast<std::uint8_t>(record[4 + i]);
    }
    return true;
}

inline kvemu::SetupPacket loadRequest(bool in, std::uint16_t address, std::size_t length)
{
    return {static_cast<std::uint8_t>(in ? 0xC0 : 0x40), 0xA0, address, 0,
            static_cast<std::uint16_t>(length)};
}

inline kvemu::TransferResult loadWrite(kvemu::EzUsbDevice &device, std::uint16_t address,
                                       Bytes bytes)
{
    return device.control(loadRequest(false, address, bytes.size()), bytes);
}

inline kvemu::TransferResult loadRead(kvemu::EzUsbDevice &device, std::uint16_t address, Bytes &out)
{
    return device.control(loadRequest(true, address, out.size()), out);
}

// Holds the CPU and writes `ram` in 16-byte requests, as the host's
// download does; true when every request went through.
inline bool download(kvemu::EzUsbDevice &device, const Bytes &ram)
{
    bool ok = loadWrite(device, device.cpucsAddress(), {1}).ok();
    for (std::size_t at = 0; at < ram.size(); at += 16) {
        const auto end = ram.begin() + static_cast<std::ptrdiff_t>(std::min(at + 16, ram.size()));
        ok = loadWrite(device, static_cast<std::uint16_t>(at),
                       Bytes(ram.begin() + static_cast<std::ptrdiff_t>(at), end))
                 .ok() &&
             ok;
    }
    return ok;
}

inline kvemu::TransferResult release(kvemu::EzUsbDevice &device)
{
    return loadWrite(device, device.cpucsAddress(), {0});
}

// A clock the test moves by hand.
struct ManualClock
{
    kvemu::EzUsbDevice::Clock::time_point now =
        kvemu::EzUsbDevice::Clock::time_point{} + std::chrono::hours(1);
    void attach(kvemu::EzUsbDevice &device)
    {
        device.setClock([this] { return now; });
    }
};

} // namespace EmulatorTest
