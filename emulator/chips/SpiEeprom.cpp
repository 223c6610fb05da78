#include "SpiEeprom.h"

#include <algorithm>
#include <stdexcept>

namespace kvemu::chips {

namespace {

enum : std::uint8_t {
    WriteStatus = 0x01,
    Write = 0x02,
    Read = 0x03,
    WriteDisable = 0x04,
    ReadStatus = 0x05,
    WriteEnable = 0x06,
    ReadId = 0x9F,
};

} // namespace

unsigned SpiEepromConfig::effectiveAddressBytes() const
{
    if (addressBytes != 0)
        return addressBytes;
    if (size <= 512)
        return 1;
    return size <= 65536 ? 2 : 3;
}

std::string SpiEepromConfig::check() const
{
    if (size == 0 || size > 16 * 1024 * 1024)
        return "the size must be 1 byte to 16 MiB";
    if (pageSize == 0 || size % pageSize != 0)
        return "the page size must divide the size";
    const unsigned a = effectiveAddressBytes();
    if (a < 1 || a > 3)
        return "1 to 3 address bytes";
    const std::uint64_t reach = std::uint64_t(1) << (8 * a + (a == 1 ? 1 : 0));
    if (size > reach)
        return "the size needs more address bytes";
    if (id.size() > 8)
        return "at most 8 ID bytes";
    return {};
}

SpiEeprom::SpiEeprom(SpiEepromConfig config, ImageFile &image, std::uint64_t base)
    : m_config(std::move(config)), m_addressBytes(m_config.effectiveAddressBytes()), m_image(image),
      m_base(base)
{
    const std::string problem = m_config.check();
    if (!problem.empty())
        throw std::invalid_argument(problem);
}

void SpiEeprom::contents(std::uint64_t offset, std::span<std::uint8_t> out) const
{
    m_image.readWindow(m_base, m_config.size, offset, out);
}

std::size_t SpiEeprom::setContents(std::uint64_t offset, std::span<const std::uint8_t> data)
{
    if (offset >= m_config.size)
        return 0;
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(data.size(), m_config.size - offset));
    m_image.write(m_base + offset, data.first(n));
    return n;
}

std::uint8_t SpiEeprom::status(Nanos now) const
{
    std::uint8_t s = m_status;
    if (now < m_busyUntil)
        s |= 0x01;
    if (m_writeEnabled)
        s |= 0x02;
    return s;
}

std::uint8_t SpiEeprom::command(std::uint8_t opcode) const
{
    if (m_addressBytes == 1 && m_config.size > 256 && (opcode & 0xF7) <= Read &&
        (opcode & 0xF7) >= Write)
        return opcode & 0xF7;
    return opcode;
}

std::uint64_t SpiEeprom::addressOf(std::span<const std::uint8_t> header) const
{
    std::uint64_t a = address(header, 1, m_addressBytes);
    if (m_addressBytes == 1 && m_config.size > 256)
        a |= std::uint64_t((header[0] >> 3) & 1) << 8;
    return a % m_config.size;
}

bool SpiEeprom::phase(std::uint8_t opcode, Phase &p) const
{
    switch (command(opcode)) {
    case Read:
    case Write:
        p = {1 + m_addressBytes, SpiLines::Single};
        return true;
    case WriteStatus:
    case WriteDisable:
    case ReadStatus:
    case WriteEnable:
        p = {1, SpiLines::Single};
        return true;
    case ReadId:
        p = {1, SpiLines::Single};
        return !m_config.id.empty();
    default:
        return false;
    }
}

bool SpiEeprom::takenWhileBusy(std::uint8_t opcode) const
{
    return opcode == ReadStatus;
}

std::unique_ptr<SpiOutput> SpiEeprom::output(std::span<const std::uint8_t> header, Nanos now)
{
    switch (command(header[0])) {
    case Read:
        return std::make_unique<ArrayOutput>(*this, addressOf(header));
    case ReadStatus:
        return std::make_unique<ConstantOutput>(status(now));
    case ReadId:
        return std::make_unique<RepeatingOutput>(m_config.id);
    default:
        return std::make_unique<ConstantOutput>();
    }
}

bool SpiEeprom::isProtected(std::uint64_t address) const
{
    const unsigned bp = (m_status >> 2) & 0x03;
    if (bp == 0)
        return false;
    const std::uint64_t part = bp == 3 ? m_config.size : m_config.size >> (3 - bp);
    return address >= m_config.size - part;
}

void SpiEeprom::input(std::span<const std::uint8_t> header, std::span<const std::uint8_t> data,
                      Nanos now)
{
    const std::uint8_t opcode = command(header[0]);
    if (opcode == WriteEnable) {
        m_writeEnabled = true;
        return;
    }
    if (opcode == WriteDisable) {
        m_writeEnabled = false;
        return;
    }
    if (opcode != Write && opcode != WriteStatus)
        return;
    const bool enabled = m_writeEnabled;
    m_writeEnabled = false;
    if (!enabled || data.empty())
        return;
    if (opcode == WriteStatus) {
        m_status = data[0] & 0x8C;
        m_busyUntil = now + m_config.writeTime;
        return;
    }
    const std::uint64_t address = addressOf(header);
    const std::uint64_t page = address - address % m_config.pageSize;
    if (isProtected(page))
        return;
    std::vector<std::uint8_t> bytes(m_config.pageSize);
    contents(page, bytes);
    std::size_t column = static_cast<std::size_t>(address - page);
    for (const std::uint8_t b : data) {
        bytes[column] = b;
        column = (column + 1) % m_config.pageSize;
    }
    m_image.write(m_base + page, bytes);
    m_busyUntil = now + m_config.writeTime;
}

} // namespace kvemu::chips
