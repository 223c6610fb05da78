#include "EzUsbDevice.h"

#include "FirmwareImage.h"
#include "LoopbackFirmware.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace kvemu {

namespace {

constexpr std::uint8_t FirmwareLoadRequest = 0xA0;
constexpr std::uint8_t LastDeviceAddress = 127;

enum StandardRequest : std::uint8_t {
    GetStatus = 0x00,
    ClearFeature = 0x01,
    SetFeature = 0x03,
    SetAddress = 0x05,
    GetDescriptor = 0x06,
    GetConfiguration = 0x08,
    SetConfiguration = 0x09,
    GetInterface = 0x0A,
    SetInterface = 0x0B,
};

constexpr unsigned RecipientEndpoint = 2;
constexpr std::uint16_t EndpointHalt = 0;

std::string hex16(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFF);
    return text;
}

void setVendor(DescriptorSet &set, std::uint16_t vendorId)
{
    if (set.device.size() >= 10) {
        set.device[8] = static_cast<std::uint8_t>(vendorId & 0xFF);
        set.device[9] = static_cast<std::uint8_t>(vendorId >> 8);
    }
}

TransferResult stall()
{
    return TransferResult::failed(TransferStatus::Stall);
}

} // namespace

EzUsbDevice::EzUsbDevice(UsbConfig config, std::shared_ptr<FirmwareSide> firmwareSide)
    : m_config(std::move(config)), m_cpucs(m_config.cpucsAddress()), m_ramSize(m_config.ramSize()),
      m_firmware(firmwareSide ? std::move(firmwareSide) : std::make_shared<LoopbackFirmware>()),
      m_clock([] { return Clock::now(); }), m_ram(m_ramSize, 0)
{
    if (m_config.unplugAfterBytes > 0)
        m_budget = m_config.unplugAfterBytes;
    if (m_config.runningImage.empty()) {
        enumerate(DeviceState::Bare, descriptors::bare(m_config));
    } else {
        const auto info = firmware::infoFromName(m_config.runningImage);
        if (!info)
            throw std::invalid_argument("no firmware image is named \"" + m_config.runningImage +
                                        "\"");
        // RAM holds the image, as after the download of an earlier session.
        const auto image = firmware::build(*info, m_config.vendorId);
        std::copy(image.begin(), image.end(), m_ram.begin());
        std::string error;
        auto parsed = firmware::parse(m_ram, m_config.speed, error);
        if (!parsed)
            throw std::logic_error("built firmware image does not parse: " + error);
        setVendor(parsed->descriptors, m_config.vendorId);
        m_cpuHeld = false;
        m_lastImage = *parsed;
        startFirmware(parsed->image);
        enumerate(DeviceState::Firmware, parsed->descriptors);
    }
    m_firmware->setWakeHandler([this] { notify(); });
}

EzUsbDevice::~EzUsbDevice()
{
    m_firmware->setWakeHandler({});
    std::lock_guard lock(m_mutex);
    stopFirmware();
}

// --- what the host sees --------------------------------------------------------

DeviceState EzUsbDevice::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

std::uint8_t EzUsbDevice::deviceAddress() const
{
    std::lock_guard lock(m_mutex);
    return m_address;
}

std::uint32_t EzUsbDevice::enumerationCount() const
{
    std::lock_guard lock(m_mutex);
    return m_enumerations;
}

DescriptorSet EzUsbDevice::descriptors() const
{
    std::lock_guard lock(m_mutex);
    return m_descriptors;
}

EzUsbDevice::Presence EzUsbDevice::presence() const
{
    std::lock_guard lock(m_mutex);
    return {m_state, m_enumerations, m_address};
}

EzUsbDevice::Presence EzUsbDevice::presence(DescriptorSet &descriptors) const
{
    std::lock_guard lock(m_mutex);
    descriptors = m_descriptors;
    return {m_state, m_enumerations, m_address};
}

