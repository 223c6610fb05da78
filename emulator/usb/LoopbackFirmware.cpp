#include "LoopbackFirmware.h"

#include <algorithm>

namespace kvemu {

void LoopbackFirmware::onStart(const ImageInfo &image, LinkSpeed speed)
{
    std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_running = true;
    m_image = image;
    m_speed = speed;
    ++m_starts;
}

void LoopbackFirmware::onStop()
{
    std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_running = false;
    ++m_stops;
}

TransferResult LoopbackFirmware::bulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data)
{
    std::lock_guard lock(m_mutex);
    if (endpoint == 0x02)
        m_queue.insert(m_queue.end(), data.begin(), data.end());
    else if (endpoint == 0x04)
        m_dropped += data.size();
    else
        return TransferResult::failed(TransferStatus::Stall);
    return TransferResult::done(data.size());
}

TransferResult LoopbackFirmware::bulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer)
{
    std::lock_guard lock(m_mutex);
    if (endpoint != 0x86 && endpoint != 0x88)
        return TransferResult::failed(TransferStatus::Stall);
    if (m_hold)
        return TransferResult::failed(TransferStatus::Nak);
    const std::size_t n = std::min(buffer.size(), m_queue.size());
    std::copy_n(m_queue.begin(), n, buffer.begin());
    m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(n));
    return TransferResult::done(n);
}

void LoopbackFirmware::holdAnswers(bool hold)
{
    {
        std::lock_guard lock(m_mutex);
        m_hold = hold;
    }
    if (!hold)
        wake();
}

bool LoopbackFirmware::holdingAnswers() const
{
    std::lock_guard lock(m_mutex);
    return m_hold;
}

std::size_t LoopbackFirmware::queuedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

std::uint64_t LoopbackFirmware::droppedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

bool LoopbackFirmware::running() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

std::optional<ImageInfo> LoopbackFirmware::image() const
{
    std::lock_guard lock(m_mutex);
    return m_image;
}

LinkSpeed LoopbackFirmware::speed() const
{
    std::lock_guard lock(m_mutex);
    return m_speed;
}

unsigned LoopbackFirmware::starts() const
{
    std::lock_guard lock(m_mutex);
    return m_starts;
}

unsigned LoopbackFirmware::stops() const
{
    std::lock_guard lock(m_mutex);
    return m_stops;
}

} // namespace kvemu
