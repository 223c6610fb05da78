#pragma once

#include "ChipTime.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kvemu::chips {

// Data lines of a transaction's data phase (the command and address phase
// always runs on one line here).
enum class SpiLines : std::uint8_t { Single = 1, Dual = 2, Quad = 4 };

// What a chip drives on its output while the master samples, produced as the
// master clocks, so that a long read costs no memory.
class SpiOutput
{
public:
    virtual ~SpiOutput() = default;
    // The next out.size() bytes.
    virtual void read(std::span<std::uint8_t> out) = 0;
};

// The same byte again and again (a line nobody drives reads 0xFF).
class ConstantOutput : public SpiOutput
{
public:
    explicit ConstantOutput(std::uint8_t value = 0xFF) : m_value(value) {}
    void read(std::span<std::uint8_t> out) override;

private:
    std::uint8_t m_value;
};

// A byte sequence, then again from its start (ID and status registers).
class RepeatingOutput : public SpiOutput
{
public:
    explicit RepeatingOutput(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    void read(std::span<std::uint8_t> out) override;

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_next = 0;
};

class SpiChip;

// A chip's array from an address on, past its end from 0 again (how reads
// of serial flash, EEPROM and DataFlash main memory run).
class ArrayOutput : public SpiOutput
{
public:
    ArrayOutput(const SpiChip &chip, std::uint64_t address);
    void read(std::span<std::uint8_t> out) override;

private:
    const SpiChip &m_chip;
    std::uint64_t m_address;
};

// A serial flash or EEPROM chip as its pins see it. A transaction (chip
// select low .. high) is the command phase the master clocks out on one
// line, followed by a data phase on `lines`.
//
// The chip decides how many bytes its command phase takes for a given
// opcode (opcode, address, dummy bytes). On one line the master and the chip
// see the same byte stream, so a master that sends more or fewer address or
// dummy bytes than the chip takes gets the chip's data shifted, as on real
// hardware (bytes sampled before the chip drives read 0xFF; while sampling,
// the master clocks 0x00 out). A data phase on a different number of lines
// than the chip uses for that opcode carries nothing usable: reads give
// 0xFF, writes deliver 0xFF. Unknown opcodes, and everything but a status
// read while the chip is busy, are ignored.
class SpiChip
{
public:
    virtual ~SpiChip();

    // Clocks out `header`, then samples on `lines`: what the master reads.
    std::unique_ptr<SpiOutput> read(std::span<const std::uint8_t> header, SpiLines lines,
                                    Nanos now);
    // Clocks out `header`, then `data` on `lines`.
    void write(std::span<const std::uint8_t> header, std::span<const std::uint8_t> data,
               SpiLines lines, Nanos now);

    // End of the internal operation in progress (program, erase, register
    // write); the chip is busy while now < busyUntil().
    virtual Nanos busyUntil() const = 0;
    // Bytes of the memory array as the chip addresses them.
    virtual std::uint64_t size() const = 0;
    // The array's bytes (for inspection).
    virtual void contents(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
    // Overwrites the array's bytes as contents() addresses them, whatever
    // the chip would allow; bytes past the array are dropped. Returns the
    // bytes written. For preparing tests.
    virtual std::size_t setContents(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;

protected:
    struct Phase
    {
        std::size_t headerBytes = 1; // opcode included
        SpiLines lines = SpiLines::Single;
    };
    // The chip's command phase for `opcode`; false when it does not know it.
    virtual bool phase(std::uint8_t opcode, Phase &phase) const = 0;
    // Opcodes the chip still takes while busy (status reads).
    virtual bool takenWhileBusy(std::uint8_t opcode) const = 0;
    // A read: `header` holds exactly the chip's command phase.
    virtual std::unique_ptr<SpiOutput> output(std::span<const std::uint8_t> header, Nanos now) = 0;
    // A write (or a command without data): `header` exactly the command phase.
    virtual void input(std::span<const std::uint8_t> header, std::span<const std::uint8_t> data,
                       Nanos now) = 0;

    // Helpers for the chips: a big-endian address of `bytes` bytes at `at`.
    static std::uint64_t address(std::span<const std::uint8_t> header, std::size_t at,
                                 std::size_t bytes);
};

} // namespace kvemu::chips