std::vector<EndpointInfo> EzUsbDevice::endpoints() const
{
    std::lock_guard lock(m_mutex);
    std::vector<EndpointInfo> all;
    if (m_configuration == 0)
        return all;
    for (const InterfaceSetting &s : m_descriptors.layout.settings) {
        const auto alt = m_alternates.find(s.number);
        if (s.alternate == (alt == m_alternates.end() ? 0 : alt->second))
            all.insert(all.end(), s.endpoints.begin(), s.endpoints.end());
    }
    return all;
}

std::optional<EndpointInfo> EzUsbDevice::endpoint(std::uint8_t address) const
{
    std::lock_guard lock(m_mutex);
    const EndpointInfo *ep = findEndpoint(address);
    return ep ? std::optional<EndpointInfo>(*ep) : std::nullopt;
}

std::uint8_t EzUsbDevice::configurationValue() const
{
    std::lock_guard lock(m_mutex);
    return m_configuration;
}

bool EzUsbDevice::hasInterface(std::uint8_t number) const
{
    std::lock_guard lock(m_mutex);
    return hasInterfaceLocked(number);
}

bool EzUsbDevice::hasInterfaceLocked(std::uint8_t number) const
{
    const auto &settings = m_descriptors.layout.settings;
    return std::any_of(settings.begin(), settings.end(),
                       [number](const InterfaceSetting &s) { return s.number == number; });
}

const EndpointInfo *EzUsbDevice::findEndpoint(std::uint8_t address) const
{
    if (m_configuration == 0)
        return nullptr;
    for (const InterfaceSetting &s : m_descriptors.layout.settings) {
        const auto alt = m_alternates.find(s.number);
        if (s.alternate != (alt == m_alternates.end() ? 0 : alt->second))
            continue;
        for (const EndpointInfo &ep : s.endpoints)
            if (ep.address == address)
                return &ep;
    }
    return nullptr;
}

// --- control requests ------------------------------------------------------------

TransferResult EzUsbDevice::control(const SetupPacket &setup, std::span<std::uint8_t> data)
{
    bool changed = false;
    TransferResult result;
    {
        std::lock_guard lock(m_mutex);
        result = controlLocked(setup, data, changed);
    }
    if (changed)
        notify();
    return result;
}

TransferResult EzUsbDevice::controlLocked(const SetupPacket &setup, std::span<std::uint8_t> data,
                                          bool &changed)
{
    if (m_state == DeviceState::Gone)
        return TransferResult::failed(TransferStatus::NoDevice);
    if (data.size() < setup.length)
        return TransferResult::failed(TransferStatus::Invalid);
    const auto payload = data.first(setup.length);

    const unsigned type = (setup.requestType >> 5) & 0x03;
    TransferResult result;
    if (type == 2 && setup.request == FirmwareLoadRequest) {
        result = setup.isIn() ? loadRead(setup, payload) : loadWrite(setup, payload, changed);
    } else if (type == 0) {
        result = standardRequest(setup, payload);
    } else if (type == 2 && m_firmwareRunning && m_state == DeviceState::Firmware) {
        result = m_firmware->vendorRequest(setup, payload);
        result.length = std::min(result.length, payload.size());
    } else {
        result = stall();
    }

    ControlRecord record{setup, {}, result.status};
    if (!setup.isIn())
        record.data.assign(payload.begin(), payload.end());
    else if (result.ok())
        record.data.assign(payload.begin(),
                           payload.begin() + static_cast<std::ptrdiff_t>(result.length));
    m_controlLog.push_back(std::move(record));
    return result;
}

TransferResult EzUsbDevice::loadWrite(const SetupPacket &setup, std::span<const std::uint8_t> data,
                                      bool &changed)
{
    ++m_loadWrites;
    if (m_config.failDownloadRequest != 0 && m_loadWrites == m_config.failDownloadRequest) {
        record(EventKind::DownloadFault,
               "write request " + std::to_string(m_loadWrites) + " at " + hex16(setup.value));
        return stall();
    }
    if (data.empty())
        return TransferResult::done(0);
    if (setup.value == m_cpucs) {
        if (data.size() != 1)
            return stall();
        writeCpucs(data[0], changed);
        return TransferResult::done(1);
    }
    if (setup.value >= m_ramSize || data.size() > m_ramSize - setup.value)
        return stall(); // outside program RAM: nothing is written
    std::copy(data.begin(), data.end(), m_ram.begin() + setup.value);
    if (!m_cpuHeld)
        record(EventKind::WriteWhileRunning, hex16(setup.value));
    return TransferResult::done(data.size());
}

