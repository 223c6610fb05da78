#include "TestHome.h"

#include "DropInHost.h"
#include "FirmwareImages.h"
#include "FirmwareRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>

#include <cstring>
#include <string>
#include <vector>

// The emulated programmer with a second chip beside its socket, as the
// program meets it through the drop-in host: the chips change places on a
// re-initialisation (a forced download into a programmer whose firmware ran
// before), keep their contents, and the raw chip access the tests use.
namespace {

using Bytes = std::vector<unsigned char>;
using kvemu::DropInHost;

constexpr std::uint64_t PageBytes = 2112;
constexpr std::uint64_t BlockBytes = 64 * PageBytes;

QByteArray profileText(const QString &file)
{
    QFile in(QDir(KVEMU_PROFILE_DIR).filePath(file));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

const char *const SmallPair = R"(
[programmer]
timing = instant
[chip]
family = nand
id = EC F1 00 95 40
blocks = 16
bad_blocks = 3
[second_chip]
id = EC F1 00 95 40
blocks = 16
bad_blocks = 1, 5
)";

const char *const RunningPair = R"(
[programmer]
firmware = NAND image 1
[chip]
family = nand
id = EC F1 00 95 40
blocks = 16
[second_chip]
family = nand
id = EC F1 00 95 40
blocks = 16
)";

const char *const NorPair = R"(
[chip]
family = spi
id = EF 40 17
size = 1M
[second_chip]
family = spi
id = EF 40 18
size = 2M
)";

Bytes packet(std::initializer_list<int> bytes, std::size_t length = 20)
{
    Bytes p;
    for (const int b : bytes)
        p.push_back(static_cast<unsigned char>(b));
    p.resize(std::max(length, p.size()), 0);
    return p;
}

// A page command as the program lays it out: 4 address cycles, column 0,
// the row from byte 4, page size at 8-9, `pages` pages (below 256).
Bytes pageCommand(int code, std::uint32_t row, int pages)
{
    return packet({code, 4, 0, 0, int(row & 0xFF), int(row >> 8), 0, 0, int(PageBytes & 0xFF),
                   int(PageBytes >> 8), pages, 1});
}

Bytes pattern(std::size_t length, unsigned seed)
{
    Bytes b(length);
    for (std::size_t i = 0; i < length; ++i)
        b[i] = static_cast<unsigned char>((i * 13 + seed * 101) ^ (i >> 7));
    return b;
}

// Records of a firmware image that the part refuses (record type 2).
std::vector<FirmwareRecord> brokenImage()
{
    std::vector<FirmwareRecord> records(2);
    std::memset(records.data(), 0, records.size() * sizeof(FirmwareRecord));
    auto *bytes = reinterpret_cast<unsigned char *>(records.data());
    bytes[0] = 1;
    bytes[4] = 2;
    bytes[sizeof(FirmwareRecord) + 4] = 1; // end
    return records;
}

} // namespace

class TestChipSwap : public QObject
{
    Q_OBJECT
private slots:
    void socketFollowsReinitialisation_data();
    void socketFollowsReinitialisation();
    void contentsStayWithTheirChip_data();
    void contentsStayWithTheirChip();
    void writeChipRoundTrips_data();
    void writeChipRoundTrips();
    void factoryBadBlocksStayMarked_data();
    void factoryBadBlocksStayMarked();
    void readFlipsAreFewAndRepeatable_data();
    void readFlipsAreFewAndRepeatable();

private:
    void configure(const QByteArray &profile);
    // The program's first connection and its re-initialisation (console
    // INITUSB), as the chip engine does them.
    void start(bool forced = false);
    void reinitialise(const void *records = nullptr);
    bool waitForOpen();
    void send(const Bytes &bytes);
    Bytes answer(std::size_t length);
    Bytes chip(std::uint64_t offset, std::size_t length);
    std::vector<std::string> logLines(const char *prefix1, const char *prefix2 = nullptr);

    std::unique_ptr<DropInHost> m_host;
};

