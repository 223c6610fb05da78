#pragma once

#include <QtGlobal>

#include <functional>

class BadBlockTable;

// Lays a source image out on a target chip whose bad blocks lie elsewhere.
// Every target block of the block window gets one tag: BadTarget (a block
// of 0x00 bytes for a bad target block), Erased (0xFF bytes), or the number
// of the source block (counted from the window's start) that fills it. The
// source's good blocks follow each other across the target's good blocks;
// the shift that bad blocks cause is absorbed by erased source blocks, so
// data that follows a stretch of erased blocks lands at the same block
// number as in the source.
class SmartCopyPlan
{
public:
    static constexpr int BadTarget = -1;
    static constexpr int Erased = -2;

    struct Window
    {
        quint32 startBlock = 0;
        quint32 blockCount = 0;
        quint64 blockBytes = 0;
    };
    // Reads the source block at `offset` from the window's start into
    // `buffer` (blockBytes bytes).
    using ReadBlock = std::function<void(quint64 offset, quint8 *buffer)>;
    // One target block, in target block order.
    using Produce = std::function<void(int tag)>;

    // Produces exactly window.blockCount tags. With `copySourceBadBlocks` a
    // bad source block is copied like a good one; otherwise only blocks the
    // source table calls good are taken. A source that runs out leaves the
    // rest of the target erased.
    static void build(const BadBlockTable &source, const BadBlockTable &target,
                      const Window &window, bool copySourceBadBlocks, const ReadBlock &read,
                      const Produce &produce);
};
