#include "BadBlockTable.h"
#include "CDeviceItemNand.h"
#include "FileSelection.h"
#include "ReadVote.h"
#include "SmartCopyPlan.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

// What the NAND tools decide, apart from the programmer: how smart copy lays
// a source out on a target with other bad blocks, how the read vote decides
// a byte, and the table file.
namespace {

constexpr quint64 BlockBytes = 16;

// A device of `blocks` blocks of 16 bytes (one 16-byte page each).
CDeviceItemNand device(quint32 blocks)
{
    CDeviceItemNand record;
    record.pageSize = 16;
    record.blockSize = 1;
    record.size = quint64(blocks) * BlockBytes;
    return record;
}

// Blocks as letters: "SSXS" - a table state per block from a string of
// 'g' good, 'b' bad, '.' unknown.
void setStates(BadBlockTable &table, const QString &states)
{
    for (int i = 0; i < states.size(); ++i)
        table.setState(quint32(i), states[i] == 'b'   ? BadBlockTable::Bad
                                   : states[i] == 'g' ? BadBlockTable::Good
                                                      : BadBlockTable::Unknown);
}

// The target as "S0 X S1 E ...": S<n> source block n, X a bad target block,
// E an erased block.
QString layout(const std::vector<int> &tags)
{
    QStringList names;
    for (const int tag : tags)
        names << (tag == SmartCopyPlan::BadTarget ? QStringLiteral("X")
                  : tag == SmartCopyPlan::Erased  ? QStringLiteral("E")
                                                  : QStringLiteral("S%1").arg(tag));
    return names.join(QLatin1Char(' '));
}

} // namespace

class TestNandTools : public QObject
{
    Q_OBJECT
private slots:
    void smartCopyLayouts_data();
    void smartCopyLayouts();
    void readVote_data();
    void readVote();
    void readVoteStopsAtSeveralBits();
    void tableFile_data();
    void tableFile();
    void fileSelection();
};

void TestNandTools::smartCopyLayouts_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("erased"); // 'e' marks an erased source block
    QTest::addColumn<quint32>("start");
    QTest::addColumn<bool>("copyBad");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no bad blocks: in step") << "gggggg"
                                            << "gggggg"
                                            << "......" << 0u << false << "S0 S1 S2 S3 S4 S5";
    QTest::newRow("target 1 bad, source 3 and 4 erased")
        << "gggggggg"
        << "gbgggggg"
        << "...ee..." << 0u << false << "S0 X S1 S2 S4 S5 S6 S7";
    QTest::newRow("source 1 bad, source 3 erased") << "gbgggg"
                                                   << "gggggg"
                                                   << "...e.." << 0u << false << "S0 S2 E E S4 S5";
    QTest::newRow("source 2 and target 2 bad") << "ggbggg"
                                               << "ggbggg"
                                               << "......" << 0u << false << "S0 S1 X S3 S4 S5";
    QTest::newRow("copy source bad blocks") << "gbgggg"
                                            << "gggggg"
                                            << "......" << 0u << true << "S0 S1 S2 S3 S4 S5";
    QTest::newRow("source runs out: the rest erased")
        << "gbbbgg"
        << "gggggg"
        << "......" << 0u << false << "S0 S4 S5 E E E";
    QTest::newRow("every target block bad") << "gggg"
                                            << "bbbb"
                                            << "...." << 0u << false << "X X X X";
    QTest::newRow("window from block 2") << "ggggbggg"
                                         << "gggggbgg"
                                         << "........" << 2u << false << "S0 S1 S3 X S4 S5";
    QTest::newRow("erased run stops before an unscanned target block")
        << "gbgggg"
        << "ggg.gg"
        << "...e.." << 0u << false << "S0 S2 E S4 S5 E";
}

void TestNandTools::smartCopyLayouts()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(QString, erased);
    QFETCH(quint32, start);
    QFETCH(bool, copyBad);
    QFETCH(QString, expected);

    const CDeviceItemNand record = device(quint32(source.size()));
    BadBlockTable sourceTable(record);
    BadBlockTable targetTable(record);
    setStates(sourceTable, source);
    setStates(targetTable, target);
    const quint32 count = quint32(source.size()) - start;
    std::vector<int> tags;
    int reads = 0;
    SmartCopyPlan::build(
        sourceTable, targetTable, {start, count, BlockBytes}, copyBad,
        [&](quint64 offset, quint8 *buffer) {
            ++reads;
            QVERIFY(offset < count * BlockBytes);
            const int block = int(start + offset / BlockBytes);
            std::fill(buffer, buffer + BlockBytes, erased[block] == 'e' ? 0xFF : quint8(block));
        },
        [&](int tag) { tags.push_back(tag); });
    QCOMPARE(layout(tags), expected);
    QCOMPARE(tags.size(), size_t(count));
    QVERIFY(reads <= int(count));
}