TransferResult EzUsbDevice::loadRead(const SetupPacket &setup, std::span<std::uint8_t> data)
{
    if (data.empty())
        return TransferResult::done(0);
    if (setup.value == m_cpucs) {
        if (data.size() != 1)
            return stall();
        data[0] = m_cpuHeld ? 1 : 0;
        return TransferResult::done(1);
    }
    if (setup.value >= m_ramSize || data.size() > m_ramSize - setup.value)
        return stall();
    std::copy_n(m_ram.begin() + setup.value, data.size(), data.begin());
    return TransferResult::done(data.size());
}

void EzUsbDevice::writeCpucs(std::uint8_t value, bool &changed)
{
    const bool hold = (value & 0x01) != 0;
    if (hold == m_cpuHeld)
        return;
    m_cpuHeld = hold;
    if (hold) {
        stopFirmware();
        record(EventKind::CpuHeld);
        return;
    }
    record(EventKind::CpuReleased);
    std::string error;
    auto parsed = firmware::parse(m_ram, m_config.speed, error);
    if (!parsed) {
        // The CPU runs whatever RAM holds; nothing there disconnects.
        record(EventKind::BadFirmware, error);
        return;
    }
    setVendor(parsed->descriptors, m_config.vendorId);
    record(EventKind::Disconnected, parsed->image.name);
    m_state = DeviceState::Gone;
    m_reenumeration = Reenumeration{
        m_clock() + std::chrono::milliseconds(m_config.reenumerationDelayMs), std::move(*parsed)};
    changed = true;
}

TransferResult EzUsbDevice::standardRequest(const SetupPacket &setup, std::span<std::uint8_t> data)
{
    const bool in = setup.isIn();
    const unsigned recipient = setup.requestType & 0x1F;
    const auto endpointNumber = static_cast<std::uint8_t>(setup.index & 0xFF);
    const bool controlEndpoint = (endpointNumber & 0x7F) == 0;

    switch (setup.request) {
    case GetStatus:
        if (!in || data.size() < 2)
            return stall();
        if (recipient == RecipientEndpoint && !controlEndpoint && !findEndpoint(endpointNumber))
            return stall();
        data[0] = recipient == RecipientEndpoint && m_halted.count(endpointNumber) ? 1 : 0;
        data[1] = 0;
        return TransferResult::done(2);
    case ClearFeature:
    case SetFeature:
        if (in)
            return stall();
        if (recipient == RecipientEndpoint && setup.value == EndpointHalt && !controlEndpoint) {
            if (!findEndpoint(endpointNumber))
                return stall();
            if (setup.request == SetFeature)
                m_halted.insert(endpointNumber);
            else
                m_halted.erase(endpointNumber);
        }
        return TransferResult::done(0);
    case SetAddress:
        return in ? stall() : TransferResult::done(0);
    case GetDescriptor:
        return in ? descriptorRequest(setup, data) : stall();
    case GetConfiguration:
        if (!in || data.empty())
            return stall();
        data[0] = m_configuration;
        return TransferResult::done(1);
    case SetConfiguration:
        if (in || setup.value > 0xFF)
            return stall();
        return setConfigurationLocked(static_cast<std::uint8_t>(setup.value))
                   ? TransferResult::done(0)
                   : stall();
    case GetInterface: {
        if (!in || data.empty() || m_configuration == 0 || setup.index > 0xFF ||
            !hasInterfaceLocked(static_cast<std::uint8_t>(setup.index)))
            return stall();
        const auto alt = m_alternates.find(static_cast<std::uint8_t>(setup.index));
        data[0] = alt == m_alternates.end() ? 0 : alt->second;
        return TransferResult::done(1);
    }
    case SetInterface:
        if (in || setup.index > 0xFF || setup.value > 0xFF)
            return stall();
        return setInterfaceLocked(static_cast<std::uint8_t>(setup.index),
                                  static_cast<std::uint8_t>(setup.value))
                   ? TransferResult::done(0)
                   : stall();
    default:
        return stall();
    }
}

