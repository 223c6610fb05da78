#include "EmulatorTestSupport.h"
#include "TestHome.h"

#include "Descriptors.h"
#include "FirmwareImage.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>

#include <cstring>
#include <functional>
#include <random>

using namespace kvemu;
using namespace EmulatorTest;

using Patch = std::function<void(Bytes &)>;
Q_DECLARE_METATYPE(Patch)

namespace {

constexpr std::size_t High = 0x0120; // where image() puts the high-speed block
constexpr std::size_t Full = 0x0160;
constexpr std::size_t Device = 0x0100;

std::optional<firmware::ParsedImage> parse(const Bytes &ram, LinkSpeed speed = LinkSpeed::High)
{
    std::string error;
    auto parsed = firmware::parse(ram, speed, error);
    if (!parsed && error.empty())
        qWarning("parse failed without saying why");
    return parsed;
}

std::string parseError(const Bytes &ram)
{
    std::string error;
    return firmware::parse(ram, LinkSpeed::High, error) ? std::string() : error;
}

const char *const ImageNames[] = {"NAND image 1", "NAND image 2", "SPI image 0", "SPI image 1",
                                  "SPI image 2",  "SPI image 3",  "SPI image 4"};
const char *const HexFiles[] = {"nand1", "nand2", "spi0", "spi1", "spi2", "spi3", "spi4"};

} // namespace

class TestFirmwareImage : public QObject
{
    Q_OBJECT
private slots:
    void validImageParses_data();
    void validImageParses();
    void brokenImagesAreRefused_data();
    void brokenImagesAreRefused();
    void acceptedVariants();
    void garbageNeverReadsOutOfBounds();
    void singleByteDamage();
    void namesMapToImages();
    void builtImagesMatchTheLayout();
    void shippedImagesParse();
};

void TestFirmwareImage::validImageParses_data()
{
    QTest::addColumn<char>("family");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::newRow("NAND 1") << 'N' << 1 << "NAND image 1";
    QTest::newRow("NAND 2") << 'N' << 2 << "NAND image 2";
    QTest::newRow("SPI 0") << 'S' << 0 << "SPI image 0";
    QTest::newRow("SPI 4") << 'S' << 4 << "SPI image 4";
}

void TestFirmwareImage::validImageParses()
{
    QFETCH(char, family);
    QFETCH(int, number);
    QFETCH(QString, name);
    const Bytes ram = image(family, std::uint8_t(number), name.toStdString());
    for (LinkSpeed speed : {LinkSpeed::High, LinkSpeed::Full}) {
        const auto parsed = parse(ram, speed);
        QVERIFY(parsed);
        QCOMPARE(char(parsed->image.family), family);
        QCOMPARE(parsed->image.number, number);
        QCOMPARE(QString::fromStdString(parsed->image.name), name);
        QCOMPARE(toBytes(parsed->descriptors.device),
                 toBytes(deviceDescriptor(ImageVendor, ImageProduct)));
        const std::uint16_t packet = speed == LinkSpeed::High ? 512 : 64;
        QCOMPARE(toBytes(parsed->descriptors.configuration), toBytes(configurationBlock(packet)));
        const InterfaceSetting *alt0 = parsed->descriptors.layout.setting(0, 0);
        QVERIFY(alt0);
        QCOMPARE(alt0->endpoints.size(), 4u);
        QCOMPARE(alt0->endpoints[2], (EndpointInfo{0x86, 0x02, packet}));
    }
}

