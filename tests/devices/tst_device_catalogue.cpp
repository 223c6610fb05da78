#include "CDeviceFamilyNand.h"
#include "CDeviceFamilySPI.h"
#include "CDeviceItemNand.h"
#include "CDeviceItemSPIFlash.h"
#include "CatalogueFiles.h"
#include "DeviceCatalogue.h"
#include "ProgramObjects.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(static_cast<char>(value));
    return result;
}

QStringList names(const CDeviceFamily &family)
{
    QStringList list;
    for (const CDeviceItem *item : family.records())
        list << item->name;
    return list;
}

// A folder with the given catalogue files; the folder path ends in "/".
class ConfigFolder
{
public:
    ConfigFolder(const QByteArray &nand, const QByteArray &spi)
    {
        if (!nand.isNull())
            TestFiles::write(path() + QStringLiteral("Nand.txt"), nand);
        if (!spi.isNull())
            TestFiles::write(path() + QStringLiteral("SPI.txt"), spi);
    }
    QString path() const { return m_dir.path() + QLatin1Char('/'); }

private:
    QTemporaryDir m_dir;
};

const QByteArray nandLines =
    "; NAND parts of the test bench\n"
    "Name=\"K9F1G08U0B\",MFG=\"SAMSUNG\",ID1=\"ech\",ID2=\"f1h\",ID3=\"00h\",ID4=\"95h\","
    "ID5=\"40h\",size=\"8400000h\",PageSize=\"840h\",BlockSize=\"40h\"\n"
    "Name=\"HY27UF081G2A\",MFG=\"HYNIX\",ID1=\"adh\",ID2=\"f1h\",ID3=\"80h\",ID4=\"1dh\","
    "size=\"8400000h\",PageSize=\"840h\",BlockSize=\"40h\"\n"
    "Name=\"K9F1208U0C\",MFG=\"SAMSUNG\",ID1=\"ech\",ID2=\"76h\",size=\"4200000h\","
    "PageSize=\"210h\",BlockSize=\"20h\"\n";

const QByteArray spiLines =
    "Name=\"W25Q64FV\",MFG=\"WINBOND\",ID1=\"efh\",ID2=\"40h\",ID3=\"17h\",size=\"800000h\","
    "SectorSize=\"10000h\",SectorNum=\"80h\",IO=\"4\"\n"
    "Name=\"W25Q64JV\",MFG=\"WINBOND\",ID1=\"efh\",ID2=\"40h\",ID3=\"17h\",size=\"800000h\","
    "SectorSize=\"10000h\",SectorNum=\"80h\",IO=\"4\"\n"
    "Name=\"MX25L6405\",MFG=\"MACRONIX\",ID1=\"c2h\",ID2=\"20h\",ID3=\"17h\",size=\"800000h\","
    "SectorSize=\"10000h\",SectorNum=\"80h\"\n";

QString nandLine(const QString &name, const QString &ids, const QString &size = "8400000h")
{
    return QStringLiteral("Name=\"%1\",%2size=\"%3\",PageSize=\"840h\",BlockSize=\"40h\"")
        .arg(name, ids, size);
}

QString spiLine(const QString &name, const QString &ids, const QString &maker = "M")
{
    return QStringLiteral("Name=\"%1\",MFG=\"%2\",%3size=\"400000h\",SectorSize=\"10000h\","
                          "SectorNum=\"40h\"")
        .arg(name, maker, ids);
}

// Device lines of a catalogue file: those holding a "Name" key.
QStringList deviceLines(const QByteArray &file)
{
    QStringList lines;
    for (const QByteArray &line : file.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.contains(QStringLiteral("Name=\"")))
            lines << text;
    }
    return lines;
}

} // namespace

