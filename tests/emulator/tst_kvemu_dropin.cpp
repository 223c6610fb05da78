#include "TestHome.h"

#include "FirmwareImages.h"
#include "UsbDriverTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibrary>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

// The drop-in library as the program meets it: libkvemu.so copied into a
// "dll" folder as libkvusb.so, bound through the driver table by its six
// exports; the kvemu_* exports configure and inspect the emulator.
//
// The process runs with KVEMU_CONFIG naming the 2-chip-enable NAND profile
// and KVEMU_LOG naming a log file (see CMakeLists.txt). The library stays
// loaded for the whole process, so the test functions run in order.
namespace {

using Bytes = std::vector<unsigned char>;

using Configure = int (*)(const char *);
using Reset = int (*)();
using LastError = const char *(*)();
using ReadChip = long long (*)(int, unsigned long long, unsigned char *, unsigned long long);
using ChipSize = long long (*)(int);
using WriteChip = long long (*)(int, unsigned long long, const unsigned char *, unsigned long long);
using SocketChip = int (*)();
using SwapChip = int (*)();
using CommandLogText = long long (*)(char *, long long);
using ClearLog = void (*)();
using InjectFault = int (*)(const char *, unsigned long long);
using SetPause = void (*)(unsigned);

Bytes packet(std::initializer_list<int> bytes, std::size_t length)
{
    Bytes p;
    for (const int b : bytes)
        p.push_back(static_cast<unsigned char>(b));
    p.resize(std::max(length, p.size()), 0);
    return p;
}

const char *const W25Q64 = R"(
[chip]
family = spi
id = EF 40 17
size = 8M
)";

} // namespace

class TestKvemuDropIn : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void firstUseReadsTheProfileNamedByTheEnvironment();
    void downloadPausesAndTheDeviceComesBack();
    void runningFirmwareIsNotDownloadedAgain();
    void nandSessionThroughTheDriverTable();
    void spiSessionAfterConfigure();
    void olderPartAtFullSpeed();
    void unplugAfterBytesAndReplugDelay();
    void injectedUnplugAndReplug();
    void failingDownloadFailsOnce();
    void failingChunkReadLosesOneChunk();
    void hostileAnswerSpoilsOneAnswer_data();
    void hostileAnswerSpoilsOneAnswer();
    void badProfileIsAnErrorNotACrash();
    void badArgumentsFailCleanly();
    void firmwareAlreadyRunningAtStart();
    void statusFromAnotherThreadWhileTransferring();
    void logFileHoldsEveryLine();
    void secondChipThroughTheExports();

private:
    int writePacket(const Bytes &p)
    {
        return m_table.write(0, const_cast<unsigned char *>(p.data()), int(p.size()));
    }
    Bytes readPipe(int pipe, int length);
    Bytes readAnswer(int length, int chunk = 8192);
    std::string log();
    bool waitForOpen(int result, int timeoutMs = 5000);
    void connect(const char *profile, FirmwareImageId image);

    QTemporaryDir m_dir;
    UsbDriverTable m_table;
    QLibrary m_library;
    Configure m_configure = nullptr;
    Reset m_reset = nullptr;
    LastError m_lastError = nullptr;
    ReadChip m_readChip = nullptr;
    ChipSize m_chipSize = nullptr;
    WriteChip m_writeChip = nullptr;
    SocketChip m_socketChip = nullptr;
    SwapChip m_swapChip = nullptr;
    CommandLogText m_log = nullptr;
    ClearLog m_clearLog = nullptr;
    InjectFault m_fault = nullptr;
    SetPause m_setPause = nullptr;
};

Bytes TestKvemuDropIn::readPipe(int pipe, int length)
{
    Bytes buffer(std::size_t(length), 0xEE);
    const int got = m_table.read(pipe, buffer.data(), length);
    if (got < 0)
        return {0xDE, 0xAD};
    buffer.resize(std::size_t(got));
    return buffer;
}

