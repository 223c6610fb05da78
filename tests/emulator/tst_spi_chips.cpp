#include "TestHome.h"

#include "DataFlash.h"
#include "ImageFile.h"
#include "SfdpTable.h"
#include "SpiEeprom.h"
#include "SpiNorFlash.h"

#include <QCoreApplication>
#include <QTest>

#include <vector>

using namespace kvemu::chips;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read(SpiChip &chip, const Bytes &header, std::size_t length,
           SpiLines lines = SpiLines::Single, Nanos now = 0)
{
    Bytes out(length, 0x55);
    chip.read(header, lines, now)->read(out);
    return out;
}

void write(SpiChip &chip, const Bytes &header, const Bytes &data = {},
           SpiLines lines = SpiLines::Single, Nanos now = 0)
{
    chip.write(header, data, lines, now);
}

Bytes slice(SpiChip &chip, std::uint64_t offset, std::size_t length)
{
    Bytes out(length);
    chip.contents(offset, out);
    return out;
}

Bytes ramp(std::size_t length, unsigned start = 0)
{
    Bytes b(length);
    for (std::size_t i = 0; i < length; ++i)
        b[i] = static_cast<std::uint8_t>(start + i);
    return b;
}

std::uint32_t le32(const Bytes &b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

// The basic flash parameter table found the way JESD216 says: signature,
// parameter headers, the first one being the BFPT (ID 0xFF00), its length
// and pointer inside the area.
bool findBasicTable(const Bytes &sfdp, std::vector<std::uint32_t> &words)
{
    if (sfdp.size() < 16 || le32(sfdp, 0) != 0x50444653 || sfdp[5] != 0x01)
        return false;
    const unsigned headers = sfdp[6] + 1u;
    for (unsigned h = 0; h < headers; ++h) {
        const std::size_t at = 8 + 8 * h;
        if (at + 8 > sfdp.size())
            return false;
        const unsigned id = sfdp[at] | (sfdp[at + 7] << 8);
        const unsigned length = sfdp[at + 3];
        const std::size_t pointer = sfdp[at + 4] | (sfdp[at + 5] << 8) | (sfdp[at + 6] << 16);
        if (h == 0 && id != 0xFF00)
            return false; // the first header is always the basic table
        if (id != 0xFF00)
            continue;
        if (length < 9 || pointer % 4 != 0 || pointer + 4 * length > sfdp.size())
            return false;
        words.clear();
        for (unsigned w = 0; w < length; ++w)
            words.push_back(le32(sfdp, pointer + 4 * w));
        return true;
    }
    return false;
}

std::uint64_t densityBytes(std::uint32_t word)
{
    if (word & 0x80000000u)
        return (std::uint64_t(1) << (word & 0x7FFFFFFF)) / 8;
    return (std::uint64_t(word) + 1) / 8;
}

SpiNorConfig nor8m()
{
    SpiNorConfig c; // 8 MiB, EF 40 17, SFDP, dual and quad
    return c;
}

// A NOR chip with a clock that moves on past every operation it starts.
struct NorRig
{
    explicit NorRig(SpiNorConfig config = nor8m()) : image({}, config.size), chip(config, image, 0)
    {}
    ImageFile image;
    SpiNorFlash chip;
    Nanos now = 0;

    void send(const Bytes &header, const Bytes &data = {}, SpiLines lines = SpiLines::Single)
    {
        write(chip, header, data, lines, now);
        now = std::max(now, chip.busyUntil());
    }
    Bytes get(const Bytes &header, std::size_t length, SpiLines lines = SpiLines::Single)
    {
        return read(chip, header, length, lines, now);
    }
    void program(std::uint32_t address, const Bytes &data)
    {
        send({0x06});
        send({0x02, std::uint8_t(address >> 16), std::uint8_t(address >> 8), std::uint8_t(address)},
             data);
    }
};

} // namespace

