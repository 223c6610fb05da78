#include "CDeviceItemNand.h"
#include "CDeviceItemSPIFlash.h"
#include "CatalogueKeys.h"
#include "ProgramObjects.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QTest>

namespace {
QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(static_cast<char>(value));
    return result;
}

QStringList printed(const CDeviceItem &item, bool brief)
{
    QStringList lines;
    item.printInfo([&lines](const QString &line) { lines << line; }, brief);
    return lines;
}

const QString k9f1g08 = QStringLiteral(
    "Name=\"K9F1G08U0B\",MFG=\"SAMSUNG\",ID1=\"ech\",ID2=\"f1h\",ID3=\"00h\",ID4=\"95h\","
    "ID5=\"40h\",size=\"8400000h\",PageSize=\"840h\",BlockSize=\"40h\"");
const QString w25q64 =
    QStringLiteral("Name=\"W25Q64FV\",MFG=\"WINBOND\",ID1=\"efh\",ID2=\"40h\",ID3=\"17h\","
                   "size=\"800000h\",SectorSize=\"10000h\",SectorNum=\"80h\",IO=\"4\"");

// A SPI line of 64 KiB sectors with `extra` appended.
QString spiLine(const QString &extra)
{
    return QStringLiteral("Name=\"T\",ID1=\"c2h\",ID2=\"20h\",ID3=\"16h\",size=\"400000h\","
                          "SectorSize=\"10000h\",SectorNum=\"40h\"") +
           extra;
}
} // namespace

class TestDeviceItems : public QObject
{
    Q_OBJECT
private slots:
    void readKeyCaseRules();
    void readKeySkipsLongerKeys();
    void readKeyValueExtent();
    void numberConventions();

    void nandDefaults();
    void nandFullLine();
    void nandRejectedLines();
    void nandIdsAndPageClass_data();
    void nandIdsAndPageClass();
    void nandEmptyIdIsSkipped();
    void nandSpeedCeInitAlgo();
    void nandSizeAbsentBesidePageSize();

    void spiDefaults();
    void spiFullLine();
    void spiRejectedLines_data();
    void spiRejectedLines();
    void spiInitCommands_data();
    void spiInitCommands();
    void spiIoAndStatus();
    void spiDataFlashOverridesStatus();

    void catalogueLines();
    void catalogueLineRoundTrip();
    void printInfoLines();
    void namesOfPlaceholders();

    void nandMatchId();
    void nandMatchRepeatedId();
    void nandMatchShortRead();
    void spiMatchId();
};

void TestDeviceItems::readKeyCaseRules()
{
    const QString line = QStringLiteral("name=\"w25q64fv\",mfg=\"Winbond\","
                                        "Message=\"Use the 8-pin Adapter\",Adapter=\"Sop8\"");
    QString value;
    QVERIFY(CatalogueKeys::readKey(line, QStringLiteral("Name"), value));
    QCOMPARE(value, QStringLiteral("W25Q64FV"));
    QVERIFY(CatalogueKeys::readKey(line, QStringLiteral("MFG"), value));
    QCOMPARE(value, QStringLiteral("WINBOND"));
    // "Message" and "Adapter" keep their case, in key and value.
    QVERIFY(CatalogueKeys::readKey(line, QStringLiteral("Message"), value));
    QCOMPARE(value, QStringLiteral("Use the 8-pin Adapter"));
    QVERIFY(CatalogueKeys::readKey(line, QStringLiteral("Adapter"), value));
    QCOMPARE(value, QStringLiteral("Sop8"));
    QVERIFY(
        !CatalogueKeys::readKey(QStringLiteral("MESSAGE=\"x\""), QStringLiteral("Message"), value));
    QVERIFY(!CatalogueKeys::readKey(line, QStringLiteral("size"), value));
}

void TestDeviceItems::readKeySkipsLongerKeys()
{
    QString value;
    // The hit of "size" inside "PageSize" or "SectorSize" is no "size" key.
    QVERIFY(!CatalogueKeys::readKey(QStringLiteral("Name=\"A\",PageSize=\"840h\""),
                                    QStringLiteral("size"), value));
    QVERIFY(!CatalogueKeys::readKey(QStringLiteral("pagesize=\"840h\",sectorsize=\"1000h\""),
                                    QStringLiteral("size"), value));
    // A real key after one or more false hits is still found.
    QVERIFY(CatalogueKeys::readKey(
        QStringLiteral("PageSize=\"840h\",SectorSize=\"1h\",size=\"8400000h\""),
        QStringLiteral("size"), value));
    QCOMPARE(value, QStringLiteral("8400000H"));
    QVERIFY(CatalogueKeys::readKey(QStringLiteral("size=\"20h\",PageSize=\"840h\""),
                                   QStringLiteral("size"), value));
    QCOMPARE(value, QStringLiteral("20H"));
    // Only letters make a longer key; a digit or a blank before the key does not.
    QVERIFY(CatalogueKeys::readKey(QStringLiteral("x1size=\"5h\""), QStringLiteral("size"), value));
    QCOMPARE(value, QStringLiteral("5H"));
    QVERIFY(!CatalogueKeys::readKey(QStringLiteral("XID1=\"5h\""), QStringLiteral("ID1"), value));
}

