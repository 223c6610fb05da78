#include "CFileMemoryNode.h"

#include "BadBlockSkip.h"
#include "UiTextId.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// The copy buffer of ExportRange and Save.
constexpr qint64 CopyChunk = 1024;
// Compare reads the backing file in windows of at most this many bytes.
constexpr quint64 CompareWindow = quint64(1) << 20;

constexpr QIODevice::OpenMode ReadWriteUnbuffered = QIODevice::ReadWrite | QIODevice::Unbuffered;

// A temporary file opened unbuffered, like every other backing file.
class UnbufferedTemporaryFile : public QTemporaryFile
{
public:
    using QTemporaryFile::QTemporaryFile;
    bool openUnbuffered() { return open(ReadWriteUnbuffered); }
};

bool exactlyOneBit(quint8 difference)
{
    return difference != 0 && (difference & (difference - 1)) == 0;
}

} // namespace

CFileMemoryNode::CFileMemoryNode(const QString &name, quint64 base, quint64 size)
    : CMemoryNode(name, 0, 0, 0xFF)
{
    m_base = base;
    m_size = size;
}

CFileMemoryNode::~CFileMemoryNode() = default;

QString CFileMemoryNode::backingFileName() const
{
    QMutexLocker locker(&m_nameLock);
    return m_backingFileName;
}

void CFileMemoryNode::setBackingFileName(const QString &fileName)
{
    QMutexLocker locker(&m_nameLock);
    m_backingFileName = fileName;
}

void CFileMemoryNode::setFile(std::unique_ptr<QFile> file)
{
    m_file = std::move(file);
    m_attached = m_file != nullptr;
    m_appendFailed = false;
}

void CFileMemoryNode::Read(quint64 offset, quint8 *destination, quint64 length)
{
    if (length == 0)
        return;
    QMutexLocker locker(&m_busy);
    if (!m_file)
        return;
    quint64 done = 0;
    if (offset <= quint64(std::numeric_limits<qint64>::max()) && m_file->seek(qint64(offset))) {
        while (done < length) {
            const qint64 got = m_file->read(reinterpret_cast<char *>(destination + done),
                                            qint64(std::min<quint64>(length - done, INT_MAX)));
            if (got <= 0)
                break;
            done += quint64(got);
        }
    }
    std::memset(destination + done, m_fill, std::size_t(length - done));
}

void CFileMemoryNode::SetNibble(quint64, quint8, bool) {}

void CFileMemoryNode::SetByte(quint64, quint8) {}

bool CFileMemoryNode::Contains(quint64 address) const
{
    QMutexLocker locker(&m_busy);
    const quint64 base = m_base;
    if (!m_file || address < base)
        return false;
    return address - base < quint64(std::max<qint64>(m_file->size(), 0));
}

void CFileMemoryNode::SetWindow(quint64 base, quint64 size)
{
    {
        QMutexLocker locker(&m_busy);
        if (base == m_base && size == m_size)
            return;
        m_base = base;
        m_size = size;
    }
    reportChange();
}

quint64 CFileMemoryNode::GetSize() const
{
    QMutexLocker locker(&m_busy);
    return m_file ? quint64(std::max<qint64>(m_file->size(), 0)) : 0;
}

bool CFileMemoryNode::closeIfIdle()
{
    if (!TryLock())
        return false;
    bool hadFile = false;
    {
        QMutexLocker locker(&m_busy);
        hadFile = m_file != nullptr;
        setFile(nullptr);
    }
    Unlock();
    if (hadFile)
        reportChange();
    return true;
}

void CFileMemoryNode::attach(std::unique_ptr<QFile> file, const QString &fileName)
{
    QMutexLocker locker(&m_busy);
    setFile(std::move(file));
    setBackingFileName(fileName);
}