class TestDeviceCatalogue : public QObject
{
    Q_OBJECT
private slots:
    void bothFilesMissing();
    void loadReadsTheConfigurationFolder();
    void recordsInFileOrder();
    void lineEndVariants_data();
    void lineEndVariants();
    void zeroByteEndsText();
    void rejectedLinesAreDropped();
    void unreadableAndOversizedFiles();
    void nandDuplicatesFirstWins();
    void spiDuplicatesAreKept();
    void findByNameIsExact();
    void findByIdNand();
    void findByIdNandChoice();
    void findByIdSpi();
    void reportDuplicates();
    void reportDuplicatesUsesTheTextTable();

    void installShippedOnce();
    void installShippedLeavesUserFiles();
    void shippedCatalogueSelfCheck();
    void shippedCatalogueHasCommonParts();
};

void TestDeviceCatalogue::bothFilesMissing()
{
    DeviceCatalogue catalogue;
    QCOMPARE(catalogue.familyCount(), 0);
    QVERIFY(!catalogue.findByName(QStringLiteral("NAND OFNI")));

    const ConfigFolder empty{QByteArray(), QByteArray()};
    catalogue.load(empty.path());
    QCOMPARE(catalogue.familyCount(), 2);
    QCOMPARE(catalogue.family(0)->name(), QStringLiteral("Nand"));
    QCOMPARE(catalogue.family(1)->name(), QStringLiteral("SPI"));
    QStringList lines;
    const TextSink sink = [&lines](const QString &line) { lines << line; };
    catalogue.printAll(sink, true);
    QCOMPARE(lines, (QStringList{"Nand", " NAND OFNI", "  Size = 0h  ", "SPI", " SPI SFDP",
                                 "  Size = 0h  "}));
    lines.clear();
    catalogue.printAll(sink, false);
    QCOMPARE(lines, (QStringList{"Nand", " NAND OFNI", "  Size = 0h  ",
                                 " ID1 = FFh ID2 = FFh ID3 = FFh ID4 = FFh ID5 = FFh ", "SPI",
                                 " SPI SFDP", "  Size = 0h  ", "  ID1 =FFh,ID2 =FFh ID3 =FFh"}));
    QCOMPARE(catalogue.nand()->placeholder()->kind, 0);
    QCOMPARE(catalogue.spi()->placeholder()->kind, 1);
}

void TestDeviceCatalogue::loadReadsTheConfigurationFolder()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    QDir().mkpath(QStringLiteral("config"));
    TestFiles::write(QStringLiteral("config/Nand.txt"), nandLines);
    TestFiles::write(QStringLiteral("config/SPI.txt"), spiLines);
    DeviceCatalogue catalogue;
    catalogue.load();
    QCOMPARE(catalogue.nand()->count(), 4);
    QCOMPARE(catalogue.spi()->count(), 4);
    QVERIFY(catalogue.findByName(QStringLiteral("K9F1G08U0B")));

    // Loading again starts afresh.
    TestFiles::write(QStringLiteral("config/SPI.txt"), spiLines.left(spiLines.indexOf('\n')));
    catalogue.load();
    QCOMPARE(catalogue.nand()->count(), 4);
    QCOMPARE(catalogue.spi()->count(), 2);
}

void TestDeviceCatalogue::recordsInFileOrder()
{
    const ConfigFolder folder(nandLines, spiLines);
    DeviceCatalogue catalogue;
    catalogue.load(folder.path());
    QCOMPARE(names(*catalogue.nand()),
             (QStringList{"NAND OFNI", "K9F1G08U0B", "HY27UF081G2A", "K9F1208U0C"}));
    QCOMPARE(names(*catalogue.spi()),
             (QStringList{"SPI SFDP", "W25Q64FV", "W25Q64JV", "MX25L6405"}));
    QVERIFY(dynamic_cast<CDeviceItemNand *>(catalogue.nand()->record(1)));
    QVERIFY(dynamic_cast<CDeviceItemSPIFlash *>(catalogue.spi()->record(3)));
    QVERIFY(!catalogue.spi()->record(4));
    QVERIFY(!catalogue.spi()->record(-1));
    QVERIFY(!catalogue.family(2));
}

