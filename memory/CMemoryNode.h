#pragma once

#include "MemoryNodeHooks.h"

#include <QMutex>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>

class QFile;
struct BadBlockSkip;

// One memory tab: the PC-side image of a chip or of a file, with a name the
// engines and console commands address it by. This base kind is resident:
// its bytes live in an array of the node's size. CFileMemoryNode keeps them
// in a backing file instead.
//
// Threads: the engine's worker and the GUI thread both use a node. Every
// operation that touches the bytes (or, in a file node, the backing file)
// holds the internal busy lock for that one operation only, so two threads
// never interleave and nobody ever waits longer than one operation; the
// hooks are called after it is released.
//
// Ownership: an operation that streams through the node claims it
// (TryLock, Unlock; a flag, not a lock). The claim holder streams through
// Read, Write, Append, Compare, ExportRange and Save, which never look at
// the claim, so the worker's reads never wait for the GUI and a view still
// paints a claimed node. What would replace the contents from outside
// (Load, CreateBackingFile, CreateTempFile, and the hex view's edits)
// refuses while the node is claimed.
class CMemoryNode
{
public:
    // Allocates `size` bytes, every one set to `fill`. When the memory cannot
    // be had the node is empty (size 0) rather than pretending to hold bytes.
    CMemoryNode(const QString &name, quint64 base, quint64 size, quint8 fill);
    virtual ~CMemoryNode();
    CMemoryNode(const CMemoryNode &) = delete;
    CMemoryNode &operator=(const CMemoryNode &) = delete;

    // Copies `length` bytes from node offset `offset`. A request that runs
    // past the end yields the fill value for all `length` bytes.
    virtual void Read(quint64 offset, quint8 *destination, quint64 length);
    // Replaces the upper (upper true) or lower 4 bits of the byte at `offset`.
    // Offsets outside the node are ignored. No change report.
    virtual void SetNibble(quint64 offset, quint8 nibble, bool upper);
    // Replaces the byte at `offset`; outside the node ignored. No change report.
    virtual void SetByte(quint64 offset, quint8 value);
    virtual bool Contains(quint64 address) const;
    virtual quint64 GetSize() const;
    virtual quint64 GetBase() const;
    // Reads a binary file into the start of the node, at most the node's
    // size; bytes beyond the file's length keep their contents. False when
    // the node is claimed (nothing changes) or the file cannot be opened or
    // read. With `announce`, logs "<file> Loaded" and reports the change.
    virtual bool Load(const QString &fileName, bool announce);
    // A resident node needs no backing file: always true.
    virtual bool CreateBackingFile();
    // Copies `length` bytes to node address `address` (base included),
    // cut at the node's end; an address outside the node writes nothing.
    // Reports the change when it wrote.
    virtual void Write(const quint8 *source, quint32 address, quint32 length);
    // Compares `length` bytes at node address `address` with `chipData`.
    // Only the part of the range inside the node is compared; on a mismatch
    // logs one line for the first differing byte and returns false. A range
    // with no byte inside the node (or of length 0) compares nothing: logs
    // "Not enough data" and returns false. `badBlocks` is only used by file
    // nodes.
    virtual bool Compare(quint64 address, quint64 length, const quint8 *chipData,
                         const BadBlockSkip *badBlocks = nullptr);
    virtual bool IsResident() const;
    // Sets every byte to the fill value and reports the change (a node of
    // size 0 does nothing).
    virtual void Fill();
    // Writes the whole contents to `fileName` (created or truncated) and logs
    // "<file> Saved", or "<file> File Error" when the file cannot be opened or
    // not every byte could be written.
    virtual void Save(const QString &fileName);
    // Copies a range of the backing file into another file; nothing on a
    // resident node (returns false).
    virtual bool ExportRange(quint64 offset, quint64 length, const QString &fileName);

    // Moves the node to `size` bytes from `base`. A resident node whose
    // size changes gets a new array, every byte the fill value (empty, size
    // 0, when the memory cannot be had); the same size keeps the bytes.
    // Reports the change when base or size changed. For the node's owner,
    // between operations.
    virtual void SetWindow(quint64 base, quint64 size);

    // Claims the node for an operation: true when it was unclaimed, false
    // (and nothing changes) when someone holds it. Never waits.
    bool TryLock();
    // Gives the claim up.
    void Unlock();
    bool IsClaimed() const { return m_claimed.load(); }

    // The hooks are installed by the owner before the node is shared with
    // another thread.
    void setHooks(MemoryNodeHooks hooks);
    const MemoryNodeHooks &hooks() const { return m_hooks; }

    QString name() const { return m_name; }
    quint8 fillValue() const { return m_fill; }
    // The last file given to Load.
    QString fileName() const;

    // UI text `index` from the program's table, or the built-in English text
    // when no program objects exist (headless use before start-up).
    static QString text(int index);

    static constexpr int TextCompareFailed = 63;
    static constexpr int TextSaveBinaryFile = 66;
    static constexpr int TextFileError = 114;
    static constexpr int TextSaved = 141;

protected:
    void log(const QString &line) const;
    void reportChange();
    void setFileName(const QString &fileName);
    // The line Compare prints for the first mismatch at `address`.
    static QString compareFailedLine(quint64 address, quint8 chipByte, quint8 nodeByte);
    // Writes the node's bytes to `out`; false when a write fails.
    virtual bool writeContents(QFile &out);

    // The busy lock, held for the length of one operation and never across
    // calls. Guards the array here, the backing file in CFileMemoryNode.
    mutable QMutex m_busy;
    // Guards the file names only, so asking for a name never waits for an
    // operation. Taken after the busy lock, never before it.
    mutable QMutex m_nameLock;
    // The number of bytes the node stands for: the array's length in a
    // resident node, the chip's size in a file node. Changed by SetWindow
    // under the busy lock; read without it.
    std::atomic<quint64> m_size;
    std::atomic<quint64> m_base;
    quint8 m_fill;

private:
    // Gives the node a new array of `size` fill bytes (none when the memory
    // cannot be had). The caller holds the busy lock or is the constructor.
    void allocate(quint64 size);

    std::atomic<bool> m_claimed{false};
    // The resident bytes: m_length of them (0 in a file node).
    std::unique_ptr<quint8[]> m_data;
    quint64 m_length = 0;
    QString m_name;
    QString m_fileName;
    MemoryNodeHooks m_hooks;
};
