#pragma once

#include <QtGlobal>

// What a SPI chip's SFDP table says about it. Filled by
// CDeviceItemSPIFlash::parseSfdp(); only `valid` tables may be used.
struct SfdpParameters
{
    bool valid = false;
    int headerCount = 0;
    // Byte offset and length in 32-bit words of the basic flash parameter
    // table that gave the density.
    quint32 basicTableOffset = 0;
    int basicTableWords = 0;
    // Device size in bytes.
    quint64 density = 0;
};
