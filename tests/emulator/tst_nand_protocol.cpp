#include "ProgrammerTestSupport.h"
#include "TestHome.h"

#include "CommandLog.h"
#include "OnfiParameterPage.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <random>

using namespace kvemu;
using namespace ProgrammerTest;

namespace {

// Two chip enables of a small K9F1G08U0B-like part: 2048 + 64 bytes per
// page, 64 pages per block, 16 blocks (1024 pages, two row cycles).
const char *const TwoChips = R"(
[programmer]
identification = 0x00012345
[chip]
family = nand
id = EC F1 00 95 40
data_bytes = 2048
spare_bytes = 64
pages_per_block = 64
blocks = 16
chip_enables = 2
onfi = yes
manufacturer = SAMSUNG
model = K9F1G08U0B
bad_blocks = 3
erase_fail_blocks = 5
program_fail_blocks = 6
[ce1]
bad_blocks = 7
)";

constexpr std::size_t PageBytes = 2112;

// A page command as the program builds it: address cycles in byte 1, column
// 0 in two bytes from byte 2, the row in four bytes from byte 4, page size at
// 8-9, page count at 10-11.
Bytes pageCommand(int code, std::uint32_t row, int inner, int outer,
                  std::uint32_t pageSize = PageBytes)
{
    Bytes p = packet({code, 4, 0, 0, int(row & 0xFF), int((row >> 8) & 0xFF), int(row >> 16), 0,
                      int(pageSize & 0xFF), int(pageSize >> 8), inner, outer},
                     20);
    return p;
}

Bytes pattern(std::size_t length, unsigned seed)
{
    Bytes b(length);
    for (std::size_t i = 0; i < length; ++i)
        b[i] = static_cast<std::uint8_t>((i * 31 + seed * 7) ^ (i >> 8));
    return b;
}

Bytes readAnswer(Rig &rig, std::size_t length, std::size_t chunk = 8192)
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

std::uint32_t le32(const Bytes &b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

} // namespace

// The firmware's base commands, the NAND image's commands, the framing of
// answers and program data, protocol errors and the command log.
class TestNandProtocol : public QObject
{
    Q_OBJECT
private slots:
    void identification_data();
    void identification();
    void adapterCheck_data();
    void adapterCheck();
    void answersComeInOrderOnEitherPipeInAnyChunks();
    void readWithNothingPendingIsEmpty();
    void idOfTheSelectedChipEnable();
    void parameterPageIsTwoValidCopies();
    void readPagesPadToWholePackets_data();
    void readPagesPadToWholePackets();
    void pageCountRunsAsTwoNestedLoops_data();
    void pageCountRunsAsTwoNestedLoops();
    void programTakesTheDataThatFollows();
    void programDataMayArriveInPieces();
    void eraseAnswersTheStatus();
    void programFailuresAreCountedAtTheEnd();
    void badBlockScanReadsTheFirstPage();
    void repeatedReadsFlipSingleBits();
    void smallPageChipTakesOneColumnCycle();
    void malformedPacketsAreErrorsWithoutAnswer_data();
    void malformedPacketsAreErrorsWithoutAnswer();
    void pipeOneAndSurplusDataAreErrors();
    void commandLogLinesByteForByte();
    void commandLogFileGetsEveryLineAtOnce();
    void failingReadLosesItsBytesOnly();
    void stopDropsPendingAnswers();
    void realisticTimingAddsBusAndChipTimes();
    void randomPacketsNeverBreakTheFirmware_data();
    void randomPacketsNeverBreakTheFirmware();
};

void TestNandProtocol::identification_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("image");
    QTest::addColumn<quint32>("word");
    QTest::addColumn<quint32>("magic");
    QTest::newRow("fitting NAND image")
        << ""
        << "NAND image 1" << quint32(0x4B560100) << quint32(0x170640DD);
    QTest::newRow("NAND image for the other board")
        << ""
        << "NAND image 2" << quint32(0x4B560100) << quint32(0xDD400617);
    QTest::newRow("board 2") << "board = 2"
                             << "NAND image 2" << quint32(0x4B560100) << quint32(0x170640DD);
    QTest::newRow("SPI image") << ""
                               << "SPI image 3" << quint32(0x4B560100) << quint32(0x170640DD);
    QTest::newRow("adapter error 0") << "identification = 0"
                                     << "NAND image 1" << quint32(0) << quint32(0x170640DD);
    QTest::newRow("adapter error FFFFFFFF")
        << "identification = 0xFFFFFFFF"
        << "NAND image 1" << quint32(0xFFFFFFFF) << quint32(0x170640DD);
}

