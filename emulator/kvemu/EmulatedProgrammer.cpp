#include "EmulatedProgrammer.h"

#include <string>

namespace kvemu {

namespace {

// Wall-clock milliseconds of a steady-clock time, so that a log reader can
// set them against its own clock.
long long wallMs(EmulatedProgrammer::Clock::time_point at)
{
    const auto wall = std::chrono::system_clock::now() -
                      std::chrono::duration_cast<std::chrono::system_clock::duration>(
                          EmulatedProgrammer::Clock::now() - at);
    return std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count();
}

} // namespace

EmulatedProgrammer::EmulatedProgrammer(EmulatorConfig config)
    : m_config(std::move(config)),
      m_firmware(std::make_shared<ProgrammerFirmware>(
          m_config.firmware, std::make_unique<ChipBoard>(m_config.board),
          m_config.secondBoard ? std::make_unique<ChipBoard>(*m_config.secondBoard) : nullptr)),
      m_device(std::make_unique<EzUsbDevice>(m_config.usb, m_firmware)),
      m_replugDelayMs(m_config.replugDelayMs)
{}

EmulatedProgrammer::~EmulatedProgrammer()
{
    m_firmware->log().plug("END after " + std::to_string(bulkBytes()) + " bulk bytes");
}

std::uint64_t EmulatedProgrammer::bulkBytes() const
{
    const TrafficCounters traffic = m_device->traffic();
    return traffic.bytesOut + traffic.bytesIn;
}

void EmulatedProgrammer::logUnplug()
{
    m_firmware->log().plug("UNPLUG " + std::to_string(wallMs(Clock::now())) + " ms after " +
                           std::to_string(bulkBytes()) + " bulk bytes");
}

void EmulatedProgrammer::logReplug(Clock::time_point replugAt)
{
    m_firmware->log().plug("REPLUG " + std::to_string(wallMs(replugAt)) + " ms");
}

void EmulatedProgrammer::service()
{
    m_device->poll();
    if (!m_device->unplugged()) {
        m_replugAt.reset();
        return;
    }
    const Clock::time_point now = Clock::now();
    if (!m_replugAt) {
        // The device unplugged itself (its byte budget ran out).
        m_replugAt = now + std::chrono::milliseconds(m_replugDelayMs);
        logUnplug();
    }
    if (now >= *m_replugAt) {
        logReplug(*m_replugAt);
        m_device->replug();
        m_replugAt.reset();
        m_replugDelayMs = m_config.replugDelayMs;
    }
}

void EmulatedProgrammer::unplug(std::optional<unsigned> delayMs)
{
    m_replugDelayMs = delayMs.value_or(m_config.replugDelayMs);
    if (!m_device->unplugged())
        logUnplug();
    m_device->unplug();
    m_replugAt = Clock::now() + std::chrono::milliseconds(m_replugDelayMs);
}

void EmulatedProgrammer::replug()
{
    if (m_device->unplugged())
        logReplug(Clock::now());
    m_device->replug();
    m_replugAt.reset();
    m_replugDelayMs = m_config.replugDelayMs;
}

} // namespace kvemu
