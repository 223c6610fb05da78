#include "ProgrammerTestSupport.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kvemu;
using namespace ProgrammerTest;

namespace {

const char *const Nor8M = R"(
[chip]
family = spi
id = EF 40 17
size = 8M
)";

Bytes readCommand(int opcode, std::uint32_t address, std::uint32_t count, int mode,
                  int addressBytes = 3)
{
    Bytes p = packet({0x27, opcode, addressBytes}, 20);
    for (int i = 0; i < addressBytes; ++i)
        p[3 + std::size_t(i)] = std::uint8_t(address >> (8 * (addressBytes - 1 - i)));
    for (int i = 0; i < 4; ++i)
        p[7 + std::size_t(i)] = std::uint8_t(count >> (8 * i));
    p[15] = std::uint8_t(mode);
    return p;
}

Bytes eraseCommand(int writeEnable, int opcode, std::uint32_t address, int status = 0x05,
                   int mask = 0x01, int ready = 0x00)
{
    return packet({0x1B, writeEnable, opcode, 3, int(address >> 16), int((address >> 8) & 0xFF),
                   int(address & 0xFF), 0, status, mask, ready},
                  20);
}

Bytes programCommand(int byte1, std::uint32_t address, int inner, int outer, int byte15,
                     int status = 0x05, int mask = 0x01, int ready = 0x00, int addressBytes = 3)
{
    Bytes p = packet({0x1C, byte1, addressBytes}, 20);
    for (int i = 0; i < addressBytes; ++i)
        p[3 + std::size_t(i)] = std::uint8_t(address >> (8 * (addressBytes - 1 - i)));
    p[10] = std::uint8_t(inner);
    p[11] = std::uint8_t(outer);
    p[15] = std::uint8_t(byte15);
    p[16] = std::uint8_t(status);
    p[17] = std::uint8_t(mask);
    p[18] = std::uint8_t(ready);
    return p;
}

Bytes ramp(std::size_t length, unsigned start = 0)
{
    Bytes b(length);
    for (std::size_t i = 0; i < length; ++i)
        b[i] = static_cast<std::uint8_t>(start + i * 3 + (i >> 8));
    return b;
}