void TestDeviceItems::readKeyValueExtent()
{
    QString value;
    // Keys in any order and without separators.
    const QString line = QStringLiteral("size=\"10h\"Name=\"n\"BlockSize=\"\"");
    QVERIFY(CatalogueKeys::readKey(line, QStringLiteral("Name"), value));
    QCOMPARE(value, QStringLiteral("N"));
    QVERIFY(CatalogueKeys::readKey(line, QStringLiteral("BlockSize"), value));
    QVERIFY(value.isEmpty());
    // A value without a closing quote runs to the end of the line.
    QVERIFY(
        CatalogueKeys::readKey(QStringLiteral("Name=\"open end"), QStringLiteral("Name"), value));
    QCOMPARE(value, QStringLiteral("OPEN END"));
}

void TestDeviceItems::numberConventions()
{
    QCOMPARE(CatalogueKeys::hexWithOptionalSuffix(QStringLiteral("8400000h")), 0x8400000ull);
    QCOMPARE(CatalogueKeys::hexWithOptionalSuffix(QStringLiteral("8400000H")), 0x8400000ull);
    QCOMPARE(CatalogueKeys::hexWithOptionalSuffix(QStringLiteral("ff")), 0xFFull);
    QCOMPARE(CatalogueKeys::hexWithOptionalSuffix(QStringLiteral("100000000h")), 0x100000000ull);
    // The last character goes whatever it is: "ec" reads as 0x0E.
    QCOMPARE(CatalogueKeys::hexWithoutLastCharacter(QStringLiteral("ech")), 0xECull);
    QCOMPARE(CatalogueKeys::hexWithoutLastCharacter(QStringLiteral("ec")), 0x0Eull);
    QCOMPARE(CatalogueKeys::hexWithoutLastCharacter(QString()), 0ull);
    QCOMPARE(CatalogueKeys::hex(QStringLiteral("2")), 2ull);
    QCOMPARE(CatalogueKeys::decimal(QStringLiteral("10")), 10ll);
    // Text that is not a number reads as 0.
    QCOMPARE(CatalogueKeys::hexWithOptionalSuffix(QStringLiteral("12Gh")), 0ull);
    QCOMPARE(CatalogueKeys::decimal(QStringLiteral("4x")), 0ll);
    QCOMPARE(CatalogueKeys::decimal(QStringLiteral("A")), 0ll);
    // So does a number too large for its 32-bit field.
    QCOMPARE(CatalogueKeys::toUnsigned32(0xFFFFFFFFull), 0xFFFFFFFFu);
    QCOMPARE(CatalogueKeys::toUnsigned32(0x100000000ull), 0u);
    QCOMPARE(CatalogueKeys::toSigned32(0x7FFFFFFFull), 0x7FFFFFFF);
    QCOMPARE(CatalogueKeys::toSigned32(0x80000000ull), 0);
}

void TestDeviceItems::nandDefaults()
{
    const CDeviceItemNand item;
    QCOMPARE(item.kind, 0);
    QCOMPARE(item.speed, 10);
    QCOMPARE(item.algo, 0);
    QCOMPARE(item.size, 0ull);
    QCOMPARE(item.pageSize, 2112u);
    QCOMPARE(item.blockSize, 32);
    QCOMPARE(item.ce, 1);
    QCOMPARE(item.idCount, 5);
    QCOMPARE(item.pageClass, 1);
    for (int i = 0; i < CDeviceItemNand::IdBytes; ++i) {
        QCOMPARE(item.id[i], quint8(0xFF));
        QCOMPARE(item.idKnown[i], quint8(0));
    }
    for (int flag : item.initFlags)
        QCOMPARE(flag, 0);
}

void TestDeviceItems::nandFullLine()
{
    CDeviceItemNand item;
    QVERIFY(item.parseLine(k9f1g08));
    QCOMPARE(item.name, QStringLiteral("K9F1G08U0B"));
    QCOMPARE(item.manufacturer, QStringLiteral("SAMSUNG"));
    QCOMPARE(item.size, 0x8400000ull);
    QCOMPARE(item.pageSize, 0x840u);
    QCOMPARE(item.blockSize, 0x40);
    QCOMPARE(item.idCount, 5);
    QCOMPARE(item.pageClass, 1);
    const quint8 expected[] = {0xEC, 0xF1, 0x00, 0x95, 0x40};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(item.id[i], expected[i]);
        QCOMPARE(item.idKnown[i], quint8(1));
    }
    QCOMPARE(item.idKnown[5], quint8(0));
    QCOMPARE(item.id[5], quint8(0xFF));
    QVERIFY(item.model.isEmpty());
}

