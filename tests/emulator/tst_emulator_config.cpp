#include "TestHome.h"

#include "ConfigError.h"
#include "ConfigReader.h"
#include "IniFile.h"
#include "OnfiParameterPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace kvemu;

namespace {

// The ConfigError a profile text gives, or "" when it reads.
QString errorOf(const std::string &text, const QString &folder = {})
{
    try {
        ConfigReader::read(text, folder.toStdString());
    } catch (const ConfigError &e) {
        return QString::fromStdString(e.what());
    }
    return {};
}

} // namespace

// Emulator profiles: the INI text, every key, and the errors of bad files.
class TestEmulatorConfig : public QObject
{
    Q_OBJECT
private slots:
    void iniSyntax();
    void emptyProfileIsABareProgrammerWithAnEmptySocket();
    void programmerAndFaults();
    void nandChipEnablesWithOverrides();
    void serialChips();
    void imagePathStartsAtTheProfile();
    void errorsNameTheLine_data();
    void errorsNameTheLine();
    void shippedProfilesBuild_data();
    void shippedProfilesBuild();
    void nandProfilesMatchTheCatalogue_data();
    void nandProfilesMatchTheCatalogue();
    void identificationFollowsTheChip_data();
    void identificationFollowsTheChip();
    void emptySfdpFileIsAnError();
};

void TestEmulatorConfig::iniSyntax()
{
    const IniFile ini =
        IniFile::parse("; comment\n# another\n[Chip]\n  Family =  nand ; trailing\n"
                       "model = \"K9F1G08U0B ; not a comment\"\nid=EC F1\r\n\n[ce0]\n");
    QCOMPARE(ini.sections().size(), std::size_t(2));
    const IniFile::Section *chip = ini.section("chip");
    QVERIFY(chip);
    QCOMPARE(chip->line, 3);
    QCOMPARE(chip->entries.size(), std::size_t(3));
    QCOMPARE(chip->entries[0].key, std::string("family"));
    QCOMPARE(chip->entries[0].value, std::string("nand"));
    QCOMPARE(chip->entries[0].line, 4);
    QCOMPARE(chip->entries[1].value, std::string("K9F1G08U0B ; not a comment"));
    QCOMPARE(chip->entries[2].value, std::string("EC F1"));
    QVERIFY(ini.section("ce0"));
    QVERIFY(!ini.section("ce1"));
    QCOMPARE(IniFile::parse("").sections().size(), std::size_t(0));
}

void TestEmulatorConfig::emptyProfileIsABareProgrammerWithAnEmptySocket()
{
    const EmulatorConfig c = ConfigReader::read("");
    QCOMPARE(c.usb.vendorId, std::uint16_t(0x04B4));
    QCOMPARE(c.usb.speed, LinkSpeed::High);
    QVERIFY(c.usb.runningImage.empty());
    QCOMPARE(c.board.family, ChipFamily::None);
    QCOMPARE(c.firmware.adapter, AdapterKind::Nand);
    QVERIFY(!c.firmware.realistic);
    QCOMPARE(c.firmware.failRead, 0u);
    QCOMPARE(c.usb.unplugAfterBytes, std::uint64_t(0));
}

