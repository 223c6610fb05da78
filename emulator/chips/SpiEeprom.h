#pragma once

#include "ImageFile.h"
#include "SpiChip.h"

#include <string>
#include <vector>

namespace kvemu::chips {

struct SpiEepromConfig
{
    std::uint32_t size = 512;
    std::uint32_t pageSize = 16;
    // 0: as the part's size needs (1 up to 512 bytes, address bit 8 then
    // riding in bit 3 of the opcode; 2 up to 64 KiB; 3 above).
    unsigned addressBytes = 0;
    // Small EEPROMs have no RDID; given bytes make 9Fh answer them.
    std::vector<std::uint8_t> id;
    Nanos writeTime = 5 * Millisecond; // tWC

    unsigned effectiveAddressBytes() const;
    std::string check() const;
};

// A 25xx-series serial EEPROM: READ (03h) and WRITE (02h), with address bit
// 8 in opcode bit 3 on one-address-byte parts above 256 bytes (0Bh, 0Ah),
// write enable and disable, status register (bit 0 write in progress, bit 1
// write enable, BP1..BP0 protecting the upper quarter, half or all). A write
// overwrites bytes (no erase), stays within its page (bytes past the page's
// end wrap to its start) and takes the write cycle time. Reads run on over
// the whole array and wrap from its end to 0.
class SpiEeprom : public SpiChip
{
public:
    SpiEeprom(SpiEepromConfig config, ImageFile &image, std::uint64_t base);

    Nanos busyUntil() const override { return m_busyUntil; }
    std::uint64_t size() const override { return m_config.size; }
    void contents(std::uint64_t offset, std::span<std::uint8_t> out) const override;
    std::size_t setContents(std::uint64_t offset, std::span<const std::uint8_t> data) override;
    std::uint8_t status(Nanos now) const;

protected:
    bool phase(std::uint8_t opcode, Phase &phase) const override;
    bool takenWhileBusy(std::uint8_t opcode) const override;
    std::unique_ptr<SpiOutput> output(std::span<const std::uint8_t> header, Nanos now) override;
    void input(std::span<const std::uint8_t> header, std::span<const std::uint8_t> data,
               Nanos now) override;

private:
    // The opcode without address bit 8 (one-address-byte parts).
    std::uint8_t command(std::uint8_t opcode) const;
    std::uint64_t addressOf(std::span<const std::uint8_t> header) const;
    bool isProtected(std::uint64_t address) const;

    SpiEepromConfig m_config;
    unsigned m_addressBytes;
    ImageFile &m_image;
    std::uint64_t m_base;
    std::uint8_t m_status = 0; // BP bits and WPEN
    bool m_writeEnabled = false;
    Nanos m_busyUntil = 0;
};

} // namespace kvemu::chips
