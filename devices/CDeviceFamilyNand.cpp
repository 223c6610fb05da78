#include "CDeviceFamilyNand.h"

#include "CDeviceItemNand.h"
#include "ProgramObjects.h"

namespace {
std::unique_ptr<CDeviceItem> onfiPlaceholder()
{
    auto item = std::make_unique<CDeviceItemNand>();
    item->name = ProgramObjects::onfiDeviceName();
    return item;
}
} // namespace

CDeviceFamilyNand::CDeviceFamilyNand()
    : CDeviceFamily(QStringLiteral("Nand"), CDeviceItem::NandKind, onfiPlaceholder())
{
    m_names.insert(placeholder()->name);
}

bool CDeviceFamilyNand::addLine(const QString &text)
{
    auto item = std::make_unique<CDeviceItemNand>();
    if (!item->parseLine(text)) {
        ++m_rejected;
        return false;
    }
    if (m_names.contains(item->name)) {
        ++m_duplicates;
        return false;
    }
    m_names.insert(item->name);
    append(std::move(item));
    return true;
}

CDeviceItem *CDeviceFamilyNand::findById(int kind, const QByteArray &idBytes, bool collectAll) const
{
    if (kind != CDeviceItem::NandKind)
        return nullptr;
    const QList<CDeviceItem *> found = matches(idBytes, true);
    if (found.isEmpty())
        return nullptr;
    if (!collectAll || found.size() == 1)
        return found.first();
    const int row = choose(found);
    return (row >= 0 && row < found.size()) ? found.at(row) : nullptr;
}

void CDeviceFamilyNand::reportDuplicates(const TextSink &sink, int kind,
                                         const QByteArray &idBytes) const
{
    if (kind == CDeviceItem::NandKind)
        writeDuplicates(sink, matches(idBytes, true));
}
