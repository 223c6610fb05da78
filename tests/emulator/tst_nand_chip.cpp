#include "TestHome.h"

#include "ImageFile.h"
#include "NandChip.h"
#include "OnfiParameterPage.h"

#include <QCoreApplication>
#include <QTest>

#include <cstring>
#include <stdexcept>
#include <vector>

using namespace kvemu::chips;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A small large-page chip: 2048 + 64 bytes, 4 pages per block, 8 blocks.
NandChipConfig smallChip()
{
    NandChipConfig c;
    c.id = {0xEC, 0xF1, 0x00, 0x95, 0x40};
    c.dataBytes = 2048;
    c.spareBytes = 64;
    c.pagesPerBlock = 4;
    c.blocks = 8;
    return c;
}

Bytes page(NandChip &chip, std::uint32_t row)
{
    Bytes out(chip.pageBytes());
    chip.readPage(row, 0, out);
    return out;
}

// ONFI's CRC written out as the standard describes it: a 16-bit shift
// register, preset to 0x4F4E, fed each byte's bits most significant first,
// with feedback polynomial x^16 + x^15 + x^2 + 1.
std::uint16_t onfiCrcByTheRules(const std::uint8_t *bytes, std::size_t length)
{
    unsigned reg = 0x4F4E;
    for (std::size_t i = 0; i < length; ++i)
        for (int bit = 7; bit >= 0; --bit) {
            const unsigned in = (bytes[i] >> bit) & 1;
            const unsigned top = (reg >> 15) & 1;
            reg = (reg << 1) & 0xFFFF;
            if (top ^ in)
                reg ^= (1u << 15) | (1u << 2) | 1u;
        }
    return static_cast<std::uint16_t>(reg);
}

std::uint32_t le32(const Bytes &b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

} // namespace

// The NAND chip model as its commands see it, and its ONFI parameter page.
class TestNandChip : public QObject
{
    Q_OBJECT
private slots:
    void idRepeatsAfterItsBytes();
    void ownAddressCyclesAsRealPartsHaveThem_data();
    void ownAddressCyclesAsRealPartsHaveThem();
    void erasedChipReadsFF();
    void programOnlyClearsBitsAndEraseSetsFF();
    void programFromAColumnAndPastThePageEnd();
    void factoryBadBlocksAreMarkedAndRefuseChanges();
    void grownBadBlocksFailEraseOrProgram();
    void rowsWrapAtTheEndOfTheChip();
    void wholePageReadsMatchSinglePageReads();
    void readFlipsAreSeededAndSingleBit();
    void flipRateZeroNeverFlips();
    void invalidConfigurationIsRefused();
    void parameterPageFollowsOnfi();
    void parameterPageCrcCatchesACorruptByte();
    void chipWithoutOnfiReadsFF();
};

void TestNandChip::idRepeatsAfterItsBytes()
{
    ImageFile image({}, smallChip().totalBytes());
    NandChip chip(smallChip(), image, 0);
    Bytes id(7);
    chip.readId(id);
    QCOMPARE(id, (Bytes{0xEC, 0xF1, 0x00, 0x95, 0x40, 0xEC, 0xF1}));
}

void TestNandChip::ownAddressCyclesAsRealPartsHaveThem_data()
{
    QTest::addColumn<int>("dataBytes");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    QTest::newRow("small page, 2 row cycles") << 512 << 1024 << 1 << 2;  // 4096 pages
    QTest::newRow("small page, 3 row cycles") << 512 << 32768 << 1 << 3; // 131072 pages
    QTest::newRow("2K page, 65536 pages") << 2048 << 16384 << 2 << 2;    // highest row 0xFFFF
    QTest::newRow("2K page, 65540 pages") << 2048 << 16385 << 2 << 3;
}

