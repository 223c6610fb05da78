#include "CMemoryNode.h"
#include "NodeTestSupport.h"
#include "ProgramObjects.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

// The huge-allocation case expects the allocator to say no instead of
// aborting the process, also in the sanitizer builds.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1";
}
extern "C" const char *__tsan_default_options()
{
    return "allocator_may_return_null=1";
}

class TestMemoryNode : public QObject
{
    Q_OBJECT
private slots:
    void constructionFillsAndDescribes();
    void containsBoundaries();
    void memoryThatCannotBeHadLeavesAnEmptyNode();
    void setWindow_data();
    void setWindow();

    void readInsideAndAtTheEnd();
    void readPastTheEndIsAllFill_data();
    void readPastTheEndIsAllFill();

    void setNibbleAndByte();
    void setOutsideTheNodeIsIgnored();

    void writeInsideWithBase();
    void writeIsCutAtTheEnd();
    void writeOutsideIsIgnored_data();
    void writeOutsideIsIgnored();

    void fillReportsUnlessEmpty();

    void loadShorterAndLongerFiles();
    void loadAnnouncesOnlyWhenAsked();
    void loadOfMissingFileIsSilent();

    void saveWritesEveryByte();
    void saveFailuresSayFileError();

    void compareEqualAndFirstMismatch();
    void compareIsCutAtTheEnd();
    void compareUsesAddressesFromBase();
    void compareOverlapOrNothing_data();
    void compareOverlapOrNothing();

    void residentLeftovers();
    void textsFollowTheTranslation();
    void worksWithoutHooks();

private:
    QTemporaryDir m_dir;
};

void TestMemoryNode::constructionFillsAndDescribes()
{
    CMemoryNode node(QStringLiteral("SPI"), 0, 4096, 0xFF);
    QCOMPARE(node.name(), QStringLiteral("SPI"));
    QCOMPARE(node.GetSize(), quint64(4096));
    QCOMPARE(node.GetBase(), quint64(0));
    QCOMPARE(node.fillValue(), quint8(0xFF));
    QVERIFY(node.IsResident());
    QVERIFY(node.fileName().isEmpty());
    QCOMPARE(readNode(node, 0, 4096), QByteArray(4096, char(0xFF)));

    CMemoryNode zeros(QStringLiteral("Z"), 0x100, 64, 0x00);
    QCOMPARE(readNode(zeros, 0, 64), QByteArray(64, char(0)));
    QCOMPARE(zeros.GetBase(), quint64(0x100));

    // The node starts unclaimed.
    QVERIFY(!node.IsClaimed());
    QVERIFY(node.TryLock());
    node.Unlock();
}

void TestMemoryNode::containsBoundaries()
{
    CMemoryNode node(QStringLiteral("N"), 0x1000, 0x200, 0xFF);
    QVERIFY(!node.Contains(0));
    QVERIFY(!node.Contains(0xFFF));
    QVERIFY(node.Contains(0x1000));
    QVERIFY(node.Contains(0x11FF));
    QVERIFY(!node.Contains(0x1200));
    QVERIFY(!node.Contains(~quint64(0)));

    CMemoryNode empty(QStringLiteral("E"), 0, 0, 0xFF);
    QVERIFY(!empty.Contains(0));
    QCOMPARE(empty.GetSize(), quint64(0));

    // A base near the top of the address space does not wrap around.
    CMemoryNode high(QStringLiteral("H"), ~quint64(0) - 15, 16, 0xFF);
    QVERIFY(high.Contains(~quint64(0)));
    QVERIFY(!high.Contains(0));
}

void TestMemoryNode::memoryThatCannotBeHadLeavesAnEmptyNode()
{
    // No machine has an exbibyte: the node must not claim a size it lacks.
    CMemoryNode node(QStringLiteral("Huge"), 0, quint64(1) << 60, 0xFF);
    QCOMPARE(node.GetSize(), quint64(0));
    QVERIFY(!node.Contains(0));
    const QByteArray bytes = readNode(node, 0, 16);
    QCOMPARE(bytes, QByteArray(16, char(0xFF)));
    node.SetByte(0, 1);
    quint8 value = 7;
    node.Write(&value, 0, 1);
    node.Fill();
}