void TestChipSwap::configure(const QByteArray &profile)
{
    m_host = std::make_unique<DropInHost>();
    QVERIFY2(m_host->configure(profile.toStdString()), m_host->lastError().c_str());
    m_host->setDownloadPauseMs(0);
}

bool TestChipSwap::waitForOpen()
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000) {
        m_host->close();
        if (m_host->open() != 0)
            return true;
        QThread::msleep(5);
    }
    return false;
}

void TestChipSwap::start(bool forced)
{
    QVERIFY(m_host->open() != 0);
    m_host->close();
    const int result = m_host->download(firmwareImage(NandImage1).records, forced ? 1 : 0);
    QVERIFY(result == 1 || result == 2);
    QVERIFY(waitForOpen());
}

void TestChipSwap::reinitialise(const void *records)
{
    m_host->close();
    QVERIFY(m_host->open() != 0);
    m_host->close();
    const bool good = records == nullptr;
    QCOMPARE(m_host->download(good ? firmwareImage(NandImage1).records : records, 1), good ? 1 : 0);
    QVERIFY(waitForOpen());
}

void TestChipSwap::send(const Bytes &bytes)
{
    QCOMPARE(m_host->write(0, const_cast<unsigned char *>(bytes.data()), int(bytes.size())),
             int(bytes.size()));
}

Bytes TestChipSwap::answer(std::size_t length)
{
    Bytes all;
    while (all.size() < length) {
        Bytes part(std::min<std::size_t>(65536, length - all.size()));
        const int got = m_host->read(3, part.data(), int(part.size()));
        if (got <= 0)
            break;
        all.insert(all.end(), part.begin(), part.begin() + got);
    }
    return all;
}

Bytes TestChipSwap::chip(std::uint64_t offset, std::size_t length)
{
    Bytes out(length, 0xEE);
    if (m_host->readChip(0, offset, out.data(), length) != static_cast<long long>(length))
        return {};
    return out;
}

std::vector<std::string> TestChipSwap::logLines(const char *prefix1, const char *prefix2)
{
    std::vector<std::string> lines;
    const std::string text = m_host->commandLog();
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        if (line.rfind(prefix1, 0) == 0 || (prefix2 && line.rfind(prefix2, 0) == 0))
            lines.push_back(line);
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

void TestChipSwap::socketFollowsReinitialisation_data()
{
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("sockets"); // the chip in the socket after each step
    QTest::addColumn<QStringList>("log");    // its SOCKET and DOWNLOAD lines

    const QString download = "DOWNLOAD NAND image 1";
    QTest::newRow("smart copy: each re-initialisation swaps")
        << profileText("nand-smart-copy.ini") << QStringList{"start", "init", "init", "init"}
        << QList<int>{0, 1, 0, 1}
        << QStringList{download, "SOCKET second", download, "SOCKET first",
                       download, "SOCKET second", download};
    QTest::newRow("one chip: never swaps")
        << profileText("nand-k9f1g08u0b.ini") << QStringList{"start", "init", "init"}
        << QList<int>{0, 0, 0} << QStringList{download, download, download};
    QTest::newRow("a forced first download is no re-initialisation")
        << QByteArray(SmallPair) << QStringList{"forced start", "init"} << QList<int>{0, 1}
        << QStringList{download, "SOCKET second", download};
    QTest::newRow("firmware running at start")
        << QByteArray(RunningPair) << QStringList{"start", "init", "init"} << QList<int>{0, 1, 0}
        << QStringList{"SOCKET second", download, "SOCKET first", download};
    QTest::newRow("a refused image swaps nothing")
        << QByteArray(SmallPair) << QStringList{"start", "broken init", "init"}
        << QList<int>{0, 0, 1}
        << QStringList{download, download, "SOCKET second", download}; // the old RAM restarts
    QTest::newRow("the test swap")
        << QByteArray(SmallPair) << QStringList{"start", "swap", "init"} << QList<int>{0, 1, 0}
        << QStringList{download, "SOCKET second", "SOCKET first", download};
    QTest::newRow("the test swap without a second chip")
        << QByteArray("[chip]\nfamily = nand\nid = EC F1\nblocks = 8\n")
        << QStringList{"start", "swap"} << QList<int>{0, 0} << QStringList{download};
}

void TestChipSwap::socketFollowsReinitialisation()
{
    QFETCH(QByteArray, profile);
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, sockets);
    QFETCH(QStringList, log);
    QVERIFY(!profile.isEmpty());
    configure(profile);
    const std::vector<FirmwareRecord> broken = brokenImage();
    QCOMPARE(m_host->socketChip(), 0);
    for (int i = 0; i < steps.size(); ++i) {
        const QString &step = steps[i];
        if (step == "start" || step == "forced start")
            start(step == "forced start");
        else if (step == "init")
            reinitialise();
        else if (step == "broken init")
            reinitialise(broken.data());
        else if (step == "swap")
            QCOMPARE(m_host->swapChip(), sockets[i] != sockets[i - 1]);
        QCOMPARE(m_host->socketChip(), sockets[i]);
    }
    QStringList got;
    for (const std::string &line : logLines("SOCKET", "DOWNLOAD"))
        got << QString::fromStdString(line);
    QCOMPARE(got, log);
}

