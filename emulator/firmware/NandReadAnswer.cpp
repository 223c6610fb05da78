#include "NandReadAnswer.h"

#include <algorithm>
#include <cstring>

namespace kvemu {

NandReadAnswer::NandReadAnswer(chips::NandChip *chip, std::uint32_t row, std::uint32_t column,
                               std::uint32_t pageSize, std::uint32_t pages, std::uint64_t length)
    : m_chip(chip), m_row(row), m_column(column), m_pageSize(pageSize), m_pagesLeft(pages),
      m_remaining(length)
{}

chips::Nanos NandReadAnswer::produce(std::span<std::uint8_t> out)
{
    out = out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), m_remaining)));
    m_remaining -= out.size();
    // The chip's read time (tR) for the page bytes handed out; a page read
    // ahead costs its time when its bytes go out, as reading overlaps.
    const std::uint64_t pageBytesBefore = m_pageBytesOut;
    while (!out.empty()) {
        if (m_next < m_pages.size()) {
            const std::size_t n = std::min(out.size(), m_pages.size() - m_next);
            std::memcpy(out.data(), m_pages.data() + m_next, n);
            m_next += n;
            m_pageBytesOut += n;
            out = out.subspan(n);
            continue;
        }
        if (m_pagesLeft == 0) {
            std::fill(out.begin(), out.end(), std::uint8_t{0xFF});
            break;
        }
        const bool whole = m_chip && m_column == 0 && m_pageSize == m_chip->pageBytes();
        if (whole && out.size() >= m_pageSize) {
            // Whole pages straight into the host's buffer.
            const auto pages = static_cast<std::uint32_t>(
                std::min<std::size_t>(out.size() / m_pageSize, m_pagesLeft));
            const std::size_t bytes = std::size_t(pages) * m_pageSize;
            m_chip->readPages(m_row, out.first(bytes));
            m_row += pages;
            m_pagesLeft -= pages;
            m_pageBytesOut += bytes;
            out = out.subspan(bytes);
            continue;
        }
        // Read ahead: as many pages as fit, at least one.
        const auto pages = static_cast<std::uint32_t>(
            std::clamp<std::size_t>(ReadAhead / m_pageSize, 1, m_pagesLeft));
        m_pages.resize(std::size_t(pages) * m_pageSize);
        m_next = 0;
        if (whole) {
            m_chip->readPages(m_row, m_pages);
        } else {
            for (std::uint32_t i = 0; i < pages; ++i) {
                const auto page = std::span<std::uint8_t>(m_pages).subspan(
                    std::size_t(i) * m_pageSize, m_pageSize);
                if (m_chip)
                    m_chip->readPage(m_row + i, m_column, page);
                else
                    std::fill(page.begin(), page.end(), std::uint8_t{0xFF});
            }
        }
        m_row += pages;
        m_pagesLeft -= pages;
    }
    if (!m_chip || m_pageSize == 0)
        return 0;
    return (m_pageBytesOut - pageBytesBefore) * m_chip->config().readTime / m_pageSize;
}

} // namespace kvemu