void TestFirmwareImage::brokenImagesAreRefused_data()
{
    QTest::addColumn<Patch>("patch");
    const auto at = [](std::size_t where, Bytes bytes) {
        return Patch([where, bytes](Bytes &ram) { put(ram, where, bytes); });
    };
    const auto word = [](std::size_t where, std::uint16_t value) {
        return Patch([where, value](Bytes &ram) { put16(ram, where, value); });
    };
    // signature block
    QTest::newRow("RAM ends inside the block") << Patch([](Bytes &ram) { ram.resize(0xA0); });
    QTest::newRow("magic damaged") << at(0x87, {'2'});
    QTest::newRow("unknown family") << at(0x88, {'X'});
    QTest::newRow("NAND image 0") << at(0x89, {0});
    QTest::newRow("NAND image 3") << at(0x89, {3});
    QTest::newRow("SPI image 5") << at(0x88, {'S', 5});
    QTest::newRow("empty name") << at(0x90, {0});
    QTest::newRow("control character in name") << at(0x92, {0x07});
    QTest::newRow("bytes after the name's NUL") << at(0xAE, {'x'});
    QTest::newRow("non-ASCII name") << at(0x90, {0xC3, 0xA4});
    // device descriptor
    QTest::newRow("device descriptor beyond RAM") << word(0x8A, 0xFFFF);
    QTest::newRow("device descriptor cut by RAM end") << word(0x8A, 0x01F0);
    QTest::newRow("device bLength 17") << at(Device, {17});
    QTest::newRow("device bDescriptorType 2") << at(Device + 1, {2});
    QTest::newRow("device bMaxPacketSize0 63") << at(Device + 7, {63});
    QTest::newRow("device without configurations") << at(Device + 17, {0});
    // configuration blocks
    QTest::newRow("configuration beyond RAM") << word(0x8C, 0x8000);
    QTest::newRow("configuration header cut by RAM end") << word(0x8C, 0x01FC);
    QTest::newRow("configuration runs past RAM") << Patch([](Bytes &ram) {
        Bytes block = configurationBlock(512);
        block.resize(0x20); // a sound header whose block would end beyond RAM
        put(ram, 0x01E0, block);
        put16(ram, 0x8C, 0x01E0);
    });
    QTest::newRow("configuration bLength 8") << at(High, {8});
    QTest::newRow("configuration bDescriptorType 4") << at(High + 1, {4});
    QTest::newRow("wTotalLength below the header") << word(High + 2, 8);
    QTest::newRow("wTotalLength absurd") << word(High + 2, 3000);
    QTest::newRow("wTotalLength cuts an endpoint") << word(High + 2, 45);
    QTest::newRow("wTotalLength takes trailing zeros") << word(High + 2, 56);
    QTest::newRow("bNumInterfaces 2") << at(High + 4, {2});
    QTest::newRow("bConfigurationValue 0") << at(High + 5, {0});
    QTest::newRow("bNumEndpoints 5") << at(High + 13, {5});
    QTest::newRow("interface 1 only") << at(High + 11, {1});
    QTest::newRow("endpoint before any interface") << at(High + 10, {0x24});
    QTest::newRow("endpoint address 0") << at(High + 20, {0x00});
    QTest::newRow("endpoint address reserved bits") << at(High + 20, {0x12});
    QTest::newRow("endpoint packet size 0") << word(High + 22, 0);
    QTest::newRow("endpoint packet size 2048") << word(High + 22, 2048);
    QTest::newRow("endpoint twice") << at(High + 27, {0x02});
    QTest::newRow("endpoint bLength 6") << at(High + 18, {6});
    QTest::newRow("descriptor bLength 0") << at(High + 18, {0});
    QTest::newRow("descriptor bLength past the block") << at(High + 39, {40});
    QTest::newRow("device descriptor nested") << at(High + 19, {1});
    QTest::newRow("full-speed block broken") << at(Full + 1, {9});
}

void TestFirmwareImage::brokenImagesAreRefused()
{
    QFETCH(Patch, patch);
    Bytes ram = image();
    patch(ram);
    const std::string error = parseError(ram);
    QVERIFY2(!error.empty(), "a broken image parsed");
}

void TestFirmwareImage::acceptedVariants()
{
    // A name of 32 characters leaves no room for a NUL.
    Bytes ram = image('N', 1, std::string(32, 'n'));
    auto parsed = parse(ram);
    QVERIFY(parsed);
    QCOMPARE(parsed->image.name.size(), 32u);

    // Class-specific descriptors and a second alternate setting are read past.
    Layout roomy;
    roomy.size = 0x0400;
    ram = image('N', 1, "NAND image 1", roomy);
    Bytes block = configurationBlock(512);
    const Bytes extra = {5, 0x24, 0x01, 0x02, 0x03,                      // class-specific
                         9, 4,    0,    1,    1,    0xFF, 0xFF, 0xFF, 0, // interface 0, alt 1
                         7, 5,    0x81, 2,    0x00, 0x02, 0};            // bulk 0x81 IN
    block.insert(block.begin() + 18, extra.begin(), extra.begin() + 5);
    block.insert(block.end(), extra.begin() + 5, extra.end());
    put16(block, 2, static_cast<std::uint16_t>(block.size()));
    put(ram, 0x0200, block);
    put16(ram, 0x8C, 0x0200);
    parsed = parse(ram);
    QVERIFY(parsed);
    QCOMPARE(parsed->descriptors.configuration.size(), block.size());
    QCOMPARE(parsed->descriptors.layout.settings.size(), 2u);
    QCOMPARE(parsed->descriptors.layout.setting(0, 0)->endpoints.size(), 4u);
    QCOMPARE(parsed->descriptors.layout.setting(0, 1)->endpoints[0].address, 0x81);

    // Descriptors may sit anywhere in RAM, up to its last byte.
    Layout late;
    late.size = 0x4000;
    late.device = 0x3F00;
    late.highSpeed = 0x4000 - 46 - 46;
    late.fullSpeed = 0x4000 - 46;
    QVERIFY(parse(image('S', 0, "SPI image 0", late)));
}

