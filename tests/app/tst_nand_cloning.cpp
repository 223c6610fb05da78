#include "ApplicationFolders.h"
#include "BadBlockMapView.h"
#include "BadBlockTab.h"
#include "BadBlockTable.h"
#include "CFileMemoryNode.h"
#include "CommandConsole.h"
#include "EmulatedWindow.h"
#include "FileSizeLimit.h"
#include "HexView.h"
#include "MainActions.h"
#include "MainWindow.h"
#include "NandDetection.h"
#include "NandEngine.h"
#include "NandPanel.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Cloning and repairing NAND images in the real main window, offscreen, over
// the emulated programmer: a source chip read, the other chip put into the
// socket (INITUSB), erased and scanned, smart copy programming it; three
// reads of a chip with weak cells voted into the true image.
namespace {

constexpr quint64 PageBytes = 2112;
constexpr quint64 PagesPerBlock = 64;
constexpr quint64 BlockBytes = PageBytes * PagesPerBlock;
constexpr quint64 DeviceBytes = BlockBytes * 1024;
const QString K9 = QStringLiteral("K9F1G08U0B");

std::string profile(const char *name)
{
    return TestFiles::read(QStringLiteral(KVEMU_PROFILES "/") + QLatin1String(name)).toStdString();
}

// Source block `block` as the tests write it: every page its own bytes,
// the spare area erased (a good block).
QByteArray sourceBlock(int block)
{
    QByteArray bytes(int(BlockBytes), char(0xFF));
    for (quint64 page = 0; page < PagesPerBlock; ++page) {
        char *data = bytes.data() + page * PageBytes;
        for (int i = 0; i < 2048; ++i)
            data[i] = char(block * 31 + int(page) * 7 + i);
    }
    return bytes;
}

} // namespace

class TestNandCloning : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void smartCopyClonesOntoAnotherChip();
    void stopDropsAnUnfinishedTargetImage();
    void unknownSourceTableIsBuiltBeforeThePlan();
    void imageGoesBackOntoItsChipAroundFactoryBadBlocks();
    void smartCopyRefusals_data();
    void smartCopyRefusals();
    void mapsShowTheTablesAndAClickShowsTheBlock();
    void sourceTableFiles();
    void multipleReadCorrectionRepairsFlips();
    void multipleReadCorrectionRefusals_data();
    void multipleReadCorrectionRefusals();
    void fullDisk_data();
    void fullDisk();

private:
    void start(const std::string &text) { QVERIFY(m_session.start(text, K9)); }
    bool job(const QString &line, int timeoutMs = 30000) { return m_session.job(line, timeoutMs); }
    void setWindow(quint32 start, quint32 count);
    // The first `count` source blocks as "image.bin", loaded into a window
    // of `count` blocks from `start`: the image once its table is built,
    // empty when it was not.
    QByteArray loadSourceImage(quint32 start, int count);
    NandEngine *engine() const { return qobject_cast<NandEngine *>(m_window->engine()); }
    bool logged(const QString &line) const { return m_session.logged(line); }
    // Each case has files of its own.
    QString file(const QString &name) const
    {
        QString folder = QString::fromLatin1(QTest::currentTestFunction()) +
                         QString::fromLatin1(QTest::currentDataTag());
        folder = m_files.filePath(folder.replace(QLatin1Char(' '), QLatin1Char('-')));
        QDir().mkpath(folder);
        return folder + QLatin1Char('/') + name;
    }

    EmulatedWindow m_session;
    DropInEmulator &m_emulator = m_session.emulator;
    ScriptedQuestions &m_questions = m_session.questions;
    std::unique_ptr<MainWindow> &m_window = m_session.window;
    QTemporaryDir m_files;
};

void TestNandCloning::initTestCase()
{
    QVERIFY(m_session.load());
    QVERIFY(m_files.isValid());
}

void TestNandCloning::init()
{
    m_session.begin();
    NandDetection::resetProgramState();
}

void TestNandCloning::cleanup()
{
    m_session.end();
}

void TestNandCloning::setWindow(quint32 start, quint32 count)
{
    auto *panel = qobject_cast<NandPanel *>(engine()->toolWidget());
    QVERIFY(panel);
    panel->startEdit()->setText(QString::number(start));
    panel->countEdit()->setText(QString::number(count));
}