Bytes readAll(Rig &rig, std::size_t length, std::size_t chunk = 512)
{
    Bytes all;
    while (all.size() < length) {
        const Bytes part = rig.answer(std::min(chunk, length - all.size()));
        if (part.empty())
            break;
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

bool isError(const std::string &line, const char *reason)
{
    return line.rfind("ERROR ", 0) == 0 && line.find(reason) != std::string::npos;
}

} // namespace

// The SPI images' commands against the serial chips: identification, SFDP,
// reads by opcode and line mode, erase and program with write enable and
// status polling, DataFlash and EEPROM programming, start-up commands.
class TestSpiProtocol : public QObject
{
    Q_OBJECT
private slots:
    void jedecId();
    void sfdpTable();
    void readsByOpcodeAndLineMode_data();
    void readsByOpcodeAndLineMode();
    void eraseWithWriteEnableAndPolling();
    void programInPagesOf256();
    void programOnFourLines();
    void pageCountOfProgram_data();
    void pageCountOfProgram();
    void failedPollsAreCountedAtTheEnd();
    void dataFlashProgramAndSectorZero();
    void dataFlashStatusTellsThePageSize_data();
    void dataFlashStatusTellsThePageSize();
    void eepromPagesWithAddressBit8();
    void startUpCommandsGoToTheChip();
    void malformedPackets_data();
    void malformedPackets();
    void fourByteAddressesAbove16MiB_data();
    void fourByteAddressesAbove16MiB();
    void refusedProgramTakesItsData();
    void dataFlashSectorZeroPair_data();
    void dataFlashSectorZeroPair();
    void sfdpFromAFile();
};

void TestSpiProtocol::jedecId()
{
    Rig rig(Nor8M, "SPI image 0");
    rig.send(packet({0x29, 0x9F}, 64));
    QCOMPARE(rig.answer(3, 0x86), (Bytes{0xEF, 0x40, 0x17}));
    rig.send(packet({0x29, 0x9F}, 10));
    QCOMPARE(rig.answer(16, 0x86), (Bytes{0xEF, 0x40, 0x17}));
    Rig empty("", "SPI image 0");
    empty.send(packet({0x29, 0x9F}, 10));
    QCOMPARE(empty.answer(3), Bytes(3, 0xFF));
    Rig nand("[chip]\nfamily = nand\nid = EC F1 00 95 40\nblocks = 16\n", "SPI image 0");
    nand.send(packet({0x29, 0x9F}, 10));
    QCOMPARE(nand.answer(3), Bytes(3, 0xFF)); // a NAND chip is not on the SPI bus
}

void TestSpiProtocol::sfdpTable()
{
    Rig rig(Nor8M, "SPI image 0");
    rig.send(packet({0x2A}, 6));
    const Bytes table = readAll(rig, 2048, 2048);
    QCOMPARE(table.size(), std::size_t(2048));
    QCOMPARE(Bytes(table.begin(), table.begin() + 4), (Bytes{'S', 'F', 'D', 'P'}));
    const std::size_t basic = table[12] | (table[13] << 8) | (table[14] << 16);
    const std::uint32_t density = table[basic + 4] | (table[basic + 5] << 8) |
                                  (table[basic + 6] << 16) |
                                  (std::uint32_t(table[basic + 7]) << 24);
    QCOMPARE(density, 0x03FFFFFFu);
    Rig plain(std::string(Nor8M) + "sfdp = no\n", "SPI image 0");
    plain.send(packet({0x2A}, 6));
    QCOMPARE(readAll(plain, 2048, 2048), Bytes(2048, 0xFF));
}

void TestSpiProtocol::readsByOpcodeAndLineMode_data()
{
    QTest::addColumn<int>("opcode");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("addressBytes");
    QTest::addColumn<int>("shift"); // data offset the master sees; -1: nothing usable
    QTest::newRow("03 single") << 0x03 << 0 << 3 << 0;
    QTest::newRow("3B two lines") << 0x3B << 1 << 3 << 0;
    QTest::newRow("6B four lines") << 0x6B << 2 << 3 << 0;
    QTest::newRow("0B single, no dummy sent") << 0x0B << 0 << 3 << -2;
    QTest::newRow("6B on one line") << 0x6B << 0 << 3 << -1;
    QTest::newRow("03 with four address bytes") << 0x03 << 0 << 4 << 1;
}

void TestSpiProtocol::readsByOpcodeAndLineMode()
{
    QFETCH(int, opcode);
    QFETCH(int, mode);
    QFETCH(int, addressBytes);
    QFETCH(int, shift);
    Rig rig(Nor8M, "SPI image 0");
    rig.send(programCommand(0x02, 0x001000, 4, 1, 0));
    rig.send(ramp(1024));
    const std::uint32_t address = addressBytes == 4 ? 0x00001000u << 8 : 0x001000u;
    rig.send(readCommand(opcode, address, 1000, mode, addressBytes));
    QCOMPARE(rig.firmware->pendingAnswerBytes(), std::uint64_t(1000));
    const Bytes got = readAll(rig, 1000, 300);
    QCOMPARE(got.size(), std::size_t(1000));
    const Bytes data = ramp(1024);
    if (shift == -1) {
        QCOMPARE(got, Bytes(1000, 0xFF));
    } else if (shift == -2) {
        // The chip waits for a dummy byte the firmware does not send.
        QCOMPARE(got[0], std::uint8_t(0xFF));
        QCOMPARE(Bytes(got.begin() + 1, got.end()), Bytes(data.begin(), data.begin() + 999));
    } else {
        QCOMPARE(got, Bytes(data.begin() + shift, data.begin() + shift + 1000));
    }
}

void TestSpiProtocol::eraseWithWriteEnableAndPolling()
{
    Rig rig(Nor8M, "SPI image 0");
    rig.send(programCommand(0x02, 0x010000, 1, 1, 0));
    rig.send(Bytes(256, 0x00));
    rig.send(eraseCommand(0x00, 0xD8, 0x010000)); // no write enable: ignored
    QCOMPARE(rig.answer(2), (Bytes{0x00, 0x00}));
    QCOMPARE(rig.chip(0, 0x010000, 1), Bytes(1, 0x00));
    rig.send(eraseCommand(0x06, 0xD8, 0x010000));
    QCOMPARE(rig.answer(2), (Bytes{0x00, 0x00}));
    QCOMPARE(rig.chip(0, 0x010000, 256), Bytes(256, 0xFF));
    // Polling for a bit the chip never sets times out.
    rig.send(eraseCommand(0x06, 0x20, 0x020000, 0x05, 0x80, 0x80));
    QCOMPARE(rig.answer(2), (Bytes{0x00, 0x01}));
    QCOMPARE(rig.log().back().rfind("CMD 1b 06 20 03 02 00 00", 0), std::size_t(0));
}

void TestSpiProtocol::programInPagesOf256()
{
    Rig rig(Nor8M, "SPI image 0");
    rig.send(programCommand(0x02, 0x000180, 3, 1, 0)); // 3 pages from 0x180
    QCOMPARE(rig.firmware->expectedProgramData(), std::uint64_t(768));
    const Bytes data = ramp(768);
    rig.send(Bytes(data.begin(), data.begin() + 300));
    rig.send(Bytes(data.begin() + 300, data.end()));
    QCOMPARE(rig.firmware->expectedProgramData(), std::uint64_t(0));
    // Each page program starts at 0x180 + n x 256; the chip's page buffer
    // wraps inside its 256-byte page.
    Bytes expected(0x400, 0xFF);
    for (std::size_t page = 0; page < 3; ++page)
        for (std::size_t i = 0; i < 256; ++i) {
            const std::size_t start = 0x180 + page * 256;
            const std::size_t base = start & ~std::size_t(0xFF);
            expected[base + ((start - base + i) & 0xFF)] = data[page * 256 + i];
        }
    QCOMPARE(rig.chip(0, 0, 0x400), expected);
    rig.send(packet({0x32}, 1));
    QCOMPARE(rig.answer(2), (Bytes{'D', 0}));
}

void TestSpiProtocol::programOnFourLines()
{
    Rig rig(Nor8M, "SPI image 0");
    rig.send(programCommand(0x32, 0x002000, 1, 1, 2));
    rig.send(ramp(256));
    QCOMPARE(rig.chip(0, 0x002000, 256), ramp(256));
    // The quad opcode with line mode 0: nothing reaches the cells.
    rig.send(programCommand(0x32, 0x003000, 1, 1, 0));
    rig.send(Bytes(256, 0x00));
    QCOMPARE(rig.chip(0, 0x003000, 256), Bytes(256, 0xFF));
}

void TestSpiProtocol::pageCountOfProgram_data()
{
    QTest::addColumn<int>("inner");
    QTest::addColumn<int>("outer");
    QTest::addColumn<int>("pages");
    QTest::newRow("0x40/0x01") << 0x40 << 0x01 << 64;
    QTest::newRow("0x00/0x02") << 0x00 << 0x02 << 512;
    QTest::newRow("0x00/0x01") << 0x00 << 0x01 << 256;
}

void TestSpiProtocol::pageCountOfProgram()
{
    QFETCH(int, inner);
    QFETCH(int, outer);
    QFETCH(int, pages);
    Rig rig(Nor8M, "SPI image 0");
    rig.send(programCommand(0x02, 0, inner, outer, 0));
    QCOMPARE(rig.firmware->expectedProgramData(), std::uint64_t(pages) * 256);
    rig.send(Bytes(std::size_t(pages) * 256, 0x5A));
    QCOMPARE(rig.chip(0, std::uint64_t(pages) * 256 - 1, 2), (Bytes{0x5A, 0xFF}));
}

void TestSpiProtocol::failedPollsAreCountedAtTheEnd()
{
    Rig rig(Nor8M, "SPI image 0");
    rig.send(programCommand(0x02, 0, 4, 1, 0, 0x05, 0x80, 0x80)); // bit 7 never comes
    rig.send(Bytes(1024, 0x00));
    rig.send(packet({0x32}, 1));
    QCOMPARE(rig.answer(2), (Bytes{'D', 4}));
}

void TestSpiProtocol::dataFlashProgramAndSectorZero()
{
    Rig rig("[chip]\nfamily = dataflash\nid = 1F 26 00 01 00\n", "SPI image 3");
    // Pages 7 and 8 (528-byte pages, page x 1024): byte 3 = page >> 6, byte 4 = page << 2.
    rig.send(programCommand(0x10, 7 << 10, 2, 1, 0, 0xD7, 0x80, 0x80));
    QCOMPARE(rig.firmware->expectedProgramData(), std::uint64_t(1056));
    const Bytes data = ramp(1056);
    rig.send(data);
    QCOMPARE(rig.chip(0, 7 * 528, 1056), data);
    rig.send(packet({0x32}, 1));
    QCOMPARE(rig.answer(2), (Bytes{'D', 0}));
    // Sector 0 is 0a and 0b: the program erases it with two packets.
    rig.send(eraseCommand(0x06, 0x7C, 0x000000, 0xD7, 0x80, 0x80));
    QCOMPARE(rig.answer(2), (Bytes{0xAC, 0x00}));
    QCOMPARE(rig.chip(0, 7 * 528, 528), Bytes(528, 0xFF));
    QCOMPARE(rig.chip(0, 8 * 528, 528), Bytes(data.begin() + 528, data.end()));
    rig.send(eraseCommand(0x06, 0x7C, 0x002000, 0xD7, 0x80, 0x80));
    QCOMPARE(rig.answer(2), (Bytes{0xAC, 0x00}));
    QCOMPARE(rig.chip(0, 8 * 528, 528), Bytes(528, 0xFF));
}

void TestSpiProtocol::dataFlashStatusTellsThePageSize_data()
{
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("status");
    QTest::newRow("528") << 528 << 0xAC;
    QTest::newRow("512") << 512 << 0xAD;
}

void TestSpiProtocol::dataFlashStatusTellsThePageSize()
{
    QFETCH(int, pageSize);
    QFETCH(int, status);
    Rig rig("[chip]\nfamily = dataflash\nid = 1F 26 00 01 00\npage_size = " +
                std::to_string(pageSize) + "\n",
            "SPI image 3");
    rig.send(packet({0x31, 0x01, 0xD7, 0x01}, 64));
    QCOMPARE(rig.answer(1, 0x86), Bytes(1, std::uint8_t(status)));
    if (pageSize == 512) {
        // Power-of-two pages: byte addresses, page size byte 0x00.
        rig.send(programCommand(0x00, 5 * 512, 1, 1, 0, 0xD7, 0x80, 0x80));
        rig.send(ramp(512));
        QCOMPARE(rig.chip(0, 5 * 512, 512), ramp(512));
    }
}

void TestSpiProtocol::eepromPagesWithAddressBit8()
{
    Rig rig("[chip]\nfamily = eeprom\nsize = 512\npage_size = 16\n", "SPI image 4");
    // The whole part from 0: 32 pages of 16 bytes; the firmware moves address
    // bit 8 into the opcode past 0xFF.
    rig.send(programCommand(0x02, 0x00, 32, 1, 16, 0x05, 0x01, 0x00, 1));
    QCOMPARE(rig.firmware->expectedProgramData(), std::uint64_t(512));
    const Bytes data = ramp(512, 9);
    rig.send(data);
    QCOMPARE(rig.chip(0, 0, 512), data);
    rig.send(packet({0x32}, 1));
    QCOMPARE(rig.answer(2), (Bytes{'D', 0}));
    // A program from 0x100 names bit 8 in the opcode itself (0Ah).
    rig.send(programCommand(0x0A, 0x10, 1, 1, 16, 0x05, 0x01, 0x00, 1));
    rig.send(Bytes(16, 0x00));
    QCOMPARE(rig.chip(0, 0x110, 16), Bytes(16, 0x00));
    QCOMPARE(rig.chip(0, 0x010, 16), Bytes(data.begin() + 0x10, data.begin() + 0x20));
    // One read of the whole part runs across 0x100.
    rig.send(readCommand(0x03, 0x00, 512, 0, 1));
    Bytes expected = data;
    std::fill(expected.begin() + 0x110, expected.begin() + 0x120, std::uint8_t{0});
    QCOMPARE(readAll(rig, 512), expected);
    // No RDID on a small EEPROM.
    rig.send(packet({0x29, 0x9F}, 10));
    QCOMPARE(rig.answer(3), Bytes(3, 0xFF));
}

void TestSpiProtocol::startUpCommandsGoToTheChip()
{
    Rig rig(std::string(Nor8M) + "status1 = 0x1C\n", "SPI image 0"); // all protected
    rig.send(programCommand(0x02, 0, 1, 1, 0));
    rig.send(Bytes(256, 0x00));
    QCOMPARE(rig.chip(0, 0, 1), Bytes(1, 0xFF));
    // One entry: write enable, then 01h with one data byte 00h.
    rig.send(packet({0x34, 0x9F, 1, 0x06, 0x01, 1, 0x00}, 64));
    rig.send(packet({0x31, 0x01, 0x05, 0x01}, 64));
    QCOMPARE(rig.answer(1), Bytes(1, 0x00));
    rig.send(programCommand(0x02, 0, 1, 1, 0));
    rig.send(Bytes(256, 0x00));
    QCOMPARE(rig.chip(0, 0, 1), Bytes(1, 0x00));
    // Four-byte mode on a 32 MiB part, entered without write enable.
    Rig big("[chip]\nfamily = spi\nid = EF 40 19\nsize = 32M\n", "SPI image 0");
    big.send(programCommand(0x12, 0x01000000, 1, 1, 0, 0x05, 0x01, 0x00, 4));
    big.send(ramp(256));
    big.send(packet({0x34, 0x9F, 1, 0x00, 0xB7, 0}, 64));
    big.send(readCommand(0x03, 0x01000000, 4, 0, 4));
    QCOMPARE(big.answer(4), Bytes(ramp(4)));
    QCOMPARE(big.chip(0, 0x01000000, 4), Bytes(ramp(4)));
}

void TestSpiProtocol::malformedPackets_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("reason");
    const auto b = [](const Bytes &p) {
        return QByteArray(reinterpret_cast<const char *>(p.data()), qsizetype(p.size()));
    };
    QTest::newRow("five address bytes")
        << b(readCommand(0x03, 0, 16, 0, 3)).replace(2, 1, "\x05") << "SPI image 0"
        << "address bytes";
    QTest::newRow("line mode 3") << b(readCommand(0x03, 0, 16, 3)) << "SPI image 0"
                                 << "line mode 3";
    QTest::newRow("start-up entry too long")
        << b(packet({0x34, 0x9F, 2, 0x06, 0x01, 1, 0x00, 0x06, 0x01, 60}, 64)) << "SPI image 0"
        << "entry 2 runs past";
    QTest::newRow("status transfer too long") << b(packet({0x31, 70}, 64)) << "SPI image 0"
                                              << "short packet 0x31";
    QTest::newRow("DataFlash page byte") << b(programCommand(0x33, 0, 1, 1, 0)) << "SPI image 3"
                                         << "DataFlash page size byte 0x33";
    QTest::newRow("NAND scan on SPI") << b(packet({0x37, 4}, 20)) << "SPI image 0"
                                      << "unknown command 0x37";
    QTest::newRow("short id") << b(packet({0x29, 0x9F}, 5)) << "SPI image 0"
                              << "short packet 0x29";
    QTest::newRow("short erase") << b(packet({0x1B, 0x06, 0xD8, 3}, 12)) << "SPI image 0"
                                 << "short packet 0x1b";
    QTest::newRow("read of 0 bytes") << b(readCommand(0x03, 0, 0, 0)) << "SPI image 0"
                                     << "0x27 for 0 bytes";
    QTest::newRow("program of 0 pages") << b(programCommand(0x02, 0, 0, 0, 0)) << "SPI image 0"
                                        << "0x1c for 0 pages";
    QTest::newRow("erase with no address bytes")
        << b(packet({0x1B, 0x06, 0xD8, 0}, 20)) << "SPI image 0"
        << "0x1b with 0 address bytes";
    QTest::newRow("start-up packet cut short")
        << b(packet({0x34, 0x9F, 1, 0x06, 0xB7}, 5)) << "SPI image 0"
        << "entry 1 runs past";
}

