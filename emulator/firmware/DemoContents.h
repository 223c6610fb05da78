#pragma once

#include <cstdint>
#include <span>

namespace kvemu {

class ChipBoard;

// Readable contents for a chip that starts a demonstration: 64-byte lines of
// text that name where they sit, so a hex view's character column shows
// them. NAND pages get the text in their data bytes and erased (0xFF) spare
// bytes; factory bad blocks keep their marks.
namespace DemoContents {

// One 64-byte line for the data byte at `offset` (a multiple of 64) of a
// serial chip, or of NAND block `block`, page `page`.
void serialLine(std::uint64_t offset, std::span<std::uint8_t, 64> line);
void nandLine(std::uint32_t block, std::uint32_t page, std::uint32_t column,
              std::span<std::uint8_t, 64> line);

// Fills every chip on `board`.
void fill(ChipBoard &board);

} // namespace DemoContents

} // namespace kvemu