QByteArray TestNandCloning::loadSourceImage(quint32 start, int count)
{
    setWindow(start, quint32(count));
    QByteArray image;
    for (int block = 0; block < count; ++block)
        image += sourceBlock(block);
    TestFiles::write(file(QStringLiteral("image.bin")), image);
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("image.bin")));
    const quint32 last = start + quint32(count) - 1;
    if (!QTest::qWaitFor(
            [&] { return engine()->sourceTable().state(last) == qint32(BadBlockTable::Good); }))
        return QByteArray();
    return image;
}

// --- smart copy ------------------------------------------------------------------

void TestNandCloning::smartCopyClonesOntoAnotherChip()
{
    // Source chip: factory bad blocks 3 and 9, blocks 7 and 8 erased.
    // Target chip: factory bad blocks 1, 5 and 6.
    start(profile("nand-smart-copy.ini"));
    QCOMPARE(m_emulator.socketChip(), 0);
    for (int block = 0; block < 16; ++block) {
        if (block != 3 && block != 9 && block != 7 && block != 8)
            QVERIFY(m_emulator.writeChip(0, block * BlockBytes, sourceBlock(block)));
    }
    setWindow(0, 16);
    m_questions.saveAnswer = file(QStringLiteral("master.bin"));
    QVERIFY(job(QStringLiteral("read")));
    QTRY_COMPARE(engine()->sourceTable().state(15), qint32(BadBlockTable::Good));
    QCOMPARE(engine()->sourceTable().state(9), qint32(BadBlockTable::Bad));

    m_window->issueCommand(QStringLiteral("initusb"));
    QTRY_VERIFY_WITH_TIMEOUT(m_emulator.commandLog().contains(QStringLiteral("SOCKET second")),
                             8000);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->programmerConnected(), 8000);
    QCOMPARE(m_emulator.socketChip(), 1);
    // The factory bad blocks keep their marks: 13 blocks are erased.
    int commandsBefore = int(m_emulator.commandLines().size());
    QVERIFY(job(QStringLiteral("erase")));
    QCOMPARE(m_emulator.commandLines().mid(commandsBefore).filter(QStringLiteral("CMD 1b ")).size(),
             13);
    QVERIFY(logged(QStringLiteral("Target bad block No. 2")));
    QCOMPARE(engine()->targetTable().state(15), qint32(BadBlockTable::Good));
    for (int bad : {1, 5, 6})
        QCOMPARE(engine()->targetTable().state(quint32(bad)), qint32(BadBlockTable::Bad));

    commandsBefore = int(m_emulator.commandLines().size());
    QVERIFY(job(QStringLiteral("smtcpy")));
    QVERIFY(logged(QStringLiteral("Create temporary file")));
    const QStringList commands = m_emulator.commandLines().mid(commandsBefore);
    // One program of the window, after the last block.
    QCOMPARE(commands.filter(QStringLiteral("CMD 32")).size(), 1);
    QCOMPARE(engine()->targetNode()->GetSize(), 16 * BlockBytes);

    // The source blocks in step where erased blocks absorb the shift; the
    // target's bad blocks are left alone.
    const QList<int> layout{0, -1, 1, 2, 4, -1, -1, 5, 6, 10, 11, 12, 13, 14, 15, -2};
    for (int t = 0; t < layout.size(); ++t) {
        if (layout[t] == -1)
            continue;
        const QByteArray expected =
            layout[t] == -2 ? QByteArray(int(BlockBytes), char(0xFF)) : sourceBlock(layout[t]);
        QVERIFY2(m_emulator.readChip(0, t * BlockBytes, BlockBytes) == expected,
                 qPrintable(QStringLiteral("target block %1").arg(t)));
    }
    // The cloned chip verifies against the target image.
    QVERIFY(job(QStringLiteral("verify")));
}

void TestNandCloning::stopDropsAnUnfinishedTargetImage()
{
    start(profile("nand-smart-copy.ini"));
    const QByteArray image = loadSourceImage(10, 16);
    QVERIFY(!image.isEmpty());
    QVERIFY(job(QStringLiteral("erase")));

    // Stop while the fourth target block is on its way.
    const int commandsBefore = int(m_emulator.commandLines().size());
    QObject::connect(m_window->progressBar(), &QProgressBar::valueChanged, m_window.get(),
                     [this](int value) {
                         if (value == 3)
                             m_window->stopOperation();
                     });
    m_window->issueCommand(QStringLiteral("smtcpy"));
    QTest::qWait(300);
    QCOMPARE(engine()->targetNode()->GetSize(), 0ull);
    QVERIFY(
        m_emulator.commandLines().mid(commandsBefore).filter(QStringLiteral("CMD 1C")).isEmpty());
    // The image in "Nand" programs as it is.
    QVERIFY(job(QStringLiteral("program")));
    QVERIFY(m_emulator.readChip(0, 10 * BlockBytes, 16 * BlockBytes) == image);
}

