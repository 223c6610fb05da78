#include "NandGeometry.h"

#include "CDeviceItemNand.h"

int NandGeometry::byteDigits(quint64 value)
{
    int digits = 0;
    for (; value != 0; value >>= 8)
        ++digits;
    return digits;
}

NandGeometry NandGeometry::of(const CDeviceItemNand &record)
{
    constexpr quint32 SmallPageWithSpare = 528;
    NandGeometry g;
    g.blockBytes = quint64(record.pageSize) * quint64(qMax(record.blockSize, 0));
    const quint64 perChip = quint64(qMax(record.ce, 1)) * record.pageSize;
    g.pagesPerChip = perChip == 0 ? 0 : quint32(record.size / perChip);
    g.columnBytes = record.pageSize == SmallPageWithSpare ? 1 : byteDigits(record.pageSize);
    g.rowBytes = byteDigits(g.pagesPerChip);
    return g;
}
