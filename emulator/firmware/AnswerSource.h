#pragma once

#include "ChipTime.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kvemu {

// One command's answer, produced as the host reads it, so that an answer of
// gigabytes costs no memory.
class AnswerSource
{
public:
    virtual ~AnswerSource() = default;
    virtual std::uint64_t remaining() const = 0;
    // Writes the next out.size() bytes (at most remaining()); returns the time
    // the programmer needed for them (chip reads, bus time).
    virtual chips::Nanos produce(std::span<std::uint8_t> out) = 0;
};

// An answer known in full when the command arrives.
class FixedAnswer : public AnswerSource
{
public:
    explicit FixedAnswer(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    std::uint64_t remaining() const override { return m_bytes.size() - m_next; }
    chips::Nanos produce(std::span<std::uint8_t> out) override;

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_next = 0;
};

} // namespace kvemu