void TestMemoryNode::setWindow_data()
{
    // Every node starts at 0x1000 with `from` bytes of a pattern.
    QTest::addColumn<quint64>("from");
    QTest::addColumn<quint64>("base");
    QTest::addColumn<quint64>("size");
    QTest::addColumn<quint64>("expectedSize");
    QTest::addColumn<bool>("keepsBytes");
    QTest::addColumn<int>("changes");
    QTest::newRow("same window") << quint64(0x100) << quint64(0x1000) << quint64(0x100)
                                 << quint64(0x100) << true << 0;
    QTest::newRow("new base") << quint64(0x100) << quint64(0x2000) << quint64(0x100)
                              << quint64(0x100) << true << 1;
    QTest::newRow("grows") << quint64(0x100) << quint64(0) << quint64(0x400) << quint64(0x400)
                           << false << 1;
    QTest::newRow("shrinks") << quint64(0x100) << quint64(0x1000) << quint64(0x10) << quint64(0x10)
                             << false << 1;
    QTest::newRow("to empty") << quint64(0x100) << quint64(0x1000) << quint64(0) << quint64(0)
                              << false << 1;
    QTest::newRow("from empty") << quint64(0) << quint64(0x1000) << quint64(0x40) << quint64(0x40)
                                << false << 1;
    // No machine has an exbibyte: the node ends up empty, not crashed.
    QTest::newRow("memory that cannot be had")
        << quint64(0x100) << quint64(0x1000) << (quint64(1) << 60) << quint64(0) << false << 1;
}

void TestMemoryNode::setWindow()
{
    QFETCH(quint64, from);
    QFETCH(quint64, base);
    QFETCH(quint64, size);
    QFETCH(quint64, expectedSize);
    QFETCH(bool, keepsBytes);
    QFETCH(int, changes);
    CMemoryNode node(QStringLiteral("SPI"), 0x1000, from, 0xA5);
    const QByteArray before = pattern(qint64(from));
    node.Write(u8(before), 0x1000, quint32(from));
    NodeRecorder recorder(node);

    node.SetWindow(base, size);
    QCOMPARE(recorder.changes(), changes);
    QCOMPARE(node.GetBase(), base);
    QCOMPARE(node.GetSize(), expectedSize);
    QCOMPARE(node.Contains(base), expectedSize > 0);
    QVERIFY(!node.Contains(base + expectedSize));
    const qint64 shown = qint64(std::min<quint64>(expectedSize, 0x1000));
    QCOMPARE(readNode(node, 0, shown), keepsBytes ? before.left(shown) : QByteArray(shown, '\xA5'));
    QCOMPARE(readNode(node, expectedSize, 4), QByteArray(4, '\xA5'));

    // Writes and compares follow the new window.
    const QByteArray bytes = pattern(16, 7);
    node.Write(u8(bytes), quint32(base), 16);
    if (expectedSize >= 16) {
        QCOMPARE(readNode(node, 0, 16), bytes);
        QVERIFY(node.Compare(base, 16, u8(bytes)));
    } else {
        QVERIFY(!node.Compare(base, 16, u8(bytes)));
    }
}

void TestMemoryNode::readInsideAndAtTheEnd()
{
    CMemoryNode node(QStringLiteral("N"), 0, 256, 0xFF);
    const QByteArray data = pattern(256);
    node.Write(u8(data), 0, 256);
    QCOMPARE(readNode(node, 0, 256), data);
    QCOMPARE(readNode(node, 17, 33), data.mid(17, 33));
    // Exactly up to the last byte is still inside.
    QCOMPARE(readNode(node, 240, 16), data.mid(240, 16));
    QCOMPARE(readNode(node, 255, 1), data.mid(255, 1));
    // A read of nothing leaves the destination alone.
    QCOMPARE(readNode(node, 300, 0), QByteArray());
    QByteArray untouched(4, 'x');
    node.Read(1000, u8(untouched), 0);
    QCOMPARE(untouched, QByteArray(4, 'x'));
}

