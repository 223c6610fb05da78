#include "ProgrammerTestSupport.h"
#include "TestHome.h"

#include "ConfigError.h"
#include "NandPagePacket.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kvemu;
using namespace ProgrammerTest;

namespace {

unsigned base256Digits(std::uint64_t value)
{
    unsigned n = 0;
    for (; value != 0; value >>= 8)
        ++n;
    return n;
}

// A page command laid out as the program lays it out: column bytes from the
// page size (528 takes 1), row bytes from the pages of one chip enable, column
// 0, the row written as four bytes after the column, page size at 8-9, the
// page count as byte 10 = count mod 256, byte 11 = count div 256 (+1 when
// byte 10 is not 0).
Bytes programLayout(int code, std::uint32_t pageSize, std::uint64_t pagesPerChip, std::uint32_t row,
                    std::uint32_t count = 1)
{
    const unsigned columns = pageSize == 528 ? 1 : base256Digits(pageSize);
    Bytes p(20, 0);
    p[0] = static_cast<std::uint8_t>(code);
    p[1] = static_cast<std::uint8_t>(columns + base256Digits(pagesPerChip));
    for (unsigned i = 0; i < 4; ++i)
        p[2 + columns + i] = static_cast<std::uint8_t>(row >> (8 * i));
    if (code == 0x37) {
        p[8] = static_cast<std::uint8_t>(count);
        p[9] = static_cast<std::uint8_t>(count >> 8);
        return p;
    }
    p[8] = static_cast<std::uint8_t>(pageSize);
    p[9] = static_cast<std::uint8_t>(pageSize >> 8);
    p[10] = static_cast<std::uint8_t>(count % 256);
    p[11] = static_cast<std::uint8_t>(count / 256 + (count % 256 != 0 ? 1 : 0));
    return p;
}

std::string nandProfile(int dataBytes, int spareBytes, int pagesPerBlock, int blocks,
                        int chipEnables = 1)
{
    return "[chip]\nfamily = nand\nid = EC F1 00 95 40\ndata_bytes = " + std::to_string(dataBytes) +
           "\nspare_bytes = " + std::to_string(spareBytes) +
           "\npages_per_block = " + std::to_string(pagesPerBlock) +
           "\nblocks = " + std::to_string(blocks) +
           "\nchip_enables = " + std::to_string(chipEnables) + "\n";
}

Bytes pattern(std::size_t length, unsigned seed)
{
    Bytes b(length);
    for (std::size_t i = 0; i < length; ++i)
        b[i] = static_cast<std::uint8_t>((i * 13 + seed * 5) ^ (i >> 7));
    return b;
}

Bytes readAll(Rig &rig, std::size_t length)
{
    Bytes all;
    while (all.size() < length) {
        const Bytes part = rig.answer(length - all.size());
        if (part.empty())
            break;
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::size_t wholePackets(std::size_t bytes)
{
    return (bytes + 511) / 512 * 512;
}

bool hasError(const std::vector<std::string> &lines)
{
    for (const auto &line : lines)
        if (line.rfind("ERROR", 0) == 0)
            return true;
    return false;
}

QByteArray toQt(const Bytes &p)
{
    return QByteArray(reinterpret_cast<const char *>(p.data()), qsizetype(p.size()));
}

// 2048 + 64 bytes, 64 pages per block, 16 blocks: 1024 pages, 2 row bytes.
const std::string Large = nandProfile(2048, 64, 64, 16);
// 512 + 16 bytes, 32 pages per block, 64 blocks: 2048 pages, 2 row bytes.
const std::string Small = nandProfile(512, 16, 32, 64);

} // namespace

// The NAND page commands as the program addresses them: the packet decides
// the column and row bytes, and the firmware refuses what does not fit the
// chip, with an ERROR line and no answer.
class TestNandPackets : public QObject
{
    Q_OBJECT
private slots:
    void addressRule_data();
    void addressRule();
    void pagesAddressedAsTheProgramDoes_data();
    void pagesAddressedAsTheProgramDoes();
    void refusedPacketsLogWhyAndAnswerNothing_data();
    void refusedPacketsLogWhyAndAnswerNothing();
    void emptyChipEnableChecksThePacketOnly();
    void parameterPageFromAFile_data();
    void parameterPageFromAFile();
};

void TestNandPackets::addressRule_data()
{
    QTest::addColumn<quint32>("pageSize");
    QTest::addColumn<unsigned>("columnBytes");
    QTest::addColumn<quint64>("pages");
    QTest::addColumn<unsigned>("rowBytes");
    QTest::addColumn<unsigned>("rowBytesNeeded");
    QTest::newRow("255-byte pages, 255 pages") << 255u << 1u << quint64(255) << 1u << 1u;
    QTest::newRow("256-byte pages, 256 pages") << 256u << 2u << quint64(256) << 2u << 1u;
    QTest::newRow("264-byte pages, 257 pages") << 264u << 2u << quint64(257) << 2u << 2u;
    QTest::newRow("512-byte pages") << 512u << 2u << quint64(4096) << 2u << 2u;
    QTest::newRow("528-byte pages") << 528u << 1u << quint64(131072) << 3u << 3u;
    QTest::newRow("2112-byte pages, 65535 pages") << 2112u << 2u << quint64(65535) << 2u << 2u;
    QTest::newRow("2112-byte pages, 65536 pages") << 2112u << 2u << quint64(65536) << 3u << 2u;
    QTest::newRow("4320-byte pages, 65537 pages") << 4320u << 2u << quint64(65537) << 3u << 3u;
    QTest::newRow("65535-byte pages, 1 page") << 65535u << 2u << quint64(1) << 1u << 1u;
    QTest::newRow("0, 0") << 0u << 0u << quint64(0) << 0u << 1u;
}

void TestNandPackets::addressRule()
{
    QFETCH(quint32, pageSize);
    QFETCH(unsigned, columnBytes);
    QFETCH(quint64, pages);
    QFETCH(unsigned, rowBytes);
    QFETCH(unsigned, rowBytesNeeded);
    QCOMPARE(NandPagePacket::columnBytesFor(pageSize), columnBytes);
    QCOMPARE(NandPagePacket::rowBytesFor(pages), rowBytes);
    QCOMPARE(NandPagePacket::rowBytesNeeded(pages), rowBytesNeeded);
    QCOMPARE(NandPagePacket::rowBytesFor(quint64(1) << 24), 4u);
}

void TestNandPackets::pagesAddressedAsTheProgramDoes_data()
{
    QTest::addColumn<int>("dataBytes");
    QTest::addColumn<int>("spareBytes");
    QTest::addColumn<int>("pagesPerBlock");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("chipEnables");
    QTest::addColumn<int>("ce");
    QTest::addColumn<quint32>("row");
    QTest::addColumn<quint64>("programPagesPerChip"); // 0: the chip's
    QTest::addColumn<int>("cycles");
    QTest::newRow("264-byte pages") << 256 << 8 << 32 << 64 << 1 << 0 << 2047u << quint64(0) << 4;
    QTest::newRow("528-byte pages, 131072 pages")
        << 512 << 16 << 32 << 4096 << 1 << 0 << 0x012345u << quint64(0) << 4;
    QTest::newRow("2112-byte pages, 65536 pages")
        << 2048 << 64 << 64 << 1024 << 1 << 0 << 65535u << quint64(0) << 5;
    QTest::newRow("2112-byte pages, 65535 pages")
        << 2048 << 64 << 255 << 257 << 1 << 0 << 65534u << quint64(0) << 4;
    QTest::newRow("4320-byte pages")
        << 4096 << 224 << 64 << 256 << 1 << 0 << 16383u << quint64(0) << 4;
    QTest::newRow("second chip enable, 65536 pages")
        << 2048 << 64 << 64 << 1024 << 2 << 1 << 65535u << quint64(0) << 5;
    QTest::newRow("second chip enable, 65535 pages")
        << 2048 << 64 << 255 << 257 << 2 << 1 << 65534u << quint64(0) << 4;
    // A record that splits one chip's pages over two chip enables: two row
    // bytes still reach every page of a 65536-page chip.
    QTest::newRow("program counts 32768 pages per chip enable")
        << 2048 << 64 << 64 << 1024 << 2 << 1 << 65535u << quint64(32768) << 4;
}

void TestNandPackets::pagesAddressedAsTheProgramDoes()
{
    QFETCH(int, dataBytes);
    QFETCH(int, spareBytes);
    QFETCH(int, pagesPerBlock);
    QFETCH(int, blocks);
    QFETCH(int, chipEnables);
    QFETCH(int, ce);
    QFETCH(quint32, row);
    QFETCH(quint64, programPagesPerChip);
    QFETCH(int, cycles);
    Rig rig(nandProfile(dataBytes, spareBytes, pagesPerBlock, blocks, chipEnables));
    const auto pageSize = static_cast<std::uint32_t>(dataBytes + spareBytes);
    const std::uint64_t pagesPerChip =
        programPagesPerChip ? programPagesPerChip : std::uint64_t(pagesPerBlock) * blocks;
    rig.send(packet({0x36, ce}, 2));

    const Bytes program = programLayout(0x1C, pageSize, pagesPerChip, row);
    QCOMPARE(int(program[1]), cycles);
    rig.send(program);
    Bytes data = pattern(pageSize, row);
    data.resize(wholePackets(pageSize), 0x00);
    rig.send(data);
    const std::uint64_t offset = std::uint64_t(row) * pageSize;
    QCOMPARE(rig.chip(unsigned(ce), offset, pageSize), pattern(pageSize, row));
    if (chipEnables > 1)
        QCOMPARE(rig.chip(unsigned(1 - ce), offset, pageSize), Bytes(pageSize, 0xFF));

    rig.send(programLayout(0x27, pageSize, pagesPerChip, row));
    Bytes read = readAll(rig, wholePackets(pageSize));
    read.resize(pageSize);
    QCOMPARE(read, pattern(pageSize, row));

    rig.send(programLayout(0x37, pageSize, pagesPerChip, row, 16));
    QCOMPARE(rig.answer(512), Bytes(read.begin(), read.begin() + 16));

    const unsigned rowBytes = base256Digits(pagesPerChip);
    Bytes erase = packet({0x1B, int(rowBytes)}, 20);
    for (unsigned i = 0; i < 4; ++i)
        erase[2 + i] = static_cast<std::uint8_t>(row >> (8 * i));
    rig.send(erase);
    QCOMPARE(rig.answer(2), (Bytes{0xE0, 0x00}));
    QCOMPARE(rig.chip(unsigned(ce), offset, pageSize), Bytes(pageSize, 0xFF));
    QVERIFY2(!hasError(rig.log()), rig.firmware->log().text().c_str());
}

void TestNandPackets::refusedPacketsLogWhyAndAnswerNothing_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("programData"); // bytes a refused 0x1C still takes
    QTest::addColumn<int>("failedPages");
    const auto b = [](std::initializer_list<int> bytes) { return toQt(packet(bytes, 20)); };
    const QString large = QString::fromStdString(Large);
    const QString small = QString::fromStdString(Small);

    QTest::newRow("read: too few row bytes")
        << large << b({0x27, 3, 0, 0, 0x10, 0, 0, 0, 0x40, 0x08, 1, 1})
        << "ERROR 0x27 with 3 address cycles (2 column, 1 row bytes): the chip's 1024 pages "
           "need 2 row bytes"
        << 0 << 0;
    QTest::newRow("read: no row bytes")
        << large << b({0x27, 2, 0, 0, 0, 0, 0, 0, 0x40, 0x08, 1, 1})
        << "ERROR 0x27 with 2 address cycles (2 column, 0 row bytes): no row address" << 0 << 0;
    QTest::newRow("read: five row bytes")
        << small << b({0x27, 6, 0, 0, 0, 0, 0, 0, 0x10, 0x02, 1, 1})
        << "ERROR 0x27 with 6 address cycles (1 column, 5 row bytes): at most 4 row bytes" << 0
        << 0;
    QTest::newRow("read: page size without the spare area")
        << large << b({0x27, 4, 0, 0, 0, 0, 0, 0, 0x00, 0x08, 1, 1})
        << "ERROR 0x27 for 2048-byte pages: the chip's pages hold 2112 bytes" << 0 << 0;
    QTest::newRow("read: 528-byte pages on a 2112-byte chip")
        << large << b({0x27, 3, 0, 0, 0, 0, 0, 0, 0x10, 0x02, 1, 1})
        << "ERROR 0x27 for 528-byte pages: the chip's pages hold 2112 bytes" << 0 << 0;
    QTest::newRow("read: 0 pages") << large << b({0x27, 4, 0, 0, 0, 0, 0, 0, 0x40, 0x08, 0, 0})
                                   << "ERROR 0x27 for 0 pages" << 0 << 0;
    QTest::newRow("read: row beyond the chip")
        << large << b({0x27, 4, 0, 0, 0x00, 0x04, 0, 0, 0x40, 0x08, 1, 1})
        << "ERROR 0x27 for row 1024: the chip has 1024 pages" << 0 << 0;
    QTest::newRow("read: pages past the last")
        << large << b({0x27, 4, 0, 0, 0xFC, 0x03, 0, 0, 0x40, 0x08, 8, 1})
        << "ERROR 0x27 for pages 1020 to 1027: the chip has 1024 pages" << 0 << 0;
    QTest::newRow("program: too few row bytes")
        << large << b({0x1C, 3, 0, 0, 0x10, 0, 0, 0, 0x40, 0x08, 2, 1})
        << "ERROR 0x1c with 3 address cycles (2 column, 1 row bytes): the chip's 1024 pages "
           "need 2 row bytes"
        << 4608 << 2;
    QTest::newRow("program: page size without the spare area")
        << large << b({0x1C, 4, 0, 0, 0, 0, 0, 0, 0x00, 0x08, 1, 1})
        << "ERROR 0x1c for 2048-byte pages: the chip's pages hold 2112 bytes" << 2048 << 1;
    QTest::newRow("program: 0 pages") << large << b({0x1C, 4, 0, 0, 0, 0, 0, 0, 0x40, 0x08, 0, 0})
                                      << "ERROR 0x1c for 0 pages" << 0 << 0;
    QTest::newRow("program: page size 0") << large << b({0x1C, 4, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1})
                                          << "ERROR 0x1c with page size 0" << 0 << 0;
    QTest::newRow("program: row beyond the chip")
        << large << b({0x1C, 4, 0, 0, 0xD0, 0x07, 0, 0, 0x40, 0x08, 1, 1})
        << "ERROR 0x1c for row 2000: the chip has 1024 pages" << 2560 << 1;
    QTest::newRow("scan: more than a page")
        << large << b({0x37, 4, 0, 0, 0, 0, 0, 0, 0x00, 0x10})
        << "ERROR 0x37 for 4096 bytes: the chip's pages hold 2112 bytes" << 0 << 0;
    QTest::newRow("scan: 0 bytes") << large << b({0x37, 4}) << "ERROR 0x37 for 0 bytes" << 0 << 0;
    QTest::newRow("scan: too few row bytes")
        << large << b({0x37, 3, 0, 0, 0x40, 0, 0, 0, 0x00, 0x02})
        << "ERROR 0x37 with 3 address cycles (2 column, 1 row bytes): the chip's 1024 pages "
           "need 2 row bytes"
        << 0 << 0;
    QTest::newRow("scan: row beyond the chip")
        << large << b({0x37, 4, 0, 0, 0x00, 0x04, 0, 0, 0x00, 0x02})
        << "ERROR 0x37 for row 1024: the chip has 1024 pages" << 0 << 0;
    QTest::newRow("erase: too few row bytes")
        << large << b({0x1B, 1, 0x40})
        << "ERROR 0x1b with 1 row bytes: the chip's 1024 pages need 2 row bytes" << 0 << 0;
    QTest::newRow("erase: row beyond the chip")
        << large << b({0x1B, 2, 0x00, 0x04}) << "ERROR 0x1b for row 1024: the chip has 1024 pages"
        << 0 << 0;
}

void TestNandPackets::refusedPacketsLogWhyAndAnswerNothing()
{
    QFETCH(QString, profile);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    QFETCH(int, programData);
    QFETCH(int, failedPages);
    Rig rig(profile.toStdString());
    rig.send(Bytes(bytes.begin(), bytes.end()));
    const auto lines = rig.log();
    QCOMPARE(lines.size(), std::size_t(2));
    QCOMPARE(QString::fromStdString(lines[1]), error);
    QCOMPARE(rig.firmware->pendingAnswerBytes(), std::uint64_t(0));
    QCOMPARE(rig.firmware->expectedProgramData(), std::uint64_t(programData));
    // The data a refused program announced is taken, never run as commands
    // and never programmed; its pages count as failed.
    if (programData > 0)
        rig.send(Bytes(std::size_t(programData), 0x1B));
    QCOMPARE(rig.chip(0, 0, 4096), Bytes(4096, 0xFF));
    rig.send(packet({0x32}, 1));
    QCOMPARE(rig.answer(2), (Bytes{'D', std::uint8_t(failedPages)}));
    QCOMPARE(rig.log().size(), std::size_t(programData > 0 ? 4 : 3));
}

void TestNandPackets::emptyChipEnableChecksThePacketOnly()
{
    Rig rig(nandProfile(2048, 64, 64, 16, 2) + "[ce1]\npresent = no\n");
    rig.send(packet({0x36, 1}, 2));
    // Nothing to compare the page size with: the pages read 0xFF.
    rig.send(packet({0x27, 4, 0, 0, 0, 0x40, 0, 0, 0x00, 0x08, 1, 1}, 20));
    QCOMPARE(readAll(rig, 2048), Bytes(2048, 0xFF));
    rig.send(packet({0x37, 4, 0, 0, 0, 0x40, 0, 0, 0x00, 0x10}, 20));
    QCOMPARE(readAll(rig, 4096), Bytes(4096, 0xFF));
    rig.send(packet({0x1B, 3, 0, 0, 0x40}, 20));
    QCOMPARE(rig.answer(2), (Bytes{0xFF, 0x01}));
    QVERIFY(!hasError(rig.log()));
    // What the packet says about itself still counts.
    rig.send(packet({0x27, 4, 0, 0, 0, 0, 0, 0, 0x40, 0x08, 0, 0}, 20));
    QCOMPARE(rig.lastLogLine(), std::string("ERROR 0x27 for 0 pages"));
    rig.send(packet({0x37, 4, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0x01}, 20));
    QCOMPARE(rig.lastLogLine(), std::string("ERROR 0x37 for 65537 bytes"));
    QCOMPARE(rig.firmware->pendingAnswerBytes(), std::uint64_t(0));
}

void TestNandPackets::parameterPageFromAFile_data()
{
    QTest::addColumn<int>("fileBytes");
    QTest::addColumn<QString>("error"); // empty: the profile reads
    QTest::newRow("one page") << 256 << "";
    QTest::newRow("page and part of a copy") << 300 << "";
    QTest::newRow("three copies") << 768 << "";
    QTest::newRow("short") << 255
                           << "line 8: the parameter page file \"%1\" holds 255 bytes, a page at "
                              "least 256";
    QTest::newRow("empty") << 0 << "line 8: the parameter page file \"%1\" holds 0 bytes";
    QTest::newRow("missing") << -1 << "line 8: cannot read the parameter page file \"%1\"";
}

void TestNandPackets::parameterPageFromAFile()
{
    QFETCH(int, fileBytes);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString path = dir.filePath("chip.onfi");
    const Bytes contents = pattern(std::size_t(std::max(fileBytes, 0)), 77);
    if (fileBytes >= 0) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(toQt(contents));
    }
    // The file is taken as it is (no check of its CRC), per chip enable;
    // onfi = yes generates the page, onfi = no leaves none.
    const std::string profile = "[chip]\nfamily = nand\nid = 2C 38 00 26 85\nblocks = 16\n"
                                "onfi = yes\nchip_enables = 3\n[ce0]\nonfi_file = " +
                                path.toStdString() + "\n[ce1]\nonfi = no\n";
    if (!error.isEmpty()) {
        try {
            ConfigReader::read(profile);
            QFAIL("the profile reads");
        } catch (const ConfigError &e) {
            QVERIFY2(QString::fromStdString(e.what()).startsWith(error.arg(path)), e.what());
        }
        return;
    }
    Rig rig(profile);
    const auto pageOf = [&](int ce) {
        rig.send(packet({0x36, ce}, 2));
        rig.send(packet({0x2A, 0x01}, 6));
        return readAll(rig, 512);
    };
    Bytes expected = contents;
    expected.resize(512, 0xFF);
    expected.resize(512);
    QCOMPARE(pageOf(0), expected);
    QCOMPARE(pageOf(1), Bytes(512, 0xFF));
    const Bytes generated = pageOf(2);
    QCOMPARE(Bytes(generated.begin(), generated.begin() + 4), (Bytes{'O', 'N', 'F', 'I'}));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestNandPackets)
#include "tst_nand_packets.moc"
