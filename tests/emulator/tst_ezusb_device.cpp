#include "EmulatorTestSupport.h"
#include "TestHome.h"

#include "EzUsbDevice.h"
#include "FirmwareImage.h"
#include "LoopbackFirmware.h"

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <random>

using namespace kvemu;
using namespace EmulatorTest;

Q_DECLARE_METATYPE(kvemu::LinkSpeed)

namespace {

// A firmware side that records what the model hands it and answers as told.
class ScriptedFirmware : public FirmwareSide
{
public:
    void onStart(const ImageInfo &image, LinkSpeed speed) override
    {
        started = image;
        startSpeed = speed;
        ++starts;
    }
    void onStop() override { ++stops; }
    TransferResult bulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data) override
    {
        lastEndpoint = endpoint;
        received.insert(received.end(), data.begin(), data.end());
        return {outStatus, data.size()};
    }
    TransferResult bulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) override
    {
        lastEndpoint = endpoint;
        const std::size_t n = std::min(buffer.size(), answer.size());
        std::copy_n(answer.begin(), n, buffer.begin());
        return {inStatus, n};
    }
    TransferResult vendorRequest(const SetupPacket &setup, std::span<std::uint8_t> data) override
    {
        if (setup.request != 0xB0 || !setup.isIn() || data.empty())
            return FirmwareSide::vendorRequest(setup, data);
        data[0] = 0x5A;
        return TransferResult::done(1);
    }
    void wakeHost() { wake(); }

    std::optional<ImageInfo> started;
    LinkSpeed startSpeed = LinkSpeed::Full;
    int starts = 0;
    int stops = 0;
    std::uint8_t lastEndpoint = 0;
    Bytes received;
    Bytes answer;
    TransferStatus outStatus = TransferStatus::Ok;
    TransferStatus inStatus = TransferStatus::Ok;
};

SetupPacket standard(std::uint8_t type, std::uint8_t request, std::uint16_t value,
                     std::uint16_t index, std::uint16_t length)
{
    return {type, request, value, index, length};
}

bool hasEvent(const EzUsbDevice &device, EventKind kind)
{
    const auto events = device.events();
    return std::any_of(events.begin(), events.end(),
                       [kind](const DeviceEvent &e) { return e.kind == kind; });
}

QList<EventKind> eventKinds(const EzUsbDevice &device)
{
    QList<EventKind> kinds;
    for (const DeviceEvent &e : device.events())
        kinds << e.kind;
    return kinds;
}

std::uint16_t le16(const Bytes &bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

UsbConfig olderPart()
{
    return UsbConfig::forVendor(UsbConfig::OlderVendorId);
}

} // namespace

class TestEzUsbDevice : public QObject
{
    Q_OBJECT
private slots:
    void bareEnumerationPerVendor_data();
    void bareEnumerationPerVendor();
    void standardRequests();
    void controlBufferShorterThanLengthIsInvalid();

    void loadWritesLandInRamByteForByte();
    void zeroLengthLoadRequestIsAcceptedAndRecorded();
    void writesOutsideRamStallWithoutTouchingRam_data();
    void writesOutsideRamStallWithoutTouchingRam();
    void readsOutsideRamStall();
    void cpucsAddressPerVendor_data();
    void cpucsAddressPerVendor();
    void cpucsTakesExactlyOneByteAndReadsBack();

    void releaseWithValidImageReenumerates_data();
    void releaseWithValidImageReenumerates();
    void finishReenumerationSkipsTheDelay();
    void invalidImageKeepsDeviceBare_data();
    void invalidImageKeepsDeviceBare();
    void garbageInRamNeverReenumerates();
    void writesWhileCpuRunsAreRecorded();
    void forcedRedownloadFromFirmwareReenumeratesAgain();
    void firmwareRunningAtStart();
    void unknownRunningImageIsRefused();

    void downloadFaultStallsTheNthWrite();
    void unplugAndReplug();
    void unplugCancelsPendingReenumeration();
    void firmwareSurvivesReplugWhenConfigured();
    void byteBudgetUnplugs_data();
    void byteBudgetUnplugs();
    void byteBudgetFromConfig();

    void bulkNeedsRunningFirmware();
    void firmwareStallHaltsEndpointUntilCleared();
    void vendorRequestsReachFirmwareOnlyWhenRunning();
    void changeHandlerHearsEveryChange();
    void deviceAddressesWrapAround();
};

void TestEzUsbDevice::bareEnumerationPerVendor_data()
{
    QTest::addColumn<bool>("older");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::addColumn<int>("cpucs");
    QTest::addColumn<int>("ramSize");
    QTest::newRow("FX2 part") << false << 0x04B4 << 0x8613 << 0xE600 << 16384;
    QTest::newRow("older part") << true << 0x0547 << 0x2131 << 0x7F92 << 8192;
}

