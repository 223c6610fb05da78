#include "FirmwareImages.h"
#include "KvusbState.h"
#include "TestHome.h"
#include "UmockdevBystander.h"
#include "UmockdevProgrammer.h"
#include "kvusb.h"

#include <QTest>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using namespace kvemu;

namespace {

struct Endpoint
{
    std::uint8_t address;
    std::uint8_t attributes; // 2 bulk, 3 interrupt
};

// One configuration with interface 0 and its endpoints.
DescriptorSet deviceOf(std::uint16_t vendor, std::uint16_t product, std::uint8_t deviceClass,
                       std::uint8_t interfaceClass, const std::vector<Endpoint> &endpoints)
{
    DescriptorSet set;
    set.device = {18,
                  1,
                  0x00,
                  0x02,
                  deviceClass,
                  0,
                  0,
                  64,
                  std::uint8_t(vendor & 0xFF),
                  std::uint8_t(vendor >> 8),
                  std::uint8_t(product & 0xFF),
                  std::uint8_t(product >> 8),
                  0x00,
                  0x01,
                  0,
                  0,
                  0,
                  1};
    const auto total = std::uint16_t(9 + 9 + 7 * endpoints.size());
    set.configuration = {9,    2, std::uint8_t(total & 0xFF), std::uint8_t(total >> 8), 1, 1, 0,
                         0x80, 50};
    set.configuration.insert(set.configuration.end(),
                             {9, 4, 0, 0, std::uint8_t(endpoints.size()), interfaceClass, 0, 0, 0});
    for (const Endpoint &e : endpoints)
        set.configuration.insert(set.configuration.end(),
                                 {7, 5, e.address, e.attributes, 0x00, 0x02, 0});
    set.layout.value = 1;
    set.layout.interfaceCount = 1;
    return set;
}

// Requests that would take a device from its driver or talk to it.
const std::set<std::string> Intrusive = {
    "CLAIMINTERFACE", "DISCONNECT_CLAIM", "DISCONNECT",   "CONTROL", "BULK", "SUBMITURB",
    "RESET",          "SETCONFIGURATION", "SETINTERFACE", "IOCTL",   "OTHER"};

std::vector<std::string> intrusive(const std::vector<std::string> &contacts)
{
    std::vector<std::string> found;
    std::copy_if(contacts.begin(), contacts.end(), std::back_inserter(found),
                 [](const std::string &c) { return Intrusive.count(c) != 0; });
    return found;
}

// Closes kvusb's device before the emulated bus goes (declare it last).
struct CloseAtEnd
{
    ~CloseAtEnd() { func5(); }
};

} // namespace

// kvusb looks at every device of the programmer's vendors but opens only
// what can be the programmer; anything else on the bus keeps its driver and
// never hears a request, however often the program reconnects.
class TestKvusbSelection : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void findsTheProgrammerBehindOtherDevices_data();
    void findsTheProgrammerBehindOtherDevices();
};

void TestKvusbSelection::init()
{
    kvusb_set_download_pause_ms(100);
    QVERIFY2(UmockdevProgrammer::preloadActive(), "run with libumockdev-preload.so.0 preloaded");
}