void TestDeviceItems::nandRejectedLines()
{
    CDeviceItemNand noName;
    QVERIFY(!noName.parseLine(QStringLiteral("MFG=\"X\",ID1=\"ech\",BlockSize=\"40h\"")));
    // Nothing else is read from a line without a name.
    QCOMPARE(noName.manufacturer, QString());
    QCOMPARE(noName.id[0], quint8(0xFF));

    CDeviceItemNand noBlockSize;
    QVERIFY(!noBlockSize.parseLine(QStringLiteral("Name=\"X\",ID1=\"ech\",PageSize=\"840h\"")));
    CDeviceItemNand heading;
    QVERIFY(!heading.parseLine(QStringLiteral("; NAND flash catalogue")));
    CDeviceItemNand empty;
    QVERIFY(!empty.parseLine(QString()));
}

void TestDeviceItems::nandIdsAndPageClass_data()
{
    QTest::addColumn<QString>("ids");
    QTest::addColumn<QString>("pageSize");
    QTest::addColumn<int>("idCount");
    QTest::addColumn<int>("pageClass");

    const QString two = QStringLiteral("ID1=\"ech\",ID2=\"75h\",");
    const QString five =
        QStringLiteral("ID1=\"ech\",ID2=\"75h\",ID3=\"1h\",ID4=\"2h\",ID5=\"3h\",");
    // Two IDs mark an old small-page chip: class 0 unless the page size says
    // otherwise, and a page of 16384 bytes or more does not.
    QTest::newRow("two IDs, no page size") << two << QString() << 2 << 0;
    QTest::newRow("two IDs, 16 KiB page") << two << QStringLiteral("4000h") << 2 << 0;
    QTest::newRow("two IDs, 17 KiB page") << two << QStringLiteral("4500h") << 2 << 0;
    QTest::newRow("two IDs, 2 KiB page") << two << QStringLiteral("840h") << 2 << 1;
    QTest::newRow("one ID") << QStringLiteral("ID1=\"ech\",") << QString() << 1 << 1;
    QTest::newRow("no ID") << QString() << QString() << 0 << 1;
    QTest::newRow("three IDs") << QStringLiteral("ID1=\"ech\",ID2=\"75h\",ID3=\"1h\",") << QString()
                               << 3 << 1;
    QTest::newRow("2047") << five << QStringLiteral("7FFh") << 5 << 0;
    QTest::newRow("2048") << five << QStringLiteral("800h") << 5 << 1;
    QTest::newRow("4095") << five << QStringLiteral("FFFh") << 5 << 1;
    QTest::newRow("4096") << five << QStringLiteral("1000h") << 5 << 2;
    QTest::newRow("16383") << five << QStringLiteral("3FFFh") << 5 << 2;
    QTest::newRow("16384 keeps the class") << five << QStringLiteral("4000h") << 5 << 1;
    // A key after a missing one is not read: IDs stop at the first gap.
    QTest::newRow("gap") << QStringLiteral("ID1=\"ech\",ID3=\"1h\",") << QString() << 1 << 1;
}

void TestDeviceItems::nandIdsAndPageClass()
{
    QFETCH(QString, ids);
    QFETCH(QString, pageSize);
    QFETCH(int, idCount);
    QFETCH(int, pageClass);
    QString line = QStringLiteral("Name=\"N\",") + ids + QStringLiteral("BlockSize=\"20h\"");
    if (!pageSize.isEmpty())
        line += QStringLiteral(",PageSize=\"%1\"").arg(pageSize);
    CDeviceItemNand item;
    QVERIFY(item.parseLine(line));
    QCOMPARE(item.idCount, idCount);
    QCOMPARE(item.pageClass, pageClass);
    for (int i = 0; i < CDeviceItemNand::IdBytes; ++i)
        QCOMPARE(item.idKnown[i], quint8(i < idCount ? 1 : 0));
}

void TestDeviceItems::nandEmptyIdIsSkipped()
{
    CDeviceItemNand item;
    QVERIFY(item.parseLine(QStringLiteral("Name=\"NAND 128MIB 1,8V 8-BIT 78H\",MFG=\"GENERIC\","
                                          "ID1=\"\",ID2=\"78h\",size=\"8400000h\","
                                          "PageSize=\"210h\",BlockSize=\"20h\"")));
    QCOMPARE(item.name, QStringLiteral("NAND 128MIB 1,8V 8-BIT 78H"));
    QCOMPARE(item.idCount, 2);
    QCOMPARE(item.idKnown[0], quint8(0));
    QCOMPARE(item.id[0], quint8(0xFF));
    QCOMPARE(item.idKnown[1], quint8(1));
    QCOMPARE(item.id[1], quint8(0x78));
    QCOMPARE(item.pageClass, 0);
    // Without its first ID byte the record matches no chip.
    QVERIFY(!item.matchId(bytes({0xFF, 0x78, 0, 0, 0, 0, 0})));
    QVERIFY(!item.matchId(bytes({0xEC, 0x78, 0, 0, 0, 0, 0})));
}

