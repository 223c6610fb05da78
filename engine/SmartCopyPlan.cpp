#include "SmartCopyPlan.h"

#include "BadBlockTable.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

bool allErased(const std::vector<quint8> &block)
{
    static const std::vector<quint8> erased(4096, 0xFF);
    for (size_t at = 0; at < block.size(); at += erased.size()) {
        const size_t length = std::min(erased.size(), block.size() - at);
        if (std::memcmp(block.data() + at, erased.data(), length) != 0)
            return false;
    }
    return true;
}

} // namespace

void SmartCopyPlan::build(const BadBlockTable &source, const BadBlockTable &target,
                          const Window &window, bool copySourceBadBlocks, const ReadBlock &read,
                          const Produce &produce)
{
    const quint64 end = quint64(window.startBlock) + window.blockCount;
    quint64 t = window.startBlock;
    if (window.blockCount == 0 || window.blockBytes == 0)
        return;
    const quint64 windowBytes = quint64(window.blockCount) * window.blockBytes;
    std::vector<quint8> block(window.blockBytes);
    quint64 s = window.startBlock;
    quint64 offset = 0;
    while (true) {
        // Bad target blocks; a bad source block met on the way is passed
        // over together with it.
        while (t < end && target.state(quint32(t)) == BadBlockTable::Bad) {
            if (source.state(quint32(s)) == BadBlockTable::Bad) {
                ++s;
                offset += window.blockBytes;
            }
            produce(BadTarget);
            ++t;
        }
        if (t >= end || offset >= windowBytes)
            break;
        const quint64 current = s++;
        const bool taken =
            copySourceBadBlocks || source.state(quint32(current)) == BadBlockTable::Good;
        if (taken) {
            read(offset, block.data());
            const int tag = int(offset / window.blockBytes);
            if (t == current || !allErased(block)) {
                produce(tag);
                ++t;
            } else if (t < current) {
                // The source is ahead: erased blocks up to its position,
                // stopping before a target block not known to be good.
                produce(Erased);
                while (t + 1 != s && target.state(quint32(t + 1)) == BadBlockTable::Good) {
                    ++t;
                    produce(Erased);
                }
                ++t;
            }
            // Otherwise the target is ahead: the erased block is dropped.
        }
        offset += window.blockBytes;
        if (offset >= windowBytes || t >= end)
            break;
    }
    for (; t < end; ++t)
        produce(Erased);
}