TransferResult EzUsbDevice::descriptorRequest(const SetupPacket &setup,
                                              std::span<std::uint8_t> data)
{
    const unsigned type = setup.value >> 8;
    const unsigned index = setup.value & 0xFF;
    std::vector<std::uint8_t> answer;
    if (type == descriptors::DeviceType && index == 0) {
        answer = m_descriptors.device;
    } else if (type == descriptors::ConfigurationType && index == 0) {
        answer = m_descriptors.configuration;
    } else if (type == descriptors::StringType && index == 0) {
        answer = {4, descriptors::StringType, 0x09, 0x04}; // English (US)
    } else if (type == descriptors::StringType && m_state == DeviceState::Firmware &&
               m_descriptors.device.size() > 15 && index == m_descriptors.device[15] &&
               m_lastImage) {
        // iProduct of a firmware that names one: the image's name.
        const std::string &name = m_lastImage->image.name;
        answer = {static_cast<std::uint8_t>(2 + 2 * name.size()), descriptors::StringType};
        for (char c : name)
            answer.insert(answer.end(), {static_cast<std::uint8_t>(c), 0});
    } else {
        return stall();
    }
    const std::size_t n = std::min(answer.size(), data.size());
    std::copy_n(answer.begin(), n, data.begin());
    return TransferResult::done(n);
}

bool EzUsbDevice::setConfigurationLocked(std::uint8_t value)
{
    if (value != 0 && value != m_descriptors.layout.value)
        return false;
    m_configuration = value;
    m_alternates.clear();
    m_halted.clear();
    return true;
}

bool EzUsbDevice::setInterfaceLocked(std::uint8_t number, std::uint8_t alternate)
{
    if (m_configuration == 0)
        return false;
    const InterfaceSetting *s = m_descriptors.layout.setting(number, alternate);
    if (!s)
        return false;
    m_alternates[number] = alternate;
    for (const EndpointInfo &ep : s->endpoints)
        m_halted.erase(ep.address);
    return true;
}

bool EzUsbDevice::setConfiguration(std::uint8_t value)
{
    std::lock_guard lock(m_mutex);
    return m_state != DeviceState::Gone && setConfigurationLocked(value);
}

bool EzUsbDevice::setInterface(std::uint8_t number, std::uint8_t alternate)
{
    std::lock_guard lock(m_mutex);
    return m_state != DeviceState::Gone && setInterfaceLocked(number, alternate);
}

bool EzUsbDevice::clearHalt(std::uint8_t endpoint)
{
    std::lock_guard lock(m_mutex);
    if (m_state == DeviceState::Gone || !findEndpoint(endpoint))
        return false;
    m_halted.erase(endpoint);
    return true;
}

void EzUsbDevice::busReset()
{
    std::lock_guard lock(m_mutex);
    if (m_state == DeviceState::Gone)
        return;
    m_halted.clear();
    record(EventKind::BusReset);
}

// --- bulk ------------------------------------------------------------------------

TransferResult EzUsbDevice::bulkCheck(std::uint8_t endpoint, bool in) const
{
    if (m_state == DeviceState::Gone)
        return TransferResult::failed(TransferStatus::NoDevice);
    const EndpointInfo *ep = findEndpoint(endpoint);
    if (!ep || !ep->isBulk() || ep->isIn() != in)
        return TransferResult::failed(TransferStatus::Invalid);
    if (m_halted.count(endpoint))
        return stall();
    if (!m_firmwareRunning)
        return TransferResult::failed(TransferStatus::Nak); // no CPU arms the endpoint
    return TransferResult::done(0);
}

std::size_t EzUsbDevice::budgetAllows(std::size_t bytes) const
{
    if (!m_budget)
        return bytes;
    return static_cast<std::size_t>(std::min<std::uint64_t>(bytes, *m_budget));
}