void TestDeviceItems::nandSpeedCeInitAlgo()
{
    const auto parsed = [](const QString &extra) {
        auto item = std::make_unique<CDeviceItemNand>();
        const bool ok = item->parseLine(QStringLiteral("Name=\"N\",BlockSize=\"40h\",") + extra);
        return ok ? std::move(item) : nullptr;
    };
    QCOMPARE(parsed(QStringLiteral("Speed=\"0\""))->speed, 10);
    QCOMPARE(parsed(QStringLiteral("Speed=\"11\""))->speed, 10);
    QCOMPARE(parsed(QStringLiteral("Speed=\"-3\""))->speed, 10);
    QCOMPARE(parsed(QStringLiteral("Speed=\"fast\""))->speed, 10);
    QCOMPARE(parsed(QStringLiteral("Speed=\"5\""))->speed, 5);
    QCOMPARE(parsed(QStringLiteral("Speed=\"1\""))->speed, 1);
    QCOMPARE(parsed(QStringLiteral("CE=\"3\""))->ce, 1);
    QCOMPARE(parsed(QStringLiteral("CE=\"2\""))->ce, 2);
    QCOMPARE(parsed(QStringLiteral("CE=\"4\""))->ce, 4);
    QCOMPARE(parsed(QStringLiteral("CE=\"two\""))->ce, 1);
    QCOMPARE(parsed(QStringLiteral("Algo=\"3h\""))->algo, 3);
    QCOMPARE(parsed(QStringLiteral("Algo=\"1A\""))->algo, 0x1A);
    QCOMPARE(parsed(QStringLiteral("BlockSize=\"zzh\""))->blockSize, 0x40);
    QCOMPARE(parsed(QString())->blockSize, 0x40);

    const std::array<int, 4> mixed{1, 2, 0, 2};
    QCOMPARE(parsed(QStringLiteral("Init=\"01x1\""))->initFlags, mixed);
    const std::array<int, 4> none{0, 0, 0, 0};
    QCOMPARE(parsed(QStringLiteral("Init=\"010\""))->initFlags, none);
    QCOMPARE(parsed(QStringLiteral("Init=\"01010\""))->initFlags, none);

    // Non-numbers read as 0.
    auto odd = std::make_unique<CDeviceItemNand>();
    QVERIFY(odd->parseLine(QStringLiteral("Name=\"N\",BlockSize=\"zzh\",size=\"big\"")));
    QCOMPARE(odd->blockSize, 0);
    QCOMPARE(odd->size, 0ull);
}

void TestDeviceItems::nandSizeAbsentBesidePageSize()
{
    CDeviceItemNand item;
    item.size = 1234;
    QVERIFY(item.parseLine(QStringLiteral("Name=\"N\",PageSize=\"840h\",BlockSize=\"40h\"")));
    QCOMPARE(item.size, 0ull);
    QCOMPARE(item.pageSize, 0x840u);
}

void TestDeviceItems::spiDefaults()
{
    const CDeviceItemSPIFlash item;
    QCOMPARE(item.kind, 1);
    QCOMPARE(item.speed, 10);
    QCOMPARE(item.sectorSize, 4096u);
    QCOMPARE(item.pageSize, 512u);
    QCOMPARE(item.sectorNum, 32);
    QCOMPARE(item.io, 1);
    QCOMPARE(item.initCount, 0);
    QCOMPARE(item.id, (std::array<quint8, 3>{0xFF, 0xFF, 0xFF}));
    QCOMPARE(item.readOpcode, quint8(0x03));
    QCOMPARE(item.eraseOpcode, quint8(0xD8));
    QCOMPARE(item.programOpcode, quint8(0x02));
    QCOMPARE(item.dualReadOpcode, quint8(0x3B));
    QCOMPARE(item.dualProgramOpcode, quint8(0xA2));
    QCOMPARE(item.quadReadOpcode, quint8(0x6B));
    QCOMPARE(item.quadProgramOpcode, quint8(0x32));
    QCOMPARE(item.statusOpcode, quint8(0x05));
    QCOMPARE(item.busyMask, quint8(0x01));
    QCOMPARE(item.readyValue, quint8(0x00));
}

void TestDeviceItems::spiFullLine()
{
    CDeviceItemSPIFlash item;
    QVERIFY(item.parseLine(w25q64));
    QCOMPARE(item.name, QStringLiteral("W25Q64FV"));
    QCOMPARE(item.manufacturer, QStringLiteral("WINBOND"));
    QCOMPARE(item.id, (std::array<quint8, 3>{0xEF, 0x40, 0x17}));
    QCOMPARE(item.size, 0x800000ull);
    QCOMPARE(item.sectorSize, 0x10000u);
    QCOMPARE(item.sectorNum, 0x80);
    QCOMPARE(item.pageSize, 0x200u);
    QCOMPARE(item.io, 4);

    // Absent IDs stay 0xFF.
    CDeviceItemSPIFlash partial;
    QVERIFY(partial.parseLine(QStringLiteral(
        "Name=\"P\",ID1=\"c2h\",size=\"20000h\",SectorSize=\"1000h\",SectorNum=\"20h\"")));
    QCOMPARE(partial.id, (std::array<quint8, 3>{0xC2, 0xFF, 0xFF}));
}

