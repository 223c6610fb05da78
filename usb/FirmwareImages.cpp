#include "FirmwareImages.h"

#include "Settings.h"

#include <QByteArray>

#include <array>

const FirmwareImage &firmwareImage(FirmwareImageId id)
{
    return firmwareImageTable[id >= 0 && id < FirmwareImageCount ? id : NandImage1];
}

QString standInImageName(const FirmwareRecord *records)
{
    constexpr unsigned SignatureAt = 0x0080;
    constexpr unsigned NameAt = 16;
    constexpr unsigned BlockBytes = 48;
    static constexpr char Magic[] = "KVFWSIG1";
    std::array<char, BlockBytes> block{};
    std::array<bool, BlockBytes> loaded{};
    for (const FirmwareRecord *r = records; r && r->type != FirmwareRecord::End; ++r) {
        const unsigned length = r->length <= FirmwareRecord::MaxData ? r->length : 0;
        for (unsigned i = 0; i < length; ++i) {
            const unsigned address = r->loadAddress() + i;
            if (address >= SignatureAt && address < SignatureAt + BlockBytes) {
                block[address - SignatureAt] = char(r->data[i]);
                loaded[address - SignatureAt] = true;
            }
        }
    }
    for (unsigned i = 0; i < NameAt; ++i)
        if (!loaded[i])
            return QString();
    if (QByteArray(block.data(), 8) != QByteArray(Magic))
        return QString();
    QByteArray name;
    for (unsigned i = NameAt; i < BlockBytes && loaded[i] && block[i] != 0; ++i)
        name += block[i];
    return name.isEmpty() ? QStringLiteral("?") : QString::fromLatin1(name);
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
