#include "BadBlockSkip.h"
#include "CFileMemoryNode.h"
#include "FileSizeLimit.h"
#include "NodeTestSupport.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <vector>

namespace {

constexpr quint64 FourGiB = quint64(4) << 30;

// A NAND geometry: 2112-byte pages, 64 pages per block.
constexpr quint32 PageSize = 2112;
constexpr quint32 PagesPerBlock = 64;
constexpr quint64 BlockBytes = quint64(PageSize) * PagesPerBlock;

// A file of `size` bytes that takes no disk space except where written.
bool makeSparseFile(const QString &path, quint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.resize(qint64(size));
}

bool writeAt(const QString &path, quint64 offset, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.seek(qint64(offset)) &&
           file.write(bytes) == bytes.size();
}

quint64 allocatedBytes(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return ~quint64(0);
    return quint64(info.st_blocks) * 512;
}

char flipped(char byte, quint8 bits)
{
    return char(quint8(byte) ^ bits);
}

} // namespace

class TestFileMemoryNode : public QObject
{
    Q_OBJECT
private slots:
    void withoutBackingFile();
    void editingOperationsDoNothing();

    void loadAttachesWithoutCopying();
    void loadReplacesAndFailsCleanly();
    void readPastTheFileEndIsFill();

    void createBackingFileAsksAndRemembers();
    void createBackingFileNeverReplacesAFile();
    void createBackingFileCancelled();

    void tempFileIsRemovedWhenClosed();
    void tempFileIsRemovedWithTheNode();
    void tempFileIsRemovedWhenReplaced();

    void appendGrowsTheFile();
    void appendToReadOnlyBackingFileFails();
    void appendStopsAtAWriteError();

    void compareToleratesSingleBitErrors();
    void compareSkipsBadBlocks();
    void compareWithoutUsableTableDoesNotSkip();
    void compareBeyondTheImageComparesWithFill();
    void compareOverlapOrNothing_data();
    void compareOverlapOrNothing();

    void exportRangeCopiesChunksAndRemainder();
    void exportRangeRefusesItsOwnBackingFile();
    void saveCopiesTheBackingFile();

    void largeSparseImage();

    void claimedNodeRefusesToReplaceItsFile();
    void setWindowKeepsTheBackingFile();

private:
    CFileMemoryNode *makeTempNode(const QByteArray &contents);
    QTemporaryDir m_dir;
};

void TestFileMemoryNode::withoutBackingFile()
{
    CFileMemoryNode node(QStringLiteral("Nand"), 0, quint64(1) << 30);
    NodeRecorder recorder(node);
    QCOMPARE(node.name(), QStringLiteral("Nand"));
    QVERIFY(!node.IsResident());
    QVERIFY(!node.hasBackingFile());
    QCOMPARE(node.GetSize(), quint64(0));
    QCOMPARE(node.GetBase(), quint64(0));
    QVERIFY(!node.Contains(0));
    QCOMPARE(readNode(node, 0, 16, 'q'), QByteArray(16, 'q'));
    const QByteArray bytes = pattern(32);
    QVERIFY(!node.Append(u8(bytes), 32));
    const QString exported = m_dir.filePath(QStringLiteral("nothing.bin"));
    QVERIFY(!node.ExportRange(0, 16, exported));
    QVERIFY(!QFile::exists(exported));
    node.CloseBackingFile();
    QCOMPARE(recorder.changes(), 0);
    QVERIFY(recorder.lines().isEmpty());

    CFileMemoryNode based(QStringLiteral("Target"), 0x4000, 4096);
    QCOMPARE(based.GetBase(), quint64(0x4000));
    QCOMPARE(based.fillValue(), quint8(0xFF));
}

void TestFileMemoryNode::editingOperationsDoNothing()
{
    const QString file = m_dir.filePath(QStringLiteral("edit.bin"));
    const QByteArray original = pattern(256);
    writeFile(file, original);
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 256);
    NodeRecorder recorder(node);
    QVERIFY(node.Load(file, false));
    node.SetByte(0, 0x00);
    node.SetNibble(1, 0x0, true);
    const QByteArray zeros(16, 0);
    node.Write(u8(zeros), 0, 16);
    node.Fill();
    QCOMPARE(readNode(node, 0, 256), original);
    QCOMPARE(readFile(file), original);
    QCOMPARE(recorder.changes(), 0);
}

