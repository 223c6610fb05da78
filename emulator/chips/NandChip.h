#pragma once

#include "BitFlipper.h"
#include "ChipTime.h"
#include "ImageFile.h"

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace kvemu::chips {

// One parallel NAND chip (one chip enable, one LUN) and what sets it apart.
struct NandChipConfig
{
    // READ ID (90h, address 00h) answers these bytes, and then again from
    // the first, as real parts repeat their ID sequence.
    std::vector<std::uint8_t> id;
    std::uint32_t dataBytes = 2048;
    std::uint32_t spareBytes = 64;
    std::uint32_t pagesPerBlock = 64;
    std::uint32_t blocks = 1024;
    // The address cycles the chip's ONFI page reports; 0: as real parts have
    // them (column: 1 up to 512 data bytes, else 2; row: as many as the
    // highest page number needs). The firmware addresses the chip as the
    // program's packets say, whatever these are.
    unsigned columnCycles = 0;
    unsigned rowCycles = 0;
    // ONFI parameter page, generated from this configuration; without it
    // READ PARAMETER PAGE reads 0xFF.
    bool onfi = false;
    // A parameter page exactly as a real chip sends it (at least
    // MinParameterPageBytes); READ PARAMETER PAGE reads these bytes, then
    // 0xFF. It takes the place of the generated page.
    std::vector<std::uint8_t> parameterPage;
    static constexpr std::size_t MinParameterPageBytes = 256;
    std::string manufacturer;
    std::string model;
    // Factory bad blocks: their first page reads 0x00 throughout (so the
    // bad-block mark, the first spare byte, is 0x00), and they neither
    // erase nor program.
    std::set<std::uint32_t> factoryBadBlocks;
    // Blocks that have gone bad in use: erase or program fails there (status
    // FAIL) and leaves the contents as they were.
    std::set<std::uint32_t> eraseFailBlocks;
    std::set<std::uint32_t> programFailBlocks;
    std::uint64_t flipSeed = 0;
    double flipRate = 0.0;                 // share of page reads with one flipped bit
    Nanos readTime = 25 * Microsecond;     // tR
    Nanos programTime = 200 * Microsecond; // tPROG
    Nanos eraseTime = 2 * Millisecond;     // tBERS

    std::uint32_t pageBytes() const { return dataBytes + spareBytes; }
    std::uint32_t pageCount() const { return pagesPerBlock * blocks; }
    std::uint64_t totalBytes() const { return std::uint64_t(pageBytes()) * pageCount(); }
    unsigned effectiveColumnCycles() const;
    unsigned effectiveRowCycles() const;
    // Empty when the configuration is usable, else the reason.
    std::string check() const;
};

// A NAND flash chip behind one chip enable, as its command set sees it:
// READ ID, READ PARAMETER PAGE, READ PAGE, PROGRAM PAGE, BLOCK ERASE and
// the status they leave. Erased bytes read 0xFF; programming only clears
// bits. Row addresses past the last page wrap, as a chip ignores the
// address bits it does not have. Contents live in an ImageFile at `base`.
class NandChip
{
public:
    static constexpr std::uint8_t StatusReady = 0xE0; // ready, not write-protected
    static constexpr std::uint8_t StatusFail = 0x01;

    // Marks the factory bad blocks in the image. Throws std::invalid_argument
    // for a configuration that check() refuses.
    NandChip(NandChipConfig config, ImageFile &image, std::uint64_t base);

    const NandChipConfig &config() const { return m_config; }
    std::uint32_t pageBytes() const { return m_config.pageBytes(); }

    void readId(std::span<std::uint8_t> out) const;
    // Bytes from `offset` of the parameter page stream: the generated page
    // copy after copy, or the configured bytes and then 0xFF.
    void readParameterPage(std::uint64_t offset, std::span<std::uint8_t> out) const;
    // READ PAGE: the page goes to the page register (with any read
    // disturbance), data out from `column`; bytes past the page read 0xFF.
    // Returns the busy time.
    Nanos readPage(std::uint32_t row, std::uint32_t column, std::span<std::uint8_t> out);
    // Whole pages from `row` on; out.size() must be a multiple of pageBytes().
    Nanos readPages(std::uint32_t row, std::span<std::uint8_t> out);

    struct Result
    {
        std::uint8_t status = StatusReady;
        Nanos busy = 0;
        bool failed() const { return (status & StatusFail) != 0; }
    };
    // PROGRAM PAGE: the register starts all 0xFF, `data` is loaded from
    // `column` on (bytes past the page are dropped), then programmed.
    Result programPage(std::uint32_t row, std::uint32_t column, std::span<const std::uint8_t> data);
    // BLOCK ERASE of the block that holds `row`.
    Result eraseBlock(std::uint32_t row);

    // The stored bytes, without read disturbance (for inspection).
    void contents(std::uint64_t offset, std::span<std::uint8_t> out) const;
    // Overwrites stored bytes as contents() addresses them (data and spare
    // page after page), whatever the chip would allow; bytes past the chip
    // are dropped. Returns the bytes written. For preparing tests.
    std::size_t setContents(std::uint64_t offset, std::span<const std::uint8_t> data);
    std::uint64_t blockOf(std::uint32_t row) const;

private:
    std::uint64_t pageOffset(std::uint32_t row) const;
    std::uint32_t wrap(std::uint64_t row) const;

    NandChipConfig m_config;
    ImageFile &m_image;
    std::uint64_t m_base;
    BitFlipper m_flips;
    std::vector<std::uint8_t> m_parameterPage; // empty without ONFI
    bool m_parameterPageRepeats = true;        // generated: copy after copy
};

} // namespace kvemu::chips
