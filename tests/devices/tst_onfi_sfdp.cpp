#include "CDeviceFamilySPI.h"
#include "CDeviceItemNand.h"
#include "CDeviceItemSPIFlash.h"
#include "ProgramObjects.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

void put16(QByteArray &bytes, int offset, quint16 value)
{
    if (offset < 0 || offset + 2 > bytes.size())
        qFatal("test data: write at %d past %lld bytes", offset, qlonglong(bytes.size()));
    bytes[offset] = static_cast<char>(value & 0xFF);
    bytes[offset + 1] = static_cast<char>(value >> 8);
}

void put32(QByteArray &bytes, int offset, quint32 value)
{
    if (offset < 0 || offset + 4 > bytes.size())
        qFatal("test data: write at %d past %lld bytes", offset, qlonglong(bytes.size()));
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void putText(QByteArray &bytes, int offset, int length, const QByteArray &text)
{
    for (int i = 0; i < length; ++i)
        bytes[offset + i] = i < text.size() ? text.at(i) : ' ';
}

// An ONFI parameter page as a chip returns it: 256 bytes, little-endian fields.
struct OnfiPage
{
    quint16 revisionBits = 0x0002 | 0x0004 | 0x0010; // 1.0, 2.0, 2.2
    QByteArray manufacturer = "MICRON";
    QByteArray model = "MT29F4G08ABADAWP";
    quint32 dataBytes = 2048;
    quint16 spareBytes = 64;
    quint32 pagesPerBlock = 64;
    quint32 blocksPerLun = 4096;
    quint8 luns = 1;
    quint8 addressCycles = 0x23;

    QByteArray bytes() const
    {
        QByteArray page(256, '\0');
        page.replace(0, 4, "ONFI");
        put16(page, 4, revisionBits);
        putText(page, 32, 12, manufacturer);
        putText(page, 44, 20, model);
        put32(page, 80, dataBytes);
        put16(page, 84, spareBytes);
        put32(page, 92, pagesPerBlock);
        put32(page, 96, blocksPerLun);
        page[100] = static_cast<char>(luns);
        page[101] = static_cast<char>(addressCycles);
        return page;
    }
};

// A JESD216 SFDP table: header, parameter headers from byte 8, tables after.
struct SfdpTable
{
    struct Header
    {
        explicit Header(quint8 lsb = 0x00, quint8 msb = 0xFF, quint8 length = 16,
                        quint32 offset = 0x30)
            : idLsb(lsb), idMsb(msb), words(length), pointer(offset)
        {}
        quint8 idLsb;
        quint8 idMsb;
        quint8 words;
        quint32 pointer;
    };
    SfdpTable() { headers.push_back(Header()); }
    std::vector<Header> headers;
    int size = 512;

    QByteArray bytes() const
    {
        QByteArray table(size, '\xFF');
        table.replace(0, 4, "SFDP");
        table[4] = 6; // JESD216B
        table[5] = 1;
        table[6] = static_cast<char>(headers.size() - 1);
        table[7] = static_cast<char>(0xFF);
        for (size_t h = 0; h < headers.size(); ++h) {
            const int at = 8 + 8 * static_cast<int>(h);
            if (at + 8 > table.size())
                break;
            table[at] = static_cast<char>(headers[h].idLsb);
            table[at + 1] = 6;
            table[at + 2] = 1;
            table[at + 3] = static_cast<char>(headers[h].words);
            put32(table, at + 4, (headers[h].pointer & 0xFFFFFF) | quint32(headers[h].idMsb) << 24);
        }
        return table;
    }
    // Writes the density word of a basic flash parameter table at `pointer`.
    static void setDensity(QByteArray &table, quint32 pointer, quint32 densityWord)
    {
        put32(table, static_cast<int>(pointer), 0xFFF320E5);
        put32(table, static_cast<int>(pointer) + 4, densityWord);
    }
    QByteArray withDensity(quint32 densityWord) const
    {
        // Into the first basic table, or the first table when there is none.
        QByteArray table = bytes();
        quint32 pointer = headers.front().pointer;
        for (const Header &header : headers) {
            if (header.idLsb == 0x00 && header.idMsb == 0xFF) {
                pointer = header.pointer;
                break;
            }
        }
        setDensity(table, pointer, densityWord);
        return table;
    }
};

constexpr quint32 Density64Mbit = 0x03FFFFFF; // (bits - 1)

// Exactly `length` bytes of `source` on the heap, without the terminating
// zero a QByteArray keeps after its data: the sanitizer build then reports a
// read one byte past what the chip sent.
class ExactBytes
{
public:
    ExactBytes(const QByteArray &source, qsizetype length)
        : m_storage(new char[static_cast<size_t>(std::max<qsizetype>(length, 1))])
    {
        std::copy(source.constData(), source.constData() + length, m_storage.get());
        m_bytes = QByteArray::fromRawData(m_storage.get(), length);
    }
    const QByteArray &bytes() const { return m_bytes; }

private:
    std::unique_ptr<char[]> m_storage;
    QByteArray m_bytes;
};

} // namespace

