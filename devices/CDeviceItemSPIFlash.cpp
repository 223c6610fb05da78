#include "CDeviceItemSPIFlash.h"

#include "CDeviceFamily.h"
#include "CatalogueKeys.h"
#include "ProgramObjects.h"

namespace {

quint8 byteAt(const QByteArray &bytes, qsizetype offset)
{
    return static_cast<quint8>(bytes.at(offset));
}

quint32 le32(const QByteArray &bytes, qsizetype offset)
{
    return static_cast<quint32>(byteAt(bytes, offset)) |
           static_cast<quint32>(byteAt(bytes, offset + 1)) << 8 |
           static_cast<quint32>(byteAt(bytes, offset + 2)) << 16 |
           static_cast<quint32>(byteAt(bytes, offset + 3)) << 24;
}

// Two hexadecimal digits at `offset`; anything else reads as 0.
quint8 hexByte(const QString &text, qsizetype offset)
{
    return static_cast<quint8>(CatalogueKeys::hex(text.mid(offset, 2)));
}

bool isHexDigits(const QString &text)
{
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

constexpr quint32 SfdpSignature = 0x50444653; // "SFDP"
constexpr int SfdpHeaderSize = 8;
constexpr int SfdpFirstParameterHeader = 8;
constexpr int AlgoDataFlash = 3;

} // namespace

CDeviceItemSPIFlash::CDeviceItemSPIFlash() : CDeviceItem(SpiKind) {}

void CDeviceItemSPIFlash::printInfo(const TextSink &sink, bool brief) const
{
    CDeviceItem::printInfo(sink, brief);
    if (brief)
        return;
    sink(QString::asprintf("  ID1 =%Xh,ID2 =%Xh ID3 =%Xh", static_cast<unsigned>(id[0]),
                           static_cast<unsigned>(id[1]), static_cast<unsigned>(id[2])));
}

bool CDeviceItemSPIFlash::parseLine(const QString &text)
{
    const CatalogueKeys keys(text);
    if (!parseCommon(keys))
        return false;

    QString value;
    for (int i = 0; i < IdBytes; ++i) {
        if (keys.read(QStringLiteral("ID%1").arg(i + 1), value))
            id[i] = static_cast<quint8>(CatalogueKeys::hexWithoutLastCharacter(value) & 0xFF);
    }

    if (keys.read(QStringLiteral("Init"), value))
        parseInit(value);

    if (keys.read(QStringLiteral("IO"), value)) {
        const qint64 lines = CatalogueKeys::decimal(value);
        io = (lines == 2 || lines == 4) ? static_cast<int>(lines) : 1;
    }

    if (keys.read(QStringLiteral("Status"), value) && value.size() == 6 && isHexDigits(value)) {
        statusOpcode = hexByte(value, 0);
        busyMask = hexByte(value, 2);
        readyValue = hexByte(value, 4);
    }

    if (keys.read(QStringLiteral("SectorSize"), value))
        sectorSize = CatalogueKeys::toUnsigned32(CatalogueKeys::hexWithoutLastCharacter(value));
    if (keys.read(QStringLiteral("PageSize"), value))
        pageSize = CatalogueKeys::toUnsigned32(CatalogueKeys::hexWithoutLastCharacter(value));
    if (keys.read(QStringLiteral("SectorNum"), value))
        sectorNum = CatalogueKeys::toSigned32(CatalogueKeys::hexWithoutLastCharacter(value));

    if (size >> 32)
        return false;
    // The product is taken in 64 bits: a sector count whose product only meets
    // the size by wrapping round 32 bits describes no real chip.
    if (sectorNum < 0 || quint64(quint32(sectorNum)) * sectorSize != size)
        return false;
    if (pageSize == 0 || sectorSize < pageSize)
        return false;

    if (algo == AlgoDataFlash) {
        eraseOpcode = 0x7C;
        statusOpcode = 0xD7;
        busyMask = 0x80;
        readyValue = 0x80;
    }
    return true;
}

// Entries of two hex digits opcode, two hex digits count and `count` data
// bytes. An entry whose count exceeds 9 or whose data runs past the end of
// the value is not stored, and reading stops there: what follows cannot be
// told apart from the broken entry's data.
void CDeviceItemSPIFlash::parseInit(const QString &value)
{
    QString text = value;
    if (text.endsWith(QLatin1Char('H')))
        text.chop(1);
    if (text.size() % 2 != 0)
        return;
    qsizetype at = 0;
    int entries = 0;
    while (text.size() - at >= 4 && entries < MaxInitCommands) {
        InitCommand command;
        command.opcode = hexByte(text, at);
        const quint8 count = hexByte(text, at + 2);
        at += 4;
        if (count > MaxInitData || text.size() - at < 2 * qsizetype(count))
            break;
        command.count = count;
        for (int i = 0; i < count; ++i, at += 2)
            command.data[i] = hexByte(text, at);
        initCommands[entries++] = command;
    }
    initCount = entries;
}

QString CDeviceItemSPIFlash::displayName() const
{
    if (name == ProgramObjects::sfdpDeviceName()) {
        QString text = QStringLiteral("SPI") + QLatin1Char(' ') + manufacturer;
        if (size != 0)
            text += QStringLiteral(" Size=0x") + QString::number(size, 16);
        return text;
    }
    return name;
}

QString CDeviceItemSPIFlash::shortName() const
{
    return name;
}

bool CDeviceItemSPIFlash::matchId(const QByteArray &bytes) const
{
    if (bytes.size() < IdBytes || byteAt(bytes, 0) == 0xFF)
        return false;
    for (int i = 0; i < IdBytes; ++i) {
        if (byteAt(bytes, i) != id[i])
            return false;
    }
    return true;
}

QString CDeviceItemSPIFlash::catalogueLine() const
{
    QString line = catalogueLineStart();
    for (int i = 0; i < IdBytes; ++i)
        line += QString::asprintf("ID%d=\"%xh\",", i + 1, static_cast<unsigned>(id[i]));
    line += QStringLiteral("size=\"") + QString::number(size, 16) +
            QString::asprintf("h\",SectorSize=\"%Xh\",SectorNum=\"%xh\"", sectorSize,
                              static_cast<unsigned>(sectorNum));
    if (io != 1)
        line += QString::asprintf(",IO=\"%d\"", io);
    return line;
}

SfdpParameters CDeviceItemSPIFlash::parseSfdp(const QByteArray &table)
{
    SfdpParameters p;
    if (table.size() < SfdpFirstParameterHeader || le32(table, 0) != SfdpSignature)
        return p;
    p.headerCount = byteAt(table, 6) + 1;
    // Every announced header must have arrived.
    if (table.size() < SfdpFirstParameterHeader + qsizetype(p.headerCount) * SfdpHeaderSize)
        return p;

    // Every header that names a basic flash parameter table is used in turn, so
    // the last usable one gives the density.
    for (int h = 0; h < p.headerCount; ++h) {
        const qsizetype header = SfdpFirstParameterHeader + qsizetype(h) * SfdpHeaderSize;
        const quint8 idLsb = byteAt(table, header);
        const int words = byteAt(table, header + 3);
        const quint32 second = le32(table, header + 4);
        const quint32 pointer = second & 0x00FFFFFF;
        const quint8 idMsb = static_cast<quint8>(second >> 24);
        if (idLsb != 0x00 || idMsb != 0xFF || pointer > MaxTablePointer)
            continue;
        // The table must hold its second word and lie within the bytes received.
        if (words < 2 || qsizetype(pointer) + 4 * qsizetype(words) > table.size())
            continue;
        const quint32 densityWord = le32(table, qsizetype(pointer) + 4);
        quint64 density = 0;
        if (densityWord & 0x80000000u) {
            // 2^N bits. A density below one byte or beyond what a record's
            // 32-bit size holds is not a usable table.
            const quint32 n = densityWord & 0x7FFFFFFFu;
            if (n >= 3 && n - 3 < 32)
                density = quint64(1) << (n - 3);
        } else {
            density = (quint64(densityWord) + 1) / 8;
        }
        if (density == 0 || density > 0xFFFFFFFFu)
            continue;
        p.density = density;
        p.basicTableOffset = pointer;
        p.basicTableWords = words;
        p.valid = true;
    }
    return p;
}

bool CDeviceItemSPIFlash::fillFromSfdp(const SfdpParameters &parameters,
                                       const CDeviceFamily *family)
{
    if (!parameters.valid)
        return false;
    if (family) {
        for (int i = 0; i < family->count(); ++i) {
            const auto *other = dynamic_cast<const CDeviceItemSPIFlash *>(family->record(i));
            if (other && other != this && other->name != ProgramObjects::sfdpDeviceName() &&
                other->id[0] == id[0]) {
                manufacturer = other->manufacturer;
                break;
            }
        }
    }
    size = parameters.density;
    sectorSize = 0x10000;
    sectorNum = static_cast<int>(parameters.density / 0x10000);
    // Above 16 MiB the commands carry four address bytes, and nothing puts
    // the chip into four-byte mode: use the four-byte instructions.
    constexpr quint64 ThreeByteLimit = 0x1000000;
    const bool fourByte = parameters.density > ThreeByteLimit;
    readOpcode = fourByte ? 0x13 : 0x03;
    programOpcode = fourByte ? 0x12 : 0x02;
    eraseOpcode = fourByte ? 0xDC : 0xD8;
    dualReadOpcode = fourByte ? 0x3C : 0x3B;
    quadReadOpcode = fourByte ? 0x6C : 0x6B;
    quadProgramOpcode = fourByte ? 0x34 : 0x32;
    return true;
}