// The serial chips: JEDEC NOR flash with its SFDP table, DataFlash, EEPROM.
class TestSpiChips : public QObject
{
    Q_OBJECT
private slots:
    // NOR flash
    void norIdAndPlainRead();
    void norMasterWithOtherAddressLengthSeesShiftedData();
    void norFastReadsNeedTheirLinesAndDummyByte();
    void norProgramNeedsWriteEnableAndOnlyClearsBits();
    void norPageBufferWrapsWithinThePage();
    void norEraseSizes();
    void norIgnoresCommandsWhileBusy();
    void norBlockProtection();
    void norFourByteAddressing();
    void norBankRegisterSelectsTheAddressMode_data();
    void norBankRegisterSelectsTheAddressMode();
    void norFourByteTableErasesWhatItSays();
    void norUnknownOpcodeReadsFF();
    // SFDP
    void sfdpParsesByJesd216_data();
    void sfdpParsesByJesd216();
    void sfdpReadThroughTheChip();
    void sfdpDescribesWhatTheChipDoes();
    void chipWithoutSfdpReadsFF();
    // DataFlash
    void dataFlashIdAndStatus();
    void dataFlashPagesOf528AreAddressedByPageTimes1024();
    void dataFlashSectorZeroIsSplit();
    void dataFlashPowerOfTwoMode();
    void dataFlashBuffersAndProgramWithoutErase();
    // EEPROM
    void eepromHasNoIdUnlessGiven();
    void eepromAddressBit8RidesInTheOpcode();
    void eepromPageWriteWrapsAndOverwrites();
    void eepromNeedsWriteEnableAndReportsBusy();
    void eepromBlockProtection();
};

void TestSpiChips::norIdAndPlainRead()
{
    NorRig rig;
    QCOMPARE(rig.get({0x9F}, 4), (Bytes{0xEF, 0x40, 0x17, 0xEF}));
    rig.program(0x123400, ramp(16));
    QCOMPARE(rig.get({0x03, 0x12, 0x34, 0x00}, 16), ramp(16));
    // A read runs on past the end of the array from address 0.
    rig.program(0x000000, {0xAB});
    QCOMPARE(rig.get({0x03, 0x7F, 0xFF, 0xFF}, 2), (Bytes{0xFF, 0xAB}));
}

void TestSpiChips::norMasterWithOtherAddressLengthSeesShiftedData()
{
    NorRig rig;
    rig.program(0x001000, ramp(32));
    // Four address bytes to a three-byte chip: the fourth byte is clocked
    // while the chip already sends from 0x001000.
    QCOMPARE(rig.get({0x03, 0x00, 0x10, 0x00, 0x00}, 4), (Bytes{1, 2, 3, 4}));
    // Two address bytes: the chip takes the master's first 0x00 as the third
    // and only then drives.
    QCOMPARE(rig.get({0x03, 0x00, 0x10}, 4), (Bytes{0xFF, 0, 1, 2}));
}

void TestSpiChips::norFastReadsNeedTheirLinesAndDummyByte()
{
    NorRig rig;
    rig.program(0x000200, ramp(8, 0x40));
    QCOMPARE(rig.get({0x0B, 0x00, 0x02, 0x00, 0x00}, 3), (Bytes{0x40, 0x41, 0x42}));
    QCOMPARE(rig.get({0x3B, 0x00, 0x02, 0x00, 0x00}, 3, SpiLines::Dual), (Bytes{0x40, 0x41, 0x42}));
    QCOMPARE(rig.get({0x6B, 0x00, 0x02, 0x00, 0x00}, 3, SpiLines::Quad), (Bytes{0x40, 0x41, 0x42}));
    // A quad read sampled on one line, or without its dummy byte, gives nothing usable.
    QCOMPARE(rig.get({0x6B, 0x00, 0x02, 0x00, 0x00}, 3), Bytes(3, 0xFF));
    QCOMPARE(rig.get({0x6B, 0x00, 0x02, 0x00}, 3, SpiLines::Quad), Bytes(3, 0xFF));
    SpiNorConfig single = nor8m();
    single.quad = false;
    NorRig plain(single);
    QCOMPARE(plain.get({0x6B, 0x00, 0x00, 0x00, 0x00}, 2, SpiLines::Quad), Bytes(2, 0xFF));
}

void TestSpiChips::norProgramNeedsWriteEnableAndOnlyClearsBits()
{
    NorRig rig;
    rig.send({0x02, 0x00, 0x00, 0x00}, {0x00, 0x00}); // no write enable
    QCOMPARE(slice(rig.chip, 0, 2), Bytes(2, 0xFF));
    rig.send({0x06});
    QCOMPARE(rig.get({0x05}, 1)[0] & 0x02, 0x02); // WEL
    const Nanos before = rig.now;
    rig.send({0x02, 0x00, 0x00, 0x00}, {0xF0, 0x3C});
    QCOMPARE(read(rig.chip, {0x05}, 1, SpiLines::Single, before)[0] & 0x03, 0x01); // busy, WEL gone
    QCOMPARE(rig.now - before, nor8m().pageProgramTime);
    QCOMPARE(slice(rig.chip, 0, 2), (Bytes{0xF0, 0x3C}));
    rig.program(0, {0x0F, 0xFF});
    QCOMPARE(slice(rig.chip, 0, 2), (Bytes{0x00, 0x3C}));
    // Quad program on four lines; on one line its data arrives as 0xFF.
    rig.send({0x06});
    rig.send({0x32, 0x00, 0x01, 0x00}, {0x11, 0x22}, SpiLines::Quad);
    QCOMPARE(slice(rig.chip, 0x100, 2), (Bytes{0x11, 0x22}));
    rig.send({0x06});
    rig.send({0x32, 0x00, 0x02, 0x00}, {0x11, 0x22});
    QCOMPARE(slice(rig.chip, 0x200, 2), Bytes(2, 0xFF));
}

