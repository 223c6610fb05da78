#pragma once

#include <QtGlobal>

// Bytes 10 to 13 of a program or read command's page count, as both
// programmers count: an outer loop over byte 11 and an inner loop over byte
// 10, an inner count of 0 standing for 256; bytes 12 and 13 are the upper
// bytes of the 32-bit count.
inline void writePageCount(quint8 *bytes, quint32 count)
{
    bytes[10] = quint8(count % 256);
    bytes[11] = quint8((count / 256 + (count % 256 != 0 ? 1 : 0)) & 0xFF);
    bytes[12] = quint8(count >> 16);
    bytes[13] = quint8(count >> 24);
}
