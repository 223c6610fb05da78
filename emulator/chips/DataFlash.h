#pragma once

#include "ImageFile.h"
#include "SpiChip.h"

#include <array>
#include <string>
#include <vector>

namespace kvemu::chips {

struct DataFlashConfig
{
    std::vector<std::uint8_t> id = {0x1F, 0x26, 0x00, 0x01, 0x00}; // RDID (9Fh)
    std::uint32_t pages = 4096;
    // 264, 528 or 1056 bytes per page (standard), or with binaryPages the
    // power-of-two size of the same part: 256, 512 or 1024.
    std::uint32_t standardPageSize = 528;
    bool binaryPages = false;
    std::uint32_t pagesPerBlock = 8;
    // Sector 0 is split in 0a (the first block) and 0b (the rest).
    std::uint32_t pagesPerSector = 256;
    Nanos pageEraseProgramTime = 17 * Millisecond; // tEP
    Nanos pageProgramTime = 3 * Millisecond;       // tP
    Nanos pageEraseTime = 15 * Millisecond;        // tPE
    Nanos blockEraseTime = 45 * Millisecond;       // tBE
    Nanos sectorEraseTime = 1600 * Millisecond;    // tSE
    Nanos chipEraseTime = 20000 * Millisecond;
    Nanos bufferTransferTime = 200 * Microsecond; // tXFR

    std::uint32_t binaryPageSize() const { return standardPageSize / 33 * 32; }
    std::string check() const;
};

// An AT45-style DataFlash: main memory pages of 528 (264, 1056) bytes, or of
// 512 (256, 1024) in power-of-two mode (bit 0 of the status register), two
// SRAM buffers, and its own opcodes: continuous array read (03h, 0Bh, E8h),
// page read (D2h), buffer read and write, buffer to page with and without
// built-in erase (83h/86h, 88h/89h), page program through a buffer (82h/85h),
// page, block, sector and chip erase, status (D7h: bit 7 ready), RDID, and
// the power-of-two page size switch (3Dh 2Ah 80h A6h, and A7h back).
// Addresses are three bytes: in standard mode the page number sits above
// as many byte-address bits as the page needs (10 for 528: page x 1024), in
// power-of-two mode the address is the byte address. The sector erase
// address names sector 0a (pages 0..7), 0b (8..pagesPerSector-1) or sector
// n. No write enable is needed; unknown opcodes (06h among them) are ignored.
class DataFlash : public SpiChip
{
public:
    DataFlash(DataFlashConfig config, ImageFile &image, std::uint64_t base);

    // Physical bytes the image holds: pages x standard page size.
    static std::uint64_t imageBytes(const DataFlashConfig &config)
    {
        return std::uint64_t(config.pages) * config.standardPageSize;
    }

    Nanos busyUntil() const override { return m_busyUntil; }
    // The array as the current mode addresses it, page after page.
    std::uint64_t size() const override { return std::uint64_t(m_config.pages) * pageSize(); }
    void contents(std::uint64_t offset, std::span<std::uint8_t> out) const override;
    std::size_t setContents(std::uint64_t offset, std::span<const std::uint8_t> data) override;
    std::uint32_t pageSize() const;
    bool binaryPages() const { return m_binary; }
    std::uint8_t status(Nanos now) const;

protected:
    bool phase(std::uint8_t opcode, Phase &phase) const override;
    bool takenWhileBusy(std::uint8_t opcode) const override;
    std::unique_ptr<SpiOutput> output(std::span<const std::uint8_t> header, Nanos now) override;
    void input(std::span<const std::uint8_t> header, std::span<const std::uint8_t> data,
               Nanos now) override;

private:
    struct Location
    {
        std::uint32_t page = 0;
        std::uint32_t byte = 0;
    };
    Location locate(std::uint64_t address) const;
    unsigned byteBits() const;
    void writeBuffer(unsigned buffer, std::uint32_t byte, std::span<const std::uint8_t> data);
    void bufferToPage(unsigned buffer, std::uint32_t page, bool erase);
    void erasePages(std::uint32_t first, std::uint32_t count);
    std::uint64_t pageOffset(std::uint32_t page) const;

    DataFlashConfig m_config;
    ImageFile &m_image;
    std::uint64_t m_base;
    bool m_binary;
    std::array<std::vector<std::uint8_t>, 2> m_buffers;
    Nanos m_busyUntil = 0;
};

} // namespace kvemu::chips
