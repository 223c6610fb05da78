#include "SpiPackets.h"

#include "CDeviceItemSPIFlash.h"
#include "PageCount.h"
#include "SpiGeometry.h"

namespace SpiPackets {

namespace {

constexpr int CommandLength = 20;
constexpr int TenBytes = 10;
constexpr int LongLength = 64;
constexpr int SfdpLength = 6;
constexpr int MaxAlgo = 4;

SpiPacket packetOf(quint8 code, int length)
{
    SpiPacket packet;
    packet.bytes[0] = code;
    packet.length = length;
    return packet;
}

// Most significant byte first in `bytes` bytes.
void writeBE(quint8 *destination, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        destination[i] = quint8(value >> (8 * (bytes - 1 - i)));
}

void writeLE32(quint8 *destination, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        destination[i] = quint8(value >> (8 * i));
}

void writeStatusPolling(quint8 *destination, const CDeviceItemSPIFlash &record)
{
    destination[0] = record.statusOpcode;
    destination[1] = record.busyMask;
    destination[2] = record.readyValue;
}

} // namespace

SpiPacket adapterCheck(int programmerKind, bool highSpeed, int algo)
{
    SpiPacket packet = packetOf(AdapterCheck, TenBytes);
    packet.bytes[1] = quint8(programmerKind);
    packet.bytes[2] = 0x01;
    packet.bytes[3] = highSpeed ? 1 : 0;
    packet.bytes[4] = quint8(algo > MaxAlgo || algo < 0 ? 0 : algo);
    return packet;
}

SpiPacket eraseSector(const CDeviceItemSPIFlash &record, const SpiGeometry &geometry,
                      quint32 address)
{
    SpiPacket packet = packetOf(EraseSector, CommandLength);
    packet.bytes[1] = WriteEnable;
    packet.bytes[2] = record.eraseOpcode;
    packet.bytes[3] = quint8(geometry.addressBytes);
    writeBE(&packet.bytes[4], address, geometry.addressBytes);
    writeStatusPolling(&packet.bytes[8], record);
    return packet;
}

SpiPacket program(const CDeviceItemSPIFlash &record, const SpiGeometry &geometry, quint32 address,
                  quint32 pages)
{
    SpiPacket packet = packetOf(ProgramPages, CommandLength);
    packet.bytes[1] = programOpcode(record, geometry);
    packet.bytes[2] = quint8(geometry.addressBytes);
    writeBE(&packet.bytes[3], address, geometry.addressBytes);
    writePageCount(packet.bytes.data(), pages);
    packet.bytes[15] =
        geometry.algo == SpiGeometry::Eeprom ? quint8(record.pageSize) : quint8(geometry.lineMode);
    writeStatusPolling(&packet.bytes[16], record);
    return packet;
}

SpiPacket read(const CDeviceItemSPIFlash &record, const SpiGeometry &geometry, quint32 address,
               quint32 count)
{
    SpiPacket packet = packetOf(Read, CommandLength);
    packet.bytes[1] = readOpcode(record, geometry);
    packet.bytes[2] = quint8(geometry.addressBytes);
    writeBE(&packet.bytes[3], address, geometry.addressBytes);
    writeLE32(&packet.bytes[7], count);
    packet.bytes[15] = quint8(geometry.lineMode);
    return packet;
}

SpiPacket readId(int length)
{
    SpiPacket packet = packetOf(ReadId, length);
    packet.bytes[1] = JedecId;
    return packet;
}

SpiPacket readSfdp()
{
    return packetOf(ReadSfdp, SfdpLength);
}

SpiPacket timing(int speed, const SpiGeometry &geometry)
{
    const int base = geometry.lineMode == SpiGeometry::FourLines  ? 2
                     : geometry.lineMode == SpiGeometry::TwoLines ? 6
                                                                  : 14;
    int d = 0;
    int t = 0;
    int mode = 0;
    if (speed > 5) {
        d = 10 - speed;
        t = base + d;
    } else if (speed >= 3 || geometry.lineMode == SpiGeometry::FourLines) {
        d = 5 - speed / 2;
        t = 2 * base + 2 + d;
        mode = 1;
    } else {
        d = 2 - speed / 4;
        t = 4 * base + 2 + d;
        mode = 2;
    }
    SpiPacket packet = packetOf(Timing, TenBytes);
    packet.bytes[2] = quint8(d + 1);
    packet.bytes[3] = 0x20;
    packet.bytes[4] = quint8(d + 1);
    packet.bytes[5] = 0x01;
    packet.bytes[6] = quint8(t);
    packet.bytes[7] = 0x21;
    packet.bytes[8] = quint8(t);
    packet.bytes[9] = quint8(mode);
    return packet;
}

SpiPacket dataFlashStatus()
{
    SpiPacket packet = packetOf(DataFlashStatus, LongLength);
    packet.bytes[1] = 0x01;
    packet.bytes[2] = 0xD7;
    packet.bytes[3] = 0x01;
    return packet;
}

SpiPacket endOfProgram()
{
    return packetOf(EndOfProgram, 1);
}

SpiPacket startUp(const CDeviceItemSPIFlash &record)
{
    SpiPacket packet = packetOf(StartUp, LongLength);
    packet.bytes[1] = JedecId;
    const int count = qBound(0, record.initCount, CDeviceItemSPIFlash::MaxInitCommands);
    packet.bytes[2] = quint8(count);
    std::size_t at = 3;
    for (int i = 0; i < count; ++i) {
        const CDeviceItemSPIFlash::InitCommand &entry = record.initCommands[std::size_t(i)];
        const int data = qMin(int(entry.count), CDeviceItemSPIFlash::MaxInitData);
        packet.bytes[at++] = WriteEnable;
        packet.bytes[at++] = entry.opcode;
        packet.bytes[at++] = quint8(data);
        for (int k = 0; k < data; ++k)
            packet.bytes[at++] = entry.data[std::size_t(k)];
    }
    return packet;
}

quint8 readOpcode(const CDeviceItemSPIFlash &record, const SpiGeometry &geometry)
{
    switch (geometry.lineMode) {
    case SpiGeometry::TwoLines:
        return record.dualReadOpcode;
    case SpiGeometry::FourLines:
        return record.quadReadOpcode;
    default:
        return record.readOpcode;
    }
}

quint8 programOpcode(const CDeviceItemSPIFlash &record, const SpiGeometry &geometry)
{
    if (geometry.algo == SpiGeometry::DataFlash)
        return quint8(geometry.dataFlashPage & 0xFF); // 0x10 for 528-byte pages, 0x00 for 512
    switch (geometry.lineMode) {
    case SpiGeometry::TwoLines:
        return record.dualProgramOpcode;
    case SpiGeometry::FourLines:
        return record.quadProgramOpcode;
    default:
        return record.programOpcode;
    }
}

} // namespace SpiPackets