Bytes TestKvemuDropIn::readAnswer(int length, int chunk)
{
    Bytes all;
    while (int(all.size()) < length) {
        const Bytes part = readPipe(3, std::min(chunk, length - int(all.size())));
        if (part.empty())
            break;
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::string TestKvemuDropIn::log()
{
    const long long size = m_log(nullptr, 0);
    std::string text(std::size_t(size) + 1, '\0');
    m_log(text.data(), size + 1);
    text.resize(std::size_t(size));
    return text;
}

bool TestKvemuDropIn::waitForOpen(int result, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        m_table.close();
        if (m_table.open() == result)
            return true;
        QThread::msleep(20);
    }
    return false;
}

void TestKvemuDropIn::connect(const char *profile, FirmwareImageId image)
{
    QVERIFY2(m_configure(profile) == 1, m_lastError());
    m_setPause(0);
    m_table.close();
    QCOMPARE(m_table.download(firmwareImage(image).records, false), 1);
    QVERIFY(waitForOpen(1));
}

void TestKvemuDropIn::initTestCase()
{
    QVERIFY(!qEnvironmentVariableIsEmpty("KVEMU_CONFIG"));
    QVERIFY(!qEnvironmentVariableIsEmpty("KVEMU_LOG"));
    const QString logFile = qEnvironmentVariable("KVEMU_LOG");
    QVERIFY(QDir().mkpath(QFileInfo(logFile).path()));
    QFile::remove(logFile);
    // The program's layout: <folder>/dll/libkvusb.so.
    QVERIFY(QDir(m_dir.path()).mkpath("dll"));
    const QString copy = m_dir.filePath("dll/libkvusb.so");
    QVERIFY(QFile::copy(QStringLiteral(KVEMU_LIBRARY), copy));
    m_table.bind(m_dir.filePath("dll/kvusb"));
    QVERIFY(m_table.isResolved());
    m_library.setFileName(copy);
    QVERIFY(m_library.load());
    m_configure = reinterpret_cast<Configure>(m_library.resolve("kvemu_configure"));
    m_reset = reinterpret_cast<Reset>(m_library.resolve("kvemu_reset"));
    m_lastError = reinterpret_cast<LastError>(m_library.resolve("kvemu_last_error"));
    m_readChip = reinterpret_cast<ReadChip>(m_library.resolve("kvemu_read_chip"));
    m_chipSize = reinterpret_cast<ChipSize>(m_library.resolve("kvemu_chip_size"));
    m_writeChip = reinterpret_cast<WriteChip>(m_library.resolve("kvemu_write_chip"));
    m_socketChip = reinterpret_cast<SocketChip>(m_library.resolve("kvemu_socket_chip"));
    m_swapChip = reinterpret_cast<SwapChip>(m_library.resolve("kvemu_swap_chip"));
    m_log = reinterpret_cast<CommandLogText>(m_library.resolve("kvemu_command_log"));
    m_clearLog = reinterpret_cast<ClearLog>(m_library.resolve("kvemu_clear_log"));
    m_fault = reinterpret_cast<InjectFault>(m_library.resolve("kvemu_inject_fault"));
    m_setPause = reinterpret_cast<SetPause>(m_library.resolve("kvemu_set_download_pause_ms"));
    QVERIFY(m_configure && m_reset && m_lastError && m_readChip && m_chipSize && m_log &&
            m_clearLog && m_fault && m_setPause && m_writeChip && m_socketChip && m_swapChip);
    // Nothing but these is exported.
    QVERIFY(!m_library.resolve("_ZN5kvemu10DropInHost8instanceEv"));
}

void TestKvemuDropIn::firstUseReadsTheProfileNamedByTheEnvironment()
{
    QCOMPARE(m_table.status(), 0); // no pipe table yet
    QCOMPARE(m_table.open(), 1);   // the bare part, vendor 0x04B4
    QCOMPARE(m_table.status(), 0); // the bare part has no endpoints
    unsigned char buffer[16];
    QCOMPARE(m_table.read(2, buffer, 16), -1);
    m_table.close();
    QCOMPARE(m_chipSize(0), 1024LL * 64 * 2112);
    QCOMPARE(m_chipSize(1), 1024LL * 64 * 2112);
    QCOMPARE(m_chipSize(2), 0LL);
    // Factory bad block 37 of chip enable 0 carries its mark.
    unsigned char spare[4] = {};
    QCOMPARE(m_readChip(0, 37ull * 64 * 2112 + 2048, spare, 4), 4LL);
    QCOMPARE(spare[0], 0x00);
    QCOMPARE(m_readChip(1, 37ull * 64 * 2112 + 2048, spare, 4), 4LL);
    QCOMPARE(spare[0], 0xFF);
}

void TestKvemuDropIn::downloadPausesAndTheDeviceComesBack()
{
    m_table.close();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_table.download(firmwareImage(NandImage1).records, false), 1);
    QVERIFY(timer.elapsed() >= 1800); // kvusb's pause after a successful download
    QVERIFY(waitForOpen(1));
    QCOMPARE(m_table.status(), 512);
    QVERIFY(log().find("DOWNLOAD NAND image 1\n") != std::string::npos);
    m_table.close();
    // Forced: downloads again; right after it the device is away until it
    // has enumerated anew.
    m_setPause(0);
    QCOMPARE(m_table.download(firmwareImage(NandImage2).records, true), 1);
    QCOMPARE(m_table.open(), 0);
    QCOMPARE(m_table.status(), 512); // kvusb keeps the packet size it read
    QVERIFY(waitForOpen(1));
    unsigned char id[9] = {0x18, 0x00, 0x02, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00};
    QCOMPARE(m_table.write(0, id, 9), 9);
    const Bytes answer = readPipe(2, 8);
    QCOMPARE(answer.size(), std::size_t(8));
    QCOMPARE(answer[4], 0x17); // 0xDD400617: image 2 does not fit board 1
    QCOMPARE(answer[7], 0xDD);
    m_table.close();
}

