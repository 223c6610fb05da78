#pragma once

#include <QString>

// What a NAND chip's ONFI parameter page says about its geometry. Filled by
// CDeviceItemNand::parseOnfi(); only `valid` pages may be used.
struct OnfiParameters
{
    // Bytes of the page that parsing reads (offsets 0..101).
    static constexpr int MinimumSize = 102;

    bool valid = false;
    QString revision; // "1.0" … "4.0", empty when no known revision bit is set
    QString manufacturer;
    QString model;
    quint32 dataBytesPerPage = 0;
    quint16 spareBytesPerPage = 0;
    quint32 pagesPerBlock = 0;
    quint32 blocksPerLun = 0;
    quint8 lunCount = 0;
    quint8 columnAddressCycles = 0;
    quint8 rowAddressCycles = 0;
    int ceCount = 0;
    // Data and spare bytes of every page of every chip enable.
    quint64 totalSize = 0;
};
