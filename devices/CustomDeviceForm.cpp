#include "CustomDeviceForm.h"

#include "CDeviceFamily.h"
#include "CDeviceItemNand.h"
#include "CDeviceItemSPIFlash.h"
#include "CatalogueKeys.h"
#include "DeviceCatalogue.h"
#include "ProgramObjects.h"
#include "UiTextId.h"

namespace {

// An ID text counts only with at least two characters ("ech", "9").
constexpr int MinimumIdText = 2;

quint64 hexNumber(const QString &text)
{
    return CatalogueKeys::hexWithOptionalSuffix(text);
}

// A double quote would end the value early when the line is read back and let
// the rest pass for further keys; a line end would cut the line in two.
QString lineSafe(QString text)
{
    text.remove(QLatin1Char('"'));
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

// The ID byte the text gives, or -1 when the text is too short to count.
int idByte(const QStringList &ids, int index)
{
    const QString text = ids.value(index);
    if (text.size() < MinimumIdText)
        return -1;
    return static_cast<int>(hexNumber(text) & 0xFFu);
}

} // namespace

CustomDeviceForm::CustomDeviceForm(int mode) : m_mode(mode == SpiMode ? SpiMode : NandMode) {}

int CustomDeviceForm::modeForText(const QString &text)
{
    if (text.contains(QLatin1String("Nand")))
        return NandMode;
    if (text.contains(QLatin1String("SPI")))
        return SpiMode;
    return NandMode;
}

QStringList CustomDeviceForm::presetIds(const QByteArray &bytes, int count)
{
    QStringList texts;
    for (int i = 0; i < count && i < bytes.size(); ++i)
        texts << QString::asprintf("%02xh",
                                   static_cast<unsigned>(static_cast<quint8>(bytes.at(i))));
    return texts;
}

int CustomDeviceForm::idFieldCount() const
{
    return m_mode == SpiMode ? SpiIdFields : NandIdFields;
}

QString CustomDeviceForm::idLabel(int number)
{
    return QString::asprintf("ID%d", number);
}

QString CustomDeviceForm::nameLabel() const
{
    return uiText().text(UiTextId::Name);
}

QString CustomDeviceForm::makerLabel() const
{
    return uiText().text(UiTextId::Manufacture);
}

QString CustomDeviceForm::sizeLabel() const
{
    return QStringLiteral("Size");
}

QString CustomDeviceForm::firstGeometryLabel() const
{
    return m_mode == SpiMode ? QStringLiteral("Sector Size") : QStringLiteral("Page Size");
}

QString CustomDeviceForm::secondGeometryLabel() const
{
    return m_mode == SpiMode ? QStringLiteral("Sector Num") : QStringLiteral("Block Size");
}

QString CustomDeviceForm::pinsLabel() const
{
    return m_mode == SpiMode ? QStringLiteral("IO Pins") : QStringLiteral("CE Pins");
}

QStringList CustomDeviceForm::pinChoices()
{
    return {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("4")};
}

QStringList CustomDeviceForm::makers(const DeviceCatalogue &catalogue) const
{
    QStringList result;
    const CDeviceFamily *family = catalogue.family(m_mode);
    if (!family)
        return result;
    for (const CDeviceItem *record : family->records()) {
        if (!result.contains(record->manufacturer))
            result << record->manufacturer;
    }
    return result;
}

std::unique_ptr<CDeviceItem> CustomDeviceForm::fillRecord(const Entries &entries) const
{
    const int pins = CatalogueKeys::toSigned32(
        static_cast<quint64>(qMax<qint64>(0, CatalogueKeys::decimal(entries.pins))));
    std::unique_ptr<CDeviceItem> record;
    if (m_mode == SpiMode) {
        auto spi = std::make_unique<CDeviceItemSPIFlash>();
        for (int i = 0; i < SpiIdFields; ++i) {
            const int byte = idByte(entries.ids, i);
            if (byte >= 0)
                spi->id[static_cast<size_t>(i)] = static_cast<quint8>(byte);
        }
        spi->sectorSize = CatalogueKeys::toUnsigned32(hexNumber(entries.firstGeometry));
        spi->sectorNum = CatalogueKeys::toSigned32(hexNumber(entries.secondGeometry));
        spi->io = pins;
        record = std::move(spi);
    } else {
        auto nand = std::make_unique<CDeviceItemNand>();
        for (int i = 0; i < NandIdFields; ++i) {
            const int byte = idByte(entries.ids, i);
            if (byte >= 0) {
                nand->id[static_cast<size_t>(i)] = static_cast<quint8>(byte);
                nand->idKnown[static_cast<size_t>(i)] = 1;
            }
        }
        nand->pageSize = CatalogueKeys::toUnsigned32(hexNumber(entries.firstGeometry));
        nand->blockSize = CatalogueKeys::toSigned32(hexNumber(entries.secondGeometry));
        nand->ce = pins;
        record = std::move(nand);
    }
    record->name = lineSafe(entries.name);
    record->manufacturer = lineSafe(entries.maker);
    record->size = hexNumber(entries.size);
    return record;
}

QString CustomDeviceForm::catalogueLine(const Entries &entries) const
{
    return fillRecord(entries)->catalogueLine();
}