class TestOnfiSfdp : public QObject
{
    Q_OBJECT
private slots:
    void onfiValidPage();
    void onfiRevision_data();
    void onfiRevision();
    void onfiTextFields();
    void onfiInvalidSignature();
    void onfiZeroTotals_data();
    void onfiZeroTotals();
    void onfiTruncated();
    void onfiNumbersTheRecordCannotHold();
    void onfiFill();

    void sfdpValidTable();
    void sfdpDensityForms_data();
    void sfdpDensityForms();
    void sfdpInvalidTables_data();
    void sfdpInvalidTables();
    void sfdpHeaderSelection();
    void sfdpEveryPrefixIsSafe();
    void sfdpFill();
};

void TestOnfiSfdp::onfiValidPage()
{
    const OnfiParameters p = CDeviceItemNand::parseOnfi(OnfiPage().bytes(), 1);
    QVERIFY(p.valid);
    QCOMPARE(p.revision, QStringLiteral("2.2"));
    QCOMPARE(p.manufacturer, QStringLiteral("MICRON"));
    QCOMPARE(p.model, QStringLiteral("MT29F4G08ABADAWP"));
    QCOMPARE(p.dataBytesPerPage, 2048u);
    QCOMPARE(p.spareBytesPerPage, quint16(64));
    QCOMPARE(p.pagesPerBlock, 64u);
    QCOMPARE(p.blocksPerLun, 4096u);
    QCOMPARE(p.lunCount, quint8(1));
    QCOMPARE(p.columnAddressCycles, quint8(2));
    QCOMPARE(p.rowAddressCycles, quint8(3));
    QCOMPARE(p.totalSize, 64ull * 4096 * 2112);

    const OnfiParameters twoChips = CDeviceItemNand::parseOnfi(OnfiPage().bytes(), 2);
    QVERIFY(twoChips.valid);
    QCOMPARE(twoChips.ceCount, 2);
    QCOMPARE(twoChips.totalSize, 2 * 64ull * 4096 * 2112);

    OnfiPage twoLuns;
    twoLuns.luns = 2;
    QCOMPARE(CDeviceItemNand::parseOnfi(twoLuns.bytes(), 1).totalSize, 2 * 64ull * 4096 * 2112);
}

void TestOnfiSfdp::onfiRevision_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("revision");
    QTest::newRow("none") << 0x0000 << QString();
    QTest::newRow("bit 0 only is reserved") << 0x0001 << QString();
    QTest::newRow("1.0") << 0x0002 << QStringLiteral("1.0");
    QTest::newRow("2.0") << 0x0004 << QStringLiteral("2.0");
    QTest::newRow("2.1") << 0x0008 << QStringLiteral("2.1");
    QTest::newRow("2.3") << 0x0020 << QStringLiteral("2.3");
    QTest::newRow("3.0") << 0x0040 << QStringLiteral("3.0");
    QTest::newRow("3.1") << 0x0080 << QStringLiteral("3.1");
    QTest::newRow("3.2") << 0x0100 << QStringLiteral("3.2");
    QTest::newRow("4.0 wins over all below") << 0x03FE << QStringLiteral("4.0");
    QTest::newRow("reserved high bits ignored") << 0xFC42 << QStringLiteral("3.0");
}

void TestOnfiSfdp::onfiRevision()
{
    QFETCH(int, bits);
    QFETCH(QString, revision);
    OnfiPage page;
    page.revisionBits = static_cast<quint16>(bits);
    const OnfiParameters p = CDeviceItemNand::parseOnfi(page.bytes(), 1);
    QVERIFY(p.valid);
    QCOMPARE(p.revision, revision);
}

