#include "FirmwareImages.h"
#include "Settings.h"
#include "TestHome.h"

#include <QByteArray>
#include <QTest>

namespace {
// The micro-controller's memory after downloading `image`.
QByteArray loadedMemory(const FirmwareImage &image)
{
    QByteArray memory(0x4000, '\0');
    for (const FirmwareRecord *r = image.records; r->type != FirmwareRecord::End; ++r)
        memory.replace(int(r->loadAddress()), r->length, reinterpret_cast<const char *>(r->data),
                       r->length);
    return memory;
}

unsigned word(const QByteArray &memory, int at)
{
    return quint8(memory.at(at)) | quint8(memory.at(at + 1)) << 8;
}
} // namespace

class TestFirmwareImages : public QObject
{
    Q_OBJECT
private slots:
    void recordCountsAndEndRecords_data();
    void recordCountsAndEndRecords();
    void signaturesNameTheImages();
    void descriptorsGiveThePipesInOrder();
    void nandSelectionFollowsBoardType();
    void spiSelectionFollowsAlgo();
};

void TestFirmwareImages::recordCountsAndEndRecords_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("records");
    QTest::newRow("NAND image 1") << int(NandImage1) << 415;
    QTest::newRow("NAND image 2") << int(NandImage2) << 424;
    QTest::newRow("SPI image 0") << int(SpiImage0) << 418;
    QTest::newRow("SPI image 1") << int(SpiImage1) << 429;
    QTest::newRow("SPI image 2") << int(SpiImage2) << 423;
    QTest::newRow("SPI image 3") << int(SpiImage3) << 410;
    QTest::newRow("SPI image 4") << int(SpiImage4) << 434;
}

void TestFirmwareImages::recordCountsAndEndRecords()
{
    QFETCH(int, id);
    QFETCH(int, records);
    const FirmwareImage &image = firmwareImage(FirmwareImageId(id));
    QCOMPARE(QString::fromLatin1(image.name), QString::fromLatin1(QTest::currentDataTag()));
    QCOMPARE(image.recordCount, records);
    // Exactly one end record, the last one.
    for (int i = 0; i < records - 1; ++i) {
        const FirmwareRecord &r = image.records[i];
        QCOMPARE(r.type, std::uint8_t(FirmwareRecord::Data));
        QVERIFY(r.length <= 16);
        QVERIFY2(r.loadAddress() + r.length <= 0x1700, qPrintable(QString::number(i)));
        QCOMPARE(r.padding0, std::uint8_t(0));
        QCOMPARE(r.padding1, std::uint8_t(0));
    }
    QCOMPARE(image.records[records - 1].type, std::uint8_t(FirmwareRecord::End));
    QCOMPARE(image.records[0].loadAddress(), 0u);
    // 22-byte stride, as the transport library walks it.
    const auto *bytes = reinterpret_cast<const unsigned char *>(image.records);
    QCOMPARE(bytes[22 * (records - 1) + 4], 1);
}

void TestFirmwareImages::signaturesNameTheImages()
{
    const char families[] = {'N', 'N', 'S', 'S', 'S', 'S', 'S'};
    const int numbers[] = {1, 2, 0, 1, 2, 3, 4};
    QSet<QByteArray> distinct;
    for (int id = 0; id < FirmwareImageCount; ++id) {
        const FirmwareImage &image = firmwareImage(FirmwareImageId(id));
        const QByteArray memory = loadedMemory(image);
        QCOMPARE(memory.mid(0x80, 8), QByteArray("KVFWSIG1"));
        QCOMPARE(memory.at(0x88), families[id]);
        QCOMPARE(int(memory.at(0x89)), numbers[id]);
        QCOMPARE(QByteArray(memory.constData() + 0x90), QByteArray(image.name));
        distinct.insert(memory.left(0x1700));
    }
    QCOMPARE(distinct.size(), int(FirmwareImageCount));
}

void TestFirmwareImages::descriptorsGiveThePipesInOrder()
{
    for (int id = 0; id < FirmwareImageCount; ++id) {
        const QByteArray memory = loadedMemory(firmwareImage(FirmwareImageId(id)));
        const int device = int(word(memory, 0x8A));
        QCOMPARE(int(memory.at(device)), 18);
        QCOMPARE(int(memory.at(device + 1)), 1);
        QCOMPARE(word(memory, device + 8), 0x04B4u);
        const int speeds[] = {int(word(memory, 0x8C)), int(word(memory, 0x8E))};
        const unsigned packets[] = {512, 64};
        for (int s = 0; s < 2; ++s) {
            const int config = speeds[s];
            QCOMPARE(int(memory.at(config + 1)), 2);
            QCOMPARE(word(memory, config + 2), 46u);
            const int interface = config + 9;
            QCOMPARE(int(memory.at(interface + 1)), 4);
            QCOMPARE(int(memory.at(interface + 2)), 0); // interface 0
            QCOMPARE(int(memory.at(interface + 3)), 0); // alternate setting 0
            QCOMPARE(int(memory.at(interface + 4)), 4);
            const quint8 addresses[] = {0x02, 0x04, 0x86, 0x88};
            for (int e = 0; e < 4; ++e) {
                const int endpoint = interface + 9 + 7 * e;
                QCOMPARE(int(memory.at(endpoint + 1)), 5);
                QCOMPARE(quint8(memory.at(endpoint + 2)), addresses[e]);
                QCOMPARE(int(memory.at(endpoint + 3)), 2); // bulk
                QCOMPARE(word(memory, endpoint + 4), packets[s]);
            }
        }
    }
}

void TestFirmwareImages::nandSelectionFollowsBoardType()
{
    TestHome::Fresh home;
    Settings store;
    QCOMPARE(FirmwareSelection::nand(store), NandImage1);
    store.setBoolean(Settings::BoardType, true);
    QCOMPARE(FirmwareSelection::nand(store), NandImage2);
    store.setBoolean(Settings::BoardType, false);
    QCOMPARE(FirmwareSelection::nand(store), NandImage1);
}

void TestFirmwareImages::spiSelectionFollowsAlgo()
{
    for (int algo = 0; algo <= 4; ++algo) {
        int value = algo;
        QCOMPARE(FirmwareSelection::spi(value), FirmwareImageId(SpiImage0 + algo));
        QCOMPARE(value, algo);
    }
    int seven = 7;
    QCOMPARE(FirmwareSelection::spi(seven), SpiImage0);
    QCOMPARE(seven, 0);
    int negative = -3;
    QCOMPARE(FirmwareSelection::spi(negative), SpiImage0);
    QCOMPARE(negative, 0);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestFirmwareImages)
#include "tst_firmware_images.moc"