void TestNandChip::ownAddressCyclesAsRealPartsHaveThem()
{
    QFETCH(int, dataBytes);
    QFETCH(int, blocks);
    QFETCH(int, columns);
    QFETCH(int, rows);
    NandChipConfig c = smallChip();
    c.dataBytes = static_cast<std::uint32_t>(dataBytes);
    c.spareBytes = c.dataBytes / 32;
    c.blocks = static_cast<std::uint32_t>(blocks);
    QCOMPARE(c.effectiveColumnCycles(), unsigned(columns));
    QCOMPARE(c.effectiveRowCycles(), unsigned(rows));
}

void TestNandChip::erasedChipReadsFF()
{
    ImageFile image({}, smallChip().totalBytes());
    NandChip chip(smallChip(), image, 0);
    QCOMPARE(page(chip, 0), Bytes(2112, 0xFF));
    QCOMPARE(page(chip, 31), Bytes(2112, 0xFF));
}

void TestNandChip::programOnlyClearsBitsAndEraseSetsFF()
{
    ImageFile image({}, smallChip().totalBytes());
    NandChip chip(smallChip(), image, 0);
    Bytes data(2112);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    QVERIFY(!chip.programPage(5, 0, data).failed());
    QCOMPARE(page(chip, 5), data);
    // Programming again with other bits: the result is the AND of both.
    const Bytes second(2112, 0x0F);
    QCOMPARE(chip.programPage(5, 0, second).status, NandChip::StatusReady);
    Bytes expected = data;
    for (auto &b : expected)
        b &= 0x0F;
    QCOMPARE(page(chip, 5), expected);
    QCOMPARE(page(chip, 4), Bytes(2112, 0xFF)); // neighbours untouched
    // Erase works on the whole block that holds the row (rows 4..7).
    chip.programPage(7, 0, Bytes(2112, 0x00));
    chip.programPage(8, 0, Bytes(2112, 0x00));
    const auto r = chip.eraseBlock(6);
    QVERIFY(!r.failed());
    QCOMPARE(r.busy, smallChip().eraseTime);
    QCOMPARE(page(chip, 5), Bytes(2112, 0xFF));
    QCOMPARE(page(chip, 7), Bytes(2112, 0xFF));
    QCOMPARE(page(chip, 8), Bytes(2112, 0x00));
}

void TestNandChip::programFromAColumnAndPastThePageEnd()
{
    ImageFile image({}, smallChip().totalBytes());
    NandChip chip(smallChip(), image, 0);
    chip.programPage(1, 2110, Bytes{0x11, 0x22, 0x33, 0x44}); // two bytes fit
    const Bytes p1 = page(chip, 1);
    QCOMPARE(p1[2109], std::uint8_t(0xFF));
    QCOMPARE(p1[2110], std::uint8_t(0x11));
    QCOMPARE(p1[2111], std::uint8_t(0x22));
    QCOMPARE(page(chip, 2)[0], std::uint8_t(0xFF));
    // Reading from a column: bytes past the page end read 0xFF.
    Bytes out(4);
    chip.readPage(1, 2110, out);
    QCOMPARE(out, (Bytes{0x11, 0x22, 0xFF, 0xFF}));
}

void TestNandChip::factoryBadBlocksAreMarkedAndRefuseChanges()
{
    NandChipConfig c = smallChip();
    c.factoryBadBlocks = {2, 7};
    ImageFile image({}, c.totalBytes());
    NandChip chip(c, image, 0);
    const Bytes first = page(chip, 2 * 4);
    QCOMPARE(first[2048], std::uint8_t(0x00)); // the bad-block mark: first spare byte
    QCOMPARE(first, Bytes(2112, 0x00));
    QCOMPARE(page(chip, 2 * 4 + 1), Bytes(2112, 0xFF));
    QCOMPARE(page(chip, 7 * 4)[2048], std::uint8_t(0x00));
    QCOMPARE(page(chip, 1 * 4)[2048], std::uint8_t(0xFF));
    const auto erase = chip.eraseBlock(2 * 4);
    QVERIFY(erase.failed());
    QCOMPARE(erase.status, std::uint8_t(NandChip::StatusReady | NandChip::StatusFail));
    QCOMPARE(page(chip, 2 * 4)[0], std::uint8_t(0x00));
    QVERIFY(chip.programPage(2 * 4 + 1, 0, Bytes(10, 0)).failed());
    QCOMPARE(page(chip, 2 * 4 + 1)[0], std::uint8_t(0xFF));
}