void TestDeviceItems::spiRejectedLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("accepted");
    const QString base =
        QStringLiteral("Name=\"T\",size=\"%1\",SectorSize=\"%2\",SectorNum=\"%3\"");
    QTest::newRow("consistent") << base.arg("400000h", "10000h", "40h") << true;
    QTest::newRow("count times sector differs from size")
        << base.arg("400000h", "10000h", "41h") << false;
    QTest::newRow("no size") << QStringLiteral("Name=\"T\",SectorSize=\"10000h\",SectorNum=\"40h\"")
                             << false;
    QTest::newRow("page larger than sector")
        << base.arg("400000h", "1000h", "400h") + QStringLiteral(",PageSize=\"2000h\"") << false;
    QTest::newRow("page equal to sector")
        << base.arg("400000h", "1000h", "400h") + QStringLiteral(",PageSize=\"1000h\"") << true;
    QTest::newRow("page 0") << base.arg("400000h", "10000h", "40h") +
                                   QStringLiteral(",PageSize=\"0h\"")
                            << false;
    QTest::newRow("sector smaller than default page") << base.arg("100h", "100h", "1h") << false;
    QTest::newRow("size beyond 32 bits") << base.arg("100000000h", "10000h", "10000h") << false;
    // A product that only fits by wrapping round 32 bits is no match for the size.
    QTest::newRow("wrapping product") << base.arg("10000h", "10000h", "10001h") << false;
    QTest::newRow("no name") << QStringLiteral("size=\"1000h\",SectorSize=\"1000h\","
                                               "SectorNum=\"1h\"")
                             << false;
    QTest::newRow("defaults only") << QStringLiteral("Name=\"T\"") << false;
    QTest::newRow("defaults and size") << QStringLiteral("Name=\"T\",size=\"20000h\"") << true;
}

void TestDeviceItems::spiRejectedLines()
{
    QFETCH(QString, line);
    QFETCH(bool, accepted);
    CDeviceItemSPIFlash item;
    QCOMPARE(item.parseLine(line), accepted);
}

void TestDeviceItems::spiInitCommands_data()
{
    QTest::addColumn<QString>("init");
    QTest::addColumn<QStringList>("commands"); // "opcode:data bytes" in hex

    QTest::newRow("one without data") << "B700" << QStringList{"b7:"};
    QTest::newRow("two") << "0600B700" << QStringList{"6:", "b7:"};
    QTest::newRow("one data byte") << "010100" << QStringList{"1:0"};
    QTest::newRow("trailing H") << "170180h" << QStringList{"17:80"};
    QTest::newRow("odd length ignored") << "B70" << QStringList{};
    QTest::newRow("odd after H ignored") << "B70H" << QStringList{};
    QTest::newRow("data past the end") << "0102AA" << QStringList{};
    QTest::newRow("count above 9") << "020A00000000000000000000" << QStringList{};
    QTest::newRow("stops at broken entry") << "B7000103" << QStringList{"b7:"};
    QTest::newRow("nine data bytes")
        << "0209010203040506070809" << QStringList{"2:1 2 3 4 5 6 7 8 9"};
    QTest::newRow("at most five") << "010002000300040005000600"
                                  << QStringList{"1:", "2:", "3:", "4:", "5:"};
    QTest::newRow("short rest") << "B70006" << QStringList{"b7:"};
    QTest::newRow("empty") << "" << QStringList{};
}

void TestDeviceItems::spiInitCommands()
{
    QFETCH(QString, init);
    QFETCH(QStringList, commands);
    CDeviceItemSPIFlash item;
    QVERIFY(item.parseLine(spiLine(QStringLiteral(",Init=\"%1\"").arg(init))));
    QStringList got;
    for (int i = 0; i < item.initCount; ++i) {
        const auto &command = item.initCommands[i];
        QStringList data;
        for (int j = 0; j < command.count; ++j)
            data << QString::number(command.data[j], 16);
        got << QString::number(command.opcode, 16) + QLatin1Char(':') + data.join(QLatin1Char(' '));
    }
    QCOMPARE(got, commands);
}

