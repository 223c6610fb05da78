#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Small value types shared by the emulated programmer's USB model, its
// firmware side and the front ends that connect it to a USB stack.
namespace kvemu {

enum class LinkSpeed { Full, High };

// What the host sees of the device.
enum class DeviceState {
    Bare,     // the micro-controller's default enumeration: no firmware runs
    Gone,     // disconnected: re-enumerating after a firmware start, or unplugged
    Firmware, // firmware runs and the device shows the firmware's descriptors
};

const char *stateName(DeviceState state);

enum class TransferStatus {
    Ok,       // done; `length` bytes moved
    Nak,      // nothing to send or no room to receive now; the host retries later
    Stall,    // refused: unknown request, address outside RAM, halted endpoint
    NoDevice, // the device is disconnected
    Invalid,  // malformed: unknown endpoint, wrong direction, buffer shorter than wLength
};

const char *statusName(TransferStatus status);

struct TransferResult
{
    TransferStatus status = TransferStatus::Ok;
    std::size_t length = 0;

    bool ok() const { return status == TransferStatus::Ok; }
    static TransferResult done(std::size_t bytes) { return {TransferStatus::Ok, bytes}; }
    static TransferResult failed(TransferStatus status, std::size_t bytes = 0)
    {
        return {status, bytes};
    }
};

// The eight bytes of a control request's setup stage.
struct SetupPacket
{
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;

    static constexpr std::size_t Size = 8;
    // Decodes the little-endian wire form; `bytes` holds at least 8 bytes.
    static SetupPacket fromBytes(const std::uint8_t *bytes);
    bool isIn() const { return (requestType & 0x80) != 0; }
    bool operator==(const SetupPacket &) const = default;
};

struct EndpointInfo
{
    std::uint8_t address = 0;
    std::uint8_t attributes = 0;
    std::uint16_t maxPacketSize = 0;

    bool isIn() const { return (address & 0x80) != 0; }
    bool isBulk() const { return (attributes & 0x03) == 0x02; }
    bool operator==(const EndpointInfo &) const = default;
};

enum class ImageFamily : char { Nand = 'N', Spi = 'S' };

// Which of our firmware images runs: family, number and name from its
// signature block.
struct ImageInfo
{
    ImageFamily family = ImageFamily::Nand;
    std::uint8_t number = 0;
    std::string name;

    bool operator==(const ImageInfo &) const = default;
};

// One control request as the device received it.
struct ControlRecord
{
    SetupPacket setup;
    // OUT: the bytes the host sent; IN: the bytes the device answered.
    std::vector<std::uint8_t> data;
    TransferStatus status = TransferStatus::Ok;
};

enum class EventKind {
    CpuHeld,           // CPUCS bit 0 set: the CPU is held in reset
    CpuReleased,       // CPUCS bit 0 cleared: the CPU runs RAM
    Disconnected,      // the started firmware disconnects to re-enumerate
    Enumerated,        // the device (re)appears, with a new device address
    BadFirmware,       // the CPU was released without a valid image in RAM
    DownloadFault,     // the configured download fault stalled a RAM write
    WriteWhileRunning, // a RAM write arrived while the CPU was not held in reset
    Unplugged,
    Replugged,
    BusReset,
    ByteBudgetSpent, // the configured byte budget ran out: the device unplugs
};

const char *eventName(EventKind kind);

struct DeviceEvent
{
    EventKind kind = EventKind::Enumerated;
    std::string detail;
};

// Bulk traffic the device moved since it was made.
struct TrafficCounters
{
    std::uint64_t bytesOut = 0;
    std::uint64_t bytesIn = 0;
    std::uint64_t transfersOut = 0;
    std::uint64_t transfersIn = 0;
};

} // namespace kvemu
