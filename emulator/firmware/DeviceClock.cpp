#include "DeviceClock.h"

namespace kvemu {

DeviceClock::DeviceClock(bool realistic)
    : m_realistic(realistic), m_clock([] { return Clock::now(); }), m_epoch(m_clock())
{}

void DeviceClock::begin(Clock::time_point now)
{
    if (now <= m_epoch)
        return;
    const auto real = static_cast<chips::Nanos>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_epoch).count());
    if (real > CatchUpSlack)
        advanceTo(real - CatchUpSlack);
}

DeviceClock::Clock::time_point DeviceClock::readyAt() const
{
    if (!m_realistic)
        return {};
    return m_epoch + std::chrono::nanoseconds(static_cast<std::int64_t>(m_device));
}

void DeviceClock::setClock(std::function<Clock::time_point()> clock)
{
    m_clock = clock ? std::move(clock) : [] { return Clock::now(); };
    m_epoch = m_clock();
    m_device = 0;
}

} // namespace kvemu