void TestNandChip::grownBadBlocksFailEraseOrProgram()
{
    NandChipConfig c = smallChip();
    c.eraseFailBlocks = {3};
    c.programFailBlocks = {5};
    ImageFile image({}, c.totalBytes());
    NandChip chip(c, image, 0);
    QVERIFY(!chip.programPage(12, 0, Bytes(4, 0x00)).failed());
    QVERIFY(chip.eraseBlock(12).failed());
    QCOMPARE(page(chip, 12)[0], std::uint8_t(0x00)); // the failed erase left it
    QVERIFY(chip.programPage(20, 0, Bytes(4, 0x00)).failed());
    QCOMPARE(page(chip, 20)[0], std::uint8_t(0xFF));
    QVERIFY(!chip.eraseBlock(20).failed());
}

void TestNandChip::rowsWrapAtTheEndOfTheChip()
{
    ImageFile image({}, smallChip().totalBytes());
    NandChip chip(smallChip(), image, 0);
    chip.programPage(32 + 3, 0, Bytes{0x42}); // 32 pages: row 35 is row 3
    QCOMPARE(page(chip, 3)[0], std::uint8_t(0x42));
}

void TestNandChip::wholePageReadsMatchSinglePageReads()
{
    ImageFile image({}, smallChip().totalBytes());
    NandChip chip(smallChip(), image, 0);
    for (std::uint32_t row = 28; row < 32; ++row)
        chip.programPage(row, 0, Bytes(2112, static_cast<std::uint8_t>(row)));
    chip.programPage(0, 0, Bytes(2112, 0xA5));
    Bytes run(6 * 2112);
    QCOMPARE(chip.readPages(28, run), 6 * smallChip().readTime);
    for (std::size_t i = 0; i < 6; ++i) {
        const std::uint32_t row = (28 + static_cast<std::uint32_t>(i)) % 32;
        QCOMPARE(Bytes(run.begin() + static_cast<std::ptrdiff_t>(i * 2112),
                       run.begin() + static_cast<std::ptrdiff_t>((i + 1) * 2112)),
                 page(chip, row));
    }
}

void TestNandChip::readFlipsAreSeededAndSingleBit()
{
    NandChipConfig c = smallChip();
    c.flipSeed = 42;
    c.flipRate = 1.0;
    ImageFile imageA({}, c.totalBytes());
    ImageFile imageB({}, c.totalBytes());
    NandChip a(c, imageA, 0);
    NandChip b(c, imageB, 0);
    std::vector<Bytes> readsA, readsB;
    for (int i = 0; i < 5; ++i) {
        readsA.push_back(page(a, 0));
        readsB.push_back(page(b, 0));
    }
    QCOMPARE(readsA, readsB); // same seed, same sequence
    for (const Bytes &r : readsA) {
        int flipped = 0;
        for (const std::uint8_t byte : r)
            flipped += __builtin_popcount(static_cast<unsigned>(~byte) & 0xFF);
        QCOMPARE(flipped, 1);
    }
    QVERIFY(readsA[0] != readsA[1] || readsA[1] != readsA[2]); // reads differ
    Bytes stored(2112);
    a.contents(0, stored);
    QCOMPARE(stored, Bytes(2112, 0xFF)); // the stored data is untouched
    // The whole-page path flips too, one bit in each page.
    Bytes two(2 * 2112);
    a.readPages(0, two);
    int flipped = 0;
    for (const std::uint8_t byte : two)
        flipped += __builtin_popcount(static_cast<unsigned>(~byte) & 0xFF);
    QCOMPARE(flipped, 2);
}