void TestChipSwap::contentsStayWithTheirChip_data()
{
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<qulonglong>("offset");
    QTest::addColumn<QList<int>>("firstBad");
    QTest::addColumn<QList<int>>("secondBad");
    QTest::addColumn<qulonglong>("firstSize");
    QTest::addColumn<qulonglong>("secondSize");

    const qulonglong k9f = 1024 * BlockBytes;
    QTest::newRow("smart copy") << profileText("nand-smart-copy.ini")
                                << qulonglong(10 * BlockBytes + 4000) << QList<int>{3, 9}
                                << QList<int>{1, 5, 6} << k9f << k9f;
    QTest::newRow("serial NOR of two sizes")
        << QByteArray(NorPair) << qulonglong(0x0FF000) << QList<int>{} << QList<int>{}
        << qulonglong(1 << 20) << qulonglong(2 << 20);
}

void TestChipSwap::contentsStayWithTheirChip()
{
    QFETCH(QByteArray, profile);
    QFETCH(qulonglong, offset);
    QFETCH(QList<int>, firstBad);
    QFETCH(QList<int>, secondBad);
    QFETCH(qulonglong, firstSize);
    QFETCH(qulonglong, secondSize);
    configure(profile);
    start();
    const auto marks = [&](const QList<int> &bad) {
        for (int block = 0; block < 12; ++block) {
            const Bytes first = chip(std::uint64_t(block) * BlockBytes + 2048, 6);
            const unsigned char expected = bad.contains(block) ? 0x00 : 0xFF;
            if (first != Bytes(6, expected))
                return false;
        }
        return true;
    };
    const Bytes a = pattern(512, 1);
    const Bytes b = pattern(512, 2);
    QCOMPARE(m_host->chipSize(0), (long long)firstSize);
    QCOMPARE(m_host->writeChip(0, offset, a.data(), a.size()), 512LL);
    if (!firstBad.isEmpty())
        QVERIFY(marks(firstBad));

    reinitialise();
    QCOMPARE(m_host->chipSize(0), (long long)secondSize);
    QCOMPARE(chip(offset, 512), Bytes(512, 0xFF)); // an erased chip of its own
    if (!secondBad.isEmpty())
        QVERIFY(marks(secondBad));
    QCOMPARE(m_host->writeChip(0, offset, b.data(), b.size()), 512LL);

    reinitialise();
    QCOMPARE(m_host->chipSize(0), (long long)firstSize);
    QCOMPARE(chip(offset, 512), a);
    if (!firstBad.isEmpty())
        QVERIFY(marks(firstBad));

    reinitialise();
    QCOMPARE(chip(offset, 512), b);
    QVERIFY(logLines("ERROR").empty());
}

