#pragma once

#include "AnswerSource.h"

#include <deque>
#include <memory>

namespace kvemu {

// The programmer's answers in the order the commands produced them. The
// firmware does not know which IN pipe the host reads an answer from (the
// host picks pipe 2 or 3 by its own rules), so both IN pipes take from this
// one queue. Reads may take any number of bytes: an answer may be read in
// several chunks, and a read may run from one answer into the next.
class AnswerQueue
{
public:
    void push(std::vector<std::uint8_t> bytes);
    void push(std::unique_ptr<AnswerSource> answer);

    struct Taken
    {
        std::size_t bytes = 0;
        chips::Nanos busy = 0;
    };
    // Fills `out` from the queue as far as it holds bytes.
    Taken take(std::span<std::uint8_t> out);
    // Drops up to `bytes` bytes unread.
    std::size_t drop(std::size_t bytes);

    std::uint64_t pendingBytes() const;
    // How many answers wait, and the last one queued taken out (null when none).
    std::size_t count() const { return m_answers.size(); }
    std::unique_ptr<AnswerSource> takeLast();
    bool empty() const { return m_answers.empty(); }
    void clear() { m_answers.clear(); }

private:
    std::deque<std::unique_ptr<AnswerSource>> m_answers;
};

} // namespace kvemu
