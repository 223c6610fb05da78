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
    chips::Nanos busy = 0;
    out = out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), m_remaining)));
    m_remaining -= out.size();
    while (!out.empty()) {
        if (m_pagesLeft == 0) {
            std::fill(out.begin(), out.end(), std::uint8_t{0xFF});
            break;
        }
        if (m_inPage == 0 && m_chip && m_column == 0 && m_pageSize == m_chip->pageBytes() &&
            out.size() >= m_pageSize) {
            // Whole pages straight into the host's buffer.
            const auto pages = static_cast<std::uint32_t>(
                std::min<std::size_t>(out.size() / m_pageSize, m_pagesLeft));
            const std::size_t bytes = std::size_t(pages) * m_pageSize;
            busy += m_chip->readPages(m_row, out.first(bytes));
            m_row += pages;
            m_pagesLeft -= pages;
            out = out.subspan(bytes);
            continue;
        }
        if (m_inPage == 0) {
            m_page.resize(m_pageSize);
            if (m_chip)
                busy += m_chip->readPage(m_row, m_column, m_page);
            else
                std::fill(m_page.begin(), m_page.end(), std::uint8_t{0xFF});
        }
        const std::size_t n = std::min(out.size(), m_page.size() - m_inPage);
        std::memcpy(out.data(), m_page.data() + m_inPage, n);
        m_inPage += n;
        out = out.subspan(n);
        if (m_inPage == m_page.size()) {
            m_inPage = 0;
            ++m_row;
            --m_pagesLeft;
        }
    }
    return busy;
}

} // namespace kvemu
