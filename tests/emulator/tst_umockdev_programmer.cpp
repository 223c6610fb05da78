#include "EmulatorTestSupport.h"
#include "TestHome.h"

#include "FirmwareImage.h"
#include "LoopbackFirmware.h"
#include "UmockdevProgrammer.h"

#include <libusb.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <thread>

using namespace kvemu;
using namespace EmulatorTest;

Q_DECLARE_METATYPE(kvemu::LinkSpeed)

namespace {

constexpr int Timeout = 2000;

struct DeviceRef
{
    libusb_device *device = nullptr;
    DeviceRef() = default;
    explicit DeviceRef(libusb_device *d) : device(d) {}
    DeviceRef(const DeviceRef &) = delete;
    DeviceRef &operator=(const DeviceRef &) = delete;
    ~DeviceRef()
    {
        if (device)
            libusb_unref_device(device);
    }
    explicit operator bool() const { return device != nullptr; }
};

// The real libusb-1.0 against one emulated programmer. The context is
// made after the programmer and ends before it, as libusb's hotplug
// monitor binds to the testbed that exists at libusb_init().
class Bus
{
public:
    explicit Bus(UsbConfig config = {}, std::shared_ptr<FirmwareSide> firmware = {})
        : programmer(config, std::move(firmware))
    {
        if (libusb_init(&context) != 0)
            context = nullptr;
        else
            libusb_hotplug_register_callback(
                context, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                LIBUSB_HOTPLUG_NO_FLAGS, config.vendorId, LIBUSB_HOTPLUG_MATCH_ANY,
                LIBUSB_HOTPLUG_MATCH_ANY, &Bus::hotplug, this, &m_hotplug);
    }
    ~Bus()
    {
        for (libusb_device_handle *h : m_handles)
            libusb_close(h);
        if (context)
            libusb_exit(context);
    }
    Bus(const Bus &) = delete;
    Bus &operator=(const Bus &) = delete;

    // The device with these IDs in libusb's list (product 0: any).
    libusb_device *find(std::uint16_t vendor, std::uint16_t product = 0, int *count = nullptr)
    {
        libusb_device **list = nullptr;
        const ssize_t n = libusb_get_device_list(context, &list);
        libusb_device *found = nullptr;
        int matches = 0;
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor d{};
            libusb_get_device_descriptor(list[i], &d);
            if (d.idVendor != vendor || (product && d.idProduct != product))
                continue;
            ++matches;
            if (!found)
                found = libusb_ref_device(list[i]);
        }
        if (n >= 0)
            libusb_free_device_list(list, 1);
        if (count)
            *count = matches;
        return found;
    }

    void handleEvents(int ms)
    {
        timeval tv{0, ms * 1000};
        libusb_handle_events_timeout_completed(context, &tv, nullptr);
    }

    // Waits until libusb lists the device (its hotplug thread learns of it
    // from the uevent a moment after the testbed changed).
    libusb_device *waitFor(std::uint16_t vendor, std::uint16_t product, int timeoutMs = Timeout)
    {
        QElapsedTimer timer;
        timer.start();
        do {
            if (libusb_device *d = find(vendor, product))
                return d;
            handleEvents(5);
        } while (timer.elapsed() < timeoutMs);
        return nullptr;
    }

    bool waitUntilGone(std::uint16_t vendor, std::uint16_t product, int timeoutMs = Timeout)
    {
        QElapsedTimer timer;
        timer.start();
        do {
            DeviceRef d(find(vendor, product));
            if (!d)
                return true;
            handleEvents(5);
        } while (timer.elapsed() < timeoutMs);
        return false;
    }

    libusb_device_handle *open(libusb_device *device)
    {
        libusb_device_handle *h = nullptr;
        if (!device || libusb_open(device, &h) != 0)
            return nullptr;
        m_handles.push_back(h);
        return h;
    }

    libusb_device_handle *openWhenPresent(std::uint16_t vendor, std::uint16_t product)
    {
        DeviceRef d(waitFor(vendor, product));
        return open(d.device);
    }

    void close(libusb_device_handle *h)
    {
        m_handles.erase(std::remove(m_handles.begin(), m_handles.end(), h), m_handles.end());
        libusb_close(h);
    }

    UmockdevProgrammer programmer;
    libusb_context *context = nullptr;
    int arrived = 0;
    int left = 0;

private:
    static int LIBUSB_CALL hotplug(libusb_context *, libusb_device *, libusb_hotplug_event event,
                                   void *self)
    {
        Bus *bus = static_cast<Bus *>(self);
        (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? bus->arrived : bus->left)++;
        return 0;
    }

