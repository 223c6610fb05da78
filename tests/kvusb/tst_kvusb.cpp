#include "FirmwareImages.h"
#include "KvusbState.h"
#include "LoopbackFirmware.h"
#include "TestHome.h"
#include "UmockdevProgrammer.h"
#include "kvusb.h"

#include <QElapsedTimer>
#include <QTest>

#include <future>
#include <memory>
#include <vector>

using namespace kvemu;

namespace {
constexpr unsigned char Unread = 0xFF;

UsbConfig configFor(std::uint16_t vendor, LinkSpeed speed, const std::string &runningImage = {})
{
    UsbConfig config = UsbConfig::forVendor(vendor);
    config.speed = speed;
    config.runningImage = runningImage;
    return config;
}

std::vector<unsigned> pipeAddresses()
{
    std::vector<unsigned> addresses;
    for (int i = 0; i < KVUSB_PIPES; ++i)
        addresses.push_back(kvusb_pipe_address(i));
    return addresses;
}

// The firmware-load requests (0xA0 OUT) the device received, in order.
std::vector<ControlRecord> loadRequests(const EzUsbDevice &device)
{
    std::vector<ControlRecord> loads;
    for (const ControlRecord &record : device.controlLog()) {
        if (record.setup.requestType == 0x40 && record.setup.request == 0xA0)
            loads.push_back(record);
    }
    return loads;
}

// Closes kvusb's device when a test ends, before the emulated programmer
// goes away (declare it after the programmer): a device left open on a
// vanished testbed cannot be closed any more.
struct CloseAtEnd
{
    ~CloseAtEnd() { func5(); }
};

// Forgets the pipe table of an earlier test: a failed open resets it.
void forgetPipeTable()
{
    func5();
    UmockdevProgrammer none(UsbConfig{});
    none.unplug();
    none.waitForState(DeviceState::Gone, 5000);
    QCOMPARE(func4(), 0);
}
} // namespace

class TestKvusb : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void noProgrammer();
    void opensTheBarePart_data();
    void opensTheBarePart();
    void downloadsEveryRecordAndReenumerates_data();
    void downloadsEveryRecordAndReenumerates();
    void runningFirmwareIsNotDownloadedAgain();
    void forceDownloadsOverRunningFirmware();
    void zeroLengthRecordIsAZeroLengthRequest();
    void failedRecordStillReleasesTheCpu();
    void imageWithoutDataFails();
    void bulkTransfersByPipeIndex();
    void pipeTableOutlivesCloseAndFailedOpenResetsIt();
    void unplugDuringBulkReadReturnsPromptly();
};

void TestKvusb::init()
{
    // Tests that are not about the pause after a download shorten it.
    kvusb_set_download_pause_ms(100);
    QVERIFY2(UmockdevProgrammer::preloadActive(), "run with libumockdev-preload.so.0 preloaded");
}

void TestKvusb::noProgrammer()
{
    // Runs first: no pipe table was ever read in this process.
    QCOMPARE(func6(), 0);
    forgetPipeTable();
    QCOMPARE(pipeAddresses(), std::vector<unsigned>(KVUSB_PIPES, Unread));
    unsigned char buffer[64] = {};
    QCOMPARE(func1(3, buffer, 64), -1);
    QCOMPARE(func2(0, buffer, 64), -1);
    QCOMPARE(func3(firmwareImage(NandImage1).records, 1), 0);
    QCOMPARE(func5(), 0);
    QVERIFY(!kvusb_is_open());
}

void TestKvusb::opensTheBarePart_data()
{
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("result");
    QTest::newRow("0x04B4") << 0x04B4 << 1;
    QTest::newRow("0x0547") << 0x0547 << 2;
}

