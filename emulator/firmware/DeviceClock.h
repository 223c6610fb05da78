#pragma once

#include "ChipTime.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace kvemu {

// The programmer's own time. Every command and transfer moves it on by what
// the real device would need (chip busy times, bus time); while the host is
// idle it catches up with real time. Chips see this time, so their busy
// states stay consistent whatever the timing mode.
//
// Instant timing: the device time runs ahead freely and nobody waits for it.
// Realistic timing: the host side waits until real time has caught up with
// readyAt() before it lets a transfer complete, so transfers take as long as
// on the real device. A host that oversleeps by less than CatchUpSlack does
// not slow the device down: it only catches up with real time when it lags
// by more than that (the host was idle).
class DeviceClock
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr chips::Nanos CatchUpSlack = chips::Millisecond;

    explicit DeviceClock(bool realistic = false);

    bool realistic() const { return m_realistic; }
    // The start of an event at real time `now`: the device time catches up.
    void begin(Clock::time_point now);
    void begin() { begin(m_clock()); }
    chips::Nanos now() const { return m_device; }
    void spend(chips::Nanos duration) { m_device += duration; }
    void advanceTo(chips::Nanos time)
    {
        if (time > m_device)
            m_device = time;
    }
    // Real time at which the device gets to its current time; the epoch
    // (the past) when the timing is instant.
    Clock::time_point readyAt() const;
    // Where "now" comes from (default Clock::now); for tests.
    void setClock(std::function<Clock::time_point()> clock);

private:
    bool m_realistic;
    std::function<Clock::time_point()> m_clock;
    Clock::time_point m_epoch;
    chips::Nanos m_device = 0;
};

} // namespace kvemu
