#pragma once

#include "Descriptors.h"
#include "FirmwareImage.h"
#include "FirmwareSide.h"
#include "UsbConfig.h"
#include "UsbTypes.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <vector>

namespace kvemu {

// The emulated programmer's EZ-USB micro-controller as the host sees it
// over USB: default (bare) enumeration, the firmware-load request 0xA0 on
// program RAM and the CPUCS register, the disconnect and re-enumeration
// when a firmware image starts, and the firmware's bulk endpoints, whose
// traffic goes to a FirmwareSide.
//
// The model owns no thread. Time-driven steps (the re-enumeration after a
// firmware start) happen in poll(); nextEventTime() says when one is due,
// finishReenumeration() does it at once. Every public function is
// thread-safe. A change handler (setChangeHandler) learns of every state
// change, so a front end can publish it to its USB stack.
//
// Releasing the CPU without a valid firmware signature in RAM leaves the
// device as the host saw it (a CPU running garbage does not disconnect) and
// records an EventKind::BadFirmware event.
class EzUsbDevice
{
public:
    using Clock = std::chrono::steady_clock;

    // Throws std::invalid_argument when config.runningImage names no image
    // of ours. Without `firmware` a LoopbackFirmware answers bulk traffic.
    explicit EzUsbDevice(UsbConfig config = {}, std::shared_ptr<FirmwareSide> firmware = {});
    ~EzUsbDevice();
    EzUsbDevice(const EzUsbDevice &) = delete;
    EzUsbDevice &operator=(const EzUsbDevice &) = delete;

    const UsbConfig &config() const { return m_config; }
    std::uint16_t cpucsAddress() const { return m_cpucs; }
    std::size_t ramSize() const { return m_ramSize; }
    const std::shared_ptr<FirmwareSide> &firmwareSide() const { return m_firmware; }

    // --- what the host sees --------------------------------------------
    DeviceState state() const;
    // Address of the current (or last) enumeration; 2..127.
    std::uint8_t deviceAddress() const;
    // How many times the device appeared on the bus; grows by one with each
    // enumeration (first appearance, re-enumeration, replug).
    std::uint32_t enumerationCount() const;
    // The descriptors the device shows now (those of its last enumeration
    // while Gone).
    DescriptorSet descriptors() const;
    // State, enumeration count and address read at one moment; the second
    // form also copies the descriptors of that enumeration.
    struct Presence
    {
        DeviceState state = DeviceState::Gone;
        std::uint32_t enumeration = 0;
        std::uint8_t address = 0;
    };
    Presence presence() const;
    Presence presence(DescriptorSet &descriptors) const;
    // Endpoints of the selected alternate settings (none while Bare).
    std::vector<EndpointInfo> endpoints() const;
    std::optional<EndpointInfo> endpoint(std::uint8_t address) const;
    std::uint8_t configurationValue() const;
    bool hasInterface(std::uint8_t number) const;