void TestDeviceItems::spiIoAndStatus()
{
    const auto parsed = [](const QString &extra) {
        auto item = std::make_unique<CDeviceItemSPIFlash>();
        return item->parseLine(spiLine(extra)) ? std::move(item) : nullptr;
    };
    QCOMPARE(parsed(QStringLiteral(",IO=\"2\""))->io, 2);
    QCOMPARE(parsed(QStringLiteral(",IO=\"4\""))->io, 4);
    QCOMPARE(parsed(QStringLiteral(",IO=\"3\""))->io, 1);
    QCOMPARE(parsed(QStringLiteral(",IO=\"quad\""))->io, 1);
    QCOMPARE(parsed(QStringLiteral(",Speed=\"0\""))->speed, 10);
    QCOMPARE(parsed(QStringLiteral(",Speed=\"11\""))->speed, 10);

    const auto status = parsed(QStringLiteral(",Status=\"70c080\""));
    QCOMPARE(status->statusOpcode, quint8(0x70));
    QCOMPARE(status->busyMask, quint8(0xC0));
    QCOMPARE(status->readyValue, quint8(0x80));
    for (const char *ignored : {"0501", "0501000", "05GG00", ""}) {
        const auto item = parsed(QStringLiteral(",Status=\"%1\"").arg(QLatin1String(ignored)));
        QCOMPARE(item->statusOpcode, quint8(0x05));
        QCOMPARE(item->busyMask, quint8(0x01));
        QCOMPARE(item->readyValue, quint8(0x00));
    }
    // An ID written without its "h" loses the last digit.
    CDeviceItemSPIFlash noSuffix;
    QVERIFY(noSuffix.parseLine(QStringLiteral(
        "Name=\"E\",ID1=\"ec\",ID2=\"38h\",size=\"1000h\",SectorSize=\"1000h\",SectorNum=\"1h\"")));
    QCOMPARE(noSuffix.id[0], quint8(0x0E));
    QCOMPARE(noSuffix.id[1], quint8(0x38));
}

void TestDeviceItems::spiDataFlashOverridesStatus()
{
    CDeviceItemSPIFlash item;
    QVERIFY(item.parseLine(QStringLiteral(
        "Name=\"AT45DB321D\",MFG=\"ATMEL\",ID1=\"1fh\",ID2=\"27h\",ID3=\"01h\",size=\"400000h\","
        "SectorSize=\"10000h\",SectorNum=\"40h\",PageSize=\"200h\",Algo=\"3h\","
        "Status=\"050100\"")));
    QCOMPARE(item.algo, 3);
    QCOMPARE(item.eraseOpcode, quint8(0x7C));
    QCOMPARE(item.statusOpcode, quint8(0xD7));
    QCOMPARE(item.busyMask, quint8(0x80));
    QCOMPARE(item.readyValue, quint8(0x80));

    CDeviceItemSPIFlash eeprom;
    QVERIFY(eeprom.parseLine(QStringLiteral("Name=\"M95320\",size=\"1000h\",SectorSize=\"1000h\","
                                            "SectorNum=\"1h\",PageSize=\"20h\",Algo=\"4h\"")));
    QCOMPARE(eeprom.algo, 4);
    QCOMPARE(eeprom.pageSize, 0x20u);
    QCOMPARE(eeprom.eraseOpcode, quint8(0xD8));
    QCOMPARE(eeprom.statusOpcode, quint8(0x05));
}

void TestDeviceItems::catalogueLines()
{
    CDeviceItemNand nand;
    QVERIFY(nand.parseLine(k9f1g08 + QStringLiteral(",Speed=\"5\",Algo=\"2h\",Init=\"0101\"")));
    // Written keys only, IDs and sizes in lower-case hex, the page size in upper case.
    QCOMPARE(nand.catalogueLine(),
             QStringLiteral("Name=\"K9F1G08U0B\",MFG=\"SAMSUNG\",ID1=\"ech\",ID2=\"f1h\","
                            "ID3=\"0h\",ID4=\"95h\",ID5=\"40h\",size=\"8400000h\","
                            "PageSize=\"840h\",BlockSize=\"40h\""));

    CDeviceItemNand twoCe;
    twoCe.name = QStringLiteral("X");
    twoCe.ce = 2;
    twoCe.pageSize = 0x10E0;
    twoCe.blockSize = 0x80;
    twoCe.size = 0x21C00000;
    twoCe.id = {0x98, 0xDC, 0x90, 0x26, 0x76, 0x16};
    twoCe.idKnown = {1, 1, 0, 1, 1, 1};
    // IDs stop at the first unknown one.
    QCOMPARE(twoCe.catalogueLine(),
             QStringLiteral("Name=\"X\",MFG=\"\",ID1=\"98h\",ID2=\"dch\",size=\"21c00000h\","
                            "PageSize=\"10E0h\",BlockSize=\"80h\",CE=\"2\""));
    twoCe.idKnown = {1, 1, 1, 1, 1, 1};
    QVERIFY(twoCe.catalogueLine().contains(QStringLiteral("ID5=\"76h\",ID6=\"16h\",size=")));

    CDeviceItemSPIFlash spi;
    QVERIFY(spi.parseLine(w25q64 + QStringLiteral(",Init=\"B700\",Speed=\"3\"")));
    QCOMPARE(spi.catalogueLine(),
             QStringLiteral("Name=\"W25Q64FV\",MFG=\"WINBOND\",ID1=\"efh\",ID2=\"40h\","
                            "ID3=\"17h\",size=\"800000h\",SectorSize=\"10000h\","
                            "SectorNum=\"80h\",IO=\"4\""));
    spi.io = 1;
    QVERIFY(!spi.catalogueLine().contains(QStringLiteral("IO=")));
}