    libusb_hotplug_callback_handle m_hotplug = 0;
    std::vector<libusb_device_handle *> m_handles;
};

int poke(libusb_device_handle *h, std::uint16_t address, const Bytes &bytes)
{
    return libusb_control_transfer(h, 0x40, 0xA0, address, 0,
                                   const_cast<unsigned char *>(bytes.data()),
                                   static_cast<std::uint16_t>(bytes.size()), 1000);
}

int peek(libusb_device_handle *h, std::uint16_t address, Bytes &bytes)
{
    return libusb_control_transfer(h, 0xC0, 0xA0, address, 0, bytes.data(),
                                   static_cast<std::uint16_t>(bytes.size()), 1000);
}

// The host's download: CPU held, image in 16-byte requests (not released).
bool downloadOverUsb(libusb_device_handle *h, std::uint16_t cpucs, const Bytes &ram)
{
    if (poke(h, cpucs, {1}) != 1)
        return false;
    for (std::size_t at = 0; at < ram.size(); at += 16) {
        const std::size_t n = std::min<std::size_t>(16, ram.size() - at);
        const Bytes chunk(ram.begin() + static_cast<std::ptrdiff_t>(at),
                          ram.begin() + static_cast<std::ptrdiff_t>(at + n));
        if (poke(h, static_cast<std::uint16_t>(at), chunk) != static_cast<int>(n))
            return false;
    }
    return true;
}

int bulk(libusb_device_handle *h, std::uint8_t endpoint, Bytes &buffer, int &transferred,
         unsigned timeout = 1000)
{
    transferred = -1;
    return libusb_bulk_transfer(h, endpoint, buffer.data(), static_cast<int>(buffer.size()),
                                &transferred, timeout);
}

Bytes pattern(std::size_t size, unsigned seed)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed) ^ (i >> 8));
    return bytes;
}

std::vector<std::pair<int, int>> endpointsOf(libusb_device *device)
{
    std::vector<std::pair<int, int>> eps;
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0)
        return eps;
    const libusb_interface_descriptor &alt0 = config->interface[0].altsetting[0];
    for (int i = 0; i < alt0.bNumEndpoints; ++i)
        eps.emplace_back(alt0.endpoint[i].bEndpointAddress, alt0.endpoint[i].wMaxPacketSize);
    libusb_free_config_descriptor(config);
    return eps;
}

UsbConfig withImage(const char *image, LinkSpeed speed = LinkSpeed::High)
{
    UsbConfig config;
    config.runningImage = image;
    config.speed = speed;
    return config;
}

} // namespace

class TestUmockdevProgrammer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void enumeratesTheBarePart_data();
    void enumeratesTheBarePart();
    void downloadReenumeratesWithFirmwareEndpoints_data();
    void downloadReenumeratesWithFirmwareEndpoints();
    void forcedDownloadOverRunningFirmware();
    void badImageLeavesTheDeviceAsItWas();
    void downloadFaultStallsOneRequest();

    void bulkLoopback_data();
    void bulkLoopback();
    void heldReadCompletesWhenTheAnswerComes();
    void timeoutDiscardsTheHeldRead();
    void unplugDuringBlockingReadFailsPromptly();
    void unplugFailsEveryTransferInFlight();
    void byteBudgetUnplugsMidTransfer();

    void nodeAnswersRawUsbfsCalls();
    void secondHandleCannotClaimATakenInterface();
    void severalProgrammersOneAfterAnother();
    void twoProgrammersOnOneTestbed();
};

void TestUmockdevProgrammer::initTestCase()
{
    QVERIFY2(UmockdevProgrammer::preloadActive(),
             "run under LD_PRELOAD=libumockdev-preload.so.0 (ctest sets it)");
}

void TestUmockdevProgrammer::enumeratesTheBarePart_data()
{
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::addColumn<int>("speed");
    QTest::newRow("FX2 part") << 0x04B4 << 0x8613 << int(LIBUSB_SPEED_HIGH);
    QTest::newRow("older part") << 0x0547 << 0x2131 << int(LIBUSB_SPEED_FULL);
}

