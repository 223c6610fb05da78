#include "FirmwareImages.h"

#include "Settings.h"

const FirmwareImage &firmwareImage(FirmwareImageId id)
{
    return firmwareImageTable[id >= 0 && id < FirmwareImageCount ? id : NandImage1];
}

namespace FirmwareSelection {

FirmwareImageId nand(bool boardType)
{
    return boardType ? NandImage2 : NandImage1;
}

FirmwareImageId nand(const Settings &settings)
{
    return nand(settings.boolean(Settings::BoardType, false));
}

FirmwareImageId spi(int &algo)
{
    if (algo < 0 || algo > 4)
        algo = 0;
    return FirmwareImageId(SpiImage0 + algo);
}

} // namespace FirmwareSelection
