#include "CDeviceItemSPIFlash.h"
#include "SpiGeometry.h"
#include "SpiPackets.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QTest>

// The SPI programmer's packets as the firmware expects them, byte for byte,
// from catalogue records as they are shipped.
namespace {

const QString W25Q64 = QStringLiteral(
    "Name=\"W25Q64FV\",MFG=\"WINBOND\",ID1=\"efh\",ID2=\"40h\",ID3=\"17h\",size=\"800000h\","
    "SectorSize=\"10000h\",SectorNum=\"80h\",IO=\"4\"");
const QString W25Q256 = QStringLiteral(
    "Name=\"W25Q256FV\",MFG=\"WINBOND\",ID1=\"efh\",ID2=\"40h\",ID3=\"19h\",size=\"2000000h\","
    "SectorSize=\"10000h\",SectorNum=\"200h\",IO=\"4\",Init=\"0600B700\"");
const QString AT45_528 = QStringLiteral(
    "Name=\"AT45DB161D\",MFG=\"ATMEL\",ID1=\"1fh\",ID2=\"26h\",ID3=\"00h\",size=\"210000h\","
    "SectorSize=\"21000h\",SectorNum=\"10h\",PageSize=\"210h\",Algo=\"3h\"");
const QString AT45_512 = QStringLiteral(
    "Name=\"AT45DB161D_512\",MFG=\"ATMEL\",ID1=\"1fh\",ID2=\"26h\",ID3=\"00h\",size=\"200000h\","
    "SectorSize=\"20000h\",SectorNum=\"10h\",PageSize=\"200h\",Algo=\"3h\"");
const QString EEPROM = QStringLiteral(
    "Name=\"25LC040\",MFG=\"MICROCHIP\",size=\"200h\",SectorSize=\"200h\",SectorNum=\"1h\","
    "PageSize=\"10h\",Algo=\"4h\"");

CDeviceItemSPIFlash record(const QString &line)
{
    CDeviceItemSPIFlash device;
    if (!device.parseLine(line))
        qFatal("catalogue line refused: %s", qPrintable(line));
    return device;
}

QString hex(const SpiPacket &packet)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(packet.bytes.data()), packet.length).toHex(' '));
}

} // namespace

class TestSpiPackets : public QObject
{
    Q_OBJECT
private slots:
    void geometry_data();
    void geometry();
    void timing_data();
    void timing();
    void packets_data();
    void packets();
};

void TestSpiPackets::geometry_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("singleIo");
    QTest::addColumn<int>("addressBytes");
    QTest::addColumn<int>("lineMode");
    QTest::addColumn<quint32>("programUnit");
    QTest::newRow("8 MiB, quad") << W25Q64 << false << 3 << 2 << 512u;
    QTest::newRow("8 MiB, Single IO") << W25Q64 << true << 3 << 0 << 512u;
    QTest::newRow("32 MiB") << W25Q256 << false << 4 << 2 << 512u;
    QTest::newRow("DataFlash 528") << AT45_528 << false << 3 << 0 << 528u;
    QTest::newRow("DataFlash 512") << AT45_512 << false << 3 << 0 << 512u;
    QTest::newRow("EEPROM of 512 bytes") << EEPROM << false << 1 << 0 << 512u;
}

void TestSpiPackets::geometry()
{
    QFETCH(QString, line);
    QFETCH(bool, singleIo);
    QFETCH(int, addressBytes);
    QFETCH(int, lineMode);
    QFETCH(quint32, programUnit);
    const SpiGeometry geometry = SpiGeometry::of(record(line), 512, singleIo);
    QCOMPARE(geometry.addressBytes, addressBytes);
    QCOMPARE(geometry.lineMode, lineMode);
    QCOMPARE(geometry.programUnit, programUnit);
    QCOMPARE(SpiGeometry::addressBytesOf(0x100, 0), 1);
    QCOMPARE(SpiGeometry::addressBytesOf(0x800, 4), 2);
}

void TestSpiPackets::timing_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("singleIo");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QString>("packet");
    QTest::newRow("single, 10") << W25Q64 << true << 10 << "30 00 01 20 01 01 0e 21 0e 00";
    QTest::newRow("single, 6") << W25Q64 << true << 6 << "30 00 05 20 05 01 12 21 12 00";
    QTest::newRow("single, 4") << W25Q64 << true << 4 << "30 00 04 20 04 01 21 21 21 01";
    QTest::newRow("single, 1") << W25Q64 << true << 1 << "30 00 03 20 03 01 3c 21 3c 02";
    // Four lines: base 2, and the slowest speeds stay in mode 1.
    QTest::newRow("quad, 10") << W25Q64 << false << 10 << "30 00 01 20 01 01 02 21 02 00";
    QTest::newRow("quad, 1") << W25Q64 << false << 1 << "30 00 06 20 06 01 0b 21 0b 01";
}