void EzUsbDevice::spendBudget(std::size_t bytes, bool &changed)
{
    if (!m_budget)
        return;
    *m_budget -= std::min<std::uint64_t>(bytes, *m_budget);
    if (*m_budget > 0)
        return;
    m_budget.reset();
    record(EventKind::ByteBudgetSpent);
    unplugLocked();
    changed = true;
}

TransferResult EzUsbDevice::bulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data)
{
    bool changed = false;
    TransferResult result;
    {
        std::lock_guard lock(m_mutex);
        result = bulkCheck(endpoint, false);
        if (!result.ok())
            return result;
        const std::size_t allowed = budgetAllows(data.size());
        result = m_firmware->bulkOut(endpoint, data.first(allowed));
        if (result.status == TransferStatus::Stall)
            m_halted.insert(endpoint);
        if (result.ok()) {
            result.length = std::min(result.length, allowed);
            m_traffic.bytesOut += result.length;
            ++m_traffic.transfersOut;
            spendBudget(result.length, changed);
            if (changed && allowed < data.size())
                result.status = TransferStatus::NoDevice; // unplugged mid-transfer
        }
    }
    if (changed)
        notify();
    return result;
}

TransferResult EzUsbDevice::bulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer)
{
    bool changed = false;
    TransferResult result;
    {
        std::lock_guard lock(m_mutex);
        result = bulkCheck(endpoint, true);
        if (!result.ok())
            return result;
        result = m_firmware->bulkIn(endpoint, buffer);
        if (result.status == TransferStatus::Stall)
            m_halted.insert(endpoint);
        if (result.ok()) {
            const std::size_t produced = std::min(result.length, buffer.size());
            result.length = budgetAllows(produced);
            m_traffic.bytesIn += result.length;
            ++m_traffic.transfersIn;
            spendBudget(result.length, changed);
            if (changed && result.length < produced)
                result.status = TransferStatus::NoDevice; // unplugged mid-transfer
        }
    }
    if (changed)
        notify();
    return result;
}

// --- time --------------------------------------------------------------------------

std::optional<EzUsbDevice::Clock::time_point> EzUsbDevice::nextEventTime() const
{
    std::lock_guard lock(m_mutex);
    if (!m_reenumeration || m_unplugged)
        return std::nullopt;
    return m_reenumeration->due;
}

bool EzUsbDevice::poll(Clock::time_point now)
{
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_reenumeration && !m_unplugged && now >= m_reenumeration->due) {
            finishReenumerationLocked();
            changed = true;
        }
    }
    if (changed)
        notify();
    return changed;
}

bool EzUsbDevice::poll()
{
    std::function<Clock::time_point()> clock;
    {
        std::lock_guard lock(m_mutex);
        clock = m_clock;
    }
    return poll(clock());
}

bool EzUsbDevice::finishReenumeration()
{
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_reenumeration && !m_unplugged) {
            finishReenumerationLocked();
            changed = true;
        }
    }
    if (changed)
        notify();
    return changed;
}

void EzUsbDevice::finishReenumerationLocked()
{
    Reenumeration r = std::move(*m_reenumeration);
    m_reenumeration.reset();
    m_lastImage = r.image;
    startFirmware(r.image.image);
    enumerate(DeviceState::Firmware, std::move(r.image.descriptors));
}

void EzUsbDevice::setClock(std::function<Clock::time_point()> clock)
{
    std::lock_guard lock(m_mutex);
    m_clock = clock ? std::move(clock) : [] { return Clock::now(); };
}

// --- plug --------------------------------------------------------------------------

void EzUsbDevice::unplug()
{
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        changed = !m_unplugged;
        unplugLocked();
    }
    if (changed)
        notify();
}

void EzUsbDevice::unplugLocked()
{
    if (m_unplugged)
        return;
    m_unplugged = true;
    m_firmwareAtUnplug = m_firmwareRunning;
    stopFirmware();
    m_state = DeviceState::Gone;
    m_reenumeration.reset();
    record(EventKind::Unplugged);
}

