#include "SpiNorFlash.h"

#include "SfdpTable.h"

#include <algorithm>
#include <stdexcept>

namespace kvemu::chips {

namespace {

class TableOutput : public SpiOutput
{
public:
    TableOutput(const std::vector<std::uint8_t> &table, std::uint64_t address)
        : m_table(table), m_address(address)
    {}
    void read(std::span<std::uint8_t> out) override
    {
        for (std::uint8_t &b : out) {
            b = m_address < m_table.size() ? m_table[static_cast<std::size_t>(m_address)] : 0xFF;
            ++m_address;
        }
    }

private:
    const std::vector<std::uint8_t> &m_table;
    std::uint64_t m_address;
};

enum : std::uint8_t {
    WriteStatus = 0x01,
    PageProgram = 0x02,
    Read = 0x03,
    WriteDisable = 0x04,
    ReadStatus1 = 0x05,
    WriteEnable = 0x06,
    FastRead = 0x0B,
    FastRead4 = 0x0C,
    PageProgram4 = 0x12,
    Read4 = 0x13,
    ReadStatus3 = 0x15,
    ReadBank = 0x16,
    WriteBank = 0x17,
    Erase4k = 0x20,
    Erase4k4 = 0x21,
    WriteStatus2 = 0x31,
    QuadProgram = 0x32,
    QuadProgram4 = 0x34,
    ReadStatus2 = 0x35,
    DualRead = 0x3B,
    DualRead4 = 0x3C,
    Erase32k = 0x52,
    ReadSfdp = 0x5A,
    Erase32k4 = 0x5C,
    ChipErase2 = 0x60,
    ResetEnable = 0x66,
    QuadRead = 0x6B,
    QuadRead4 = 0x6C,
    ResetDevice = 0x99,
    ReadId = 0x9F,
    DualProgram = 0xA2,
    Enter4Byte = 0xB7,
    ChipErase = 0xC7,
    Erase64k = 0xD8,
    Erase64k4 = 0xDC,
    Exit4Byte = 0xE9,
};

constexpr std::uint8_t StatusBusy = 0x01;
constexpr std::uint8_t StatusWriteEnabled = 0x02;
constexpr std::uint8_t BankFourByte = 0x80;
constexpr std::uint8_t BankAddress24 = 0x01;

} // namespace

std::string SpiNorConfig::check() const
{
    if (size < 4096 || (size & (size - 1)) != 0)
        return "the size must be a power of two of at least 4 KiB";
    if (size > (std::uint64_t(1) << 32))
        return "at most 4 GiB";
    if (pageSize == 0 || (pageSize & (pageSize - 1)) != 0 || pageSize > 4096)
        return "the page size must be a power of two up to 4096";
    if (id.empty() || id.size() > 8)
        return "1 to 8 ID bytes";
    return {};
}

SpiNorFlash::SpiNorFlash(SpiNorConfig config, ImageFile &image, std::uint64_t base)
    : m_config(std::move(config)), m_image(image), m_base(base), m_status1(m_config.status1 & 0xFC),
      m_status2(m_config.status2)
{
    const std::string problem = m_config.check();
    if (!problem.empty())
        throw std::invalid_argument(problem);
    if (m_config.sfdp && !m_config.sfdpArea.empty()) {
        m_sfdp = m_config.sfdpArea;
    } else if (m_config.sfdp) {
        SfdpDescription d;
        d.sizeBytes = m_config.size;
        d.manufacturer = m_config.id[0];
        d.pageSize = m_config.pageSize;
        d.dualOutput = m_config.dual;
        d.quadOutput = m_config.quad;
        d.addressModes = m_config.fourByteCapable() ? 34 : 3;
        d.pageProgramTime = m_config.pageProgramTime;
        d.erase4kTime = m_config.erase4kTime;
        d.erase32kTime = m_config.erase32kTime;
        d.erase64kTime = m_config.erase64kTime;
        d.chipEraseTime = m_config.chipEraseTime;
        m_sfdp = SfdpTable::build(d);
    }
}

void SpiNorFlash::contents(std::uint64_t offset, std::span<std::uint8_t> out) const
{
    m_image.readWindow(m_base, m_config.size, offset, out);
}

std::size_t SpiNorFlash::setContents(std::uint64_t offset, std::span<const std::uint8_t> data)
{
    if (offset >= m_config.size)
        return 0;
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(data.size(), m_config.size - offset));
    m_image.write(m_base + offset, data.first(n));
    return n;
}

std::uint8_t SpiNorFlash::status1(Nanos now) const
{
    std::uint8_t s = m_status1;
    if (now < m_busyUntil)
        s |= StatusBusy;
    if (m_writeEnabled)
        s |= StatusWriteEnabled;
    return s;
}

