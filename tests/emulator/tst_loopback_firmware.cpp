#include "EmulatorTestSupport.h"
#include "TestHome.h"

#include "EzUsbDevice.h"
#include "LoopbackFirmware.h"

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <cstring>

using namespace kvemu;
using namespace EmulatorTest;

namespace {

Bytes text(const char *s)
{
    return Bytes(s, s + std::strlen(s));
}

QByteArray read(FirmwareSide &firmware, std::uint8_t endpoint, std::size_t room)
{
    Bytes buffer(room, 0xEE);
    const auto r = firmware.bulkIn(endpoint, buffer);
    if (!r.ok())
        return QByteArray("<") + statusName(r.status) + ">";
    buffer.resize(r.length);
    return toBytes(buffer);
}

UsbConfig running(const char *image = "NAND image 1")
{
    UsbConfig config;
    config.runningImage = image;
    return config;
}

} // namespace

class TestLoopbackFirmware : public QObject
{
    Q_OBJECT
private slots:
    void pipe0ComesBackInOrderOnBothInEndpoints();
    void emptyQueueAnswersZeroLengthAtOnce();
    void pipe1TakesAndDrops();
    void otherEndpointsStall();
    void holdMakesReadsWaitAndReleaseWakes();
    void startAndStopEmptyTheQueue();
    void throughTheModel();
};

void TestLoopbackFirmware::pipe0ComesBackInOrderOnBothInEndpoints()
{
    LoopbackFirmware firmware;
    firmware.onStart({ImageFamily::Nand, 1, "NAND image 1"}, LinkSpeed::High);
    QVERIFY(firmware.bulkOut(0x02, text("abc")).ok());
    QCOMPARE(firmware.bulkOut(0x02, text("defg")).length, 4u);
    QCOMPARE(firmware.queuedBytes(), 7u);
    QCOMPARE(read(firmware, 0x86, 2), QByteArray("ab"));
    QCOMPARE(read(firmware, 0x88, 100), QByteArray("cdefg"));
    QCOMPARE(firmware.queuedBytes(), 0u);
}

void TestLoopbackFirmware::emptyQueueAnswersZeroLengthAtOnce()
{
    LoopbackFirmware firmware;
    const auto r = firmware.bulkIn(0x88, room(512));
    QVERIFY(r.ok());
    QCOMPARE(r.length, 0u);
    QVERIFY(firmware.bulkOut(0x02, {}).ok()); // a zero-length write queues nothing
    QCOMPARE(read(firmware, 0x86, 16), QByteArray());
}

void TestLoopbackFirmware::pipe1TakesAndDrops()
{
    LoopbackFirmware firmware;
    QCOMPARE(firmware.bulkOut(0x04, Bytes(300)).length, 300u);
    QCOMPARE(firmware.droppedBytes(), 300u);
    QCOMPARE(firmware.queuedBytes(), 0u);
}

void TestLoopbackFirmware::otherEndpointsStall()
{
    LoopbackFirmware firmware;
    QCOMPARE(firmware.bulkOut(0x06, Bytes(4)).status, TransferStatus::Stall);
    QCOMPARE(firmware.bulkIn(0x82, room(4)).status, TransferStatus::Stall);
    Bytes one(1);
    QCOMPARE(firmware.vendorRequest({0xC0, 0xB0, 0, 0, 1}, one).status, TransferStatus::Stall);
}

void TestLoopbackFirmware::holdMakesReadsWaitAndReleaseWakes()
{
    LoopbackFirmware firmware;
    std::atomic<int> wakes{0};
    firmware.setWakeHandler([&] { ++wakes; });
    QVERIFY(firmware.bulkOut(0x02, text("held")).ok());
    firmware.holdAnswers(true);
    QVERIFY(firmware.holdingAnswers());
    QCOMPARE(firmware.bulkIn(0x86, room(8)).status, TransferStatus::Nak);
    QCOMPARE(firmware.bulkIn(0x88, room(8)).status, TransferStatus::Nak);
    QVERIFY(firmware.bulkOut(0x02, text("!")).ok()); // writes still go in
    QCOMPARE(wakes.load(), 0);
    firmware.holdAnswers(false);
    QCOMPARE(wakes.load(), 1);
    QCOMPARE(read(firmware, 0x88, 8), QByteArray("held!"));
    firmware.setWakeHandler({});
    firmware.holdAnswers(false);
    QCOMPARE(wakes.load(), 1);
}