void TestNandChip::flipRateZeroNeverFlips()
{
    NandChipConfig c = smallChip();
    c.flipSeed = 7;
    c.flipRate = 0.0;
    ImageFile image({}, c.totalBytes());
    NandChip chip(c, image, 0);
    for (int i = 0; i < 50; ++i)
        QCOMPARE(page(chip, static_cast<std::uint32_t>(i % 32)), Bytes(2112, 0xFF));
}

void TestNandChip::invalidConfigurationIsRefused()
{
    NandChipConfig c = smallChip();
    c.factoryBadBlocks = {8}; // one past the last block
    QVERIFY(!c.check().empty());
    ImageFile image({}, 1 << 20);
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, NandChip(c, image, 0));
    c = smallChip();
    c.pagesPerBlock = 0;
    QVERIFY(!c.check().empty());
    c = smallChip();
    c.flipRate = 1.5;
    QVERIFY(!c.check().empty());
}

void TestNandChip::parameterPageFollowsOnfi()
{
    NandChipConfig c = smallChip();
    c.blocks = 1024;
    c.pagesPerBlock = 64;
    c.onfi = true;
    c.manufacturer = "SAMSUNG";
    c.model = "K9F1G08U0B";
    ImageFile image({}, c.totalBytes());
    NandChip chip(c, image, 0);
    Bytes stream(768);
    chip.readParameterPage(0, stream);
    const Bytes p(stream.begin(), stream.begin() + 256);
    QCOMPARE(std::memcmp(p.data(), "ONFI", 4), 0);
    QVERIFY(((p[4] | (p[5] << 8)) & 0x0002) != 0); // revision 1.0 supported
    QCOMPARE(std::string(p.begin() + 32, p.begin() + 44), std::string("SAMSUNG     "));
    QCOMPARE(std::string(p.begin() + 44, p.begin() + 64), std::string("K9F1G08U0B          "));
    QCOMPARE(p[64], std::uint8_t(0xEC));
    QCOMPARE(le32(p, 80), 2048u);
    QCOMPARE(unsigned(p[84] | (p[85] << 8)), 64u);
    QCOMPARE(le32(p, 92), 64u);
    QCOMPARE(le32(p, 96), 1024u);
    QCOMPARE(p[100], std::uint8_t(1));
    QCOMPARE(p[101], std::uint8_t(0x22)); // 2 column, 2 row cycles
    QCOMPARE(p[102], std::uint8_t(1));
    // Integrity CRC over bytes 0..253, little-endian at 254.
    QCOMPARE(unsigned(p[254] | (p[255] << 8)), unsigned(onfiCrcByTheRules(p.data(), 254)));
    // The copies that follow are identical.
    QCOMPARE(Bytes(stream.begin() + 256, stream.begin() + 512), p);
    QCOMPARE(Bytes(stream.begin() + 512, stream.end()), p);
}

void TestNandChip::parameterPageCrcCatchesACorruptByte()
{
    OnfiDescription d;
    auto page = OnfiParameterPage::build(d);
    const std::uint16_t stored = static_cast<std::uint16_t>(page[254] | (page[255] << 8));
    QCOMPARE(OnfiParameterPage::crc16(std::span<const std::uint8_t>(page.data(), 254)), stored);
    page[100] ^= 0x01;
    QVERIFY(onfiCrcByTheRules(page.data(), 254) != stored);
}

void TestNandChip::chipWithoutOnfiReadsFF()
{
    ImageFile image({}, smallChip().totalBytes());
    NandChip chip(smallChip(), image, 0);
    Bytes stream(512, 0);
    chip.readParameterPage(0, stream);
    QCOMPARE(stream, Bytes(512, 0xFF));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestNandChip)
#include "tst_nand_chip.moc"
