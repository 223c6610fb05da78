#include "CDeviceFamily.h"
#include "CDeviceItemNand.h"
#include "CDeviceItemSPIFlash.h"
#include "CustomDeviceForm.h"
#include "DeviceCatalogue.h"
#include "ProgramObjects.h"
#include "TestHome.h"
#include "UnattendedQuestions.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

using Entries = CustomDeviceForm::Entries;
Q_DECLARE_METATYPE(CustomDeviceForm::Entries)

namespace {
Entries entries(const QStringList &ids, const QString &name, const QString &maker,
                const QString &size, const QString &first, const QString &second,
                const QString &pins = QStringLiteral("1"))
{
    Entries e;
    e.ids = ids;
    e.name = name;
    e.maker = maker;
    e.size = size;
    e.firstGeometry = first;
    e.secondGeometry = second;
    e.pins = pins;
    return e;
}

Entries nandEntries(const QStringList &ids, const QString &size = QStringLiteral("8400000h"))
{
    return entries(ids, "K9F1G08U0B", "SAMSUNG", size, "840h", "40h");
}

const QString nandTail = QStringLiteral("size=\"8400000h\",PageSize=\"840h\",BlockSize=\"40h\"");
} // namespace

class TestCustomDeviceForm : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void labels_data();
    void labels();
    void nandLine_data();
    void nandLine();
    void spiLine_data();
    void spiLine();
    void lineReadsBack();
    void makers();
    void presetIds();
    void unattendedCancels();

private:
    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
};

void TestCustomDeviceForm::init()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
}

void TestCustomDeviceForm::cleanup()
{
    m_objects.reset();
    m_home.reset();
}

void TestCustomDeviceForm::labels_data()
{
    QTest::addColumn<QString>("menuText");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("fieldLabels");

    const QStringList nand{"Page Size", "Block Size", "CE Pins"};
    const QStringList spi{"Sector Size", "Sector Num", "IO Pins"};
    QTest::newRow("Nand Flash") << "Nand Flash" << 0 << nand;
    QTest::newRow("SPI Flash") << "SPI Flash" << 1 << spi;
    QTest::newRow("both: Nand wins") << "SPI or Nand" << 0 << nand;
    QTest::newRow("case matters") << "spi flash" << 0 << nand;
    QTest::newRow("neither") << "EEPROM" << 0 << nand;
}

void TestCustomDeviceForm::labels()
{
    QFETCH(QString, menuText);
    QFETCH(int, mode);
    QFETCH(QStringList, fieldLabels);

    QCOMPARE(CustomDeviceForm::modeForText(menuText), mode);
    const CustomDeviceForm form(CustomDeviceForm::modeForText(menuText));
    QCOMPARE(form.mode(), mode);
    QCOMPARE(form.idFieldCount(), mode == 1 ? 3 : 6);
    QCOMPARE(CustomDeviceForm::idLabel(3), QStringLiteral("ID3"));
    QCOMPARE(form.nameLabel(), QStringLiteral("Name"));
    QCOMPARE(form.makerLabel(), QStringLiteral("Manufacture"));
    QCOMPARE(form.sizeLabel(), QStringLiteral("Size"));
    QCOMPARE((QStringList{form.firstGeometryLabel(), form.secondGeometryLabel(), form.pinsLabel()}),
             fieldLabels);
    QCOMPARE(CustomDeviceForm::pinChoices(), (QStringList{"1", "2", "4"}));
}