void TestNandProtocol::identification()
{
    QFETCH(QString, profile);
    QFETCH(QString, image);
    QFETCH(quint32, word);
    QFETCH(quint32, magic);
    Rig rig("[programmer]\n" + profile.toStdString() + "\n", image.toLatin1().constData());
    rig.send(packet({0x18, 0x00, 0x02, 0x00, 0x0A}, 9));
    const Bytes answer = rig.answer(8, 0x86);
    QCOMPARE(answer.size(), std::size_t(8));
    QCOMPARE(le32(answer, 0), word);
    QCOMPARE(le32(answer, 4), magic);
    QCOMPARE(rig.answer(8).size(), std::size_t(0));
}

void TestNandProtocol::adapterCheck_data()
{
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("byte0");
    QTest::addColumn<int>("byte1");
    QTest::newRow("NAND adapter, NAND programmer") << "nand" << 0 << 1 << 1;
    QTest::newRow("NAND adapter, SPI programmer") << "nand" << 1 << 0 << 1;
    QTest::newRow("SPI adapter, SPI programmer") << "spi" << 1 << 1 << 1;
    QTest::newRow("SPI adapter, unknown programmer") << "spi" << 2 << 0 << 1;
    QTest::newRow("no adapter") << "none" << 0 << 0 << 0;
}

void TestNandProtocol::adapterCheck()
{
    QFETCH(QString, adapter);
    QFETCH(int, kind);
    QFETCH(int, byte0);
    QFETCH(int, byte1);
    Rig rig("[programmer]\nadapter = " + adapter.toStdString() + "\n");
    rig.send(packet({0x10, kind, 0, 1, 0, 2, 2}, 10));
    QCOMPARE(rig.answer(2, 0x86), (Bytes{std::uint8_t(byte0), std::uint8_t(byte1)}));
}

void TestNandProtocol::answersComeInOrderOnEitherPipeInAnyChunks()
{
    Rig rig(TwoChips);
    rig.send(packet({0x18, 0x00, 0x02, 0x00, 0x0A}, 9));
    rig.send(packet({0x29, 0x01}, 6));
    rig.send(packet({0x2A, 0x01}, 6));
    QCOMPARE(rig.firmware->pendingAnswerBytes(), std::uint64_t(8 + 6 + 512));
    QCOMPARE(rig.answer(3, 0x88), (Bytes{0x45, 0x23, 0x01}));
    // A read may run from one answer into the next.
    QCOMPARE(rig.answer(7, 0x86), (Bytes{0x00, 0xDD, 0x40, 0x06, 0x17, 0xEC, 0xF1}));
    QCOMPARE(rig.answer(4, 0x86), (Bytes{0x00, 0x95, 0x40, 0xEC}));
    Bytes page;
    for (int i = 0; i < 6; ++i) {
        const Bytes part = rig.answer(100);
        page.insert(page.end(), part.begin(), part.end());
    }
    QCOMPARE(page.size(), std::size_t(512));
    QCOMPARE(Bytes(page.begin(), page.begin() + 4), (Bytes{'O', 'N', 'F', 'I'}));
    QCOMPARE(rig.firmware->pendingAnswerBytes(), std::uint64_t(0));
}

void TestNandProtocol::readWithNothingPendingIsEmpty()
{
    Rig rig(TwoChips);
    Bytes buffer(512, 0xEE);
    const auto r = rig.firmware->bulkIn(0x88, buffer);
    QVERIFY(r.ok());
    QCOMPARE(r.length, std::size_t(0));
    QCOMPARE(rig.firmware->bulkIn(0x86, buffer).length, std::size_t(0));
    QCOMPARE(rig.firmware->bulkIn(0x81, buffer).status, TransferStatus::Stall);
}