void TestDeviceItems::catalogueLineRoundTrip()
{
    CDeviceItemNand nand;
    nand.name = QStringLiteral("MT29F4G08ABADA");
    nand.manufacturer = QStringLiteral("MICRON");
    nand.size = 0x21000000;
    nand.pageSize = 0x840;
    nand.blockSize = 0x40;
    nand.ce = 4;
    nand.id = {0x2C, 0xDC, 0x90, 0x95, 0x56, 0xFF};
    nand.idKnown = {1, 1, 1, 1, 1, 0};
    CDeviceItemNand nandBack;
    QVERIFY(nandBack.parseLine(nand.catalogueLine()));
    QCOMPARE(nandBack.name, nand.name);
    QCOMPARE(nandBack.manufacturer, nand.manufacturer);
    QCOMPARE(nandBack.size, nand.size);
    QCOMPARE(nandBack.pageSize, nand.pageSize);
    QCOMPARE(nandBack.blockSize, nand.blockSize);
    QCOMPARE(nandBack.ce, nand.ce);
    QCOMPARE(nandBack.id, nand.id);
    QCOMPARE(nandBack.idKnown, nand.idKnown);
    QCOMPARE(nandBack.catalogueLine(), nand.catalogueLine());

    CDeviceItemSPIFlash spi;
    QVERIFY(spi.parseLine(QStringLiteral("Name=\"Z\",ID1=\"0h\",ID2=\"aah\",size=\"40000h\","
                                         "SectorSize=\"8000h\",SectorNum=\"8h\",IO=\"2\"")));
    CDeviceItemSPIFlash spiBack;
    QVERIFY(spiBack.parseLine(spi.catalogueLine()));
    QCOMPARE(spiBack.id, spi.id);
    QCOMPARE(spiBack.id[0], quint8(0));
    QCOMPARE(spiBack.io, 2);
    QCOMPARE(spiBack.catalogueLine(), spi.catalogueLine());
}

void TestDeviceItems::printInfoLines()
{
    CDeviceItemNand nand;
    QVERIFY(nand.parseLine(k9f1g08));
    QCOMPARE(printed(nand, false),
             (QStringList{" K9F1G08U0B", "  Size = 8400000h  SAMSUNG",
                          " ID1 = ECh ID2 = F1h ID3 = 0h ID4 = 95h ID5 = 40h "}));
    QCOMPARE(printed(nand, true), (QStringList{" K9F1G08U0B", "  Size = 8400000h  SAMSUNG"}));

    CDeviceItemNand big;
    big.name = QStringLiteral("BIG");
    big.size = 0x100000010ull; // only the low 32 bits are shown
    big.idCount = 2;
    big.id = {0xAD, 0x73, 0, 0, 0, 0};
    QCOMPARE(printed(big, false), (QStringList{" BIG", "  Size = 10h  ", " ID1 = ADh ID2 = 73h "}));

    CDeviceItemSPIFlash spi;
    QVERIFY(spi.parseLine(w25q64));
    QCOMPARE(printed(spi, false), (QStringList{" W25Q64FV", "  Size = 800000h  WINBOND",
                                               "  ID1 =EFh,ID2 =40h ID3 =17h"}));
    QCOMPARE(printed(spi, true), (QStringList{" W25Q64FV", "  Size = 800000h  WINBOND"}));
}

void TestDeviceItems::namesOfPlaceholders()
{
    CDeviceItemNand onfi;
    onfi.name = ProgramObjects::onfiDeviceName();
    onfi.manufacturer = QStringLiteral("MICRON");
    QCOMPARE(onfi.displayName(), QStringLiteral("NAND MICRON "));
    QCOMPARE(onfi.shortName(), QStringLiteral("NAND MICRON "));
    onfi.model = QStringLiteral("MT29F4G08ABADAWP");
    QCOMPARE(onfi.displayName(), QStringLiteral("NAND MICRON MT29F4G08ABADAWP"));
    QCOMPARE(onfi.shortName(), QStringLiteral("MT29F4G08ABADAWP"));

    CDeviceItemNand plain;
    QVERIFY(plain.parseLine(k9f1g08));
    plain.model = QStringLiteral("ignored");
    QCOMPARE(plain.displayName(), QStringLiteral("K9F1G08U0B"));
    QCOMPARE(plain.shortName(), QStringLiteral("K9F1G08U0B"));

    CDeviceItemSPIFlash sfdp;
    sfdp.name = ProgramObjects::sfdpDeviceName();
    sfdp.manufacturer = QStringLiteral("WINBOND");
    QCOMPARE(sfdp.displayName(), QStringLiteral("SPI WINBOND"));
    sfdp.size = 0x800000;
    QCOMPARE(sfdp.displayName(), QStringLiteral("SPI WINBOND Size=0x800000"));
    QCOMPARE(sfdp.shortName(), QStringLiteral("SPI SFDP"));

    CDeviceItemSPIFlash spi;
    QVERIFY(spi.parseLine(w25q64));
    QCOMPARE(spi.displayName(), QStringLiteral("W25Q64FV"));
    QCOMPARE(spi.shortName(), QStringLiteral("W25Q64FV"));
}