void TestKvemuDropIn::runningFirmwareIsNotDownloadedAgain()
{
    m_table.close();
    QElapsedTimer timer;
    timer.start();
    m_setPause(1800);
    QCOMPARE(m_table.download(firmwareImage(NandImage1).records, false), 2);
    QVERIFY(timer.elapsed() < 1800);
    QCOMPARE(m_table.open(), 1);
    m_table.close();
    QCOMPARE(m_table.download(nullptr, true), 0);
}

void TestKvemuDropIn::nandSessionThroughTheDriverTable()
{
    connect(qPrintable(QString::fromLatin1(R"(
[chip]
family = nand
id = EC F1 00 95 40
blocks = 64
chip_enables = 2
onfi = yes
bad_blocks = 5
)")),
            NandImage1);
    m_clearLog();
    QCOMPARE(writePacket(packet({0x18, 0x00, 0x02, 0x00, 0x0A}, 9)), 9);
    QCOMPARE(readPipe(2, 8), (Bytes{0x00, 0x01, 0x56, 0x4B, 0xDD, 0x40, 0x06, 0x17}));
    QCOMPARE(writePacket(packet({0x10, 0, 0, 1, 0, 2, 2}, 10)), 10);
    QCOMPARE(readPipe(2, 2), (Bytes{1, 1}));
    QCOMPARE(writePacket(packet({0x36, 1}, 2)), 2);
    QCOMPARE(writePacket(packet({0x29, 0x01}, 6)), 6);
    QCOMPARE(readPipe(2, 6), (Bytes{0xEC, 0xF1, 0x00, 0x95, 0x40, 0xEC}));
    // Program one block of chip enable 1 and read it back in 8 KiB chunks.
    Bytes data(64 * 2112);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i ^ (i >> 9));
    QCOMPARE(writePacket(packet({0x1C, 4, 0, 0, 64, 0, 0, 0, 0x40, 0x08, 0x40, 0x01}, 20)), 20);
    QCOMPARE(m_table.write(0, data.data(), int(data.size())), int(data.size()));
    QCOMPARE(writePacket(packet({0x32}, 1)), 1);
    QCOMPARE(readPipe(3, 2), (Bytes{'D', 0}));
    QCOMPARE(writePacket(packet({0x27, 4, 0, 0, 64, 0, 0, 0, 0x40, 0x08, 0x40, 0x01}, 20)), 20);
    QCOMPARE(readAnswer(int(data.size())), data);
    Bytes stored(data.size());
    QCOMPARE(m_readChip(1, 64 * 2112, stored.data(), stored.size()), (long long)(stored.size()));
    QCOMPARE(stored, data);
    // Scan and erase on chip enable 0.
    QCOMPARE(writePacket(packet({0x36, 0}, 2)), 2);
    QCOMPARE(writePacket(packet({0x37, 4, 0, 0, 5 * 64, 1, 0, 0, 0x00, 0x02}, 20)), 20);
    QCOMPARE(readAnswer(512), Bytes(512, 0x00)); // factory bad block 5
    QCOMPARE(writePacket(packet({0x1B, 2, 64, 0}, 20)), 20);
    QCOMPARE(readPipe(3, 2), (Bytes{0xE0, 0x00}));
    // Nothing pending: an answer of 0 bytes at once.
    QCOMPARE(readPipe(3, 512), Bytes());
    const std::string text = log();
    QVERIFY(text.rfind("CMD 18 00 02 00 0a 00 00 00 00\nCMD 10 00 00 01 00 02 02 00 00 00\n", 0) ==
            0);
    QVERIFY(text.find("\nDATA 135168\n") != std::string::npos);
    QVERIFY(text.find("ERROR") == std::string::npos);
    m_table.close();
}