void TestEzUsbDevice::bareEnumerationPerVendor()
{
    QFETCH(bool, older);
    QFETCH(int, vendor);
    QFETCH(int, product);
    QFETCH(int, cpucs);
    QFETCH(int, ramSize);
    EzUsbDevice device(older ? olderPart() : UsbConfig{});

    QCOMPARE(device.state(), DeviceState::Bare);
    QCOMPARE(device.cpucsAddress(), cpucs);
    QCOMPARE(device.ramSize(), std::size_t(ramSize));
    QCOMPARE(device.deviceAddress(), 2);
    QCOMPARE(device.enumerationCount(), 1u);
    QVERIFY(device.cpuHeldInReset());
    QVERIFY(!device.runningImage());
    QCOMPARE(device.config().speed, older ? LinkSpeed::Full : LinkSpeed::High);

    const DescriptorSet set = device.descriptors();
    QCOMPARE(set.vendorId(), vendor);
    QCOMPARE(set.productId(), product);
    QCOMPARE(set.layout.interfaceCount, 1);
    const InterfaceSetting *alt0 = set.layout.setting(0, 0);
    QVERIFY(alt0);
    QVERIFY(alt0->endpoints.empty());
    QVERIFY(device.endpoints().empty());

    // The same through GET_DESCRIPTOR on endpoint 0.
    Bytes answer(64, 0xEE);
    auto r = device.control(standard(0x80, 0x06, 0x0100, 0, 64), answer);
    QVERIFY(r.ok());
    QCOMPARE(r.length, 18u);
    QCOMPARE(toBytes(Bytes(answer.begin(), answer.begin() + 18)), toBytes(set.device));
    QCOMPARE(answer[18], 0xEE); // nothing beyond the descriptor

    Bytes header(9);
    r = device.control(standard(0x80, 0x06, 0x0200, 0, 9), header);
    QVERIFY(r.ok());
    QCOMPARE(r.length, 9u);
    QCOMPARE(le16(header, 2), set.configuration.size());
    QCOMPARE(header[4], 1); // bNumInterfaces
}

void TestEzUsbDevice::standardRequests()
{
    EzUsbDevice device;
    Bytes two(2, 0xFF);
    QCOMPARE(device.control(standard(0x80, 0x00, 0, 0, 2), two).length, 2u);
    QCOMPARE(toBytes(two), QByteArray(2, '\0'));

    Bytes one(1);
    QVERIFY(device.control(standard(0x80, 0x08, 0, 0, 1), one).ok());
    QCOMPARE(one[0], 1);
    QVERIFY(device.control(standard(0x00, 0x09, 0, 0, 0), {}).ok()); // unconfigure
    QCOMPARE(device.configurationValue(), 0);
    QCOMPARE(device.control(standard(0x00, 0x09, 2, 0, 0), {}).status, TransferStatus::Stall);
    QVERIFY(device.control(standard(0x00, 0x09, 1, 0, 0), {}).ok());
    QCOMPARE(device.configurationValue(), 1);

    QVERIFY(device.control(standard(0x01, 0x0B, 0, 0, 0), {}).ok()); // alt 0 exists
    QCOMPARE(device.control(standard(0x01, 0x0B, 1, 0, 0), {}).status, TransferStatus::Stall);
    QCOMPARE(device.control(standard(0x01, 0x0B, 0, 3, 0), {}).status, TransferStatus::Stall);
    QVERIFY(device.control(standard(0x81, 0x0A, 0, 0, 1), one).ok());
    QCOMPARE(one[0], 0);

    Bytes language(8);
    QCOMPARE(device.control(standard(0x80, 0x06, 0x0300, 0, 8), language).length, 4u);
    QCOMPARE(language[2] | (language[3] << 8), 0x0409);
    QCOMPARE(device.control(standard(0x80, 0x06, 0x0301, 0, 8), language).status,
             TransferStatus::Stall);
    QCOMPARE(device.control(standard(0x80, 0x06, 0x0201, 0, 8), language).status,
             TransferStatus::Stall); // one configuration only

    // Wrong direction, unknown requests, class requests: stalls, never a crash.
    QCOMPARE(device.control(standard(0x00, 0x06, 0x0100, 0, 0), {}).status, TransferStatus::Stall);
    QCOMPARE(device.control(standard(0x80, 0x77, 0, 0, 0), {}).status, TransferStatus::Stall);
    QCOMPARE(device.control(standard(0x21, 0x09, 0, 0, 0), {}).status, TransferStatus::Stall);
    QCOMPARE(device.control(standard(0x40, 0xB5, 0, 0, 0), {}).status, TransferStatus::Stall);
    QCOMPARE(device.control(standard(0x80, 0x00, 0, 0, 1), one).status, TransferStatus::Stall);

    const auto log = device.controlLog();
    QCOMPARE(log.size(), 17u);
    QCOMPARE(log.front().setup, standard(0x80, 0x00, 0, 0, 2));
    QCOMPARE(log.back().status, TransferStatus::Stall);
    device.clearControlLog();
    QVERIFY(device.controlLog().empty());
}

void TestEzUsbDevice::controlBufferShorterThanLengthIsInvalid()
{
    EzUsbDevice device;
    Bytes data = {1, 2, 3};
    const auto r = device.control(loadRequest(false, 0x0100, 8), data);
    QCOMPARE(r.status, TransferStatus::Invalid);
    QCOMPARE(toBytes(device.ram(0x0100, 3)), QByteArray(3, '\0'));
    QVERIFY(device.controlLog().empty());
}

