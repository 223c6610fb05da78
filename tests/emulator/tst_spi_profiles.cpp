#include "ProgrammerTestSupport.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTest>

using namespace kvemu;
using namespace ProgrammerTest;

namespace {

std::uint32_t le32(const Bytes &b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

Bytes readAll(Rig &rig, std::size_t length)
{
    Bytes all;
    while (all.size() < length) {
        const Bytes part = rig.answer(length - all.size());
        if (part.empty())
            break;
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The catalogue records whose three ID bytes are `id`.
QStringList catalogueRecords(const Bytes &id)
{
    QFile catalogue(KORVANE_SPI_CATALOGUE);
    if (!catalogue.open(QIODevice::ReadOnly | QIODevice::Text))
        return {QStringLiteral("<no catalogue>")};
    const QRegularExpression item(QStringLiteral("(\\w+)=\"([^\"]*)\""));
    QStringList names;
    while (!catalogue.atEnd()) {
        const QString line = QString::fromLatin1(catalogue.readLine());
        QMap<QString, QString> values;
        for (auto it = item.globalMatch(line); it.hasNext();) {
            const auto m = it.next();
            values[m.captured(1)] = m.captured(2);
        }
        bool same = !values.value("ID1").isEmpty();
        for (int i = 0; i < 3 && same; ++i)
            same = values.value(QStringLiteral("ID%1").arg(i + 1)).chopped(1).toUInt(nullptr, 16) ==
                   id[std::size_t(i)];
        if (same)
            names << values.value("Name");
    }
    return names;
}

} // namespace

// Every shipped profile with a serial chip or an SPI adapter, as the program
// meets it: the unit's identification and the adapter check the program
// sends after it, the chip's ID and what the catalogue makes of it, the SFDP
// area that detection reads when no record knows the ID.
class TestSpiProfiles : public QObject
{
    Q_OBJECT
private slots:
    void profilesConnectAndIdentify_data();
    void profilesConnectAndIdentify();
    void everySerialProfileIsListed();
};

void TestSpiProfiles::profilesConnectAndIdentify_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("algo");            // the SPI image the program runs
    QTest::addColumn<QByteArray>("id");       // 9Fh answer
    QTest::addColumn<QStringList>("records"); // catalogue records with that ID
    QTest::addColumn<quint64>("sfdpDensity"); // bytes; 0: no SFDP table

    const QByteArray none("\xFF\xFF\xFF", 3);
    QTest::newRow("W25Q64FV, dual and quad")
        << "spi-w25q64fv.ini" << 0 << QByteArray("\xEF\x40\x17", 3)
        << QStringList{"W25Q64BV", "W25Q64CV", "W25Q64FV", "W25Q64JV-.Q"}
        << quint64(8) * 1024 * 1024;
    QTest::newRow("MX25L8005, three address bytes")
        << "spi-mx25l8005.ini" << 0 << QByteArray("\xC2\x20\x14", 3)
        << QStringList{"MX25L8005", "MX25L8006E", "MX25L8008E", "MX25V8005"} << quint64(0);
    QTest::newRow("W25Q256, 32 MiB")
        << "spi-w25q256.ini" << 0 << QByteArray("\xEF\x40\x19", 3)
        << QStringList{"W25Q256FV", "W25Q256JV_Q"} << quint64(32) * 1024 * 1024;
    QTest::newRow("unknown with SFDP")
        << "spi-unknown-sfdp.ini" << 0 << QByteArray("\xE5\x40\x18", 3) << QStringList{}
        << quint64(16) * 1024 * 1024;
    QTest::newRow("unknown 32 MiB with SFDP")
        << "spi-unknown-sfdp-32m.ini" << 0 << QByteArray("\xE5\x40\x19", 3) << QStringList{}
        << quint64(32) * 1024 * 1024;
    QTest::newRow("unknown without SFDP")
        << "spi-unknown-no-sfdp.ini" << 0 << QByteArray("\xE5\x40\x17", 3) << QStringList{}
        << quint64(0);
    QTest::newRow("AT45DB161D, 528-byte pages")
        << "dataflash-at45db161d.ini" << 3 << QByteArray("\x1F\x26\x00", 3)
        << QStringList{"AT45DB161D", "AT45DB161D_512"} << quint64(0);
    QTest::newRow("AT45DB161D, 512-byte pages")
        << "dataflash-at45db161d-512.ini" << 3 << QByteArray("\x1F\x26\x00", 3)
        << QStringList{"AT45DB161D", "AT45DB161D_512"} << quint64(0);
    QTest::newRow("25xx040") << "eeprom-25xx040.ini" << 4 << none << QStringList{} << quint64(0);
    QTest::newRow("M95320") << "eeprom-m95320.ini" << 4 << none << QStringList{} << quint64(0);
    QTest::newRow("no chip") << "spi-no-chip.ini" << 0 << none << QStringList{} << quint64(0);
}

void TestSpiProfiles::profilesConnectAndIdentify()
{
    QFETCH(QString, file);
    QFETCH(int, algo);
    QFETCH(QByteArray, id);
    QFETCH(QStringList, records);
    QFETCH(quint64, sfdpDensity);
    const EmulatorConfig config =
        ConfigReader::readFile(QDir(KVEMU_PROFILE_DIR).filePath(file).toStdString());
    const std::string image = "SPI image " + std::to_string(algo);
    Rig rig(config, image.c_str());

    // The identification: the second byte of the word names the unit the
    // program then checks the adapter of (1 NAND, 2 SPI).
    rig.send(packet({0x18, 0x00, 0x02, 0x00, 0x0A}, 9));
    const Bytes word = rig.answer(8, 0x86);
    QCOMPARE(word.size(), std::size_t(8));
    QCOMPARE(le32(word, 4), ProgrammerFirmware::Magic);
    QVERIFY(le32(word, 0) != 0 && le32(word, 0) != 0xFFFFFFFF);
    QCOMPARE(int(word[1]), 2);
    // The SPI adapter check as the program sends it on a high-speed link.
    rig.send(packet({0x10, 0x01, 0x01, 0x01, algo}, 10));
    QCOMPARE(rig.answer(2, 0x86), (Bytes{0x01, 0x01}));

    rig.send(packet({0x29, 0x9F}, 64));
    const Bytes answered = rig.answer(3, 0x86);
    QCOMPARE(answered, Bytes(id.begin(), id.end()));
    if (answered[0] != 0xFF)
        QCOMPARE(catalogueRecords(answered), records);

    rig.send(packet({0x2A}, 6));
    const Bytes sfdp = readAll(rig, 2048);
    QCOMPARE(sfdp.size(), std::size_t(2048));
    if (sfdpDensity == 0) {
        QCOMPARE(sfdp, Bytes(2048, 0xFF));
    } else {
        QCOMPARE(le32(sfdp, 0), 0x50444653u);
        const std::size_t basic = sfdp[12] | (sfdp[13] << 8) | (sfdp[14] << 16);
        QCOMPARE(quint64(le32(sfdp, basic + 4)) + 1, sfdpDensity * 8);
        // Above 16 MiB: three or four address bytes, and the four-byte table.
        const bool large = sfdpDensity > 16 * 1024 * 1024;
        QCOMPARE(int((le32(sfdp, basic) >> 17) & 3), large ? 1 : 0);
        QCOMPARE(sfdp[6] == 2 && sfdp[24] == 0x84, large);
    }
    const auto log = rig.log();
    for (const std::string &line : log)
        QVERIFY2(line.rfind("ERROR", 0) != 0, line.c_str());
}

void TestSpiProfiles::everySerialProfileIsListed()
{
    // A new serial profile gets a row in profilesConnectAndIdentify_data.
    const QStringList files =
        QDir(KVEMU_PROFILE_DIR)
            .entryList({"spi-*.ini", "dataflash-*.ini", "eeprom-*.ini"}, QDir::Files, QDir::Name);
    QCOMPARE(files,
             (QStringList{"dataflash-at45db161d-512.ini", "dataflash-at45db161d.ini",
                          "eeprom-25xx040.ini", "eeprom-m95320.ini", "spi-mx25l8005.ini",
                          "spi-no-chip.ini", "spi-unknown-no-sfdp.ini", "spi-unknown-sfdp-32m.ini",
                          "spi-unknown-sfdp.ini", "spi-w25q256.ini", "spi-w25q64fv.ini"}));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestSpiProfiles)
#include "tst_spi_profiles.moc"
