#include "AnswerQueue.h"

#include <algorithm>
#include <cstring>

namespace kvemu {

chips::Nanos FixedAnswer::produce(std::span<std::uint8_t> out)
{
    const std::size_t n = std::min(out.size(), m_bytes.size() - m_next);
    std::memcpy(out.data(), m_bytes.data() + m_next, n);
    m_next += n;
    return 0;
}

void AnswerQueue::push(std::vector<std::uint8_t> bytes)
{
    if (!bytes.empty())
        m_answers.push_back(std::make_unique<FixedAnswer>(std::move(bytes)));
}

void AnswerQueue::push(std::unique_ptr<AnswerSource> answer)
{
    if (answer && answer->remaining() > 0)
        m_answers.push_back(std::move(answer));
}

AnswerQueue::Taken AnswerQueue::take(std::span<std::uint8_t> out)
{
    Taken taken;
    while (!out.empty() && !m_answers.empty()) {
        AnswerSource &head = *m_answers.front();
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), head.remaining()));
        taken.busy += head.produce(out.first(n));
        taken.bytes += n;
        out = out.subspan(n);
        if (head.remaining() == 0)
            m_answers.pop_front();
    }
    return taken;
}

std::size_t AnswerQueue::drop(std::size_t bytes)
{
    std::size_t dropped = 0;
    std::uint8_t scratch[4096];
    while (dropped < bytes && !m_answers.empty()) {
        const std::size_t n = std::min(bytes - dropped, sizeof scratch);
        dropped += take(std::span<std::uint8_t>(scratch, n)).bytes;
    }
    return dropped;
}

std::unique_ptr<AnswerSource> AnswerQueue::takeLast()
{
    if (m_answers.empty())
        return nullptr;
    std::unique_ptr<AnswerSource> last = std::move(m_answers.back());
    m_answers.pop_back();
    return last;
}

std::uint64_t AnswerQueue::pendingBytes() const
{
    std::uint64_t total = 0;
    for (const auto &answer : m_answers)
        total += answer->remaining();
    return total;
}

} // namespace kvemu