void TestKvusb::opensTheBarePart()
{
    QFETCH(int, vendor);
    QFETCH(int, result);
    forgetPipeTable();
    UmockdevProgrammer programmer(UsbConfig::forVendor(std::uint16_t(vendor)));
    CloseAtEnd closeAtEnd;
    QCOMPARE(func4(), result);
    QVERIFY(kvusb_is_open());
    // The bare part has no endpoints on interface 0: nothing is recorded.
    QCOMPARE(kvusb_pipe_address(0), unsigned(Unread));
    QVERIFY(func5() != 0);
    QVERIFY(!kvusb_is_open());
    QCOMPARE(func5(), 0);
}

void TestKvusb::downloadsEveryRecordAndReenumerates_data()
{
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("image");
    QTest::addColumn<int>("cpucs");
    QTest::addColumn<int>("openResult");
    QTest::addColumn<int>("packetSize");
    QTest::addColumn<bool>("realPause");
    QTest::newRow("FX2, high speed, NAND image 1")
        << 0x04B4 << int(LinkSpeed::High) << int(NandImage1) << 0xE600 << 1 << 512 << true;
    QTest::newRow("0x0547, full speed, SPI image 3")
        << 0x0547 << int(LinkSpeed::Full) << int(SpiImage3) << 0x7F92 << 2 << 64 << false;
}

void TestKvusb::downloadsEveryRecordAndReenumerates()
{
    QFETCH(int, vendor);
    QFETCH(int, speed);
    QFETCH(int, image);
    QFETCH(int, cpucs);
    QFETCH(int, openResult);
    QFETCH(int, packetSize);
    QFETCH(bool, realPause);
    forgetPipeTable();
    UmockdevProgrammer programmer(configFor(std::uint16_t(vendor), LinkSpeed(speed)));
    CloseAtEnd closeAtEnd;
    const FirmwareImage &firmware = firmwareImage(FirmwareImageId(image));
    const std::uint32_t enumeration = programmer.enumerationCount();

    if (realPause)
        kvusb_set_download_pause_ms(1800);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(func3(firmware.records, 0), 1);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= kvusb_download_pause_ms(), qPrintable(QString::number(elapsed)));
    QVERIFY(!kvusb_is_open());

    // CPU held, every data record in order, CPU released.
    const std::vector<ControlRecord> loads = loadRequests(programmer.model());
    QCOMPARE(int(loads.size()), firmware.recordCount - 1 + 2);
    QCOMPARE(int(loads.front().setup.value), cpucs);
    QCOMPARE(loads.front().data, std::vector<std::uint8_t>{1});
    QCOMPARE(int(loads.back().setup.value), cpucs);
    QCOMPARE(loads.back().data, std::vector<std::uint8_t>{0});
    for (int i = 0; i < firmware.recordCount - 1; ++i) {
        const FirmwareRecord &record = firmware.records[i];
        const ControlRecord &load = loads[std::size_t(i) + 1];
        QCOMPARE(unsigned(load.setup.value), record.loadAddress());
        QCOMPARE(unsigned(load.setup.index), 0u);
        QCOMPARE(load.data, std::vector<std::uint8_t>(record.data, record.data + record.length));
        // The model's RAM holds the record.
        QCOMPARE(programmer.model().ram(record.loadAddress(), record.length), load.data);
    }

    // The programmer comes back with the firmware's pipes.
    QVERIFY(programmer.waitForEnumeration(enumeration + 1, 10000));
    QVERIFY(programmer.waitForState(DeviceState::Firmware, 10000));
    QCOMPARE(QString::fromStdString(programmer.model().runningImage()->name),
             QString::fromLatin1(firmware.name));
    QCOMPARE(func4(), openResult);
    QCOMPARE(pipeAddresses(),
             (std::vector<unsigned>{0x02, 0x04, 0x86, 0x88, Unread, Unread, Unread, Unread}));
    QCOMPARE(func6(), packetSize);
    QCOMPARE(int(kvusb_pipe_packet_size(3)), packetSize);
}

