#pragma once

#include "CDeviceItem.h"
#include "OnfiParameters.h"

#include <array>

// A parallel NAND flash chip.
class CDeviceItemNand : public CDeviceItem
{
public:
    static constexpr int IdBytes = 6;
    // ID bytes a catalogue line can give ("ID1".."ID5").
    static constexpr int LineIdBytes = 5;
    // Identification bytes matchId() may look at: six positions and the byte
    // after a repeated sequence.
    static constexpr int MatchBytes = 7;

    CDeviceItemNand();

    void printInfo(const TextSink &sink, bool brief) const override;
    bool parseLine(const QString &text) override;
    QString displayName() const override;
    QString shortName() const override;
    bool matchId(const QByteArray &bytes) const override;
    QString catalogueLine() const override;

    // Page size class: 0 below 2048 bytes, 1 up to 4095, 2 up to 16383; a
    // larger page leaves `pageClass` as it is.
    void updatePageClass();

    // Reads an ONFI parameter page. The page comes from the chip: every field
    // is checked against the bytes received.
    static OnfiParameters parseOnfi(const QByteArray &page, int ceCount);
    // Takes geometry, maker and model from a valid page; false (record
    // untouched) for an invalid one.
    bool fillFromOnfi(const OnfiParameters &parameters);

    std::array<quint8, IdBytes> id{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::array<quint8, IdBytes> idKnown{};
    // From "Init": 0 not given, 1 for '0', 2 for '1'.
    std::array<int, 4> initFlags{};
    quint32 pageSize = 0x840; // data and spare bytes
    int blockSize = 0x20;     // pages per block
    int ce = 1;
    int idCount = LineIdBytes;
    int pageClass = 1;
};