void TestUmockdevProgrammer::enumeratesTheBarePart()
{
    QFETCH(int, vendor);
    QFETCH(int, product);
    QFETCH(int, speed);
    Bus bus(UsbConfig::forVendor(std::uint16_t(vendor)));
    QVERIFY(bus.context);
    QCOMPARE(bus.programmer.state(), DeviceState::Bare);
    QCOMPARE(bus.programmer.deviceNumber(), 2);
    QCOMPARE(QString::fromStdString(bus.programmer.deviceNode()),
             QStringLiteral("/dev/bus/usb/001/002"));

    int count = 0;
    DeviceRef device(bus.find(std::uint16_t(vendor), 0, &count));
    QVERIFY(device);
    QCOMPARE(count, 1);
    libusb_device_descriptor d{};
    QCOMPARE(libusb_get_device_descriptor(device.device, &d), 0);
    QCOMPARE(d.idProduct, product);
    QCOMPARE(libusb_get_bus_number(device.device), 1);
    QCOMPARE(libusb_get_device_address(device.device), 2);
    QCOMPARE(libusb_get_device_speed(device.device), speed);
    QCOMPARE(libusb_get_port_number(device.device), 1);
    libusb_config_descriptor *config = nullptr;
    QCOMPARE(libusb_get_active_config_descriptor(device.device, &config), 0);
    QCOMPARE(config->bNumInterfaces, 1);
    QCOMPARE(config->interface[0].num_altsetting, 1);
    QCOMPARE(config->interface[0].altsetting[0].bNumEndpoints, 0);
    libusb_free_config_descriptor(config);

    libusb_device_handle *h = bus.open(device.device);
    QVERIFY(h);
    QCOMPARE(libusb_kernel_driver_active(h, 0), 0);
    QCOMPARE(libusb_detach_kernel_driver(h, 0), int(LIBUSB_ERROR_NOT_FOUND));
    QCOMPARE(libusb_claim_interface(h, 1), int(LIBUSB_ERROR_NOT_FOUND));
    // With auto-detach libusb claims through DISCONNECT_CLAIM.
    QCOMPARE(libusb_set_auto_detach_kernel_driver(h, 1), 0);
    QCOMPARE(libusb_claim_interface(h, 1), int(LIBUSB_ERROR_INVALID_PARAM));
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    Bytes descriptor(18);
    QCOMPARE(libusb_get_descriptor(h, LIBUSB_DT_DEVICE, 0, descriptor.data(), 18), 18);
    QCOMPARE(toBytes(descriptor), toBytes(bus.programmer.model().descriptors().device));
    Bytes cpucs(1);
    QCOMPARE(peek(h, bus.programmer.model().cpucsAddress(), cpucs), 1);
    QCOMPARE(cpucs[0], 1);
    QCOMPARE(libusb_set_interface_alt_setting(h, 0, 0), 0);
    QCOMPARE(libusb_set_configuration(h, 1), 0);
    QCOMPARE(libusb_release_interface(h, 0), 0);
    QCOMPARE(bus.programmer.stats().unknownIoctls, 0u);
}

void TestUmockdevProgrammer::downloadReenumeratesWithFirmwareEndpoints_data()
{
    QTest::addColumn<int>("vendor");
    QTest::addColumn<LinkSpeed>("speed");
    QTest::addColumn<int>("packet");
    QTest::newRow("FX2 part, high speed") << 0x04B4 << LinkSpeed::High << 512;
    QTest::newRow("FX2 part, full speed") << 0x04B4 << LinkSpeed::Full << 64;
    QTest::newRow("older part") << 0x0547 << LinkSpeed::Full << 64;
}

