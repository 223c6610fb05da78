#include "CDeviceItemNand.h"

#include "CatalogueKeys.h"
#include "ProgramObjects.h"

#include <algorithm>
#include <limits>

namespace {

quint8 byteAt(const QByteArray &bytes, int offset)
{
    return static_cast<quint8>(bytes.at(offset));
}

quint16 le16(const QByteArray &bytes, int offset)
{
    return static_cast<quint16>(byteAt(bytes, offset) | byteAt(bytes, offset + 1) << 8);
}

quint32 le32(const QByteArray &bytes, int offset)
{
    return static_cast<quint32>(byteAt(bytes, offset)) |
           static_cast<quint32>(byteAt(bytes, offset + 1)) << 8 |
           static_cast<quint32>(byteAt(bytes, offset + 2)) << 16 |
           static_cast<quint32>(byteAt(bytes, offset + 3)) << 24;
}

// An ASCII field of the parameter page, padded with blanks. Bytes that are not
// printable ASCII are shown as '?'.
QString asciiField(const QByteArray &bytes, int offset, int length)
{
    QString text;
    text.reserve(length);
    for (int i = offset; i < offset + length; ++i) {
        const quint8 c = byteAt(bytes, i);
        text += (c >= 0x20 && c < 0x7F) ? QChar(c) : QLatin1Char('?');
    }
    // Trailing blanks (spaces, and the zero bytes some chips pad with).
    qsizetype end = text.size();
    while (end > 0) {
        const quint8 c = byteAt(bytes, offset + static_cast<int>(end) - 1);
        if (c != ' ' && c != 0)
            break;
        --end;
    }
    text.truncate(end);
    return text;
}

constexpr quint32 OnfiSignature = 0x49464E4F; // "ONFI"

} // namespace

CDeviceItemNand::CDeviceItemNand() : CDeviceItem(NandKind) {}

void CDeviceItemNand::printInfo(const TextSink &sink, bool brief) const
{
    CDeviceItem::printInfo(sink, brief);
    if (brief)
        return;
    QString ids = QStringLiteral(" ");
    const int count = std::clamp(idCount, 0, IdBytes);
    for (int i = 0; i < count; ++i)
        ids += QString::asprintf("ID%d = %Xh ", i + 1, static_cast<unsigned>(id[i]));
    sink(ids);
}

bool CDeviceItemNand::parseLine(const QString &text)
{
    const CatalogueKeys keys(text);
    if (!parseCommon(keys))
        return false;

    QString value;
    const int wanted = std::clamp(idCount, 0, LineIdBytes);
    for (int i = 0; i < wanted; ++i) {
        if (!keys.read(QStringLiteral("ID%1").arg(i + 1), value)) {
            idCount = i;
            if (i == 2)
                pageClass = 0;
            break;
        }
        if (value.isEmpty())
            continue;
        id[i] = static_cast<quint8>(CatalogueKeys::hexWithoutLastCharacter(value) & 0xFF);
        idKnown[i] = 1;
    }

    if (keys.read(QStringLiteral("PageSize"), value)) {
        pageSize = CatalogueKeys::toUnsigned32(CatalogueKeys::hexWithoutLastCharacter(value));
        updatePageClass();
    }

    if (keys.read(QStringLiteral("CE"), value)) {
        const quint64 count = CatalogueKeys::hex(value);
        ce = (count == 1 || count == 2 || count == 4) ? static_cast<int>(count) : 1;
    }

    if (keys.read(QStringLiteral("Init"), value) && value.size() == 4) {
        for (int i = 0; i < 4; ++i) {
            if (value.at(i) == QLatin1Char('0'))
                initFlags[i] = 1;
            else if (value.at(i) == QLatin1Char('1'))
                initFlags[i] = 2;
        }
    }

    if (!keys.read(QStringLiteral("BlockSize"), value))
        return false;
    blockSize = CatalogueKeys::toSigned32(CatalogueKeys::hexWithoutLastCharacter(value));
    return true;
}

void CDeviceItemNand::updatePageClass()
{
    if (pageSize < 2048)
        pageClass = 0;
    else if (pageSize < 4096)
        pageClass = 1;
    else if (pageSize < 16384)
        pageClass = 2;
}

