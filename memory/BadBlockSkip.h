#pragma once

#include <QtGlobal>

#include <span>

// What a file node's Compare needs to pass over bad blocks: the block states
// of the whole device, indexed by block number from the device's start (2 =
// bad, as in the engine's bad-block table), and the device's geometry. Blocks
// beyond the states, or a geometry with a zero, are never skipped.
struct BadBlockSkip
{
    static constexpr qint32 Bad = 2;

    std::span<const qint32> states;
    quint32 pageSize = 0;      // bytes per page, data and spare
    quint32 pagesPerBlock = 0; // pages per block

    quint64 blockBytes() const { return quint64(pageSize) * pagesPerBlock; }
    // True when the block that holds `address` is marked bad.
    bool isBadAt(quint64 address) const
    {
        const quint64 bytes = blockBytes();
        if (bytes == 0)
            return false;
        const quint64 block = address / bytes;
        return block < states.size() && states[block] == Bad;
    }
};