void TestMemoryNode::readPastTheEndIsAllFill_data()
{
    QTest::addColumn<quint64>("offset");
    QTest::addColumn<int>("length");
    QTest::newRow("16 at size-8") << quint64(256 - 8) << 16;
    QTest::newRow("1 at size") << quint64(256) << 1;
    QTest::newRow("far beyond") << (quint64(1) << 20) << 4;
    QTest::newRow("whole node plus one") << quint64(0) << 257;
    // offset + length wraps around to a small number.
    QTest::newRow("offset near 2^64") << (~quint64(0) - 3) << 8;
}

void TestMemoryNode::readPastTheEndIsAllFill()
{
    QFETCH(quint64, offset);
    QFETCH(int, length);
    CMemoryNode node(QStringLiteral("N"), 0, 256, 0xA5);
    const QByteArray data = pattern(256);
    node.Write(u8(data), 0, 256);
    QCOMPARE(readNode(node, offset, length), QByteArray(length, char(0xA5)));
}

void TestMemoryNode::setNibbleAndByte()
{
    CMemoryNode node(QStringLiteral("N"), 0x40, 16, 0xFF);
    NodeRecorder recorder(node);
    node.SetNibble(3, 0x2, true);
    QCOMPARE(readNode(node, 3, 1), QByteArray(1, char(0x2F)));
    node.SetNibble(3, 0x9, false);
    QCOMPARE(readNode(node, 3, 1), QByteArray(1, char(0x29)));
    // Only four bits of the nibble count.
    node.SetNibble(4, 0xF3, true);
    QCOMPARE(readNode(node, 4, 1), QByteArray(1, char(0x3F)));
    node.SetNibble(4, 0xA0, false);
    QCOMPARE(readNode(node, 4, 1), QByteArray(1, char(0x30)));
    // SetByte takes a node offset, not an address.
    node.SetByte(0, 0x12);
    node.SetByte(15, 0x34);
    QCOMPARE(readNode(node, 0, 1), QByteArray(1, char(0x12)));
    QCOMPARE(readNode(node, 15, 1), QByteArray(1, char(0x34)));
    QCOMPARE(recorder.changes(), 0);
    QVERIFY(recorder.lines().isEmpty());
}

void TestMemoryNode::setOutsideTheNodeIsIgnored()
{
    CMemoryNode node(QStringLiteral("N"), 0, 16, 0xFF);
    CMemoryNode neighbour(QStringLiteral("M"), 0, 16, 0xEE);
    node.SetByte(16, 0);
    node.SetByte(~quint64(0), 0);
    node.SetNibble(16, 0, true);
    node.SetNibble(1u << 31, 0, false);
    QCOMPARE(readNode(node, 0, 16), QByteArray(16, char(0xFF)));
    QCOMPARE(readNode(neighbour, 0, 16), QByteArray(16, char(0xEE)));
}

void TestMemoryNode::writeInsideWithBase()
{
    CMemoryNode node(QStringLiteral("N"), 0x1000, 64, 0xFF);
    NodeRecorder recorder(node);
    const QByteArray data = pattern(8, 100);
    node.Write(u8(data), 0x1010, 8);
    QCOMPARE(readNode(node, 0x10, 8), data);
    QCOMPARE(readNode(node, 0, 16), QByteArray(16, char(0xFF)));
    QCOMPARE(readNode(node, 0x18, 40), QByteArray(40, char(0xFF)));
    QCOMPARE(recorder.changes(), 1);
    QVERIFY(recorder.lines().isEmpty());
}