void TestDeviceCatalogue::lineEndVariants_data()
{
    QTest::addColumn<QByteArray>("text");
    QByteArray unix = spiLines;
    QTest::newRow("LF") << unix;
    QByteArray windows = spiLines;
    windows.replace("\n", "\r\n");
    QTest::newRow("CR LF") << windows;
    QByteArray mac = spiLines;
    mac.replace("\n", "\r");
    QTest::newRow("CR") << mac;
    QByteArray blank = spiLines;
    blank.replace("\n", "\n\n\r\n\n");
    QTest::newRow("blank lines") << QByteArray("\r\n\n") + blank;
    QTest::newRow("no final line end") << spiLines.chopped(1);
    QByteArray mixed = spiLines;
    mixed.replace(mixed.indexOf('\n'), 1, "\r\r\r");
    QTest::newRow("mixed") << mixed;
}

void TestDeviceCatalogue::lineEndVariants()
{
    QFETCH(QByteArray, text);
    CDeviceFamilySPI family;
    QCOMPARE(family.addText(text), 3);
    QCOMPARE(names(family), (QStringList{"SPI SFDP", "W25Q64FV", "W25Q64JV", "MX25L6405"}));
    QCOMPARE(family.rejectedLines(), 0);
    // The same through a file.
    const ConfigFolder folder(QByteArray(), text);
    CDeviceFamilySPI fromFile;
    QCOMPARE(fromFile.readFile(folder.path()), 3);
    QCOMPARE(names(fromFile), names(family));
}

void TestDeviceCatalogue::zeroByteEndsText()
{
    QByteArray text = nandLines;
    text.insert(text.indexOf("Name=\"K9F1208U0C\""), '\0');
    CDeviceFamilyNand family;
    QCOMPARE(family.addText(text), 2);
    QCOMPARE(names(family), (QStringList{"NAND OFNI", "K9F1G08U0B", "HY27UF081G2A"}));

    CDeviceFamilyNand leading;
    QCOMPARE(leading.addText(QByteArray(1, '\0') + nandLines), 0);
    QCOMPARE(leading.count(), 1);

    // A zero byte inside a line ends that line there, too.
    CDeviceFamilySPI cut;
    QByteArray line = spiLines.left(spiLines.indexOf('\n'));
    line.insert(line.indexOf(",SectorNum"), '\0');
    QCOMPARE(cut.addText(line), 0);
    QCOMPARE(cut.rejectedLines(), 1);
}

void TestDeviceCatalogue::rejectedLinesAreDropped()
{
    CDeviceFamilyNand nand;
    QCOMPARE(
        nand.addText("; comment\n"
                     "K9F1G08U0B without keys\n" +
                     nandLine(QStringLiteral("GOOD"), QStringLiteral("ID1=\"ech\",")).toUtf8() +
                     "\nName=\"NOBLOCK\",PageSize=\"840h\"\n"),
        1);
    QCOMPARE(nand.rejectedLines(), 3);
    QCOMPARE(names(nand), (QStringList{"NAND OFNI", "GOOD"}));

    CDeviceFamilySPI spi;
    QVERIFY(!spi.addLine(QStringLiteral("Name=\"BAD\",size=\"400000h\",SectorSize=\"10000h\","
                                        "SectorNum=\"41h\"")));
    QVERIFY(!spi.addLine(QString()));
    QCOMPARE(spi.count(), 1);
    QCOMPARE(spi.rejectedLines(), 2);
}

