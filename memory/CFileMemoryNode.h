#pragma once

#include "CMemoryNode.h"

#include <atomic>
#include <memory>

// A memory node whose bytes live in a backing file on disk, so that chip
// images of many gigabytes never have to fit in memory. Without a backing
// file the node is empty: reads do nothing, its size is 0 and it contains no
// address. The image is built with Append (reads from a chip) or taken from
// an existing file with Load; it is never edited byte by byte.
//
// Every access to the backing file (seek and read, seek and write, size,
// replacing or closing it) holds the busy lock for that access, so the
// engine's worker and the GUI thread never interleave their seeks on the one
// file, and a file is never closed under a reader. Replacing the backing file
// (Load, CreateBackingFile, CreateTempFile) refuses while the node is claimed
// (TryLock): an operation is streaming through it.
class CFileMemoryNode : public CMemoryNode
{
public:
    // `size` is the size of the chip the node stands for; the node itself
    // holds no bytes until it has a backing file.
    CFileMemoryNode(const QString &name, quint64 base, quint64 size);
    ~CFileMemoryNode() override;

    // Without a backing file nothing happens. Bytes the file does not have
    // (past its end, or a failed read) come back as the fill value.
    void Read(quint64 offset, quint8 *destination, quint64 length) override;
    void SetNibble(quint64 offset, quint8 nibble, bool upper) override;
    void SetByte(quint64 offset, quint8 value) override;
    bool Contains(quint64 address) const override;
    // The current length of the backing file, 0 without one.
    quint64 GetSize() const override;
    // Stores the base and the chip size; the backing file is untouched.
    void SetWindow(quint64 base, quint64 size) override;
    // Makes the named file the backing file, read-only; its bytes are not
    // copied. False when the node is claimed (an operation streams through
    // it) or the file cannot be opened; the node then keeps its backing file
    // (claimed) or has none (open failed).
    bool Load(const QString &fileName, bool announce) override;
    // Asks for a new file name and creates it as the backing file. False when
    // the node is claimed, the question is cancelled, a file of that name exists
    // (it is never replaced) or it cannot be created. Any previous backing file
    // is closed first, so after a failure the node has none.
    bool CreateBackingFile() override;
    // File nodes are written with Append only.
    void Write(const quint8 *source, quint32 address, quint32 length) override;
    // Compares with the backing file at `address` − base. A byte that differs
    // from the chip's in exactly one bit passes (a correctable error); with
    // `badBlocks`, a byte that differs in more bits inside a bad block skips
    // the rest of that block. Otherwise logs one line for the first mismatch
    // and returns false. Within a range that overlaps the image, bytes the
    // backing file does not have (beyond its end, below the base) compare as
    // the fill value. A range that does not overlap the image (no backing
    // file, length 0, wholly outside) compares nothing: logs "Not enough
    // data" and returns false.
    bool Compare(quint64 address, quint64 length, const quint8 *chipData,
                 const BadBlockSkip *badBlocks = nullptr) override;
    bool IsResident() const override;
    void Fill() override;
    // As for a resident node, with the backing file's bytes. Saving onto the
    // backing file itself leaves it untouched: the image is already there.
    void Save(const QString &fileName) override;
    // Copies `length` bytes of the backing file from `offset` into the named
    // file (created or truncated), stopping at the backing file's end. Logs
    // "<file> File Error" and returns false when the output cannot be opened
    // or written, when it is the backing file itself, or without a backing
    // file; nothing is printed on success.
    bool ExportRange(quint64 offset, quint64 length, const QString &fileName) override;

    // Appends `length` bytes at the end of the backing file. On a write error
    // (disk full, file too large, a read-only backing file) logs
    // "<backing file> File Error" once and returns false; later Appends to the
    // same backing file then fail at once, so an image never gets a gap.
    // False without a backing file.
    virtual bool Append(const quint8 *bytes, quint64 length);
    // Closes the backing file (a temporary one is removed) and reports the
    // change; nothing without one.
    virtual void CloseBackingFile();
    // Makes a new temporary file the backing file; it is removed when closed.
    // False when the node is claimed or the file cannot be created.
    bool CreateTempFile();

    bool hasBackingFile() const { return m_attached.load(); }
    QString backingFileName() const;

protected:
    bool writeContents(QFile &out) override;

private:
    // Closes the backing file unless the node is claimed (false), and
    // reports the change when there was one.
    bool closeIfIdle();
    // Installs `file` (open, or null for none) as the backing file. The
    // caller holds the busy lock.
    void setFile(std::unique_ptr<QFile> file);
    // Installs `file` as the backing file named `fileName`.
    void attach(std::unique_ptr<QFile> file, const QString &fileName);
    void setBackingFileName(const QString &fileName);
    // Copies up to `length` bytes from `offset` of the backing file to `out`.
    bool copyOut(quint64 offset, quint64 length, QFile &out);
    bool isBackingFile(const QString &fileName) const;

    // Replaced only with the busy lock held; m_attached follows it for
    // callers that must not wait.
    std::unique_ptr<QFile> m_file;
    std::atomic<bool> m_attached = false;
    // Guarded by the name lock.
    QString m_backingFileName;
    // Set by a failed Append, cleared when another backing file is opened.
    bool m_appendFailed = false;
};