QString CDeviceItemNand::displayName() const
{
    if (name == ProgramObjects::onfiDeviceName())
        return QStringLiteral("NAND") + QLatin1Char(' ') + manufacturer + QLatin1Char(' ') + model;
    return name;
}

QString CDeviceItemNand::shortName() const
{
    if (name == ProgramObjects::onfiDeviceName() && !model.isEmpty())
        return model;
    return displayName();
}

bool CDeviceItemNand::matchId(const QByteArray &bytes) const
{
    if (!idKnown[0])
        return false;
    // A byte the chip did not send compares unequal to everything.
    const auto readAt = [&bytes](int i) {
        return i < bytes.size() ? static_cast<int>(static_cast<quint8>(bytes.at(i))) : -1;
    };
    for (int i = 0; i < IdBytes; ++i) {
        if (!idKnown[i])
            continue;
        if (readAt(i) != id[i]) {
            // A chip that repeats its ID sequence after `idCount` bytes.
            return i == idCount && readAt(i) == id[0] && readAt(i + 1) == id[1];
        }
    }
    return true;
}

QString CDeviceItemNand::catalogueLine() const
{
    QString line = catalogueLineStart();
    for (int i = 0; i < IdBytes && idKnown[i]; ++i)
        line += QString::asprintf("ID%d=\"%xh\",", i + 1, static_cast<unsigned>(id[i]));
    line += QStringLiteral("size=\"") + QString::number(size, 16) +
            QString::asprintf("h\",PageSize=\"%Xh\",BlockSize=\"%xh\"", pageSize,
                              static_cast<unsigned>(blockSize));
    if (ce != 1)
        line += QString::asprintf(",CE=\"%d\"", ce);
    return line;
}

OnfiParameters CDeviceItemNand::parseOnfi(const QByteArray &page, int ceCount)
{
    OnfiParameters p;
    p.ceCount = ceCount;
    if (page.size() < OnfiParameters::MinimumSize || le32(page, 0) != OnfiSignature)
        return p;

    static const char *const revisions[] = {"1.0", "2.0", "2.1", "2.2", "2.3",
                                            "3.0", "3.1", "3.2", "4.0"};
    const quint16 revisionBits = le16(page, 4);
    for (int bit = 9; bit >= 1; --bit) {
        if (revisionBits & (1u << bit)) {
            p.revision = QLatin1String(revisions[bit - 1]);
            break;
        }
    }

    p.manufacturer = asciiField(page, 32, 12);
    p.model = asciiField(page, 44, 20);
    p.dataBytesPerPage = le32(page, 80);
    p.spareBytesPerPage = le16(page, 84);
    p.pagesPerBlock = le32(page, 92);
    p.blocksPerLun = le32(page, 96);
    p.lunCount = byteAt(page, 100);
    p.columnAddressCycles = byteAt(page, 101) >> 4;
    p.rowAddressCycles = byteAt(page, 101) & 0x0F;

    // The record holds the page size in 32 bits and the block size as a
    // signed 32-bit count; a page whose numbers do not fit, or whose total
    // does not fit in 64 bits, is as unusable as one whose total is 0.
    const quint64 pageBytes = quint64(p.dataBytesPerPage) + p.spareBytesPerPage;
    if (ceCount <= 0 || pageBytes > std::numeric_limits<quint32>::max() ||
        p.pagesPerBlock > quint32(std::numeric_limits<int>::max()))
        return p;
    quint64 total = p.pagesPerBlock;
    if (__builtin_mul_overflow(total, quint64(p.blocksPerLun), &total) ||
        __builtin_mul_overflow(total, quint64(p.lunCount), &total) ||
        __builtin_mul_overflow(total, quint64(ceCount), &total) ||
        __builtin_mul_overflow(total, pageBytes, &total))
        return p;
    p.totalSize = total;
    p.valid = total != 0;
    return p;
}

bool CDeviceItemNand::fillFromOnfi(const OnfiParameters &parameters)
{
    if (!parameters.valid)
        return false;
    size = parameters.totalSize;
    pageSize = parameters.dataBytesPerPage + parameters.spareBytesPerPage;
    blockSize = static_cast<int>(parameters.pagesPerBlock);
    manufacturer = parameters.manufacturer;
    model = parameters.model;
    ce = parameters.ceCount;
    updatePageClass();
    return true;
}