void TestSpiProtocol::malformedPackets()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, image);
    QFETCH(QString, reason);
    Rig rig(Nor8M, image.toLatin1().constData());
    rig.send(Bytes(bytes.begin(), bytes.end()));
    QVERIFY2(isError(rig.lastLogLine(), reason.toLatin1().constData()), rig.lastLogLine().c_str());
    QCOMPARE(rig.firmware->pendingAnswerBytes(), std::uint64_t(0));
    QCOMPARE(rig.firmware->expectedProgramData(), std::uint64_t(0));
    rig.send(packet({0x29, 0x9F}, 10));
    QCOMPARE(rig.answer(3), (Bytes{0xEF, 0x40, 0x17}));
}

namespace {

const char *const Nor32M = R"(
[chip]
family = spi
id = EF 40 19
size = 32M
)";

Bytes eraseCommand4(int opcode, std::uint32_t address)
{
    return packet({0x1B, 0x06, opcode, 4, int(address >> 24), int((address >> 16) & 0xFF),
                   int((address >> 8) & 0xFF), int(address & 0xFF), 0x05, 0x01, 0x00},
                  20);
}

} // namespace

void TestSpiProtocol::fourByteAddressesAbove16MiB_data()
{
    // The start-up packet as the engine builds it from a record's Init
    // entries (each entry after 06h), and the opcodes of read, program and
    // erase; `lands`: the data reaches the address above 16 MiB.
    QTest::addColumn<QByteArray>("startUp");
    QTest::addColumn<int>("readOpcode");
    QTest::addColumn<int>("programOpcode");
    QTest::addColumn<int>("eraseOpcode");
    QTest::addColumn<bool>("lands");
    const auto b = [](const Bytes &p) {
        return QByteArray(reinterpret_cast<const char *>(p.data()), qsizetype(p.size()));
    };
    QTest::newRow("Init B700") << b(packet({0x34, 0x9F, 1, 0x06, 0xB7, 0}, 64)) << 0x03 << 0x02
                               << 0xD8 << true;
    QTest::newRow("Init 0600B700") << b(packet({0x34, 0x9F, 2, 0x06, 0x06, 0, 0x06, 0xB7, 0}, 64))
                                   << 0x03 << 0x02 << 0xD8 << true;
    QTest::newRow("Init 170180") << b(packet({0x34, 0x9F, 1, 0x06, 0x17, 1, 0x80}, 64)) << 0x03
                                 << 0x02 << 0xD8 << true;
    QTest::newRow("B700, fast read")
        << b(packet({0x34, 0x9F, 1, 0x06, 0xB7, 0}, 64)) << 0x0B << 0x02 << 0xD8 << true;
    QTest::newRow("four-byte instructions") << QByteArray() << 0x13 << 0x12 << 0xDC << true;
    QTest::newRow("four-byte fast read") << QByteArray() << 0x0C << 0x12 << 0xDC << true;
    QTest::newRow("three-byte mode left on") << QByteArray() << 0x03 << 0x02 << 0xD8 << false;
}

