#pragma once

#include "CDeviceFamily.h"

// The SPI flash family, file "SPI.txt". Its placeholder "SPI SFDP" is filled
// from an SFDP table. Lines with a name already held are kept as well.
class CDeviceFamilySPI : public CDeviceFamily
{
public:
    CDeviceFamilySPI();

    bool addLine(const QString &text) override;
    // The first match, placeholder included; `collectAll` makes no difference.
    CDeviceItem *findById(int kind, const QByteArray &idBytes, bool collectAll) const override;
    void reportDuplicates(const TextSink &sink, int kind, const QByteArray &idBytes) const override;
};