void TestNandCloning::unknownSourceTableIsBuiltBeforeThePlan()
{
    start(profile("nand-smart-copy.ini"));
    const QByteArray image = loadSourceImage(10, 4);
    QVERIFY(!image.isEmpty());
    QVERIFY(job(QStringLiteral("erase")));
    // A plan made from an unknown table would take no block at all.
    engine()->sourceTable().clear();
    QVERIFY(job(QStringLiteral("smtcpy")));
    QCOMPARE(engine()->sourceTable().state(13), qint32(BadBlockTable::Good));
    QVERIFY(m_emulator.readChip(0, 10 * BlockBytes, 4 * BlockBytes) == image);
}

void TestNandCloning::imageGoesBackOntoItsChipAroundFactoryBadBlocks()
{
    // Factory bad blocks 3 and 9: a script's read, erase, blank check,
    // program and verify all pass, and the marks survive.
    start(profile("nand-smart-copy.ini"));
    for (int block = 0; block < 16; ++block) {
        if (block != 3 && block != 9)
            QVERIFY(m_emulator.writeChip(0, block * BlockBytes, sourceBlock(block)));
    }
    const QByteArray mark = m_emulator.readChip(0, 3 * BlockBytes, PageBytes);
    setWindow(0, 16);
    m_questions.saveAnswer = file(QStringLiteral("chip.bin"));
    for (const char *line : {"read", "erase", "blkchk", "program", "verify"})
        QVERIFY2(job(QLatin1String(line)), line);
    QVERIFY(!m_window->logText().contains(QStringLiteral("failed")));
    QCOMPARE(m_emulator.readChip(0, 3 * BlockBytes, PageBytes), mark);
    QCOMPARE(m_emulator.readChip(0, 4 * BlockBytes, BlockBytes), sourceBlock(4));
}

void TestNandCloning::smartCopyRefusals_data()
{
    QTest::addColumn<bool>("erase");
    QTest::addColumn<quint32>("imageBlocks");
    QTest::addColumn<QString>("line");
    QTest::newRow("target not scanned") << false << 4u << "Erase the chip first";
    QTest::newRow("image of another size")
        << true << 3u << "Make sure the proper source file is loaded";
}

void TestNandCloning::smartCopyRefusals()
{
    QFETCH(bool, erase);
    QFETCH(quint32, imageBlocks);
    QFETCH(QString, line);
    start(profile("nand-smart-copy.ini"));
    setWindow(10, 4);
    TestFiles::write(file(QStringLiteral("image.bin")),
                     QByteArray(int(imageBlocks * BlockBytes), char(0x5A)));
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("image.bin")));
    if (erase)
        QVERIFY(job(QStringLiteral("erase")));
    // A script stops at the refusal instead of going on as if the copy ran.
    QVERIFY(QDir().mkpath(applicationFolder(ScriptFolder)));
    TestFiles::write(applicationFolder(ScriptFolder) + QStringLiteral("clone.usp"),
                     "smtcpy\r\necho after\r\n");
    const int commandsBefore = int(m_emulator.commandLines().size());
    m_window->console().SubmitLine(QStringLiteral("clone"));
    QTRY_VERIFY(logged(line));
    QTest::qWait(100);
    QVERIFY(!m_window->logText().contains(QStringLiteral("after")));
    QVERIFY(
        m_emulator.commandLines().mid(commandsBefore).filter(QStringLiteral("CMD 1C")).isEmpty());
}

// --- maps and table files ------------------------------------------------------------