bool SpiNorFlash::phase(std::uint8_t opcode, Phase &p) const
{
    const std::size_t a = m_addressBytes;
    const bool four = m_config.fourByteCapable();
    switch (opcode) {
    case Read:
        p = {1 + a, SpiLines::Single};
        return true;
    case FastRead:
        p = {2 + a, SpiLines::Single};
        return true;
    case DualRead:
        p = {2 + a, SpiLines::Dual};
        return m_config.dual;
    case QuadRead:
        p = {2 + a, SpiLines::Quad};
        return m_config.quad;
    case Read4:
        p = {5, SpiLines::Single};
        return four;
    case FastRead4:
        p = {6, SpiLines::Single};
        return four;
    case DualRead4:
        p = {6, SpiLines::Dual};
        return four && m_config.dual;
    case QuadRead4:
        p = {6, SpiLines::Quad};
        return four && m_config.quad;
    case PageProgram:
        p = {1 + a, SpiLines::Single};
        return true;
    case DualProgram:
        p = {1 + a, SpiLines::Dual};
        return m_config.dual;
    case QuadProgram:
        p = {1 + a, SpiLines::Quad};
        return m_config.quad;
    case PageProgram4:
        p = {5, SpiLines::Single};
        return four;
    case QuadProgram4:
        p = {5, SpiLines::Quad};
        return four && m_config.quad;
    case Erase4k:
    case Erase32k:
    case Erase64k:
        p = {1 + a, SpiLines::Single};
        return true;
    case Erase4k4:
    case Erase32k4:
    case Erase64k4:
        p = {5, SpiLines::Single};
        return four;
    case ReadSfdp:
        p = {5, SpiLines::Single}; // three address bytes and one dummy byte
        return m_config.sfdp;
    case Enter4Byte:
    case Exit4Byte:
    case ReadBank:
    case WriteBank:
        p = {1, SpiLines::Single};
        return four;
    case WriteStatus:
    case WriteStatus2:
    case WriteDisable:
    case WriteEnable:
    case ReadStatus1:
    case ReadStatus2:
    case ReadStatus3:
    case ReadId:
    case ChipErase:
    case ChipErase2:
    case ResetEnable:
    case ResetDevice:
        p = {1, SpiLines::Single};
        return true;
    default:
        return false;
    }
}

bool SpiNorFlash::takenWhileBusy(std::uint8_t opcode) const
{
    return opcode == ReadStatus1 || opcode == ReadStatus2 || opcode == ReadStatus3;
}

std::unique_ptr<SpiOutput> SpiNorFlash::output(std::span<const std::uint8_t> header, Nanos now)
{
    const std::uint8_t opcode = header[0];
    m_resetEnabled = false;
    switch (opcode) {
    case Read:
    case FastRead:
    case DualRead:
    case QuadRead:
        return std::make_unique<ArrayOutput>(*this, modeAddress(header));
    case Read4:
    case FastRead4:
    case DualRead4:
    case QuadRead4:
        return std::make_unique<ArrayOutput>(*this, address(header, 1, 4));
    case ReadSfdp:
        return std::make_unique<TableOutput>(m_sfdp, address(header, 1, 3));
    case ReadStatus1:
        return std::make_unique<ConstantOutput>(status1(now));
    case ReadStatus2:
        return std::make_unique<ConstantOutput>(m_status2);
    case ReadStatus3:
        return std::make_unique<ConstantOutput>(0x00);
    case ReadId:
        return std::make_unique<RepeatingOutput>(m_config.id);
    case ReadBank:
        return std::make_unique<ConstantOutput>(m_bankRegister);
    default:
        return std::make_unique<ConstantOutput>(); // a write command read back: nothing driven
    }
}

std::uint64_t SpiNorFlash::modeAddress(std::span<const std::uint8_t> header) const
{
    if (m_addressBytes == 4)
        return address(header, 1, 4);
    const std::uint64_t bank = (m_bankRegister & BankAddress24) ? std::uint64_t(1) << 24 : 0;
    return bank | address(header, 1, 3);
}

bool SpiNorFlash::isProtected(std::uint64_t address, std::uint64_t length) const
{
    const unsigned bp = (m_status1 >> 2) & 0x07;
    if (bp == 0)
        return false;
    const std::uint64_t size = m_config.size;
    const std::uint64_t part = bp == 7 ? size : size >> (7 - bp);
    const bool bottom = (m_status1 & 0x20) != 0;
    const std::uint64_t first = bottom ? 0 : size - part;
    const std::uint64_t end = first + part;
    return address < end && address + length > first;
}

