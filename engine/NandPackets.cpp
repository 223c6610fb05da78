#include "NandPackets.h"

#include "CDeviceItemNand.h"
#include "PageCount.h"

namespace NandPackets {

namespace {

constexpr int PageCommandLength = 20;
constexpr int ShortLength = 6;
constexpr int TenBytes = 10;

void writeLE(quint8 *destination, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        destination[i] = quint8(value >> (8 * i));
}

// Column 0 from byte 2, then the row as 4 bytes.
void writeAddress(NandPacket &packet, const NandGeometry &geometry, quint32 row)
{
    packet.bytes[1] = quint8(geometry.columnBytes + geometry.rowBytes);
    writeLE(&packet.bytes[2 + geometry.columnBytes], row, 4);
}

NandPacket shortPacket(quint8 code, int length)
{
    NandPacket packet;
    packet.bytes[0] = code;
    packet.length = length;
    return packet;
}

} // namespace

NandPacket adapterCheck(int programmerKind, bool highSpeed, const NandGeometry &geometry)
{
    NandPacket packet = shortPacket(AdapterCheck, TenBytes);
    packet.bytes[1] = quint8(programmerKind);
    packet.bytes[3] = highSpeed ? 1 : 0;
    packet.bytes[5] = quint8(geometry.columnBytes);
    packet.bytes[6] = quint8(geometry.rowBytes);
    return packet;
}

NandPacket eraseBlock(const NandGeometry &geometry, quint32 row)
{
    NandPacket packet = shortPacket(EraseBlock, PageCommandLength);
    packet.bytes[1] = quint8(geometry.rowBytes);
    writeLE(&packet.bytes[2], row, 4);
    return packet;
}

NandPacket pages(quint8 code, const NandGeometry &geometry, quint32 row, quint32 pageSize,
                 quint32 count)
{
    NandPacket packet = shortPacket(code, PageCommandLength);
    writeAddress(packet, geometry, row);
    writeLE(&packet.bytes[8], pageSize, 2);
    writePageCount(packet.bytes.data(), count);
    return packet;
}

NandPacket readId()
{
    NandPacket packet = shortPacket(ReadId, ShortLength);
    packet.bytes[1] = 0x01;
    return packet;
}

NandPacket readParameterPage()
{
    NandPacket packet = shortPacket(ReadParameterPage, ShortLength);
    packet.bytes[1] = 0x01;
    return packet;
}

NandPacket timing(int speed)
{
    NandPacket packet = shortPacket(Timing, TenBytes);
    const quint8 t = quint8(11 - speed);
    packet.bytes[2] = t;
    packet.bytes[3] = 0x20;
    packet.bytes[4] = t;
    packet.bytes[5] = 0x40;
    packet.bytes[6] = t;
    packet.bytes[7] = 0x60;
    packet.bytes[8] = t;
    return packet;
}

NandPacket endOfProgram()
{
    return shortPacket(EndOfProgram, 1);
}

NandPacket pins(const CDeviceItemNand &device)
{
    NandPacket packet = shortPacket(Pins, TenBytes);
    // A '0' in the catalogue (flag 1) sends 0, a '1' (flag 2) sends 1, a pin
    // not given (flag 0) sends 2. initFlags[0] is not sent.
    for (int i = 1; i <= 4; ++i) {
        const int flag = i < int(device.initFlags.size()) ? device.initFlags[size_t(i)] : 0;
        packet.bytes[size_t(i)] = flag == 2 ? 1 : flag == 0 ? 2 : 0;
    }
    return packet;
}

NandPacket selectChip(quint8 chip)
{
    NandPacket packet = shortPacket(SelectChip, 2);
    packet.bytes[1] = chip;
    return packet;
}

NandPacket scanBlock(const NandGeometry &geometry, quint32 row, quint32 packetSize)
{
    NandPacket packet = shortPacket(ScanBlock, PageCommandLength);
    writeAddress(packet, geometry, row);
    writeLE(&packet.bytes[8], packetSize, 4);
    return packet;
}

} // namespace NandPackets