void TestFileMemoryNode::loadAttachesWithoutCopying()
{
    const QString file = m_dir.filePath(QStringLiteral("image.bin"));
    const QByteArray image = pattern(5000, 2);
    writeFile(file, image);
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 1 << 20);
    NodeRecorder recorder(node);
    QVERIFY(node.Load(file, true));
    QCOMPARE(recorder.lines(), QStringList{file + QStringLiteral(" Loaded")});
    QCOMPARE(recorder.changes(), 1);
    QCOMPARE(node.backingFileName(), file);
    QCOMPARE(node.fileName(), file);
    QCOMPARE(node.GetSize(), quint64(5000));
    QVERIFY(node.Contains(4999));
    QVERIFY(!node.Contains(5000));
    QCOMPARE(readNode(node, 1000, 100), image.mid(1000, 100));

    // The node reads the file itself: a change on disk shows at once.
    QVERIFY(writeAt(file, 1000, QByteArray(4, 'Z')));
    QCOMPARE(readNode(node, 998, 8), image.mid(998, 2) + QByteArray(4, 'Z') + image.mid(1004, 2));

    recorder.clear();
    QVERIFY(node.Load(file, false));
    QVERIFY(recorder.lines().isEmpty());
    QCOMPARE(recorder.changes(), 0);
}

void TestFileMemoryNode::loadReplacesAndFailsCleanly()
{
    const QString first = m_dir.filePath(QStringLiteral("first.bin"));
    const QString second = m_dir.filePath(QStringLiteral("second.bin"));
    writeFile(first, QByteArray(100, 'a'));
    writeFile(second, QByteArray(300, 'b'));
    CFileMemoryNode node(QStringLiteral("Nand"), 0x100, 1 << 20);
    NodeRecorder recorder(node);
    QVERIFY(node.Load(first, false));
    QVERIFY(node.Load(second, false));
    QCOMPARE(node.GetSize(), quint64(300));
    QVERIFY(node.Contains(0x100 + 299));
    QVERIFY(!node.Contains(0xFF));
    QCOMPARE(readNode(node, 0, 4), QByteArray(4, 'b'));

    const QString missing = m_dir.filePath(QStringLiteral("missing.bin"));
    QVERIFY(!node.Load(missing, true));
    QVERIFY(!node.hasBackingFile());
    QCOMPARE(node.GetSize(), quint64(0));
    QCOMPARE(node.backingFileName(), missing);
    QVERIFY(recorder.lines().isEmpty());
    // Both files are untouched.
    QCOMPARE(readFile(first), QByteArray(100, 'a'));
    QCOMPARE(readFile(second), QByteArray(300, 'b'));
}

void TestFileMemoryNode::readPastTheFileEndIsFill()
{
    const QString file = m_dir.filePath(QStringLiteral("short-image.bin"));
    const QByteArray image = pattern(100);
    writeFile(file, image);
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 4096);
    QVERIFY(node.Load(file, false));
    QCOMPARE(readNode(node, 90, 20), image.mid(90) + QByteArray(10, char(0xFF)));
    QCOMPARE(readNode(node, 100, 8), QByteArray(8, char(0xFF)));
    QCOMPARE(readNode(node, ~quint64(0) - 2, 8), QByteArray(8, char(0xFF)));
}

void TestFileMemoryNode::createBackingFileAsksAndRemembers()
{
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 1 << 20);
    NodeRecorder recorder(node);
    const QString file = m_dir.filePath(QStringLiteral("created.bin"));
    recorder.answer(file);
    QVERIFY(node.CreateBackingFile());
    QCOMPARE(recorder.questions(),
             QStringList{QStringLiteral("Save binary file|Binary files (*.bin);;All files (*.*)")});
    QCOMPARE(recorder.remembered(), QStringList{file});
    QCOMPARE(recorder.changes(), 1);
    QCOMPARE(node.backingFileName(), file);
    QVERIFY(QFile::exists(file));
    QCOMPARE(node.GetSize(), quint64(0));

    // Read-write: an appended image is in the file at once.
    const QByteArray bytes = pattern(777);
    QVERIFY(node.Append(u8(bytes), 777));
    QCOMPARE(readFile(file), bytes);
    QCOMPARE(readNode(node, 0, 777), bytes);

    // Closing a created file keeps it: it is the user's image.
    node.CloseBackingFile();
    QCOMPARE(recorder.changes(), 2);
    QCOMPARE(readFile(file), bytes);
}

