#include "HostileAnswer.h"

#include <algorithm>

namespace kvemu {

std::optional<AnswerFault> answerFaultNamed(std::string_view name)
{
    for (const AnswerFault fault :
         {AnswerFault::Short, AnswerFault::Missing, AnswerFault::Oversized, AnswerFault::Garbage,
          AnswerFault::Zeroed}) {
        if (name == answerFaultName(fault))
            return fault;
    }
    return std::nullopt;
}

std::string_view answerFaultName(AnswerFault fault)
{
    switch (fault) {
    case AnswerFault::Short:
        return "answer_short";
    case AnswerFault::Missing:
        return "answer_missing";
    case AnswerFault::Oversized:
        return "answer_oversized";
    case AnswerFault::Garbage:
        return "answer_garbage";
    case AnswerFault::Zeroed:
        return "answer_zeroed";
    }
    return {};
}

HostileAnswer::HostileAnswer(std::unique_ptr<AnswerSource> answer, AnswerFault fault)
    : m_answer(std::move(answer)), m_fault(fault)
{
    const std::uint64_t length = m_answer ? m_answer->remaining() : 0;
    switch (fault) {
    case AnswerFault::Short:
        m_remaining = length / 2;
        break;
    case AnswerFault::Missing:
        m_remaining = 0;
        break;
    case AnswerFault::Oversized:
        m_remaining = length + ExtraBytes;
        break;
    case AnswerFault::Garbage:
    case AnswerFault::Zeroed:
        m_remaining = length;
        break;
    }
}

std::uint8_t HostileAnswer::nextRandom()
{
    // xorshift32
    m_random ^= m_random << 13;
    m_random ^= m_random >> 17;
    m_random ^= m_random << 5;
    return static_cast<std::uint8_t>(m_random);
}

chips::Nanos HostileAnswer::produce(std::span<std::uint8_t> out)
{
    out = out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), m_remaining)));
    m_remaining -= out.size();
    const std::size_t real = static_cast<std::size_t>(
        std::min<std::uint64_t>(out.size(), m_answer ? m_answer->remaining() : 0));
    chips::Nanos busy = real > 0 ? m_answer->produce(out.first(real)) : 0;
    if (m_fault == AnswerFault::Zeroed)
        std::fill(out.begin(), out.end(), std::uint8_t(0));
    if (m_fault == AnswerFault::Garbage || m_fault == AnswerFault::Oversized) {
        for (std::size_t i = m_fault == AnswerFault::Garbage ? 0 : real; i < out.size(); ++i)
            out[i] = nextRandom();
    }
    return busy;
}

} // namespace kvemu
