#pragma once

#include <QtGlobal>

class CDeviceItemNand;

// What the NAND commands derive from a device record: `size` counts data
// and spare bytes, `pageSize` includes the spare area, `blockSize` counts
// pages per block, `ce` chip enables.
struct NandGeometry
{
    quint64 blockBytes = 0;
    quint32 pagesPerChip = 0;
    // Bytes of the column address: base-256 digits of the page size (a
    // 528-byte page takes 1); 0 for a page size of 0.
    int columnBytes = 0;
    // Bytes of the row address: base-256 digits of the pages per chip.
    int rowBytes = 0;

    static NandGeometry of(const CDeviceItemNand &record);
    // Base-256 digits of `value`; 0 for 0.
    static int byteDigits(quint64 value);
};
