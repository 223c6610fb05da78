#pragma once

#include "DataFlash.h"
#include "ImageFile.h"
#include "NandChip.h"
#include "SpiChip.h"
#include "SpiEeprom.h"
#include "SpiNorFlash.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kvemu {

enum class ChipFamily { None, Nand, SpiNor, DataFlash, Eeprom };

const char *familyName(ChipFamily family);

// What sits in the programmer's socket.
struct ChipBoardLayout
{
    static constexpr unsigned MaxChipEnables = 4;

    ChipFamily family = ChipFamily::None;
    // The file that keeps the chip contents; empty: a temporary file.
    std::string imagePath;
    // A new image starts with readable text instead of erased bytes (see
    // DemoContents); an image file that exists keeps its contents.
    bool demoData = false;
    // NAND: one entry per chip enable; an empty entry has no chip (its
    // chip enable reads 0xFF).
    std::vector<std::optional<chips::NandChipConfig>> chipEnables;
    chips::SpiNorConfig nor;
    chips::DataFlashConfig dataFlash;
    chips::SpiEepromConfig eeprom;
};

// The chips in the socket and the image file that holds their contents:
// the NAND chip enables one after another, or the one serial chip.
class ChipBoard
{
public:
    // Throws std::invalid_argument (a chip configuration it cannot build) or
    // std::runtime_error (the image file).
    explicit ChipBoard(const ChipBoardLayout &layout);
    ~ChipBoard();

    ChipFamily family() const { return m_family; }
    unsigned chipEnables() const { return static_cast<unsigned>(m_nand.size()); }
    // Null when no chip answers on that chip enable.
    chips::NandChip *nand(unsigned chipEnable);
    // Null unless a serial chip is fitted.
    chips::SpiChip *spi() { return m_spi.get(); }
    chips::ImageFile &image() { return *m_image; }

    // Bytes of one chip's array as the chip addresses them (chip enable
    // `chip` for NAND, 0 for the serial chip); false when there is no such
    // chip.
    bool contents(unsigned chip, std::uint64_t offset, std::span<std::uint8_t> out) const;
    // Size of that array; 0 when there is no such chip.
    std::uint64_t chipBytes(unsigned chip) const;
    // Overwrites bytes of that array as contents() addresses them; the
    // bytes written (those past the array are dropped), or nothing when
    // there is no such chip.
    std::optional<std::uint64_t> setContents(unsigned chip, std::uint64_t offset,
                                             std::span<const std::uint8_t> data);
    // Exchanges everything in the socket with `other`'s (chips and image
    // files): a reference to this board then reaches the other chips.
    void swap(ChipBoard &other) noexcept;

private:
    ChipFamily m_family;
    std::unique_ptr<chips::ImageFile> m_image;
    std::vector<std::unique_ptr<chips::NandChip>> m_nand;
    std::unique_ptr<chips::SpiChip> m_spi;
};

} // namespace kvemu
