#include "DemoContents.h"

#include "ChipBoard.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace kvemu::DemoContents {

namespace {

constexpr std::size_t LineBytes = 64;

// `text` padded with dots, ending in CR LF.
void layOut(const char *text, int length, std::span<std::uint8_t, LineBytes> line)
{
    std::fill(line.begin(), line.end(), std::uint8_t('.'));
    const std::size_t used = std::min<std::size_t>(std::max(length, 0), LineBytes - 2);
    std::copy_n(text, used, line.begin());
    line[LineBytes - 2] = '\r';
    line[LineBytes - 1] = '\n';
}

void fillNand(ChipBoard &board, unsigned chipEnable)
{
    const chips::NandChip *chip = board.nand(chipEnable);
    const chips::NandChipConfig &config = chip->config();
    const std::uint32_t pageBytes = config.pageBytes();
    std::vector<std::uint8_t> block(std::size_t(pageBytes) * config.pagesPerBlock, 0xFF);
    for (std::uint32_t b = 0; b < config.blocks; ++b) {
        if (config.factoryBadBlocks.count(b))
            continue;
        for (std::uint32_t page = 0; page < config.pagesPerBlock; ++page) {
            std::uint8_t *data = block.data() + std::size_t(page) * pageBytes;
            for (std::uint32_t column = 0; column + LineBytes <= config.dataBytes;
                 column += LineBytes)
                nandLine(b, page, column,
                         std::span<std::uint8_t, LineBytes>(data + column, LineBytes));
        }
        board.setContents(chipEnable, std::uint64_t(b) * block.size(), block);
    }
}

void fillSerial(ChipBoard &board)
{
    const std::uint64_t size = board.chipBytes(0);
    constexpr std::size_t Chunk = 64 * 1024;
    std::vector<std::uint8_t> chunk(Chunk, 0xFF);
    for (std::uint64_t offset = 0; offset < size; offset += Chunk) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(Chunk, size - offset));
        for (std::size_t i = 0; i + LineBytes <= n; i += LineBytes)
            serialLine(offset + i, std::span<std::uint8_t, LineBytes>(chunk.data() + i, LineBytes));
        board.setContents(0, offset, std::span<const std::uint8_t>(chunk.data(), n));
    }
}

} // namespace

void serialLine(std::uint64_t offset, std::span<std::uint8_t, 64> line)
{
    char text[LineBytes];
    const int length = std::snprintf(
        text, sizeof text, "Korvane demo  sector %05llu  address %08llX ",
        static_cast<unsigned long long>(offset / 4096), static_cast<unsigned long long>(offset));
    layOut(text, length, line);
}

void nandLine(std::uint32_t block, std::uint32_t page, std::uint32_t column,
              std::span<std::uint8_t, 64> line)
{
    char text[LineBytes];
    const int length =
        std::snprintf(text, sizeof text, "Korvane demo  block %04u  page %03u  column %04X ", block,
                      page, column);
    layOut(text, length, line);
}

void fill(ChipBoard &board)
{
    if (board.family() == ChipFamily::Nand) {
        for (unsigned ce = 0; ce < board.chipEnables(); ++ce)
            if (board.nand(ce))
                fillNand(board, ce);
    } else if (board.chipBytes(0) > 0) {
        fillSerial(board);
    }
}

} // namespace kvemu::DemoContents
