#include "SpiGeometry.h"

#include "CDeviceItemSPIFlash.h"

namespace {
constexpr quint32 DataFlashLargeSector = 0x21000;
constexpr quint64 SmallEeprom = 512;
} // namespace

int SpiGeometry::addressBytesOf(quint64 size, int algo)
{
    if (algo == Eeprom && size <= SmallEeprom)
        return 1;
    int bytes = 0;
    for (quint32 value = quint32(size); value > 1; value >>= 8)
        ++bytes;
    return bytes;
}

SpiGeometry SpiGeometry::of(const CDeviceItemSPIFlash &record, quint32 packetSize, bool singleIo)
{
    SpiGeometry geometry;
    geometry.algo = record.algo;
    geometry.packetSize = packetSize;
    geometry.addressBytes = addressBytesOf(record.size, record.algo);
    if (record.algo == DataFlash)
        geometry.dataFlashPage = record.sectorSize == DataFlashLargeSector ? 528 : 512;
    geometry.programUnit = record.algo == DataFlash ? geometry.dataFlashPage : packetSize;
    if (!singleIo && record.io == 2)
        geometry.lineMode = TwoLines;
    else if (!singleIo && record.io == 4)
        geometry.lineMode = FourLines;
    return geometry;
}
