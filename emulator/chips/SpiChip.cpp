#include "SpiChip.h"

#include <algorithm>

namespace kvemu::chips {

namespace {

// The chip's output as the master samples it when the two disagree on the
// length of the command phase: `lead` bytes of 0xFF before the chip drives,
// or `skip` bytes of its data gone by while the master was still sending.
class ShiftedOutput : public SpiOutput
{
public:
    ShiftedOutput(std::unique_ptr<SpiOutput> inner, std::size_t lead, std::size_t skip)
        : m_inner(std::move(inner)), m_lead(lead), m_skip(skip)
    {}

    void read(std::span<std::uint8_t> out) override
    {
        while (m_skip > 0) {
            std::uint8_t scratch[64];
            const std::size_t n = std::min(m_skip, sizeof scratch);
            m_inner->read(std::span<std::uint8_t>(scratch, n));
            m_skip -= n;
        }
        const std::size_t lead = std::min(m_lead, out.size());
        std::fill_n(out.begin(), lead, std::uint8_t{0xFF});
        m_lead -= lead;
        if (lead < out.size())
            m_inner->read(out.subspan(lead));
    }

private:
    std::unique_ptr<SpiOutput> m_inner;
    std::size_t m_lead;
    std::size_t m_skip;
};

} // namespace

void ConstantOutput::read(std::span<std::uint8_t> out)
{
    std::fill(out.begin(), out.end(), m_value);
}

void RepeatingOutput::read(std::span<std::uint8_t> out)
{
    if (m_bytes.empty()) {
        std::fill(out.begin(), out.end(), std::uint8_t{0xFF});
        return;
    }
    for (std::uint8_t &b : out) {
        b = m_bytes[m_next];
        m_next = (m_next + 1) % m_bytes.size();
    }
}

SpiChip::~SpiChip() = default;

std::uint64_t SpiChip::address(std::span<const std::uint8_t> header, std::size_t at,
                               std::size_t bytes)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        value = (value << 8) | (at + i < header.size() ? header[at + i] : 0);
    return value;
}

std::unique_ptr<SpiOutput> SpiChip::read(std::span<const std::uint8_t> header, SpiLines lines,
                                         Nanos now)
{
    Phase p;
    if (header.empty() || !phase(header[0], p) || (now < busyUntil() && !takenWhileBusy(header[0])))
        return std::make_unique<ConstantOutput>();
    if (p.lines != lines)
        return std::make_unique<ConstantOutput>();
    if (lines != SpiLines::Single && header.size() != p.headerBytes)
        return std::make_unique<ConstantOutput>();
    // The chip takes its command phase from the byte stream: the master's
    // header, then the 0x00 it clocks out while sampling.
    std::vector<std::uint8_t> taken(p.headerBytes, 0x00);
    std::copy_n(header.begin(), std::min(header.size(), p.headerBytes), taken.begin());
    auto data = output(taken, now);
    if (header.size() == p.headerBytes)
        return data;
    if (header.size() > p.headerBytes)
        return std::make_unique<ShiftedOutput>(std::move(data), 0, header.size() - p.headerBytes);
    return std::make_unique<ShiftedOutput>(std::move(data), p.headerBytes - header.size(), 0);
}

void SpiChip::write(std::span<const std::uint8_t> header, std::span<const std::uint8_t> data,
                    SpiLines lines, Nanos now)
{
    Phase p;
    if (header.empty() || !phase(header[0], p) || (now < busyUntil() && !takenWhileBusy(header[0])))
        return;
    if (lines == SpiLines::Single && p.lines == SpiLines::Single) {
        // One byte stream: the chip splits it where its own command phase ends.
        std::vector<std::uint8_t> stream(header.begin(), header.end());
        stream.insert(stream.end(), data.begin(), data.end());
        if (stream.size() < p.headerBytes)
            return; // chip select rose inside the command: the chip does nothing
        const std::span<const std::uint8_t> all(stream);
        input(all.first(p.headerBytes), all.subspan(p.headerBytes), now);
        return;
    }
    std::vector<std::uint8_t> taken(p.headerBytes, 0x00);
    std::copy_n(header.begin(), std::min(header.size(), p.headerBytes), taken.begin());
    if (p.lines == lines && header.size() == p.headerBytes) {
        input(taken, data, now);
        return;
    }
    const std::vector<std::uint8_t> garbled(data.size(), 0xFF);
    input(taken, garbled, now);
}

ArrayOutput::ArrayOutput(const SpiChip &chip, std::uint64_t address)
    : m_chip(chip), m_address(address % chip.size())
{}

void ArrayOutput::read(std::span<std::uint8_t> out)
{
    while (!out.empty()) {
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(out.size(), m_chip.size() - m_address));
        m_chip.contents(m_address, out.first(n));
        m_address = (m_address + n) % m_chip.size();
        out = out.subspan(n);
    }
}

} // namespace kvemu::chips
