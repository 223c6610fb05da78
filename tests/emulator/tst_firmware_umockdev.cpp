#include "TestHome.h"

#include "ConfigReader.h"
#include "FirmwareImages.h"
#include "KvusbState.h"
#include "ProgrammerFirmware.h"
#include "UmockdevProgrammer.h"
#include "kvusb.h"

#include <QCoreApplication>
#include <QTest>

#include <vector>

using namespace kvemu;

// The emulated programmer's real firmware side on the umockdev front end:
// kvusb, through the real libusb-1.0, downloads an image and then talks the
// command protocol with the chips of a profile.
namespace {

using Bytes = std::vector<unsigned char>;

Bytes packet(std::initializer_list<int> bytes, std::size_t length)
{
    Bytes p;
    for (const int b : bytes)
        p.push_back(static_cast<unsigned char>(b));
    p.resize(std::max(length, p.size()), 0);
    return p;
}

int send(const Bytes &p)
{
    return func2(0, const_cast<unsigned char *>(p.data()), int(p.size()));
}

Bytes receive(int pipe, int length)
{
    Bytes buffer(std::size_t(length), 0xEE);
    const int got = func1(pipe, buffer.data(), length);
    if (got < 0)
        return {0xDE, 0xAD};
    buffer.resize(std::size_t(got));
    return buffer;
}

struct Programmer
{
    explicit Programmer(const char *profile)
        : config(ConfigReader::read(profile)),
          firmware(std::make_shared<ProgrammerFirmware>(config.firmware,
                                                        std::make_unique<ChipBoard>(config.board))),
          bus(config.usb, firmware)
    {}
    EmulatorConfig config;
    std::shared_ptr<ProgrammerFirmware> firmware;
    UmockdevProgrammer bus;
};

// Closes kvusb's device before the programmer goes (declare it after).
struct CloseAtEnd
{
    ~CloseAtEnd() { func5(); }
};

bool download(Programmer &p, FirmwareImageId image)
{
    func5();
    const std::uint32_t before = p.bus.enumerationCount();
    if (func3(firmwareImage(image).records, 1) != 1)
        return false;
    return p.bus.waitForEnumeration(before + 1, 10000) && func4() != 0;
}

} // namespace

class TestFirmwareUmockdev : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void nandSessionThroughLibusb();
    void spiSessionOnTheOlderPart();
};

void TestFirmwareUmockdev::init()
{
    QVERIFY2(UmockdevProgrammer::preloadActive(), "run with libumockdev-preload.so.0 preloaded");
    kvusb_set_download_pause_ms(50);
}

void TestFirmwareUmockdev::nandSessionThroughLibusb()
{
    Programmer p(R"(
[chip]
family = nand
id = EC F1 00 95 40
blocks = 32
onfi = yes
manufacturer = SAMSUNG
model = K9F1G08U0B
bad_blocks = 3
)");
    CloseAtEnd closer;
    QCOMPARE(func4(), 1);
    QVERIFY(download(p, NandImage1));
    QCOMPARE(func6(), 512);
    QCOMPARE(p.firmware->runningImage()->name, std::string("NAND image 1"));
    QCOMPARE(send(packet({0x18, 0x00, 0x02, 0x00, 0x0A}, 9)), 9);
    QCOMPARE(receive(2, 8), (Bytes{0x00, 0x01, 0x56, 0x4B, 0xDD, 0x40, 0x06, 0x17}));
    QCOMPARE(send(packet({0x29, 0x01}, 6)), 6);
    QCOMPARE(receive(2, 6), (Bytes{0xEC, 0xF1, 0x00, 0x95, 0x40, 0xEC}));
    QCOMPARE(send(packet({0x2A, 0x01}, 6)), 6);
    const Bytes onfi = receive(3, 512);
    QCOMPARE(onfi.size(), std::size_t(512));
    QCOMPARE(Bytes(onfi.begin() + 44, onfi.begin() + 54),
             Bytes({'K', '9', 'F', '1', 'G', '0', '8', 'U', '0', 'B'}));
    // Two pages programmed and read back through libusb.
    Bytes data(2 * 2112);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 13 + 1);
    Bytes padded = data;
    padded.resize(4608, 0);
    QCOMPARE(send(packet({0x1C, 4, 0, 0, 0x40, 0, 0, 0, 0x40, 0x08, 2, 1}, 20)), 20);
    QCOMPARE(send(padded), 4608);
    QCOMPARE(send(packet({0x32}, 1)), 1);
    QCOMPARE(receive(3, 2), (Bytes{'D', 0}));
    QCOMPARE(send(packet({0x27, 4, 0, 0, 0x40, 0, 0, 0, 0x40, 0x08, 2, 1}, 20)), 20);
    Bytes back = receive(3, 4096);
    const Bytes rest = receive(3, 4096);
    back.insert(back.end(), rest.begin(), rest.end());
    QCOMPARE(back.size(), std::size_t(4608));
    QCOMPARE(Bytes(back.begin(), back.begin() + 4224), data);
    QCOMPARE(receive(3, 512), Bytes()); // nothing pending: at once, empty
    QCOMPARE(send(packet({0x37, 4, 0, 0, 3 * 64, 0, 0, 0, 0x00, 0x02}, 20)), 20);
    QCOMPARE(receive(3, 512), Bytes(512, 0x00));
    const auto lines = p.firmware->log().lines();
    QCOMPARE(lines.front(), std::string("DOWNLOAD NAND image 1"));
    QVERIFY(std::find(lines.begin(), lines.end(), std::string("DATA 4608")) != lines.end());
    QCOMPARE(lines.back(),
             std::string("CMD 37 04 00 00 c0 00 00 00 00 02 00 00 00 00 00 00 00 00 00 00"));
}

void TestFirmwareUmockdev::spiSessionOnTheOlderPart()
{
    Programmer p(R"(
[programmer]
vendor = 0x0547
[chip]
family = dataflash
id = 1F 26 00 01 00
)");
    CloseAtEnd closer;
    QCOMPARE(func4(), 2);
    QVERIFY(download(p, SpiImage3));
    QCOMPARE(func6(), 64);
    QCOMPARE(send(packet({0x29, 0x9F}, 64)), 64);
    QCOMPARE(receive(2, 3), (Bytes{0x1F, 0x26, 0x00}));
    QCOMPARE(send(packet({0x31, 0x01, 0xD7, 0x01}, 64)), 64);
    QCOMPARE(receive(2, 1), Bytes{0xAC});
    // One 528-byte page at page 2 (2 x 1024), polled on D7h bit 7.
    Bytes page(528);
    for (std::size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<unsigned char>(255 - i);
    QCOMPARE(
        send(packet(
            {0x1C, 0x10, 3, 0x00, 0x08, 0x00, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0xD7, 0x80, 0x80}, 20)),
        20);
    QCOMPARE(send(page), 528);
    QCOMPARE(send(packet({0x27, 0x03, 3, 0x00, 0x08, 0x00, 0, 0x10, 0x02}, 20)), 20);
    QCOMPARE(receive(3, 528), page);
    Bytes stored(528);
    QVERIFY(p.firmware->chipContents(0, 2 * 528, stored));
    QCOMPARE(stored, page);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestFirmwareUmockdev)
#include "tst_firmware_umockdev.moc"
