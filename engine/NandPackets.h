#pragma once

#include "NandGeometry.h"

#include <QtGlobal>

#include <array>

class CDeviceItemNand;

// One command packet for the NAND programmer.
struct NandPacket
{
    std::array<quint8, 20> bytes{};
    int length = 0;
};

// The packets of the NAND programmer, byte for byte. Multi-byte fields are
// little-endian. In the page commands the column address (always 0) takes
// the geometry's column bytes from byte 2 and the row address (a page number
// within its chip enable) follows as 4 bytes, of which the programmer uses
// the row bytes.
namespace NandPackets {

enum Code : quint8 {
    AdapterCheck = 0x10,
    EraseBlock = 0x1B,
    ProgramPages = 0x1C,
    ReadPages = 0x27,
    ReadId = 0x29,
    ReadParameterPage = 0x2A,
    Timing = 0x30,
    EndOfProgram = 0x32,
    Pins = 0x35,
    SelectChip = 0x36,
    ScanBlock = 0x37,
};

NandPacket adapterCheck(int programmerKind, bool highSpeed, const NandGeometry &geometry);
NandPacket eraseBlock(const NandGeometry &geometry, quint32 row);
// 0x27 (read) or 0x1C (program) of `pages` pages of `pageSize` bytes.
NandPacket pages(quint8 code, const NandGeometry &geometry, quint32 row, quint32 pageSize,
                 quint32 pages);
NandPacket readId();
NandPacket readParameterPage();
// t = 11 − speed in bytes 2, 4, 6 and 8.
NandPacket timing(int speed);
NandPacket endOfProgram();
NandPacket pins(const CDeviceItemNand &device);
NandPacket selectChip(quint8 chip);
NandPacket scanBlock(const NandGeometry &geometry, quint32 row, quint32 packetSize);

} // namespace NandPackets
