#pragma once

#include "BadBlockSkip.h"

#include <QString>
#include <QtGlobal>

#include <vector>

class CDeviceItemNand;

// The state of every block of a NAND device: one table for the image in the
// "Nand" node (the source), one for the chip in the socket (the target).
// Indexed by block number from the start of the device; an operation on a
// block window touches only the entries of that window.
class BadBlockTable
{
public:
    enum State : qint32 {
        Unknown = 0,
        Good = 1,
        Bad = 2,
    };

    // All blocks unknown. A record with a page size, block size or size of
    // 0 gives a table of no blocks.
    explicit BadBlockTable(const CDeviceItemNand &device);

    quint32 blockCount() const { return quint32(m_states.size()); }
    quint32 blockBytes() const { return m_blockBytes; }
    // The state of `block`, Unknown for a block outside the table.
    qint32 state(quint32 block) const;
    // Ignored for a block outside the table.
    void setState(quint32 block, qint32 state);
    bool isBad(quint32 block) const { return state(block) == Bad; }
    void clear();
    const std::vector<qint32> &states() const { return m_states; }

    // What a file node's Compare needs to pass over the bad blocks.
    BadBlockSkip skip() const;

    // The file form: block count × 4 bytes, each state 32-bit little-endian,
    // no header. save creates or truncates the file; false when it cannot
    // be written. load reads a file of exactly that size; any other file
    // leaves the table unchanged (false).
    bool save(const QString &fileName) const;
    bool load(const QString &fileName);

    // Data bytes of a page of `pageSize` bytes (data and spare), which is
    // also the offset of the page's first spare byte; 0 for a page size
    // that is not supported.
    static quint32 dataBytes(quint32 pageSize);

private:
    std::vector<qint32> m_states;
    quint32 m_blockBytes = 0;
    quint32 m_pageSize = 0;
    quint32 m_pagesPerBlock = 0;
};