void TestOnfiSfdp::onfiTextFields()
{
    OnfiPage page;
    page.manufacturer = "TOSHIBA     ";
    page.model = QByteArray("TC58NVG2S0H") + QByteArray(9, '\0');
    const OnfiParameters p = CDeviceItemNand::parseOnfi(page.bytes(), 1);
    QCOMPARE(p.manufacturer, QStringLiteral("TOSHIBA"));
    QCOMPARE(p.model, QStringLiteral("TC58NVG2S0H"));

    // Inner blanks stay; bytes that are not printable ASCII show as '?'.
    page.manufacturer = "SK HYNIX";
    page.model = QByteArray("H27U\x01\xC4G8F2", 10);
    const OnfiParameters q = CDeviceItemNand::parseOnfi(page.bytes(), 1);
    QCOMPARE(q.manufacturer, QStringLiteral("SK HYNIX"));
    QCOMPARE(q.model, QStringLiteral("H27U??G8F2"));

    page.manufacturer = QByteArray(12, ' ');
    QVERIFY(CDeviceItemNand::parseOnfi(page.bytes(), 1).manufacturer.isEmpty());
}

void TestOnfiSfdp::onfiInvalidSignature()
{
    for (const QByteArray &signature :
         {QByteArray("ONFJ"), QByteArray("IFNO"), QByteArray("onfi"), QByteArray("\0\0\0\0", 4)}) {
        QByteArray page = OnfiPage().bytes();
        page.replace(0, 4, signature);
        const OnfiParameters p = CDeviceItemNand::parseOnfi(page, 1);
        QVERIFY2(!p.valid, signature.constData());
        // Nothing else is read from a page without the signature.
        QVERIFY(p.manufacturer.isEmpty());
        QCOMPARE(p.totalSize, 0ull);
    }
}

void TestOnfiSfdp::onfiZeroTotals_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<int>("ceCount");
    OnfiPage page;
    page.pagesPerBlock = 0;
    QTest::newRow("no pages per block") << page.bytes() << 1;
    page = OnfiPage();
    page.blocksPerLun = 0;
    QTest::newRow("no blocks") << page.bytes() << 1;
    page = OnfiPage();
    page.luns = 0;
    QTest::newRow("no LUN") << page.bytes() << 1;
    page = OnfiPage();
    page.dataBytes = 0;
    page.spareBytes = 0;
    QTest::newRow("empty pages") << page.bytes() << 1;
    QTest::newRow("no chip enable") << OnfiPage().bytes() << 0;
    QTest::newRow("negative chip enables") << OnfiPage().bytes() << -1;
}

void TestOnfiSfdp::onfiZeroTotals()
{
    QFETCH(QByteArray, page);
    QFETCH(int, ceCount);
    const OnfiParameters p = CDeviceItemNand::parseOnfi(page, ceCount);
    QVERIFY(!p.valid);
    QCOMPARE(p.totalSize, 0ull);
}

void TestOnfiSfdp::onfiTruncated()
{
    const QByteArray page = OnfiPage().bytes();
    for (int length : {0, 1, 3, 4, 63, 80, 100, 101})
        QVERIFY2(!CDeviceItemNand::parseOnfi(page.left(length), 1).valid,
                 qPrintable(QString::number(length)));
    // The fields end at byte 101; the rest of the page is not needed.
    QVERIFY(CDeviceItemNand::parseOnfi(page.left(OnfiParameters::MinimumSize), 1).valid);
    for (int length = 0; length <= page.size(); ++length) {
        const ExactBytes exact(page, length);
        const OnfiParameters p = CDeviceItemNand::parseOnfi(exact.bytes(), 1);
        QCOMPARE(p.valid, length >= OnfiParameters::MinimumSize);
    }
}

void TestOnfiSfdp::onfiNumbersTheRecordCannotHold()
{
    OnfiPage page;
    page.dataBytes = 0xFFFFFFFF; // plus spare bytes: beyond 32 bits
    QVERIFY(!CDeviceItemNand::parseOnfi(page.bytes(), 1).valid);
    page.spareBytes = 0;
    QVERIFY(CDeviceItemNand::parseOnfi(page.bytes(), 1).valid);

    page = OnfiPage();
    page.pagesPerBlock = 0x80000000; // more than a signed block size holds
    QVERIFY(!CDeviceItemNand::parseOnfi(page.bytes(), 1).valid);

    // A total beyond 64 bits.
    page = OnfiPage();
    page.pagesPerBlock = 0x7FFFFFFF;
    page.blocksPerLun = 0xFFFFFFFF;
    page.luns = 0xFF;
    page.dataBytes = 0xFFFF0000;
    QVERIFY(!CDeviceItemNand::parseOnfi(page.bytes(), 4).valid);
}

