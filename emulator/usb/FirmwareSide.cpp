#include "FirmwareSide.h"

#include <utility>

namespace kvemu {

FirmwareSide::~FirmwareSide() = default;

TransferResult FirmwareSide::vendorRequest(const SetupPacket &, std::span<std::uint8_t>)
{
    return TransferResult::failed(TransferStatus::Stall);
}

void FirmwareSide::setWakeHandler(std::function<void()> handler)
{
    std::lock_guard lock(m_wakeMutex);
    m_wakeHandler = std::move(handler);
}

void FirmwareSide::wake()
{
    // Called under the lock so that a model that removes its handler while
    // going away never has the handler run afterwards.
    std::lock_guard lock(m_wakeMutex);
    if (m_wakeHandler)
        m_wakeHandler();
}

} // namespace kvemu