void TestFileMemoryNode::createBackingFileNeverReplacesAFile()
{
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 1 << 20);
    NodeRecorder recorder(node);
    QVERIFY(node.CreateTempFile());
    const QByteArray bytes = pattern(64);
    QVERIFY(node.Append(u8(bytes), 64));

    const QString existing = m_dir.filePath(QStringLiteral("precious.bin"));
    writeFile(existing, QByteArray("the user's data"));
    recorder.answer(existing);
    QVERIFY(!node.CreateBackingFile());
    QCOMPARE(readFile(existing), QByteArray("the user's data"));
    QVERIFY(!node.hasBackingFile());
    QCOMPARE(node.GetSize(), quint64(0));
    QVERIFY(!node.Contains(0));
    QVERIFY(recorder.remembered().isEmpty());

    // A dangling link is a name that exists too: creating through it would
    // write wherever it points.
    const QString link = m_dir.filePath(QStringLiteral("dangling.bin"));
    const QString target = m_dir.filePath(QStringLiteral("link-target.bin"));
    QVERIFY(QFile::link(target, link));
    recorder.answer(link);
    QVERIFY(!node.CreateBackingFile());
    QVERIFY(!QFile::exists(target));
}

void TestFileMemoryNode::createBackingFileCancelled()
{
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 1 << 20);
    NodeRecorder recorder(node);
    recorder.answer(QString());
    QVERIFY(!node.CreateBackingFile());
    QCOMPARE(recorder.questions().size(), 1);
    QVERIFY(!node.hasBackingFile());

    // No question can be asked before the owner installs one.
    CFileMemoryNode bare(QStringLiteral("Nand"), 0, 1 << 20);
    QVERIFY(!bare.CreateBackingFile());

    // A folder that does not exist cannot hold the file.
    recorder.answer(m_dir.filePath(QStringLiteral("no-folder/image.bin")));
    QVERIFY(!node.CreateBackingFile());
    QVERIFY(!node.hasBackingFile());
}

void TestFileMemoryNode::tempFileIsRemovedWhenClosed()
{
    CFileMemoryNode node(QStringLiteral("Target"), 0, 1 << 20);
    NodeRecorder recorder(node);
    QVERIFY(node.CreateTempFile());
    QCOMPARE(recorder.changes(), 1);
    const QString name = node.backingFileName();
    QVERIFY(!name.isEmpty());
    QVERIFY(QFile::exists(name));
    QCOMPARE(QFileInfo(name).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    const QByteArray bytes = pattern(3000);
    QVERIFY(node.Append(u8(bytes), 3000));
    QCOMPARE(readFile(name), bytes);

    node.CloseBackingFile();
    QCOMPARE(recorder.changes(), 2);
    QVERIFY(!QFile::exists(name));
    QVERIFY(!node.hasBackingFile());
    QCOMPARE(node.GetSize(), quint64(0));
}

void TestFileMemoryNode::tempFileIsRemovedWithTheNode()
{
    QString name;
    {
        CFileMemoryNode node(QStringLiteral("Target"), 0, 1 << 20);
        QVERIFY(node.CreateTempFile());
        name = node.backingFileName();
        QVERIFY(QFile::exists(name));
    }
    QVERIFY(!QFile::exists(name));
}

void TestFileMemoryNode::tempFileIsRemovedWhenReplaced()
{
    CFileMemoryNode node(QStringLiteral("Target"), 0, 1 << 20);
    QVERIFY(node.CreateTempFile());
    const QString first = node.backingFileName();
    QVERIFY(node.CreateTempFile());
    const QString second = node.backingFileName();
    QVERIFY(first != second);
    QVERIFY(!QFile::exists(first));
    QVERIFY(QFile::exists(second));

    const QString image = m_dir.filePath(QStringLiteral("replacing.bin"));
    writeFile(image, QByteArray(10, 'r'));
    QVERIFY(node.Load(image, false));
    QVERIFY(!QFile::exists(second));
    QCOMPARE(readFile(image), QByteArray(10, 'r'));
}

void TestFileMemoryNode::appendGrowsTheFile()
{
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 1 << 20);
    NodeRecorder recorder(node);
    QVERIFY(node.CreateTempFile());
    recorder.clear();
    QByteArray all;
    for (int chunk = 0; chunk < 20; ++chunk) {
        const QByteArray bytes = pattern(1000 + chunk * 37, quint64(all.size()));
        QVERIFY(node.Append(u8(bytes), quint64(bytes.size())));
        all += bytes;
        QCOMPARE(node.GetSize(), quint64(all.size()));
        QVERIFY(node.Contains(quint64(all.size()) - 1));
        QVERIFY(!node.Contains(quint64(all.size())));
    }
    // Reading in between does not move where the next append goes.
    QCOMPARE(readNode(node, 10, 10), all.mid(10, 10));
    const QByteArray tail = pattern(50, quint64(all.size()));
    QVERIFY(node.Append(u8(tail), 50));
    all += tail;
    QVERIFY(node.Append(u8(tail), 0));
    QCOMPARE(readNode(node, 0, all.size()), all);
    QCOMPARE(readFile(node.backingFileName()), all);
    QVERIFY(recorder.lines().isEmpty());
    QCOMPARE(recorder.changes(), 0);
}

