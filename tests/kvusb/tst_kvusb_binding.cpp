#include "FirmwareImages.h"
#include "LoopbackFirmware.h"
#include "Settings.h"
#include "TestHome.h"
#include "UmockdevProgrammer.h"
#include "UsbDriverTable.h"

#include <QTest>

using namespace kvemu;

// The program's side end to end: the driver table bound to the real
// libkvusb.so, which drives the emulated programmer through libusb.
class TestKvusbBinding : public QObject
{
    Q_OBJECT
private slots:
    void downloadsTheSelectedImageThroughTheTable();
};

void TestKvusbBinding::downloadsTheSelectedImageThroughTheTable()
{
    QVERIFY(UmockdevProgrammer::preloadActive());
    TestHome::Fresh home;
    Settings store;
    store.setBoolean(Settings::BoardType, true);

    UmockdevProgrammer programmer(UsbConfig{}, std::make_shared<LoopbackFirmware>());
    UsbDriverTable table;
    table.bind(QStringLiteral(KVUSB_DLL_FOLDER "/kvusb"));
    QVERIFY(table.isResolved());

    // As the engine starts: open, close, download without force.
    QCOMPARE(table.open(), 1);
    table.close();
    const FirmwareImage &image = firmwareImage(FirmwareSelection::nand(store));
    QCOMPARE(table.download(image.records, false), 1);
    QVERIFY(programmer.waitForState(DeviceState::Firmware, 10000));
    QCOMPARE(programmer.model().runningImage()->name, std::string("NAND image 2"));

    QCOMPARE(table.open(), 1);
    QCOMPARE(table.status(), 512);
    // The stand-in firmware sends pipe 0's bytes back on pipe 2.
    unsigned char packet[9] = {0x18, 0x00, 0x02, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00};
    QCOMPARE(table.write(0, packet, 9), 9);
    unsigned char answer[9] = {};
    QCOMPARE(table.read(2, answer, 9), 9);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(answer), 9),
             QByteArray(reinterpret_cast<char *>(packet), 9));
    table.close();

    // A second start finds the firmware running: nothing is downloaded.
    QCOMPARE(table.download(image.records, false), 2);
    table.unbind();
    QCOMPARE(table.open(), 0);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestKvusbBinding)
#include "tst_kvusb_binding.moc"