void TestUmockdevProgrammer::downloadReenumeratesWithFirmwareEndpoints()
{
    QFETCH(int, vendor);
    QFETCH(LinkSpeed, speed);
    QFETCH(int, packet);
    UsbConfig config = UsbConfig::forVendor(std::uint16_t(vendor));
    config.speed = speed;
    Bus bus(config);
    EzUsbDevice &model = bus.programmer.model();
    const std::uint32_t firstEnumeration = bus.programmer.enumerationCount();

    libusb_device_handle *h = bus.openWhenPresent(config.vendorId, config.productId);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    const Bytes ram = image('S', 2, "SPI image 2");
    QVERIFY(downloadOverUsb(h, model.cpucsAddress(), ram));
    Bytes back(ram.size());
    for (std::size_t at = 0; at < back.size(); at += 64) {
        Bytes part(std::min<std::size_t>(64, back.size() - at));
        QCOMPARE(peek(h, std::uint16_t(at), part), int(part.size()));
        std::copy(part.begin(), part.end(), back.begin() + std::ptrdiff_t(at));
    }
    QCOMPARE(toBytes(back), toBytes(ram));
    QCOMPARE(toBytes(model.ram(0, ram.size())), toBytes(ram));

    QCOMPARE(poke(h, model.cpucsAddress(), {0}), 1); // the CPU starts
    Bytes one(1);
    QCOMPARE(peek(h, 0, one), int(LIBUSB_ERROR_NO_DEVICE));
    bus.close(h);

    QVERIFY(bus.programmer.waitForEnumeration(firstEnumeration + 1, Timeout));
    QCOMPARE(bus.programmer.state(), DeviceState::Firmware);
    QCOMPARE(bus.programmer.deviceNumber(), 3);
    DeviceRef device(bus.waitFor(config.vendorId, ImageProduct));
    QVERIFY(device);
    QVERIFY(bus.waitUntilGone(config.vendorId, config.productId));
    QCOMPARE(libusb_get_device_address(device.device), 3);
    const std::vector<std::pair<int, int>> expected = {
        {0x02, packet}, {0x04, packet}, {0x86, packet}, {0x88, packet}};
    QCOMPARE(endpointsOf(device.device), expected);

    h = bus.open(device.device);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    Bytes out = pattern(1000, 3), in(4096);
    int n = 0;
    QCOMPARE(bulk(h, 0x02, out, n), 0);
    QCOMPARE(n, 1000);
    QCOMPARE(bulk(h, 0x88, in, n), 0);
    QCOMPARE(n, 1000);
    in.resize(1000);
    QCOMPARE(toBytes(in), toBytes(out));

    for (int i = 0; i < 100 && (bus.left < 1 || bus.arrived < 1); ++i)
        bus.handleEvents(10);
    QCOMPARE(bus.left, 1);
    QCOMPARE(bus.arrived, 1);

    // The download as the device saw it: hold, 16-byte writes in order, release.
    std::vector<ControlRecord> writes;
    for (const ControlRecord &r : model.controlLog())
        if (r.setup.requestType == 0x40 && r.setup.request == 0xA0)
            writes.push_back(r);
    QCOMPARE(writes.size(), ram.size() / 16 + 2);
    QCOMPARE(writes.front().setup.value, model.cpucsAddress());
    QCOMPARE(writes[1].setup.value, 0);
    QCOMPARE(toBytes(writes[1].data), toBytes(Bytes(ram.begin(), ram.begin() + 16)));
    QCOMPARE(toBytes(writes.back().data), QByteArray(1, '\0'));
}

void TestUmockdevProgrammer::forcedDownloadOverRunningFirmware()
{
    Bus bus(withImage("SPI image 1"));
    const std::uint32_t first = bus.programmer.enumerationCount();
    libusb_device_handle *h = bus.openWhenPresent(0x04B4, 0x5301);
    QVERIFY(h);
    QVERIFY(downloadOverUsb(h, 0xE600, image('N', 2, "NAND image 2")));
    QCOMPARE(poke(h, 0xE600, {0}), 1);
    QVERIFY(bus.programmer.waitForEnumeration(first + 1, Timeout));
    QVERIFY(bus.openWhenPresent(0x04B4, ImageProduct));
    QCOMPARE(QString::fromStdString(bus.programmer.model().runningImage()->name),
             QStringLiteral("NAND image 2"));
    QCOMPARE(bus.programmer.deviceNumber(), 3);
}

void TestUmockdevProgrammer::badImageLeavesTheDeviceAsItWas()
{
    Bus bus;
    libusb_device_handle *h = bus.openWhenPresent(0x04B4, 0x8613);
    QVERIFY(h);
    Bytes ram = image();
    ram[0x80] = 'X'; // no signature
    QVERIFY(downloadOverUsb(h, 0xE600, ram));
    QCOMPARE(poke(h, 0xE600, {0}), 1);
    // The CPU runs garbage: the same device answers on the same handle.
    Bytes cpucs(1);
    QCOMPARE(peek(h, 0xE600, cpucs), 1);
    QCOMPARE(cpucs[0], 0);
    QCOMPARE(bus.programmer.state(), DeviceState::Bare);
    QCOMPARE(bus.programmer.deviceNumber(), 2);
    const auto events = bus.programmer.model().events();
    QCOMPARE(events.back().kind, EventKind::BadFirmware);
}

