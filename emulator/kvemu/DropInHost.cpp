#include "DropInHost.h"

#include "ConfigError.h"
#include "ConfigReader.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace kvemu {

namespace {

constexpr unsigned Unread = 0xFF;
constexpr std::uint16_t VendorFx2 = 0x04B4;
constexpr std::uint16_t VendorAn21 = 0x0547;
constexpr std::size_t RecordSize = 22;
constexpr unsigned RecordDataMax = 16;
constexpr unsigned RecordEnd = 1;
constexpr int RecordsMax = 65536;

bool isProgrammerVendor(unsigned vendor)
{
    return vendor == VendorFx2 || vendor == VendorAn21;
}

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

DropInHost &DropInHost::instance()
{
    static DropInHost host;
    return host;
}

DropInHost::DropInHost()
{
    resetPipeTable();
}

DropInHost::~DropInHost() = default;

CommandLog &DropInHost::log()
{
    if (m_programmer)
        return m_programmer->firmware().log();
    if (!m_hostLog)
        m_hostLog = std::make_unique<CommandLog>(environment("KVEMU_LOG"));
    return *m_hostLog;
}

void DropInHost::resetPipeTable()
{
    for (Pipe &p : m_pipes)
        p = {0, 0};
    m_pipes[0].address = Unread;
    m_pipe1PacketSize = 0;
}

void DropInHost::forgetPipes()
{
    for (Pipe &p : m_pipes)
        p.address = Unread;
}

void DropInHost::ensureLoaded()
{
    if (m_loaded)
        return;
    m_loaded = true;
    const std::string path = environment("KVEMU_CONFIG");
    if (path.empty()) {
        build({}, {}); // an empty socket
        return;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    if (!in || in.bad()) {
        m_error = "config: cannot read " + path;
        log().error(m_error);
        return;
    }
    const std::size_t slash = path.find_last_of('/');
    build(text.str(), slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
}

bool DropInHost::build(std::string_view profile, const std::string &folder)
{
    m_profile = std::string(profile);
    m_profileFolder = folder;
    m_open = false;
    m_programmer.reset();
    resetPipeTable();
    try {
        std::string base = folder;
        if (base.size() > 1 && base.back() == '/')
            base.pop_back();
        EmulatorConfig config = ConfigReader::read(profile, base);
        config.firmware.logFile = environment("KVEMU_LOG");
        m_programmer = std::make_unique<EmulatedProgrammer>(std::move(config));
        m_hostLog.reset();
        m_error.clear();
        return true;
    } catch (const std::exception &e) {
        m_programmer.reset();
        m_error = std::string("config: ") + e.what();
        log().error(m_error);
        return false;
    }
}

// --- the six functions ------------------------------------------------------------

int DropInHost::open()
{
    std::lock_guard lock(m_mutex);
    return openLocked();
}

int DropInHost::openLocked()
{
    ensureLoaded();
    if (m_open)
        return m_openResult;
    if (!m_programmer) {
        forgetPipes();
        return 0;
    }
    m_programmer->service();
    DescriptorSet descriptors;
    const EzUsbDevice::Presence presence = m_programmer->device().presence(descriptors);
    if (presence.state == DeviceState::Gone || !isProgrammerVendor(descriptors.vendorId())) {
        forgetPipes();
        return 0;
    }
    m_open = true;
    m_openEnumeration = presence.enumeration;
    m_openResult = descriptors.vendorId() == VendorAn21 ? 2 : 1;
    if (m_pipes[0].address == Unread) {
        // Interface 0, alternate setting 0's endpoints, in descriptor order.
        for (const InterfaceSetting &s : descriptors.layout.settings) {
            if (s.number != 0 || s.alternate != 0)
                continue;
            for (std::size_t e = 0; e < s.endpoints.size() && e < Pipes; ++e) {
                m_pipes[e].address = s.endpoints[e].address;
                m_pipes[e].packetSize = s.endpoints[e].maxPacketSize;
            }
            break;
        }
        m_pipe1PacketSize = static_cast<int>(m_pipes[1].packetSize);
    }
    return m_openResult;
}

int DropInHost::close()
{
    std::lock_guard lock(m_mutex);
    return closeLocked();
}

int DropInHost::closeLocked()
{
    const bool wasOpen = m_open;
    m_open = false;
    return wasOpen ? 1 : 0;
}

bool DropInHost::stillOpen()
{
    if (!m_open || !m_programmer)
        return false;
    m_programmer->service();
    const EzUsbDevice::Presence presence = m_programmer->device().presence();
    return presence.state != DeviceState::Gone && presence.enumeration == m_openEnumeration;
}

int DropInHost::read(int pipe, unsigned char *buffer, int length)
{
    return transfer(pipe, buffer, length, true);
}

int DropInHost::write(int pipe, unsigned char *buffer, int length)
{
    return transfer(pipe, buffer, length, false);
}

int DropInHost::transfer(int pipe, unsigned char *buffer, int length, bool in)
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(TransferTimeoutMs);
    std::unique_lock lock(m_mutex);
    ensureLoaded();
    if (!m_open || pipe < 0 || pipe >= Pipes || length < 0 || (!buffer && length > 0))
        return -1;
    const unsigned address = m_pipes[pipe].address;
    if (address == Unread || address == 0 || ((address & 0x80) != 0) != in)
        return -1;
    const auto endpoint = static_cast<std::uint8_t>(address);
    const std::size_t size = static_cast<std::size_t>(length);
    TransferResult result;
    for (;;) {
        if (!stillOpen())
            return -1;
        EzUsbDevice &device = m_programmer->device();
        result = in ? device.bulkIn(endpoint, std::span<std::uint8_t>(buffer, size))
                    : device.bulkOut(endpoint, std::span<const std::uint8_t>(buffer, size));
        if (result.status != TransferStatus::Nak)
            break;
        // Nothing yet: the host controller asks again, until its time-out.
        lock.unlock();
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.lock();
    }
    m_programmer->service(); // an unplug during the transfer starts the replug delay
    const auto ready = m_programmer->firmware().readyAt();
    lock.unlock();
    std::this_thread::sleep_until(ready);
    return result.ok() ? static_cast<int>(result.length) : -1;
}

bool DropInHost::load(std::uint16_t address, const std::uint8_t *data, std::uint16_t length)
{
    SetupPacket setup;
    setup.requestType = 0x40;
    setup.request = 0xA0;
    setup.value = address;
    setup.index = 0;
    setup.length = length;
    std::uint8_t copy[RecordDataMax] = {};
    for (unsigned i = 0; i < length && i < RecordDataMax; ++i)
        copy[i] = data[i];
    const TransferResult r =
        m_programmer->device().control(setup, std::span<std::uint8_t>(copy, length));
    return r.ok() && r.length == length;
}

int DropInHost::writeRecords(const unsigned char *record)
{
    int written = 0;
    for (int i = 0; i < RecordsMax; ++i, record += RecordSize) {
        if (record[4] == RecordEnd)
            return written > 0 ? 1 : 0;
        const unsigned length = record[0];
        if (record[4] != 0 || length > RecordDataMax)
            return 0;
        if (!load(static_cast<std::uint16_t>(record[2] | (record[3] << 8)), record + 5,
                  static_cast<std::uint16_t>(length)))
            return 0;
        ++written;
    }
    return 0;
}

int DropInHost::download(const void *records, unsigned char force)
{
    std::unique_lock lock(m_mutex);
    if (openLocked() == 0)
        return 0;
    if (force)
        m_pipes[0].address = Unread;
    // The vendor as the device itself reports it (GET_DESCRIPTOR).
    SetupPacket get;
    get.requestType = 0x80;
    get.request = 0x06;
    get.value = 0x0100;
    get.length = 18;
    std::uint8_t descriptor[18] = {};
    const TransferResult r = m_programmer->device().control(get, descriptor);
    const unsigned vendor = descriptor[8] | (descriptor[9] << 8);
    if (!records || !r.ok() || r.length < 10 || !isProgrammerVendor(vendor)) {
        closeLocked();
        return 0;
    }
    if (m_pipes[0].address != Unread) {
        closeLocked();
        return 2;
    }
    const std::uint16_t cpucs = vendor == VendorAn21 ? 0x7F92 : 0xE600;
    const std::uint8_t hold = 1;
    const std::uint8_t release = 0;
    // Only the program's re-initialisation forces a download; the first
    // connection of a process never does. A forced download into a
    // programmer whose firmware ran before is where the chips change places
    // (while the CPU is held, so no command runs on either).
    const bool reinitialisation = force && m_programmer->firmware().starts() > 0;
    load(cpucs, &hold, 1);
    const int result = writeRecords(static_cast<const unsigned char *>(records));
    if (result == 1 && reinitialisation)
        m_programmer->firmware().swapChips();
    load(cpucs, &release, 1);
    closeLocked();
    lock.unlock();
    if (result == 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_pauseMs.load()));
    return result;
}

// --- for tests -----------------------------------------------------------------------

bool DropInHost::configure(std::string_view profile)
{
    std::lock_guard lock(m_mutex);
    m_loaded = true;
    return build(profile, {});
}

bool DropInHost::reset()
{
    std::lock_guard lock(m_mutex);
    if (!m_loaded) {
        ensureLoaded();
        return m_programmer != nullptr;
    }
    const std::string profile = m_profile;
    const std::string folder = m_profileFolder;
    return build(profile, folder);
}

std::string DropInHost::lastError() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

long long DropInHost::readChip(int chip, std::uint64_t offset, unsigned char *buffer,
                               std::uint64_t length)
{
    std::lock_guard lock(m_mutex);
    ensureLoaded();
    if (!m_programmer || chip < 0 || (!buffer && length > 0))
        return -1;
    ProgrammerFirmware &firmware = m_programmer->firmware();
    const std::uint64_t size = firmware.chipBytes(static_cast<unsigned>(chip));
    if (size == 0)
        return -1;
    const std::uint64_t n = offset >= size ? 0 : std::min(length, size - offset);
    if (!firmware.chipContents(static_cast<unsigned>(chip), offset,
                               std::span<std::uint8_t>(buffer, static_cast<std::size_t>(n))))
        return -1;
    return static_cast<long long>(n);
}

long long DropInHost::writeChip(int chip, std::uint64_t offset, const unsigned char *buffer,
                                std::uint64_t length)
{
    std::lock_guard lock(m_mutex);
    ensureLoaded();
    if (!m_programmer || chip < 0 || (!buffer && length > 0))
        return -1;
    ProgrammerFirmware &firmware = m_programmer->firmware();
    const std::uint64_t size = firmware.chipBytes(static_cast<unsigned>(chip));
    if (size == 0)
        return -1;
    const std::uint64_t n = offset >= size ? 0 : std::min(length, size - offset);
    const auto written = firmware.setChipContents(
        static_cast<unsigned>(chip), offset,
        std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)));
    return written ? static_cast<long long>(*written) : -1;
}

