#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

// The byte vote of multiple read correction: one block of an image and the
// same block of two or more further reads of the chip. A byte on which a
// read differs from the image in one bit is decided by a vote (the image
// counts as one read, a tie keeps the image's byte); a difference of two or
// more bits, or a third value among the reads, is not guessed at: it is
// logged, and the run stops after the block.
class ReadVote
{
public:
    using Log = std::function<void(const QString &line)>;

    // Decides the bytes of `image` (`length` bytes, changed in place) against
    // `reads` (each at least `length` bytes); `address` is the address of
    // the block's first byte. True when the run must stop after this block.
    static bool decideBlock(quint8 *image, const std::vector<const quint8 *> &reads, quint64 length,
                            quint64 address, const Log &log);

private:
    enum class Verdict { Decided, StopAfterBlock, StopNow };
    static Verdict decideByte(quint8 &byte, const std::vector<const quint8 *> &reads,
                              quint64 position, quint64 address, const Log &log);
};