void TestEmulatorConfig::programmerAndFaults()
{
    const EmulatorConfig c = ConfigReader::read(R"(
[programmer]
vendor = 0x0547
firmware = NAND image 2
adapter = spi
board = 2
identification = 0xDEADBEEF
timing = realistic
high_speed_rate = 35000000
full_speed_rate = 900000.5
reenumeration_ms = 120
[faults]
unplug_after_bytes = 1048576
replug_ms = 250
fail_download = 17
fail_read = 3
)");
    QCOMPARE(c.usb.vendorId, std::uint16_t(0x0547));
    QCOMPARE(c.usb.productId, UsbConfig::OlderProductId);
    QCOMPARE(c.usb.speed, LinkSpeed::Full); // the older part's default
    QCOMPARE(c.usb.runningImage, std::string("NAND image 2"));
    QVERIFY(c.firmware.startsRunning);
    QCOMPARE(c.firmware.adapter, AdapterKind::Spi);
    QCOMPARE(c.firmware.board, 2u);
    QCOMPARE(c.firmware.identification, 0xDEADBEEFu);
    QVERIFY(c.firmware.realistic);
    QCOMPARE(c.firmware.highSpeedRate, 35e6);
    QCOMPARE(c.firmware.fullSpeedRate, 900000.5);
    QCOMPARE(c.usb.reenumerationDelayMs, 120u);
    QCOMPARE(c.usb.unplugAfterBytes, std::uint64_t(1048576));
    QCOMPARE(c.replugDelayMs, 250u);
    QCOMPARE(c.usb.failDownloadRequest, 17u);
    QCOMPARE(c.firmware.failRead, 3u);
    // The link can be given against the vendor's default.
    QCOMPARE(ConfigReader::read("[programmer]\nlink = full\n").usb.speed, LinkSpeed::Full);
}

void TestEmulatorConfig::nandChipEnablesWithOverrides()
{
    const EmulatorConfig c = ConfigReader::read(R"(
[chip]
family = nand
id = EC F1 00 95 40
data_bytes = 4096
spare_bytes = 224
pages_per_block = 128
blocks = 2048
chip_enables = 4
onfi = yes
bad_blocks = 1, 10-12
flip_seed = 99
flip_rate = 0.25
erase_us = 3500
[ce1]
id = 2C DC 90 A6 54
bad_blocks = 7
[ce3]
present = no
)");
    QCOMPARE(c.board.family, ChipFamily::Nand);
    QCOMPARE(c.firmware.adapter, AdapterKind::Nand);
    QCOMPARE(c.board.chipEnables.size(), std::size_t(4));
    const auto &ce0 = *c.board.chipEnables[0];
    QCOMPARE(ce0.id, (std::vector<std::uint8_t>{0xEC, 0xF1, 0x00, 0x95, 0x40}));
    QCOMPARE(ce0.pageBytes(), 4320u);
    QCOMPARE(ce0.pagesPerBlock, 128u);
    QCOMPARE(ce0.blocks, 2048u);
    QVERIFY(ce0.onfi);
    QCOMPARE(ce0.factoryBadBlocks, (std::set<std::uint32_t>{1, 10, 11, 12}));
    QCOMPARE(ce0.flipSeed, std::uint64_t(99));
    QCOMPARE(ce0.flipRate, 0.25);
    QCOMPARE(ce0.eraseTime, chips::Nanos(3500) * chips::Microsecond);
    const auto &ce1 = *c.board.chipEnables[1];
    QCOMPARE(ce1.id[0], std::uint8_t(0x2C));
    QCOMPARE(ce1.factoryBadBlocks, (std::set<std::uint32_t>{7}));
    QCOMPARE(ce1.blocks, 2048u); // the rest as in [chip]
    QCOMPARE(c.board.chipEnables[2]->id, ce0.id);
    QVERIFY(!c.board.chipEnables[3]);
}

void TestEmulatorConfig::serialChips()
{
    EmulatorConfig c = ConfigReader::read(
        "[chip]\nfamily = spi\nid = C2 20 19\nsize = 32M\nsfdp = no\nquad = no\nstatus1 = 0x3C\n");
    QCOMPARE(c.board.family, ChipFamily::SpiNor);
    QCOMPARE(c.firmware.adapter, AdapterKind::Spi);
    QCOMPARE(c.board.nor.size, std::uint64_t(32) << 20);
    QVERIFY(!c.board.nor.sfdp);
    QVERIFY(!c.board.nor.quad);
    QVERIFY(c.board.nor.dual);
    QCOMPARE(c.board.nor.status1, std::uint8_t(0x3C));
    c = ConfigReader::read(
        "[chip]\nfamily = dataflash\nid = 1F 27 01\npages = 8192\npage_size = 512\n");
    QCOMPARE(c.board.family, ChipFamily::DataFlash);
    QCOMPARE(c.board.dataFlash.pages, 8192u);
    QCOMPARE(c.board.dataFlash.standardPageSize, 528u);
    QVERIFY(c.board.dataFlash.binaryPages);
    c = ConfigReader::read("[chip]\nfamily = eeprom\nsize = 64K\npage_size = 128\nid = 20 00 12\n");
    QCOMPARE(c.board.eeprom.size, 65536u);
    QCOMPARE(c.board.eeprom.effectiveAddressBytes(), 2u);
    QCOMPARE(c.board.eeprom.id.size(), std::size_t(3));
}