void TestKvemuDropIn::spiSessionAfterConfigure()
{
    connect(W25Q64, SpiImage0);
    QCOMPARE(writePacket(packet({0x29, 0x9F}, 64)), 64);
    QCOMPARE(readPipe(2, 3), (Bytes{0xEF, 0x40, 0x17}));
    QCOMPARE(writePacket(packet({0x2A}, 6)), 6);
    const Bytes sfdp = readAnswer(2048, 2048);
    QCOMPARE(Bytes(sfdp.begin(), sfdp.begin() + 4), (Bytes{'S', 'F', 'D', 'P'}));
    QCOMPARE(writePacket(packet(
                 {0x1C, 0x02, 3, 0, 0x10, 0, 0, 0, 0, 0, 2, 1, 0, 0, 0, 0, 0x05, 0x01, 0x00}, 20)),
             20);
    Bytes data(512);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 5);
    QCOMPARE(m_table.write(0, data.data(), 512), 512);
    QCOMPARE(
        writePacket(packet({0x27, 0x6B, 3, 0, 0x10, 0, 0, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 2}, 20)),
        20);
    QCOMPARE(readAnswer(512, 512), data);
    m_table.close();
}

void TestKvemuDropIn::olderPartAtFullSpeed()
{
    QVERIFY(m_configure("[programmer]\nvendor = 0x0547\n[chip]\nfamily = nand\nid = EC F1 00 95 "
                        "40\nblocks = 8\n") == 1);
    m_setPause(0);
    m_table.close();
    QCOMPARE(m_table.open(), 2);
    m_table.close();
    QCOMPARE(m_table.download(firmwareImage(NandImage1).records, false), 1);
    QVERIFY(waitForOpen(2));
    QCOMPARE(m_table.status(), 64);
    // A page of 2112 bytes is 33 packets of 64: no filling.
    QCOMPARE(writePacket(packet({0x27, 4, 0, 0, 0, 0, 0, 0, 0x40, 0x08, 1, 1}, 20)), 20);
    QCOMPARE(readAnswer(4096, 4096).size(), std::size_t(2112));
    m_table.close();
}

void TestKvemuDropIn::unplugAfterBytesAndReplugDelay()
{
    connect("[faults]\nunplug_after_bytes = 100\nreplug_ms = 300\n[chip]\nfamily = nand\nid = EC "
            "F1\nblocks = 8\n",
            NandImage1);
    const Bytes id = packet({0x29, 1}, 6);
    int written = 0;
    int result = 0;
    while ((result = writePacket(id)) == 6) {
        written += 6;
        readPipe(2, 6);
        written += 6;
        QVERIFY(written < 100);
    }
    QCOMPARE(result, -1);
    QCOMPARE(readPipe(2, 6), (Bytes{0xDE, 0xAD})); // every transfer fails now
    m_table.close();
    QCOMPARE(m_table.open(), 0); // gone, and the pipe table is forgotten
    QCOMPARE(m_table.download(firmwareImage(NandImage1).records, false), 0);
    QVERIFY(waitForOpen(1, 3000)); // back after the replug delay, bare again
    // The command log says when it went, after how many bulk bytes, and
    // when it was back.
    const QRegularExpressionMatch plug =
        QRegularExpression(QStringLiteral("^UNPLUG (\\d+) ms after 100 bulk bytes\n"
                                          "REPLUG (\\d+) ms$"),
                           QRegularExpression::MultilineOption)
            .match(QString::fromStdString(log()));
    QVERIFY2(plug.hasMatch(), log().c_str());
    const qint64 away = plug.captured(2).toLongLong() - plug.captured(1).toLongLong();
    QVERIFY2(away >= 299 && away <= 310, qPrintable(QString::number(away)));
    m_table.close();
    QCOMPARE(m_table.download(firmwareImage(NandImage1).records, false), 1);
    QVERIFY(waitForOpen(1));
    QCOMPARE(writePacket(id), 6);
    QCOMPARE(readPipe(2, 6).size(), std::size_t(6));
    m_table.close();
}

