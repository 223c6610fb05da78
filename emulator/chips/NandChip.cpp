#include "NandChip.h"

#include "OnfiParameterPage.h"

#include <algorithm>
#include <stdexcept>

namespace kvemu::chips {

namespace {

unsigned bytesFor(std::uint64_t highest)
{
    unsigned n = 1;
    while (highest > 0xFF) {
        highest >>= 8;
        ++n;
    }
    return n;
}

std::uint16_t clampUs(Nanos time)
{
    return static_cast<std::uint16_t>(std::min<Nanos>(time / Microsecond, 0xFFFF));
}

} // namespace

unsigned NandChipConfig::effectiveColumnCycles() const
{
    if (columnCycles != 0)
        return columnCycles;
    return dataBytes <= 512 ? 1 : 2;
}

unsigned NandChipConfig::effectiveRowCycles() const
{
    if (rowCycles != 0)
        return rowCycles;
    return bytesFor(pageCount() > 0 ? pageCount() - 1 : 0);
}

std::string NandChipConfig::check() const
{
    if (dataBytes == 0 || pagesPerBlock == 0 || blocks == 0)
        return "page, block and chip sizes must not be 0";
    if (std::uint64_t(dataBytes) + spareBytes > 0xFFFF)
        return "a page may hold at most 65535 bytes";
    if (std::uint64_t(pagesPerBlock) * blocks > 0xFFFFFFFFull)
        return "more than 2^32 pages";
    if (effectiveColumnCycles() > 4 || effectiveRowCycles() > 4)
        return "at most 4 column and 4 row cycles";
    const auto outside = [this](const std::set<std::uint32_t> &set) {
        return !set.empty() && *set.rbegin() >= blocks;
    };
    if (outside(factoryBadBlocks) || outside(eraseFailBlocks) || outside(programFailBlocks))
        return "a bad block lies past the last block";
    if (!parameterPage.empty() && parameterPage.size() < MinParameterPageBytes)
        return "a parameter page holds at least " + std::to_string(MinParameterPageBytes) +
               " bytes";
    if (flipRate < 0.0 || flipRate > 1.0)
        return "the read flip rate lies outside 0..1";
    return {};
}

NandChip::NandChip(NandChipConfig config, ImageFile &image, std::uint64_t base)
    : m_config(std::move(config)), m_image(image), m_base(base),
      m_flips(m_config.flipSeed, m_config.flipRate)
{
    const std::string problem = m_config.check();
    if (!problem.empty())
        throw std::invalid_argument(problem);
    if (!m_config.parameterPage.empty()) {
        m_parameterPage = m_config.parameterPage;
        m_parameterPageRepeats = false;
    } else if (m_config.onfi) {
        OnfiDescription d;
        d.manufacturer = m_config.manufacturer;
        d.model = m_config.model;
        d.jedecManufacturer = m_config.id.empty() ? 0 : m_config.id[0];
        d.dataBytesPerPage = m_config.dataBytes;
        d.spareBytesPerPage = static_cast<std::uint16_t>(m_config.spareBytes);
        d.pagesPerBlock = m_config.pagesPerBlock;
        d.blocksPerLun = m_config.blocks;
        d.columnCycles = static_cast<std::uint8_t>(m_config.effectiveColumnCycles());
        d.rowCycles = static_cast<std::uint8_t>(m_config.effectiveRowCycles());
        d.maxBadBlocksPerLun = static_cast<std::uint16_t>(std::max<std::size_t>(
            20, m_config.factoryBadBlocks.size() + m_config.eraseFailBlocks.size() +
                    m_config.programFailBlocks.size()));
        d.programTimeUs = std::max<std::uint16_t>(1, clampUs(m_config.programTime));
        d.eraseTimeUs = std::max<std::uint16_t>(1, clampUs(m_config.eraseTime));
        d.readTimeUs = std::max<std::uint16_t>(1, clampUs(m_config.readTime));
        const auto page = OnfiParameterPage::build(d);
        m_parameterPage.assign(page.begin(), page.end());
    }
    const std::vector<std::uint8_t> zeros(pageBytes(), 0x00);
    for (const std::uint32_t block : m_config.factoryBadBlocks)
        m_image.write(pageOffset(block * m_config.pagesPerBlock), zeros);
}

std::uint32_t NandChip::wrap(std::uint64_t row) const
{
    return static_cast<std::uint32_t>(row % m_config.pageCount());
}

std::uint64_t NandChip::pageOffset(std::uint32_t row) const
{
    return m_base + std::uint64_t(wrap(row)) * pageBytes();
}

std::uint64_t NandChip::blockOf(std::uint32_t row) const
{
    return wrap(row) / m_config.pagesPerBlock;
}

void NandChip::readId(std::span<std::uint8_t> out) const
{
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = m_config.id.empty() ? 0xFF : m_config.id[i % m_config.id.size()];
}

void NandChip::readParameterPage(std::uint64_t offset, std::span<std::uint8_t> out) const
{
    const std::uint64_t size = m_parameterPage.size();
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::uint64_t at = offset + i;
        if (size == 0 || (!m_parameterPageRepeats && at >= size))
            out[i] = 0xFF;
        else
            out[i] = m_parameterPage[static_cast<std::size_t>(at % size)];
    }
}