void TestSpiChips::norPageBufferWrapsWithinThePage()
{
    NorRig rig;
    const Bytes data = ramp(300);
    rig.program(0x000500 + 250, data);
    Bytes expected(256, 0xFF);
    for (std::size_t i = 0; i < data.size(); ++i)
        expected[(250 + i) % 256] = data[i]; // later bytes overwrite earlier ones
    QCOMPARE(slice(rig.chip, 0x500, 256), expected);
    QCOMPARE(slice(rig.chip, 0x600, 4), Bytes(4, 0xFF)); // the next page untouched
}

void TestSpiChips::norEraseSizes()
{
    NorRig rig;
    const auto programAll = [&] {
        for (std::uint32_t a = 0; a < 0x30000; a += 256)
            rig.program(a, Bytes(256, 0));
    };
    struct Case
    {
        std::uint8_t opcode;
        std::uint32_t address;
        std::uint32_t first;
        std::uint32_t size;
    };
    for (const Case c : {Case{0x20, 0x9123, 0x9000, 4096}, Case{0x52, 0x9123, 0x8000, 32768},
                         Case{0xD8, 0x19123, 0x10000, 65536}}) {
        programAll();
        rig.send({0x06});
        const Nanos before = rig.now;
        rig.send({c.opcode, std::uint8_t(c.address >> 16), std::uint8_t(c.address >> 8),
                  std::uint8_t(c.address)});
        QVERIFY(rig.now > before);
        QCOMPARE(slice(rig.chip, c.first - 1, 1), Bytes(1, 0x00));
        QCOMPARE(slice(rig.chip, c.first, c.size), Bytes(c.size, 0xFF));
        QCOMPARE(slice(rig.chip, c.first + c.size, 1), Bytes(1, 0x00));
    }
    rig.send({0x06});
    rig.send({0xC7});
    QCOMPARE(slice(rig.chip, 0, 0x30000), Bytes(0x30000, 0xFF));
}

void TestSpiChips::norIgnoresCommandsWhileBusy()
{
    NorRig rig;
    rig.program(0x40, {0x12});
    const Nanos busy = rig.chip.busyUntil();
    QVERIFY(busy > 0);
    QCOMPARE(read(rig.chip, {0x03, 0, 0, 0x40}, 1, SpiLines::Single, busy - 1), Bytes(1, 0xFF));
    QCOMPARE(read(rig.chip, {0x05}, 1, SpiLines::Single, busy - 1)[0] & 0x01, 0x01);
    write(rig.chip, {0x06}, {}, SpiLines::Single, busy - 1); // ignored
    QCOMPARE(read(rig.chip, {0x05}, 1, SpiLines::Single, busy)[0], std::uint8_t(0x00));
    QCOMPARE(read(rig.chip, {0x03, 0, 0, 0x40}, 1, SpiLines::Single, busy), Bytes(1, 0x12));
}

void TestSpiChips::norBlockProtection()
{
    SpiNorConfig c = nor8m();
    c.status1 = 0x04; // BP0: the top 1/64 (128 KiB)
    NorRig rig(c);
    rig.program(0x7E0000, {0x00});
    QCOMPARE(slice(rig.chip, 0x7E0000, 1), Bytes(1, 0xFF));
    rig.program(0x7DFF00, {0x00});
    QCOMPARE(slice(rig.chip, 0x7DFF00, 1), Bytes(1, 0x00));
    rig.send({0x06});
    rig.send({0xC7}); // chip erase refused
    QCOMPARE(slice(rig.chip, 0x7DFF00, 1), Bytes(1, 0x00));
    // A start-up command clears the protection.
    rig.send({0x06});
    rig.send({0x01}, {0x00});
    QCOMPARE(rig.get({0x05}, 1)[0], std::uint8_t(0x00));
    rig.program(0x7E0000, {0x00});
    QCOMPARE(slice(rig.chip, 0x7E0000, 1), Bytes(1, 0x00));
    // TB: the bottom instead of the top.
    c.status1 = 0x24;
    NorRig bottom(c);
    bottom.program(0x000000, {0x00});
    QCOMPARE(slice(bottom.chip, 0, 1), Bytes(1, 0xFF));
}