void TestEzUsbDevice::loadWritesLandInRamByteForByte()
{
    EzUsbDevice device;
    std::mt19937 random(7);
    struct Write
    {
        std::uint16_t address;
        Bytes bytes;
    };
    std::vector<Write> writes = {{0x0000, {}}, {0x0123, {}}, {0x3FF0, {}}, {0x1000, {}}};
    std::size_t lengths[] = {16, 1, 16, 1023};
    for (std::size_t i = 0; i < writes.size(); ++i)
        for (std::size_t b = 0; b < lengths[i]; ++b)
            writes[i].bytes.push_back(static_cast<std::uint8_t>(random()));

    for (const Write &w : writes) {
        const auto r = loadWrite(device, w.address, w.bytes);
        QVERIFY(r.ok());
        QCOMPARE(r.length, w.bytes.size());
    }
    for (const Write &w : writes) {
        QCOMPARE(toBytes(device.ram(w.address, w.bytes.size())), toBytes(w.bytes));
        Bytes back(w.bytes.size());
        QVERIFY(loadRead(device, w.address, back).ok());
        QCOMPARE(toBytes(back), toBytes(w.bytes));
    }
    QCOMPARE(device.ram(0x3FFF, 10).size(), 1u); // cut at the end of RAM
    QVERIFY(device.ram(0x4000, 1).empty());

    const auto log = device.controlLog();
    QCOMPARE(log.size(), 2 * writes.size());
    for (std::size_t i = 0; i < writes.size(); ++i) {
        QCOMPARE(log[i].setup, loadRequest(false, writes[i].address, writes[i].bytes.size()));
        QCOMPARE(toBytes(log[i].data), toBytes(writes[i].bytes));
        QCOMPARE(log[i].status, TransferStatus::Ok);
        QCOMPARE(toBytes(log[writes.size() + i].data), toBytes(writes[i].bytes)); // IN answer
    }
    QVERIFY(!hasEvent(device, EventKind::WriteWhileRunning));
}

void TestEzUsbDevice::zeroLengthLoadRequestIsAcceptedAndRecorded()
{
    EzUsbDevice device;
    const Bytes before = device.ram(0, device.ramSize());
    for (std::uint16_t address : {0x0040, 0x3FFF, 0x4000, 0xE600, 0xFFFF}) {
        const auto r = loadWrite(device, address, {});
        QVERIFY(r.ok());
        QCOMPARE(r.length, 0u);
    }
    QCOMPARE(toBytes(device.ram(0, device.ramSize())), toBytes(before));
    QVERIFY(device.cpuHeldInReset());
    const auto log = device.controlLog();
    QCOMPARE(log.size(), 5u);
    QCOMPARE(log[1].setup, loadRequest(false, 0x3FFF, 0));
    QVERIFY(log[1].data.empty());
    QCOMPARE(log[1].status, TransferStatus::Ok);
}

void TestEzUsbDevice::writesOutsideRamStallWithoutTouchingRam_data()
{
    QTest::addColumn<bool>("older");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("length");
    QTest::newRow("FX2: runs past the end") << false << 0x3FFF << 2;
    QTest::newRow("FX2: starts at the end") << false << 0x4000 << 1;
    QTest::newRow("FX2: older part's CPUCS") << false << 0x7F92 << 1;
    QTest::newRow("FX2: top of the address space") << false << 0xFFFF << 1;
    QTest::newRow("FX2: long block across the end") << false << 0x3C00 << 4096;
    QTest::newRow("older: runs past the end") << true << 0x1FF0 << 17;
    QTest::newRow("older: FX2's CPUCS") << true << 0xE600 << 1;
    QTest::newRow("older: starts at the end") << true << 0x2000 << 16;
}

void TestEzUsbDevice::writesOutsideRamStallWithoutTouchingRam()
{
    QFETCH(bool, older);
    QFETCH(int, address);
    QFETCH(int, length);
    EzUsbDevice device(older ? olderPart() : UsbConfig{});
    // A valid image in RAM: a wrongly taken CPUCS write would start it.
    QVERIFY(download(device, image()));
    const Bytes before = device.ram(0, device.ramSize());

    const auto r = loadWrite(device, static_cast<std::uint16_t>(address),
                             Bytes(static_cast<std::size_t>(length), 0x00));
    QCOMPARE(r.status, TransferStatus::Stall);
    QCOMPARE(toBytes(device.ram(0, device.ramSize())), toBytes(before));
    QCOMPARE(device.state(), DeviceState::Bare);
    QVERIFY(device.cpuHeldInReset());
    QVERIFY(!device.nextEventTime());
    QCOMPARE(device.controlLog().back().status, TransferStatus::Stall);
}

void TestEzUsbDevice::readsOutsideRamStall()
{
    EzUsbDevice device;
    Bytes two(2);
    QCOMPARE(loadRead(device, 0x3FFF, two).status, TransferStatus::Stall);
    Bytes one(1);
    QVERIFY(loadRead(device, 0x3FFF, one).ok());
    QCOMPARE(loadRead(device, 0x8000, one).status, TransferStatus::Stall);
    QVERIFY(device.controlLog().back().data.empty());
}