void TestMemoryNode::writeIsCutAtTheEnd()
{
    CMemoryNode node(QStringLiteral("N"), 0x100, 64, 0xFF);
    CMemoryNode after(QStringLiteral("A"), 0, 16, 0xCC);
    NodeRecorder recorder(node);
    const QByteArray data = pattern(16, 1);
    node.Write(u8(data), 0x100 + 64 - 8, 16);
    QCOMPARE(readNode(node, 56, 8), data.left(8));
    QCOMPARE(readNode(node, 0, 56), QByteArray(56, char(0xFF)));
    QCOMPARE(recorder.changes(), 1);
    QCOMPARE(readNode(after, 0, 16), QByteArray(16, char(0xCC)));
}

void TestMemoryNode::writeOutsideIsIgnored_data()
{
    QTest::addColumn<quint64>("base");
    QTest::addColumn<quint32>("address");
    QTest::newRow("below base") << quint64(0x100) << quint32(0xFF);
    QTest::newRow("at the end") << quint64(0x100) << quint32(0x140);
    QTest::newRow("far beyond") << quint64(0x100) << quint32(0xFFFFFFF0);
    QTest::newRow("base with upper half") << (quint64(1) << 32) << quint32(0);
}

void TestMemoryNode::writeOutsideIsIgnored()
{
    QFETCH(quint64, base);
    QFETCH(quint32, address);
    CMemoryNode node(QStringLiteral("N"), base, 64, 0xFF);
    NodeRecorder recorder(node);
    const QByteArray data = pattern(16);
    node.Write(u8(data), address, 16);
    QCOMPARE(readNode(node, 0, 64), QByteArray(64, char(0xFF)));
    QCOMPARE(recorder.changes(), 0);
}

void TestMemoryNode::fillReportsUnlessEmpty()
{
    CMemoryNode empty(QStringLiteral("E"), 0, 0, 0xFF);
    NodeRecorder emptyRecorder(empty);
    empty.Fill();
    QCOMPARE(emptyRecorder.changes(), 0);

    CMemoryNode node(QStringLiteral("N"), 0, 512, 0x3C);
    NodeRecorder recorder(node);
    const QByteArray data = pattern(512);
    node.Write(u8(data), 0, 512);
    node.Fill();
    QCOMPARE(readNode(node, 0, 512), QByteArray(512, char(0x3C)));
    QCOMPARE(recorder.changes(), 2);
}

void TestMemoryNode::loadShorterAndLongerFiles()
{
    CMemoryNode node(QStringLiteral("N"), 0, 64, 0xFF);
    const QByteArray before = pattern(64, 7);
    node.Write(u8(before), 0, 64);

    const QString shortFile = m_dir.filePath(QStringLiteral("short.bin"));
    writeFile(shortFile, QByteArray(10, 'S'));
    QVERIFY(node.Load(shortFile, false));
    QCOMPARE(readNode(node, 0, 10), QByteArray(10, 'S'));
    // The rest keeps what it held, not the fill value.
    QCOMPARE(readNode(node, 10, 54), before.mid(10));
    QCOMPARE(node.fileName(), shortFile);

    const QString longFile = m_dir.filePath(QStringLiteral("long.bin"));
    const QByteArray longBytes = pattern(100, 3);
    writeFile(longFile, longBytes);
    QVERIFY(node.Load(longFile, false));
    QCOMPARE(readNode(node, 0, 64), longBytes.left(64));
    QCOMPARE(node.GetSize(), quint64(64));

    const QString emptyFile = m_dir.filePath(QStringLiteral("empty.bin"));
    writeFile(emptyFile, QByteArray());
    QVERIFY(node.Load(emptyFile, false));
    QCOMPARE(readNode(node, 0, 64), longBytes.left(64));
}