void TestFileMemoryNode::appendToReadOnlyBackingFileFails()
{
    const QString file = m_dir.filePath(QStringLiteral("loaded-image.bin"));
    writeFile(file, QByteArray(64, 'L'));
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 1 << 20);
    NodeRecorder recorder(node);
    QVERIFY(node.Load(file, false));
    const QByteArray bytes = pattern(32);
    QVERIFY(!node.Append(u8(bytes), 32));
    QCOMPARE(recorder.lines(), QStringList{file + QStringLiteral(" File Error")});
    // Later appends fail without another line.
    QVERIFY(!node.Append(u8(bytes), 32));
    QCOMPARE(recorder.lines().size(), 1);
    QCOMPARE(readFile(file), QByteArray(64, 'L'));
    QCOMPARE(node.GetSize(), quint64(64));
}

void TestFileMemoryNode::appendStopsAtAWriteError()
{
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 1 << 20);
    NodeRecorder recorder(node);
    QVERIFY(node.CreateTempFile());
    const QString name = node.backingFileName();
    const QByteArray first = pattern(10000);
    QVERIFY(node.Append(u8(first), 10000));
    const QByteArray second = pattern(10000, 10000);
    {
        FileSizeLimit limit(16384);
        QVERIFY(limit.active());
        // The disk "fills up" in the middle of the chunk.
        QVERIFY(!node.Append(u8(second), 10000));
    }
    QCOMPARE(recorder.lines(), QStringList{name + QStringLiteral(" File Error")});
    // Only what reached the file is there, and the size says so.
    QCOMPARE(node.GetSize(), quint64(16384));
    QCOMPARE(readNode(node, 0, 16384), first + second.left(16384 - 10000));

    // With room again the image still does not continue after a gap.
    const QByteArray third = pattern(100, 20000);
    QVERIFY(!node.Append(u8(third), 100));
    QCOMPARE(node.GetSize(), quint64(16384));
    QCOMPARE(recorder.lines().size(), 1);

    // A new backing file starts clean.
    QVERIFY(node.CreateTempFile());
    QVERIFY(node.Append(u8(third), 100));
    QCOMPARE(node.GetSize(), quint64(100));

    // A write error at the very first byte.
    recorder.clear();
    {
        FileSizeLimit limit(100);
        QVERIFY(limit.active());
        QVERIFY(!node.Append(u8(third), 100));
    }
    QCOMPARE(recorder.lines().size(), 1);
    QCOMPARE(node.GetSize(), quint64(100));
}

CFileMemoryNode *TestFileMemoryNode::makeTempNode(const QByteArray &contents)
{
    auto *node = new CFileMemoryNode(QStringLiteral("Nand"), 0, quint64(contents.size()));
    if (!node->CreateTempFile() || !node->Append(u8(contents), quint64(contents.size())))
        qFatal("cannot build a file node");
    return node;
}

void TestFileMemoryNode::compareToleratesSingleBitErrors()
{
    const QByteArray image = pattern(8192);
    std::unique_ptr<CFileMemoryNode> node(makeTempNode(image));
    NodeRecorder recorder(*node);
    QVERIFY(node->Compare(0, 8192, u8(image)));

    // One flipped bit in many bytes: each is a correctable error.
    QByteArray chip = image;
    for (int i = 0; i < 8192; i += 97)
        chip[i] = flipped(chip[i], quint8(1u << (i % 8)));
    QVERIFY(node->Compare(0, 8192, u8(chip)));
    QVERIFY(recorder.lines().isEmpty());

    // Two bits in one byte are not; only the first such byte is reported.
    chip[5000] = flipped(chip[5000], 0x81);
    chip[6000] = flipped(chip[6000], 0xFF);
    QVERIFY(!node->Compare(0, 8192, u8(chip)));
    QCOMPARE(recorder.lines(), QStringList{QString::asprintf(
                                   "Compare data Failed address 1388 ,target %02X,PC memory %02X",
                                   quint8(chip[5000]), quint8(image[5000]))});

    // Addresses are the caller's: a compare from 4096 reports 4096 + n.
    recorder.clear();
    QVERIFY(!node->Compare(4096, 4096, u8(chip) + 4096));
    QCOMPARE(recorder.lines().size(), 1);
    QVERIFY(
        recorder.lines().first().startsWith(QStringLiteral("Compare data Failed address 1388 ")));
}