void TestDeviceCatalogue::unreadableAndOversizedFiles()
{
    QStringList log;
    const TextSink sink = [&log](const QString &line) { log << line; };

    // A folder where a file should be: nothing read, nothing said.
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    QVERIFY(QDir().mkpath(folder + QStringLiteral("Nand.txt")));
    DeviceCatalogue catalogue;
    catalogue.setLog(sink);
    catalogue.load(folder);
    QCOMPARE(catalogue.nand()->count(), 1);
    QCOMPARE(catalogue.spi()->count(), 1);
    QVERIFY(log.isEmpty());

    // A file beyond the size limit is not read, and the log says so.
    QFile huge(folder + QStringLiteral("SPI.txt"));
    QVERIFY(huge.open(QIODevice::WriteOnly));
    QCOMPARE(huge.write(spiLines), spiLines.size());
    QVERIFY(huge.resize(CDeviceFamily::MaxFileSize + 1));
    huge.close();
    catalogue.load(folder);
    QCOMPARE(catalogue.spi()->count(), 1);
    QCOMPARE(log.size(), 1);
    QVERIFY2(log.first().contains(QStringLiteral("SPI.txt")), qPrintable(log.first()));

    // At the limit it is read (the rest is zero bytes, which end the text).
    QVERIFY(QFile::resize(folder + QStringLiteral("SPI.txt"), CDeviceFamily::MaxFileSize));
    catalogue.load(folder);
    QCOMPARE(catalogue.spi()->count(), 4);
    QCOMPARE(log.size(), 1);
}

void TestDeviceCatalogue::nandDuplicatesFirstWins()
{
    CDeviceFamilyNand family;
    QVERIFY(family.addLine(nandLine(QStringLiteral("Dup"), QStringLiteral("ID1=\"ech\","))));
    // Names are compared after upper-casing: "dup" is "DUP" again.
    QVERIFY(!family.addLine(
        nandLine(QStringLiteral("dup"), QStringLiteral("ID1=\"adh\","), QStringLiteral("100h"))));
    // A line may not take the placeholder's name.
    QVERIFY(!family.addLine(nandLine(QStringLiteral("NAND OFNI"), QStringLiteral("ID1=\"98h\","))));
    QVERIFY(family.addLine(nandLine(QStringLiteral("OTHER"), QStringLiteral("ID1=\"98h\","))));
    QCOMPARE(names(family), (QStringList{"NAND OFNI", "DUP", "OTHER"}));
    QCOMPARE(family.duplicateLines(), 2);
    const auto *kept =
        static_cast<const CDeviceItemNand *>(family.findByName(QStringLiteral("DUP")));
    QCOMPARE(kept->size, 0x8400000ull);
    QCOMPARE(kept->id[0], quint8(0xEC));
    QVERIFY(family.findByName(QStringLiteral("NAND OFNI")) == family.placeholder());
}

void TestDeviceCatalogue::spiDuplicatesAreKept()
{
    const ConfigFolder folder(
        QByteArray(),
        (spiLine(QStringLiteral("TWIN"), QStringLiteral("ID1=\"efh\","), QStringLiteral("FIRST")) +
         QLatin1Char('\n') +
         spiLine(QStringLiteral("TWIN"), QStringLiteral("ID1=\"c2h\","), QStringLiteral("SECOND")))
            .toUtf8());
    DeviceCatalogue catalogue;
    catalogue.load(folder.path());
    QCOMPARE(names(*catalogue.spi()), (QStringList{"SPI SFDP", "TWIN", "TWIN"}));
    QCOMPARE(catalogue.findByName(QStringLiteral("TWIN"))->manufacturer, QStringLiteral("FIRST"));
    QStringList lines;
    catalogue.printAll([&lines](const QString &line) { lines << line; }, true);
    QCOMPARE(lines.count(QStringLiteral(" TWIN")), 2);
    QVERIFY(lines.contains(QStringLiteral("  Size = 400000h  SECOND")));
}

void TestDeviceCatalogue::findByNameIsExact()
{
    const ConfigFolder folder(nandLines + nandLine(QStringLiteral("BOTH"), QString()).toUtf8(),
                              spiLines + spiLine(QStringLiteral("BOTH"), QString()).toUtf8());
    DeviceCatalogue catalogue;
    catalogue.load(folder.path());
    QVERIFY(catalogue.findByName(QStringLiteral("W25Q64FV")));
    QCOMPARE(catalogue.findByName(QStringLiteral("W25Q64FV"))->kind, 1);
    // Names are stored in upper case, so a lower-case lookup finds nothing.
    QVERIFY(!catalogue.findByName(QStringLiteral("w25q64fv")));
    QVERIFY(!catalogue.findByName(QStringLiteral("W25Q64")));
    QVERIFY(!catalogue.findByName(QString()));
    QCOMPARE(catalogue.findByName(QStringLiteral("NAND OFNI")), catalogue.nand()->placeholder());
    QCOMPARE(catalogue.findByName(QStringLiteral("SPI SFDP")), catalogue.spi()->placeholder());
    // The NAND family is asked first.
    QCOMPARE(catalogue.findByName(QStringLiteral("BOTH"))->kind, 0);
}