void TestFirmwareImage::garbageNeverReadsOutOfBounds()
{
    std::mt19937 random(99);
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes ram(random() % 600);
        for (auto &b : ram)
            b = static_cast<std::uint8_t>(random());
        if (ram.size() >= 0xB0 && round % 3 != 0) {
            const char magic[] = "KVFWSIG1";
            std::copy(magic, magic + 8, ram.begin() + 0x80);
            ram[0x88] = 'N';
            ram[0x89] = 1;
            ram[0x90] = 'x';
            std::fill(ram.begin() + 0x91, ram.begin() + 0xB0, 0);
            // Addresses near the end of this RAM, where a careless read runs off.
            for (std::size_t field : {0x8A, 0x8C, 0x8E})
                put16(ram, field, static_cast<std::uint16_t>(ram.size() - random() % 64));
        }
        refused += !parseError(ram).empty();
    }
    QCOMPARE(refused, 3000);
}

void TestFirmwareImage::singleByteDamage()
{
    const Bytes good = image();
    for (std::size_t at = 0x80; at < 0x190; ++at) {
        for (int value = 0; value < 256; value += 3) {
            Bytes ram = good;
            ram[at] = static_cast<std::uint8_t>(value);
            std::string error;
            const auto parsed = firmware::parse(ram, LinkSpeed::High, error);
            if (at < 0x88 && ram[at] != good[at])
                QVERIFY2(!parsed, "damaged magic accepted");
            if (!parsed)
                continue;
            // Whatever still parses describes exactly what RAM holds.
            const std::size_t device = ram[0x8A] | (ram[0x8B] << 8);
            const std::size_t high = ram[0x8C] | (ram[0x8D] << 8);
            QCOMPARE(toBytes(parsed->descriptors.device),
                     toBytes(Bytes(ram.begin() + static_cast<std::ptrdiff_t>(device),
                                   ram.begin() + static_cast<std::ptrdiff_t>(device + 18))));
            QCOMPARE(parsed->descriptors.configuration.size(),
                     std::size_t(ram[high + 2] | (ram[high + 3] << 8)));
        }
    }
}

void TestFirmwareImage::namesMapToImages()
{
    for (const char *name : ImageNames) {
        const auto info = firmware::infoFromName(name);
        QVERIFY2(info, name);
        QCOMPARE(QString::fromStdString(info->name), QString::fromLatin1(name));
        QCOMPARE(firmware::productId(*info), (static_cast<unsigned>(name[0]) << 8) |
                                                 unsigned(name[std::strlen(name) - 1] - '0'));
    }
    QCOMPARE(firmware::productId(*firmware::infoFromName("NAND image 1")), 0x4E01);
    QCOMPARE(firmware::productId(*firmware::infoFromName("SPI image 3")), 0x5303);
    for (const char *bad : {"", "NAND image", "NAND image 0", "NAND image 12", "SPI image 9",
                            "SPI image x", "nand image 1", "NAND  image 1", "EEPROM image 1"})
        QVERIFY2(!firmware::infoFromName(bad), bad);
}

void TestFirmwareImage::builtImagesMatchTheLayout()
{
    for (const char *name : ImageNames) {
        const ImageInfo info = *firmware::infoFromName(name);
        for (std::uint16_t vendor : {UsbConfig::Fx2VendorId, UsbConfig::OlderVendorId}) {
            const Bytes ram = firmware::build(info, vendor);
            QVERIFY(ram.size() <= 0x2000); // fits the older part's RAM
            for (LinkSpeed speed : {LinkSpeed::High, LinkSpeed::Full}) {
                const auto parsed = parse(ram, speed);
                QVERIFY2(parsed, name);
                QCOMPARE(parsed->image, info);
                QCOMPARE(toBytes(parsed->descriptors.device),
                         toBytes(deviceDescriptor(vendor, firmware::productId(info))));
                QCOMPARE(toBytes(parsed->descriptors.configuration),
                         toBytes(configurationBlock(speed == LinkSpeed::High ? 512 : 64)));
            }
        }
    }
}

void TestFirmwareImage::shippedImagesParse()
{
    const QDir folder(QStringLiteral(KORVANE_SHIPPED_FIRMWARE_DIR));
    if (!folder.exists(QStringLiteral("nand1.hex")))
        QSKIP("no shipped firmware images in " KORVANE_SHIPPED_FIRMWARE_DIR);
    for (std::size_t i = 0; i < std::size(HexFiles); ++i) {
        Bytes ram(0x4000, 0);
        QVERIFY2(loadIntelHex(folder.filePath(QString::fromLatin1(HexFiles[i]) + ".hex"), ram),
                 HexFiles[i]);
        const ImageInfo expected = *firmware::infoFromName(ImageNames[i]);
        const Bytes built = firmware::build(expected, UsbConfig::Fx2VendorId);
        for (LinkSpeed speed : {LinkSpeed::High, LinkSpeed::Full}) {
            const auto parsed = parse(ram, speed);
            QVERIFY2(parsed, HexFiles[i]);
            QCOMPARE(parsed->image, expected);
            // A programmer started "with firmware running" shows what a download shows.
            const auto own = parse(built, speed);
            QCOMPARE(toBytes(parsed->descriptors.device), toBytes(own->descriptors.device));
            QCOMPARE(toBytes(parsed->descriptors.configuration),
                     toBytes(own->descriptors.configuration));
        }
    }
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestFirmwareImage)

#include "tst_firmware_image.moc"
