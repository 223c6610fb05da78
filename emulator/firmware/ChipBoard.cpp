#include "ChipBoard.h"

#include "DemoContents.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <utility>

namespace kvemu {

const char *familyName(ChipFamily family)
{
    switch (family) {
    case ChipFamily::None:
        return "none";
    case ChipFamily::Nand:
        return "nand";
    case ChipFamily::SpiNor:
        return "spi";
    case ChipFamily::DataFlash:
        return "dataflash";
    case ChipFamily::Eeprom:
        return "eeprom";
    }
    return "?";
}

ChipBoard::ChipBoard(const ChipBoardLayout &layout) : m_family(layout.family)
{
    std::uint64_t bytes = 0;
    switch (layout.family) {
    case ChipFamily::None:
        break;
    case ChipFamily::Nand:
        if (layout.chipEnables.empty() ||
            layout.chipEnables.size() > ChipBoardLayout::MaxChipEnables)
            throw std::invalid_argument("a NAND board has 1 to 4 chip enables");
        for (const auto &chip : layout.chipEnables) {
            if (!chip)
                continue;
            const std::string problem = chip->check();
            if (!problem.empty())
                throw std::invalid_argument(problem);
            bytes += chip->totalBytes();
        }
        break;
    case ChipFamily::SpiNor:
        bytes = layout.nor.size;
        break;
    case ChipFamily::DataFlash:
        bytes = chips::DataFlash::imageBytes(layout.dataFlash);
        break;
    case ChipFamily::Eeprom:
        bytes = layout.eeprom.size;
        break;
    }
    const bool newImage = layout.imagePath.empty() || !std::filesystem::exists(layout.imagePath);
    m_image = std::make_unique<chips::ImageFile>(
        layout.family == ChipFamily::None ? std::string() : layout.imagePath, bytes);
    std::uint64_t base = 0;
    switch (layout.family) {
    case ChipFamily::None:
        break;
    case ChipFamily::Nand:
        for (const auto &chip : layout.chipEnables) {
            if (!chip) {
                m_nand.push_back(nullptr);
                continue;
            }
            m_nand.push_back(std::make_unique<chips::NandChip>(*chip, *m_image, base));
            base += chip->totalBytes();
        }
        break;
    case ChipFamily::SpiNor:
        m_spi = std::make_unique<chips::SpiNorFlash>(layout.nor, *m_image, 0);
        break;
    case ChipFamily::DataFlash:
        m_spi = std::make_unique<chips::DataFlash>(layout.dataFlash, *m_image, 0);
        break;
    case ChipFamily::Eeprom:
        m_spi = std::make_unique<chips::SpiEeprom>(layout.eeprom, *m_image, 0);
        break;
    }
    if (layout.demoData && newImage)
        DemoContents::fill(*this);
}

ChipBoard::~ChipBoard() = default;

chips::NandChip *ChipBoard::nand(unsigned chipEnable)
{
    return chipEnable < m_nand.size() ? m_nand[chipEnable].get() : nullptr;
}

bool ChipBoard::contents(unsigned chip, std::uint64_t offset, std::span<std::uint8_t> out) const
{
    if (m_family == ChipFamily::Nand) {
        if (chip >= m_nand.size() || !m_nand[chip])
            return false;
        m_nand[chip]->contents(offset, out);
        return true;
    }
    if (!m_spi || chip != 0)
        return false;
    m_spi->contents(offset, out);
    return true;
}

std::uint64_t ChipBoard::chipBytes(unsigned chip) const
{
    if (m_family == ChipFamily::Nand)
        return chip < m_nand.size() && m_nand[chip] ? m_nand[chip]->config().totalBytes() : 0;
    return m_spi && chip == 0 ? m_spi->size() : 0;
}

std::optional<std::uint64_t> ChipBoard::setContents(unsigned chip, std::uint64_t offset,
                                                    std::span<const std::uint8_t> data)
{
    if (m_family == ChipFamily::Nand) {
        if (chip >= m_nand.size() || !m_nand[chip])
            return std::nullopt;
        return m_nand[chip]->setContents(offset, data);
    }
    if (!m_spi || chip != 0)
        return std::nullopt;
    return m_spi->setContents(offset, data);
}

void ChipBoard::swap(ChipBoard &other) noexcept
{
    std::swap(m_family, other.m_family);
    std::swap(m_image, other.m_image);
    std::swap(m_nand, other.m_nand);
    std::swap(m_spi, other.m_spi);
}

} // namespace kvemu