bool CFileMemoryNode::Load(const QString &fileName, bool announce)
{
    if (!TryLock())
        return false;
    bool hadFile = false;
    bool opened = false;
    {
        QMutexLocker locker(&m_busy);
        hadFile = m_file != nullptr;
        setFile(nullptr);
        setBackingFileName(fileName);
        auto file = std::make_unique<QFile>(fileName);
        opened = file->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        if (opened)
            setFile(std::move(file));
    }
    Unlock();

    if (!opened) {
        if (hadFile)
            reportChange();
        return false;
    }
    setFileName(fileName);
    if (announce) {
        log(fileName + QStringLiteral(" Loaded"));
        reportChange();
    }
    return true;
}

bool CFileMemoryNode::CreateBackingFile()
{
    if (!closeIfIdle())
        return false;
    const QString fileName =
        hooks().askSaveFileName
            ? hooks().askSaveFileName(text(TextSaveBinaryFile),
                                      QStringLiteral("Binary files (*.bin);;All files (*.*)"))
            : QString();
    // An operation may have claimed the node while the question was open.
    if (fileName.isEmpty() || IsClaimed())
        return false;
    // NewOnly creates the file or fails when the name exists, in one step: an
    // existing file is never replaced, even one that appears after the question.
    auto file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::NewOnly | ReadWriteUnbuffered))
        return false;
    attach(std::move(file), fileName);
    reportChange();
    if (hooks().rememberFile)
        hooks().rememberFile(fileName);
    return true;
}

bool CFileMemoryNode::CreateTempFile()
{
    if (!closeIfIdle())
        return false;
    auto file = std::make_unique<UnbufferedTemporaryFile>(QDir::tempPath() +
                                                          QStringLiteral("/korvane-XXXXXX.bin"));
    file->setAutoRemove(true);
    if (!file->openUnbuffered())
        return false;
    const QString fileName = file->fileName();
    attach(std::move(file), fileName);
    reportChange();
    return true;
}

void CFileMemoryNode::CloseBackingFile()
{
    {
        QMutexLocker locker(&m_busy);
        if (!m_file)
            return;
        setFile(nullptr);
    }
    reportChange();
}

void CFileMemoryNode::Write(const quint8 *, quint32, quint32) {}

void CFileMemoryNode::Fill() {}

bool CFileMemoryNode::IsResident() const
{
    return false;
}

bool CFileMemoryNode::Append(const quint8 *bytes, quint64 length)
{
    QString failedFile;
    {
        QMutexLocker locker(&m_busy);
        if (!m_file || m_appendFailed)
            return false;
        bool written = m_file->isWritable() && m_file->seek(m_file->size());
        quint64 done = 0;
        while (written && done < length) {
            const qint64 put = m_file->write(reinterpret_cast<const char *>(bytes + done),
                                             qint64(std::min<quint64>(length - done, INT_MAX)));
            // A write that moves nothing would repeat forever: it is an error.
            if (put <= 0)
                written = false;
            else
                done += quint64(put);
        }
        if (written)
            return true;
        m_appendFailed = true;
        failedFile = backingFileName();
    }
    log(failedFile + QLatin1Char(' ') + text(TextFileError));
    return false;
}