void TestMemoryNode::loadAnnouncesOnlyWhenAsked()
{
    CMemoryNode node(QStringLiteral("N"), 0, 32, 0xFF);
    NodeRecorder recorder(node);
    const QString file = m_dir.filePath(QStringLiteral("announce.bin"));
    writeFile(file, pattern(32));
    QVERIFY(node.Load(file, false));
    QVERIFY(recorder.lines().isEmpty());
    QCOMPARE(recorder.changes(), 0);
    QVERIFY(node.Load(file, true));
    QCOMPARE(recorder.lines(), QStringList{file + QStringLiteral(" Loaded")});
    QCOMPARE(recorder.changes(), 1);
}

void TestMemoryNode::loadOfMissingFileIsSilent()
{
    CMemoryNode node(QStringLiteral("N"), 0, 32, 0xFF);
    NodeRecorder recorder(node);
    const QString missing = m_dir.filePath(QStringLiteral("no-such-file.bin"));
    QVERIFY(!node.Load(missing, true));
    QVERIFY(recorder.lines().isEmpty());
    QCOMPARE(recorder.changes(), 0);
    QCOMPARE(node.fileName(), missing);
    QCOMPARE(readNode(node, 0, 32), QByteArray(32, char(0xFF)));
    // A folder opens but cannot be read.
    QVERIFY(!node.Load(m_dir.path(), true));
    QVERIFY(recorder.lines().isEmpty());
}

void TestMemoryNode::saveWritesEveryByte()
{
    CMemoryNode node(QStringLiteral("N"), 0x10, 3000, 0xFF);
    NodeRecorder recorder(node);
    const QByteArray data = pattern(3000, 11);
    node.Write(u8(data), 0x10, 3000);
    recorder.clear();

    const QString file = m_dir.filePath(QStringLiteral("saved.bin"));
    writeFile(file, QByteArray(5000, 'x')); // longer: must be truncated
    node.Save(file);
    QCOMPARE(readFile(file), data);
    QCOMPARE(recorder.lines(), QStringList{file + QStringLiteral(" Saved")});
    QCOMPARE(recorder.changes(), 0);

    CMemoryNode empty(QStringLiteral("E"), 0, 0, 0xFF);
    NodeRecorder emptyRecorder(empty);
    const QString emptyFile = m_dir.filePath(QStringLiteral("empty-saved.bin"));
    empty.Save(emptyFile);
    QVERIFY(QFile::exists(emptyFile));
    QCOMPARE(readFile(emptyFile), QByteArray());
    QCOMPARE(emptyRecorder.lines(), QStringList{emptyFile + QStringLiteral(" Saved")});
}

void TestMemoryNode::saveFailuresSayFileError()
{
    CMemoryNode node(QStringLiteral("N"), 0, 4096, 0xFF);
    NodeRecorder recorder(node);
    const QString noFolder = m_dir.filePath(QStringLiteral("missing-folder/out.bin"));
    node.Save(noFolder);
    QCOMPARE(recorder.lines(), QStringList{noFolder + QStringLiteral(" File Error")});

    // A device that is always full: it opens, but no byte can be written.
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full on this system");
    recorder.clear();
    node.Save(QStringLiteral("/dev/full"));
    QCOMPARE(recorder.lines(), QStringList{QStringLiteral("/dev/full File Error")});
}

void TestMemoryNode::compareEqualAndFirstMismatch()
{
    CMemoryNode node(QStringLiteral("N"), 0, 0x2000, 0xFF);
    NodeRecorder recorder(node);
    const QByteArray data = pattern(0x2000);
    node.Write(u8(data), 0, 0x2000);
    recorder.clear();

    QVERIFY(node.Compare(0x100, 0x1000, u8(data) + 0x100));
    QVERIFY(recorder.lines().isEmpty());

    QByteArray chip = data.mid(0x1000, 0x800);
    chip[0x1AB] = char(quint8(chip[0x1AB]) ^ 0x01); // one bit is enough here
    chip[0x300] = char(0x00);
    chip[0x7FF] = char(0x00);
    QVERIFY(!node.Compare(0x1000, 0x800, u8(chip)));
    const QString expected =
        QString::asprintf("Compare data Failed address 11AB ,target %02X,PC memory %02X",
                          quint8(chip[0x1AB]), quint8(data[0x11AB]));
    QCOMPARE(recorder.lines(), QStringList{expected});

    // Address 0 prints without leading zeros as "0", bytes with two digits.
    recorder.clear();
    QByteArray first = data.left(4);
    first[0] = char(0x0A);
    QVERIFY(!node.Compare(0, 4, u8(first)));
    QCOMPARE(recorder.lines(),
             QStringList{QStringLiteral("Compare data Failed address 0 ,target 0A,PC memory 00")});
}