void TestOnfiSfdp::onfiFill()
{
    OnfiPage page;
    page.dataBytes = 4096;
    page.spareBytes = 224;
    page.pagesPerBlock = 128;
    page.blocksPerLun = 2048;
    const OnfiParameters p = CDeviceItemNand::parseOnfi(page.bytes(), 2);
    CDeviceItemNand item;
    item.name = ProgramObjects::onfiDeviceName();
    QVERIFY(item.fillFromOnfi(p));
    QCOMPARE(item.size, 2ull * 128 * 2048 * 4320);
    QCOMPARE(item.pageSize, 4320u);
    QCOMPARE(item.blockSize, 128);
    QCOMPARE(item.manufacturer, QStringLiteral("MICRON"));
    QCOMPARE(item.model, QStringLiteral("MT29F4G08ABADAWP"));
    QCOMPARE(item.ce, 2);
    QCOMPARE(item.pageClass, 2);
    QCOMPARE(item.displayName(), QStringLiteral("NAND MICRON MT29F4G08ABADAWP"));
    QCOMPARE(item.shortName(), QStringLiteral("MT29F4G08ABADAWP"));

    // A page above 16383 bytes leaves the class as it was.
    page.dataBytes = 16384;
    page.spareBytes = 1216;
    QVERIFY(item.fillFromOnfi(CDeviceItemNand::parseOnfi(page.bytes(), 1)));
    QCOMPARE(item.pageSize, 17600u);
    QCOMPARE(item.pageClass, 2);

    // An invalid page changes nothing.
    QByteArray broken = page.bytes();
    broken[0] = 'X';
    QVERIFY(!item.fillFromOnfi(CDeviceItemNand::parseOnfi(broken, 1)));
    QCOMPARE(item.pageSize, 17600u);
    QCOMPARE(item.ce, 1);
}

void TestOnfiSfdp::sfdpValidTable()
{
    const SfdpParameters p = CDeviceItemSPIFlash::parseSfdp(SfdpTable().withDensity(Density64Mbit));
    QVERIFY(p.valid);
    QCOMPARE(p.headerCount, 1);
    QCOMPARE(p.basicTableOffset, 0x30u);
    QCOMPARE(p.basicTableWords, 16);
    QCOMPARE(p.density, 0x800000ull);
}

void TestOnfiSfdp::sfdpDensityForms_data()
{
    QTest::addColumn<quint32>("word");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint64>("density");
    QTest::newRow("bits minus one, 64 Mbit") << quint32(Density64Mbit) << true << 0x800000ull;
    QTest::newRow("bits minus one, 512 Kbit") << quint32(0x7FFFF) << true << 0x10000ull;
    QTest::newRow("bits minus one, largest") << quint32(0x7FFFFFFF) << true << 0x10000000ull;
    QTest::newRow("power, 2^33 bits") << quint32(0x80000021) << true << 0x40000000ull;
    QTest::newRow("power, 2^34 bits") << quint32(0x80000022) << true << 0x80000000ull;
    QTest::newRow("power, 2^3 bits") << quint32(0x80000003) << true << 1ull;
    QTest::newRow("power, 2^35 bits: 4 GiB") << quint32(0x80000023) << false << 0ull;
    QTest::newRow("power, 2^2 bits") << quint32(0x80000002) << false << 0ull;
    QTest::newRow("power, huge exponent") << quint32(0xFFFFFFFF) << false << 0ull;
    QTest::newRow("power, 2^67 bits") << quint32(0x80000043) << false << 0ull;
    QTest::newRow("zero") << quint32(0) << false << 0ull;
    QTest::newRow("under one byte") << quint32(6) << false << 0ull;
}

void TestOnfiSfdp::sfdpDensityForms()
{
    QFETCH(quint32, word);
    QFETCH(bool, valid);
    QFETCH(quint64, density);
    const SfdpParameters p = CDeviceItemSPIFlash::parseSfdp(SfdpTable().withDensity(word));
    QCOMPARE(p.valid, valid);
    QCOMPARE(p.density, density);
}