void TestUmockdevProgrammer::downloadFaultStallsOneRequest()
{
    UsbConfig config;
    config.failDownloadRequest = 3;
    Bus bus(config);
    libusb_device_handle *h = bus.openWhenPresent(0x04B4, 0x8613);
    QVERIFY(h);
    QCOMPARE(poke(h, 0xE600, {1}), 1);
    QCOMPARE(poke(h, 0x0000, {1, 2}), 2);
    QCOMPARE(poke(h, 0x0002, {3, 4}), int(LIBUSB_ERROR_PIPE));
    QCOMPARE(poke(h, 0x0002, {3, 4}), 2);
    QCOMPARE(toBytes(bus.programmer.model().ram(0, 4)), QByteArray("\x01\x02\x03\x04", 4));
    // A stall ends one request, not the device: writes past RAM end stall too.
    QCOMPARE(poke(h, 0x3FFF, {5, 6}), int(LIBUSB_ERROR_PIPE));
    QCOMPARE(poke(h, 0x0000, {}), 0);
}

void TestUmockdevProgrammer::bulkLoopback_data()
{
    QTest::addColumn<LinkSpeed>("speed");
    QTest::addColumn<int>("packet");
    QTest::newRow("high speed") << LinkSpeed::High << 512;
    QTest::newRow("full speed") << LinkSpeed::Full << 64;
}

void TestUmockdevProgrammer::bulkLoopback()
{
    QFETCH(LinkSpeed, speed);
    QFETCH(int, packet);
    auto firmware = std::make_shared<LoopbackFirmware>();
    Bus bus(withImage("NAND image 1", speed), firmware);
    DeviceRef device(bus.waitFor(0x04B4, 0x4E01));
    QVERIFY(device);
    QCOMPARE(libusb_get_max_packet_size(device.device, 0x88), packet);
    QCOMPARE(libusb_get_max_packet_size(device.device, 0x02), packet);
    libusb_device_handle *h = bus.open(device.device);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);

    const Bytes sent = pattern(64 * 1024 + 100, 11);
    Bytes out = sent;
    int n = 0;
    QCOMPARE(bulk(h, 0x02, out, n), 0);
    QCOMPARE(n, int(sent.size()));
    Bytes received;
    for (std::uint8_t endpoint : {0x86, 0x88, 0x86, 0x88, 0x86, 0x88}) {
        Bytes in(16 * 1024);
        QCOMPARE(bulk(h, endpoint, in, n), 0);
        received.insert(received.end(), in.begin(), in.begin() + n);
    }
    QCOMPARE(received.size(), sent.size());
    QVERIFY(received == sent);

    // Nothing queued: a zero-length answer at once.
    Bytes in(512);
    QCOMPARE(bulk(h, 0x88, in, n), 0);
    QCOMPARE(n, 0);

    Bytes dropped = pattern(300, 5);
    QCOMPARE(bulk(h, 0x04, dropped, n), 0);
    QCOMPARE(firmware->droppedBytes(), 300u);
    QCOMPARE(bulk(h, 0x03, dropped, n), int(LIBUSB_ERROR_IO)); // ENOENT from the submit

    const TrafficCounters traffic = bus.programmer.model().traffic();
    QCOMPARE(traffic.bytesOut, sent.size() + 300);
    QCOMPARE(traffic.bytesIn, sent.size());
    QCOMPARE(bus.programmer.stats().implicitClaims, 0u);
}

void TestUmockdevProgrammer::heldReadCompletesWhenTheAnswerComes()
{
    auto firmware = std::make_shared<LoopbackFirmware>();
    Bus bus(withImage("SPI image 3"), firmware);
    libusb_device_handle *h = bus.openWhenPresent(0x04B4, 0x5303);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    firmware->holdAnswers(true);

    Bytes in(64);
    int n = -1;
    std::atomic<int> result{1};
    std::thread reader([&] { result = bulk(h, 0x88, in, n, 5000); });
    QTest::qWait(100);
    QCOMPARE(result.load(), 1); // still waiting
    Bytes out = {'h', 'e', 'l', 'l', 'o'};
    int written = 0;
    QCOMPARE(bulk(h, 0x02, out, written), 0);
    firmware->holdAnswers(false);
    reader.join();
    QCOMPARE(result.load(), 0);
    QCOMPARE(n, 5);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(in.data()), n), QByteArray("hello"));
}