int DropInHost::socketChip()
{
    std::lock_guard lock(m_mutex);
    ensureLoaded();
    return m_programmer ? static_cast<int>(m_programmer->firmware().socketBoard()) : 0;
}

bool DropInHost::swapChip()
{
    std::lock_guard lock(m_mutex);
    ensureLoaded();
    return m_programmer && m_programmer->firmware().swapChips();
}

long long DropInHost::chipSize(int chip)
{
    std::lock_guard lock(m_mutex);
    ensureLoaded();
    if (!m_programmer || chip < 0)
        return 0;
    return static_cast<long long>(m_programmer->firmware().chipBytes(static_cast<unsigned>(chip)));
}

std::string DropInHost::commandLog()
{
    std::lock_guard lock(m_mutex);
    ensureLoaded();
    return log().text();
}

void DropInHost::clearLog()
{
    std::lock_guard lock(m_mutex);
    ensureLoaded();
    log().clear();
}

bool DropInHost::injectFault(std::string_view fault, std::uint64_t value)
{
    std::lock_guard lock(m_mutex);
    ensureLoaded();
    if (!m_programmer)
        return false;
    if (fault == "unplug") {
        m_programmer->unplug(value == 0 ? std::nullopt
                                        : std::optional<unsigned>(static_cast<unsigned>(value)));
    } else if (fault == "replug") {
        m_programmer->replug();
    } else if (fault == "unplug_after_bytes") {
        m_programmer->device().setByteBudget(value);
    } else if (fault == "fail_read") {
        m_programmer->firmware().failRead(static_cast<unsigned>(value));
    } else if (const std::optional<AnswerFault> spoil = answerFaultNamed(fault)) {
        m_programmer->firmware().spoilAnswer(*spoil, static_cast<std::uint8_t>(value & 0xFF),
                                             static_cast<unsigned>(value >> 8));
    } else {
        m_error = "unknown fault \"" + std::string(fault) + "\"";
        return false;
    }
    return true;
}

} // namespace kvemu
