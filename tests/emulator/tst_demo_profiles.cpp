#include "TestFiles.h"
#include "TestHome.h"

#include "ChipBoard.h"
#include "ConfigReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace kvemu;

// The demos tools/run starts: each profile reads, names a chip of the
// shipped catalogue and has its script; its chip starts with readable
// text and keeps its factory bad blocks.
class TestDemoProfiles : public QObject
{
    Q_OBJECT
private slots:
    void demoIsComplete_data();
    void demoIsComplete();
    void existingImageKeepsItsContents();
};

namespace {

const QString Demos = QStringLiteral(KORVANE_SOURCE_DIR "/tools/demo/");

QByteArray contents(ChipBoard &board, std::uint64_t offset, std::size_t length)
{
    QByteArray bytes(qsizetype(length), '\0');
    board.contents(0, offset,
                   std::span<std::uint8_t>(reinterpret_cast<std::uint8_t *>(bytes.data()), length));
    return bytes;
}

} // namespace

void TestDemoProfiles::demoIsComplete_data()
{
    QTest::addColumn<QString>("name");
    const QStringList profiles = QDir(Demos).entryList({QStringLiteral("*.ini")}, QDir::Files);
    QVERIFY(profiles.contains(QStringLiteral("nand.ini")));
    QVERIFY(profiles.contains(QStringLiteral("spi.ini")));
    for (const QString &profile : profiles)
        QTest::newRow(qPrintable(profile)) << profile.chopped(4);
}

void TestDemoProfiles::demoIsComplete()
{
    QFETCH(QString, name);
    const QString profile = QString::fromLatin1(TestFiles::read(Demos + name + ".ini"));
    const QString target = QRegularExpression(QStringLiteral("^; *target *= *(\\S+)$"),
                                              QRegularExpression::MultilineOption)
                               .match(profile)
                               .captured(1);
    QVERIFY2(!target.isEmpty(), "no \"; target = \" line");
    const QString record = QStringLiteral("Name=\"") + target + QLatin1Char('"');
    const QString catalogue =
        QString::fromLatin1(TestFiles::read(KORVANE_SOURCE_DIR "/resources/catalogue/Nand.txt") +
                            TestFiles::read(KORVANE_SOURCE_DIR "/resources/catalogue/SPI.txt"));
    QVERIFY2(catalogue.contains(record), qPrintable(target));
    const QStringList script = QString::fromLatin1(TestFiles::read(Demos + name + ".usp"))
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(script.size() > 2);
    // Run from the window's console, the demo leaves the window open; an
    // unattended run ends with the script.
    QVERIFY(!script.contains(QStringLiteral("exit")));

    const EmulatorConfig config = ConfigReader::readFile((Demos + name + ".ini").toStdString());
    QVERIFY(config.board.demoData);
    ChipBoard board(config.board);
    QVERIFY(contents(board, 0, 64).startsWith("Korvane demo"));
    QCOMPARE(contents(board, 0, 64).right(2), QByteArray("\r\n"));
    if (board.family() != ChipFamily::Nand)
        return;
    const chips::NandChipConfig &chip = board.nand(0)->config();
    QVERIFY(!chip.factoryBadBlocks.empty());
    const std::uint64_t page = chip.pageBytes();
    const std::uint64_t block = page * chip.pagesPerBlock;
    QCOMPARE(contents(board, chip.dataBytes, chip.spareBytes),
             QByteArray(int(chip.spareBytes), char(0xFF)));
    for (const std::uint32_t bad : chip.factoryBadBlocks)
        QCOMPARE(contents(board, bad * block, page), QByteArray(int(page), '\0'));
    // The chip it swaps with starts erased.
    QVERIFY(config.secondBoard);
    ChipBoard second(*config.secondBoard);
    QCOMPARE(contents(second, 0, 64), QByteArray(64, char(0xFF)));
}

void TestDemoProfiles::existingImageKeepsItsContents()
{
    QTemporaryDir folder;
    const std::string profile = "[chip]\nfamily = spi\nid = EF 40 14\nsize = 1M\n"
                                "image = chip.img\ndemo_data = yes\n";
    const EmulatorConfig config = ConfigReader::read(profile, folder.path().toStdString());
    {
        ChipBoard board(config.board);
        QVERIFY(contents(board, 0x40, 64).startsWith("Korvane demo"));
        const std::uint8_t mine[] = {1, 2, 3};
        board.setContents(0, 0, mine);
    }
    ChipBoard again(config.board);
    QCOMPARE(contents(again, 0, 3), QByteArray("\1\2\3"));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestDemoProfiles)
#include "tst_demo_profiles.moc"
