#include "CMemoryNode.h"

#include "ProgramObjects.h"
#include "UiTextId.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

CMemoryNode::CMemoryNode(const QString &name, quint64 base, quint64 size, quint8 fill)
    : m_size(0), m_base(base), m_fill(fill), m_name(name)
{
    allocate(size);
}

void CMemoryNode::allocate(quint64 size)
{
    // The old array goes first: the two need never exist at once.
    m_data.reset();
    m_length = 0;
    m_size = 0;
    if (size == 0)
        return;
    if (size <= quint64(std::numeric_limits<std::size_t>::max()))
        m_data.reset(new (std::nothrow) quint8[std::size_t(size)]);
    if (!m_data)
        return;
    std::memset(m_data.get(), m_fill, std::size_t(size));
    m_length = size;
    m_size = size;
}

void CMemoryNode::SetWindow(quint64 base, quint64 size)
{
    {
        QMutexLocker locker(&m_busy);
        if (base == m_base && size == m_size)
            return;
        m_base = base;
        if (size != m_length)
            allocate(size);
    }
    reportChange();
}

CMemoryNode::~CMemoryNode() = default;

QString CMemoryNode::text(int index)
{
    if (ProgramObjects::current())
        return uiText().text(index);
    return UiText::builtInText(index);
}

QString CMemoryNode::compareFailedLine(quint64 address, quint8 chipByte, quint8 nodeByte)
{
    return text(TextCompareFailed) + QLatin1Char(' ') + QString::number(address, 16).toUpper() +
           QString::asprintf(" ,target %02X,PC memory %02X", chipByte, nodeByte);
}

void CMemoryNode::log(const QString &line) const
{
    if (m_hooks.log)
        m_hooks.log(line);
}

void CMemoryNode::reportChange()
{
    if (m_hooks.contentsChanged)
        m_hooks.contentsChanged(this);
}

void CMemoryNode::setHooks(MemoryNodeHooks hooks)
{
    m_hooks = std::move(hooks);
}

QString CMemoryNode::fileName() const
{
    QMutexLocker locker(&m_nameLock);
    return m_fileName;
}

void CMemoryNode::setFileName(const QString &fileName)
{
    QMutexLocker locker(&m_nameLock);
    m_fileName = fileName;
}

bool CMemoryNode::TryLock()
{
    bool unclaimed = false;
    return m_claimed.compare_exchange_strong(unclaimed, true);
}

void CMemoryNode::Unlock()
{
    m_claimed.store(false);
}

void CMemoryNode::Read(quint64 offset, quint8 *destination, quint64 length)
{
    if (length == 0)
        return;
    QMutexLocker locker(&m_busy);
    if (offset > m_length || length > m_length - offset)
        std::memset(destination, m_fill, std::size_t(length));
    else
        std::memcpy(destination, m_data.get() + offset, std::size_t(length));
}

void CMemoryNode::SetNibble(quint64 offset, quint8 nibble, bool upper)
{
    QMutexLocker locker(&m_busy);
    if (offset >= m_length)
        return;
    quint8 &byte = m_data[offset];
    if (upper)
        byte = quint8((byte & 0x0F) | ((nibble & 0x0F) << 4));
    else
        byte = quint8((byte & 0xF0) | (nibble & 0x0F));
}

void CMemoryNode::SetByte(quint64 offset, quint8 value)
{
    QMutexLocker locker(&m_busy);
    if (offset < m_length)
        m_data[offset] = value;
}

bool CMemoryNode::Contains(quint64 address) const
{
    return address >= m_base && address - m_base < m_size;
}

quint64 CMemoryNode::GetSize() const
{
    return m_size;
}

quint64 CMemoryNode::GetBase() const
{
    return m_base;
}

bool CMemoryNode::Load(const QString &fileName, bool announce)
{
    // An operation streaming through the node would send a mix of the two.
    if (IsClaimed())
        return false;
    bool complete = true;
    {
        QMutexLocker locker(&m_busy);
        setFileName(fileName);
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return false;
        const quint64 wanted = std::min(quint64(std::max<qint64>(file.size(), 0)), m_length);
        quint64 done = 0;
        while (done < wanted) {
            const qint64 got =
                file.read(reinterpret_cast<char *>(m_data.get() + done), qint64(wanted - done));
            if (got <= 0)
                break;
            done += quint64(got);
        }
        complete = done == wanted;
    }
    // A read that stopped early may still have changed the contents.
    if (complete && announce)
        log(fileName + QStringLiteral(" Loaded"));
    if (announce || !complete)
        reportChange();
    return complete;
}

bool CMemoryNode::CreateBackingFile()
{
    return true;
}

void CMemoryNode::Write(const quint8 *source, quint32 address, quint32 length)
{
    {
        QMutexLocker locker(&m_busy);
        const quint64 at = address;
        if ((m_base >> 32) != 0 || at < m_base || at - m_base >= m_length)
            return;
        const quint64 offset = at - m_base;
        const quint64 count = std::min<quint64>(length, m_length - offset);
        if (count > 0)
            std::memcpy(m_data.get() + offset, source, std::size_t(count));
    }
    reportChange();
}

bool CMemoryNode::Compare(quint64 address, quint64 length, const quint8 *chipData,
                          const BadBlockSkip *)
{
    constexpr quint64 Top = std::numeric_limits<quint64>::max();
    bool compared = false;
    quint64 mismatch = 0;
    quint8 chipByte = 0;
    quint8 nodeByte = 0;
    {
        QMutexLocker locker(&m_busy);
        // Only the overlap of the range with the node's bytes is compared;
        // addresses do not wrap around.
        const quint64 base = m_base;
        const quint64 first = std::max(address, base);
        const quint64 last = std::min(address + std::min(length, Top - address),
                                      base + std::min(m_length, Top - base));
        if (first < last) {
            compared = true;
            const quint8 *node = m_data.get() + (first - base);
            const quint8 *chip = chipData + (first - address);
            if (std::memcmp(node, chip, std::size_t(last - first)) == 0)
                return true;
            quint64 n = 0;
            while (node[n] == chip[n])
                ++n;
            mismatch = first + n;
            chipByte = chip[n];
            nodeByte = node[n];
        }
    }
    log(compared ? compareFailedLine(mismatch, chipByte, nodeByte) : text(UiTextId::NotEnoughData));
    return false;
}

bool CMemoryNode::IsResident() const
{
    return true;
}

void CMemoryNode::Fill()
{
    {
        QMutexLocker locker(&m_busy);
        if (m_length == 0)
            return;
        std::memset(m_data.get(), m_fill, std::size_t(m_length));
    }
    reportChange();
}

bool CMemoryNode::writeContents(QFile &out)
{
    QMutexLocker locker(&m_busy);
    quint64 done = 0;
    while (done < m_length) {
        const qint64 put =
            out.write(reinterpret_cast<const char *>(m_data.get() + done), qint64(m_length - done));
        if (put <= 0)
            return false;
        done += quint64(put);
    }
    return true;
}

void CMemoryNode::Save(const QString &fileName)
{
    QFile out(fileName);
    bool saved = out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    if (saved) {
        saved = writeContents(out);
        // Closing reports a failure the last write may have left pending.
        out.close();
        saved = saved && out.error() == QFileDevice::NoError;
    }
    log(fileName + QLatin1Char(' ') + text(saved ? TextSaved : TextFileError));
}

bool CMemoryNode::ExportRange(quint64, quint64, const QString &)
{
    return false;
}