bool CFileMemoryNode::Compare(quint64 address, quint64 length, const quint8 *chipData,
                              const BadBlockSkip *badBlocks)
{
    // Device addresses do not wrap around.
    constexpr quint64 Top = std::numeric_limits<quint64>::max();
    length = std::min(length, Top - address);
    const quint64 base = m_base;
    const quint64 imageEnd = base + std::min(GetSize(), Top - base);
    if (length == 0 || address + length <= base || address >= imageEnd) {
        log(text(UiTextId::NotEnoughData));
        return false;
    }
    std::vector<quint8> window(std::size_t(std::min(length, CompareWindow)));
    quint64 windowStart = 0;
    quint64 windowEnd = 0;
    // Equal runs are the rule: they are compared wholesale, and only a run
    // that differs somewhere is walked byte by byte.
    constexpr quint64 EqualRun = 512;
    quint64 byteWiseUntil = 0;
    quint64 i = 0;
    while (i < length) {
        if (i >= windowEnd) {
            windowStart = i;
            windowEnd = i + std::min<quint64>(window.size(), length - i);
            const quint64 count = windowEnd - windowStart;
            const quint64 at = address + i;
            // Addresses below the node, and bytes the file does not have,
            // compare as the fill value.
            const quint64 below = at < base ? std::min(count, base - at) : 0;
            std::memset(window.data(), m_fill, std::size_t(count));
            if (count > below)
                Read(at + below - base, window.data() + below, count - below);
        }
        if (i >= byteWiseUntil) {
            const quint64 run = std::min(EqualRun, windowEnd - i);
            if (std::memcmp(window.data() + (i - windowStart), chipData + i, std::size_t(run)) ==
                0) {
                i += run;
                continue;
            }
            byteWiseUntil = i + run;
        }
        const quint8 nodeByte = window[std::size_t(i - windowStart)];
        const quint8 chipByte = chipData[i];
        const quint8 difference = nodeByte ^ chipByte;
        if (difference == 0 || exactlyOneBit(difference)) {
            ++i;
            continue;
        }
        if (badBlocks && badBlocks->isBadAt(address + i)) {
            const quint64 blockBytes = badBlocks->blockBytes();
            const quint64 nextBlock = ((address + i) / blockBytes + 1) * blockBytes;
            i = nextBlock - address;
            continue;
        }
        log(compareFailedLine(address + i, chipByte, nodeByte));
        return false;
    }
    return true;
}

bool CFileMemoryNode::isBackingFile(const QString &fileName) const
{
    if (!m_file)
        return false;
    struct stat named
    {
    };
    struct stat backing
    {
    };
    if (::stat(QFile::encodeName(fileName).constData(), &named) != 0 ||
        ::fstat(m_file->handle(), &backing) != 0)
        return false;
    return named.st_dev == backing.st_dev && named.st_ino == backing.st_ino;
}

bool CFileMemoryNode::copyOut(quint64 offset, quint64 length, QFile &out)
{
    char buffer[CopyChunk];
    quint64 done = 0;
    while (done < length) {
        const qint64 wanted = qint64(std::min<quint64>(CopyChunk, length - done));
        qint64 got = 0;
        {
            QMutexLocker locker(&m_busy);
            if (!m_file)
                return false;
            const quint64 at = offset + done;
            if (at > quint64(std::numeric_limits<qint64>::max()) || !m_file->seek(qint64(at)))
                return false;
            got = m_file->read(buffer, wanted);
        }
        if (got < 0)
            return false;
        if (got == 0)
            return true; // the end of the backing file
        qint64 written = 0;
        while (written < got) {
            const qint64 put = out.write(buffer + written, got - written);
            if (put <= 0)
                return false;
            written += put;
        }
        done += quint64(got);
    }
    return true;
}

bool CFileMemoryNode::writeContents(QFile &out)
{
    return copyOut(0, GetSize(), out);
}

void CFileMemoryNode::Save(const QString &fileName)
{
    bool itself = false;
    {
        QMutexLocker locker(&m_busy);
        itself = isBackingFile(fileName);
    }
    // Opening the backing file for writing would truncate the image.
    if (itself)
        log(fileName + QLatin1Char(' ') + text(TextSaved));
    else
        CMemoryNode::Save(fileName);
}

bool CFileMemoryNode::ExportRange(quint64 offset, quint64 length, const QString &fileName)
{
    bool itself = false;
    {
        QMutexLocker locker(&m_busy);
        if (!m_file)
            return false;
        itself = isBackingFile(fileName);
    }
    // Opening the backing file itself for writing would truncate the source.
    bool exported = false;
    if (!itself) {
        QFile out(fileName);
        exported = out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) &&
                   copyOut(offset, length, out);
        out.close();
        exported = exported && out.error() == QFileDevice::NoError;
    }
    if (!exported)
        log(fileName + QLatin1Char(' ') + text(TextFileError));
    return exported;
}