void TestEmulatorConfig::imagePathStartsAtTheProfile()
{
    QTemporaryDir dir;
    const QString profile = dir.filePath("p.ini");
    QFile file(profile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[chip]\nfamily = eeprom\nimage = chip.img\n");
    file.close();
    const EmulatorConfig c = ConfigReader::readFile(profile.toStdString());
    QCOMPARE(QString::fromStdString(c.board.imagePath), dir.filePath("chip.img"));
    QCOMPARE(ConfigReader::read("[chip]\nfamily = eeprom\nimage = /abs/x.img\n", "/elsewhere")
                 .board.imagePath,
             std::string("/abs/x.img"));
    try {
        ConfigReader::readFile(dir.filePath("missing.ini").toStdString());
        QFAIL("a missing profile reads");
    } catch (const ConfigError &e) {
        QVERIFY(std::string(e.what()).find("cannot read") != std::string::npos);
    }
}

void TestEmulatorConfig::errorsNameTheLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("no equals") << "[chip]\nfamily nand\n"
                               << "line 2: expected key = value";
    QTest::newRow("key first") << "family = nand\n"
                               << "line 1: key \"family\" before the first";
    QTest::newRow("open section") << "[chip\n"
                                  << "line 1: a section line must end";
    QTest::newRow("unknown section") << "[socket]\n"
                                     << "line 1: unknown section [socket]";
    QTest::newRow("section twice") << "[chip]\n[chip]\n"
                                   << "line 2: section [chip] given twice";
    QTest::newRow("key twice") << "[faults]\nfail_read = 1\nfail_read = 2\n"
                               << "line 3: key \"fail_read\" given twice";
    QTest::newRow("unknown key") << "[programmer]\nspeed = 12\n"
                                 << "line 2: unknown key \"speed\" in [programmer]";
    QTest::newRow("key of another family")
        << "[chip]\nfamily = nand\nid = EC\nsfdp = yes\n"
        << "line 4: unknown key \"sfdp\" in [chip] of family nand";
    QTest::newRow("bad family") << "[chip]\nfamily = nor\n"
                                << "line 2: family must be";
    QTest::newRow("bad number") << "[faults]\nfail_read = lots\n"
                                << "line 2: \"lots\" is not a number";
    QTest::newRow("number too big") << "[programmer]\nboard = 3\n"
                                    << "line 2: \"3\" is larger than 2";
    QTest::newRow("bad boolean") << "[chip]\nfamily = spi\nid = EF 40 17\nsfdp = maybe\n"
                                 << "line 4: \"maybe\" is not yes or no";
    QTest::newRow("bad bytes") << "[chip]\nfamily = spi\nid = EF 4G 17\n"
                               << "line 3: \"EF 4G 17\" is not a list";
    QTest::newRow("bad fraction") << "[chip]\nfamily = nand\nid = EC\nflip_rate = 2\n"
                                  << "line 4: \"2\" is not a fraction";
    QTest::newRow("bad range") << "[chip]\nfamily = nand\nid = EC\nbad_blocks = 9-3\n"
                               << "line 4: bad block range";
    QTest::newRow("bad image name") << "[programmer]\nfirmware = NAND image 7\n"
                                    << "line 2: firmware must be";
    QTest::newRow("bad link") << "[programmer]\nlink = super\n"
                              << "line 2: link must be high or full";
    QTest::newRow("bad timing") << "[programmer]\ntiming = slow\n"
                                << "line 2: timing must be";
    QTest::newRow("bad rate") << "[programmer]\nhigh_speed_rate = -4\n"
                              << "line 2: \"-4\" is not a rate";
    QTest::newRow("missing SFDP file")
        << "[chip]\nfamily = spi\nid = EF 40 17\nsfdp_file = /nonexistent/chip.sfdp\n"
        << "line 4: cannot read the SFDP file \"/nonexistent/chip.sfdp\"";
    QTest::newRow("SFDP file of a DataFlash")
        << "[chip]\nfamily = dataflash\nid = 1F 26\nsfdp_file = x\n"
        << "line 4: unknown key \"sfdp_file\" in [chip] of family dataflash";
    QTest::newRow("no id") << "[chip]\nfamily = spi\nsize = 8M\n"
                           << "line 1: [chip] needs the chip's id";
    QTest::newRow("NAND without id") << "[chip]\nfamily = nand\nblocks = 8\n"
                                     << "line 1: [ce0]: the chip needs its id";
    QTest::newRow("chip enable out of range") << "[chip]\nfamily = nand\nid = EC\n[ce1]\n"
                                              << "line 4: [ce1] but chip_enables is 1";
    QTest::newRow("chip enable of a serial chip") << "[chip]\nfamily = spi\nid = EF 40 17\n[ce0]\n"
                                                  << "line 4: [ce0] applies to NAND chips only";
    QTest::newRow("no chip enables") << "[chip]\nfamily = nand\nid = EC\nchip_enables = 0\n"
                                     << "line 4: chip_enables must be 1 to 4";
    QTest::newRow("bad block past the end")
        << "[chip]\nfamily = nand\nid = EC\nblocks = 8\nbad_blocks = 8\n"
        << "a bad block lies past the last block";
    QTest::newRow("NOR size") << "[chip]\nfamily = spi\nid = EF 40 17\nsize = 3000\n"
                              << "line 1: [chip]: the size must be a power of two";
    QTest::newRow("DataFlash page") << "[chip]\nfamily = dataflash\nid = 1F\npage_size = 500\n"
                                    << "line 4: a DataFlash page holds";
    QTest::newRow("EEPROM page") << "[chip]\nfamily = eeprom\nsize = 512\npage_size = 100\n"
                                 << "the page size must divide the size";
    QTest::newRow("NUL byte") << QString("[chip]\nfamily = n") + QChar(0) + "and\n"
                              << "line 2: a NUL byte";
    QTest::newRow("second chip of another family")
        << "[chip]\nfamily = nand\nid = EC F1\n[second_chip]\nfamily = spi\nid = EF 40 17\n"
        << "line 5: [second_chip] holds a spi chip, but the chip it swaps with is nand: both "
           "must be of one family";
    QTest::newRow("second chip beside an empty socket")
        << "[second_chip]\nfamily = nand\nid = EC F1\n"
        << "line 2: [second_chip] holds a nand chip, but the chip it swaps with is none";
    QTest::newRow("second chip sharing the image file")
        << "[chip]\nfamily = eeprom\nimage = /tmp/one.img\n[second_chip]\nimage = /tmp/one.img\n"
        << "line 4: [second_chip] needs an image file of its own";
    QTest::newRow("second chip takes no chip enable keys")
        << "[chip]\nfamily = nand\nid = EC F1\n[second_chip]\nid = EC F1\npresent = no\n"
        << "line 6: unknown key \"present\" in [second_chip] of family nand";
    QTest::newRow("second chip needs its own id")
        << "[chip]\nfamily = nand\nid = EC F1\nbad_blocks = 3\n[second_chip]\nbad_blocks = 5\n"
        << "line 5: [second_chip]: the chip needs its id bytes";
    QTest::newRow("second serial chip needs its own id")
        << "[chip]\nfamily = spi\nid = EF 40 17\n[second_chip]\nsize = 8M\n"
        << "line 4: [second_chip] needs the chip's id bytes";
    QTest::newRow("second chip's bad block past its end")
        << "[chip]\nfamily = nand\nid = EC\nblocks = 8\n[second_chip]\nid = EC\nblocks = "
           "4\nbad_blocks = 5\n"
        << "line 5: [second_chip]: a bad block lies past the last block";
}