void TestKvemuDropIn::injectedUnplugAndReplug()
{
    connect("[chip]\nfamily = nand\nid = EC F1\nblocks = 8\n", NandImage1);
    QCOMPARE(m_fault("unplug", 60000), 1);
    QCOMPARE(writePacket(packet({0x29, 1}, 6)), -1);
    m_table.close();
    QCOMPARE(m_table.open(), 0);
    QCOMPARE(m_fault("replug", 0), 1);
    QCOMPARE(m_table.open(), 1);
    QCOMPARE(m_table.status(), 512); // the bare part records nothing: the old size stays
    m_table.close();
    QCOMPARE(m_table.download(firmwareImage(NandImage1).records, false), 1);
    QCOMPARE(m_fault("no such fault", 1), 0);
    QVERIFY(QString(m_lastError()).contains("unknown fault"));
}

void TestKvemuDropIn::failingDownloadFailsOnce()
{
    QVERIFY(m_configure(
                "[faults]\nfail_download = 5\n[chip]\nfamily = nand\nid = EC F1\nblocks = 8\n") ==
            1);
    m_setPause(0);
    m_table.close();
    QCOMPARE(m_table.download(firmwareImage(NandImage1).records, false), 0);
    QCOMPARE(m_table.open(), 1); // still the bare part
    m_table.close();
    QVERIFY(log().find("DOWNLOAD") == std::string::npos);
    QCOMPARE(m_table.download(firmwareImage(NandImage1).records, false), 1);
    QVERIFY(waitForOpen(1));
    QVERIFY(log().find("DOWNLOAD NAND image 1") != std::string::npos);
    m_table.close();
}

void TestKvemuDropIn::failingChunkReadLosesOneChunk()
{
    connect("[chip]\nfamily = nand\nid = EC F1\nblocks = 8\n", NandImage1);
    QCOMPARE(writePacket(packet({0x27, 4, 0, 0, 0, 0, 0, 0, 0x40, 0x08, 8, 1}, 20)), 20); // 8 pages
    QCOMPARE(m_fault("fail_read", 2), 1);
    unsigned char buffer[8192];
    QCOMPARE(m_table.read(3, buffer, 8192), 8192);
    QCOMPARE(m_table.read(3, buffer, 8192), -1);
    QCOMPARE(m_table.read(3, buffer, 8192), 16896 - 16384);
    QVERIFY(log().find("ERROR read fault: 8192 bytes lost") != std::string::npos);
    m_table.close();
}

void TestKvemuDropIn::hostileAnswerSpoilsOneAnswer_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("realBytes"); // the answer's own bytes, as far as it goes
    QTest::addColumn<QString>("logged");
    QTest::newRow("short") << "answer_short" << 4 << true
                           << "FAULT answer_short 0x18: 4 of 8 bytes";
    QTest::newRow("missing") << "answer_missing" << 0 << true
                             << "FAULT answer_missing 0x18: 0 of 8 bytes";
    QTest::newRow("oversized") << "answer_oversized" << 11 << true
                               << "FAULT answer_oversized 0x18: 11 of 8 bytes";
    QTest::newRow("garbage") << "answer_garbage" << 8 << false
                             << "FAULT answer_garbage 0x18: 8 of 8 bytes";
    QTest::newRow("zeroed") << "answer_zeroed" << 8 << false
                            << "FAULT answer_zeroed 0x18: 8 of 8 bytes";
}