void TestUmockdevProgrammer::timeoutDiscardsTheHeldRead()
{
    auto firmware = std::make_shared<LoopbackFirmware>();
    Bus bus(withImage("NAND image 2"), firmware);
    libusb_device_handle *h = bus.openWhenPresent(0x04B4, 0x4E02);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    firmware->holdAnswers(true);
    Bytes in(64);
    int n = -1;
    QCOMPARE(bulk(h, 0x86, in, n, 100), int(LIBUSB_ERROR_TIMEOUT));
    QCOMPARE(n, 0);
    QVERIFY(bus.programmer.stats().discards >= 1);

    // The cancelled read took nothing: the next answer goes to the next read.
    firmware->holdAnswers(false);
    Bytes out = {'x', 'y'};
    QCOMPARE(bulk(h, 0x02, out, n), 0);
    QCOMPARE(bulk(h, 0x86, in, n), 0);
    QCOMPARE(n, 2);
    QCOMPARE(in[0], 'x');
}

void TestUmockdevProgrammer::unplugDuringBlockingReadFailsPromptly()
{
    auto firmware = std::make_shared<LoopbackFirmware>();
    Bus bus(withImage("NAND image 1"), firmware);
    libusb_device_handle *h = bus.openWhenPresent(0x04B4, 0x4E01);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    firmware->holdAnswers(true);
    const int devnum = bus.programmer.deviceNumber();

    std::thread puller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        bus.programmer.unplug();
    });
    QElapsedTimer timer;
    timer.start();
    Bytes in(512);
    int n = -1;
    // Only the unplug ends it; the long timeout turns a hang into a failure.
    const int result = bulk(h, 0x88, in, n, 10000);
    const qint64 afterUnplug = timer.elapsed() - 150;
    puller.join();
    QCOMPARE(result, int(LIBUSB_ERROR_NO_DEVICE));
    qInfo("blocking read ended %lld ms after the unplug", static_cast<long long>(afterUnplug));
    QVERIFY2(afterUnplug < 10000, "the read hung on");

    Bytes out(8);
    QCOMPARE(bulk(h, 0x02, out, n), int(LIBUSB_ERROR_NO_DEVICE));
    QCOMPARE(libusb_release_interface(h, 0), int(LIBUSB_ERROR_NO_DEVICE));
    QVERIFY(bus.programmer.waitForState(DeviceState::Gone, Timeout));
    QCOMPARE(bus.programmer.deviceNumber(), 0);
    QVERIFY(bus.waitUntilGone(0x04B4, 0x4E01));
    bus.close(h);

    QVERIFY(bus.programmer.replug());
    QVERIFY(bus.programmer.waitForState(DeviceState::Bare, Timeout));
    QCOMPARE(bus.programmer.deviceNumber(), devnum + 1);
    h = bus.openWhenPresent(0x04B4, 0x8613);
    QVERIFY(h);
    Bytes cpucs(1);
    QCOMPARE(peek(h, 0xE600, cpucs), 1);
}

void TestUmockdevProgrammer::unplugFailsEveryTransferInFlight()
{
    auto firmware = std::make_shared<LoopbackFirmware>();
    Bus bus(withImage("NAND image 1"), firmware);
    libusb_device_handle *h = bus.openWhenPresent(0x04B4, 0x4E01);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    firmware->holdAnswers(true);

    struct Outcome
    {
        int done = 0;
        int noDevice = 0;
    } outcome;
    const auto callback = [](libusb_transfer *t) {
        auto *o = static_cast<Outcome *>(t->user_data);
        ++o->done;
        o->noDevice += t->status == LIBUSB_TRANSFER_NO_DEVICE;
    };
    std::vector<Bytes> buffers(4, Bytes(1024));
    std::vector<libusb_transfer *> transfers;
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        libusb_transfer *t = libusb_alloc_transfer(0);
        libusb_fill_bulk_transfer(t, h, i % 2 ? 0x86 : 0x88, buffers[i].data(), 1024, callback,
                                  &outcome, 0);
        QCOMPARE(libusb_submit_transfer(t), 0);
        transfers.push_back(t);
    }
    bus.handleEvents(20);
    QCOMPARE(outcome.done, 0);
    bus.programmer.unplug();
    QElapsedTimer timer;
    timer.start();
    while (outcome.done < 4 && timer.elapsed() < 10000)
        bus.handleEvents(10);
    QCOMPARE(outcome.done, 4);
    QCOMPARE(outcome.noDevice, 4);
    for (libusb_transfer *t : transfers)
        libusb_free_transfer(t);
}