void TestOnfiSfdp::sfdpInvalidTables_data()
{
    QTest::addColumn<QByteArray>("table");

    QByteArray wrongSignature = SfdpTable().withDensity(Density64Mbit);
    wrongSignature.replace(0, 4, "SFDQ");
    QTest::newRow("signature") << wrongSignature;
    QByteArray reversed = SfdpTable().withDensity(Density64Mbit);
    reversed.replace(0, 4, "PDFS");
    QTest::newRow("signature byte order") << reversed;
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("signature only") << QByteArray("SFDP");
    QTest::newRow("header without parameter headers") << QByteArray("SFDP\x06\x01\x00\xFF", 8);

    // A usable basic table of two words right after its header, but the
    // header count announces three headers where only 24 bytes arrived.
    SfdpTable moreHeaders;
    moreHeaders.size = 24;
    moreHeaders.headers.front() = SfdpTable::Header(0x00, 0xFF, 2, 16);
    QByteArray announced = moreHeaders.withDensity(Density64Mbit);
    QVERIFY(CDeviceItemSPIFlash::parseSfdp(announced).valid);
    announced[6] = 2;
    QTest::newRow("header count beyond the data") << announced;

    SfdpTable beyond;
    beyond.headers.front().pointer = 0x400; // 1024, inside the 2048 limit but past 512 bytes
    QTest::newRow("table pointer beyond the data") << beyond.bytes();

    SfdpTable farAway;
    farAway.size = 4096;
    farAway.headers.front().pointer = 2052;
    QTest::newRow("table pointer above 2048") << farAway.withDensity(Density64Mbit);

    SfdpTable cut;
    cut.headers.front().pointer = 512 - 8;
    cut.headers.front().words = 9; // declares 36 bytes, 8 arrived
    QTest::newRow("table length beyond the data") << cut.withDensity(Density64Mbit);

    SfdpTable oneWord;
    oneWord.headers.front().words = 1;
    QTest::newRow("table without density word") << oneWord.withDensity(Density64Mbit);

    SfdpTable vendor;
    vendor.headers.front().idLsb = 0xC2;
    QTest::newRow("vendor table only") << vendor.withDensity(Density64Mbit);

    SfdpTable fourByte;
    fourByte.headers.front().idLsb = 0x84;
    QTest::newRow("4-byte address table only") << fourByte.withDensity(Density64Mbit);

    SfdpTable wrongMsb;
    wrongMsb.headers.front().idMsb = 0x00;
    QTest::newRow("ID MSB not FF") << wrongMsb.withDensity(Density64Mbit);

    QByteArray hostile(2048, '\xFF');
    hostile.replace(0, 4, "SFDP");
    QTest::newRow("all FF with 256 headers") << hostile;
    QByteArray zeros(2048, '\0');
    zeros.replace(0, 4, "SFDP");
    QTest::newRow("all zero") << zeros;
}

void TestOnfiSfdp::sfdpInvalidTables()
{
    QFETCH(QByteArray, table);
    const ExactBytes exact(table, table.size());
    const SfdpParameters p = CDeviceItemSPIFlash::parseSfdp(exact.bytes());
    QVERIFY(!p.valid);
    QCOMPARE(p.density, 0ull);
}

void TestOnfiSfdp::sfdpHeaderSelection()
{
    // A vendor table first, then the basic one.
    SfdpTable mixed;
    mixed.headers = {SfdpTable::Header(0xC2, 0xFF, 4, 0x60), SfdpTable::Header()};
    SfdpParameters p = CDeviceItemSPIFlash::parseSfdp(mixed.withDensity(Density64Mbit));
    QVERIFY(p.valid);
    QCOMPARE(p.headerCount, 2);
    QCOMPARE(p.basicTableOffset, 0x30u);

    // Two basic tables: the later header is used.
    SfdpTable two;
    two.headers = {SfdpTable::Header(), SfdpTable::Header(0x00, 0xFF, 16, 0x80)};
    QByteArray table = two.bytes();
    SfdpTable::setDensity(table, 0x30, Density64Mbit);
    SfdpTable::setDensity(table, 0x80, 0x07FFFFFF);
    p = CDeviceItemSPIFlash::parseSfdp(table);
    QVERIFY(p.valid);
    QCOMPARE(p.basicTableOffset, 0x80u);
    QCOMPARE(p.density, 0x1000000ull);

    // A later basic table that is unusable leaves the earlier one.
    two.headers[1].pointer = 0x7F8; // past the 512 bytes received
    table = two.bytes();
    SfdpTable::setDensity(table, 0x30, Density64Mbit);
    p = CDeviceItemSPIFlash::parseSfdp(table);
    QVERIFY(p.valid);
    QCOMPARE(p.density, 0x800000ull);

    // A table ending exactly at the end of the data is used; the limit of
    // 2048 for the pointer is inclusive.
    SfdpTable atEnd;
    atEnd.size = 2048 + 8;
    atEnd.headers.front().pointer = 2048;
    atEnd.headers.front().words = 2;
    p = CDeviceItemSPIFlash::parseSfdp(atEnd.withDensity(Density64Mbit));
    QVERIFY(p.valid);
    QCOMPARE(p.density, 0x800000ull);
}

