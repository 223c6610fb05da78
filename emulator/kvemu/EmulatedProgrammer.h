#pragma once

#include "EmulatorConfig.h"
#include "EzUsbDevice.h"
#include "ProgrammerFirmware.h"

#include <chrono>
#include <memory>
#include <optional>

namespace kvemu {

// A whole emulated programmer built from a configuration: the EZ-USB part
// (EzUsbDevice) running our firmware (ProgrammerFirmware) with the chips of
// the profile (and the second chip that waits to swap with them). service() does the time-driven
// steps: the re-enumeration after a firmware start, and the replug that follows an unplug after the
// configured delay; the command log gets a line for each. Not thread-safe beyond what the model and
// the firmware guarantee: the owner serialises calls.
class EmulatedProgrammer
{
public:
    using Clock = std::chrono::steady_clock;

    // Throws std::invalid_argument or std::runtime_error (image file) when the
    // chips cannot be built.
    explicit EmulatedProgrammer(EmulatorConfig config);
    // Logs the bulk bytes moved in the programmer's life (END).
    ~EmulatedProgrammer();
    EmulatedProgrammer(const EmulatedProgrammer &) = delete;
    EmulatedProgrammer &operator=(const EmulatedProgrammer &) = delete;

    const EmulatorConfig &config() const { return m_config; }
    EzUsbDevice &device() { return *m_device; }
    ProgrammerFirmware &firmware() { return *m_firmware; }
    const std::shared_ptr<ProgrammerFirmware> &firmwareHandle() const { return m_firmware; }

    void service();
    // Unplugs now; back after `delayMs` (nothing: the configured delay).
    void unplug(std::optional<unsigned> delayMs = std::nullopt);
    // Plugs back in now (no-op when plugged in).
    void replug();

private:
    // The command log's UNPLUG and REPLUG lines; `replugAt` is when the
    // device came back.
    void logUnplug();
    void logReplug(Clock::time_point replugAt);
    std::uint64_t bulkBytes() const;

    EmulatorConfig m_config;
    std::shared_ptr<ProgrammerFirmware> m_firmware;
    std::unique_ptr<EzUsbDevice> m_device;
    std::optional<Clock::time_point> m_replugAt;
    unsigned m_replugDelayMs;
};

} // namespace kvemu