void TestMemoryNode::compareIsCutAtTheEnd()
{
    CMemoryNode node(QStringLiteral("N"), 0, 64, 0xFF);
    NodeRecorder recorder(node);
    QByteArray chip(32, char(0xFF));
    // The last 16 bytes lie beyond the node and are not compared.
    for (int i = 16; i < 32; ++i)
        chip[i] = char(0x00);
    QVERIFY(node.Compare(48, 32, u8(chip)));
    QVERIFY(recorder.lines().isEmpty());
    chip[15] = char(0x00);
    QVERIFY(!node.Compare(48, 32, u8(chip)));
    QCOMPARE(recorder.lines(),
             QStringList{QStringLiteral("Compare data Failed address 3F ,target 00,PC memory FF")});
}

void TestMemoryNode::compareUsesAddressesFromBase()
{
    CMemoryNode node(QStringLiteral("N"), 0x8000, 0x100, 0xFF);
    NodeRecorder recorder(node);
    const QByteArray data = pattern(0x100, 9);
    node.Write(u8(data), 0x8000, 0x100);
    QVERIFY(node.Compare(0x8080, 0x80, u8(data) + 0x80));
    QByteArray chip = data.mid(0x80, 0x80);
    chip[5] = char(quint8(chip[5]) + 1);
    QVERIFY(!node.Compare(0x8080, 0x80, u8(chip)));
    QCOMPARE(recorder.lines().size(), 1);
    QVERIFY2(recorder.lines().first().startsWith(
                 QStringLiteral("Compare data Failed address 8085 ,target ")),
             qPrintable(recorder.lines().first()));
}

void TestMemoryNode::compareOverlapOrNothing_data()
{
    // A node of `size` bytes at 0x1000; the chip data stands for addresses
    // 0xF00 to 0x11FF, with the node's bytes where the node has them and
    // zeros elsewhere, and `flip` (0: none) changed.
    QTest::addColumn<quint64>("size");
    QTest::addColumn<quint64>("address");
    QTest::addColumn<quint64>("length");
    QTest::addColumn<quint64>("flip");
    QTest::addColumn<bool>("equal");
    QTest::addColumn<QString>("line");
    const QString nothing = QStringLiteral("Not enough data");
    QTest::newRow("inside") << quint64(0x100) << quint64(0x1010) << quint64(0x20) << quint64(0)
                            << true << QString();
    QTest::newRow("length 0") << quint64(0x100) << quint64(0x1010) << quint64(0) << quint64(0)
                              << false << nothing;
    QTest::newRow("below the node")
        << quint64(0x100) << quint64(0xF00) << quint64(0x100) << quint64(0) << false << nothing;
    QTest::newRow("at the end") << quint64(0x100) << quint64(0x1100) << quint64(0x10) << quint64(0)
                                << false << nothing;
    QTest::newRow("far past the end")
        << quint64(0x100) << ~quint64(0) - 4 << quint64(32) << quint64(0) << false << nothing;
    QTest::newRow("empty node") << quint64(0) << quint64(0x1000) << quint64(0x10) << quint64(0)
                                << false << nothing;
    QTest::newRow("across the end") << quint64(0x100) << quint64(0x10F0) << quint64(0x20)
                                    << quint64(0x1100) << true << QString();
    QTest::newRow("across the end, mismatch inside")
        << quint64(0x100) << quint64(0x10F0) << quint64(0x20) << quint64(0x10F8) << false
        << QStringLiteral("Compare data Failed address 10F8 ,target 07,PC memory F8");
    QTest::newRow("across the start")
        << quint64(0x100) << quint64(0xFF0) << quint64(0x20) << quint64(0xFF8) << true << QString();
    QTest::newRow("across the start, mismatch inside")
        << quint64(0x100) << quint64(0xFF0) << quint64(0x20) << quint64(0x1004) << false
        << QStringLiteral("Compare data Failed address 1004 ,target FB,PC memory 04");
}