void TestEzUsbDevice::cpucsAddressPerVendor_data()
{
    QTest::addColumn<bool>("older");
    QTest::addColumn<int>("ownCpucs");
    QTest::addColumn<int>("otherCpucs");
    QTest::newRow("FX2 part") << false << 0xE600 << 0x7F92;
    QTest::newRow("older part") << true << 0x7F92 << 0xE600;
}

void TestEzUsbDevice::cpucsAddressPerVendor()
{
    QFETCH(bool, older);
    QFETCH(int, ownCpucs);
    QFETCH(int, otherCpucs);
    EzUsbDevice device(older ? olderPart() : UsbConfig{});
    QVERIFY(download(device, image()));

    QCOMPARE(loadWrite(device, static_cast<std::uint16_t>(otherCpucs), {0}).status,
             TransferStatus::Stall);
    QCOMPARE(device.state(), DeviceState::Bare);
    QVERIFY(device.cpuHeldInReset());

    QVERIFY(loadWrite(device, static_cast<std::uint16_t>(ownCpucs), {0}).ok());
    QVERIFY(!device.cpuHeldInReset());
    QCOMPARE(device.state(), DeviceState::Gone);
}

void TestEzUsbDevice::cpucsTakesExactlyOneByteAndReadsBack()
{
    EzUsbDevice device;
    QCOMPARE(loadWrite(device, 0xE600, {0, 0}).status, TransferStatus::Stall);
    QVERIFY(device.cpuHeldInReset());
    Bytes cpucs(1);
    QVERIFY(loadRead(device, 0xE600, cpucs).ok());
    QCOMPARE(cpucs[0], 1);
    QVERIFY(loadWrite(device, 0xE600, {0x01}).ok());
    QVERIFY(!hasEvent(device, EventKind::CpuHeld)); // held already since power-up
    // Releasing an empty RAM: the CPU runs, nothing disconnects.
    QVERIFY(loadWrite(device, 0xE600, {0xFE}).ok());
    QVERIFY(loadRead(device, 0xE600, cpucs).ok());
    QCOMPARE(cpucs[0], 0);
    Bytes two(2);
    QCOMPARE(loadRead(device, 0xE600, two).status, TransferStatus::Stall);
}

void TestEzUsbDevice::releaseWithValidImageReenumerates_data()
{
    QTest::addColumn<LinkSpeed>("speed");
    QTest::addColumn<int>("packet");
    QTest::newRow("high speed") << LinkSpeed::High << 512;
    QTest::newRow("full speed") << LinkSpeed::Full << 64;
}

void TestEzUsbDevice::releaseWithValidImageReenumerates()
{
    QFETCH(LinkSpeed, speed);
    QFETCH(int, packet);
    UsbConfig config;
    config.speed = speed;
    config.reenumerationDelayMs = 80;
    auto firmware = std::make_shared<ScriptedFirmware>();
    EzUsbDevice device(config, firmware);
    ManualClock clock;
    clock.attach(device);

    QVERIFY(download(device, image('S', 3, "SPI image 3")));
    device.clearEvents();
    QVERIFY(release(device).ok());
    QCOMPARE(device.state(), DeviceState::Gone);
    QCOMPARE(device.nextEventTime(), clock.now + std::chrono::milliseconds(80));
    Bytes one(1);
    QCOMPARE(loadRead(device, 0, one).status, TransferStatus::NoDevice);
    QCOMPARE(device.bulkOut(0x02, Bytes(4)).status, TransferStatus::NoDevice);
    QCOMPARE(firmware->starts, 0);

    QVERIFY(!device.poll(clock.now + std::chrono::milliseconds(79)));
    QCOMPARE(device.state(), DeviceState::Gone);
    QVERIFY(device.poll(clock.now + std::chrono::milliseconds(80)));
    QCOMPARE(device.state(), DeviceState::Firmware);
    QVERIFY(!device.nextEventTime());
    QCOMPARE(device.deviceAddress(), 3);
    QCOMPARE(device.enumerationCount(), 2u);

    const DescriptorSet set = device.descriptors();
    QCOMPARE(set.vendorId(), 0x04B4); // the part's own, not the image's
    QCOMPARE(set.productId(), ImageProduct);
    QCOMPARE(toBytes(set.configuration), toBytes(configurationBlock(std::uint16_t(packet))));
    const auto eps = device.endpoints();
    QCOMPARE(eps.size(), 4u);
    const std::uint8_t order[] = {0x02, 0x04, 0x86, 0x88};
    for (std::size_t i = 0; i < 4; ++i) {
        QCOMPARE(eps[i].address, order[i]);
        QVERIFY(eps[i].isBulk());
        QCOMPARE(eps[i].maxPacketSize, packet);
    }

    const auto running = device.runningImage();
    QVERIFY(running);
    QCOMPARE(running->family, ImageFamily::Spi);
    QCOMPARE(running->number, 3);
    QCOMPARE(QString::fromStdString(running->name), QStringLiteral("SPI image 3"));
    QCOMPARE(firmware->starts, 1);
    QVERIFY(firmware->started && *firmware->started == *running);
    QCOMPARE(firmware->startSpeed, speed);
    QCOMPARE(eventKinds(device), (QList<EventKind>{EventKind::CpuReleased, EventKind::Disconnected,
                                                   EventKind::Enumerated}));
}