void TestDeviceCatalogue::findByIdNand()
{
    const ConfigFolder folder(nandLines, spiLines);
    DeviceCatalogue catalogue;
    catalogue.load(folder.path());
    int asked = 0;
    catalogue.setChooser([&asked](const QStringList &) { return ++asked, 0; });

    const QByteArray k9f1g08 = bytes({0xEC, 0xF1, 0x00, 0x95, 0x40, 0x00, 0x00});
    QCOMPARE(catalogue.findById(0, k9f1g08, false)->name, QStringLiteral("K9F1G08U0B"));
    QCOMPARE(catalogue.findById(0, k9f1g08, true)->name, QStringLiteral("K9F1G08U0B"));
    // Two ID bytes are enough for the small-page part, whatever follows.
    QCOMPARE(catalogue.findById(0, bytes({0xEC, 0x76, 0x5A, 0x3F, 0, 0, 0}), true)->name,
             QStringLiteral("K9F1208U0C"));
    QVERIFY(!catalogue.findById(0, bytes({0x2C, 0xDA, 0, 0, 0, 0, 0}), true));
    // A family answers only for its own kind.
    QVERIFY(!catalogue.findById(1, k9f1g08, true));
    QVERIFY(!catalogue.findById(7, k9f1g08, true));
    QCOMPARE(asked, 0);

    // The placeholder is never found by ID.
    auto *onfi = static_cast<CDeviceItemNand *>(catalogue.nand()->placeholder());
    onfi->id = {0x2C, 0xDA, 0x90, 0x95, 0x06, 0xFF};
    onfi->idKnown = {1, 1, 1, 1, 1, 0};
    QVERIFY(!catalogue.findById(0, bytes({0x2C, 0xDA, 0x90, 0x95, 0x06, 0, 0}), true));
}

void TestDeviceCatalogue::findByIdNandChoice()
{
    CDeviceFamilyNand family;
    const QString ids = QStringLiteral("ID1=\"98h\",ID2=\"dch\",");
    QVERIFY(family.addLine(nandLine(QStringLiteral("FIRST"), ids)));
    QVERIFY(family.addLine(nandLine(QStringLiteral("UNRELATED"), QStringLiteral("ID1=\"adh\","))));
    QVERIFY(family.addLine(nandLine(QStringLiteral("SECOND"), ids)));
    QVERIFY(family.addLine(nandLine(QStringLiteral("THIRD"), ids)));
    const QByteArray id = bytes({0x98, 0xDC, 0x90, 0x26, 0x76, 0x16, 0x08});

    // Without a chooser the first match is taken.
    QCOMPARE(family.findById(0, id, true)->name, QStringLiteral("FIRST"));

    QList<QStringList> offered;
    int answer = 0;
    family.setChooser([&](const QStringList &names) {
        offered << names;
        return answer;
    });
    // Without collectAll the first is returned and nobody is asked.
    QCOMPARE(family.findById(0, id, false)->name, QStringLiteral("FIRST"));
    QVERIFY(offered.isEmpty());

    QCOMPARE(family.findById(0, id, true)->name, QStringLiteral("FIRST"));
    QCOMPARE(offered, (QList<QStringList>{{"FIRST", "SECOND", "THIRD"}}));
    answer = 2;
    QCOMPARE(family.findById(0, id, true)->name, QStringLiteral("THIRD"));
    answer = -1; // Cancel
    QVERIFY(!family.findById(0, id, true));
    answer = 3; // no such row
    QVERIFY(!family.findById(0, id, true));
    QCOMPARE(offered.size(), 4);

    // One match needs no choice.
    offered.clear();
    QCOMPARE(family.findById(0, bytes({0xAD, 0, 0, 0, 0, 0, 0}), true)->name,
             QStringLiteral("UNRELATED"));
    QVERIFY(offered.isEmpty());

    // Through the catalogue, whose chooser reaches the NAND family.
    const ConfigFolder folder((nandLine(QStringLiteral("A1"), ids) + QLatin1Char('\n') +
                               nandLine(QStringLiteral("A2"), ids) + QLatin1Char('\n') +
                               nandLine(QStringLiteral("A3"), ids))
                                  .toUtf8(),
                              QByteArray());
    DeviceCatalogue catalogue;
    catalogue.setChooser([&](const QStringList &names) {
        offered << names;
        return 1;
    });
    catalogue.load(folder.path());
    QCOMPARE(catalogue.findById(0, id, true)->name, QStringLiteral("A2"));
    QCOMPARE(offered, (QList<QStringList>{{"A1", "A2", "A3"}}));
}