void TestEmulatorConfig::errorsNameTheLine()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    const QByteArray bytes = text.toLatin1();
    const QString got = errorOf(std::string(bytes.constData(), std::size_t(bytes.size())));
    QVERIFY2(got.contains(error), qPrintable("got: " + got));
}

void TestEmulatorConfig::shippedProfilesBuild_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("chipEnables");
    QTest::addColumn<QByteArray>("id");
    QTest::newRow("2-CE NAND with ONFI") << "nand-k9f1g08u0b-2ce.ini" << int(ChipFamily::Nand) << 2
                                         << QByteArray("\xEC\xF1\x00\x95\x40", 5);
    QTest::newRow("unknown NAND") << "nand-unknown-no-onfi.ini" << int(ChipFamily::Nand) << 1
                                  << QByteArray("\x9B\xF1\x80\x15\x42", 5);
    QTest::newRow("NAND answering 0xFF")
        << "nand-no-chip.ini" << int(ChipFamily::Nand) << 0 << QByteArray();
    QTest::newRow("K9F1G08U0B") << "nand-k9f1g08u0b.ini" << int(ChipFamily::Nand) << 1
                                << QByteArray("\xEC\xF1\x00\x95\x40", 5);
    QTest::newRow("ID of two records") << "nand-hy27uf081g2.ini" << int(ChipFamily::Nand) << 1
                                       << QByteArray("\xAD\xF1\x80\x1D", 4);
    QTest::newRow("unknown NAND with ONFI") << "nand-onfi-unknown.ini" << int(ChipFamily::Nand) << 1
                                            << QByteArray("\x2C\x38\x00\x26\x85", 5);
    QTest::newRow("weak blocks") << "nand-weak-blocks.ini" << int(ChipFamily::Nand) << 1
                                 << QByteArray("\xC2\xF1\x80\x95\x02", 5);
    QTest::newRow("1 GiB class") << "nand-1gib.ini" << int(ChipFamily::Nand) << 1
                                 << QByteArray("\x20\xD3\x14\xA5\x34", 5);
    QTest::newRow("smart copy") << "nand-smart-copy.ini" << int(ChipFamily::Nand) << 1
                                << QByteArray("\xEC\xF1\x00\x95\x40", 5);
    QTest::newRow("read flips") << "nand-flips.ini" << int(ChipFamily::Nand) << 1
                                << QByteArray("\xEC\xF1\x00\x95\x40", 5);
    QTest::newRow("W25Q64FV") << "spi-w25q64fv.ini" << int(ChipFamily::SpiNor) << 0
                              << QByteArray("\xEF\x40\x17", 3);
    QTest::newRow("unknown SPI with SFDP")
        << "spi-unknown-sfdp.ini" << int(ChipFamily::SpiNor) << 0 << QByteArray("\xE5\x40\x18", 3);
    QTest::newRow("AT45DB161D") << "dataflash-at45db161d.ini" << int(ChipFamily::DataFlash) << 0
                                << QByteArray("\x1F\x26\x00\x01\x00", 5);
    QTest::newRow("25xx040") << "eeprom-25xx040.ini" << int(ChipFamily::Eeprom) << 0
                             << QByteArray();
}