void TestDeviceItems::nandMatchId()
{
    CDeviceItemNand full;
    QVERIFY(full.parseLine(k9f1g08));
    QVERIFY(full.matchId(bytes({0xEC, 0xF1, 0x00, 0x95, 0x40, 0x12, 0x34})));
    QVERIFY(!full.matchId(bytes({0xEC, 0xF1, 0x00, 0x15, 0x40, 0x12, 0x34})));
    QVERIFY(!full.matchId(bytes({0xEC, 0xF1, 0x00, 0x95, 0x41, 0x12, 0x34})));

    CDeviceItemNand twoIds;
    QVERIFY(
        twoIds.parseLine(QStringLiteral("Name=\"S\",ID1=\"ech\",ID2=\"75h\",BlockSize=\"20h\"")));
    QVERIFY(twoIds.matchId(bytes({0xEC, 0x75, 0x00, 0x00, 0x00, 0x00, 0x00})));
    QVERIFY(twoIds.matchId(bytes({0xEC, 0x75, 0xA5, 0x5A, 0x12, 0x34, 0x56})));
    QVERIFY(!twoIds.matchId(bytes({0xEC, 0x76, 0xA5, 0x5A, 0x12, 0x34, 0x56})));

    // A record without ID1 matches no chip, not even one answering FF.
    CDeviceItemNand noId;
    QVERIFY(noId.parseLine(QStringLiteral("Name=\"N\",BlockSize=\"20h\"")));
    QVERIFY(!noId.matchId(bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})));
    QVERIFY(!noId.matchId(bytes({0xEC, 0x75, 0, 0, 0, 0, 0})));
}

void TestDeviceItems::nandMatchRepeatedId()
{
    // A chip with a four-byte ID that repeats it from the fifth byte on.
    CDeviceItemNand item;
    item.id = {0x98, 0xD3, 0x90, 0x26, 0x76, 0x15};
    item.idKnown = {1, 1, 1, 1, 1, 1};
    item.idCount = 4;
    QVERIFY(item.matchId(bytes({0x98, 0xD3, 0x90, 0x26, 0x76, 0x15, 0x00})));
    QVERIFY(item.matchId(bytes({0x98, 0xD3, 0x90, 0x26, 0x98, 0xD3, 0x00})));
    QVERIFY(!item.matchId(bytes({0x98, 0xD3, 0x90, 0x26, 0x98, 0xD4, 0x00})));
    QVERIFY(!item.matchId(bytes({0x98, 0xD3, 0x90, 0x27, 0x98, 0xD3, 0x00})));
    // Only right after `idCount` bytes.
    item.idCount = 5;
    QVERIFY(!item.matchId(bytes({0x98, 0xD3, 0x90, 0x26, 0x98, 0xD3, 0x00})));
    // A repeat after five bytes reaches the seventh read byte.
    QVERIFY(item.matchId(bytes({0x98, 0xD3, 0x90, 0x26, 0x76, 0x98, 0xD3})));
    QVERIFY(!item.matchId(bytes({0x98, 0xD3, 0x90, 0x26, 0x76, 0x98, 0xD2})));
}

void TestDeviceItems::nandMatchShortRead()
{
    CDeviceItemNand item;
    QVERIFY(item.parseLine(k9f1g08));
    // A byte the chip did not send matches nothing.
    QVERIFY(!item.matchId(bytes({0xEC, 0xF1, 0x00, 0x95})));
    QVERIFY(!item.matchId(QByteArray()));
    QVERIFY(item.matchId(bytes({0xEC, 0xF1, 0x00, 0x95, 0x40})));

    CDeviceItemNand repeat;
    repeat.id = {0x98, 0xD3, 0x90, 0x26, 0x76, 0x15};
    repeat.idKnown = {1, 1, 1, 1, 1, 1};
    repeat.idCount = 4;
    QVERIFY(!repeat.matchId(bytes({0x98, 0xD3, 0x90, 0x26, 0x98})));
}

void TestDeviceItems::spiMatchId()
{
    CDeviceItemSPIFlash item;
    QVERIFY(item.parseLine(w25q64));
    QVERIFY(item.matchId(bytes({0xEF, 0x40, 0x17})));
    QVERIFY(item.matchId(bytes({0xEF, 0x40, 0x17, 0x99})));
    QVERIFY(!item.matchId(bytes({0xEF, 0x40, 0x18})));
    QVERIFY(!item.matchId(bytes({0xEF, 0x40})));

    // A chip answering FF FF FF matches no record, not even one of FF FF FF.
    CDeviceItemSPIFlash blank;
    QVERIFY(blank.parseLine(QStringLiteral("Name=\"M95320\",ID1=\"ffh\",ID2=\"ffh\",ID3=\"ffh\","
                                           "size=\"1000h\",SectorSize=\"1000h\",SectorNum=\"1h\","
                                           "PageSize=\"20h\"")));
    QVERIFY(!blank.matchId(bytes({0xFF, 0xFF, 0xFF})));
    QVERIFY(!item.matchId(bytes({0xFF, 0x40, 0x17})));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestDeviceItems)
#include "tst_device_items.moc"