// The second identification answer from now is spoilt, the first and the
// third are not; a read never fills more than it asks for.
void TestKvemuDropIn::hostileAnswerSpoilsOneAnswer()
{
    QFETCH(QString, fault);
    QFETCH(int, length);
    QFETCH(bool, realBytes);
    QFETCH(QString, logged);
    connect("[chip]\nfamily = nand\nid = EC F1\nblocks = 8\n", NandImage1);
    const Bytes identify = packet({0x18, 0, 2, 0, 0x0A}, 9);
    QCOMPARE(m_fault(fault.toLatin1().constData(), 0x18 | 2 << 8), 1);
    QCOMPARE(writePacket(packet({0x10, 0}, 10)), 10); // another code: not counted
    unsigned char adapter[2];
    QCOMPARE(m_table.read(2, adapter, 2), 2);
    QCOMPARE(writePacket(identify), 9);
    unsigned char real[8];
    QCOMPARE(m_table.read(2, real, 8), 8);

    QCOMPARE(writePacket(identify), 9);
    unsigned char spoilt[16];
    std::fill(std::begin(spoilt), std::end(spoilt), 0xA5);
    QCOMPARE(m_table.read(2, spoilt, 8), std::min(length, 8));
    for (int i = std::min(length, 8); i < 16; ++i)
        QCOMPARE(int(spoilt[i]), 0xA5);
    const int rest = std::max(length - 8, 0);
    QCOMPARE(m_table.read(2, spoilt + 8, 8), rest);
    const Bytes got(spoilt, spoilt + std::min(length, 8));
    const Bytes own(real, real + got.size());
    QCOMPARE(got == own, realBytes || got.empty());
    if (fault == QLatin1String("answer_zeroed"))
        QCOMPARE(got, Bytes(8, 0));
    QVERIFY(log().find(logged.toStdString()) != std::string::npos);

    QCOMPARE(writePacket(identify), 9);
    unsigned char again[8];
    QCOMPARE(m_table.read(2, again, 8), 8);
    QVERIFY(std::equal(again, again + 8, real));
    m_table.close();
}

void TestKvemuDropIn::badProfileIsAnErrorNotACrash()
{
    QCOMPARE(m_configure("[chip]\nfamily = nand\nid = EC\nsfdp = yes\n"), 0);
    QVERIFY(QString(m_lastError()).contains("line 4"));
    QVERIFY(log().find("ERROR config: line 4: unknown key \"sfdp\"") != std::string::npos);
    m_table.close();
    QCOMPARE(m_table.open(), 0);
    unsigned char buffer[8];
    QCOMPARE(m_table.read(2, buffer, 8), -1);
    QCOMPARE(m_table.download(firmwareImage(NandImage1).records, true), 0);
    QCOMPARE(m_chipSize(0), 0LL);
    QCOMPARE(m_readChip(0, 0, buffer, 8), -1LL);
    QCOMPARE(m_reset(), 0);            // the same bad profile again
    QCOMPARE(m_configure(nullptr), 1); // an empty programmer
    QCOMPARE(m_table.open(), 1);
    m_table.close();
}

void TestKvemuDropIn::badArgumentsFailCleanly()
{
    connect("[chip]\nfamily = nand\nid = EC F1\nblocks = 8\n", NandImage1);
    unsigned char buffer[16] = {};
    QCOMPARE(m_table.read(8, buffer, 16), -1);
    QCOMPARE(m_table.read(-1, buffer, 16), -1);
    QCOMPARE(m_table.read(2, buffer, -1), -1);
    QCOMPARE(m_table.read(2, nullptr, 16), -1);
    QCOMPARE(m_table.read(0, buffer, 16), -1);  // pipe 0 is OUT
    QCOMPARE(m_table.write(3, buffer, 16), -1); // pipe 3 is IN
    QCOMPARE(m_table.write(4, buffer, 16), -1); // no endpoint recorded there
    QCOMPARE(m_table.read(2, nullptr, 0), 0);
    // An empty write is a packet without bytes: an error in the log.
    m_clearLog();
    QCOMPARE(m_table.write(0, buffer, 0), 0);
    QCOMPARE(log(), std::string("CMD\nERROR empty packet\n"));
    m_table.close();
    QCOMPARE(m_table.write(0, buffer, 16), -1); // closed
    QCOMPARE(m_readChip(5, 0, buffer, 16), -1LL);
    QCOMPARE(m_readChip(0, 1ull << 40, buffer, 16), 0LL);
}