void SpiNorFlash::program(std::uint64_t address, std::span<const std::uint8_t> data, Nanos now)
{
    const std::uint32_t page = m_config.pageSize;
    address %= m_config.size;
    const std::uint64_t start = address - address % page;
    if (isProtected(start, page))
        return;
    // The page buffer: bytes past the page's end wrap to its start, later
    // bytes overwrite earlier ones.
    std::vector<std::uint8_t> buffer(page, 0xFF);
    std::size_t column = static_cast<std::size_t>(address - start);
    if (column + data.size() <= page) {
        std::copy(data.begin(), data.end(), buffer.begin() + static_cast<std::ptrdiff_t>(column));
    } else {
        for (const std::uint8_t byte : data) {
            buffer[column] = byte;
            column = column + 1 == page ? 0 : column + 1;
        }
    }
    m_image.program(m_base + start, buffer);
    m_busyUntil = now + m_config.pageProgramTime;
}

void SpiNorFlash::erase(std::uint64_t address, std::uint64_t length, Nanos time, Nanos now)
{
    address %= m_config.size;
    const std::uint64_t start = address - address % length;
    if (isProtected(start, length))
        return;
    m_image.erase(m_base + start, length);
    m_busyUntil = now + time;
}

void SpiNorFlash::input(std::span<const std::uint8_t> header, std::span<const std::uint8_t> data,
                        Nanos now)
{
    const std::uint8_t opcode = header[0];
    const bool resetEnabled = m_resetEnabled;
    m_resetEnabled = false;
    const bool enabled = m_writeEnabled;
    switch (opcode) {
    case WriteEnable:
        m_writeEnabled = true;
        return;
    case WriteDisable:
        m_writeEnabled = false;
        return;
    case Enter4Byte:
        m_addressBytes = 4;
        m_bankRegister |= BankFourByte;
        return;
    case Exit4Byte:
        m_addressBytes = 3;
        m_bankRegister &= static_cast<std::uint8_t>(~BankFourByte);
        return;
    case WriteBank:
        // Volatile, no write enable needed.
        if (!data.empty()) {
            m_bankRegister = data[0] & (BankFourByte | BankAddress24);
            m_addressBytes = (m_bankRegister & BankFourByte) ? 4 : 3;
        }
        return;
    case ResetEnable:
        m_resetEnabled = true;
        return;
    case ResetDevice:
        if (resetEnabled) {
            m_addressBytes = 3;
            m_bankRegister = 0;
            m_writeEnabled = false;
        }
        return;
    default:
        break;
    }
    // Everything below changes the chip and needs write enable; each such
    // command clears it, whether it did anything or not.
    const bool changes = opcode == WriteStatus || opcode == WriteStatus2 || opcode == PageProgram ||
                         opcode == DualProgram || opcode == QuadProgram || opcode == PageProgram4 ||
                         opcode == QuadProgram4 || opcode == Erase4k || opcode == Erase32k ||
                         opcode == Erase64k || opcode == Erase4k4 || opcode == Erase32k4 ||
                         opcode == Erase64k4 || opcode == ChipErase || opcode == ChipErase2;
    if (!changes)
        return;
    m_writeEnabled = false;
    if (!enabled)
        return;
    switch (opcode) {
    case WriteStatus:
        if (!data.empty()) {
            m_status1 = data[0] & 0xFC;
            if (data.size() > 1)
                m_status2 = data[1];
            m_busyUntil = now + m_config.statusWriteTime;
        }
        return;
    case WriteStatus2:
        if (!data.empty()) {
            m_status2 = data[0];
            m_busyUntil = now + m_config.statusWriteTime;
        }
        return;
    case PageProgram:
    case DualProgram:
    case QuadProgram:
        program(modeAddress(header), data, now);
        return;
    case PageProgram4:
    case QuadProgram4:
        program(address(header, 1, 4), data, now);
        return;
    case Erase4k:
        erase(modeAddress(header), 4096, m_config.erase4kTime, now);
        return;
    case Erase32k:
        erase(modeAddress(header), std::min<std::uint64_t>(32768, m_config.size),
              m_config.erase32kTime, now);
        return;
    case Erase64k:
        erase(modeAddress(header), std::min<std::uint64_t>(65536, m_config.size),
              m_config.erase64kTime, now);
        return;
    case Erase4k4:
        erase(address(header, 1, 4), 4096, m_config.erase4kTime, now);
        return;
    case Erase32k4:
        erase(address(header, 1, 4), std::min<std::uint64_t>(32768, m_config.size),
              m_config.erase32kTime, now);
        return;
    case Erase64k4:
        erase(address(header, 1, 4), std::min<std::uint64_t>(65536, m_config.size),
              m_config.erase64kTime, now);
        return;
    case ChipErase:
    case ChipErase2:
        if (((m_status1 >> 2) & 0x07) == 0) {
            m_image.erase(m_base, m_config.size);
            m_busyUntil = now + m_config.chipEraseTime;
        }
        return;
    default:
        return;
    }
}

} // namespace kvemu::chips