void TestDeviceCatalogue::findByIdSpi()
{
    const ConfigFolder folder(nandLines, spiLines);
    DeviceCatalogue catalogue;
    catalogue.load(folder.path());
    int asked = 0;
    catalogue.setChooser([&asked](const QStringList &) { return ++asked, 1; });
    const QByteArray w25q64 = bytes({0xEF, 0x40, 0x17});
    // The first match, also with collectAll: the SPI family never asks.
    QCOMPARE(catalogue.findById(1, w25q64, true)->name, QStringLiteral("W25Q64FV"));
    QCOMPARE(catalogue.findById(1, w25q64, false)->name, QStringLiteral("W25Q64FV"));
    QCOMPARE(asked, 0);
    QVERIFY(!catalogue.findById(0, w25q64, true));
    QVERIFY(!catalogue.findById(1, bytes({0xFF, 0xFF, 0xFF}), true));
    QVERIFY(!catalogue.findById(1, bytes({0xEF, 0x40}), true));

    // The SFDP placeholder comes first once the engine has given it an ID.
    auto *sfdp = static_cast<CDeviceItemSPIFlash *>(catalogue.spi()->placeholder());
    sfdp->id = {0xEF, 0x40, 0x17};
    QCOMPARE(catalogue.findById(1, w25q64, false), sfdp);
}

void TestDeviceCatalogue::reportDuplicates()
{
    const ConfigFolder folder(nandLines, spiLines);
    DeviceCatalogue catalogue;
    catalogue.load(folder.path());
    QStringList lines;
    const TextSink sink = [&lines](const QString &line) { lines << line; };

    catalogue.reportDuplicates(sink, 1, bytes({0xEF, 0x40, 0x17}));
    QCOMPARE(lines, (QStringList{"Duplcaite found", "W25Q64FV", "W25Q64JV"}));

    // One match, no match, the other kind: nothing.
    lines.clear();
    catalogue.reportDuplicates(sink, 1, bytes({0xC2, 0x20, 0x17}));
    catalogue.reportDuplicates(sink, 1, bytes({0x01, 0x02, 0x03}));
    catalogue.reportDuplicates(sink, 0, bytes({0xEF, 0x40, 0x17, 0, 0, 0, 0}));
    QVERIFY(lines.isEmpty());

    // Every further match adds its display name; the SPI family counts its
    // placeholder, the NAND family does not.
    auto *sfdp = static_cast<CDeviceItemSPIFlash *>(catalogue.spi()->placeholder());
    sfdp->id = {0xEF, 0x40, 0x17};
    sfdp->manufacturer = QStringLiteral("WINBOND");
    catalogue.reportDuplicates(sink, 1, bytes({0xEF, 0x40, 0x17}));
    QCOMPARE(lines, (QStringList{"Duplcaite found", "SPI WINBOND", "W25Q64FV", "W25Q64JV"}));

    lines.clear();
    CDeviceFamilyNand nand;
    auto *onfi = static_cast<CDeviceItemNand *>(nand.placeholder());
    onfi->id = {0xEC, 0xF1, 0, 0, 0, 0};
    onfi->idKnown = {1, 1, 0, 0, 0, 0};
    QVERIFY(
        nand.addLine(nandLine(QStringLiteral("X1"), QStringLiteral("ID1=\"ech\",ID2=\"f1h\","))));
    nand.reportDuplicates(sink, 0, bytes({0xEC, 0xF1, 0, 0, 0, 0, 0}));
    QVERIFY(lines.isEmpty());
    QVERIFY(nand.addLine(nandLine(QStringLiteral("X2"), QStringLiteral("ID1=\"ech\","))));
    QVERIFY(
        nand.addLine(nandLine(QStringLiteral("X3"), QStringLiteral("ID1=\"ech\",ID2=\"f1h\","))));
    nand.reportDuplicates(sink, 0, bytes({0xEC, 0xF1, 0, 0, 0, 0, 0}));
    QCOMPARE(lines, (QStringList{"Duplcaite found", "X1", "X2", "X3"}));
}