void TestEmulatorConfig::shippedProfilesBuild()
{
    QFETCH(QString, file);
    QFETCH(int, family);
    QFETCH(int, chipEnables);
    QFETCH(QByteArray, id);
    const std::string path = QDir(KVEMU_PROFILE_DIR).filePath(file).toStdString();
    const EmulatorConfig c = ConfigReader::readFile(path);
    QCOMPARE(int(c.board.family), family);
    QVERIFY(c.board.imagePath.empty()); // shipped profiles never write into the source tree
    QVERIFY(!c.secondBoard || c.secondBoard->imagePath.empty());
    ChipBoard board(c.board);
    const std::vector<std::uint8_t> expected(id.begin(), id.end());
    if (c.board.family == ChipFamily::Nand) {
        int present = 0;
        for (unsigned ce = 0; ce < board.chipEnables(); ++ce)
            if (board.nand(ce)) {
                ++present;
                QCOMPARE(board.nand(ce)->config().id, expected);
            }
        QCOMPARE(present, chipEnables);
    } else if (c.board.family == ChipFamily::SpiNor) {
        QCOMPARE(c.board.nor.id, expected);
        QVERIFY(c.board.nor.sfdp);
    } else if (c.board.family == ChipFamily::DataFlash) {
        QCOMPARE(c.board.dataFlash.id, expected);
        QCOMPARE(c.board.dataFlash.standardPageSize, 528u);
        QVERIFY(!c.board.dataFlash.binaryPages);
    } else {
        QCOMPARE(c.board.eeprom.size, 512u);
        QVERIFY(c.board.eeprom.id.empty());
    }
}

