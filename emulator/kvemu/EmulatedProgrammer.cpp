#include "EmulatedProgrammer.h"

namespace kvemu {

EmulatedProgrammer::EmulatedProgrammer(EmulatorConfig config)
    : m_config(std::move(config)),
      m_firmware(std::make_shared<ProgrammerFirmware>(
          m_config.firmware, std::make_unique<ChipBoard>(m_config.board),
          m_config.secondBoard ? std::make_unique<ChipBoard>(*m_config.secondBoard) : nullptr)),
      m_device(std::make_unique<EzUsbDevice>(m_config.usb, m_firmware)),
      m_replugDelayMs(m_config.replugDelayMs)
{}

void EmulatedProgrammer::service()
{
    m_device->poll();
    if (!m_device->unplugged()) {
        m_replugAt.reset();
        return;
    }
    const Clock::time_point now = Clock::now();
    if (!m_replugAt)
        m_replugAt = now + std::chrono::milliseconds(m_replugDelayMs);
    if (now >= *m_replugAt) {
        m_device->replug();
        m_replugAt.reset();
        m_replugDelayMs = m_config.replugDelayMs;
    }
}

void EmulatedProgrammer::unplug(std::optional<unsigned> delayMs)
{
    m_replugDelayMs = delayMs.value_or(m_config.replugDelayMs);
    m_device->unplug();
    m_replugAt = Clock::now() + std::chrono::milliseconds(m_replugDelayMs);
}

void EmulatedProgrammer::replug()
{
    m_device->replug();
    m_replugAt.reset();
    m_replugDelayMs = m_config.replugDelayMs;
}

} // namespace kvemu