void TestFileMemoryNode::compareSkipsBadBlocks()
{
    // Four blocks; block 1 is bad.
    const QByteArray image = pattern(qint64(4 * BlockBytes));
    std::unique_ptr<CFileMemoryNode> node(makeTempNode(image));
    NodeRecorder recorder(*node);
    const std::vector<qint32> states{1, BadBlockSkip::Bad, 1, 0};
    BadBlockSkip skip{states, PageSize, PagesPerBlock};

    QByteArray chip = image;
    // Two flipped bits in one byte of the bad block, and worse later in it.
    chip[qint64(BlockBytes + 10)] = flipped(chip[qint64(BlockBytes + 10)], 0x03);
    chip[qint64(BlockBytes + 5000)] = flipped(chip[qint64(BlockBytes + 5000)], 0xFF);
    chip[qint64(2 * BlockBytes - 1)] = flipped(chip[qint64(2 * BlockBytes - 1)], 0xF0);
    QVERIFY(node->Compare(0, 4 * BlockBytes, u8(chip), &skip));
    QVERIFY(recorder.lines().isEmpty());
    // Without the table the same data fails at the first of them.
    QVERIFY(!node->Compare(0, 4 * BlockBytes, u8(chip)));
    QCOMPARE(recorder.lines().size(), 1);
    QVERIFY(recorder.lines().first().startsWith(
        QStringLiteral("Compare data Failed address %1 ")
            .arg(QString::number(BlockBytes + 10, 16).toUpper())));

    // The skip ends with the bad block: the first byte of the next block counts.
    recorder.clear();
    chip[qint64(2 * BlockBytes)] = flipped(chip[qint64(2 * BlockBytes)], 0x0C);
    QVERIFY(!node->Compare(0, 4 * BlockBytes, u8(chip), &skip));
    QCOMPARE(recorder.lines(),
             QStringList{QString::asprintf(
                 "Compare data Failed address %llX ,target %02X,PC memory %02X",
                 static_cast<unsigned long long>(2 * BlockBytes),
                 quint8(chip[qint64(2 * BlockBytes)]), quint8(image[qint64(2 * BlockBytes)]))});

    // A compare that starts inside the bad block skips to the next block too,
    // and one that ends inside it passes.
    recorder.clear();
    const quint64 start = BlockBytes + 7;
    QVERIFY(!node->Compare(start, 2 * BlockBytes, u8(chip) + start, &skip));
    QCOMPARE(recorder.lines().size(), 1);
    QVERIFY(node->Compare(start, BlockBytes - 7, u8(chip) + start, &skip));

    // A block whose state is unknown (0) is not skipped.
    recorder.clear();
    QByteArray lastBlock = image.mid(qint64(3 * BlockBytes));
    lastBlock[1] = flipped(lastBlock[1], 0x30);
    QVERIFY(!node->Compare(3 * BlockBytes, BlockBytes, u8(lastBlock), &skip));
    QCOMPARE(recorder.lines().size(), 1);
}

void TestFileMemoryNode::compareWithoutUsableTableDoesNotSkip()
{
    const QByteArray image = pattern(qint64(2 * BlockBytes));
    std::unique_ptr<CFileMemoryNode> node(makeTempNode(image));
    NodeRecorder recorder(*node);
    QByteArray chip = image;
    chip[qint64(BlockBytes + 1)] = flipped(chip[qint64(BlockBytes + 1)], 0x11);

    // The table covers only block 0: block 1 is not known to be bad.
    const std::vector<qint32> shortTable{BadBlockSkip::Bad};
    BadBlockSkip tooShort{shortTable, PageSize, PagesPerBlock};
    QVERIFY(!node->Compare(0, 2 * BlockBytes, u8(chip), &tooShort));

    // A geometry with a zero cannot place a block.
    const std::vector<qint32> allBad{BadBlockSkip::Bad, BadBlockSkip::Bad};
    BadBlockSkip noPages{allBad, 0, PagesPerBlock};
    QVERIFY(!node->Compare(0, 2 * BlockBytes, u8(chip), &noPages));
    BadBlockSkip noBlocks{allBad, PageSize, 0};
    QVERIFY(!node->Compare(0, 2 * BlockBytes, u8(chip), &noBlocks));
    QCOMPARE(recorder.lines().size(), 3);

    BadBlockSkip good{allBad, PageSize, PagesPerBlock};
    QVERIFY(node->Compare(0, 2 * BlockBytes, u8(chip), &good));
}