void TestNandCloning::mapsShowTheTablesAndAClickShowsTheBlock()
{
    start(profile("nand-smart-copy.ini"));
    BadBlockTab *tab = m_window->badBlockTab();
    QVERIFY(tab && tab->sourceView() && tab->targetView());
    QCOMPARE(tab->sourceView()->table(), &engine()->sourceTable());
    QCOMPARE(tab->targetView()->table(), &engine()->targetTable());
    QCOMPARE(m_window->tabs()->tabText(m_window->tabs()->indexOf(tab->page())),
             QStringLiteral("BadBlock"));
    setWindow(0, 8);
    m_questions.saveAnswer = file(QStringLiteral("maps.bin"));
    QVERIFY(job(QStringLiteral("read")));
    QTRY_COMPARE(engine()->sourceTable().state(7), qint32(BadBlockTable::Good));

    m_window->tabs()->setCurrentWidget(tab->page());
    m_window->resize(1000, 700);
    QTest::qWait(20);
    BadBlockMapView *view = tab->sourceView();
    const int pitch = view->cellSize() + 2 * BadBlockMapView::Margin;
    // Block 3 (bad) sits in the first row, fourth column.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      QPoint(3 * pitch + pitch / 2, pitch / 2));
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral(" 63000"));
    // The left button keeps the map in front; the hex view is at the block.
    QCOMPARE(m_window->tabs()->currentWidget(), tab->page());
    QTest::mouseClick(view->viewport(), Qt::RightButton, {},
                      QPoint(3 * pitch + pitch / 2, pitch / 2));
    QCOMPARE(m_window->tabs()->currentWidget(), m_window->memoryViews().first());
}

void TestNandCloning::sourceTableFiles()
{
    start(profile("nand-smart-copy.ini"));
    setWindow(0, 8);
    m_questions.saveAnswer = file(QStringLiteral("tables.bin"));
    QVERIFY(job(QStringLiteral("read")));
    QTRY_COMPARE(engine()->sourceTable().state(7), qint32(BadBlockTable::Good));
    const std::vector<qint32> states = engine()->sourceTable().states();

    m_questions.saveAnswer = file(QStringLiteral("source.bbt"));
    m_window->actions().saveSourceTable->trigger();
    const QByteArray saved = TestFiles::read(file(QStringLiteral("source.bbt")));
    QCOMPARE(saved.size(), 1024 * 4);
    QCOMPARE(saved.mid(3 * 4, 4), QByteArray("\x02\x00\x00\x00", 4));

    // A file one byte too long leaves the table as it is; the right size
    // replaces it.
    engine()->sourceTable().clear();
    TestFiles::write(file(QStringLiteral("long.bbt")), saved + QByteArray(1, '\0'));
    m_questions.openAnswer = file(QStringLiteral("long.bbt"));
    m_window->actions().loadSourceTable->trigger();
    QCOMPARE(engine()->sourceTable().state(3), qint32(BadBlockTable::Unknown));
    m_questions.openAnswer = file(QStringLiteral("source.bbt"));
    m_window->actions().loadSourceTable->trigger();
    QCOMPARE(engine()->sourceTable().states(), states);
}

// --- multiple read correction -------------------------------------------------------------

void TestNandCloning::multipleReadCorrectionRepairsFlips()
{
    start(profile("nand-flips.ini"));
    for (int block = 0; block < 32; ++block) {
        if (block != 3)
            QVERIFY(m_emulator.writeChip(0, block * BlockBytes, sourceBlock(block)));
    }
    // Three reads of the whole chip; the last stays in "Nand".
    for (const char *name : {"read1.bin", "read2.bin", "image.bin"}) {
        m_questions.saveAnswer = file(QLatin1String(name));
        QVERIFY(job(QStringLiteral("read"), 60000));
    }
    const QByteArray image = TestFiles::read(file(QStringLiteral("image.bin")));
    QCOMPARE(quint64(image.size()), DeviceBytes);
    const QByteArray chip = m_emulator.readChip(0, 0, DeviceBytes);
    QVERIFY(image != chip); // the reads have flipped bits

    m_questions.filesAccepted = true;
    m_questions.filesAnswer = {file(QStringLiteral("read1.bin")),
                               file(QStringLiteral("read2.bin"))};
    m_questions.saveAnswer = file(QStringLiteral("corrected.bin"));
    m_window->issueCommand(QStringLiteral("mfc"));
    QVERIFY(
        m_questions.asked.contains(QStringLiteral("files ") + file(QStringLiteral("image.bin"))));
    const QByteArray corrected = TestFiles::read(file(QStringLiteral("corrected.bin")));
    QCOMPARE(quint64(corrected.size()), DeviceBytes);
    QVERIFY(corrected == chip);
    QVERIFY(m_window->logText().contains(QStringLiteral(" use ")));
    QVERIFY(!m_window->logText().contains(QStringLiteral("Compare data Failed address")));
}