void TestChipSwap::writeChipRoundTrips_data()
{
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<int>("chip");
    QTest::addColumn<qulonglong>("offset");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("written"); // -1: refused

    const QByteArray nand = "[chip]\nfamily = nand\nid = EC F1\nblocks = 8\nchip_enables = 2\n"
                            "bad_blocks = 2\n[ce1]\npresent = no\n";
    const qulonglong nandSize = 8 * BlockBytes;
    QTest::newRow("NAND across data and spare")
        << nand << 0 << qulonglong(PageBytes + 2040) << 100 << 100;
    QTest::newRow("NAND over a bad-block mark")
        << nand << 0 << qulonglong(2 * BlockBytes + 2040) << 16 << 16;
    QTest::newRow("NAND past its end") << nand << 0 << nandSize - 10 << 64 << 10;
    QTest::newRow("NAND beyond its end") << nand << 0 << nandSize << 64 << 0;
    QTest::newRow("NAND chip enable without a chip") << nand << 1 << qulonglong(0) << 16 << -1;
    QTest::newRow("NAND chip enable that does not exist") << nand << 4 << qulonglong(0) << 16 << -1;
    QTest::newRow("NAND negative chip") << nand << -1 << qulonglong(0) << 16 << -1;
    QTest::newRow("SPI NOR") << QByteArray(NorPair) << 0 << qulonglong(0xFFFF0) << 64 << 16;
    QTest::newRow("DataFlash in power-of-two pages across a page")
        << QByteArray("[chip]\nfamily = dataflash\nid = 1F 26 00 01 00\npage_size = 512\n") << 0
        << qulonglong(1000) << 100 << 100;
    QTest::newRow("EEPROM") << QByteArray("[chip]\nfamily = eeprom\nsize = 512\npage_size = 16\n")
                            << 0 << qulonglong(500) << 20 << 12;
    QTest::newRow("empty socket") << QByteArray() << 0 << qulonglong(0) << 16 << -1;
}

void TestChipSwap::writeChipRoundTrips()
{
    QFETCH(QByteArray, profile);
    QFETCH(int, chip);
    QFETCH(qulonglong, offset);
    QFETCH(int, length);
    QFETCH(int, written);
    configure(profile);
    // Zeros first, then a pattern: the second write sets bits again, as no
    // program could.
    const Bytes zeros(std::size_t(length), 0x00);
    const Bytes data = pattern(std::size_t(length), 7);
    QCOMPARE(m_host->writeChip(chip, offset, zeros.data(), zeros.size()), (long long)written);
    QCOMPARE(m_host->writeChip(chip, offset, data.data(), data.size()), (long long)written);
    Bytes back(std::size_t(length), 0xEE);
    const long long read = m_host->readChip(chip, offset, back.data(), back.size());
    QCOMPARE(read, (long long)written);
    if (written > 0)
        QCOMPARE(Bytes(back.begin(), back.begin() + written),
                 Bytes(data.begin(), data.begin() + written));
    QCOMPARE(m_host->writeChip(chip, offset, nullptr, 4), -1LL);
}

void TestChipSwap::factoryBadBlocksStayMarked_data()
{
    QTest::addColumn<bool>("swapped"); // the second chip in the socket
    QTest::addColumn<int>("block");
    QTest::addColumn<bool>("bad");

    QTest::newRow("first chip's bad block") << false << 3 << true;
    QTest::newRow("first chip's good block") << false << 5 << false;
    QTest::newRow("second chip's bad block") << true << 5 << true;
    QTest::newRow("second chip's good block") << true << 3 << false;
}

