#pragma once

#include "ImageFile.h"
#include "SpiChip.h"

#include <string>
#include <vector>

namespace kvemu::chips {

struct SpiNorConfig
{
    std::vector<std::uint8_t> id = {0xEF, 0x40, 0x17}; // RDID (9Fh), repeated
    std::uint64_t size = 8 * 1024 * 1024;
    std::uint32_t pageSize = 256;
    bool sfdp = true;
    // A real chip's SFDP area, read from a file (`sfdp_file`): Read SFDP
    // answers it in place of the generated table, 0xFF past its end.
    std::vector<std::uint8_t> sfdpArea;
    bool dual = true; // 1-1-2 read (3Bh) and program (A2h)
    bool quad = true; // 1-1-4 read (6Bh) and program (32h)
    // Power-up value of status register 1 (its block-protect bits).
    std::uint8_t status1 = 0x00;
    std::uint8_t status2 = 0x02; // quad enable set
    Nanos pageProgramTime = 700 * Microsecond;
    Nanos erase4kTime = 45 * Millisecond;
    Nanos erase32kTime = 120 * Millisecond;
    Nanos erase64kTime = 150 * Millisecond;
    Nanos chipEraseTime = 20000 * Millisecond;
    Nanos statusWriteTime = 10 * Millisecond;

    // Parts above 16 MiB start in three-byte mode and take B7h/E9h, the bank
    // register (16h read, 17h write: bit 7 four-byte mode, bit 0 address bit
    // 24 of three-byte commands) and the four-byte opcodes (13h, 0Ch, 3Ch,
    // 6Ch, 12h, 34h, 21h, 5Ch, DCh).
    bool fourByteCapable() const { return size > 16 * 1024 * 1024; }
    std::string check() const;
};

// A serial NOR flash with the JEDEC command set: read (03h, 0Bh, 3Bh, 6Bh),
// page program (02h, A2h, 32h) with its 256-byte page buffer that wraps
// within the page, 4K/32K/64K and chip erase, write enable, status
// registers 1 and 2, RDID and SFDP, four-byte addressing and soft reset.
// Program and erase need write enable, take time (status bit 0 busy) and
// leave write enable cleared; programming only clears bits. The block
// protect bits of status register 1 (BP2..BP0 and TB) protect the top (or
// bottom) 1/64 .. all of the array. Reads run on past the end of the array
// from address 0.
class SpiNorFlash : public SpiChip
{
public:
    SpiNorFlash(SpiNorConfig config, ImageFile &image, std::uint64_t base);

    Nanos busyUntil() const override { return m_busyUntil; }
    std::uint64_t size() const override { return m_config.size; }
    void contents(std::uint64_t offset, std::span<std::uint8_t> out) const override;
    std::size_t setContents(std::uint64_t offset, std::span<const std::uint8_t> data) override;
    const std::vector<std::uint8_t> &sfdpArea() const { return m_sfdp; }
    unsigned addressBytes() const { return m_addressBytes; }
    std::uint8_t status1(Nanos now) const;

protected:
    bool phase(std::uint8_t opcode, Phase &phase) const override;
    bool takenWhileBusy(std::uint8_t opcode) const override;
    std::unique_ptr<SpiOutput> output(std::span<const std::uint8_t> header, Nanos now) override;
    void input(std::span<const std::uint8_t> header, std::span<const std::uint8_t> data,
               Nanos now) override;

private:
    // A three- or four-byte address as the current mode takes it.
    std::uint64_t modeAddress(std::span<const std::uint8_t> header) const;
    bool isProtected(std::uint64_t address, std::uint64_t length) const;
    void program(std::uint64_t address, std::span<const std::uint8_t> data, Nanos now);
    void erase(std::uint64_t address, std::uint64_t length, Nanos time, Nanos now);

    SpiNorConfig m_config;
    ImageFile &m_image;
    std::uint64_t m_base;
    std::vector<std::uint8_t> m_sfdp; // empty without SFDP
    unsigned m_addressBytes = 3;
    std::uint8_t m_bankRegister = 0;
    std::uint8_t m_status1 = 0; // without the busy and write-enable bits
    std::uint8_t m_status2 = 0;
    bool m_writeEnabled = false;
    bool m_resetEnabled = false;
    Nanos m_busyUntil = 0;
};

} // namespace kvemu::chips
