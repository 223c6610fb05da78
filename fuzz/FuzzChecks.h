#pragma once

#include "FuzzCheck.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// Fuzz input as a QByteArray that points at libFuzzer's own, exactly sized
// buffer: a read past the input is a read past an allocation, which the
// address sanitizer reports.
inline QByteArray fuzzBytes(const uint8_t *data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                   static_cast<qsizetype>(size));
}