void TestNandProtocol::idOfTheSelectedChipEnable()
{
    Rig rig(R"(
[chip]
family = nand
id = EC F1 00 95 40
blocks = 16
chip_enables = 4
[ce1]
id = 98 DA 90 15 76
[ce2]
present = no
)");
    const auto idOf = [&](int ce) {
        rig.send(packet({0x36, ce}, 2));
        rig.send(packet({0x29, 0x01}, 6));
        return rig.answer(6, 0x86);
    };
    QCOMPARE(idOf(0), (Bytes{0xEC, 0xF1, 0x00, 0x95, 0x40, 0xEC}));
    QCOMPARE(idOf(1), (Bytes{0x98, 0xDA, 0x90, 0x15, 0x76, 0x98}));
    QCOMPARE(idOf(2), Bytes(6, 0xFF)); // no chip on that chip enable
    QCOMPARE(idOf(3), (Bytes{0xEC, 0xF1, 0x00, 0x95, 0x40, 0xEC}));
    rig.send(packet({0x36, 4}, 2));
    QVERIFY(rig.lastLogLine().rfind("ERROR", 0) == 0);
    rig.send(packet({0x29, 0x01}, 6));
    QCOMPARE(rig.answer(6), (Bytes{0xEC, 0xF1, 0x00, 0x95, 0x40, 0xEC})); // still chip enable 3
}

void TestNandProtocol::parameterPageIsTwoValidCopies()
{
    Rig rig(TwoChips);
    rig.send(packet({0x2A, 0x01}, 6));
    const Bytes page = readAnswer(rig, 512);
    QCOMPARE(page.size(), std::size_t(512));
    QCOMPARE(Bytes(page.begin(), page.begin() + 256), Bytes(page.begin() + 256, page.end()));
    QCOMPARE(
        unsigned(page[254] | (page[255] << 8)),
        unsigned(chips::OnfiParameterPage::crc16(std::span<const std::uint8_t>(page.data(), 254))));
    QCOMPARE(le32(page, 80), 2048u);
    QCOMPARE(le32(page, 96), 16u);
    Rig plain("[chip]\nfamily = nand\nid = EC F1 00 95 40\nblocks = 16\n");
    plain.send(packet({0x2A, 0x01}, 6));
    QCOMPARE(readAnswer(plain, 512), Bytes(512, 0xFF));
}

void TestNandProtocol::readPagesPadToWholePackets_data()
{
    QTest::addColumn<bool>("highSpeed");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("answer");
    QTest::newRow("one page, 512-byte packets") << true << 1 << 2560;
    QTest::newRow("three pages, 512-byte packets") << true << 3 << 6656;
    QTest::newRow("one page, 64-byte packets") << false << 1 << 2112;
    QTest::newRow("one block, 512-byte packets") << true << 64 << 135168;
}

void TestNandProtocol::readPagesPadToWholePackets()
{
    QFETCH(bool, highSpeed);
    QFETCH(int, pages);
    QFETCH(int, answer);
    Rig rig(TwoChips, "NAND image 1", highSpeed ? LinkSpeed::High : LinkSpeed::Full);
    // Data to read back: pages 64.. (block 1) of chip enable 0.
    for (int p = 0; p < pages; ++p) {
        rig.send(pageCommand(0x1C, 64 + p, 1, 1));
        Bytes data = pattern(PageBytes, p);
        data.resize((PageBytes + (highSpeed ? 511 : 63)) / (highSpeed ? 512 : 64) *
                        (highSpeed ? 512 : 64),
                    0);
        rig.send(data);
    }
    rig.send(pageCommand(0x27, 64, pages % 256, pages / 256 + 1));
    QCOMPARE(rig.firmware->pendingAnswerBytes(), std::uint64_t(answer));
    const Bytes got = readAnswer(rig, std::size_t(answer), 8192);
    QCOMPARE(got.size(), std::size_t(answer));
    for (int p = 0; p < pages; ++p)
        QCOMPARE(Bytes(got.begin() + p * long(PageBytes), got.begin() + (p + 1) * long(PageBytes)),
                 pattern(PageBytes, p));
    QCOMPARE(Bytes(got.begin() + pages * long(PageBytes), got.end()),
             Bytes(std::size_t(answer) - pages * PageBytes, 0xFF));
}

void TestNandProtocol::pageCountRunsAsTwoNestedLoops_data()
{
    QTest::addColumn<int>("inner");
    QTest::addColumn<int>("outer");
    QTest::addColumn<int>("pages");
    QTest::newRow("0x40/0x01: 64 pages") << 0x40 << 0x01 << 64;
    QTest::newRow("0x00/0x02: 512 pages") << 0x00 << 0x02 << 512;
    QTest::newRow("0x00/0x01: 256 pages") << 0x00 << 0x01 << 256;
    QTest::newRow("0x2C/0x02: 300 pages") << 0x2C << 0x02 << 300;
    QTest::newRow("0x01/0x01: 1 page") << 0x01 << 0x01 << 1;
}