    // A control request on endpoint 0. `data` holds at least setup.length
    // bytes: the data stage to send (OUT) or room for the answer (IN).
    TransferResult control(const SetupPacket &setup, std::span<std::uint8_t> data);
    TransferResult bulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data);
    TransferResult bulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer);
    // The host's SET_CONFIGURATION / SET_INTERFACE / CLEAR_FEATURE(halt)
    // as a USB stack issues them; false when refused.
    bool setConfiguration(std::uint8_t value);
    bool setInterface(std::uint8_t number, std::uint8_t alternate);
    bool clearHalt(std::uint8_t endpoint);
    // A USB bus reset: the device keeps its address and its firmware.
    void busReset();

    // --- time --------------------------------------------------------------
    std::optional<Clock::time_point> nextEventTime() const;
    // Does the steps due at `now`; true when the state changed.
    bool poll(Clock::time_point now);
    bool poll();
    // Finishes a pending re-enumeration now; false when none is pending.
    bool finishReenumeration();
    // Where "now" comes from (default: Clock::now). For tests.
    void setClock(std::function<Clock::time_point()> clock);

    // --- plug ----------------------------------------------------------------
    // Gone at once; pending re-enumeration dropped; every further transfer
    // fails until replug().
    void unplug();
    // Back on the bus with a new address: bare (RAM cleared) unless
    // config.firmwareSurvivesReplug and firmware ran. False when not
    // unplugged.
    bool replug();
    bool unplugged() const;
    // Unplug once `bytes` more bulk bytes have moved; nothing: no limit.
    void setByteBudget(std::optional<std::uint64_t> bytes);

    // --- inspection ------------------------------------------------------------
    bool cpuHeldInReset() const;
    // The image whose firmware runs now (nothing while bare, held or gone).
    std::optional<ImageInfo> runningImage() const;
    // RAM bytes [address, address + length), cut at the end of RAM.
    std::vector<std::uint8_t> ram(std::size_t address, std::size_t length) const;
    std::vector<ControlRecord> controlLog() const;
    void clearControlLog();
    std::vector<DeviceEvent> events() const;
    void clearEvents();
    TrafficCounters traffic() const;

    // Called, without the model's lock, after every state change and when
    // the firmware side wakes a waiting transfer. One handler.
    void setChangeHandler(std::function<void()> handler);

private:
    struct Reenumeration
    {
        Clock::time_point due;
        firmware::ParsedImage image;
    };

    TransferResult controlLocked(const SetupPacket &setup, std::span<std::uint8_t> data,
                                 bool &changed);
    TransferResult standardRequest(const SetupPacket &setup, std::span<std::uint8_t> data);
    TransferResult loadWrite(const SetupPacket &setup, std::span<const std::uint8_t> data,
                             bool &changed);
    TransferResult loadRead(const SetupPacket &setup, std::span<std::uint8_t> data);
    TransferResult descriptorRequest(const SetupPacket &setup, std::span<std::uint8_t> data);
    void writeCpucs(std::uint8_t value, bool &changed);
    bool setConfigurationLocked(std::uint8_t value);
    bool setInterfaceLocked(std::uint8_t number, std::uint8_t alternate);
    bool hasInterfaceLocked(std::uint8_t number) const;
    const EndpointInfo *findEndpoint(std::uint8_t address) const;
    TransferResult bulkCheck(std::uint8_t endpoint, bool in) const;
    std::size_t budgetAllows(std::size_t bytes) const;
    void spendBudget(std::size_t bytes, bool &changed);
    void finishReenumerationLocked();
    void startFirmware(const ImageInfo &image);
    void stopFirmware();
    void enumerate(DeviceState state, DescriptorSet descriptors);
    void unplugLocked();
    void record(EventKind kind, std::string detail = {});
    void notify();

    const UsbConfig m_config;
    const std::uint16_t m_cpucs;
    const std::size_t m_ramSize;
    const std::shared_ptr<FirmwareSide> m_firmware;

    mutable std::mutex m_mutex;
    std::function<Clock::time_point()> m_clock;
    std::vector<std::uint8_t> m_ram;
    bool m_cpuHeld = true;
    bool m_firmwareRunning = false;
    bool m_firmwareAtUnplug = false;
    bool m_unplugged = false;
    DeviceState m_state = DeviceState::Bare;
    DescriptorSet m_descriptors;
    // The image that ran last, with the descriptors it enumerated with.
    std::optional<firmware::ParsedImage> m_lastImage;
    std::optional<Reenumeration> m_reenumeration;
    std::uint8_t m_address = 0;
    std::uint32_t m_enumerations = 0;
    std::uint8_t m_configuration = 0;
    std::map<std::uint8_t, std::uint8_t> m_alternates;
    std::set<std::uint8_t> m_halted;
    unsigned m_loadWrites = 0;
    std::optional<std::uint64_t> m_budget;
    TrafficCounters m_traffic;
    std::vector<ControlRecord> m_controlLog;
    std::vector<DeviceEvent> m_events;

    std::mutex m_handlerMutex;
    std::function<void()> m_changeHandler;
};

} // namespace kvemu