void TestUmockdevProgrammer::byteBudgetUnplugsMidTransfer()
{
    UsbConfig config = withImage("SPI image 0");
    config.unplugAfterBytes = 1000;
    Bus bus(config);
    libusb_device_handle *h = bus.openWhenPresent(0x04B4, 0x5300);
    QVERIFY(h);
    Bytes out = pattern(600, 1);
    int n = 0;
    QCOMPARE(bulk(h, 0x04, out, n), 0);
    QCOMPARE(bulk(h, 0x04, out, n), int(LIBUSB_ERROR_NO_DEVICE));
    QCOMPARE(n, 400);
    QVERIFY(bus.programmer.waitForState(DeviceState::Gone, Timeout));
    QVERIFY(bus.programmer.model().unplugged());
    // Nothing claimed interface 0: the first URB did, as the kernel does.
    QCOMPARE(bus.programmer.stats().implicitClaims, 1u);
}

void TestUmockdevProgrammer::nodeAnswersRawUsbfsCalls()
{
    Bus bus;
    const std::string node = bus.programmer.deviceNode();
    const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    QVERIFY2(fd >= 0, node.c_str());
    const auto fails = [fd](unsigned long request, void *arg) {
        errno = 0;
        return ::ioctl(fd, request, arg) == -1 ? errno : 0;
    };

    // read(): device and configuration descriptor, then end of file.
    const DescriptorSet set = bus.programmer.model().descriptors();
    Bytes descriptors(256);
    const ssize_t got = ::read(fd, descriptors.data(), descriptors.size());
    QCOMPARE(got, ssize_t(set.device.size() + set.configuration.size()));
    QCOMPARE(toBytes(Bytes(descriptors.begin(), descriptors.begin() + 18)), toBytes(set.device));
    QCOMPARE(::read(fd, descriptors.data(), descriptors.size()), 0);
    errno = 0;
    QCOMPARE(::write(fd, "x", 1), -1);
    QCOMPARE(errno, EINVAL);

    // Questions about the device.
    QCOMPARE(::ioctl(fd, USBDEVFS_GET_SPEED, nullptr), 3); // high speed
    std::uint32_t caps = 0;
    QCOMPARE(fails(USBDEVFS_GET_CAPABILITIES, &caps), 0);
    QCOMPARE(caps, UmockdevOptions::DefaultCapabilities);
    usbdevfs_connectinfo info{};
    QCOMPARE(fails(USBDEVFS_CONNECTINFO, &info), 0);
    QCOMPARE(int(info.devnum), bus.programmer.deviceNumber());
    usbdevfs_getdriver driver{};
    QCOMPARE(fails(USBDEVFS_GETDRIVER, &driver), ENODATA);

    // Bad requests get clean errors.
    QCOMPARE(fails(_IO('U', 99), nullptr), ENOTTY);
    QCOMPARE(fails(USBDEVFS_CLAIMINTERFACE, nullptr), EFAULT);
    unsigned interface = 7;
    QCOMPARE(fails(USBDEVFS_CLAIMINTERFACE, &interface), ENOENT);
    interface = 0;
    QCOMPARE(fails(USBDEVFS_RELEASEINTERFACE, &interface), EINVAL); // not claimed
    usbdevfs_setinterface alt{0, 1};
    QCOMPARE(fails(USBDEVFS_SETINTERFACE, &alt), EINVAL);
    int configuration = 5;
    QCOMPARE(fails(USBDEVFS_SETCONFIGURATION, &configuration), EINVAL);
    void *reaped = nullptr;
    QCOMPARE(fails(USBDEVFS_REAPURBNDELAY, &reaped), EAGAIN);
    usbdevfs_urb stray{};
    QCOMPARE(fails(USBDEVFS_DISCARDURB, &stray), EINVAL);

    usbdevfs_urb urb{};
    std::uint8_t buffer[64] = {};
    urb.buffer = buffer;
    urb.type = USBDEVFS_URB_TYPE_ISO;
    urb.endpoint = 0x81;
    urb.buffer_length = 64;
    QCOMPARE(fails(USBDEVFS_SUBMITURB, &urb), EINVAL);
    urb.type = USBDEVFS_URB_TYPE_BULK;
    urb.endpoint = 0x02; // the bare part has no bulk endpoints
    QCOMPARE(fails(USBDEVFS_SUBMITURB, &urb), ENOENT);
    urb.type = USBDEVFS_URB_TYPE_CONTROL;
    urb.endpoint = 0;
    urb.buffer_length = 4; // shorter than a setup packet
    QCOMPARE(fails(USBDEVFS_SUBMITURB, &urb), EINVAL);
    const std::uint8_t setup[8] = {0xC0, 0xA0, 0, 0, 0, 0, 0xFF, 0}; // wLength 255 > buffer
    std::copy(setup, setup + 8, buffer);
    urb.buffer_length = 64;
    QCOMPARE(fails(USBDEVFS_SUBMITURB, &urb), EINVAL);
    urb.buffer_length = -1;
    QCOMPARE(fails(USBDEVFS_SUBMITURB, &urb), EINVAL);
    urb.buffer = nullptr;
    urb.buffer_length = 64;
    QCOMPARE(fails(USBDEVFS_SUBMITURB, &urb), EFAULT);

    // A sound control URB still goes through, and is reaped.
    urb.buffer = buffer;
    buffer[6] = 1; // wLength 1: read CPUCS
    buffer[2] = 0x00;
    buffer[3] = 0xE6;
    QCOMPARE(fails(USBDEVFS_SUBMITURB, &urb), 0);
    QCOMPARE(fails(USBDEVFS_REAPURBNDELAY, &reaped), 0);
    QCOMPARE(reaped, static_cast<void *>(&urb));
    QCOMPARE(urb.status, 0);
    QCOMPARE(urb.actual_length, 1);
    QCOMPARE(buffer[8], 1);
    QCOMPARE(bus.programmer.stats().unknownIoctls, 1u);

    // After an unplug: ENODEV for everything.
    bus.programmer.unplug();
    QCOMPARE(fails(USBDEVFS_GET_CAPABILITIES, &caps), ENODEV);
    QCOMPARE(fails(USBDEVFS_REAPURBNDELAY, &reaped), ENODEV);
    QCOMPARE(::read(fd, descriptors.data(), descriptors.size()), -1);
    ::close(fd);
}