void TestNandProtocol::pageCountRunsAsTwoNestedLoops()
{
    QFETCH(int, inner);
    QFETCH(int, outer);
    QFETCH(int, pages);
    Rig rig(TwoChips);
    // Reads: the answer holds that many pages.
    rig.send(pageCommand(0x27, 0, inner, outer));
    QCOMPARE(rig.firmware->pendingAnswerBytes(),
             (std::uint64_t(pages) * PageBytes + 511) / 512 * 512);
    // Programs: the firmware waits for that many pages of data.
    Rig program(TwoChips);
    program.send(pageCommand(0x1C, 0, inner, outer));
    QCOMPARE(program.firmware->expectedProgramData(),
             (std::uint64_t(pages) * PageBytes + 511) / 512 * 512);
}

void TestNandProtocol::programTakesTheDataThatFollows()
{
    Rig rig(TwoChips);
    rig.send(pageCommand(0x1C, 130, 3, 1)); // block 2, pages 2..4
    QCOMPARE(rig.firmware->expectedProgramData(), std::uint64_t(6656));
    Bytes data = pattern(3 * PageBytes, 9);
    data.resize(6656, 0x00); // the rest of the last packet: not programmed
    rig.send(data);
    QCOMPARE(rig.firmware->expectedProgramData(), std::uint64_t(0));
    QCOMPARE(rig.chip(0, 130 * PageBytes, 3 * PageBytes), pattern(3 * PageBytes, 9));
    QCOMPARE(rig.chip(0, 133 * PageBytes, PageBytes), Bytes(PageBytes, 0xFF));
    QCOMPARE(rig.chip(1, 130 * PageBytes, PageBytes), Bytes(PageBytes, 0xFF)); // other chip enable
    // Program only clears bits.
    rig.send(pageCommand(0x1C, 130, 1, 1));
    Bytes zeros(2560, 0x00);
    for (std::size_t i = 0; i < 100; ++i)
        zeros[i] = 0xFF;
    rig.send(zeros);
    Bytes expected = pattern(PageBytes, 9);
    for (std::size_t i = 100; i < PageBytes; ++i)
        expected[i] = 0;
    QCOMPARE(rig.chip(0, 130 * PageBytes, PageBytes), expected);
    rig.send(packet({0x32}, 1));
    QCOMPARE(rig.answer(2), (Bytes{'D', 0}));
    // Chip enable 1 through 0x36.
    rig.send(packet({0x36, 1}, 2));
    rig.send(pageCommand(0x1C, 0, 1, 1));
    Bytes one = pattern(PageBytes, 1);
    one.resize(2560, 0);
    rig.send(one);
    QCOMPARE(rig.chip(1, 0, PageBytes), pattern(PageBytes, 1));
    QCOMPARE(rig.chip(0, 0, 4), Bytes(4, 0xFF));
}

void TestNandProtocol::programDataMayArriveInPieces()
{
    Rig rig(TwoChips);
    rig.send(pageCommand(0x1C, 64, 2, 1));
    Bytes data = pattern(2 * PageBytes, 4);
    data.resize(4608, 0);
    rig.send(Bytes(data.begin(), data.begin() + 1000));
    rig.send(Bytes(data.begin() + 1000, data.begin() + 3000));
    QCOMPARE(rig.chip(0, 64 * PageBytes, PageBytes), pattern(PageBytes, 4)); // first page done
    rig.send(Bytes(data.begin() + 3000, data.end()));
    QCOMPARE(rig.chip(0, 64 * PageBytes, 2 * PageBytes), pattern(2 * PageBytes, 4));
    const auto lines = rig.log();
    QCOMPARE(lines.size(), std::size_t(4));
    QCOMPARE(lines[1], std::string("DATA 1000"));
    QCOMPARE(lines[2], std::string("DATA 2000"));
    QCOMPARE(lines[3], std::string("DATA 1608"));
    // The next packet is a command again.
    rig.send(packet({0x29, 0x01}, 6));
    QCOMPARE(rig.answer(6).size(), std::size_t(6));
}

