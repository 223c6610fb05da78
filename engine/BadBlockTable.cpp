#include "BadBlockTable.h"

#include "CDeviceItemNand.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <array>

BadBlockTable::BadBlockTable(const CDeviceItemNand &device)
{
    m_pageSize = device.pageSize;
    m_pagesPerBlock = quint32(std::max(device.blockSize, 0));
    m_blockBytes = m_pageSize * m_pagesPerBlock;
    if (m_pageSize != 0 && m_pagesPerBlock != 0)
        m_states.assign(size_t(device.size / m_pageSize / m_pagesPerBlock), Unknown);
}

qint32 BadBlockTable::state(quint32 block) const
{
    return block < m_states.size() ? m_states[block] : Unknown;
}

void BadBlockTable::setState(quint32 block, qint32 state)
{
    if (block < m_states.size())
        m_states[block] = state;
}

void BadBlockTable::clear()
{
    std::fill(m_states.begin(), m_states.end(), Unknown);
}

BadBlockSkip BadBlockTable::skip() const
{
    return BadBlockSkip{m_states, m_pageSize, m_pagesPerBlock};
}

bool BadBlockTable::save(const QString &fileName) const
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray bytes(qsizetype(m_states.size() * 4), Qt::Uninitialized);
    for (size_t i = 0; i < m_states.size(); ++i)
        qToLittleEndian<qint32>(m_states[i], bytes.data() + i * 4);
    return file.write(bytes) == bytes.size();
}

bool BadBlockTable::load(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || quint64(file.size()) != m_states.size() * 4)
        return false;
    const QByteArray bytes = file.readAll();
    if (quint64(bytes.size()) != m_states.size() * 4)
        return false;
    for (size_t i = 0; i < m_states.size(); ++i)
        m_states[i] = qFromLittleEndian<qint32>(bytes.constData() + i * 4);
    return true;
}

quint32 BadBlockTable::dataBytes(quint32 pageSize)
{
    struct Exact
    {
        quint32 pageSize;
        quint32 dataBytes;
    };
    static constexpr std::array<Exact, 13> exact{{
        {528, 512},
        {2112, 2048},
        {2176, 2048},
        {4224, 4096},
        {4314, 4096},
        {4320, 4096},
        {8568, 8192},
        {8628, 8192},
        {8640, 8192},
        {8704, 8192},
        {8936, 8192},
        {9216, 8192},
        {17664, 16384},
    }};
    for (const Exact &entry : exact) {
        if (entry.pageSize == pageSize)
            return entry.dataBytes;
    }
    // Otherwise by the range the page size falls in.
    if (pageSize > 8192 && pageSize < 16384)
        return 8192;
    if (pageSize > 4096 && pageSize < 8192)
        return 4096;
    if (pageSize > 2048 && pageSize < 4096)
        return 2048;
    if (pageSize > 512 && pageSize < 2048)
        return 512;
    return 0;
}