void TestNandTools::readVote_data()
{
    QTest::addColumn<quint8>("image");
    QTest::addColumn<QByteArray>("reads");
    QTest::addColumn<quint8>("decided");
    QTest::addColumn<QStringList>("logged");
    QTest::addColumn<bool>("stops");

    QTest::newRow("reads agree") << quint8(0x5A) << QByteArray("\x5A\x5A") << quint8(0x5A)
                                 << QStringList() << false;
    QTest::newRow("one bit, the reads win") << quint8(0x5A) << QByteArray("\x5B\x5B")
                                            << quint8(0x5B) << QStringList{" 1003 use 5B"} << false;
    QTest::newRow("one bit, the image wins")
        << quint8(0x5A) << QByteArray("\x5B\x5A") << quint8(0x5A) << QStringList{" 1003 use 5A"}
        << false;
    QTest::newRow("a tie keeps the image") << quint8(0x5A) << QByteArray("\x5B\x5A\x5B")
                                           << quint8(0x5A) << QStringList{" 1003 use 5A"} << false;
    QTest::newRow("a third value")
        << quint8(0x5A) << QByteArray("\x5B\x58") << quint8(0x5A)
        << QStringList{"Compare data Failed address 1003 ,5A,58", " 1003 use 5A"} << true;
    QTest::newRow("two bits") << quint8(0x00) << QByteArray("\x03\x00") << quint8(0x00)
                              << QStringList{"Compare data Failed address 1003 ,00, 03"} << true;
}

void TestNandTools::readVote()
{
    QFETCH(quint8, image);
    QFETCH(QByteArray, reads);
    QFETCH(quint8, decided);
    QFETCH(QStringList, logged);
    QFETCH(bool, stops);

    // Byte 3 of a block at 0x1000 differs; byte 5 agrees everywhere.
    std::vector<quint8> block(8, 0x11);
    block[3] = image;
    std::vector<std::vector<quint8>> readBlocks;
    std::vector<const quint8 *> readData;
    for (const char value : reads) {
        readBlocks.emplace_back(8, 0x11);
        readBlocks.back()[3] = quint8(value);
    }
    for (const auto &read : readBlocks)
        readData.push_back(read.data());
    QStringList lines;
    const bool stop = ReadVote::decideBlock(block.data(), readData, block.size(), 0x1000,
                                            [&](const QString &line) { lines << line; });
    QCOMPARE(block[3], decided);
    QCOMPARE(block[5], quint8(0x11));
    QCOMPARE(lines, logged);
    QCOMPARE(stop, stops);
}

void TestNandTools::readVoteStopsAtSeveralBits()
{
    // The rest of the block after a two-bit difference is not examined.
    std::vector<quint8> block{0x00, 0x10, 0x20};
    const std::vector<quint8> read{0x03, 0x11, 0x21};
    QStringList lines;
    QVERIFY(ReadVote::decideBlock(block.data(), {read.data(), read.data()}, block.size(), 0,
                                  [&](const QString &line) { lines << line; }));
    QCOMPARE(lines, QStringList{"Compare data Failed address 0 ,00, 03"});
    QCOMPARE(block, (std::vector<quint8>{0x00, 0x10, 0x20}));
}

void TestNandTools::tableFile_data()
{
    QTest::addColumn<int>("extraBytes");
    QTest::addColumn<bool>("loads");
    QTest::newRow("exactly count x 4") << 0 << true;
    QTest::newRow("one byte more") << 1 << false;
    QTest::newRow("one byte less") << -1 << false;
}

void TestNandTools::tableFile()
{
    QFETCH(int, extraBytes);
    QFETCH(bool, loads);
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("table.bbt"));
    const CDeviceItemNand record = device(5);
    BadBlockTable saved(record);
    setStates(saved, QStringLiteral("gbg.b"));
    QVERIFY(saved.save(name));
    QFile file(name);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QCOMPARE(file.size(), qint64(20));
    QCOMPARE(file.readAll().mid(4, 4), QByteArray("\x02\x00\x00\x00", 4));
    QVERIFY(file.resize(20 + extraBytes));
    file.close();

    BadBlockTable loaded(record);
    setStates(loaded, QStringLiteral("ggggg"));
    QCOMPARE(loaded.load(name), loads);
    QCOMPARE(loaded.states(), loads ? saved.states() : std::vector<qint32>(5, BadBlockTable::Good));
}

void TestNandTools::fileSelection()
{
    FileSelection selection(QStringLiteral("/img/a.bin"));
    QVERIFY(!selection.add(QString()));
    QVERIFY(!selection.add(QStringLiteral("/img/a.bin")));
    QVERIFY(selection.add(QStringLiteral("/img/b.bin")));
    QVERIFY(!selection.add(QStringLiteral("/img/b.bin")));
    QVERIFY(selection.add(QStringLiteral("/img/c.bin")));
    selection.remove(5);
    selection.remove(0);
    QCOMPARE(selection.files(), QStringList{"/img/c.bin"});
}

QTEST_GUILESS_MAIN(TestNandTools)
#include "tst_nand_tools.moc"