void TestKvemuDropIn::firmwareAlreadyRunningAtStart()
{
    QVERIFY(m_configure(
                "[programmer]\nfirmware = SPI image 2\n[chip]\nfamily = spi\nid = EF 40 17\n") ==
            1);
    m_table.close();
    m_setPause(1800);
    QCOMPARE(m_table.download(firmwareImage(SpiImage2).records, false), 2); // no download
    QCOMPARE(m_table.open(), 1);
    QCOMPARE(m_table.status(), 512);
    QCOMPARE(writePacket(packet({0x29, 0x9F}, 10)), 10);
    QCOMPARE(readPipe(2, 3), (Bytes{0xEF, 0x40, 0x17}));
    QVERIFY(log().find("DOWNLOAD") == std::string::npos);
    m_table.close();
}

void TestKvemuDropIn::statusFromAnotherThreadWhileTransferring()
{
    // The program asks for the link's packet size from its GUI thread while
    // the worker thread moves bytes.
    connect("[chip]\nfamily = nand\nid = EC F1\nblocks = 8\n", NandImage1);
    std::atomic<bool> stop{false};
    std::atomic<int> wrongStatus{0};
    std::thread gui([&] {
        while (!stop)
            if (m_table.status() != 512)
                ++wrongStatus;
    });
    for (int i = 0; i < 200; ++i) {
        writePacket(packet({0x27, 4, 0, 0, 0, 0, 0, 0, 0x40, 0x08, 4, 1}, 20));
        readAnswer(8704);
    }
    stop = true;
    gui.join();
    QCOMPARE(wrongStatus.load(), 0);
    m_table.close();
}

void TestKvemuDropIn::logFileHoldsEveryLine()
{
    QFile file(qEnvironmentVariable("KVEMU_LOG"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("DOWNLOAD NAND image 1\n"));
    QVERIFY(text.contains("CMD 29 9f"));
    QVERIFY(text.contains("CMD 27 04 00 00 00 00 00 00 40 08 04 01"));
    QVERIFY(text.contains("ERROR config: line 4"));
    QVERIFY(text.endsWith("\n"));
    // The tail of the file is the log the library holds now, line for line.
    const QByteArray kept = QByteArray::fromStdString(log());
    QVERIFY(!kept.isEmpty());
    QVERIFY(text.endsWith(kept));
}

void TestKvemuDropIn::secondChipThroughTheExports()
{
    connect("[chip]\nfamily = nand\nid = EC F1\nblocks = 8\n[second_chip]\nid = EC F1\nblocks = "
            "4\n",
            NandImage1);
    QCOMPARE(m_socketChip(), 0);
    const unsigned char bytes[4] = {0x12, 0x34, 0x56, 0x78};
    QCOMPARE(m_writeChip(0, 2046, bytes, 4), 4LL);
    QCOMPARE(m_swapChip(), 1);
    QCOMPARE(m_socketChip(), 1);
    QCOMPARE(m_chipSize(0), 4LL * 64 * 2112);
    unsigned char back[4] = {};
    QCOMPARE(m_readChip(0, 2046, back, 4), 4LL);
    QCOMPARE(back[0], 0xFF);
    // The program's re-initialisation puts the first chip back.
    m_table.close();
    QCOMPARE(m_table.download(firmwareImage(NandImage1).records, true), 1);
    QVERIFY(waitForOpen(1));
    QCOMPARE(m_socketChip(), 0);
    QCOMPARE(m_readChip(0, 2046, back, 4), 4LL);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(back), 4),
             QByteArray(reinterpret_cast<const char *>(bytes), 4));
    QVERIFY(log().find("SOCKET second\nSOCKET first\nDOWNLOAD NAND image 1\n") !=
            std::string::npos);
    m_table.close();
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestKvemuDropIn)
#include "tst_kvemu_dropin.moc"