void TestLoopbackFirmware::startAndStopEmptyTheQueue()
{
    LoopbackFirmware firmware;
    QVERIFY(!firmware.running());
    firmware.onStart({ImageFamily::Spi, 2, "SPI image 2"}, LinkSpeed::Full);
    QVERIFY(firmware.running());
    QCOMPARE(firmware.speed(), LinkSpeed::Full);
    QCOMPARE(firmware.image()->number, 2);
    QVERIFY(firmware.bulkOut(0x02, text("left over")).ok());
    firmware.onStop();
    QVERIFY(!firmware.running());
    QCOMPARE(firmware.queuedBytes(), 0u);
    QVERIFY(firmware.bulkOut(0x02, text("x")).ok());
    firmware.onStart({ImageFamily::Spi, 2, "SPI image 2"}, LinkSpeed::Full);
    QCOMPARE(firmware.queuedBytes(), 0u);
    QCOMPARE(firmware.starts(), 2u);
    QCOMPARE(firmware.stops(), 1u);
}

void TestLoopbackFirmware::throughTheModel()
{
    auto firmware = std::make_shared<LoopbackFirmware>();
    EzUsbDevice device(running(), firmware);
    QVERIFY(firmware->running());

    // 100 KiB in uneven pieces, read back in other uneven pieces.
    Bytes sent;
    for (std::size_t i = 0; i < 100 * 1024; ++i)
        sent.push_back(static_cast<std::uint8_t>(i * 31 + (i >> 9)));
    for (std::size_t at = 0; at < sent.size(); at += 3000) {
        const std::size_t n = std::min<std::size_t>(3000, sent.size() - at);
        const auto r = device.bulkOut(0x02, std::span(sent.data() + at, n));
        QVERIFY(r.ok());
        QCOMPARE(r.length, n);
    }
    Bytes received;
    for (std::uint8_t endpoint = 0x86;; endpoint = endpoint == 0x86 ? 0x88 : 0x86) {
        Bytes buffer(4096 + (received.size() % 7));
        const auto r = device.bulkIn(endpoint, buffer);
        QVERIFY(r.ok());
        if (r.length == 0)
            break;
        received.insert(received.end(), buffer.begin(),
                        buffer.begin() + static_cast<std::ptrdiff_t>(r.length));
    }
    QCOMPARE(received.size(), sent.size());
    QVERIFY(received == sent);
    const auto traffic = device.traffic();
    QCOMPARE(traffic.bytesOut, sent.size());
    QCOMPARE(traffic.bytesIn, sent.size());
    QCOMPARE(traffic.transfersOut, 35u);

    // A held answer makes the model's read wait (Nak), until released.
    firmware->holdAnswers(true);
    QVERIFY(device.bulkOut(0x02, text("late")).ok());
    QCOMPARE(device.bulkIn(0x88, room(16)).status, TransferStatus::Nak);
    std::atomic<int> woken{0};
    device.setChangeHandler([&] { ++woken; });
    firmware->holdAnswers(false);
    QCOMPARE(woken.load(), 1);
    Bytes buffer(16);
    QCOMPARE(device.bulkIn(0x88, buffer).length, 4u);

    // Unplug stops the firmware and drops what it held.
    QVERIFY(device.bulkOut(0x02, text("lost")).ok());
    device.unplug();
    QVERIFY(!firmware->running());
    QCOMPARE(firmware->queuedBytes(), 0u);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestLoopbackFirmware)

#include "tst_loopback_firmware.moc"