void TestChipSwap::factoryBadBlocksStayMarked()
{
    QFETCH(bool, swapped);
    QFETCH(int, block);
    QFETCH(bool, bad);
    configure(SmallPair);
    start();
    if (swapped)
        reinitialise();
    QCOMPARE(m_host->socketChip(), swapped ? 1 : 0);
    const std::uint32_t row = std::uint32_t(block) * 64;
    const Bytes old = pattern(std::size_t(PageBytes), 3);
    QCOMPARE(m_host->writeChip(0, row * PageBytes + PageBytes, old.data(), old.size()),
             (long long)PageBytes); // the block's second page holds data
    const Bytes firstPage = chip(row * PageBytes, std::size_t(PageBytes));

    // Erase, as the program does before it programs a target chip.
    send(packet({0x1B, 2, int(row & 0xFF), int(row >> 8)}));
    QCOMPARE(answer(2), bad ? (Bytes{0xE1, 1}) : (Bytes{0xE0, 0}));
    // The scan after the erase reads the first page: six 0xFF bytes from the
    // spare area's start make a good block.
    send(packet({0x37, 4, 0, 0, int(row & 0xFF), int(row >> 8), 0, 0, 0x40, 0x08}));
    const Bytes scanned = answer(PageBytes);
    QCOMPARE(scanned.size(), std::size_t(PageBytes));
    QCOMPARE(Bytes(scanned.begin() + 2048, scanned.begin() + 2054) == Bytes(6, 0xFF), !bad);
    QCOMPARE(chip(row * PageBytes + 2048, 6) == Bytes(6, 0xFF), !bad);
    if (bad) {
        QCOMPARE(chip(row * PageBytes, std::size_t(PageBytes)), firstPage);
        QCOMPARE(chip(row * PageBytes + PageBytes, std::size_t(PageBytes)), old);
    } else {
        QCOMPARE(chip(row * PageBytes, std::size_t(2 * PageBytes)), Bytes(2 * PageBytes, 0xFF));
    }

    // Program the first page: a bad block takes nothing and reports it.
    const Bytes data = pattern(std::size_t(PageBytes), 4);
    Bytes padded = data;
    padded.resize(5 * 512, 0xFF);
    send(pageCommand(0x1C, row, 1));
    send(padded);
    send(packet({0x32}, 1));
    QCOMPARE(answer(2), (Bytes{'D', static_cast<unsigned char>(bad ? 1 : 0)}));
    QCOMPARE(chip(row * PageBytes, std::size_t(PageBytes)), bad ? firstPage : data);
    QVERIFY(logLines("ERROR").empty());
}

void TestChipSwap::readFlipsAreFewAndRepeatable_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("least");
    QTest::addColumn<int>("most");

    QTest::newRow("flips profile") << "nand-flips.ini" << 2 << 12;
    QTest::newRow("plain profile") << "nand-k9f1g08u0b.ini" << 0 << 0;
}

void TestChipSwap::readFlipsAreFewAndRepeatable()
{
    QFETCH(QString, file);
    QFETCH(int, least);
    QFETCH(int, most);
    // The first 64 blocks (4096 pages) in reads of 256 pages, as the program
    // reads a range; the flipped bits by their place in the range.
    const auto flips = [&] {
        std::vector<std::uint64_t> places;
        configure(profileText(file));
        start();
        const std::size_t chunk = 256 * PageBytes;
        for (std::uint32_t row = 0; row < 4096; row += 256) {
            send(packet({0x27, 4, 0, 0, int(row & 0xFF), int(row >> 8), 0, 0, 0x40, 0x08, 0, 1}));
            const Bytes got = answer(chunk);
            const Bytes stored = chip(row * PageBytes, chunk);
            if (got.size() != chunk || stored.size() != chunk)
                return std::vector<std::uint64_t>{~0ull};
            for (std::size_t i = 0; i < chunk; ++i)
                for (int bit = 0; bit < 8; ++bit)
                    if (((got[i] ^ stored[i]) >> bit) & 1)
                        places.push_back((row * PageBytes + i) * 8 + std::uint64_t(bit));
        }
        return places;
    };
    const std::vector<std::uint64_t> first = flips();
    QVERIFY2(int(first.size()) >= least && int(first.size()) <= most,
             qPrintable(QString("%1 flipped bits").arg(first.size())));
    QCOMPARE(flips(), first); // the seed decides
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestChipSwap)
#include "tst_chip_swap.moc"