void TestEzUsbDevice::finishReenumerationSkipsTheDelay()
{
    UsbConfig config;
    config.reenumerationDelayMs = 60000;
    EzUsbDevice device(config);
    QVERIFY(!device.finishReenumeration());
    QVERIFY(download(device, image()));
    QVERIFY(release(device).ok());
    QVERIFY(!device.poll()); // a minute to go
    QVERIFY(device.finishReenumeration());
    QCOMPARE(device.state(), DeviceState::Firmware);
    QVERIFY(!device.finishReenumeration());
}

void TestEzUsbDevice::invalidImageKeepsDeviceBare_data()
{
    QTest::addColumn<QByteArray>("patch"); // address (2 bytes, big-endian) + bytes
    auto row = [](const char *name, std::uint16_t at, QByteArray bytes) {
        bytes.prepend(static_cast<char>(at & 0xFF));
        bytes.prepend(static_cast<char>(at >> 8));
        QTest::newRow(name) << bytes;
    };
    row("no signature", 0x0080, QByteArray(8, '\0'));
    row("device descriptor beyond RAM", 0x008A, QByteArray("\xF0\x3F", 2));
    row("configuration truncated", 0x0122, QByteArray("\x2C\x00", 2));
    row("configuration runs past RAM", 0x008C, QByteArray("\xFC\x3F", 2));
}

void TestEzUsbDevice::invalidImageKeepsDeviceBare()
{
    QFETCH(QByteArray, patch);
    EzUsbDevice device;
    Bytes ram = image();
    const std::size_t at =
        (static_cast<unsigned char>(patch[0]) << 8) | static_cast<unsigned char>(patch[1]);
    for (qsizetype i = 2; i < patch.size(); ++i)
        ram[at + static_cast<std::size_t>(i - 2)] = static_cast<std::uint8_t>(patch[i]);
    QVERIFY(download(device, ram));
    device.clearEvents();

    QVERIFY(release(device).ok());
    QCOMPARE(device.state(), DeviceState::Bare);
    QVERIFY(!device.nextEventTime());
    QVERIFY(!device.poll(EzUsbDevice::Clock::now() + std::chrono::hours(1)));
    QCOMPARE(device.enumerationCount(), 1u);
    QVERIFY(!device.cpuHeldInReset());
    QVERIFY(!device.runningImage());
    const auto events = device.events();
    QCOMPARE(events.size(), 2u);
    QCOMPARE(events[1].kind, EventKind::BadFirmware);
    QVERIFY(!events[1].detail.empty());
    // Still answers as the bare part.
    Bytes cpucs(1);
    QVERIFY(loadRead(device, 0xE600, cpucs).ok());
}

void TestEzUsbDevice::garbageInRamNeverReenumerates()
{
    std::mt19937 random(2024);
    for (int round = 0; round < 200; ++round) {
        EzUsbDevice device;
        Bytes ram(device.ramSize());
        for (auto &b : ram)
            b = static_cast<std::uint8_t>(random());
        if (round % 2) { // half the rounds with a signature, the rest garbage
            const char magic[] = "KVFWSIG1";
            std::copy(magic, magic + 8, ram.begin() + 0x80);
            ram[0x88] = round % 4 == 1 ? 'N' : 'S';
        }
        for (std::size_t at = 0; at < ram.size(); at += 1024)
            QVERIFY(loadWrite(device, static_cast<std::uint16_t>(at),
                              Bytes(ram.begin() + static_cast<std::ptrdiff_t>(at),
                                    ram.begin() + static_cast<std::ptrdiff_t>(at + 1024)))
                        .ok());
        QVERIFY(release(device).ok());
        QCOMPARE(device.state(), DeviceState::Bare);
        QVERIFY(hasEvent(device, EventKind::BadFirmware));
    }
}

void TestEzUsbDevice::writesWhileCpuRunsAreRecorded()
{
    EzUsbDevice device;
    QVERIFY(release(device).ok()); // empty RAM: runs garbage
    QVERIFY(loadWrite(device, 0x0200, {1, 2, 3}).ok());
    QCOMPARE(toBytes(device.ram(0x0200, 3)), QByteArray("\x01\x02\x03", 3));
    QVERIFY(hasEvent(device, EventKind::WriteWhileRunning));
    QCOMPARE(device.controlLog().back().setup, loadRequest(false, 0x0200, 3));
}