void TestNandCloning::multipleReadCorrectionRefusals_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("files");
    QTest::addColumn<quint64>("fileBytes");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<bool>("outputCreated");
    QTest::newRow("an argument does nothing") << "mfc 1" << 2 << DeviceBytes << QString() << false;
    QTest::newRow("one file") << "mfc" << 1 << DeviceBytes << "File Error" << false;
    QTest::newRow("a file of another size") << "mfc" << 2 << DeviceBytes - 1 << "Error" << true;
}

void TestNandCloning::multipleReadCorrectionRefusals()
{
    QFETCH(QString, line);
    QFETCH(int, files);
    QFETCH(quint64, fileBytes);
    QFETCH(QString, logLine);
    QFETCH(bool, outputCreated);
    start(profile("nand-flips.ini"));
    // Sparse files: nothing of them is written.
    const auto sparse = [this](const QString &name, quint64 size) {
        QFile out(file(name));
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(out.resize(qint64(size)));
    };
    sparse(QStringLiteral("image.bin"), DeviceBytes);
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("image.bin")));
    QTRY_COMPARE(engine()->nandNode()->GetSize(), DeviceBytes);
    m_questions.filesAccepted = true;
    for (int i = 0; i < files; ++i) {
        const QString name = QStringLiteral("read%1.bin").arg(i);
        sparse(name, i == files - 1 ? fileBytes : DeviceBytes);
        m_questions.filesAnswer << file(name);
    }
    m_questions.saveAnswer = file(QStringLiteral("out.bin"));
    m_window->issueCommand(line);
    if (!logLine.isEmpty())
        QVERIFY(logged(logLine));
    QCOMPARE(QFile::exists(file(QStringLiteral("out.bin"))), outputCreated);
    if (outputCreated)
        QCOMPARE(QFile(file(QStringLiteral("out.bin"))).size(), qint64(0));
}

// A disk that fills while the corrected image or the target image is
// written: the log says so, the output ends there, nothing is programmed.
void TestNandCloning::fullDisk_data()
{
    QTest::addColumn<bool>("smartCopy");
    QTest::newRow("corrected image") << false;
    QTest::newRow("target image") << true;
}

void TestNandCloning::fullDisk()
{
    QFETCH(bool, smartCopy);
    start(profile("nand-flips.ini"));
    const quint64 limit = 3 * BlockBytes;
    if (smartCopy) {
        setWindow(10, 8);
        TestFiles::write(file(QStringLiteral("source.bin")),
                         QByteArray(int(8 * BlockBytes), char(0xFF)));
        m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("source.bin")));
        QTRY_COMPARE(engine()->sourceTable().state(17), qint32(BadBlockTable::Good));
        QVERIFY(job(QStringLiteral("erase")));
        const int commandsBefore = int(m_emulator.commandLines().size());
        {
            FileSizeLimit full(limit);
            QVERIFY(full.active());
            QVERIFY(!job(QStringLiteral("smtcpy")));
        }
        QVERIFY(m_window->logText().contains(QStringLiteral("File Error")));
        QVERIFY(m_emulator.commandLines()
                    .mid(commandsBefore)
                    .filter(QStringLiteral("CMD 1C"))
                    .isEmpty());
        QCOMPARE(m_emulator.readChip(0, 10 * BlockBytes, BlockBytes),
                 QByteArray(int(BlockBytes), char(0xFF)));
        return;
    }
    for (const char *name : {"image.bin", "read1.bin", "read2.bin"}) {
        QFile sparse(file(QLatin1String(name)));
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64(DeviceBytes)));
    }
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("image.bin")));
    QTRY_COMPARE(engine()->nandNode()->GetSize(), DeviceBytes);
    m_questions.filesAccepted = true;
    m_questions.filesAnswer = {file(QStringLiteral("read1.bin")),
                               file(QStringLiteral("read2.bin"))};
    m_questions.saveAnswer = file(QStringLiteral("corrected.bin"));
    {
        FileSizeLimit full(limit);
        QVERIFY(full.active());
        m_window->issueCommand(QStringLiteral("mfc"));
    }
    QVERIFY(logged(file(QStringLiteral("corrected.bin")) + QStringLiteral(" File Error")));
    QVERIFY(QFile(file(QStringLiteral("corrected.bin"))).size() <= qint64(limit));
    QCOMPARE(QFile(file(QStringLiteral("image.bin"))).size(), qint64(DeviceBytes));
}

QTEST_MAIN(TestNandCloning)
#include "tst_nand_cloning.moc"