void TestEmulatorConfig::nandProfilesMatchTheCatalogue_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("records"); // the records whose ID bytes the chip answers
    QTest::addColumn<bool>("onfi");
    QTest::newRow("K9F1G08U0B") << "nand-k9f1g08u0b.ini" << QStringList{"K9F1G08U0B"} << false;
    QTest::newRow("two K9F1G08U0B")
        << "nand-k9f1g08u0b-2ce.ini" << QStringList{"K9F1G08U0B"} << true;
    QTest::newRow("HY27UF081G2") << "nand-hy27uf081g2.ini"
                                 << QStringList{"HY27UF081G2A", "HY27UF081G2B"} << false;
    QTest::newRow("unknown with ONFI") << "nand-onfi-unknown.ini" << QStringList{} << true;
    QTest::newRow("unknown without ONFI") << "nand-unknown-no-onfi.ini" << QStringList{} << false;
    QTest::newRow("weak blocks") << "nand-weak-blocks.ini" << QStringList{"MX30LF1G18AC"} << false;
    QTest::newRow("1 GiB class") << "nand-1gib.ini" << QStringList{"NAND08GW3C2B"} << false;
    QTest::newRow("smart copy") << "nand-smart-copy.ini" << QStringList{"K9F1G08U0B"} << false;
    QTest::newRow("read flips") << "nand-flips.ini" << QStringList{"K9F1G08U0B"} << false;
}

void TestEmulatorConfig::nandProfilesMatchTheCatalogue()
{
    QFETCH(QString, file);
    QFETCH(QStringList, records);
    QFETCH(bool, onfi);
    const EmulatorConfig c =
        ConfigReader::readFile(QDir(KVEMU_PROFILE_DIR).filePath(file).toStdString());
    ChipBoard board(c.board);
    chips::NandChip *chip = board.nand(0);
    QVERIFY(chip);
    const chips::NandChipConfig &n = chip->config();
    // What READ ID answers, as detection reads it (six bytes).
    std::vector<std::uint8_t> id(6);
    chip->readId(id);

    QFile catalogue(KORVANE_NAND_CATALOGUE);
    QVERIFY(catalogue.open(QIODevice::ReadOnly | QIODevice::Text));
    const QRegularExpression item(QStringLiteral("(\\w+)=\"([^\"]*)\""));
    QStringList matched;
    while (!catalogue.atEnd()) {
        const QString line = QString::fromLatin1(catalogue.readLine());
        QMap<QString, QString> values;
        for (auto it = item.globalMatch(line); it.hasNext();) {
            const auto m = it.next();
            values[m.captured(1)] = m.captured(2);
        }
        const auto hex = [](const QString &text) {
            return text.chopped(1).toULongLong(nullptr, 16);
        };
        if (values.value("ID1").isEmpty())
            continue;
        bool same = true;
        for (int i = 0; i < 5 && same; ++i) {
            const QString byte = values.value(QStringLiteral("ID%1").arg(i + 1));
            same = byte.isEmpty() || hex(byte) == id[std::size_t(i)];
        }
        if (!same)
            continue;
        matched << values.value("Name");
        // The record describes the chip in the socket.
        QCOMPARE(hex(values.value("PageSize")), quint64(n.pageBytes()));
        QCOMPARE(hex(values.value("BlockSize")), quint64(n.pagesPerBlock));
        QCOMPARE(hex(values.value("size")), quint64(n.totalBytes()));
    }
    QCOMPARE(matched, records);

    std::vector<std::uint8_t> page(256);
    chip->readParameterPage(0, page);
    QCOMPARE(page[0] == 'O' && page[1] == 'N' && page[2] == 'F' && page[3] == 'I', onfi);
    if (onfi)
        QCOMPARE(unsigned(page[254] | (page[255] << 8)),
                 unsigned(chips::OnfiParameterPage::crc16(
                     std::span<const std::uint8_t>(page.data(), 254))));
}

