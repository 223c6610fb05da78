#pragma once

#include "CFileMemoryNode.h"
#include "CMemoryNode.h"

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTest>

#include <memory>
#include <vector>

// What a node told its owner: log lines, change reports, the save-file
// question and the remembered file names. Installs itself as the node's hooks.
class NodeRecorder
{
public:
    explicit NodeRecorder(CMemoryNode &node)
    {
        MemoryNodeHooks hooks;
        hooks.log = [this](const QString &line) {
            QMutexLocker locker(&m_lock);
            m_lines << line;
        };
        hooks.contentsChanged = [this, &node](CMemoryNode *changed) {
            QMutexLocker locker(&m_lock);
            if (changed == &node)
                ++m_changes;
            else
                ++m_foreignChanges;
        };
        hooks.askSaveFileName = [this](const QString &caption, const QString &filter) {
            QMutexLocker locker(&m_lock);
            m_questions << caption + QLatin1Char('|') + filter;
            return m_answer;
        };
        hooks.rememberFile = [this](const QString &fileName) {
            QMutexLocker locker(&m_lock);
            m_remembered << fileName;
        };
        node.setHooks(hooks);
    }

    QStringList lines() const
    {
        QMutexLocker locker(&m_lock);
        return m_lines;
    }
    int changes() const
    {
        QMutexLocker locker(&m_lock);
        return m_changes;
    }
    int foreignChanges() const { return m_foreignChanges; }
    QStringList questions() const { return m_questions; }
    QStringList remembered() const { return m_remembered; }
    void answer(const QString &fileName) { m_answer = fileName; }
    void clear()
    {
        QMutexLocker locker(&m_lock);
        m_lines.clear();
        m_changes = 0;
        m_questions.clear();
        m_remembered.clear();
    }

private:
    mutable QMutex m_lock;
    QStringList m_lines;
    int m_changes = 0;
    int m_foreignChanges = 0;
    QStringList m_questions;
    QStringList m_remembered;
    QString m_answer;
};

// `count` bytes of a pattern that differs at every position of a 251-byte
// cycle, starting at pattern position `start`.
inline QByteArray pattern(qint64 count, quint64 start = 0)
{
    QByteArray bytes(count, Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i)
        bytes[i] = char((start + quint64(i)) % 251);
    return bytes;
}

inline const quint8 *u8(const QByteArray &bytes)
{
    return reinterpret_cast<const quint8 *>(bytes.constData());
}

inline quint8 *u8(QByteArray &bytes)
{
    return reinterpret_cast<quint8 *>(bytes.data());
}

// Writes `bytes` to a new file at `path`; fails the test when it cannot.
inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

// `length` bytes of the node from `offset`, read through the node.
inline QByteArray readNode(CMemoryNode &node, quint64 offset, qint64 length, char preset = 0x5A)
{
    QByteArray bytes(length, preset);
    node.Read(offset, u8(bytes), quint64(length));
    return bytes;
}

// A node holding `bytes` from address 0: resident ("SPI", of their size),
// or a file node ("Nand") on a temporary backing file; null when the file
// cannot be made.
inline std::unique_ptr<CMemoryNode> nodeHolding(const QByteArray &bytes, bool resident)
{
    const quint64 size = quint64(bytes.size());
    if (resident) {
        auto node = std::make_unique<CMemoryNode>(QStringLiteral("SPI"), 0, size, 0xFF);
        node->Write(u8(bytes), 0, quint32(size));
        return node;
    }
    auto node = std::make_unique<CFileMemoryNode>(QStringLiteral("Nand"), 0, quint64(1) << 20);
    if (!node->CreateTempFile() || !node->Append(u8(bytes), size))
        return nullptr;
    return node;
}