bool EzUsbDevice::replug()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_unplugged)
            return false;
        m_unplugged = false;
        record(EventKind::Replugged);
        if (m_config.firmwareSurvivesReplug && m_firmwareAtUnplug && m_lastImage) {
            m_cpuHeld = false;
            startFirmware(m_lastImage->image);
            enumerate(DeviceState::Firmware, m_lastImage->descriptors);
        } else {
            // Power returns: RAM lost, CPU held in reset, default enumeration.
            std::fill(m_ram.begin(), m_ram.end(), std::uint8_t{0});
            m_cpuHeld = true;
            enumerate(DeviceState::Bare, descriptors::bare(m_config));
        }
    }
    notify();
    return true;
}

bool EzUsbDevice::unplugged() const
{
    std::lock_guard lock(m_mutex);
    return m_unplugged;
}

void EzUsbDevice::setByteBudget(std::optional<std::uint64_t> bytes)
{
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        m_budget = bytes;
        if (m_budget && *m_budget == 0 && !m_unplugged)
            spendBudget(0, changed);
    }
    if (changed)
        notify();
}

// --- firmware and enumeration --------------------------------------------------------

void EzUsbDevice::startFirmware(const ImageInfo &image)
{
    m_firmwareRunning = true;
    m_firmware->onStart(image, m_config.speed);
}

void EzUsbDevice::stopFirmware()
{
    if (!m_firmwareRunning)
        return;
    m_firmwareRunning = false;
    m_firmware->onStop();
}

void EzUsbDevice::enumerate(DeviceState state, DescriptorSet set)
{
    if (m_enumerations == 0)
        m_address = std::clamp<std::uint8_t>(m_config.firstDeviceAddress, 2, LastDeviceAddress);
    else
        m_address = m_address >= LastDeviceAddress ? 2 : static_cast<std::uint8_t>(m_address + 1);
    ++m_enumerations;
    m_state = state;
    m_descriptors = std::move(set);
    // The host configures the device as part of its enumeration.
    m_configuration = m_descriptors.layout.value;
    m_alternates.clear();
    m_halted.clear();
    record(EventKind::Enumerated,
           std::string(stateName(state)) + " at address " + std::to_string(m_address));
}

// --- inspection ------------------------------------------------------------------------

bool EzUsbDevice::cpuHeldInReset() const
{
    std::lock_guard lock(m_mutex);
    return m_cpuHeld;
}

std::optional<ImageInfo> EzUsbDevice::runningImage() const
{
    std::lock_guard lock(m_mutex);
    if (!m_firmwareRunning || !m_lastImage || m_state != DeviceState::Firmware)
        return std::nullopt;
    return m_lastImage->image;
}

std::vector<std::uint8_t> EzUsbDevice::ram(std::size_t address, std::size_t length) const
{
    std::lock_guard lock(m_mutex);
    if (address >= m_ram.size())
        return {};
    length = std::min(length, m_ram.size() - address);
    const auto first = m_ram.begin() + static_cast<std::ptrdiff_t>(address);
    return {first, first + static_cast<std::ptrdiff_t>(length)};
}

std::vector<ControlRecord> EzUsbDevice::controlLog() const
{
    std::lock_guard lock(m_mutex);
    return m_controlLog;
}

void EzUsbDevice::clearControlLog()
{
    std::lock_guard lock(m_mutex);
    m_controlLog.clear();
}

std::vector<DeviceEvent> EzUsbDevice::events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

void EzUsbDevice::clearEvents()
{
    std::lock_guard lock(m_mutex);
    m_events.clear();
}

TrafficCounters EzUsbDevice::traffic() const
{
    std::lock_guard lock(m_mutex);
    return m_traffic;
}

void EzUsbDevice::record(EventKind kind, std::string detail)
{
    m_events.push_back({kind, std::move(detail)});
}

void EzUsbDevice::setChangeHandler(std::function<void()> handler)
{
    std::lock_guard lock(m_handlerMutex);
    m_changeHandler = std::move(handler);
}

void EzUsbDevice::notify()
{
    std::lock_guard lock(m_handlerMutex);
    if (m_changeHandler)
        m_changeHandler();
}

} // namespace kvemu