// A compare that compared nothing is no success; one that overlaps the
// node compares the overlap.
void TestMemoryNode::compareOverlapOrNothing()
{
    QFETCH(quint64, size);
    QFETCH(quint64, address);
    QFETCH(quint64, length);
    QFETCH(quint64, flip);
    QFETCH(bool, equal);
    QFETCH(QString, line);
    constexpr quint64 Base = 0x1000;
    constexpr quint64 ChipStart = 0xF00;
    CMemoryNode node(QStringLiteral("N"), Base, size, 0xFF);
    const QByteArray data = pattern(qint64(size));
    node.Write(u8(data), quint32(Base), quint32(size));
    NodeRecorder recorder(node);

    QByteArray chip(0x300, char(0x00));
    chip.replace(qsizetype(Base - ChipStart), data.size(), data);
    if (flip)
        chip[qsizetype(flip - ChipStart)] = char(~quint8(chip[qsizetype(flip - ChipStart)]));
    const bool inChip = address >= ChipStart && address - ChipStart < quint64(chip.size());
    const quint8 *chipData = u8(chip) + (inChip ? address - ChipStart : 0);
    QCOMPARE(node.Compare(address, length, chipData), equal);
    QCOMPARE(recorder.lines(), line.isEmpty() ? QStringList() : QStringList{line});
    QCOMPARE(recorder.changes(), 0);
}

void TestMemoryNode::residentLeftovers()
{
    CMemoryNode node(QStringLiteral("N"), 0, 16, 0xFF);
    NodeRecorder recorder(node);
    QVERIFY(node.CreateBackingFile());
    const QString file = m_dir.filePath(QStringLiteral("never.bin"));
    QVERIFY(!node.ExportRange(0, 16, file));
    QVERIFY(!QFile::exists(file));
    QCOMPARE(recorder.changes(), 0);
    QVERIFY(recorder.questions().isEmpty());
}

void TestMemoryNode::textsFollowTheTranslation()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    const QString translation = m_dir.filePath(QStringLiteral("KVTest.txt"));
    writeFile(translation, "LanguageName=Test\n0141=\"Gespeichert\";\n");
    objects.uiText.loadTranslation(translation);
    QCOMPARE(CMemoryNode::text(141), QStringLiteral("Gespeichert"));

    CMemoryNode node(QStringLiteral("N"), 0, 4, 0xFF);
    NodeRecorder recorder(node);
    const QString file = m_dir.filePath(QStringLiteral("translated.bin"));
    node.Save(file);
    QCOMPARE(recorder.lines(), QStringList{file + QStringLiteral(" Gespeichert")});
    objects.uiText.loadTranslation(QString());
}

void TestMemoryNode::worksWithoutHooks()
{
    // Before a window exists nothing is installed; every reporting operation
    // must still run.
    CMemoryNode node(QStringLiteral("N"), 0, 64, 0xFF);
    const QByteArray data = pattern(64);
    node.Write(u8(data), 0, 64);
    node.Fill();
    const QString file = m_dir.filePath(QStringLiteral("hookless.bin"));
    node.Save(file);
    QVERIFY(node.Load(file, true));
    QByteArray chip(64, 0);
    QVERIFY(!node.Compare(0, 64, u8(chip)));
    QCOMPARE(readFile(file), QByteArray(64, char(0xFF)));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestMemoryNode)
#include "tst_memory_node.moc"