void TestSpiPackets::timing()
{
    QFETCH(QString, line);
    QFETCH(bool, singleIo);
    QFETCH(int, speed);
    QFETCH(QString, packet);
    QCOMPARE(hex(SpiPackets::timing(speed, SpiGeometry::of(record(line), 512, singleIo))), packet);
}

void TestSpiPackets::packets_data()
{
    QTest::addColumn<QString>("built");
    QTest::addColumn<QString>("packet");

    const CDeviceItemSPIFlash w25q64 = record(W25Q64);
    const SpiGeometry quad = SpiGeometry::of(w25q64, 512, false);
    const SpiGeometry single = SpiGeometry::of(w25q64, 512, true);
    QTest::newRow("read, quad") << hex(SpiPackets::read(w25q64, quad, 0x123456, 0x10000))
                                << "27 6b 03 12 34 56 00 00 00 01 00 00 00 00 00 02 00 00 00 00";
    QTest::newRow("read, single") << hex(SpiPackets::read(w25q64, single, 0x10000, 512))
                                  << "27 03 03 01 00 00 00 00 02 00 00 00 00 00 00 00 00 00 00 00";
    QTest::newRow("erase") << hex(SpiPackets::eraseSector(w25q64, quad, 0x7F0000))
                           << "1b 06 d8 03 7f 00 00 00 05 01 00 00 00 00 00 00 00 00 00 00";
    // 0x10000 bytes in 256-byte pages: 256 pages, byte 10 = 0, byte 11 = 1.
    QTest::newRow("program, quad") << hex(SpiPackets::program(w25q64, quad, 0x10000, 256))
                                   << "1c 32 03 01 00 00 00 00 00 00 00 01 00 00 00 02 05 01 00 00";
    QTest::newRow("program, 300 pages")
        << hex(SpiPackets::program(w25q64, single, 0, 300))
        << "1c 02 03 00 00 00 00 00 00 00 2c 02 00 00 00 00 05 01 00 00";

    const CDeviceItemSPIFlash w25q256 = record(W25Q256);
    const SpiGeometry large = SpiGeometry::of(w25q256, 512, true);
    QTest::newRow("read, 4 address bytes")
        << hex(SpiPackets::read(w25q256, large, 0x1FF0000, 0x10000))
        << "27 03 04 01 ff 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00";
    QTest::newRow("start-up") << hex(SpiPackets::startUp(w25q256)).left(6 * 3 + 2 + 9)
                              << "34 9f 02 06 06 00 06 b7 00 00";

    const CDeviceItemSPIFlash at45 = record(AT45_528);
    const SpiGeometry paged = SpiGeometry::of(at45, 512, false);
    // DataFlash: sector 0b at page 8 (8 << 10), busy while bit 7 of the
    // status is clear.
    QTest::newRow("DataFlash sector 0b")
        << hex(SpiPackets::eraseSector(at45, paged, 0x002000))
        << "1b 06 7c 03 00 20 00 00 d7 80 80 00 00 00 00 00 00 00 00 00";
    QTest::newRow("DataFlash page 3")
        << hex(SpiPackets::program(at45, paged, paged.deviceAddress(3 * 528), 1))
        << "1c 10 03 00 0c 00 00 00 00 00 01 01 00 00 00 00 d7 80 80 00";
    const CDeviceItemSPIFlash at45small = record(AT45_512);
    QTest::newRow("DataFlash 512, program opcode byte")
        << hex(SpiPackets::program(at45small, SpiGeometry::of(at45small, 512, false), 512, 1))
               .left(2)
        << "1c";

    const CDeviceItemSPIFlash eeprom = record(EEPROM);
    const SpiGeometry small = SpiGeometry::of(eeprom, 512, false);
    QTest::newRow("EEPROM program: page size in byte 15")
        << hex(SpiPackets::program(eeprom, small, 0x20, 2))
        << "1c 02 01 20 00 00 00 00 00 00 02 01 00 00 00 10 05 01 00 00";
    QTest::newRow("adapter check")
        << hex(SpiPackets::adapterCheck(0, true, 3)) << "10 00 01 01 03 00 00 00 00 00";
    QTest::newRow("adapter check, algo 7")
        << hex(SpiPackets::adapterCheck(1, false, 7)) << "10 01 01 00 00 00 00 00 00 00";
    QTest::newRow("DataFlash status")
        << hex(SpiPackets::dataFlashStatus()).left(11) << "31 01 d7 01";
    QTest::newRow("end of program") << hex(SpiPackets::endOfProgram()) << "32";
    QTest::newRow("SFDP") << hex(SpiPackets::readSfdp()) << "2a 00 00 00 00 00";
}

void TestSpiPackets::packets()
{
    QFETCH(QString, built);
    QFETCH(QString, packet);
    QCOMPARE(built, packet);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestSpiPackets)
#include "tst_spi_packets.moc"