void TestUmockdevProgrammer::secondHandleCannotClaimATakenInterface()
{
    Bus bus;
    DeviceRef device(bus.waitFor(0x04B4, 0x8613));
    libusb_device_handle *first = bus.open(device.device);
    libusb_device_handle *second = bus.open(device.device);
    QVERIFY(first && second);
    QCOMPARE(libusb_claim_interface(first, 0), 0);
    QCOMPARE(libusb_claim_interface(second, 0), int(LIBUSB_ERROR_BUSY));
    QCOMPARE(libusb_release_interface(first, 0), 0);
    QCOMPARE(libusb_claim_interface(second, 0), 0);
}

void TestUmockdevProgrammer::severalProgrammersOneAfterAnother()
{
    std::string previousRoot;
    for (int round = 0; round < 4; ++round) {
        const std::uint16_t vendor = round % 2 ? UsbConfig::OlderVendorId : UsbConfig::Fx2VendorId;
        Bus bus(UsbConfig::forVendor(vendor));
        QVERIFY(bus.programmer.rootDirectory() != previousRoot);
        previousRoot = bus.programmer.rootDirectory();
        int count = 0;
        DeviceRef device(bus.find(vendor, 0, &count));
        QCOMPARE(count, 1);
        libusb_device_handle *h = bus.open(device.device);
        QVERIFY(h);
        Bytes cpucs(1);
        QCOMPARE(peek(h, bus.programmer.model().cpucsAddress(), cpucs), 1);
        QCOMPARE(cpucs[0], 1);
    }
}

void TestUmockdevProgrammer::twoProgrammersOnOneTestbed()
{
    UmockdevProgrammer first(withImage("NAND image 1"));
    UmockdevOptions second;
    second.busNumber = 2;
    UmockdevProgrammer other(first.testbed(), UsbConfig::forVendor(0x0547), {}, second);
    libusb_context *context = nullptr;
    QCOMPARE(libusb_init(&context), 0);
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(context, &list);
    QList<QPair<int, int>> found; // (bus, vendor) of the programmers
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor d{};
        libusb_get_device_descriptor(list[i], &d);
        if (d.idVendor != 0x1D6B)
            found << qMakePair(int(libusb_get_bus_number(list[i])), int(d.idVendor));
    }
    libusb_free_device_list(list, 1);
    libusb_exit(context);
    std::sort(found.begin(), found.end());
    QCOMPARE(found, (QList<QPair<int, int>>{{1, 0x04B4}, {2, 0x0547}}));
    QCOMPARE(other.deviceNode(), std::string("/dev/bus/usb/002/002"));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestUmockdevProgrammer)

#include "tst_umockdev_programmer.moc"