void TestNandProtocol::eraseAnswersTheStatus()
{
    Rig rig(TwoChips);
    rig.send(pageCommand(0x1C, 64, 1, 1));
    rig.send(Bytes(2560, 0x00));
    const auto erase = [&](std::uint32_t row) {
        rig.send(packet({0x1B, 2, int(row & 0xFF), int(row >> 8)}, 20));
        return rig.answer(2);
    };
    QCOMPARE(erase(64), (Bytes{0xE0, 0x00}));
    QCOMPARE(rig.chip(0, 64 * PageBytes, PageBytes), Bytes(PageBytes, 0xFF));
    QCOMPARE(erase(5 * 64), (Bytes{0xE1, 0x01})); // grown bad: erase fails
    QCOMPARE(erase(3 * 64), (Bytes{0xE1, 0x01})); // factory bad
    QCOMPARE(rig.chip(0, 3 * 64 * PageBytes, 1), Bytes(1, 0x00));
    rig.send(packet({0x36, 2}, 2)); // no chip there: the status reads 0xFF
    QCOMPARE(erase(0), (Bytes{0xFF, 0x01}));
}

void TestNandProtocol::programFailuresAreCountedAtTheEnd()
{
    Rig rig(TwoChips);
    rig.send(pageCommand(0x1C, 6 * 64, 3, 1)); // block 6 fails to program
    rig.send(Bytes(6656, 0x00));
    rig.send(pageCommand(0x1C, 7 * 64, 1, 1));
    rig.send(Bytes(2560, 0x00));
    rig.send(packet({0x32}, 1));
    QCOMPARE(rig.answer(2), (Bytes{'D', 3}));
    QCOMPARE(rig.chip(0, 6 * 64 * PageBytes, 1), Bytes(1, 0xFF));
    QCOMPARE(rig.chip(0, 7 * 64 * PageBytes, 1), Bytes(1, 0x00));
    rig.send(packet({0x32}, 1));
    QCOMPARE(rig.answer(2), (Bytes{'D', 0})); // counted afresh
}

void TestNandProtocol::badBlockScanReadsTheFirstPage()
{
    Rig rig(TwoChips);
    const auto scan = [&](std::uint32_t block) {
        const std::uint32_t row = block * 64;
        rig.send(packet({0x37, 4, 0, 0, int(row & 0xFF), int(row >> 8), 0, 0, 0x00, 0x02}, 20));
        return rig.answer(4096);
    };
    QCOMPARE(scan(2), Bytes(512, 0xFF));
    QCOMPARE(scan(3), Bytes(512, 0x00)); // factory bad
    rig.send(packet({0x36, 1}, 2));
    QCOMPARE(scan(3), Bytes(512, 0xFF));
    QCOMPARE(scan(7), Bytes(512, 0x00));
    // The first spare byte of a factory-bad block's first page is its mark.
    rig.send(pageCommand(0x27, 7 * 64, 1, 1));
    const Bytes page = readAnswer(rig, 2560);
    QCOMPARE(page[2048], std::uint8_t(0x00));
}

void TestNandProtocol::repeatedReadsFlipSingleBits()
{
    Rig rig(R"(
[chip]
family = nand
id = EC F1 00 95 40
blocks = 16
flip_seed = 1234
flip_rate = 1
)");
    std::vector<Bytes> reads;
    for (int i = 0; i < 4; ++i) {
        rig.send(pageCommand(0x27, 10, 1, 1));
        Bytes page = readAnswer(rig, 2560);
        page.resize(PageBytes);
        int flipped = 0;
        for (const std::uint8_t b : page)
            flipped += __builtin_popcount(static_cast<unsigned>(~b) & 0xFF);
        QCOMPARE(flipped, 1);
        reads.push_back(page);
    }
    QVERIFY(reads[0] != reads[1] || reads[1] != reads[2] || reads[2] != reads[3]);
    QCOMPARE(rig.chip(0, 10 * PageBytes, PageBytes), Bytes(PageBytes, 0xFF));
}

void TestNandProtocol::smallPageChipTakesOneColumnCycle()
{
    Rig rig(R"(
[chip]
family = nand
id = EC 76 5A 3F
data_bytes = 512
spare_bytes = 16
pages_per_block = 32
blocks = 4096
)"); // 131072 pages: three row cycles
    const std::uint32_t row = 0x012345;
    // One column byte at 2, the row from byte 3.
    Bytes program = packet({0x1C, 4, 0, 0x45, 0x23, 0x01, 0, 0, 0x10, 0x02, 1, 1}, 20);
    rig.send(program);
    Bytes data = pattern(528, 3);
    data.resize(1024, 0);
    rig.send(data);
    QCOMPARE(rig.chip(0, std::uint64_t(row) * 528, 528), pattern(528, 3));
}