void TestKvusb::runningFirmwareIsNotDownloadedAgain()
{
    forgetPipeTable();
    UmockdevProgrammer programmer(configFor(0x04B4, LinkSpeed::High, "NAND image 2"));
    CloseAtEnd closeAtEnd;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(func3(firmwareImage(NandImage2).records, 0), 2);
    QVERIFY2(clock.elapsed() < 1800, "no pause without a download");
    QVERIFY(!kvusb_is_open());
    QVERIFY(loadRequests(programmer.model()).empty());
    // The table was read on the way and is kept.
    QCOMPARE(kvusb_pipe_address(0), 0x02u);
    QCOMPARE(func6(), 512);
}

void TestKvusb::forceDownloadsOverRunningFirmware()
{
    UmockdevProgrammer programmer(configFor(0x04B4, LinkSpeed::High, "NAND image 1"));
    CloseAtEnd closeAtEnd;
    QCOMPARE(func4(), 1);
    QCOMPARE(kvusb_pipe_address(0), 0x02u);
    func5();
    const std::uint32_t enumeration = programmer.enumerationCount();
    QCOMPARE(func3(firmwareImage(NandImage2).records, 1), 1);
    QVERIFY(programmer.waitForEnumeration(enumeration + 1, 10000));
    QVERIFY(programmer.waitForState(DeviceState::Firmware, 10000));
    QCOMPARE(programmer.model().runningImage()->name, std::string("NAND image 2"));
}

void TestKvusb::zeroLengthRecordIsAZeroLengthRequest()
{
    forgetPipeTable();
    UmockdevProgrammer programmer;
    CloseAtEnd closeAtEnd;
    const FirmwareImage &base = firmwareImage(SpiImage0);
    std::vector<FirmwareRecord> records(base.records, base.records + base.recordCount);
    FirmwareRecord empty{};
    empty.address[0] = 0x34;
    empty.address[1] = 0x12;
    records.insert(records.begin() + 3, empty);
    QCOMPARE(func3(records.data(), 0), 1);
    const std::vector<ControlRecord> loads = loadRequests(programmer.model());
    QCOMPARE(loads.size(), records.size() + 1);
    const ControlRecord &zero = loads[4];
    QCOMPARE(zero.setup.value, std::uint16_t(0x1234));
    QCOMPARE(zero.setup.length, std::uint16_t(0));
    QVERIFY(zero.data.empty());
}

void TestKvusb::failedRecordStillReleasesTheCpu()
{
    forgetPipeTable();
    UsbConfig config;
    config.failDownloadRequest = 6; // the CPU hold is write 1
    UmockdevProgrammer programmer(config);
    CloseAtEnd closeAtEnd;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(func3(firmwareImage(NandImage1).records, 1), 0);
    QVERIFY2(clock.elapsed() < 1800, "no pause after a failure");
    QVERIFY(!kvusb_is_open());
    const std::vector<ControlRecord> loads = loadRequests(programmer.model());
    QCOMPARE(loads.size(), std::size_t(7)); // hold, 4 records, the failed one, release
    QCOMPARE(loads.back().setup.value, std::uint16_t(0xE600));
    QCOMPARE(loads.back().data, std::vector<std::uint8_t>{0});
    QVERIFY(!programmer.model().cpuHeldInReset());
    QCOMPARE(programmer.state(), DeviceState::Bare);
}

void TestKvusb::imageWithoutDataFails()
{
    forgetPipeTable();
    UmockdevProgrammer programmer;
    CloseAtEnd closeAtEnd;
    FirmwareRecord end{};
    end.type = FirmwareRecord::End;
    QCOMPARE(func3(&end, 0), 0);
    const std::vector<ControlRecord> loads = loadRequests(programmer.model());
    QCOMPARE(loads.size(), std::size_t(2)); // hold and release only
    QVERIFY(!programmer.model().cpuHeldInReset());
    QCOMPARE(func3(nullptr, 1), 0);
    QVERIFY(!kvusb_is_open());
}