void TestFileMemoryNode::compareBeyondTheImageComparesWithFill()
{
    const QByteArray image = pattern(1000);
    std::unique_ptr<CFileMemoryNode> node(makeTempNode(image));
    NodeRecorder recorder(*node);
    QByteArray chip = image + QByteArray(500, char(0xFF));
    QVERIFY(node->Compare(0, 1500, u8(chip)));
    chip[1200] = char(0x00);
    QVERIFY(!node->Compare(0, 1500, u8(chip)));
    QCOMPARE(recorder.lines(), QStringList{QStringLiteral(
                                   "Compare data Failed address 4B0 ,target 00,PC memory FF")});
}

void TestFileMemoryNode::compareOverlapOrNothing_data()
{
    // A node at `base` whose image has 1000 bytes (none without a file);
    // the chip data holds the image's bytes where it has them and the fill
    // value elsewhere, so every compare that compares anything is equal.
    QTest::addColumn<quint64>("base");
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<quint64>("address");
    QTest::addColumn<quint64>("length");
    QTest::addColumn<bool>("equal");
    QTest::newRow("inside") << quint64(0) << true << quint64(100) << quint64(500) << true;
    QTest::newRow("no backing file") << quint64(0) << false << quint64(0) << quint64(300) << false;
    QTest::newRow("length 0") << quint64(0) << true << quint64(100) << quint64(0) << false;
    QTest::newRow("past the image") << quint64(0) << true << quint64(1000) << quint64(100) << false;
    QTest::newRow("below the base")
        << quint64(0x4000) << true << quint64(0x3000) << quint64(0x1000) << false;
    QTest::newRow("across the image end")
        << quint64(0) << true << quint64(900) << quint64(200) << true;
    QTest::newRow("across the base")
        << quint64(0x4000) << true << quint64(0x3F00) << quint64(0x200) << true;
}

// A compare that compared nothing is no success; one that overlaps the
// image compares the overlap (bytes the file lacks as the fill value).
void TestFileMemoryNode::compareOverlapOrNothing()
{
    QFETCH(quint64, base);
    QFETCH(bool, withFile);
    QFETCH(quint64, address);
    QFETCH(quint64, length);
    QFETCH(bool, equal);
    const QByteArray image = pattern(1000, 3);
    CFileMemoryNode node(QStringLiteral("Nand"), base, 1 << 20);
    if (withFile) {
        QVERIFY(node.CreateTempFile());
        QVERIFY(node.Append(u8(image), quint64(image.size())));
    }
    NodeRecorder recorder(node);
    QByteArray chip(qsizetype(length), char(0xFF));
    for (quint64 i = 0; i < length; ++i) {
        const quint64 at = address + i;
        if (withFile && at >= base && at - base < quint64(image.size()))
            chip[qsizetype(i)] = image[qsizetype(at - base)];
    }
    QCOMPARE(node.Compare(address, length, u8(chip)), equal);
    QCOMPARE(recorder.lines(),
             equal ? QStringList() : QStringList{QStringLiteral("Not enough data")});
    QCOMPARE(recorder.changes(), 0);
}