void TestSpiProtocol::fourByteAddressesAbove16MiB()
{
    QFETCH(QByteArray, startUp);
    QFETCH(int, readOpcode);
    QFETCH(int, programOpcode);
    QFETCH(int, eraseOpcode);
    QFETCH(bool, lands);
    Rig rig(Nor32M, "SPI image 0");
    if (!startUp.isEmpty())
        rig.send(Bytes(startUp.begin(), startUp.end()));
    constexpr std::uint32_t High = 0x01FF0000;
    // Two 256-byte pages, as the engine counts 512 bytes.
    rig.send(programCommand(programOpcode, High, 2, 1, 0, 0x05, 0x01, 0x00, 4));
    const Bytes data = ramp(512, 7);
    rig.send(data);
    rig.send(packet({0x32}, 1));
    QCOMPARE(rig.answer(2), (Bytes{'D', 0}));
    // Nothing lands in the lower half at the address without bit 24.
    QCOMPARE(rig.chip(0, High & 0xFFFFFF, 512), Bytes(512, 0xFF));
    if (!lands) {
        QVERIFY(rig.chip(0, High, 512) != data);
        return;
    }
    QCOMPARE(rig.chip(0, High, 512), data);
    Bytes read = readCommand(readOpcode, High, 512, 0, 4);
    rig.send(read);
    const Bytes got = readAll(rig, 512);
    if (readOpcode == 0x0B || readOpcode == 0x0C) // a dummy byte the firmware does not send
        QCOMPARE(Bytes(got.begin() + 1, got.end()), Bytes(data.begin(), data.end() - 1));
    else
        QCOMPARE(got, data);
    rig.send(eraseCommand4(eraseOpcode, High));
    QCOMPARE(rig.answer(2), (Bytes{0x00, 0x00}));
    QCOMPARE(rig.chip(0, High, 512), Bytes(512, 0xFF));
    for (const std::string &line : rig.log())
        QVERIFY2(line.rfind("ERROR", 0) != 0, line.c_str());
}