void TestKvusb::bulkTransfersByPipeIndex()
{
    auto loopback = std::make_shared<LoopbackFirmware>();
    UmockdevProgrammer programmer(configFor(0x04B4, LinkSpeed::High, "SPI image 1"), loopback);
    CloseAtEnd closeAtEnd;
    QCOMPARE(func4(), 1);
    std::vector<unsigned char> out(20000), in(20000);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<unsigned char>(i * 31 + 7);
    QCOMPARE(func2(0, out.data(), int(out.size())), int(out.size()));
    QCOMPARE(func1(3, in.data(), 8192), 8192);
    QCOMPARE(func1(3, in.data() + 8192, 8192), 8192);
    QCOMPARE(func1(2, in.data() + 16384, 3616), 3616);
    QCOMPARE(in, out);
    // Nothing pending: a zero-length answer, at once.
    QCOMPARE(func1(3, in.data(), 512), 0);
    // Wrong directions, bad indices and unread pipes fail without a transfer.
    QCOMPARE(func1(0, in.data(), 64), -1);
    QCOMPARE(func2(3, out.data(), 64), -1);
    QCOMPARE(func1(8, in.data(), 64), -1);
    QCOMPARE(func1(-1, in.data(), 64), -1);
    QCOMPARE(func1(5, in.data(), 64), -1);
    QCOMPARE(func2(0, nullptr, 64), -1);
    QCOMPARE(func1(3, in.data(), -5), -1);
    QCOMPARE(programmer.model().traffic().bytesOut, std::uint64_t(out.size()));
}

void TestKvusb::pipeTableOutlivesCloseAndFailedOpenResetsIt()
{
    forgetPipeTable();
    {
        UmockdevProgrammer programmer(configFor(0x04B4, LinkSpeed::Full, "NAND image 1"));
        CloseAtEnd closeAtEnd;
        QCOMPARE(func4(), 1);
        QCOMPARE(func6(), 64);
        QVERIFY(func5() != 0);
        QCOMPARE(kvusb_pipe_address(2), 0x86u);
        QCOMPARE(func6(), 64);
        // Reopening keeps the recorded table.
        QCOMPARE(func4(), 1);
        QCOMPARE(kvusb_pipe_address(3), 0x88u);
        func5();
    }
    UmockdevProgrammer gone;
    CloseAtEnd closeAtEnd;
    gone.unplug();
    QVERIFY(gone.waitForState(DeviceState::Gone, 5000));
    QCOMPARE(func4(), 0);
    QCOMPARE(pipeAddresses(), std::vector<unsigned>(KVUSB_PIPES, Unread));
    // Packet sizes are not part of the reset.
    QCOMPARE(func6(), 64);
}

void TestKvusb::unplugDuringBulkReadReturnsPromptly()
{
    auto loopback = std::make_shared<LoopbackFirmware>();
    UmockdevProgrammer programmer(configFor(0x04B4, LinkSpeed::High, "NAND image 1"), loopback);
    CloseAtEnd closeAtEnd;
    QCOMPARE(func4(), 1);
    loopback->holdAnswers(true);
    std::vector<unsigned char> buffer(8192);
    auto reading = std::async(std::launch::async, [&] { return func1(3, buffer.data(), 8192); });
    QCOMPARE(reading.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    QElapsedTimer clock;
    clock.start();
    programmer.unplug();
    QCOMPARE(reading.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    QCOMPARE(reading.get(), -1);
    qInfo("blocked read returned %lld ms after the unplug", clock.elapsed());
    // Every further transfer fails at once, and the device can be closed.
    unsigned char byte = 0;
    QCOMPARE(func2(0, &byte, 1), -1);
    QVERIFY(func5() != 0);
    QVERIFY(programmer.waitForState(DeviceState::Gone, 5000));
    QCOMPARE(func4(), 0);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestKvusb)
#include "tst_kvusb.moc"
