#pragma once

#include "CDeviceItem.h"
#include "SfdpParameters.h"

#include <array>

class CDeviceFamily;

// A serial (SPI) flash chip.
class CDeviceItemSPIFlash : public CDeviceItem
{
public:
    static constexpr int IdBytes = 3;
    static constexpr int MaxInitCommands = 5;
    static constexpr int MaxInitData = 9;
    // Highest byte offset of a basic flash parameter table that is used.
    static constexpr quint32 MaxTablePointer = 2048;

    // A command sent to the chip after each connection and detection.
    struct InitCommand
    {
        quint8 opcode = 0;
        quint8 count = 0; // data bytes, 0..9
        std::array<quint8, MaxInitData> data{};
    };

    CDeviceItemSPIFlash();

    void printInfo(const TextSink &sink, bool brief) const override;
    bool parseLine(const QString &text) override;
    QString displayName() const override;
    QString shortName() const override;
    bool matchId(const QByteArray &bytes) const override;
    QString catalogueLine() const override;

    // Reads a JESD216 SFDP table. The table comes from the chip: every header,
    // pointer and length is checked against the bytes received.
    static SfdpParameters parseSfdp(const QByteArray &table);
    // Takes the size from a valid table (64 KiB sectors); false (record
    // untouched) for an invalid one. With `family`, the maker is that of the
    // family's first other record whose first ID byte equals this record's.
    bool fillFromSfdp(const SfdpParameters &parameters, const CDeviceFamily *family = nullptr);

    quint32 sectorSize = 0x1000;
    quint32 pageSize = 0x200;
    int sectorNum = 0x20;
    std::array<quint8, IdBytes> id{0xFF, 0xFF, 0xFF};
    int initCount = 0;
    int io = 1;
    std::array<InitCommand, MaxInitCommands> initCommands{};
    quint8 readOpcode = 0x03;
    quint8 eraseOpcode = 0xD8;
    quint8 programOpcode = 0x02;
    quint8 dualReadOpcode = 0x3B;
    quint8 dualProgramOpcode = 0xA2;
    quint8 quadReadOpcode = 0x6B;
    quint8 quadProgramOpcode = 0x32;
    quint8 statusOpcode = 0x05;
    quint8 busyMask = 0x01;
    quint8 readyValue = 0x00;

private:
    void parseInit(const QString &value);
};