void TestSpiProtocol::refusedProgramTakesItsData()
{
    Rig rig(Nor8M, "SPI image 0");
    Bytes bad = programCommand(0x02, 0x1000, 2, 1, 0);
    bad[15] = 3; // no such line mode
    rig.send(bad);
    QVERIFY2(isError(rig.lastLogLine(), "0x1c with line mode 3"), rig.lastLogLine().c_str());
    QCOMPARE(rig.firmware->expectedProgramData(), std::uint64_t(512));
    rig.send(Bytes(512, 0x00));
    QCOMPARE(rig.lastLogLine(), std::string("DATA 512"));
    QCOMPARE(rig.chip(0, 0x1000, 512), Bytes(512, 0xFF));
    rig.send(packet({0x32}, 1));
    QCOMPARE(rig.answer(2), (Bytes{'D', 2}));
    // The next program is carried out.
    rig.send(programCommand(0x02, 0x1000, 1, 1, 0));
    rig.send(ramp(256));
    QCOMPARE(rig.chip(0, 0x1000, 256), ramp(256));
    rig.send(packet({0x32}, 1));
    QCOMPARE(rig.answer(2), (Bytes{'D', 0}));
}

void TestSpiProtocol::dataFlashSectorZeroPair_data()
{
    // The engine's packets for pages 7 and 8 and the two erases of sector 0.
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("pageByte");
    QTest::addColumn<int>("page7");  // address of page 7 in the packet
    QTest::addColumn<int>("second"); // address of the 0b erase
    QTest::newRow("528") << 528 << 0x10 << (7 << 10) << 0x002000;
    QTest::newRow("512") << 512 << 0x00 << 7 * 512 << 0x001000;
}