void TestEzUsbDevice::forcedRedownloadFromFirmwareReenumeratesAgain()
{
    UsbConfig config;
    config.runningImage = "SPI image 2";
    auto firmware = std::make_shared<LoopbackFirmware>();
    EzUsbDevice device(config, firmware);
    QCOMPARE(device.state(), DeviceState::Firmware);
    QCOMPARE(device.enumerationCount(), 1u);
    QVERIFY(firmware->running());

    QVERIFY(loadWrite(device, 0xE600, {1}).ok());
    QVERIFY(device.cpuHeldInReset());
    QVERIFY(!firmware->running());
    QCOMPARE(firmware->stops(), 1u);
    QCOMPARE(device.state(), DeviceState::Firmware); // still enumerated, but nothing answers
    QCOMPARE(device.bulkIn(0x86, room(8)).status, TransferStatus::Nak);

    QVERIFY(download(device, image('N', 2, "NAND image 2")));
    QVERIFY(release(device).ok());
    QCOMPARE(device.state(), DeviceState::Gone);
    QVERIFY(device.finishReenumeration());
    QCOMPARE(device.state(), DeviceState::Firmware);
    QCOMPARE(device.enumerationCount(), 2u);
    QCOMPARE(device.deviceAddress(), 3);
    QCOMPARE(QString::fromStdString(device.runningImage()->name), QStringLiteral("NAND image 2"));
    QCOMPARE(firmware->starts(), 2u);
    QCOMPARE(device.descriptors().productId(), ImageProduct);
}

void TestEzUsbDevice::firmwareRunningAtStart()
{
    UsbConfig config = olderPart();
    config.runningImage = "NAND image 1";
    auto firmware = std::make_shared<LoopbackFirmware>();
    EzUsbDevice device(config, firmware);
    QCOMPARE(device.state(), DeviceState::Firmware);
    QVERIFY(!device.cpuHeldInReset());
    QCOMPARE(device.descriptors().vendorId(), 0x0547);
    QCOMPARE(device.descriptors().productId(), 0x4E01);
    QCOMPARE(device.endpoints().size(), 4u);
    QCOMPARE(device.endpoints()[0].maxPacketSize, 64);
    QCOMPARE(firmware->image()->number, 1);
    QCOMPARE(firmware->speed(), LinkSpeed::Full);
    // RAM holds the image, as after an earlier download.
    QCOMPARE(toBytes(device.ram(0x80, 8)), QByteArray("KVFWSIG1"));
}

void TestEzUsbDevice::unknownRunningImageIsRefused()
{
    for (const char *name : {"NAND image 3", "SPI image 5", "spi image 1", "SPI image", "X"}) {
        UsbConfig config;
        config.runningImage = name;
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, EzUsbDevice{config});
    }
}

void TestEzUsbDevice::downloadFaultStallsTheNthWrite()
{
    UsbConfig config;
    config.failDownloadRequest = 3;
    EzUsbDevice device(config);
    QVERIFY(loadWrite(device, 0xE600, {1}).ok()); // 1
    QVERIFY(loadWrite(device, 0x0010, {}).ok());  // 2: zero-length ones count too
    QCOMPARE(loadWrite(device, 0x0020, {0xAA}).status, TransferStatus::Stall); // 3
    QCOMPARE(device.ram(0x0020, 1)[0], 0);
    QVERIFY(loadWrite(device, 0x0020, {0xAA}).ok()); // 4: the fault fires once
    QCOMPARE(device.ram(0x0020, 1)[0], 0xAA);
    Bytes back(1);
    QVERIFY(loadRead(device, 0x0020, back).ok()); // reads do not count
    const auto events = device.events();
    QCOMPARE(std::count_if(events.begin(), events.end(),
                           [](const DeviceEvent &e) { return e.kind == EventKind::DownloadFault; }),
             1);
    QCOMPARE(device.controlLog()[2].status, TransferStatus::Stall);
}

void TestEzUsbDevice::unplugAndReplug()
{
    auto firmware = std::make_shared<LoopbackFirmware>();
    UsbConfig config;
    config.runningImage = "NAND image 2";
    EzUsbDevice device(config, firmware);
    QVERIFY(!device.replug());
    device.unplug();
    device.unplug(); // twice is harmless
    QCOMPARE(device.state(), DeviceState::Gone);
    QVERIFY(device.unplugged());
    QVERIFY(!firmware->running());
    Bytes buffer(4);
    QCOMPARE(device.control(standard(0x80, 0x06, 0x0100, 0, 4), buffer).status,
             TransferStatus::NoDevice);
    QCOMPARE(device.bulkOut(0x02, buffer).status, TransferStatus::NoDevice);
    QCOMPARE(device.bulkIn(0x88, buffer).status, TransferStatus::NoDevice);
    QVERIFY(!device.setConfiguration(1));
    QVERIFY(!device.clearHalt(0x02));

    QVERIFY(device.replug());
    QCOMPARE(device.state(), DeviceState::Bare);
    QCOMPARE(device.deviceAddress(), 3);
    QCOMPARE(device.enumerationCount(), 2u);
    QVERIFY(device.cpuHeldInReset());
    QCOMPARE(device.descriptors().productId(), 0x8613);
    QCOMPARE(toBytes(device.ram(0, device.ramSize())),
             QByteArray(static_cast<qsizetype>(device.ramSize()), '\0'));
    QVERIFY(!firmware->running());
    QVERIFY(!device.replug());
    QCOMPARE(eventKinds(device).mid(1),
             (QList<EventKind>{EventKind::Unplugged, EventKind::Replugged, EventKind::Enumerated}));
}

