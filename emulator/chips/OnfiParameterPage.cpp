#include "OnfiParameterPage.h"

#include <algorithm>

namespace kvemu::chips {

namespace {

using Page = std::array<std::uint8_t, OnfiParameterPage::Size>;

void put16(Page &page, std::size_t at, std::uint32_t value)
{
    page[at] = static_cast<std::uint8_t>(value & 0xFF);
    page[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

void put32(Page &page, std::size_t at, std::uint32_t value)
{
    put16(page, at, value & 0xFFFF);
    put16(page, at + 2, value >> 16);
}

void putText(Page &page, std::size_t at, std::size_t width, const std::string &text)
{
    for (std::size_t i = 0; i < width; ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        page[at + i] = static_cast<std::uint8_t>(c >= 0x20 && c < 0x7F ? c : ' ');
    }
}

} // namespace

std::array<std::uint8_t, OnfiParameterPage::Size> OnfiParameterPage::build(const OnfiDescription &d)
{
    Page page{};
    // Revision information and features block.
    page[0] = 'O';
    page[1] = 'N';
    page[2] = 'F';
    page[3] = 'I';
    put16(page, 4, 0x0002); // ONFI 1.0
    put16(page, 6, 0x0000); // 8-bit data bus, no multi-LUN or interleaved operations
    put16(page, 8, 0x0000); // no optional commands
    // Manufacturer information block.
    putText(page, 32, 12, d.manufacturer);
    putText(page, 44, 20, d.model);
    page[64] = d.jedecManufacturer;
    put16(page, 65, 0); // no date code
    // Memory organisation block.
    put32(page, 80, d.dataBytesPerPage);
    put16(page, 84, d.spareBytesPerPage);
    put32(page, 86, d.dataBytesPerPage / 4); // partial page: a quarter
    put16(page, 90, static_cast<std::uint16_t>(d.spareBytesPerPage / 4));
    put32(page, 92, d.pagesPerBlock);
    put32(page, 96, d.blocksPerLun);
    page[100] = d.lunCount;
    page[101] = static_cast<std::uint8_t>(((d.columnCycles & 0x0F) << 4) | (d.rowCycles & 0x0F));
    page[102] = 1; // one bit per cell
    put16(page, 103, d.maxBadBlocksPerLun);
    put16(page, 105, 1); // block endurance 1 x 10^5
    page[106] = 5;
    page[107] = 1; // block 0 is guaranteed valid
    put16(page, 108, 0);
    page[110] = 4; // partial programs per page
    page[111] = 0;
    page[112] = 1; // bits of ECC correctability
    page[113] = 0;
    page[114] = 0;
    // Electrical parameters block.
    page[128] = 10;           // I/O pin capacitance, pF
    put16(page, 129, 0x0001); // timing mode 0
    put16(page, 131, 0x0000); // no program cache timing modes
    put16(page, 133, d.programTimeUs);
    put16(page, 135, d.eraseTimeUs);
    put16(page, 137, d.readTimeUs);
    put16(page, 139, 100); // tCCS, ns
    // Vendor block: no vendor-specific revision.
    put16(page, 164, 0);
    put16(page, CrcOffset, crc16(std::span<const std::uint8_t>(page.data(), CrcOffset)));
    return page;
}

std::uint16_t OnfiParameterPage::crc16(std::span<const std::uint8_t> bytes)
{
    std::uint16_t crc = 0x4F4E;
    for (const std::uint8_t byte : bytes) {
        crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    return crc;
}

} // namespace kvemu::chips