void TestSpiChips::norFourByteAddressing()
{
    SpiNorConfig c = nor8m();
    c.size = 32 * 1024 * 1024;
    c.id = {0xEF, 0x40, 0x19};
    NorRig rig(c);
    QCOMPARE(rig.chip.addressBytes(), 3u);
    rig.send({0x06});
    rig.send({0x12, 0x01, 0x23, 0x45, 0x67}, {0x5A}); // four-byte program
    QCOMPARE(rig.get({0x13, 0x01, 0x23, 0x45, 0x67}, 1), Bytes(1, 0x5A));
    rig.send({0xB7});
    QCOMPARE(rig.chip.addressBytes(), 4u);
    QCOMPARE(rig.get({0x03, 0x01, 0x23, 0x45, 0x67}, 1), Bytes(1, 0x5A));
    rig.send({0xE9});
    QCOMPARE(rig.get({0x03, 0x23, 0x45, 0x67}, 1), Bytes(1, 0xFF));
    // The four-byte opcodes are not there on an 8 MiB part.
    NorRig small;
    QCOMPARE(small.get({0x13, 0, 0, 0, 0}, 1), Bytes(1, 0xFF));
}

void TestSpiChips::norBankRegisterSelectsTheAddressMode_data()
{
    QTest::addColumn<int>("bank");
    QTest::addColumn<int>("addressBytes");
    QTest::addColumn<int>("readBack");
    QTest::newRow("17h 80h: four-byte mode") << 0x80 << 4 << 0x80;
    QTest::newRow("17h 01h: upper 16 MiB") << 0x01 << 3 << 0x01;
    QTest::newRow("17h 00h") << 0x00 << 3 << 0x00;
}

void TestSpiChips::norBankRegisterSelectsTheAddressMode()
{
    QFETCH(int, bank);
    QFETCH(int, addressBytes);
    QFETCH(int, readBack);
    SpiNorConfig c = nor8m();
    c.size = 32 * 1024 * 1024;
    NorRig rig(c);
    rig.send({0x06});
    rig.send({0x12, 0x01, 0x00, 0x00, 0x10}, {0xA5});
    rig.send({0x17}, {std::uint8_t(bank)}); // no write enable needed
    QCOMPARE(rig.chip.addressBytes(), unsigned(addressBytes));
    QCOMPARE(rig.get({0x16}, 1), Bytes(1, std::uint8_t(readBack)));
    const Bytes header =
        addressBytes == 4 ? Bytes{0x03, 0x01, 0x00, 0x00, 0x10} : Bytes{0x03, 0x00, 0x00, 0x10};
    QCOMPARE(rig.get(header, 1), Bytes(1, bank == 0 ? 0xFF : 0xA5));
    // A soft reset leaves the bank register and three-byte mode.
    rig.send({0x66});
    rig.send({0x99});
    QCOMPARE(rig.get({0x16}, 1), Bytes(1, 0x00));
    QCOMPARE(rig.chip.addressBytes(), 3u);
}

void TestSpiChips::norFourByteTableErasesWhatItSays()
{
    SpiNorConfig c = nor8m();
    c.size = 32 * 1024 * 1024;
    NorRig rig(c);
    const Bytes &sfdp = rig.chip.sfdpArea();
    const std::size_t at = sfdp[28] | (sfdp[29] << 8) | (sfdp[30] << 16);
    std::vector<std::uint32_t> w;
    QVERIFY(findBasicTable(sfdp, w));
    const std::uint32_t types[3] = {w[7] & 0xFFFF, w[7] >> 16, w[8] & 0xFFFF};
    for (std::size_t t = 0; t < 3; ++t) {
        const std::uint32_t size = 1u << (types[t] & 0xFF);
        const std::uint8_t opcode = sfdp[at + 4 + t];
        const std::uint32_t base = 0x01800000; // above 16 MiB, in three-byte mode
        for (std::uint32_t a = base; a < base + 2 * size; a += 256) {
            rig.send({0x06});
            rig.send({0x12, std::uint8_t(a >> 24), std::uint8_t(a >> 16), std::uint8_t(a >> 8), 0},
                     Bytes(256, 0));
        }
        rig.send({0x06});
        const std::uint32_t a = base + size;
        rig.send({opcode, std::uint8_t(a >> 24), std::uint8_t(a >> 16), std::uint8_t(a >> 8), 0});
        QCOMPARE(slice(rig.chip, a - 1, 2), (Bytes{0x00, 0xFF}));
        QCOMPARE(slice(rig.chip, a + size - 1, 1), Bytes(1, 0xFF));
        QCOMPARE(slice(rig.chip, a - size, 1), Bytes(1, 0x00));
    }
}