void TestOnfiSfdp::sfdpEveryPrefixIsSafe()
{
    SfdpTable table;
    table.headers = {SfdpTable::Header(0xC2, 0xFF, 4, 0x60), SfdpTable::Header()};
    const QByteArray full = table.withDensity(Density64Mbit);
    // Header, both parameter headers and the table up to its declared end (0x30 + 64).
    const int needed = 0x30 + 16 * 4;
    for (int length = 0; length <= full.size(); ++length) {
        const ExactBytes exact(full, length);
        const SfdpParameters p = CDeviceItemSPIFlash::parseSfdp(exact.bytes());
        QCOMPARE(p.valid, length >= needed);
    }
}

void TestOnfiSfdp::sfdpFill()
{
    CDeviceFamilySPI family;
    QVERIFY(family.addLine(QStringLiteral("Name=\"MX25L6405\",MFG=\"MACRONIX\",ID1=\"c2h\","
                                          "ID2=\"20h\",ID3=\"17h\",size=\"800000h\","
                                          "SectorSize=\"10000h\",SectorNum=\"80h\"")));
    QVERIFY(family.addLine(QStringLiteral("Name=\"W25Q32\",MFG=\"WINBOND\",ID1=\"efh\","
                                          "ID2=\"40h\",ID3=\"16h\",size=\"400000h\","
                                          "SectorSize=\"10000h\",SectorNum=\"40h\"")));
    QVERIFY(family.addLine(QStringLiteral("Name=\"W25X32\",MFG=\"WINBOND-OLD\",ID1=\"efh\","
                                          "ID2=\"30h\",ID3=\"16h\",size=\"400000h\","
                                          "SectorSize=\"10000h\",SectorNum=\"40h\"")));
    auto *sfdp = static_cast<CDeviceItemSPIFlash *>(family.placeholder());
    QCOMPARE(sfdp->name, QStringLiteral("SPI SFDP"));
    sfdp->id[0] = 0xEF;

    SfdpTable table;
    const SfdpParameters p = CDeviceItemSPIFlash::parseSfdp(table.withDensity(0x0FFFFFFF));
    QVERIFY(sfdp->fillFromSfdp(p, &family));
    QCOMPARE(sfdp->manufacturer, QStringLiteral("WINBOND")); // the first with maker EF
    QCOMPARE(sfdp->size, 0x2000000ull);
    QCOMPARE(sfdp->sectorSize, 0x10000u);
    QCOMPARE(sfdp->sectorNum, 0x200);
    QCOMPARE(sfdp->displayName(), QStringLiteral("SPI WINBOND Size=0x2000000"));

    // An unknown maker leaves the manufacturer as it was.
    sfdp->id[0] = 0x9D;
    QVERIFY(sfdp->fillFromSfdp(CDeviceItemSPIFlash::parseSfdp(table.withDensity(Density64Mbit)),
                               &family));
    QCOMPARE(sfdp->manufacturer, QStringLiteral("WINBOND"));
    QCOMPARE(sfdp->size, 0x800000ull);
    QCOMPARE(sfdp->sectorNum, 0x80);

    // The placeholder itself does not count as a maker's record.
    CDeviceFamilySPI empty;
    auto *lonely = static_cast<CDeviceItemSPIFlash *>(empty.placeholder());
    lonely->id[0] = 0xFF;
    lonely->manufacturer = QStringLiteral("SELF");
    QVERIFY(lonely->fillFromSfdp(p, &empty));
    QCOMPARE(lonely->manufacturer, QStringLiteral("SELF"));

    // An invalid table changes nothing.
    QByteArray broken = table.withDensity(Density64Mbit);
    broken[0] = 'X';
    QVERIFY(!sfdp->fillFromSfdp(CDeviceItemSPIFlash::parseSfdp(broken), &family));
    QCOMPARE(sfdp->size, 0x800000ull);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestOnfiSfdp)
#include "tst_onfi_sfdp.moc"