void TestNandProtocol::malformedPacketsAreErrorsWithoutAnswer_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const auto b = [](const Bytes &p) {
        return QByteArray(reinterpret_cast<const char *>(p.data()), qsizetype(p.size()));
    };
    QTest::newRow("empty") << QByteArray() << "empty packet";
    QTest::newRow("delay") << b(packet({0x2E, 0x01, 0xF4}, 10)) << "delay request";
    QTest::newRow("marker") << b(packet({0x38}, 1)) << "marker request";
    QTest::newRow("unknown") << b(packet({0x99}, 10)) << "unknown command 0x99";
    QTest::newRow("SPI only") << b(packet({0x31, 1, 0xD7, 1}, 64)) << "unknown command 0x31";
    QTest::newRow("short read") << b(packet({0x27, 4}, 10)) << "short packet 0x27";
    QTest::newRow("short identification") << b(packet({0x18}, 4)) << "short packet 0x18";
    QTest::newRow("no address cycles")
        << b(packet({0x27, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x08, 1, 1}, 20)) << "address cycles";
    QTest::newRow("seven address cycles")
        << b(packet({0x1C, 7, 0, 0, 0, 0, 0, 0, 0x40, 0x08, 1, 1}, 20)) << "address cycles";
    QTest::newRow("page size 0") << b(packet({0x27, 4}, 20)) << "page size 0";
    QTest::newRow("five row bytes") << b(packet({0x1B, 5}, 20)) << "0x1b with 5 row bytes";
    QTest::newRow("erase without row bytes") << b(packet({0x1B, 0}, 20)) << "0x1b with 0 row bytes";
    QTest::newRow("scan of 0 bytes") << b(packet({0x37, 4}, 20)) << "0x37 for 0 bytes";
    QTest::newRow("huge scan") << b(packet({0x37, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 20))
                               << "0x37 for";
    QTest::newRow("chip enable 9") << b(packet({0x36, 9}, 2)) << "chip enable 9";
}

void TestNandProtocol::malformedPacketsAreErrorsWithoutAnswer()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    Rig rig(TwoChips);
    rig.send(Bytes(bytes.begin(), bytes.end()));
    const auto lines = rig.log();
    QCOMPARE(lines.size(), std::size_t(2));
    QVERIFY(lines[0].rfind("CMD", 0) == 0);
    QVERIFY2(lines[1].rfind("ERROR ", 0) == 0 &&
                 lines[1].find(reason.toStdString()) != std::string::npos,
             lines[1].c_str());
    QCOMPARE(rig.firmware->pendingAnswerBytes(), std::uint64_t(0));
    QCOMPARE(rig.firmware->expectedProgramData(), std::uint64_t(0));
    // The firmware goes on as before.
    rig.send(packet({0x29, 0x01}, 6));
    QCOMPARE(rig.answer(6, 0x86), (Bytes{0xEC, 0xF1, 0x00, 0x95, 0x40, 0xEC}));
}

void TestNandProtocol::pipeOneAndSurplusDataAreErrors()
{
    Rig rig(TwoChips);
    rig.send(Bytes(64, 0x18), 0x04);
    QCOMPARE(rig.lastLogLine(), std::string("ERROR pipe 1 is not used: 64 bytes dropped"));
    QCOMPARE(rig.firmware->pendingAnswerBytes(), std::uint64_t(0));
    QCOMPARE(rig.firmware->bulkOut(0x06, Bytes(4)).status, TransferStatus::Stall);
    rig.send(pageCommand(0x1C, 0, 1, 1));
    rig.send(Bytes(2560 + 9, 0x00)); // one packet's data and a stray command
    const auto lines = rig.log();
    QCOMPARE(lines[lines.size() - 2], std::string("DATA 2560"));
    QCOMPARE(lines.back(), std::string("ERROR 9 bytes past the program data dropped"));
    QCOMPARE(rig.chip(0, 0, PageBytes), Bytes(PageBytes, 0x00));
    QCOMPARE(rig.firmware->pendingAnswerBytes(), std::uint64_t(0));
}