void TestDeviceCatalogue::reportDuplicatesUsesTheTextTable()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    const QString file = home.path() + QStringLiteral("/KVTest.txt");
    TestFiles::write(file, "LanguageName=Test\n0149=\"Doppelt\";\n");
    uiText().loadTranslation(file);
    CDeviceFamilySPI family;
    QVERIFY(family.addText(spiLines) == 3);
    QStringList lines;
    family.reportDuplicates([&lines](const QString &line) { lines << line; }, 1,
                            bytes({0xEF, 0x40, 0x17}));
    QCOMPARE(lines, (QStringList{"Doppelt", "W25Q64FV", "W25Q64JV"}));
}

void TestDeviceCatalogue::installShippedOnce()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    const QString config = QDir::currentPath() + QStringLiteral("/config/");
    QVERIFY(!QFile::exists(config));
    QCOMPARE(CatalogueFiles::installShipped(), (QStringList{"Nand.txt", "SPI.txt"}));
    for (const char *name : {"Nand.txt", "SPI.txt"}) {
        const QString installed = config + QLatin1String(name);
        QCOMPARE(TestFiles::read(installed),
                 TestFiles::read(CatalogueFiles::shippedFolder() + QLatin1Char('/') +
                                 QLatin1String(name)));
        QVERIFY(QFileInfo(installed).isWritable());
    }
    QVERIFY(CatalogueFiles::installShipped().isEmpty());
}

void TestDeviceCatalogue::installShippedLeavesUserFiles()
{
    QTemporaryDir dir;
    const QString config = dir.path() + QStringLiteral("/config/");
    QVERIFY(QDir().mkpath(config));
    const QByteArray mine = "Name=\"MY PART\",BlockSize=\"40h\"\n";
    TestFiles::write(config + QStringLiteral("Nand.txt"), mine);
    // A dangling link is left alone too: nothing is written through it.
    const QString target = dir.path() + QStringLiteral("/elsewhere.txt");
    QVERIFY(QFile::link(target, config + QStringLiteral("SPI.txt")));
    QVERIFY(CatalogueFiles::installShipped(config).isEmpty());
    QCOMPARE(TestFiles::read(config + QStringLiteral("Nand.txt")), mine);
    QVERIFY(!QFile::exists(target));

    QVERIFY(QFile::remove(config + QStringLiteral("SPI.txt")));
    QCOMPARE(CatalogueFiles::installShipped(config), QStringList{QStringLiteral("SPI.txt")});
    QCOMPARE(TestFiles::read(config + QStringLiteral("Nand.txt")), mine);
}