void TestKvusbSelection::findsTheProgrammerBehindOtherDevices_data()
{
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::addColumn<int>("deviceClass");
    QTest::addColumn<int>("interfaceClass");
    QTest::addColumn<bool>("bulkPipes");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<bool>("running"); // the programmer's firmware runs already
    QTest::addColumn<bool>("opened");  // the other device is opened to ask for its driver
    // The programmer is on bus 2: the other device comes before it in bus
    // order (bus 1) or after it (bus 3, where libusb lists it first).
    QTest::addColumn<int>("otherBus");

    // A hub and a HID device of the same vendor: never opened.
    QTest::newRow("hub, bare programmer")
        << 0x04B4 << 0x6560 << 9 << 9 << false << "hub" << false << false << 1;
    QTest::newRow("hub, running programmer")
        << 0x04B4 << 0x6560 << 9 << 9 << false << "hub" << true << false << 3;
    QTest::newRow("hub on a later bus")
        << 0x04B4 << 0x6560 << 9 << 9 << false << "hub" << false << false << 3;
    QTest::newRow("HID with its driver")
        << 0x04B4 << 0x0100 << 0 << 3 << false << "usbhid" << false << false << 3;
    QTest::newRow("HID of 0x0547")
        << 0x0547 << 0x1002 << 0 << 3 << false << "usbhid" << true << false << 1;
    // Vendor-specific, but neither a bare part's identifiers nor the
    // programmer's pipes.
    QTest::newRow("serial bridge without a driver")
        << 0x04B4 << 0x0003 << 0xFF << 0xFF << false << "" << false << false << 3;
    QTest::newRow("bare-part class, other product")
        << 0x04B4 << 0x1004 << 0xFF << 0xFF << false << "" << true << false << 1;
    QTest::newRow("bulk pipes, not vendor class")
        << 0x0547 << 0x4E01 << 0 << 8 << true << "usb-storage" << false << false << 3;
    // A bare part that a driver holds belongs to someone else: asked for its
    // driver, then left alone.
    QTest::newRow("bare part held by a driver")
        << 0x04B4 << 0x8613 << 0xFF << 0xFF << false << "usbtest" << false << true << 1;
    // Behind the programmer in bus order: never reached.
    QTest::newRow("bare part held by a driver, later bus")
        << 0x04B4 << 0x8613 << 0xFF << 0xFF << false << "usbtest" << true << false << 3;
}

void TestKvusbSelection::findsTheProgrammerBehindOtherDevices()
{
    QFETCH(int, vendor);
    QFETCH(int, product);
    QFETCH(int, deviceClass);
    QFETCH(int, interfaceClass);
    QFETCH(bool, bulkPipes);
    QFETCH(QString, driver);
    QFETCH(bool, running);
    QFETCH(bool, opened);
    QFETCH(int, otherBus);

    std::vector<Endpoint> endpoints = {{0x81, 3}};
    if (bulkPipes)
        endpoints = {{0x02, 2}, {0x04, 2}, {0x86, 2}, {0x88, 2}};
    UmockdevBystander other(deviceOf(std::uint16_t(vendor), std::uint16_t(product),
                                     std::uint8_t(deviceClass), std::uint8_t(interfaceClass),
                                     endpoints),
                            {otherBus, driver.toStdString()});
    UsbConfig config;
    if (running)
        config.runningImage = "NAND image 1";
    UmockdevOptions onBus2;
    onBus2.busNumber = 2;
    UmockdevProgrammer programmer(other.testbed(), config, {}, onBus2);
    CloseAtEnd closeAtEnd;

    // Open, close and a forced download (a reconnection), three times over.
    for (int round = 0; round < 3; ++round) {
        const std::uint32_t enumeration = programmer.enumerationCount();
        QCOMPARE(func4(), 1);
        QCOMPARE(func5(), 1);
        QCOMPARE(func3(firmwareImage(NandImage1).records, 1), 1);
        QVERIFY(programmer.waitForEnumeration(enumeration + 1, 5000));
    }
    QCOMPARE(programmer.model().runningImage()->name, std::string("NAND image 1"));
    // The running firmware's pipes were recorded from the programmer.
    QCOMPARE(func4(), 1);
    QCOMPARE(kvusb_pipe_address(0), 0x02u);
    QCOMPARE(kvusb_pipe_address(3), 0x88u);

    const std::vector<std::string> contacts = other.contacts();
    QCOMPARE(intrusive(contacts), std::vector<std::string>{});
    QCOMPARE(std::count(contacts.begin(), contacts.end(), "open") > 0, opened);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestKvusbSelection)

#include "tst_kvusb_selection.moc"