void TestNandProtocol::commandLogLinesByteForByte()
{
    Rig rig(TwoChips);
    rig.firmware->onStop();
    rig.firmware->onStart(image("NAND image 2"), LinkSpeed::High);
    rig.send(packet({0x18, 0x00, 0x02, 0x00, 0x0A}, 9));
    rig.send(pageCommand(0x1C, 0, 1, 1));
    rig.send(Bytes(2560, 0xAB));
    rig.send(packet({0x2E, 0x01, 0xF4}, 10));
    const std::vector<std::string> expected = {
        "DOWNLOAD NAND image 2",
        "CMD 18 00 02 00 0a 00 00 00 00",
        "CMD 1c 04 00 00 00 00 00 00 40 08 01 01 00 00 00 00 00 00 00 00",
        "DATA 2560",
        "CMD 2e 01 f4 00 00 00 00 00 00 00",
        "ERROR delay request 0x2e never goes to the programmer",
    };
    QCOMPARE(rig.log(), expected);
    QCOMPARE(rig.firmware->log().text(), [&] {
        std::string all;
        for (const auto &l : expected)
            all += l + "\n";
        return all;
    }());
    QCOMPARE(CommandLog::hex(Bytes{0x00, 0x0F, 0xF0, 0xFF}), std::string("00 0f f0 ff"));
}

void TestNandProtocol::commandLogFileGetsEveryLineAtOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("kvemu.log");
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier line\n"); // appended to, never truncated
    }
    CommandLog log(path.toStdString());
    log.command(Bytes{0x33, 0x00});
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("earlier line\nCMD 33 00\n"));
    log.data(512);
    log.error("x");
    file.seek(0);
    QCOMPARE(file.readAll(), QByteArray("earlier line\nCMD 33 00\nDATA 512\nERROR x\n"));
    CommandLog broken("/nonexistent-kvemu-folder/log.txt");
    QCOMPARE(broken.lines().size(), std::size_t(1));
    QVERIFY(broken.lines()[0].rfind("ERROR cannot open log file", 0) == 0);
}

void TestNandProtocol::failingReadLosesItsBytesOnly()
{
    Rig rig(TwoChips);
    rig.send(pageCommand(0x1C, 0, 4, 1));
    Bytes data = pattern(4 * PageBytes, 5);
    data.resize(8704, 0);
    rig.send(data);
    rig.send(pageCommand(0x27, 0, 4, 1)); // 8704 bytes
    rig.firmware->failRead(2);
    QCOMPARE(rig.answer(4096).size(), std::size_t(4096));
    Bytes buffer(4096);
    QCOMPARE(rig.firmware->bulkIn(0x88, buffer).status, TransferStatus::Invalid);
    const Bytes rest = rig.answer(8192);
    QCOMPARE(rest.size(), std::size_t(8704 - 8192));
    QCOMPARE(Bytes(rest.begin(), rest.begin() + 8),
             Bytes(data.begin() + 8192, data.begin() + 8200));
    QVERIFY(rig.lastLogLine().rfind("ERROR read fault: 4096 bytes lost", 0) == 0);
}

void TestNandProtocol::stopDropsPendingAnswers()
{
    Rig rig(TwoChips);
    rig.send(pageCommand(0x27, 0, 0, 4)); // the whole chip: generated as read, never held
    QCOMPARE(rig.firmware->pendingAnswerBytes(),
             (std::uint64_t(1024) * PageBytes + 511) / 512 * 512);
    rig.firmware->onStop();
    QCOMPARE(rig.firmware->pendingAnswerBytes(), std::uint64_t(0));
    QVERIFY(!rig.firmware->runningImage());
}

