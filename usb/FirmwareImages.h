#pragma once

#include "FirmwareRecord.h"

#include <QString>

class Settings;

// The seven firmware images the program carries, one of which the chip
// engine of the selected device downloads into the programmer.
enum FirmwareImageId {
    NandImage1,
    NandImage2,
    SpiImage0,
    SpiImage1,
    SpiImage2,
    SpiImage3,
    SpiImage4,
    FirmwareImageCount
};

struct FirmwareImage
{
    const char *name;
    const FirmwareRecord *records; // ends with a record of type End
    int recordCount;               // end record included
};

// Filled by the build from the Intel HEX images.
extern const FirmwareImage firmwareImageTable[FirmwareImageCount];

const FirmwareImage &firmwareImage(FirmwareImageId id);

// The name an image of our own carries in its signature block ("KVFWSIG1"
// at 0x0080, the name from 0x0090): the built-in stand-ins for the
// programmer's firmware. Empty for any other image.
QString standInImageName(const FirmwareRecord *records);

namespace FirmwareSelection {
// NAND: image 1 for board type false, image 2 for true.
FirmwareImageId nand(bool boardType);
// NAND from the "Board Type" setting (absent: false).
FirmwareImageId nand(const Settings &settings);
// SPI: the device's algorithm selector; a value above 4 (or below 0) is
// replaced by 0, and the 0 is written back.
FirmwareImageId spi(int &algo);
} // namespace FirmwareSelection