void TestCustomDeviceForm::nandLine_data()
{
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QString>("line");

    const QString start = QStringLiteral("Name=\"K9F1G08U0B\",MFG=\"SAMSUNG\",");
    QTest::newRow("six IDs, with and without h")
        << nandEntries({"ECh", "F1", "00h", "95h", "40h", "01H"})
        << start + "ID1=\"ech\",ID2=\"f1h\",ID3=\"0h\",ID4=\"95h\",ID5=\"40h\",ID6=\"1h\"," +
               nandTail;
    QTest::newRow("empty ID2 stops the line")
        << nandEntries({"ECh", "", "00h"}) << start + "ID1=\"ech\"," + nandTail;
    QTest::newRow("one-character ID1 writes no ID")
        << nandEntries({"e", "f1h"}) << start + nandTail;
    QTest::newRow("ID wider than a byte keeps its low 8 bits")
        << nandEntries({"1ECh"}) << start + "ID1=\"ech\"," + nandTail;
    QTest::newRow("no ID fields") << nandEntries({}) << start + nandTail;

    Entries pins2 = nandEntries({"ECh"});
    pins2.pins = QStringLiteral("2");
    QTest::newRow("2 CE pins") << pins2 << start + "ID1=\"ech\"," + nandTail + ",CE=\"2\"";
    Entries pins4 = pins2;
    pins4.pins = QStringLiteral("4");
    QTest::newRow("4 CE pins") << pins4 << start + "ID1=\"ech\"," + nandTail + ",CE=\"4\"";

    const QString geometry = QStringLiteral(",PageSize=\"840h\",BlockSize=\"40h\"");
    QTest::newRow("size 1000h") << nandEntries({}, "1000h") << start + "size=\"1000h\"" + geometry;
    QTest::newRow("size 1000H") << nandEntries({}, "1000H") << start + "size=\"1000h\"" + geometry;
    QTest::newRow("size 1000") << nandEntries({}, "1000") << start + "size=\"1000h\"" + geometry;
    QTest::newRow("size zz") << nandEntries({}, "zz") << start + "size=\"0h\"" + geometry;
    QTest::newRow("size empty") << nandEntries({}, "") << start + "size=\"0h\"" + geometry;
    QTest::newRow("only one h removed")
        << nandEntries({}, "10hh") << start + "size=\"0h\"" + geometry;
    QTest::newRow("64-bit size") << nandEntries({}, "210000000h")
                                 << start + "size=\"210000000h\"" + geometry;

    Entries lower = nandEntries({});
    lower.name = QStringLiteral("k9f1g08u0b");
    lower.maker = QString();
    QTest::newRow("lower-case name kept, empty maker")
        << lower << "Name=\"k9f1g08u0b\",MFG=\"\"," + nandTail;

    Entries badGeometry = nandEntries({});
    badGeometry.firstGeometry = QStringLiteral("page");
    badGeometry.secondGeometry = QStringLiteral("100000000h"); // beyond 32 bits
    badGeometry.pins = QStringLiteral("x");
    QTest::newRow("invalid geometry and pins read as 0")
        << badGeometry << start + "size=\"8400000h\",PageSize=\"0h\",BlockSize=\"0h\",CE=\"0\"";

    Entries quoted = nandEntries({});
    quoted.name = QStringLiteral("AB\",CE=\"4");
    QTest::newRow("quotes dropped from the name")
        << quoted << "Name=\"AB,CE=4\",MFG=\"SAMSUNG\"," + nandTail;
}

void TestCustomDeviceForm::nandLine()
{
    QFETCH(Entries, entries);
    QFETCH(QString, line);
    QCOMPARE(CustomDeviceForm(0).catalogueLine(entries), line);
}

void TestCustomDeviceForm::spiLine_data()
{
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QString>("line");

    const Entries e =
        entries({"EFh", "40", "18h"}, "w25q128", "WINBOND", "1000000h", "1000", "1000h");
    QTest::newRow("single IO")
        << e
        << "Name=\"w25q128\",MFG=\"WINBOND\",ID1=\"efh\",ID2=\"40h\",ID3=\"18h\","
           "size=\"1000000h\",SectorSize=\"1000h\",SectorNum=\"1000h\"";

    Entries quad = e;
    quad.pins = QStringLiteral("4");
    quad.ids = QStringList{"EFh", "4", ""};
    quad.firstGeometry = QStringLiteral("zz");
    QTest::newRow("short IDs stay FF, invalid sector size, quad IO")
        << quad
        << "Name=\"w25q128\",MFG=\"WINBOND\",ID1=\"efh\",ID2=\"ffh\",ID3=\"ffh\","
           "size=\"1000000h\",SectorSize=\"0h\",SectorNum=\"1000h\",IO=\"4\"";
}

void TestCustomDeviceForm::spiLine()
{
    QFETCH(Entries, entries);
    QFETCH(QString, line);
    const CustomDeviceForm form(1);
    QCOMPARE(form.catalogueLine(entries), line);
    const auto record = form.fillRecord(entries);
    QCOMPARE(record->kind, int(CDeviceItem::SpiKind));
}