void TestSpiChips::norUnknownOpcodeReadsFF()
{
    NorRig rig;
    QCOMPARE(rig.get({0x4B, 0, 0, 0, 0}, 4), Bytes(4, 0xFF));
    QCOMPARE(rig.get({}, 2), Bytes(2, 0xFF));
}

void TestSpiChips::sfdpParsesByJesd216_data()
{
    QTest::addColumn<quint64>("size");
    QTest::addColumn<quint32>("densityWord");
    QTest::addColumn<int>("addressField");
    QTest::newRow("8 MiB") << quint64(8 << 20) << quint32(0x03FFFFFF) << 0;
    QTest::newRow("256 MiB") << quint64(256 << 20) << quint32(0x7FFFFFFF) << 1;
    QTest::newRow("512 MiB") << quint64(512ull << 20) << quint32(0x80000020) << 1;
}

void TestSpiChips::sfdpParsesByJesd216()
{
    QFETCH(quint64, size);
    QFETCH(quint32, densityWord);
    QFETCH(int, addressField);
    SfdpDescription d;
    d.sizeBytes = size;
    d.addressModes = size > (16u << 20) ? 34 : 3;
    const Bytes sfdp = SfdpTable::build(d);
    std::vector<std::uint32_t> w;
    QVERIFY(findBasicTable(sfdp, w));
    QCOMPARE(w.size(), std::size_t(16));
    QCOMPARE(w[1], densityWord);
    QCOMPARE(densityBytes(w[1]), std::uint64_t(size));
    QCOMPARE(int((w[0] >> 17) & 0x3), addressField);
    QCOMPARE(w[0] & 0x3, 0x1u);          // 4 KiB erase everywhere
    QCOMPARE((w[0] >> 8) & 0xFF, 0x20u); // with 20h
    QCOMPARE((w[0] >> 16) & 1, 1u);      // 1-1-2
    QCOMPARE((w[0] >> 22) & 1, 1u);      // 1-1-4
    QCOMPARE(w[2] >> 24, 0x6Bu);         // 1-1-4 opcode
    QCOMPARE((w[2] >> 16) & 0x1F, 8u);   // its dummy clocks
    QCOMPARE((w[3] >> 8) & 0xFF, 0x3Bu); // 1-1-2 opcode
    QCOMPARE((w[10] >> 4) & 0xF, 8u);    // 256-byte pages
    // Erase types 1..4 in words 8 and 9: 4K/20h, 32K/52h, 64K/D8h, none.
    QCOMPARE(w[7], (12u | 0x20u << 8) | ((15u | 0x52u << 8) << 16));
    QCOMPARE(w[8], 16u | 0xD8u << 8);
    // The vendor table's header follows, pointing inside the area; parts
    // with four-byte addressing add the 4-byte address instruction table.
    QCOMPARE(sfdp[6], std::uint8_t(addressField ? 2 : 1));
    QCOMPARE(sfdp[16], std::uint8_t(0xEF));
    QVERIFY((sfdp[20] | (sfdp[21] << 8)) + 4u * sfdp[19] <= sfdp.size());
    if (addressField) {
        QCOMPARE(sfdp[24], std::uint8_t(0x84));
        QCOMPARE(sfdp[31], std::uint8_t(0xFF));
        const std::size_t at = sfdp[28] | (sfdp[29] << 8) | (sfdp[30] << 16);
        QCOMPARE(sfdp[27], std::uint8_t(2));
        QVERIFY(at + 8 <= sfdp.size());
        // 13h, 0Ch, 3Ch, 6Ch, 12h, 34h and erase types 1-3 as 21h, 5Ch, DCh.
        QCOMPARE(sfdp[at] & 0xD7, 0xD7);
        QCOMPARE(sfdp[at + 1] & 0x1E, 0x0E);
        QCOMPARE(
            Bytes(sfdp.begin() + std::ptrdiff_t(at) + 4, sfdp.begin() + std::ptrdiff_t(at) + 8),
            (Bytes{0x21, 0x5C, 0xDC, 0xFF}));
    }
}