void TestEmulatorConfig::identificationFollowsTheChip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("word");
    QTest::addColumn<int>("adapter");
    const quint32 nandUnit = FirmwareSettings::NandIdentification;
    const quint32 spiUnit = FirmwareSettings::SpiIdentification;
    QTest::newRow("empty socket") << "" << nandUnit << int(AdapterKind::Nand);
    QTest::newRow("NAND") << "[chip]\nfamily = nand\nid = EC F1\n"
                          << nandUnit << int(AdapterKind::Nand);
    QTest::newRow("SPI NOR") << "[chip]\nfamily = spi\nid = EF 40 17\n"
                             << spiUnit << int(AdapterKind::Spi);
    QTest::newRow("DataFlash") << "[chip]\nfamily = dataflash\nid = 1F 26 00\n"
                               << spiUnit << int(AdapterKind::Spi);
    QTest::newRow("EEPROM") << "[chip]\nfamily = eeprom\n" << spiUnit << int(AdapterKind::Spi);
    QTest::newRow("empty socket, SPI adapter")
        << "[programmer]\nadapter = spi\n[chip]\nfamily = none\n"
        << spiUnit << int(AdapterKind::Spi);
    // The wrong adapter on the NAND unit: the program reports it.
    QTest::newRow("NAND on an SPI adapter")
        << "[programmer]\nadapter = spi\n[chip]\nfamily = nand\nid = EC F1\n"
        << nandUnit << int(AdapterKind::Spi);
    QTest::newRow("SPI NOR without adapter")
        << "[programmer]\nadapter = none\n[chip]\nfamily = spi\nid = EF 40 17\n"
        << spiUnit << int(AdapterKind::None);
    QTest::newRow("named word wins")
        << "[programmer]\nidentification = 0x4B560100\n[chip]\nfamily = spi\nid = EF 40 17\n"
        << nandUnit << int(AdapterKind::Spi);
}

void TestEmulatorConfig::identificationFollowsTheChip()
{
    QFETCH(QString, text);
    QFETCH(quint32, word);
    QFETCH(int, adapter);
    const EmulatorConfig c = ConfigReader::read(text.toStdString());
    QCOMPARE(c.firmware.identification, word);
    QCOMPARE(int(c.firmware.adapter), adapter);
}

void TestEmulatorConfig::emptySfdpFileIsAnError()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile empty(dir.filePath("empty.sfdp"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    const QString got =
        errorOf("[chip]\nfamily = spi\nid = EF 40 17\nsfdp_file = empty.sfdp\n", dir.path());
    QVERIFY2(got.contains("line 4: the SFDP file") && got.contains("must hold 1 to 65536 bytes"),
             qPrintable(got));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestEmulatorConfig)
#include "tst_emulator_config.moc"
