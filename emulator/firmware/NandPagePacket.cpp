#include "NandPagePacket.h"

#include "Packet.h"
#include "PageCount.h"
#include "ProtocolError.h"

#include <algorithm>

namespace kvemu {

using packet::le16;
using packet::le32;
using packet::requireLength;

namespace {

unsigned digits256(std::uint64_t value)
{
    unsigned n = 0;
    for (; value != 0; value >>= 8)
        ++n;
    return n;
}

std::uint32_t littleEndian(std::span<const std::uint8_t> bytes)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        value |= std::uint32_t(bytes[i]) << (8 * i);
    return value;
}

} // namespace

unsigned NandPagePacket::columnBytesFor(std::uint32_t pageSize)
{
    return pageSize == 528 ? 1 : digits256(pageSize);
}

unsigned NandPagePacket::rowBytesFor(std::uint64_t pages)
{
    return digits256(pages);
}

unsigned NandPagePacket::rowBytesNeeded(std::uint64_t pages)
{
    return pages <= 1 ? 1 : digits256(pages - 1);
}

NandPagePacket NandPagePacket::start(std::span<const std::uint8_t> packet, unsigned maxCycles,
                                     const char *cyclesName)
{
    requireLength(packet, Length);
    NandPagePacket p;
    p.code = packet[0];
    p.cycles = packet[1];
    if (p.cycles == 0 || p.cycles > maxCycles)
        throw ProtocolError(p.name() + " with " + std::to_string(p.cycles) + " " + cyclesName);
    return p;
}

NandPagePacket NandPagePacket::pages(std::span<const std::uint8_t> packet)
{
    NandPagePacket p = start(packet, MaxAddressCycles, "address cycles");
    p.pageSize = le16(packet, 8);
    p.pageCount = decodePageCount(packet[10], packet[11]);
    p.columnBytes = columnBytesFor(p.pageSize);
    p.readAddress(packet);
    return p;
}

NandPagePacket NandPagePacket::firstPage(std::span<const std::uint8_t> packet,
                                         const chips::NandChip *chip)
{
    NandPagePacket p = start(packet, MaxAddressCycles, "address cycles");
    p.byteCount = le32(packet, 8);
    if (chip) {
        p.pageSize = chip->pageBytes();
        p.columnBytes = columnBytesFor(p.pageSize);
        p.readAddress(packet);
    }
    return p;
}

NandPagePacket NandPagePacket::erase(std::span<const std::uint8_t> packet)
{
    NandPagePacket p = start(packet, MaxRowBytes, "row bytes");
    p.rowBytes = p.cycles;
    p.row = littleEndian(packet.subspan(2, p.rowBytes));
    return p;
}

void NandPagePacket::readAddress(std::span<const std::uint8_t> packet)
{
    rowBytes = cycles > columnBytes ? cycles - columnBytes : 0;
    column = littleEndian(packet.subspan(2, std::min(cycles, columnBytes)));
    if (rowBytes > 0 && rowBytes <= MaxRowBytes)
        row = littleEndian(packet.subspan(2 + columnBytes, rowBytes));
}

std::string NandPagePacket::name() const
{
    return packet::hexByte(code);
}

std::uint64_t NandPagePacket::bytes() const
{
    return code == 0x37 ? byteCount : std::uint64_t(pageCount) * pageSize;
}

std::string NandPagePacket::problem(const chips::NandChip *chip) const
{
    std::string reason = sizeProblem(chip);
    if (reason.empty() && (chip || code != 0x37))
        reason = rowBytesProblem(chip);
    if (reason.empty() && chip)
        reason = rangeProblem(*chip);
    return reason;
}

std::string NandPagePacket::sizeProblem(const chips::NandChip *chip) const
{
    const std::string n = name();
    if (code == 0x1B)
        return {};
    if (code == 0x37) {
        if (byteCount == 0 || (!chip && byteCount > MaxFirstPageBytes))
            return n + " for " + std::to_string(byteCount) + " bytes";
        if (chip && byteCount > chip->pageBytes())
            return n + " for " + std::to_string(byteCount) + " bytes: the chip's pages hold " +
                   std::to_string(chip->pageBytes()) + " bytes";
        return {};
    }
    if (pageSize == 0)
        return n + " with page size 0";
    if (pageCount == 0)
        return n + " for 0 pages";
    if (chip && pageSize != chip->pageBytes())
        return n + " for " + std::to_string(pageSize) + "-byte pages: the chip's pages hold " +
               std::to_string(chip->pageBytes()) + " bytes";
    return {};
}

std::string NandPagePacket::rowBytesProblem(const chips::NandChip *chip) const
{
    const std::string what = code == 0x1B
                                 ? name() + " with " + std::to_string(rowBytes) + " row bytes"
                                 : name() + " with " + std::to_string(cycles) +
                                       " address cycles (" + std::to_string(columnBytes) +
                                       " column, " + std::to_string(rowBytes) + " row bytes)";
    if (rowBytes == 0)
        return what + ": no row address";
    if (rowBytes > MaxRowBytes)
        return what + ": at most " + std::to_string(MaxRowBytes) + " row bytes";
    if (!chip)
        return {};
    const std::uint32_t chipPages = chip->config().pageCount();
    if (rowBytes < rowBytesNeeded(chipPages))
        return what + ": the chip's " + std::to_string(chipPages) + " pages need " +
               std::to_string(rowBytesNeeded(chipPages)) + " row bytes";
    return {};
}

std::string NandPagePacket::rangeProblem(const chips::NandChip &chip) const
{
    const std::uint64_t chipPages = chip.config().pageCount();
    const std::string tail = ": the chip has " + std::to_string(chipPages) + " pages";
    if (row >= chipPages)
        return name() + " for row " + std::to_string(row) + tail;
    const std::uint64_t end = std::uint64_t(row) + (code == 0x37 || code == 0x1B ? 1 : pageCount);
    if (end > chipPages)
        return name() + " for pages " + std::to_string(row) + " to " + std::to_string(end - 1) +
               tail;
    return {};
}

} // namespace kvemu