void TestSpiProtocol::dataFlashSectorZeroPair()
{
    QFETCH(int, pageSize);
    QFETCH(int, pageByte);
    QFETCH(int, page7);
    QFETCH(int, second);
    Rig rig("[chip]\nfamily = dataflash\nid = 1F 26 00 01 00\npage_size = " +
                std::to_string(pageSize) + "\n",
            "SPI image 3");
    const std::size_t page = std::size_t(pageSize);
    rig.send(programCommand(pageByte, std::uint32_t(page7), 2, 1, 0, 0xD7, 0x80, 0x80));
    const Bytes data = ramp(2 * page, 1);
    rig.send(data);
    QCOMPARE(rig.chip(0, 7 * page, 2 * page), data);
    rig.send(eraseCommand(0x06, 0x7C, 0x000000, 0xD7, 0x80, 0x80));
    QCOMPARE(rig.answer(2)[1], std::uint8_t(0));
    QCOMPARE(rig.chip(0, 7 * page, page), Bytes(page, 0xFF));
    QCOMPARE(rig.chip(0, 8 * page, page), Bytes(data.begin() + pageSize, data.end()));
    rig.send(eraseCommand(0x06, 0x7C, std::uint32_t(second), 0xD7, 0x80, 0x80));
    QCOMPARE(rig.answer(2)[1], std::uint8_t(0));
    QCOMPARE(rig.chip(0, 8 * page, page), Bytes(page, 0xFF));
}

void TestSpiProtocol::sfdpFromAFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Bytes area = ramp(100, 0x11);
    area[0] = 'S';
    area[1] = 'F';
    area[2] = 'D';
    area[3] = 'P';
    QFile file(dir.filePath("chip.sfdp"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char *>(area.data()), qint64(area.size()));
    file.close();
    QFile profile(dir.filePath("p.ini"));
    QVERIFY(profile.open(QIODevice::WriteOnly));
    profile.write("[chip]\nfamily = spi\nid = E5 40 18\nsize = 16M\nsfdp = no\n"
                  "sfdp_file = chip.sfdp\n");
    profile.close();
    Rig rig(ConfigReader::readFile(profile.fileName().toStdString()), "SPI image 0");
    rig.send(packet({0x2A}, 6));
    Bytes expected = area;
    expected.resize(2048, 0xFF);
    QCOMPARE(readAll(rig, 2048, 2048), expected);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestSpiProtocol)
#include "tst_spi_protocol.moc"