void TestDeviceCatalogue::shippedCatalogueSelfCheck()
{
    const QString shipped = CatalogueFiles::shippedFolder() + QLatin1Char('/');
    const QByteArray nandFile = TestFiles::read(shipped + QStringLiteral("Nand.txt"));
    const QByteArray spiFile = TestFiles::read(shipped + QStringLiteral("SPI.txt"));
    const QStringList nandDevices = deviceLines(nandFile);
    const QStringList spiDevices = deviceLines(spiFile);
    QCOMPARE(nandDevices.size(), 103);
    QCOMPARE(spiDevices.size(), 610);

    for (const QString &line : nandDevices) {
        CDeviceItemNand item;
        QVERIFY2(item.parseLine(line), qPrintable(line));
        CDeviceItemNand back;
        QVERIFY2(back.parseLine(item.catalogueLine()), qPrintable(item.catalogueLine()));
        QCOMPARE(back.name, item.name);
        QCOMPARE(back.manufacturer, item.manufacturer);
        QCOMPARE(back.size, item.size);
        QCOMPARE(back.pageSize, item.pageSize);
        QCOMPARE(back.blockSize, item.blockSize);
        QCOMPARE(back.ce, item.ce);
        // The leading known ID bytes are written.
        for (int i = 0; i < CDeviceItemNand::IdBytes && item.idKnown[i]; ++i) {
            QCOMPARE(back.idKnown[i], quint8(1));
            QCOMPARE(back.id[i], item.id[i]);
        }
        QCOMPARE(back.catalogueLine(), item.catalogueLine());
    }
    for (const QString &line : spiDevices) {
        CDeviceItemSPIFlash item;
        QVERIFY2(item.parseLine(line), qPrintable(line));
        CDeviceItemSPIFlash back;
        QVERIFY2(back.parseLine(item.catalogueLine()), qPrintable(item.catalogueLine()));
        QCOMPARE(back.name, item.name);
        QCOMPARE(back.manufacturer, item.manufacturer);
        QCOMPARE(back.id, item.id);
        QCOMPARE(back.size, item.size);
        QCOMPARE(back.sectorSize, item.sectorSize);
        QCOMPARE(back.sectorNum, item.sectorNum);
        QCOMPARE(back.io, item.io);
        QCOMPARE(back.catalogueLine(), item.catalogueLine());
    }

    // Loaded as files, every device line is kept and only the heading dropped.
    const ConfigFolder folder(nandFile, spiFile);
    DeviceCatalogue catalogue;
    catalogue.load(folder.path());
    QCOMPARE(catalogue.nand()->count(), 1 + 103);
    QCOMPARE(catalogue.spi()->count(), 1 + 610);
    QCOMPARE(catalogue.nand()->rejectedLines(), 1);
    QCOMPARE(catalogue.nand()->duplicateLines(), 0);
    QCOMPARE(catalogue.spi()->rejectedLines(), 1);
}

void TestDeviceCatalogue::shippedCatalogueHasCommonParts()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    CatalogueFiles::installShipped();
    DeviceCatalogue catalogue;
    catalogue.load();

    const auto *w25q64 =
        dynamic_cast<const CDeviceItemSPIFlash *>(catalogue.findByName(QStringLiteral("W25Q64FV")));
    QVERIFY(w25q64);
    QCOMPARE(w25q64->size, 0x800000ull);
    QVERIFY(w25q64->matchId(bytes({0xEF, 0x40, 0x17})));
    QVERIFY(catalogue.findById(1, bytes({0xEF, 0x40, 0x17}), false));

    const auto *k9f1g08 =
        dynamic_cast<const CDeviceItemNand *>(catalogue.findByName(QStringLiteral("K9F1G08U0B")));
    QVERIFY(k9f1g08);
    QCOMPARE(k9f1g08->pageSize, 0x840u);
    QCOMPARE(k9f1g08->blockSize, 0x40);
    QCOMPARE(catalogue.findById(0, bytes({0xEC, 0xF1, 0x00, 0x95, 0x40, 0, 0}), false), k9f1g08);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestDeviceCatalogue)
#include "tst_device_catalogue.moc"