// The line the user pastes into the catalogue gives the same device back.
void TestCustomDeviceForm::lineReadsBack()
{
    Entries nandEntry = nandEntries({"98h", "dch", "90h", "", "76h"});
    nandEntry.name = QStringLiteral("tc58nvg2s0f");
    nandEntry.pins = QStringLiteral("2");
    const auto filled = CustomDeviceForm(0).fillRecord(nandEntry);
    const auto &nand = static_cast<const CDeviceItemNand &>(*filled);
    QCOMPARE(nand.idKnown, (std::array<quint8, 6>{1, 1, 1, 0, 1, 0}));
    QCOMPARE(nand.id[4], quint8(0x76));
    CDeviceItemNand readNand;
    QVERIFY(readNand.parseLine(nand.catalogueLine()));
    QCOMPARE(readNand.name, QStringLiteral("TC58NVG2S0F"));
    QCOMPARE(readNand.manufacturer, QStringLiteral("SAMSUNG"));
    QCOMPARE(readNand.size, quint64(0x8400000));
    QCOMPARE(readNand.pageSize, 0x840u);
    QCOMPARE(readNand.blockSize, 0x40);
    QCOMPARE(readNand.ce, 2);
    QCOMPARE(readNand.idCount, 3);
    QVERIFY(readNand.matchId(QByteArray("\x98\xDC\x90\x26\x76\x16\x08", 7)));

    const Entries spiEntry = entries({"c2h", "20h", "17h"}, "MX25L6405\"X", "MACRO\nNIX", "800000h",
                                     "10000h", "80h", "2");
    const QString spiLine = CustomDeviceForm(1).catalogueLine(spiEntry);
    QVERIFY(!spiLine.contains(QLatin1Char('\n')));
    CDeviceItemSPIFlash readSpi;
    QVERIFY(readSpi.parseLine(spiLine));
    QCOMPARE(readSpi.name, QStringLiteral("MX25L6405X"));
    QCOMPARE(readSpi.manufacturer, QStringLiteral("MACRONIX"));
    QCOMPARE(readSpi.io, 2);
    QVERIFY(readSpi.matchId(QByteArray("\xC2\x20\x17", 3)));
}

void TestCustomDeviceForm::makers()
{
    DeviceCatalogue catalogue;
    QCOMPARE(CustomDeviceForm(0).makers(catalogue), QStringList());

    QTemporaryDir empty;
    catalogue.load(empty.path() + QLatin1Char('/'));
    const QString tail =
        QStringLiteral(",ID1=\"ech\",size=\"1h\",PageSize=\"840h\",BlockSize=\"40h\"\n");
    catalogue.family(0)->addText(("Name=\"A\",MFG=\"SAMSUNG\"" + tail +
                                  "Name=\"B\",MFG=\"TOSHIBA\"" + tail +
                                  "Name=\"C\",MFG=\"samsung\"" + tail + "Name=\"D\"" + tail +
                                  "Name=\"E\",MFG=\"HYNIX\"" + tail)
                                     .toUtf8());
    catalogue.family(1)->addText("Name=\"W\",MFG=\"WINBOND\",size=\"1000h\",SectorSize=\"1000h\","
                                 "SectorNum=\"1h\",PageSize=\"100h\"\n");
    QCOMPARE(CustomDeviceForm(0).makers(catalogue),
             (QStringList{"", "SAMSUNG", "TOSHIBA", "HYNIX"}));
    QCOMPARE(CustomDeviceForm(1).makers(catalogue), (QStringList{"", "WINBOND"}));

    // A parameter page that named the placeholder's maker puts it first.
    catalogue.family(1)->placeholder()->manufacturer = QStringLiteral("WINBOND");
    QCOMPARE(CustomDeviceForm(1).makers(catalogue), QStringList{"WINBOND"});
}

void TestCustomDeviceForm::presetIds()
{
    const QByteArray id("\x98\xDC\x90\x26\x76\x16\x08", 7);
    QCOMPARE(CustomDeviceForm::presetIds(id, 6),
             (QStringList{"98h", "dch", "90h", "26h", "76h", "16h"}));
    QCOMPARE(CustomDeviceForm::presetIds(QByteArray("\x0F\x00", 2), 3),
             (QStringList{"0fh", "00h"}));
    // Presets read back as the detected bytes.
    Entries e;
    e.ids = CustomDeviceForm::presetIds(id, 6);
    QVERIFY(CustomDeviceForm(0).catalogueLine(e).startsWith(
        "Name=\"\",MFG=\"\",ID1=\"98h\",ID2=\"dch\",ID3=\"90h\",ID4=\"26h\",ID5=\"76h\",ID6="
        "\"16h\","));
}

void TestCustomDeviceForm::unattendedCancels()
{
    QStringList log;
    UnattendedQuestions questions([&log](const QString &line) { log << line; });
    QCOMPARE(questions.defineDevice(0, QStringLiteral("New Nand"), {"98h", "dch"}), QString());
    QCOMPARE(log, QStringList{"Unattended: \"New Nand 98h dch\" answered Cancel"});
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestCustomDeviceForm)
#include "tst_custom_device_form.moc"