void TestFileMemoryNode::exportRangeCopiesChunksAndRemainder()
{
    const QByteArray image = pattern(10000);
    std::unique_ptr<CFileMemoryNode> node(makeTempNode(image));
    NodeRecorder recorder(*node);
    const QString out = m_dir.filePath(QStringLiteral("export.bin"));
    writeFile(out, QByteArray(20000, 'o'));

    QVERIFY(node->ExportRange(1000, 3 * 1024 + 100, out));
    QCOMPARE(readFile(out), image.mid(1000, 3 * 1024 + 100));
    QVERIFY(node->ExportRange(0, 1024, out));
    QCOMPARE(readFile(out), image.left(1024));
    QVERIFY(node->ExportRange(9999, 0, out));
    QCOMPARE(readFile(out), QByteArray());
    // A range past the image's end stops at the end.
    QVERIFY(node->ExportRange(9000, 5000, out));
    QCOMPARE(readFile(out), image.mid(9000));
    QVERIFY(recorder.lines().isEmpty());
    QCOMPARE(recorder.changes(), 0);

    const QString noFolder = m_dir.filePath(QStringLiteral("no-folder/export.bin"));
    QVERIFY(!node->ExportRange(0, 100, noFolder));
    QCOMPARE(recorder.lines(), QStringList{noFolder + QStringLiteral(" File Error")});

    if (QFile::exists(QStringLiteral("/dev/full"))) {
        recorder.clear();
        QVERIFY(!node->ExportRange(0, 100, QStringLiteral("/dev/full")));
        QCOMPARE(recorder.lines(), QStringList{QStringLiteral("/dev/full File Error")});
    }
}

void TestFileMemoryNode::exportRangeRefusesItsOwnBackingFile()
{
    const QString file = m_dir.filePath(QStringLiteral("own.bin"));
    const QByteArray image = pattern(4000);
    writeFile(file, image);
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 1 << 20);
    NodeRecorder recorder(node);
    QVERIFY(node.Load(file, false));
    // Also through another name for the same file.
    const QString link = m_dir.filePath(QStringLiteral("own-link.bin"));
    QVERIFY(QFile::link(file, link));
    QVERIFY(!node.ExportRange(0, 100, file));
    QVERIFY(!node.ExportRange(0, 100, link));
    QCOMPARE(recorder.lines(), (QStringList{file + QStringLiteral(" File Error"),
                                            link + QStringLiteral(" File Error")}));
    QCOMPARE(readFile(file), image);
    QCOMPARE(node.GetSize(), quint64(4000));
}

void TestFileMemoryNode::saveCopiesTheBackingFile()
{
    const QByteArray image = pattern(5000, 5);
    std::unique_ptr<CFileMemoryNode> node(makeTempNode(image));
    NodeRecorder recorder(*node);
    const QString out = m_dir.filePath(QStringLiteral("saved-image.bin"));
    node->Save(out);
    QCOMPARE(readFile(out), image);
    QCOMPARE(recorder.lines(), QStringList{out + QStringLiteral(" Saved")});

    // Saving onto the backing file keeps the image.
    recorder.clear();
    const QString backing = node->backingFileName();
    node->Save(backing);
    QCOMPARE(readFile(backing), image);
    QCOMPARE(node->GetSize(), quint64(5000));
    QCOMPARE(recorder.lines(), QStringList{backing + QStringLiteral(" Saved")});

    recorder.clear();
    const QString noFolder = m_dir.filePath(QStringLiteral("no-folder/saved.bin"));
    node->Save(noFolder);
    QCOMPARE(recorder.lines(), QStringList{noFolder + QStringLiteral(" File Error")});

    // Without a backing file there is nothing to save but an empty image.
    CFileMemoryNode empty(QStringLiteral("Nand"), 0, 1 << 20);
    NodeRecorder emptyRecorder(empty);
    const QString emptyOut = m_dir.filePath(QStringLiteral("saved-empty.bin"));
    empty.Save(emptyOut);
    QCOMPARE(readFile(emptyOut), QByteArray());
    QCOMPARE(emptyRecorder.lines(), QStringList{emptyOut + QStringLiteral(" Saved")});
}