void TestSpiChips::sfdpReadThroughTheChip()
{
    NorRig rig;
    const Bytes viaChip = read(rig.chip, {0x5A, 0x00, 0x00, 0x00, 0x00}, 2048);
    const Bytes &area = rig.chip.sfdpArea();
    QCOMPARE(Bytes(viaChip.begin(), viaChip.begin() + static_cast<std::ptrdiff_t>(area.size())),
             area);
    QCOMPARE(Bytes(viaChip.begin() + static_cast<std::ptrdiff_t>(area.size()), viaChip.end()),
             Bytes(2048 - area.size(), 0xFF));
    QCOMPARE(read(rig.chip, {0x5A, 0x00, 0x00, 0x30, 0x00}, 4),
             Bytes(area.begin() + 0x30, area.begin() + 0x34));
}

void TestSpiChips::sfdpDescribesWhatTheChipDoes()
{
    NorRig rig;
    std::vector<std::uint32_t> w;
    QVERIFY(findBasicTable(rig.chip.sfdpArea(), w));
    QCOMPARE(densityBytes(w[1]), rig.chip.size());
    // Each erase type the table lists erases exactly its size with its opcode.
    for (const std::uint32_t pair : {w[7] & 0xFFFF, w[7] >> 16, w[8] & 0xFFFF}) {
        const std::uint32_t size = 1u << (pair & 0xFF);
        const std::uint8_t opcode = static_cast<std::uint8_t>(pair >> 8);
        for (std::uint32_t a = 0; a < 2 * size; a += 256)
            rig.program(a, Bytes(256, 0));
        rig.send({0x06});
        rig.send({opcode, std::uint8_t(size >> 16), std::uint8_t(size >> 8), 0});
        QCOMPARE(slice(rig.chip, size - 1, 2), (Bytes{0x00, 0xFF}));
        QCOMPARE(slice(rig.chip, 2 * size - 1, 1), Bytes(1, 0xFF));
    }
    // The fast reads it lists work with the dummy clocks it gives (8: one byte).
    rig.program(0x10040, ramp(4)); // inside the block just erased
    QCOMPARE(rig.get({std::uint8_t(w[3] >> 8), 0x01, 0, 0x40, 0}, 4, SpiLines::Dual), ramp(4));
    QCOMPARE(rig.get({std::uint8_t(w[2] >> 24), 0x01, 0, 0x40, 0}, 4, SpiLines::Quad), ramp(4));
}

void TestSpiChips::chipWithoutSfdpReadsFF()
{
    SpiNorConfig c = nor8m();
    c.sfdp = false;
    NorRig rig(c);
    QCOMPARE(read(rig.chip, {0x5A, 0, 0, 0, 0}, 16), Bytes(16, 0xFF));
}

namespace {

struct DataFlashRig
{
    explicit DataFlashRig(DataFlashConfig c = {})
        : image({}, DataFlash::imageBytes(c)), chip(c, image, 0)
    {}
    ImageFile image;
    DataFlash chip;
    Nanos now = 0;

    void send(const Bytes &header, const Bytes &data = {})
    {
        write(chip, header, data, SpiLines::Single, now);
        now = std::max(now, chip.busyUntil());
    }
};

} // namespace

void TestSpiChips::dataFlashIdAndStatus()
{
    DataFlashRig rig;
    QCOMPARE(read(rig.chip, {0x9F}, 5), (Bytes{0x1F, 0x26, 0x00, 0x01, 0x00}));
    QCOMPARE(read(rig.chip, {0xD7}, 2), (Bytes{0xAC, 0xAC})); // ready, 16 Mbit, 528-byte pages
    rig.send({0x82, 0x00, 0x00, 0x00}, {0x00});
    QCOMPARE(read(rig.chip, {0xD7}, 1, SpiLines::Single, rig.now - 1)[0] & 0x80, 0x00); // busy
    QCOMPARE(read(rig.chip, {0x03, 0, 0, 0}, 1, SpiLines::Single, rig.now - 1), Bytes(1, 0xFF));
    QCOMPARE(read(rig.chip, {0x03, 0, 0, 0}, 1, SpiLines::Single, rig.now), Bytes(1, 0x00));
}

