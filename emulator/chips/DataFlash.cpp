#include "DataFlash.h"

#include <algorithm>
#include <stdexcept>

namespace kvemu::chips {

namespace {

enum : std::uint8_t {
    ContinuousReadLow = 0x03,
    ContinuousRead = 0x0B,
    BlockErase = 0x50,
    PageErase = 0x81,
    ProgramThroughBuffer1 = 0x82,
    Buffer1ToPageErase = 0x83,
    Buffer1Write = 0x84,
    ProgramThroughBuffer2 = 0x85,
    Buffer2ToPageErase = 0x86,
    Buffer2Write = 0x87,
    Buffer1ToPage = 0x88,
    Buffer2ToPage = 0x89,
    ReadId = 0x9F,
    Configure = 0x3D,
    SectorErase = 0x7C,
    ChipErase = 0xC7,
    Buffer2ReadLow = 0xD3,
    Buffer1ReadLow = 0xD1,
    PageRead = 0xD2,
    Buffer1Read = 0xD4,
    Buffer2Read = 0xD6,
    ReadStatus = 0xD7,
    ContinuousReadLegacy = 0xE8,
};

// Bytes of one page or buffer from an offset on, wrapping within it.
class WrappingOutput : public SpiOutput
{
public:
    WrappingOutput(std::vector<std::uint8_t> bytes, std::size_t start)
        : m_bytes(std::move(bytes)), m_next(m_bytes.empty() ? 0 : start % m_bytes.size())
    {}
    void read(std::span<std::uint8_t> out) override
    {
        for (std::uint8_t &b : out) {
            b = m_bytes.empty() ? 0xFF : m_bytes[m_next];
            if (!m_bytes.empty())
                m_next = (m_next + 1) % m_bytes.size();
        }
    }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_next;
};

// Density code of the status register: bits 5..2 from the size in Mbit.
std::uint8_t densityCode(std::uint32_t pages, std::uint32_t binaryPageSize)
{
    const std::uint64_t mbit = std::uint64_t(pages) * binaryPageSize * 8 / (1024 * 1024);
    static const std::uint8_t codes[][2] = {{1, 0x3},  {2, 0x5},  {4, 0x7}, {8, 0x9},
                                            {16, 0xB}, {32, 0xD}, {64, 0xF}};
    for (const auto &c : codes)
        if (mbit <= c[0])
            return c[1];
    return 0xF;
}

} // namespace

std::string DataFlashConfig::check() const
{
    if (standardPageSize != 264 && standardPageSize != 528 && standardPageSize != 1056)
        return "the page size must be 264, 528 or 1056 (power-of-two mode: 256, 512, 1024)";
    if (pages == 0 || (pages & (pages - 1)) != 0 || pages > 65536)
        return "the page count must be a power of two up to 65536";
    if (pagesPerBlock == 0 || pagesPerSector <= pagesPerBlock || pages % pagesPerSector != 0)
        return "blocks must be smaller than sectors, and sectors divide the pages";
    if (id.empty() || id.size() > 8)
        return "1 to 8 ID bytes";
    return {};
}

DataFlash::DataFlash(DataFlashConfig config, ImageFile &image, std::uint64_t base)
    : m_config(std::move(config)), m_image(image), m_base(base), m_binary(m_config.binaryPages)
{
    const std::string problem = m_config.check();
    if (!problem.empty())
        throw std::invalid_argument(problem);
    for (auto &buffer : m_buffers)
        buffer.assign(m_config.standardPageSize, 0xFF);
}

std::uint32_t DataFlash::pageSize() const
{
    return m_binary ? m_config.binaryPageSize() : m_config.standardPageSize;
}

unsigned DataFlash::byteBits() const
{
    unsigned bits = 0;
    while ((1u << bits) < pageSize())
        ++bits;
    return bits;
}

DataFlash::Location DataFlash::locate(std::uint64_t address) const
{
    const unsigned bits = byteBits();
    Location l;
    l.page = static_cast<std::uint32_t>((address >> bits) % m_config.pages);
    l.byte = static_cast<std::uint32_t>((address & ((1u << bits) - 1)) % pageSize());
    return l;
}

std::uint64_t DataFlash::pageOffset(std::uint32_t page) const
{
    return m_base + std::uint64_t(page % m_config.pages) * m_config.standardPageSize;
}

void DataFlash::contents(std::uint64_t offset, std::span<std::uint8_t> out) const
{
    std::fill(out.begin(), out.end(), std::uint8_t{0xFF});
    const std::uint32_t ps = pageSize();
    std::size_t done = 0;
    while (done < out.size() && offset + done < size()) {
        const std::uint64_t at = offset + done;
        const auto page = static_cast<std::uint32_t>(at / ps);
        const auto byte = static_cast<std::uint32_t>(at % ps);
        const std::size_t n = std::min<std::size_t>(out.size() - done, ps - byte);
        m_image.read(pageOffset(page) + byte, out.subspan(done, n));
        done += n;
    }
}

std::size_t DataFlash::setContents(std::uint64_t offset, std::span<const std::uint8_t> data)
{
    const std::uint32_t ps = pageSize();
    std::size_t done = 0;
    while (done < data.size() && offset + done < size()) {
        const std::uint64_t at = offset + done;
        const auto page = static_cast<std::uint32_t>(at / ps);
        const auto byte = static_cast<std::uint32_t>(at % ps);
        const std::size_t n = std::min<std::size_t>(data.size() - done, ps - byte);
        m_image.write(pageOffset(page) + byte, data.subspan(done, n));
        done += n;
    }
    return done;
}

std::uint8_t DataFlash::status(Nanos now) const
{
    std::uint8_t s =
        static_cast<std::uint8_t>(densityCode(m_config.pages, m_config.binaryPageSize()) << 2);
    if (now >= m_busyUntil)
        s |= 0x80;
    if (m_binary)
        s |= 0x01;
    return s;
}

bool DataFlash::phase(std::uint8_t opcode, Phase &p) const
{
    switch (opcode) {
    case ContinuousReadLow:
    case Buffer1ReadLow:
    case Buffer2ReadLow:
    case BlockErase:
    case PageErase:
    case ProgramThroughBuffer1:
    case ProgramThroughBuffer2:
    case Buffer1ToPageErase:
    case Buffer2ToPageErase:
    case Buffer1Write:
    case Buffer2Write:
    case Buffer1ToPage:
    case Buffer2ToPage:
    case SectorErase:
    case ChipErase:
    case Configure:
        p = {4, SpiLines::Single};
        return true;
    case ContinuousRead:
    case Buffer1Read:
    case Buffer2Read:
        p = {5, SpiLines::Single};
        return true;
    case PageRead:
    case ContinuousReadLegacy:
        p = {8, SpiLines::Single};
        return true;
    case ReadStatus:
    case ReadId:
        p = {1, SpiLines::Single};
        return true;
    default:
        return false;
    }
}

bool DataFlash::takenWhileBusy(std::uint8_t opcode) const
{
    return opcode == ReadStatus;
}

std::unique_ptr<SpiOutput> DataFlash::output(std::span<const std::uint8_t> header, Nanos now)
{
    const std::uint8_t opcode = header[0];
    const Location l = locate(address(header, 1, 3));
    switch (opcode) {
    case ContinuousReadLow:
    case ContinuousRead:
    case ContinuousReadLegacy:
        return std::make_unique<ArrayOutput>(*this, std::uint64_t(l.page) * pageSize() + l.byte);
    case PageRead: {
        std::vector<std::uint8_t> page(pageSize());
        contents(std::uint64_t(l.page) * pageSize(), page);
        return std::make_unique<WrappingOutput>(std::move(page), l.byte);
    }
    case Buffer1Read:
    case Buffer1ReadLow:
    case Buffer2Read:
    case Buffer2ReadLow: {
        const unsigned b = (opcode == Buffer1Read || opcode == Buffer1ReadLow) ? 0 : 1;
        std::vector<std::uint8_t> buffer(m_buffers[b].begin(), m_buffers[b].begin() + pageSize());
        const auto byte = static_cast<std::uint32_t>(address(header, 1, 3) % pageSize());
        return std::make_unique<WrappingOutput>(std::move(buffer), byte);
    }
    case ReadStatus:
        return std::make_unique<ConstantOutput>(status(now));
    case ReadId:
        return std::make_unique<RepeatingOutput>(m_config.id);
    default:
        return std::make_unique<ConstantOutput>();
    }
}

void DataFlash::writeBuffer(unsigned buffer, std::uint32_t byte, std::span<const std::uint8_t> data)
{
    const std::uint32_t ps = pageSize();
    std::uint32_t at = byte % ps;
    for (const std::uint8_t b : data) {
        m_buffers[buffer][at] = b;
        at = (at + 1) % ps;
    }
}

void DataFlash::bufferToPage(unsigned buffer, std::uint32_t page, bool erase)
{
    const std::span<const std::uint8_t> bytes(m_buffers[buffer].data(), pageSize());
    if (erase)
        m_image.write(pageOffset(page), bytes);
    else
        m_image.program(pageOffset(page), bytes);
}

void DataFlash::erasePages(std::uint32_t first, std::uint32_t count)
{
    m_image.erase(pageOffset(first), std::uint64_t(count) * m_config.standardPageSize);
}

void DataFlash::input(std::span<const std::uint8_t> header, std::span<const std::uint8_t> data,
                      Nanos now)
{
    const std::uint8_t opcode = header[0];
    const std::uint64_t addr = address(header, 1, 3);
    const Location l = locate(addr);
    switch (opcode) {
    case Buffer1Write:
    case Buffer2Write:
        writeBuffer(opcode == Buffer1Write ? 0 : 1, static_cast<std::uint32_t>(addr % pageSize()),
                    data);
        return;
    case ProgramThroughBuffer1:
    case ProgramThroughBuffer2: {
        const unsigned b = opcode == ProgramThroughBuffer1 ? 0 : 1;
        writeBuffer(b, l.byte, data);
        bufferToPage(b, l.page, true);
        m_busyUntil = now + m_config.pageEraseProgramTime;
        return;
    }
    case Buffer1ToPageErase:
    case Buffer2ToPageErase:
        bufferToPage(opcode == Buffer1ToPageErase ? 0 : 1, l.page, true);
        m_busyUntil = now + m_config.pageEraseProgramTime;
        return;
    case Buffer1ToPage:
    case Buffer2ToPage:
        bufferToPage(opcode == Buffer1ToPage ? 0 : 1, l.page, false);
        m_busyUntil = now + m_config.pageProgramTime;
        return;
    case PageErase:
        erasePages(l.page, 1);
        m_busyUntil = now + m_config.pageEraseTime;
        return;
    case BlockErase: {
        const std::uint32_t first = l.page - l.page % m_config.pagesPerBlock;
        erasePages(first, m_config.pagesPerBlock);
        m_busyUntil = now + m_config.blockEraseTime;
        return;
    }
    case SectorErase: {
        const std::uint32_t perSector = m_config.pagesPerSector;
        std::uint32_t first = l.page - l.page % perSector;
        std::uint32_t count = perSector;
        if (first == 0) { // sector 0a or 0b
            const bool sector0a = l.page < m_config.pagesPerBlock;
            first = sector0a ? 0 : m_config.pagesPerBlock;
            count = sector0a ? m_config.pagesPerBlock : perSector - m_config.pagesPerBlock;
        }
        erasePages(first, count);
        m_busyUntil = now + m_config.sectorEraseTime;
        return;
    }
    case ChipErase:
        if (header[1] == 0x94 && header[2] == 0x80 && header[3] == 0x9A) {
            erasePages(0, m_config.pages);
            m_busyUntil = now + m_config.chipEraseTime;
        }
        return;
    case Configure:
        if (header[1] == 0x2A && header[2] == 0x80 && (header[3] == 0xA6 || header[3] == 0xA7)) {
            m_binary = header[3] == 0xA6;
            m_busyUntil = now + m_config.pageEraseProgramTime;
        }
        return;
    default:
        return;
    }
}

} // namespace kvemu::chips
