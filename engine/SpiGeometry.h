#pragma once

#include <QtGlobal>

class CDeviceItemSPIFlash;

// What the SPI commands derive from a device record and the link.
struct SpiGeometry
{
    enum Algo { Standard = 0, DataFlash = 3, Eeprom = 4 };
    enum LineMode { SingleLine = 0, TwoLines = 1, FourLines = 2 };

    // Bytes of a command's address: how often the size (low 32 bits) is
    // shifted right by 8 before it is at most 1; 1 for EEPROMs of 512 bytes
    // or less.
    int addressBytes = 0;
    // DataFlash page: 528 with 0x21000-byte sectors, else 512; 0 for other chips.
    quint32 dataFlashPage = 0;
    // Bytes per program page the programmer counts: the DataFlash page, else
    // the link's packet size.
    quint32 programUnit = 0;
    quint32 packetSize = 0;
    int lineMode = SingleLine;
    int algo = Standard;

    // `singleIo`: the "Single IO" box is checked.
    static SpiGeometry of(const CDeviceItemSPIFlash &record, quint32 packetSize, bool singleIo);
    static int addressBytesOf(quint64 size, int algo);

    // DataFlash with 528-byte pages addresses page p as p << 10.
    bool pagedAddresses() const { return dataFlashPage == 528; }
    quint32 deviceAddress(quint64 byteAddress) const
    {
        return pagedAddresses() ? quint32(byteAddress / 528) << 10 : quint32(byteAddress);
    }
};
