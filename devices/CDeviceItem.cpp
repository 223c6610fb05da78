#include "CDeviceItem.h"

#include "CatalogueKeys.h"

CDeviceItem::CDeviceItem(int itemKind) : kind(itemKind) {}

CDeviceItem::~CDeviceItem() = default;

void CDeviceItem::printInfo(const TextSink &sink, bool brief) const
{
    Q_UNUSED(brief);
    sink(QLatin1Char(' ') + name);
    QString sizeLine =
        QString::asprintf("  Size = %lXh  ", static_cast<unsigned long>(size & 0xFFFFFFFFu));
    if (!manufacturer.isEmpty())
        sizeLine += manufacturer;
    sink(sizeLine);
}

bool CDeviceItem::parseLine(const QString &text)
{
    Q_UNUSED(text);
    return false;
}

QString CDeviceItem::displayName() const
{
    return name;
}

QString CDeviceItem::shortName() const
{
    return name;
}

bool CDeviceItem::parseCommon(const CatalogueKeys &keys)
{
    QString value;
    if (!keys.read(QStringLiteral("Name"), value))
        return false;
    name = value;
    size = 0;
    if (keys.read(QStringLiteral("size"), value))
        size = CatalogueKeys::hexWithOptionalSuffix(value);
    if (keys.read(QStringLiteral("MFG"), value))
        manufacturer = value;
    if (keys.read(QStringLiteral("Algo"), value))
        algo = CatalogueKeys::toSigned32(CatalogueKeys::hexWithOptionalSuffix(value));
    if (keys.read(QStringLiteral("Speed"), value)) {
        const qint64 step = CatalogueKeys::decimal(value);
        speed = (step <= 0 || step > 10) ? 10 : static_cast<int>(step);
    }
    return true;
}

QString CDeviceItem::catalogueLineStart() const
{
    return QStringLiteral("Name=\"%1\",MFG=\"%2\",").arg(name, manufacturer);
}
