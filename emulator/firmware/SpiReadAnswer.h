#pragma once

#include "AnswerSource.h"
#include "SpiChip.h"

#include <memory>

namespace kvemu {

// What the programmer samples from a serial chip in one read transaction,
// produced as the host reads, with the time the SPI bus needs for it.
class SpiReadAnswer : public AnswerSource
{
public:
    // Nanoseconds per byte on one data line (a 24 MHz SPI clock).
    static constexpr chips::Nanos SingleLineByteTime = 333;

    SpiReadAnswer(std::unique_ptr<chips::SpiOutput> output, std::uint64_t length,
                  chips::SpiLines lines);

    std::uint64_t remaining() const override { return m_remaining; }
    chips::Nanos produce(std::span<std::uint8_t> out) override;

private:
    std::unique_ptr<chips::SpiOutput> m_output;
    std::uint64_t m_remaining;
    unsigned m_lines;
};

} // namespace kvemu
