#include "NandReadPlan.h"

#include <algorithm>

void NandReadPlan::start(quint32 packetSize)
{
    m_requests.clear();
    m_delivered = 0;
    m_packetSize = packetSize == 0 ? 64 : packetSize;
}

NandReadPlan::Result NandReadPlan::place(int tag, quint32 size, Piece &piece)
{
    if (m_requests.empty())
        return Result::Unexpected;
    const Request &request = m_requests.front();
    const quint64 expectedTag = quint64(request.firstTag) + m_delivered / m_packetSize;
    if (tag < 0 || quint64(tag) != expectedTag || m_delivered % m_packetSize != 0)
        return Result::Missing;
    piece.address = request.address + m_delivered;
    piece.length = m_delivered >= request.dataBytes
                       ? 0
                       : quint32(std::min<quint64>(size, request.dataBytes - m_delivered));
    m_delivered += size;
    if (m_delivered >= quint64(request.packets) * m_packetSize) {
        m_requests.pop_front();
        m_delivered = 0;
    }
    return Result::Placed;
}

quint64 NandReadPlan::expectedAddress() const
{
    return m_requests.empty() ? 0 : m_requests.front().address + m_delivered;
}