void TestNandProtocol::realisticTimingAddsBusAndChipTimes()
{
    using namespace std::chrono;
    Rig rig(TwoChips, "NAND image 1", LinkSpeed::Full);
    QVERIFY(rig.firmware->settings().realistic == false);
    QCOMPARE(rig.firmware->readyAt(), steady_clock::time_point{}); // instant: nobody waits

    // 1 MB/s on the bus; chip enable 1 reads a page in 5 ms (slower than
    // the bus), chip enable 0 in the default 25 us.
    Rig slow("[programmer]\ntiming = realistic\nfull_speed_rate = 1000000\n" +
                 std::string(TwoChips).substr(std::string(TwoChips).find("[chip]")) +
                 "read_us = 5000\n",
             "NAND image 1", LinkSpeed::Full);
    const steady_clock::time_point t0 = steady_clock::time_point(seconds(100));
    steady_clock::time_point now = t0;
    slow.firmware->setClock([&now] { return now; });
    slow.send(pageCommand(0x27, 0, 2, 1)); // 20 bytes at 1 MB/s
    QCOMPARE(slow.firmware->readyAt(), t0 + microseconds(20));
    // Two page reads of 25 us overlap with 4224 bytes on the bus: the bus sets the pace.
    QCOMPARE(slow.answer(4224).size(), std::size_t(4224));
    QCOMPARE(slow.firmware->readyAt(), t0 + microseconds(20 + 4224));
    // On the slow chip the chip does: 2112 bytes, 5 ms (and 2 + 2 bytes on the bus).
    slow.send(packet({0x36, 1}, 2));
    slow.send(pageCommand(0x27, 0, 1, 1));
    QCOMPARE(slow.answer(2112).size(), std::size_t(2112));
    QCOMPARE(slow.firmware->readyAt(), t0 + microseconds(20 + 4224 + 2 + 20 + 5000));
    QCOMPARE(slow.answer(4096).size(), std::size_t(0)); // 2112 bytes are 33 whole 64-byte packets
    // Idle time passes: the device catches up with real time (less the slack
    // that absorbs a host's oversleeping), then erases (2 ms).
    now = t0 + seconds(1);
    slow.send(packet({0x1B, 2, 0x40, 0}, 20));
    QCOMPARE(slow.firmware->readyAt(), t0 + seconds(1) - nanoseconds(DeviceClock::CatchUpSlack) +
                                           microseconds(20) + milliseconds(2));
}

void TestNandProtocol::randomPacketsNeverBreakTheFirmware_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("image");
    QTest::newRow("NAND") << QString(TwoChips) << "NAND image 1";
    QTest::newRow("SPI NOR") << "[chip]\nfamily = spi\nid = EF 40 17\nsize = 1M\n"
                             << "SPI image 0";
    QTest::newRow("DataFlash") << "[chip]\nfamily = dataflash\nid = 1F 26 00\n"
                               << "SPI image 3";
    QTest::newRow("EEPROM") << "[chip]\nfamily = eeprom\nsize = 512\n"
                            << "SPI image 4";
}

void TestNandProtocol::randomPacketsNeverBreakTheFirmware()
{
    QFETCH(QString, profile);
    QFETCH(QString, image);
    Rig rig(profile.toStdString(), image.toLatin1().constData());
    std::mt19937 random(20261207);
    const int codes[] = {0x10, 0x18, 0x1B, 0x1C, 0x1D, 0x27, 0x29, 0x2A, 0x2E, 0x30,
                         0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x00, 0xFF};
    std::size_t packets = 0;
    for (int i = 0; i < 3000; ++i) {
        Bytes p(random() % 72);
        for (auto &b : p)
            b = static_cast<std::uint8_t>(random());
        if (!p.empty() && random() % 4 != 0)
            p[0] = static_cast<std::uint8_t>(codes[random() % std::size(codes)]);
        const bool command = rig.firmware->expectedProgramData() == 0;
        rig.send(p, random() % 16 == 0 ? 0x04 : 0x02);
        packets += command ? 1 : 0;
        Bytes buffer(random() % 9000);
        QVERIFY(rig.firmware->bulkIn(random() % 2 ? 0x86 : 0x88, buffer).ok());
        if (rig.firmware->pendingAnswerBytes() > (1u << 20) ||
            rig.firmware->expectedProgramData() > (1u << 20)) {
            rig.firmware->onStop();
            rig.firmware->onStart(ProgrammerTest::image(image.toLatin1().constData()),
                                  LinkSpeed::High);
        }
    }
    QVERIFY(rig.log().size() >= std::min<std::size_t>(packets, CommandLog::KeptLines));
    // Afterwards the firmware still answers as it should.
    rig.firmware->onStop();
    rig.firmware->onStart(ProgrammerTest::image(image.toLatin1().constData()), LinkSpeed::High);
    rig.send(packet({0x18, 0x00, 0x02, 0x00, 0x0A}, 9));
    const Bytes answer = rig.answer(8);
    QCOMPARE(answer.size(), std::size_t(8));
    QCOMPARE(le32(answer, 4), ProgrammerFirmware::Magic);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestNandProtocol)
#include "tst_nand_protocol.moc"
