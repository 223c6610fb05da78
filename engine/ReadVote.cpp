#include "ReadVote.h"

#include "CMemoryNode.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr quint64 Run = 512;

QString failedLine(quint64 address)
{
    return CMemoryNode::text(CMemoryNode::TextCompareFailed) +
           QString::asprintf(" %llX", static_cast<unsigned long long>(address));
}

} // namespace

bool ReadVote::decideBlock(quint8 *image, const std::vector<const quint8 *> &reads, quint64 length,
                           quint64 address, const Log &log)
{
    bool stop = false;
    for (quint64 run = 0; run < length; run += Run) {
        const quint64 runLength = std::min(Run, length - run);
        const bool equal = std::all_of(reads.begin(), reads.end(), [&](const quint8 *read) {
            return std::memcmp(image + run, read + run, runLength) == 0;
        });
        if (equal)
            continue;
        for (quint64 i = run; i < run + runLength; ++i) {
            switch (decideByte(image[i], reads, i, address + i, log)) {
            case Verdict::Decided:
                break;
            case Verdict::StopAfterBlock:
                stop = true;
                break;
            case Verdict::StopNow:
                return true;
            }
        }
    }
    return stop;
}

ReadVote::Verdict ReadVote::decideByte(quint8 &byte, const std::vector<const quint8 *> &reads,
                                       quint64 position, quint64 address, const Log &log)
{
    const quint8 image = byte;
    const auto differing = std::find_if(
        reads.begin(), reads.end(), [&](const quint8 *read) { return read[position] != image; });
    if (differing == reads.end())
        return Verdict::Decided;
    const quint8 other = (*differing)[position];
    if (std::popcount(unsigned(image ^ other)) >= 2) {
        log(failedLine(address) + QString::asprintf(" ,%02X, %02X", image, other));
        return Verdict::StopNow;
    }
    int imageVotes = 1;
    int otherVotes = 0;
    Verdict verdict = Verdict::Decided;
    for (const quint8 *read : reads) {
        const quint8 value = read[position];
        if (value == image) {
            ++imageVotes;
        } else if (value == other) {
            ++otherVotes;
        } else {
            log(failedLine(address) + QString::asprintf(" ,%02X,%02X", image, value));
            verdict = Verdict::StopAfterBlock;
            break;
        }
    }
    byte = otherVotes > imageVotes ? other : image;
    log(QString::asprintf(" %llX use %02X", static_cast<unsigned long long>(address), byte));
    return verdict;
}