void TestFileMemoryNode::largeSparseImage()
{
    // A chip image a little over 4 GiB, on disk only where written.
    const quint64 size = FourGiB + 2 * BlockBytes;
    const QString file = m_dir.filePath(QStringLiteral("large.bin"));
    if (!makeSparseFile(file, size))
        QSKIP("the file system cannot hold a 4 GiB sparse file");
    const quint64 tailStart = size - 3 * BlockBytes;
    const QByteArray tail = pattern(qint64(3 * BlockBytes), tailStart);
    QVERIFY(writeAt(file, tailStart, tail));
    QVERIFY2(allocatedBytes(file) < (quint64(64) << 20), "the image is not sparse");

    CFileMemoryNode node(QStringLiteral("Nand"), 0, size);
    NodeRecorder recorder(node);
    QVERIFY(node.Load(file, false));
    QCOMPARE(node.GetSize(), size);
    QVERIFY(node.Contains(size - 1));
    QVERIFY(!node.Contains(size));
    QVERIFY(node.Contains(FourGiB));

    // Reads across the 4 GiB line and at the very end.
    const quint64 across = FourGiB - 100;
    QCOMPARE(readNode(node, across, 200), tail.mid(qint64(across - tailStart), 200));
    QCOMPARE(readNode(node, size - 8, 16), tail.right(8) + QByteArray(8, char(0xFF)));
    QCOMPARE(readNode(node, 1000, 16), QByteArray(16, 0));

    // Compare near the end: a single-bit error passes, a bad last block is
    // skipped, and a failure prints its full 64-bit address.
    QByteArray chip = tail;
    const qint64 inLast = qint64(2 * BlockBytes + 123);
    chip[10] = flipped(chip[10], 0x40);
    chip[inLast] = flipped(chip[inLast], 0x0F);
    QVERIFY(!node.Compare(tailStart, 3 * BlockBytes, u8(chip)));
    QCOMPARE(recorder.lines(), QStringList{QString::asprintf(
                                   "Compare data Failed address %llX ,target %02X,PC memory %02X",
                                   static_cast<unsigned long long>(tailStart + quint64(inLast)),
                                   quint8(chip[inLast]), quint8(tail[inLast]))});
    std::vector<qint32> states(std::size_t(size / BlockBytes), 1);
    states.back() = BadBlockSkip::Bad;
    const BadBlockSkip skip{states, PageSize, PagesPerBlock};
    QVERIFY(node.Compare(tailStart, 3 * BlockBytes, u8(chip), &skip));

    // Export across the 4 GiB line.
    const QString out = m_dir.filePath(QStringLiteral("large-export.bin"));
    QVERIFY(node.ExportRange(across, 3000, out));
    QCOMPARE(readFile(out), tail.mid(qint64(across - tailStart), 3000));
    QVERIFY(QFile::remove(file));
}

void TestFileMemoryNode::claimedNodeRefusesToReplaceItsFile()
{
    const QString file = m_dir.filePath(QStringLiteral("locked.bin"));
    writeFile(file, QByteArray(100, 'k'));
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 1 << 20);
    NodeRecorder recorder(node);
    QVERIFY(node.Load(file, false));
    recorder.answer(m_dir.filePath(QStringLiteral("locked-new.bin")));

    QVERIFY(node.TryLock());
    QVERIFY(node.IsClaimed());
    QVERIFY(!node.TryLock());
    QVERIFY(!node.Load(file, true));
    QVERIFY(!node.CreateBackingFile());
    QVERIFY(!node.CreateTempFile());
    // The claimer itself streams through the node.
    QCOMPARE(readNode(node, 0, 4), QByteArray(4, 'k'));
    QVERIFY(node.Compare(0, 4, u8(QByteArray(4, 'k'))));
    node.Unlock();
    QVERIFY(!node.IsClaimed());
    QVERIFY(recorder.questions().isEmpty());
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("locked-new.bin"))));
    QCOMPARE(node.backingFileName(), file);
    QCOMPARE(readNode(node, 0, 4), QByteArray(4, 'k'));

    QVERIFY(node.TryLock());
    node.Unlock();
    QVERIFY(node.CreateTempFile());
}

void TestFileMemoryNode::setWindowKeepsTheBackingFile()
{
    const QByteArray image = pattern(3000);
    std::unique_ptr<CFileMemoryNode> node(makeTempNode(image));
    NodeRecorder recorder(*node);
    node->SetWindow(0, 3000);
    QCOMPARE(recorder.changes(), 0);

    node->SetWindow(0x8000, quint64(1) << 34);
    QCOMPARE(recorder.changes(), 1);
    QCOMPARE(node->GetBase(), quint64(0x8000));
    QCOMPARE(node->GetSize(), quint64(3000));
    QVERIFY(node->hasBackingFile());
    QVERIFY(node->Contains(0x8000 + 2999));
    QVERIFY(!node->Contains(0x7FFF));
    QCOMPARE(readNode(*node, 0, 3000), image);
    QVERIFY(node->Compare(0x8000 + 100, 200, u8(image) + 100));
    QVERIFY(recorder.lines().isEmpty());

    // Without a backing file it only stores the window.
    CFileMemoryNode empty(QStringLiteral("Target"), 0, 4096);
    empty.SetWindow(0x100, 8192);
    QCOMPARE(empty.GetBase(), quint64(0x100));
    QCOMPARE(empty.GetSize(), quint64(0));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestFileMemoryNode)
#include "tst_file_memory_node.moc"