void TestEzUsbDevice::unplugCancelsPendingReenumeration()
{
    EzUsbDevice device;
    ManualClock clock;
    clock.attach(device);
    QVERIFY(download(device, image()));
    QVERIFY(release(device).ok());
    QVERIFY(device.nextEventTime());
    device.unplug();
    QVERIFY(!device.nextEventTime());
    QVERIFY(!device.poll(clock.now + std::chrono::seconds(10)));
    QVERIFY(!device.finishReenumeration());
    QCOMPARE(device.state(), DeviceState::Gone);
    QVERIFY(device.replug());
    QCOMPARE(device.state(), DeviceState::Bare);
    QVERIFY(!device.nextEventTime());
}

void TestEzUsbDevice::firmwareSurvivesReplugWhenConfigured()
{
    UsbConfig config;
    config.firmwareSurvivesReplug = true;
    auto firmware = std::make_shared<LoopbackFirmware>();
    EzUsbDevice device(config, firmware);
    QVERIFY(download(device, image('S', 4, "SPI image 4")));
    QVERIFY(release(device).ok());
    QVERIFY(device.finishReenumeration());
    device.unplug();
    QVERIFY(device.replug());
    QCOMPARE(device.state(), DeviceState::Firmware);
    QCOMPARE(device.runningImage()->number, 4);
    QCOMPARE(device.deviceAddress(), 4);
    QCOMPARE(firmware->starts(), 2u);

    // Unplugged while bare, it comes back bare.
    EzUsbDevice bare(config);
    bare.unplug();
    QVERIFY(bare.replug());
    QCOMPARE(bare.state(), DeviceState::Bare);
}

void TestEzUsbDevice::byteBudgetUnplugs_data()
{
    QTest::addColumn<bool>("in");
    QTest::addColumn<int>("budget");
    QTest::addColumn<int>("transfer");
    QTest::addColumn<int>("moved");
    QTest::addColumn<int>("status");
    QTest::newRow("OUT crosses the budget")
        << false << 100 << 150 << 100 << int(TransferStatus::NoDevice);
    QTest::newRow("IN crosses the budget")
        << true << 100 << 150 << 100 << int(TransferStatus::NoDevice);
    QTest::newRow("OUT ends on the budget")
        << false << 150 << 150 << 150 << int(TransferStatus::Ok);
    QTest::newRow("IN ends on the budget") << true << 150 << 150 << 150 << int(TransferStatus::Ok);
}

void TestEzUsbDevice::byteBudgetUnplugs()
{
    QFETCH(bool, in);
    QFETCH(int, budget);
    QFETCH(int, transfer);
    QFETCH(int, moved);
    QFETCH(int, status);
    UsbConfig config;
    config.runningImage = "NAND image 1";
    auto firmware = std::make_shared<ScriptedFirmware>();
    firmware->answer = Bytes(1000, 0x42);
    EzUsbDevice device(config, firmware);
    device.setByteBudget(std::uint64_t(budget));

    Bytes buffer(static_cast<std::size_t>(transfer), 0x17);
    const auto r = in ? device.bulkIn(0x88, buffer) : device.bulkOut(0x02, buffer);
    QCOMPARE(int(r.status), status);
    QCOMPARE(r.length, std::size_t(moved));
    if (!in)
        QCOMPARE(firmware->received.size(), std::size_t(moved)); // the rest never arrived
    QCOMPARE(device.state(), DeviceState::Gone);
    QVERIFY(device.unplugged());
    QVERIFY(hasEvent(device, EventKind::ByteBudgetSpent));
    const auto traffic = device.traffic();
    QCOMPARE(in ? traffic.bytesIn : traffic.bytesOut, std::uint64_t(moved));

    // The budget is spent: after a replug there is no limit.
    QVERIFY(device.replug());
    QVERIFY(download(device, image()));
    QVERIFY(release(device).ok());
    QVERIFY(device.finishReenumeration());
    QVERIFY(device.bulkOut(0x02, Bytes(1000)).ok());
    QCOMPARE(device.state(), DeviceState::Firmware);
}

void TestEzUsbDevice::byteBudgetFromConfig()
{
    UsbConfig config;
    config.runningImage = "NAND image 1";
    config.unplugAfterBytes = 10;
    EzUsbDevice device(config);
    QVERIFY(device.bulkOut(0x02, Bytes(4)).ok());
    QVERIFY(device.bulkIn(0x86, room(4)).ok());
    QCOMPARE(device.state(), DeviceState::Firmware);
    QCOMPARE(device.bulkOut(0x02, Bytes(4)).status, TransferStatus::NoDevice);
    QCOMPARE(device.state(), DeviceState::Gone);

    EzUsbDevice now;
    now.setByteBudget(0); // nothing left: unplugs at once
    QCOMPARE(now.state(), DeviceState::Gone);
}

