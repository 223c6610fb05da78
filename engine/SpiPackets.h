#pragma once

#include <QtGlobal>

#include <array>

class CDeviceItemSPIFlash;
struct SpiGeometry;

// One command packet for the SPI programmer.
struct SpiPacket
{
    std::array<quint8, 64> bytes{};
    int length = 0;
};

// The packets of the SPI programmer, byte for byte. Addresses are written
// most significant byte first in the geometry's address bytes; counts are
// little-endian.
namespace SpiPackets {

enum Code : quint8 {
    AdapterCheck = 0x10,
    EraseSector = 0x1B,
    ProgramPages = 0x1C,
    Read = 0x27,
    ReadId = 0x29,
    ReadSfdp = 0x2A,
    Timing = 0x30,
    DataFlashStatus = 0x31,
    EndOfProgram = 0x32,
    StartUp = 0x34,
};
constexpr quint8 JedecId = 0x9F;
constexpr quint8 WriteEnable = 0x06;
constexpr int CheckLength = 10;  // the identification check before an operation
constexpr int DetectLength = 64; // the identification query of detection

SpiPacket adapterCheck(int programmerKind, bool highSpeed, int algo);
// `address` as the chip takes it (DataFlash pages already shifted).
SpiPacket eraseSector(const CDeviceItemSPIFlash &record, const SpiGeometry &geometry,
                      quint32 address);
// `pages` in the programmer's count (256-byte pages, DataFlash pages or
// record pages); byte 15 is the line mode, or the record's page size for
// EEPROMs.
SpiPacket program(const CDeviceItemSPIFlash &record, const SpiGeometry &geometry, quint32 address,
                  quint32 pages);
SpiPacket read(const CDeviceItemSPIFlash &record, const SpiGeometry &geometry, quint32 address,
               quint32 count);
SpiPacket readId(int length);
SpiPacket readSfdp();
// `speed` 1..10 on the geometry's line mode.
SpiPacket timing(int speed, const SpiGeometry &geometry);
SpiPacket dataFlashStatus();
SpiPacket endOfProgram();
SpiPacket startUp(const CDeviceItemSPIFlash &record);

// The opcodes of the line mode.
quint8 readOpcode(const CDeviceItemSPIFlash &record, const SpiGeometry &geometry);
quint8 programOpcode(const CDeviceItemSPIFlash &record, const SpiGeometry &geometry);

} // namespace SpiPackets
