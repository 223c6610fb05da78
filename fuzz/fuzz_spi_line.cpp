// parseLine() of a SPI record on arbitrary text, then everything a caller
// does with an accepted record.
#include "CDeviceItemSPIFlash.h"
#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString line =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    CDeviceItemSPIFlash item;
    if (!item.parseLine(line))
        return 0;

    // What validation promises to the SPI engine.
    FUZZ_CHECK(item.size <= 0xFFFFFFFFu);
    FUZZ_CHECK(item.sectorNum >= 0);
    FUZZ_CHECK(quint64(quint32(item.sectorNum)) * item.sectorSize == item.size);
    FUZZ_CHECK(item.pageSize > 0 && item.pageSize <= item.sectorSize);
    FUZZ_CHECK(item.io == 1 || item.io == 2 || item.io == 4);
    FUZZ_CHECK(item.speed >= 1 && item.speed <= 10);
    FUZZ_CHECK(item.initCount >= 0 && item.initCount <= CDeviceItemSPIFlash::MaxInitCommands);
    for (int i = 0; i < item.initCount; ++i)
        FUZZ_CHECK(item.initCommands[i].count <= CDeviceItemSPIFlash::MaxInitData);
    if (item.algo == 3)
        FUZZ_CHECK(item.statusOpcode == 0xD7 && item.busyMask == 0x80 && item.readyValue == 0x80);

    int lines = 0;
    item.printInfo([&lines](const QString &) { ++lines; }, false);
    FUZZ_CHECK(lines == 3);
    (void)item.displayName();
    (void)item.shortName();
    (void)item.matchId(fuzzBytes(data, size < 3 ? size : 3));
    const QByteArray own(reinterpret_cast<const char *>(item.id.data()), 3);
    FUZZ_CHECK(item.matchId(own) == (item.id[0] != 0xFF));

    CDeviceItemSPIFlash back;
    const QString written = item.catalogueLine();
    if (!item.name.contains(QLatin1Char('=')) && !item.manufacturer.contains(QLatin1Char('=')) &&
        item.sectorSize >= back.pageSize) {
        FUZZ_CHECK(back.parseLine(written));
        FUZZ_CHECK(back.size == item.size && back.sectorSize == item.sectorSize &&
                   back.sectorNum == item.sectorNum && back.id == item.id && back.io == item.io);
    }
    return 0;
}
