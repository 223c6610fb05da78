#pragma once

#include "EmulatorConfig.h"

#include <string>
#include <string_view>

namespace kvemu {

// Reads an emulator profile (INI text) into an EmulatorConfig. Unknown
// sections and keys, keys that do not apply to the chip family, and values
// out of range are errors: read() throws ConfigError naming the line.
//
//   [programmer]  link = high | full;  vendor = 0x04B4 | 0x0547;
//                 firmware = none | NAND image 1 | ... | SPI image 4 (runs at start);
//                 adapter = nand | spi | none (default: the chip family's);
//                 board = 1 | 2 (the NAND image that fits the adapter board);
//                 identification = word (default: the SPI unit's 0x4B560200 with a
//                 serial chip, or an empty socket on an SPI adapter; else the NAND
//                 unit's 0x4B560100);  timing = instant | realistic;
//                 high_speed_rate, full_speed_rate (bytes/s);  reenumeration_ms
//   [faults]      unplug_after_bytes;  replug_ms;  fail_download (N-th RAM write);
//                 fail_read (N-th bulk read)
//   [chip]        family = nand | spi | dataflash | eeprom | none;
//                 image = file (relative to the profile's folder; none: temporary);
//                 demo_data = yes | no (a new image starts with readable text);
//                 id = hex bytes;
//     nand:       data_bytes, spare_bytes, pages_per_block, blocks, chip_enables,
//                 column_cycles, row_cycles (what the ONFI page reports), onfi,
//                 onfi_file (a parameter page as the chip sends it, relative to the
//                 profile's folder: at least 256 bytes, of which READ PARAMETER PAGE
//                 answers the first 512; it takes the place of the generated page,
//                 onfi = no drops it), manufacturer, model, bad_blocks,
//                 erase_fail_blocks, program_fail_blocks, flip_seed, flip_rate,
//                 read_us, program_us, erase_us
//     spi:        size, page_size, sfdp, sfdp_file (a real chip's SFDP area, relative
//                 to the profile's folder, 1 to 65536 bytes; 0xFF past its end),
//                 dual, quad, status1, status2, program_us,
//                 erase_4k_ms, erase_32k_ms, erase_64k_ms, chip_erase_ms, status_write_ms
//     dataflash:  pages, page_size (264/528/1056, or 256/512/1024 for power-of-two
//                 mode), pages_per_block, pages_per_sector, program_ms,
//                 erase_program_ms, page_erase_ms, block_erase_ms, sector_erase_ms,
//                 chip_erase_ms
//     eeprom:     size, page_size, address_bytes, write_ms
//   [ce0] .. [ce3] (nand): present = yes | no, and any nand key above for that
//                 chip enable alone
//   [second_chip] a second chip that swaps places with the first: the keys of
//                 [chip] (family, when given, must be [chip]'s; nothing is taken
//                 over from [chip], [ceN] do not apply; its own image file)
class ConfigReader
{
public:
    // `folder`: where relative image and parameter page paths start (empty:
    // the current folder).
    static EmulatorConfig read(std::string_view text, const std::string &folder = {});
    // Reads the file; throws ConfigError when it cannot be read.
    static EmulatorConfig readFile(const std::string &path);
};

} // namespace kvemu