Nanos NandChip::readPage(std::uint32_t row, std::uint32_t column, std::span<std::uint8_t> out)
{
    std::vector<std::uint8_t> reg(pageBytes());
    m_image.read(pageOffset(row), reg);
    m_flips.disturb(reg);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::uint64_t at = std::uint64_t(column) + i;
        out[i] = at < reg.size() ? reg[static_cast<std::size_t>(at)] : 0xFF;
    }
    return m_config.readTime;
}

Nanos NandChip::readPages(std::uint32_t row, std::span<std::uint8_t> out)
{
    const std::size_t page = pageBytes();
    const std::size_t count = out.size() / page;
    std::size_t done = 0;
    std::uint32_t next = wrap(row);
    while (done < count) {
        // Consecutive rows up to the end of the chip are consecutive in the image.
        const std::size_t run = std::min<std::size_t>(count - done, m_config.pageCount() - next);
        m_image.read(pageOffset(next), out.subspan(done * page, run * page));
        done += run;
        next = wrap(std::uint64_t(next) + run);
    }
    if (m_flips.enabled())
        for (std::size_t i = 0; i < count; ++i)
            m_flips.disturb(out.subspan(i * page, page));
    return m_config.readTime * count;
}

NandChip::Result NandChip::programPage(std::uint32_t row, std::uint32_t column,
                                       std::span<const std::uint8_t> data)
{
    Result result{StatusReady, m_config.programTime};
    const std::uint64_t block = blockOf(row);
    if (m_config.factoryBadBlocks.count(static_cast<std::uint32_t>(block)) ||
        m_config.programFailBlocks.count(static_cast<std::uint32_t>(block))) {
        result.status |= StatusFail;
        return result;
    }
    if (column >= pageBytes())
        return result;
    const std::size_t n = std::min<std::size_t>(data.size(), pageBytes() - column);
    m_image.program(pageOffset(row) + column, data.first(n));
    return result;
}

NandChip::Result NandChip::eraseBlock(std::uint32_t row)
{
    Result result{StatusReady, m_config.eraseTime};
    const std::uint64_t block = blockOf(row);
    if (m_config.factoryBadBlocks.count(static_cast<std::uint32_t>(block)) ||
        m_config.eraseFailBlocks.count(static_cast<std::uint32_t>(block))) {
        result.status |= StatusFail;
        return result;
    }
    const std::uint64_t blockBytes = std::uint64_t(pageBytes()) * m_config.pagesPerBlock;
    m_image.erase(m_base + block * blockBytes, blockBytes);
    return result;
}

void NandChip::contents(std::uint64_t offset, std::span<std::uint8_t> out) const
{
    const std::uint64_t total = m_config.totalBytes();
    std::fill(out.begin(), out.end(), std::uint8_t{0xFF});
    if (offset >= total)
        return;
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), total - offset));
    m_image.read(m_base + offset, out.first(n));
}

std::size_t NandChip::setContents(std::uint64_t offset, std::span<const std::uint8_t> data)
{
    const std::uint64_t total = m_config.totalBytes();
    if (offset >= total)
        return 0;
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(data.size(), total - offset));
    m_image.write(m_base + offset, data.first(n));
    return n;
}

} // namespace kvemu::chips
