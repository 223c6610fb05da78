#include "EngineMessage.h"

EngineMessage::EngineMessage(int tag, uint size, quint8 kind, bool withData)
    : m_tag(tag), m_size(size), m_kind(kind),
      m_data(withData ? std::make_unique<quint8[]>(size) : nullptr)
{}

EngineMessage::~EngineMessage() = default;

QByteArray EngineMessage::bytes() const
{
    if (!m_data)
        return {};
    return QByteArray(reinterpret_cast<const char *>(m_data.get()), qsizetype(m_size));
}

quint8 EngineMessage::byteAt(uint index) const
{
    return m_data && index < m_size ? m_data[index] : 0;
}

quint32 EngineMessage::readLE(uint offset, int width) const
{
    quint32 value = 0;
    for (int i = qBound(1, width, 4) - 1; i >= 0; --i)
        value = value << 8 | byteAt(offset + uint(i));
    return value;
}