void TestSpiChips::dataFlashPagesOf528AreAddressedByPageTimes1024()
{
    DataFlashRig rig;
    const Bytes data = ramp(528);
    rig.send({0x06});                         // no write enable exists: ignored
    rig.send({0x82, 0x00, 0x0C, 0x00}, data); // page 3 = 3 x 1024
    QCOMPARE(slice(rig.chip, 3 * 528, 528), data);
    QCOMPARE(slice(rig.chip, 2 * 528, 528), Bytes(528, 0xFF));
    // A continuous read runs from one page's byte 527 into the next page.
    QCOMPARE(read(rig.chip, {0x03, 0x00, 0x0E, 0x0F}, 2, SpiLines::Single, rig.now),
             (Bytes{data[527], 0xFF}));
    QCOMPARE(read(rig.chip, {0x03, 0x00, 0x0C, 0x00}, 528, SpiLines::Single, rig.now), data);
    // Page read (D2h, four dummy bytes) wraps within the page.
    QCOMPARE(read(rig.chip, {0xD2, 0x00, 0x0E, 0x0F, 0, 0, 0, 0}, 2, SpiLines::Single, rig.now),
             (Bytes{data[527], data[0]}));
    // Program through the buffer erases the page first: bits come back.
    rig.send({0x82, 0x00, 0x0C, 0x00}, Bytes(528, 0xFF));
    QCOMPARE(slice(rig.chip, 3 * 528, 528), Bytes(528, 0xFF));
}

void TestSpiChips::dataFlashSectorZeroIsSplit()
{
    DataFlashRig rig;
    for (std::uint32_t p : {0u, 7u, 8u, 255u, 256u}) {
        rig.send({0x82, std::uint8_t(p >> 6), std::uint8_t(p << 2), 0}, Bytes(528, 0x00));
    }
    rig.send({0x7C, 0x00, 0x00, 0x00}); // sector 0a: pages 0..7
    QCOMPARE(slice(rig.chip, 0, 1), Bytes(1, 0xFF));
    QCOMPARE(slice(rig.chip, 7 * 528, 1), Bytes(1, 0xFF));
    QCOMPARE(slice(rig.chip, 8 * 528, 1), Bytes(1, 0x00));
    rig.send({0x7C, 0x00, 0x20, 0x00}); // sector 0b: pages 8..255
    QCOMPARE(slice(rig.chip, 8 * 528, 1), Bytes(1, 0xFF));
    QCOMPARE(slice(rig.chip, 255 * 528, 528), Bytes(528, 0xFF));
    QCOMPARE(slice(rig.chip, 256 * 528, 1), Bytes(1, 0x00));
    rig.send({0x7C, 0x04, 0x00, 0x00}); // sector 1: pages 256..511
    QCOMPARE(slice(rig.chip, 256 * 528, 1), Bytes(1, 0xFF));
}

void TestSpiChips::dataFlashPowerOfTwoMode()
{
    DataFlashConfig c;
    c.binaryPages = true;
    DataFlashRig rig(c);
    QCOMPARE(rig.chip.pageSize(), 512u);
    QCOMPARE(read(rig.chip, {0xD7}, 1)[0], std::uint8_t(0xAD)); // bit 0: 512-byte pages
    rig.send({0x82, 0x00, 0x06, 0x00}, ramp(512));              // page 3 at byte address 3 x 512
    QCOMPARE(slice(rig.chip, 3 * 512, 512), ramp(512));
    QCOMPARE(rig.chip.size(), 4096ull * 512);
    // The configuration command switches a standard part.
    DataFlashRig standard;
    standard.send({0x3D, 0x2A, 0x80, 0xA6});
    QCOMPARE(standard.chip.pageSize(), 512u);
    QCOMPARE(read(standard.chip, {0xD7}, 1, SpiLines::Single, standard.now)[0] & 0x01, 0x01);
}

void TestSpiChips::dataFlashBuffersAndProgramWithoutErase()
{
    DataFlashRig rig;
    rig.send({0x84, 0x00, 0x00, 0x10}, {0xF0, 0x0F}); // buffer 1, byte 16
    QCOMPARE(read(rig.chip, {0xD4, 0x00, 0x00, 0x10, 0x00}, 2, SpiLines::Single, rig.now),
             (Bytes{0xF0, 0x0F}));
    rig.send({0x88, 0x00, 0x04, 0x00}); // buffer 1 to page 1, no erase
    QCOMPARE(slice(rig.chip, 528 + 16, 2), (Bytes{0xF0, 0x0F}));
    rig.send({0x84, 0x00, 0x00, 0x10}, {0x3C, 0x3C});
    rig.send({0x88, 0x00, 0x04, 0x00});
    QCOMPARE(slice(rig.chip, 528 + 16, 2), (Bytes{0x30, 0x0C})); // programming only clears
    rig.send({0x81, 0x00, 0x04, 0x00});                          // page erase
    QCOMPARE(slice(rig.chip, 528 + 16, 2), Bytes(2, 0xFF));
}

