#include "CDeviceFamilySPI.h"

#include "CDeviceItemSPIFlash.h"
#include "ProgramObjects.h"

namespace {
std::unique_ptr<CDeviceItem> sfdpPlaceholder()
{
    auto item = std::make_unique<CDeviceItemSPIFlash>();
    item->name = ProgramObjects::sfdpDeviceName();
    return item;
}
} // namespace

CDeviceFamilySPI::CDeviceFamilySPI()
    : CDeviceFamily(QStringLiteral("SPI"), CDeviceItem::SpiKind, sfdpPlaceholder())
{}

bool CDeviceFamilySPI::addLine(const QString &text)
{
    auto item = std::make_unique<CDeviceItemSPIFlash>();
    if (!item->parseLine(text)) {
        ++m_rejected;
        return false;
    }
    append(std::move(item));
    return true;
}

CDeviceItem *CDeviceFamilySPI::findById(int kind, const QByteArray &idBytes, bool collectAll) const
{
    Q_UNUSED(collectAll);
    if (kind != CDeviceItem::SpiKind)
        return nullptr;
    for (int i = 0; i < count(); ++i) {
        if (record(i)->matchId(idBytes))
            return record(i);
    }
    return nullptr;
}

void CDeviceFamilySPI::reportDuplicates(const TextSink &sink, int kind,
                                        const QByteArray &idBytes) const
{
    if (kind == CDeviceItem::SpiKind)
        writeDuplicates(sink, matches(idBytes, false));
}