void TestEzUsbDevice::bulkNeedsRunningFirmware()
{
    EzUsbDevice device;
    Bytes buffer(16);
    QCOMPARE(device.bulkOut(0x02, buffer).status, TransferStatus::Invalid); // bare: no endpoints
    QCOMPARE(device.bulkIn(0x88, buffer).status, TransferStatus::Invalid);

    UsbConfig config;
    config.runningImage = "NAND image 1";
    EzUsbDevice running(config);
    QCOMPARE(running.bulkIn(0x02, buffer).status, TransferStatus::Invalid);  // wrong direction
    QCOMPARE(running.bulkOut(0x86, buffer).status, TransferStatus::Invalid); // wrong direction
    QCOMPARE(running.bulkOut(0x03, buffer).status, TransferStatus::Invalid); // no such endpoint
    QVERIFY(running.setConfiguration(0));
    QCOMPARE(running.bulkOut(0x02, buffer).status, TransferStatus::Invalid); // unconfigured
    QVERIFY(running.endpoints().empty());
    QVERIFY(running.setConfiguration(1));
    QVERIFY(running.bulkOut(0x02, buffer).ok());
}

void TestEzUsbDevice::firmwareStallHaltsEndpointUntilCleared()
{
    UsbConfig config;
    config.runningImage = "SPI image 0";
    auto firmware = std::make_shared<ScriptedFirmware>();
    EzUsbDevice device(config, firmware);
    firmware->outStatus = TransferStatus::Stall;
    QCOMPARE(device.bulkOut(0x02, Bytes(4)).status, TransferStatus::Stall);
    firmware->outStatus = TransferStatus::Ok;
    QCOMPARE(device.bulkOut(0x02, Bytes(4)).status, TransferStatus::Stall); // halted
    Bytes status(2);
    QVERIFY(device.control(standard(0x82, 0x00, 0, 0x02, 2), status).ok());
    QCOMPARE(status[0], 1);
    QVERIFY(device.bulkOut(0x04, Bytes(4)).ok()); // other endpoints unaffected
    QVERIFY(device.clearHalt(0x02));
    QVERIFY(device.bulkOut(0x02, Bytes(4)).ok());

    // SET_FEATURE / CLEAR_FEATURE(ENDPOINT_HALT) from the host do the same.
    QVERIFY(device.control(standard(0x02, 0x03, 0, 0x88, 0), {}).ok());
    QCOMPARE(device.bulkIn(0x88, room(4)).status, TransferStatus::Stall);
    QVERIFY(device.control(standard(0x02, 0x01, 0, 0x88, 0), {}).ok());
    QVERIFY(device.bulkIn(0x88, room(4)).ok());
    QCOMPARE(device.control(standard(0x02, 0x01, 0, 0x83, 0), {}).status, TransferStatus::Stall);
    QVERIFY(!device.clearHalt(0x83));
}

void TestEzUsbDevice::vendorRequestsReachFirmwareOnlyWhenRunning()
{
    auto firmware = std::make_shared<ScriptedFirmware>();
    EzUsbDevice device({}, firmware);
    Bytes one(1);
    const SetupPacket query{0xC0, 0xB0, 0, 0, 1};
    QCOMPARE(device.control(query, one).status, TransferStatus::Stall);
    QVERIFY(download(device, image()));
    QVERIFY(release(device).ok());
    QVERIFY(device.finishReenumeration());
    const auto r = device.control(query, one);
    QVERIFY(r.ok());
    QCOMPARE(one[0], 0x5A);
    QCOMPARE(toBytes(device.controlLog().back().data), QByteArray("\x5A"));
}

void TestEzUsbDevice::changeHandlerHearsEveryChange()
{
    auto firmware = std::make_shared<ScriptedFirmware>();
    EzUsbDevice device({}, firmware);
    std::atomic<int> changes{0};
    device.setChangeHandler([&] { ++changes; });

    QVERIFY(download(device, image()));
    QCOMPARE(changes.load(), 0); // RAM writes change nothing the host sees
    QVERIFY(release(device).ok());
    QCOMPARE(changes.load(), 1);
    QVERIFY(device.finishReenumeration());
    QCOMPARE(changes.load(), 2);
    firmware->wakeHost();
    QCOMPARE(changes.load(), 3);
    device.unplug();
    QCOMPARE(changes.load(), 4);
    QVERIFY(device.replug());
    QCOMPARE(changes.load(), 5);
    device.setChangeHandler({});
    device.unplug();
    QCOMPARE(changes.load(), 5);
}

void TestEzUsbDevice::deviceAddressesWrapAround()
{
    UsbConfig config;
    config.firstDeviceAddress = 126;
    EzUsbDevice device(config);
    QCOMPARE(device.deviceAddress(), 126);
    for (int expected : {127, 2, 3}) {
        device.unplug();
        QVERIFY(device.replug());
        QCOMPARE(device.deviceAddress(), expected);
    }
    config.firstDeviceAddress = 0; // out of range: the lowest address a device gets
    QCOMPARE(EzUsbDevice(config).deviceAddress(), 2);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestEzUsbDevice)

#include "tst_ezusb_device.moc"