namespace {

struct EepromRig
{
    explicit EepromRig(SpiEepromConfig c = {}) : image({}, c.size), chip(c, image, 0) {}
    ImageFile image;
    SpiEeprom chip;
    Nanos now = 0;

    void send(const Bytes &header, const Bytes &data = {})
    {
        write(chip, header, data, SpiLines::Single, now);
        now = std::max(now, chip.busyUntil());
    }
    void writeAt(std::uint32_t address, const Bytes &data)
    {
        send({0x06});
        send({std::uint8_t(0x02 | ((address >> 8) & 1) << 3), std::uint8_t(address)}, data);
    }
};

} // namespace

void TestSpiChips::eepromHasNoIdUnlessGiven()
{
    EepromRig plain;
    QCOMPARE(read(plain.chip, {0x9F}, 3), Bytes(3, 0xFF));
    SpiEepromConfig c;
    c.id = {0x20, 0x00, 0x12};
    EepromRig withId(c);
    QCOMPARE(read(withId.chip, {0x9F}, 3), (Bytes{0x20, 0x00, 0x12}));
}

void TestSpiChips::eepromAddressBit8RidesInTheOpcode()
{
    EepromRig rig;
    rig.writeAt(0x1F0, {0xA1, 0xA2});
    QCOMPARE(slice(rig.chip, 0x1F0, 2), (Bytes{0xA1, 0xA2}));
    QCOMPARE(slice(rig.chip, 0x0F0, 2), Bytes(2, 0xFF));
    QCOMPARE(read(rig.chip, {0x0B, 0xF0}, 2, SpiLines::Single, rig.now), (Bytes{0xA1, 0xA2}));
    QCOMPARE(read(rig.chip, {0x03, 0xF0}, 2, SpiLines::Single, rig.now), Bytes(2, 0xFF));
    // A read runs on across 0x100 and from the end back to 0.
    rig.writeAt(0x0FF, {0x11});
    rig.writeAt(0x100, {0x22});
    rig.writeAt(0x000, {0x33});
    QCOMPARE(read(rig.chip, {0x03, 0xFF}, 2, SpiLines::Single, rig.now), (Bytes{0x11, 0x22}));
    QCOMPARE(read(rig.chip, {0x0B, 0xFF}, 2, SpiLines::Single, rig.now), (Bytes{0xFF, 0x33}));
}

void TestSpiChips::eepromPageWriteWrapsAndOverwrites()
{
    EepromRig rig;
    rig.writeAt(0x20, Bytes(16, 0x00));
    rig.writeAt(0x2E, {0x01, 0x02, 0x03, 0x04}); // 16-byte pages: 0x30 and 0x31 wrap to 0x20
    Bytes expected(16, 0x00);
    expected[0xE] = 0x01;
    expected[0xF] = 0x02;
    expected[0x0] = 0x03;
    expected[0x1] = 0x04;
    QCOMPARE(slice(rig.chip, 0x20, 16), expected);
    QCOMPARE(slice(rig.chip, 0x30, 1), Bytes(1, 0xFF));
    rig.writeAt(0x20, {0xFF}); // no erase needed: bits come back
    QCOMPARE(slice(rig.chip, 0x20, 1), Bytes(1, 0xFF));
}

void TestSpiChips::eepromNeedsWriteEnableAndReportsBusy()
{
    EepromRig rig;
    rig.send({0x02, 0x10}, {0x00});
    QCOMPARE(slice(rig.chip, 0x10, 1), Bytes(1, 0xFF));
    rig.send({0x06});
    QCOMPARE(read(rig.chip, {0x05}, 1, SpiLines::Single, rig.now)[0], std::uint8_t(0x02));
    const Nanos before = rig.now;
    rig.send({0x02, 0x10}, {0x00});
    QCOMPARE(read(rig.chip, {0x05}, 1, SpiLines::Single, before)[0], std::uint8_t(0x01));
    QCOMPARE(rig.now - before, SpiEepromConfig{}.writeTime);
    QCOMPARE(read(rig.chip, {0x05}, 1, SpiLines::Single, rig.now)[0], std::uint8_t(0x00));
}

void TestSpiChips::eepromBlockProtection()
{
    EepromRig rig;
    rig.send({0x06});
    rig.send({0x01}, {0x04}); // BP0: upper quarter
    rig.writeAt(0x180, {0x00});
    QCOMPARE(slice(rig.chip, 0x180, 1), Bytes(1, 0xFF));
    rig.writeAt(0x17F, {0x00});
    QCOMPARE(slice(rig.chip, 0x17F, 1), Bytes(1, 0x00));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestSpiChips)
#include "tst_spi_chips.moc"
