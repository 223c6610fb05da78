#pragma once

#include "AnswerSource.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace kvemu {

// How a hostile programmer spoils one answer.
enum class AnswerFault {
    Short,     // only the first half of its bytes (a 1-byte answer: none)
    Missing,   // no bytes at all
    Oversized, // its bytes, then ExtraBytes more that the host did not ask for
    Garbage,   // as many bytes, but pseudo-random ones
    Zeroed,    // as many bytes, all 0: "nothing failed" from a unit that did nothing
};

// "answer_short", "answer_missing", "answer_oversized", "answer_garbage",
// "answer_zeroed".
std::optional<AnswerFault> answerFaultNamed(std::string_view name);
std::string_view answerFaultName(AnswerFault fault);

// One answer spoilt by an AnswerFault, produced as the host reads it like
// the answer it wraps. Garbage and extra bytes come from a fixed seed, so a
// test sees the same bytes every run.
class HostileAnswer : public AnswerSource
{
public:
    static constexpr std::uint64_t ExtraBytes = 3;

    HostileAnswer(std::unique_ptr<AnswerSource> answer, AnswerFault fault);
    std::uint64_t remaining() const override { return m_remaining; }
    chips::Nanos produce(std::span<std::uint8_t> out) override;

private:
    std::uint8_t nextRandom();

    std::unique_ptr<AnswerSource> m_answer;
    AnswerFault m_fault;
    std::uint64_t m_remaining;
    std::uint32_t m_random = 0x2545F491;
};

} // namespace kvemu
