#pragma once

#include "AnswerSource.h"
#include "NandChip.h"

#include <vector>

namespace kvemu {

// Pages read from a NAND chip one after another, page size bytes each from a
// column on, produced as the host reads; then 0xFF up to the answer's length
// (the last USB packet is filled up). Without a chip every byte reads 0xFF.
//
// A host buffer that holds whole pages gets them straight from the chip; for
// smaller reads the answer reads up to ReadAhead bytes of pages at once and
// hands them out in parts, as the firmware's FIFO buffers do.
class NandReadAnswer : public AnswerSource
{
public:
    NandReadAnswer(chips::NandChip *chip, std::uint32_t row, std::uint32_t column,
                   std::uint32_t pageSize, std::uint32_t pages, std::uint64_t length);

    static constexpr std::size_t ReadAhead = 64 * 1024;

    std::uint64_t remaining() const override { return m_remaining; }
    chips::Nanos produce(std::span<std::uint8_t> out) override;

private:
    chips::NandChip *m_chip;
    std::uint32_t m_row;
    std::uint32_t m_column;
    std::uint32_t m_pageSize;
    std::uint32_t m_pagesLeft;
    std::uint64_t m_remaining;
    std::vector<std::uint8_t> m_pages; // pages read ahead, handed out in parts
    std::size_t m_next = 0;            // first byte of m_pages not handed out
    std::uint64_t m_pageBytesOut = 0;  // page bytes handed out so far
};

} // namespace kvemu
