#include "ApplicationFolders.h"
#include "BadBlockTable.h"
#include "CDeviceItemNand.h"
#include "CFileMemoryNode.h"
#include "CommandConsole.h"
#include "EmulatedWindow.h"
#include "MainActions.h"
#include "MainWindow.h"
#include "NandDetection.h"
#include "NandEngine.h"
#include "NandPanel.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <memory>

// The NAND engine in the real main window, offscreen, over the emulated
// programmer: console lines and scripts start the jobs, the emulator's
// command log shows every packet and its chip image every byte.
namespace {

constexpr quint64 PageSize = 2112;
constexpr quint64 BlockBytes = PageSize * 64;
const QString K9 = QStringLiteral("K9F1G08U0B");

// A K9F1G08U0B (2112-byte pages, 64 pages per block, 1024 blocks) on chip
// enable 0, or on chip enables 0 and 1.
std::string k9Profile(int chipEnables = 1, const char *timing = "instant")
{
    return std::string("[programmer]\nfirmware = NAND image 1\nlink = high\ntiming = ") + timing +
           "\n[faults]\nreplug_ms = 300\n"
           "[chip]\nfamily = nand\nid = EC F1 00 95 40\ndata_bytes = 2048\n"
           "spare_bytes = 64\npages_per_block = 64\nblocks = 1024\nbad_blocks = 3, 37\n"
           "chip_enables = " +
           std::to_string(chipEnables) + "\n";
}

} // namespace

class TestNandEngine : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void detection_data();
    void detection();
    void shippedProfilesDetectAndRead_data();
    void shippedProfilesDetectAndRead();
    void readSendsItsPacketsAndFillsTheFile_data();
    void readSendsItsPacketsAndFillsTheFile();
    void verifyToleratesOneBitPerByte_data();
    void verifyToleratesOneBitPerByte();
    void eraseScansItsBlocksThenProgramAndVerify();
    void failedEraseAndProgramFailTheJob();
    void blankCheckSkipsBlocksTheScanFoundBad();
    void sourceTableFollowsTheBlockWindow();
    void windowLimitsEveryRange_data();
    void windowLimitsEveryRange();
    void stopInTheMiddle_data();
    void stopInTheMiddle();
    void unplugInTheMiddle_data();
    void unplugInTheMiddle();
    void scriptContinuesAfterTheEraseScan();
    void busyNodesRefuseLoadsAndTargetChanges();
    void newFlashDefinesADevice();
    void dataBytesOfPageSizes_data();
    void dataBytesOfPageSizes();

private:
    void start(const std::string &profile, const QString &target = K9);
    // Issues `line` and waits for its job's end; true when it ended well.
    bool job(const QString &line, int timeoutMs = 20000) { return m_session.job(line, timeoutMs); }
    void setWindow(quint32 start, quint32 count);
    NandEngine *engine() const { return qobject_cast<NandEngine *>(m_window->engine()); }
    int logCount(const QString &line) const
    {
        return int(m_window->logText().split(QLatin1Char('\n')).count(line));
    }
    QStringList commandsAfter(int from) const { return m_emulator.commandLines().mid(from); }
    QString file(const QString &name) const { return m_files.filePath(name); }

    EmulatedWindow m_session;
    DropInEmulator &m_emulator = m_session.emulator;
    ScriptedQuestions &m_questions = m_session.questions;
    QStringList &m_opened = m_session.opened;
    std::unique_ptr<MainWindow> &m_window = m_session.window;
    QTemporaryDir m_files;
};

void TestNandEngine::initTestCase()
{
    QVERIFY(m_session.load());
    QVERIFY(m_files.isValid());
}

void TestNandEngine::init()
{
    m_session.begin();
    NandDetection::resetProgramState();
}

void TestNandEngine::cleanup()
{
    m_session.end();
}

void TestNandEngine::start(const std::string &profile, const QString &target)
{
    QVERIFY(m_session.start(profile, target));
}

void TestNandEngine::setWindow(quint32 start, quint32 count)
{
    auto *panel = qobject_cast<NandPanel *>(engine()->toolWidget());
    QVERIFY(panel);
    panel->startEdit()->setText(QString::number(start));
    panel->countEdit()->setText(QString::number(count));
}

// --- detection -----------------------------------------------------------------------

void TestNandEngine::detection_data()
{
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QString>("startTarget");
    QTest::addColumn<int>("among");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("logged");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<bool>("parameterPage");
    QTest::addColumn<bool>("endsWell");

    const QByteArray unknown("[programmer]\nfirmware = NAND image 1\n[chip]\nfamily = nand\n"
                             "id = 9B F1 80 15 42\nonfi = no\nblocks = 64\n");
    QTest::newRow("catalogue chip, one chip enable")
        << QByteArray::fromStdString(k9Profile()) << "MT29F2G08AAD" << -1 << K9
        << QStringList{"Target: K9F1G08U0B", "CE Pin = 1"} << QStringList() << false << true;
    QTest::newRow("current chip, two chip enables")
        << QByteArray::fromStdString(k9Profile(2)) << K9 << -1 << K9 << QStringList{"CE Pin = 2"}
        << QStringList() << false << true;
    QTest::newRow("several records, the second chosen")
        << QByteArray("[programmer]\nfirmware = NAND image 1\n[chip]\nfamily = nand\n"
                      "id = AD F1 80 1D\nblocks = 64\n")
        << K9 << 1 << "HY27UF081G2B" << QStringList{"Target: HY27UF081G2B"}
        << QStringList{"among HY27UF081G2A,HY27UF081G2B"} << false << true;
    QTest::newRow("several records, choice cancelled")
        << QByteArray("[programmer]\nfirmware = NAND image 1\n[chip]\nfamily = nand\n"
                      "id = AD F1 80 1D\nblocks = 64\n")
        << K9 << -1 << K9 << QStringList() << QStringList{"among HY27UF081G2A,HY27UF081G2B"}
        << false << false;
    QTest::newRow("unknown chip with a parameter page")
        << QByteArray("[programmer]\nfirmware = NAND image 1\n[chip]\nfamily = nand\n"
                      "id = 01 D3 90 26 76\nonfi = yes\nmanufacturer = ACME\nmodel = AC8G\n"
                      "data_bytes = 4096\nspare_bytes = 224\npages_per_block = 64\nblocks = 256\n")
        << K9 << -1 << "NAND OFNI" << QStringList{"Target: NAND ACME AC8G"} << QStringList() << true
        << true;
    QTest::newRow("unknown chip without a parameter page")
        << unknown << K9 << -1 << K9
        << QStringList{"Unknown device", "9b,f1,80,15,42,9b", "Name=\"MINE\""}
        << QStringList{"define 0 New Nand | 9bh,f1h,80h,15h,42h,9bh"} << true << false;
    QTest::newRow("no chip")
        << QByteArray("[programmer]\nfirmware = NAND image 1\n[chip]\nfamily = none\n") << K9 << -1
        << K9
        << QStringList{"Unknown device", "ff,ff,ff,ff,ff,ff", " ",
                       "ID detection error, check pin connetion!!"}
        << QStringList() << true << false;
}

void TestNandEngine::detection()
{
    QFETCH(QByteArray, profile);
    QFETCH(QString, startTarget);
    QFETCH(int, among);
    QFETCH(QString, target);
    QFETCH(QStringList, logged);
    QFETCH(QStringList, asked);
    QFETCH(bool, parameterPage);
    QFETCH(bool, endsWell);

    start(profile.toStdString(), startTarget);
    m_questions.amongAnswer = among;
    m_questions.defineAnswer = QStringLiteral("Name=\"MINE\"");
    m_questions.asked.clear();
    const int from = m_emulator.commandLines().size();
    const bool settled = job(QStringLiteral("detect"));
    // A detection that switched the target ends once the new engine is
    // ready; the switch happens shortly after the answer.
    QTRY_COMPARE_WITH_TIMEOUT(m_window->targetName(), target, 8000);
    QCOMPARE(settled, endsWell);
    for (const QString &line : logged)
        QVERIFY2(m_window->logText().contains(line), qPrintable(line));
    QCOMPARE(m_questions.asked, asked);
    const QStringList sent = commandsAfter(from);
    // Chip 0 first, then chip 1 (selected twice) unless chip 0 is missing.
    QCOMPARE(sent.value(0), QStringLiteral("CMD 36 00"));
    QCOMPARE(sent.value(1), QStringLiteral("CMD 29 01 00 00 00 00"));
    if (!profile.contains("family = none")) {
        QCOMPARE(sent.value(2), QStringLiteral("CMD 36 01"));
        QCOMPARE(sent.value(3), QStringLiteral("CMD 36 01"));
        QCOMPARE(sent.value(4), QStringLiteral("CMD 29 01 00 00 00 00"));
    }
    QCOMPARE(sent.contains(QStringLiteral("CMD 2a 01 00 00 00 00")), parameterPage);
    if (!asked.isEmpty() && asked.first().startsWith(QStringLiteral("define")))
        QCOMPARE(m_opened.value(0).endsWith(QStringLiteral("/config/Nand.txt")), true);
}

void TestNandEngine::shippedProfilesDetectAndRead_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("logged");
    QTest::newRow("1 GiB") << "nand-1gib.ini"
                           << "NAND08GW3C2B"
                           << "Target: NAND08GW3C2B";
    QTest::newRow("two records") << "nand-hy27uf081g2.ini"
                                 << "HY27UF081G2A"
                                 << "Target: HY27UF081G2A";
    QTest::newRow("two chip enables") << "nand-k9f1g08u0b-2ce.ini" << K9 << "CE Pin = 2";
    QTest::newRow("one chip enable") << "nand-k9f1g08u0b.ini" << K9 << "CE Pin = 1";
    QTest::newRow("parameter page") << "nand-onfi-unknown.ini"
                                    << "NAND OFNI"
                                    << "Target: NAND MICRON ONFI TEST 4K";
    QTest::newRow("weak blocks") << "nand-weak-blocks.ini"
                                 << "MX30LF1G18AC"
                                 << "Target: MX30LF1G18AC";
    QTest::newRow("unknown") << "nand-unknown-no-onfi.ini" << QString() << "Unknown device";
    QTest::newRow("no chip") << "nand-no-chip.ini" << QString()
                             << "ID detection error, check pin connetion!!";
}

void TestNandEngine::shippedProfilesDetectAndRead()
{
    QFETCH(QString, profile);
    QFETCH(QString, target);
    QFETCH(QString, logged);
    const QByteArray text = TestFiles::read(QStringLiteral(KVEMU_PROFILES "/") + profile);
    QVERIFY(!text.isEmpty());
    start(text.toStdString(), QStringLiteral("MT29F2G08AAD"));
    m_questions.amongAnswer = 0;
    const bool detected = job(QStringLiteral("detect"));
    QVERIFY2(m_window->logText().contains(logged), qPrintable(m_window->logText()));
    if (target.isEmpty()) {
        QVERIFY(!detected);
        return;
    }
    QVERIFY(detected);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->targetName(), target, 8000);
    QTRY_VERIFY_WITH_TIMEOUT(engine() && m_window->programmerConnected(), 8000);
    QTest::qWait(100);

    // Two blocks of the detected chip read into a file as the chip has them.
    const quint64 block = quint64(engine()->device().pageSize) * engine()->device().blockSize;
    QVERIFY(block > 0);
    setWindow(0, 2);
    m_questions.saveAnswer = file(QStringLiteral("profile-%1.bin").arg(profile));
    QFile::remove(m_questions.saveAnswer);
    QVERIFY(job(QStringLiteral("read")));
    const QByteArray image = TestFiles::read(m_questions.saveAnswer);
    QCOMPARE(quint64(image.size()), 2 * block);
    QVERIFY(image == m_emulator.readChip(0, 0, 2 * block));
}

// --- read, verify, blank check -----------------------------------------------------------------

void TestNandEngine::readSendsItsPacketsAndFillsTheFile_data()
{
    QTest::addColumn<int>("chipEnables");
    QTest::addColumn<quint32>("startBlock");
    QTest::addColumn<quint32>("blocks");
    QTest::addColumn<QStringList>("packets");

    QTest::newRow("two blocks") << 1 << 5u << 2u
                                << QStringList{
                                       "CMD 36 00",
                                       "CMD 29 01 00 00 00 00",
                                       "CMD 36 00",
                                       "CMD 27 05 00 00 40 01 00 00 40 08 40 01 00 00 00 00 00 "
                                       "00 00 00",
                                       "CMD 27 05 00 00 80 01 00 00 40 08 40 01 00 00 00 00 00 "
                                       "00 00 00",
                                       "CMD 33 00",
                                   };
    // Block 1023 is the last of chip enable 0; block 1024 is row 0 of chip 1.
    QTest::newRow("across the chip enables")
        << 2 << 1023u << 2u
        << QStringList{
               "CMD 36 00", "CMD 29 01 00 00 00 00",
               "CMD 36 00", "CMD 27 05 00 00 c0 ff 00 00 40 08 40 01 00 00 00 00 00 00 00 00",
               "CMD 36 01", "CMD 27 05 00 00 00 00 00 00 40 08 40 01 00 00 00 00 00 00 00 00",
               "CMD 33 00",
           };
}

void TestNandEngine::readSendsItsPacketsAndFillsTheFile()
{
    QFETCH(int, chipEnables);
    QFETCH(quint32, startBlock);
    QFETCH(quint32, blocks);
    QFETCH(QStringList, packets);

    start(k9Profile(chipEnables));
    if (chipEnables == 2) {
        // The record learns its second chip enable from detection.
        QVERIFY(job(QStringLiteral("detect")));
        QTRY_COMPARE_WITH_TIMEOUT(engine()->device().ce, 2, 8000);
        QTRY_VERIFY_WITH_TIMEOUT(engine() && engine()->sourceTable().blockCount() == 2048, 8000);
        QTRY_VERIFY_WITH_TIMEOUT(m_window->programmerConnected(), 8000);
        QTest::qWait(100);
    }
    setWindow(startBlock, blocks);
    m_questions.saveAnswer = file(QStringLiteral("read-%1.bin").arg(chipEnables));
    const int from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("read")));
    QCOMPARE(commandsAfter(from).mid(0, packets.size()), packets);

    // The file holds exactly the window, as the chip has it.
    const QByteArray image = TestFiles::read(m_questions.saveAnswer);
    QCOMPARE(quint64(image.size()), blocks * BlockBytes);
    const quint64 perChip = 1024 * BlockBytes;
    QByteArray chip;
    for (quint64 address = startBlock * BlockBytes; address < (startBlock + blocks) * BlockBytes;
         address += BlockBytes)
        chip += m_emulator.readChip(int(address / perChip), address % perChip, BlockBytes);
    QVERIFY(image == chip);
    // The source table was built from the new image.
    QTRY_COMPARE(engine()->sourceTable().state(startBlock), qint32(BadBlockTable::Good));
}

void TestNandEngine::verifyToleratesOneBitPerByte_data()
{
    QTest::addColumn<quint8>("flip");
    QTest::addColumn<bool>("passes");
    QTest::newRow("unchanged") << quint8(0x00) << true;
    QTest::newRow("one bit") << quint8(0x10) << true;
    QTest::newRow("two bits") << quint8(0x11) << false;
}

void TestNandEngine::verifyToleratesOneBitPerByte()
{
    QFETCH(quint8, flip);
    QFETCH(bool, passes);
    start(k9Profile());
    setWindow(8, 2);
    m_questions.saveAnswer = file(QStringLiteral("verify-%1.bin").arg(flip));
    QFile::remove(m_questions.saveAnswer);
    QVERIFY(job(QStringLiteral("read")));
    {
        QFile image(m_questions.saveAnswer);
        QVERIFY(image.open(QIODevice::ReadWrite));
        const qint64 at = qint64(BlockBytes + 1000);
        image.seek(at);
        char byte = 0;
        image.getChar(&byte);
        image.seek(at);
        image.putChar(char(quint8(byte) ^ flip));
    }
    QCOMPARE(job(QStringLiteral("verify")), passes);
    if (passes) {
        QCOMPARE(logCount(QStringLiteral("Compare data OK")), 1);
    } else {
        const QString address = QString::number(9 * BlockBytes + 1000, 16).toUpper();
        QVERIFY(m_window->logText().contains(QStringLiteral("Compare data Failed address ") +
                                             address + QStringLiteral(" ,target ")));
    }
}

void TestNandEngine::eraseScansItsBlocksThenProgramAndVerify()
{
    start(k9Profile());
    setWindow(5, 5);
    // An image for blocks 5..9 (none of them bad on this chip).
    QByteArray image(int(5 * BlockBytes), '\0');
    QRandomGenerator random(7);
    for (char &byte : image)
        byte = char(random.bounded(256));
    for (int block = 0; block < 5; ++block)
        image[int(block * BlockBytes + 2048)] = char(0xFF); // good-block marks
    TestFiles::write(file(QStringLiteral("image.bin")), image);
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("image.bin")));
    QTRY_COMPARE(engine()->sourceTable().state(5), qint32(BadBlockTable::Good));

    int from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("erase")));
    QStringList scans = commandsAfter(from).filter(QStringLiteral("CMD 37 "));
    QCOMPARE(scans.size(), 5);
    QCOMPARE(scans.first(),
             QStringLiteral("CMD 37 05 00 00 40 01 00 00 00 02 00 00 00 00 00 00 00 00 00 00"));
    QStringList erases = commandsAfter(from).filter(QStringLiteral("CMD 1b "));
    QCOMPARE(erases.size(), 5);
    QCOMPARE(erases.first(),
             QStringLiteral("CMD 1b 03 40 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    for (quint32 block = 5; block < 10; ++block)
        QCOMPARE(engine()->targetTable().state(block), qint32(BadBlockTable::Good));
    QCOMPARE(engine()->targetTable().state(4), qint32(BadBlockTable::Unknown));
    QCOMPARE(engine()->targetTable().state(10), qint32(BadBlockTable::Unknown));

    from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("program")));
    const QStringList programs = commandsAfter(from).filter(QStringLiteral("CMD 1c "));
    // 320 pages in chunks of 512 pages at most: one command of 320 pages.
    QCOMPARE(programs,
             QStringList{"CMD 1c 05 00 00 40 01 00 00 40 08 40 02 00 00 00 00 00 00 00 00"});
    QVERIFY(commandsAfter(from).contains(QStringLiteral("CMD 32")));
    QCOMPARE(m_emulator.readChip(0, 5 * BlockBytes, 5 * BlockBytes), image);
    QVERIFY(job(QStringLiteral("verify")));
}

void TestNandEngine::failedEraseAndProgramFailTheJob()
{
    start("[programmer]\nfirmware = NAND image 1\n[chip]\nfamily = nand\nid = EC F1 00 95 40\n"
          "data_bytes = 2048\nspare_bytes = 64\npages_per_block = 64\nblocks = 1024\n"
          "erase_fail_blocks = 11\nprogram_fail_blocks = 13\n");
    setWindow(10, 4);
    QVERIFY(!job(QStringLiteral("erase")));
    QVERIFY(m_window->logText().contains(QStringLiteral("Erase failed: block 11")));
    QCOMPARE(engine()->targetTable().state(11), qint32(BadBlockTable::Bad));
    QCOMPARE(engine()->targetTable().state(12), qint32(BadBlockTable::Good));

    QByteArray image(int(4 * BlockBytes), char(0x5A));
    TestFiles::write(file(QStringLiteral("fail.bin")), image);
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("fail.bin")));
    QVERIFY(!job(QStringLiteral("program")));
    QVERIFY(m_window->logText().contains(QStringLiteral("Program failed: ")));
}

void TestNandEngine::blankCheckSkipsBlocksTheScanFoundBad()
{
    start(k9Profile());
    setWindow(2, 3); // block 3 is a factory bad block
    m_window->issueCommand(QStringLiteral("newchip"));
    QVERIFY(!job(QStringLiteral("blkchk")));
    QVERIFY(
        m_window->logText().contains(QStringLiteral("Flash is not blank at address %1 ,target 00")
                                         .arg(QString::number(3 * BlockBytes, 16).toUpper())));
    // The erase leaves the factory bad block alone; the scan marks it.
    job(QStringLiteral("erase"));
    QCOMPARE(engine()->targetTable().state(3), qint32(BadBlockTable::Bad));
    QVERIFY(m_window->logText().contains(QStringLiteral("Target bad block No. 4")));
    QVERIFY(job(QStringLiteral("blkchk")));
    QCOMPARE(logCount(QStringLiteral("Flash blanked")), 1);
}

void TestNandEngine::sourceTableFollowsTheBlockWindow()
{
    start(k9Profile());
    setWindow(10, 5);
    QByteArray image(int(5 * BlockBytes), char(0xFF));
    for (int bad : {0, 1, 2}) // the first three blocks of the window carry a bad mark
        image[int(bad * BlockBytes + 2048)] = 0;
    TestFiles::write(file(QStringLiteral("marks.bin")), image);
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("marks.bin")));
    QTRY_COMPARE(engine()->sourceTable().state(14), qint32(BadBlockTable::Good));
    QCOMPARE(engine()->sourceTable().state(12), qint32(BadBlockTable::Bad));
    QCOMPARE(engine()->sourceTable().state(9), qint32(BadBlockTable::Unknown));
    QCOMPARE(logCount(QStringLiteral("Source bad block No. 3")), 1);
}

void TestNandEngine::windowLimitsEveryRange_data()
{
    QTest::addColumn<quint64>("start");
    QTest::addColumn<quint64>("length");
    QTest::addColumn<quint64>("expectedStart");
    QTest::addColumn<quint64>("expectedLength");
    const quint64 b = BlockBytes;
    QTest::newRow("whole device: the window") << 0ull << 0ull << 4 * b << 3 * b;
    QTest::newRow("from the device start") << 0ull << 10 * b << 4 * b << 3 * b;
    QTest::newRow("inside") << 5 * b << b << 5 * b << b;
    QTest::newRow("past the window's end") << 6 * b << 5 * b << 6 * b << b;
    QTest::newRow("outside: the window") << 20 * b << b << 4 * b << 3 * b;
    QTest::newRow("not on a block") << 5 * b + 7 << b + 9 << 5 * b << b;
}

void TestNandEngine::windowLimitsEveryRange()
{
    QFETCH(quint64, start);
    QFETCH(quint64, length);
    QFETCH(quint64, expectedStart);
    QFETCH(quint64, expectedLength);
    QVERIFY(m_emulator.configure(k9Profile()));
    settings().setString(Settings::TestName, K9);
    m_window = std::make_unique<MainWindow>(&m_questions);
    setWindow(4, 3);
    engine()->normalizeRange(start, length);
    QCOMPARE(start, expectedStart);
    QCOMPARE(length, expectedLength);
}

void TestNandEngine::stopInTheMiddle_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("read") << "read";
    QTest::newRow("verify") << "verify";
    QTest::newRow("blank check") << "blkchk";
    QTest::newRow("erase") << "erase";
    QTest::newRow("program") << "program";
}

void TestNandEngine::stopInTheMiddle()
{
    QFETCH(QString, line);
    start(k9Profile(1, "realistic"));
    setWindow(100, 200);
    QByteArray image(int(200 * BlockBytes), char(0xFF));
    TestFiles::write(file(QStringLiteral("stop.bin")), image);
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("stop.bin")));
    QTRY_COMPARE(engine()->sourceTable().state(100), qint32(BadBlockTable::Good));
    m_questions.saveAnswer = file(QStringLiteral("stop-%1.bin").arg(line));
    QFile::remove(m_questions.saveAnswer);

    QSignalSpy failed(m_window.get(), &MainWindow::jobFailureReported);
    m_window->issueCommand(line);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->progress().running(), 5000);
    QTest::qWait(200);
    const int from = m_emulator.commandLines().size();
    m_window->stopOperation();
    QCOMPARE(failed.size(), 1);
    QVERIFY(!m_window->progress().running());
    QTRY_VERIFY_WITH_TIMEOUT(commandsAfter(from).contains(QStringLiteral("CMD 33 00")), 8000);
    // The buffers are free again: a load is taken.
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("stop.bin")));
    QCOMPARE(logCount(QStringLiteral("Busy")), 0);
}

void TestNandEngine::unplugInTheMiddle_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("read") << "read";
    QTest::newRow("program") << "program";
}

void TestNandEngine::unplugInTheMiddle()
{
    QFETCH(QString, line);
    start(k9Profile());
    setWindow(0, 40);
    // The image to program: random pages whose blocks all carry good marks.
    QByteArray image(int(40 * BlockBytes), '\0');
    QRandomGenerator random(11);
    for (char &byte : image)
        byte = char(random.bounded(256));
    for (int block = 0; block < 40; ++block)
        image[int(block * BlockBytes + 2048)] = char(0xFF);
    const QString source = file(QStringLiteral("unplug-source.bin"));
    TestFiles::write(source, image);
    if (line == QLatin1String("program")) {
        m_window->issueCommand(QStringLiteral("load ") + source);
        QTRY_COMPARE(engine()->sourceTable().state(0), qint32(BadBlockTable::Good));
    }
    m_questions.saveAnswer = file(QStringLiteral("unplug.bin"));
    QFile::remove(m_questions.saveAnswer);

    QSignalSpy connection(engine(), &ChipEngine::connectionChanged);
    QVERIFY(m_emulator.inject("unplug_after_bytes", 20 * BlockBytes));
    QVERIFY(!job(line));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->programmerConnected(), 8000);
    QCOMPARE(connection.count(), 2);
    QCOMPARE(connection.at(0).at(0).toBool(), false);
    QCOMPARE(connection.at(1).at(0).toBool(), true);
    if (line == QLatin1String("read")) {
        // What reached the file is the chip's start, in place.
        const QByteArray read = TestFiles::read(m_questions.saveAnswer);
        QVERIFY(read.size() < int(40 * BlockBytes));
        QVERIFY(read == m_emulator.readChip(0, 0, quint64(read.size())));
    } else {
        // The user's image is untouched, and the chip got a part of it.
        QVERIFY(TestFiles::read(source) == image);
        QVERIFY(m_emulator.readChip(0, 0, BlockBytes) == image.left(int(BlockBytes)));
    }
}

void TestNandEngine::scriptContinuesAfterTheEraseScan()
{
    start(k9Profile());
    QVERIFY(QDir().mkpath(applicationFolder(ScriptFolder)));
    TestFiles::write(applicationFolder(ScriptFolder) + QStringLiteral("wipe.usp"),
                     "erase\nblkchk\necho after the check\n");

    // Blocks 5..7 erase well: the blank check starts only after the scan.
    setWindow(5, 3);
    int from = m_emulator.commandLines().size();
    m_window->console().SubmitLine(QStringLiteral("wipe"));
    QTRY_COMPARE_WITH_TIMEOUT(logCount(QStringLiteral("Script finished")), 1, 20000);
    QCOMPARE(logCount(QStringLiteral("after the check ")), 1);
    QCOMPARE(logCount(QStringLiteral("Flash blanked")), 1);
    const QStringList sent = commandsAfter(from);
    const auto lastScan = std::find_if(sent.rbegin(), sent.rend(), [](const QString &l) {
        return l.startsWith(QStringLiteral("CMD 37 "));
    });
    // The blank check's reads follow the erases (the reads before them
    // look for bad-block marks).
    const auto firstErase = std::find_if(sent.begin(), sent.end(), [](const QString &l) {
        return l.startsWith(QStringLiteral("CMD 1b "));
    });
    const auto firstRead = std::find_if(firstErase, sent.end(), [](const QString &l) {
        return l.startsWith(QStringLiteral("CMD 27 "));
    });
    QVERIFY(lastScan != sent.rend() && firstRead != sent.end());
    QVERIFY(lastScan.base() <= firstRead);
    QCOMPARE(sent.filter(QStringLiteral("CMD 37 ")).size(), 3);

    // Block 3 carries a factory mark: it is not erased (its mark stays),
    // the scan lists it, the blank check passes over it and the script
    // goes on.
    setWindow(2, 3);
    from = m_emulator.commandLines().size();
    m_window->console().SubmitLine(QStringLiteral("wipe"));
    QTRY_COMPARE_WITH_TIMEOUT(logCount(QStringLiteral("Script finished")), 2, 20000);
    QCOMPARE(logCount(QStringLiteral("Target bad block No. 4")), 1);
    QCOMPARE(logCount(QStringLiteral("after the check ")), 2);
    QCOMPARE(logCount(QStringLiteral("Failed, Stop script")), 0);
    QCOMPARE(commandsAfter(from).filter(QStringLiteral("CMD 1b ")).size(), 2);
    QCOMPARE(engine()->targetTable().state(3), qint32(BadBlockTable::Bad));
    QCOMPARE(engine()->targetTable().state(4), qint32(BadBlockTable::Good));
}

void TestNandEngine::busyNodesRefuseLoadsAndTargetChanges()
{
    start(k9Profile(1, "realistic"));
    setWindow(100, 100);
    m_questions.saveAnswer = file(QStringLiteral("busy.bin"));
    QFile::remove(m_questions.saveAnswer);
    m_window->issueCommand(QStringLiteral("read"));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->progress().running(), 5000);
    TestFiles::write(file(QStringLiteral("other.bin")), QByteArray(64, 'x'));
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("other.bin")));
    QVERIFY(!m_window->selectTarget(QStringLiteral("HY27UF081G2A")));
    engine()->fillRandom();
    QCOMPARE(logCount(QStringLiteral("Busy")), 3);
    QCOMPARE(engine()->nandNode()->backingFileName(), m_questions.saveAnswer);
    m_window->stopOperation();
}

void TestNandEngine::newFlashDefinesADevice()
{
    start(k9Profile());
    m_questions.defineAnswer = QStringLiteral("Name=\"x\"");
    m_window->actions().newSpiFlash->trigger();
    QCOMPARE(m_questions.asked.last(), QStringLiteral("define 1 SPI Flash | "));
    QVERIFY(m_opened.value(0).endsWith(QStringLiteral("/config/SPI.txt")));
    QCOMPARE(logCount(QStringLiteral("Name=\"x\"")), 1);
    m_questions.defineAnswer.clear();
    m_window->actions().newNandFlash->trigger();
    QCOMPARE(m_questions.asked.last(), QStringLiteral("define 0 Nand Flash | "));
    QCOMPARE(m_opened.size(), 1);
}

void TestNandEngine::dataBytesOfPageSizes_data()
{
    QTest::addColumn<quint32>("pageSize");
    QTest::addColumn<quint32>("dataBytes");
    QTest::newRow("528") << 528u << 512u;
    QTest::newRow("2112") << 2112u << 2048u;
    QTest::newRow("512") << 512u << 0u;
    QTest::newRow("1000") << 1000u << 512u;
    QTest::newRow("4320") << 4320u << 4096u;
    QTest::newRow("9000") << 9000u << 8192u;
    QTest::newRow("16384") << 16384u << 0u;
    QTest::newRow("17664") << 17664u << 16384u;
}

void TestNandEngine::dataBytesOfPageSizes()
{
    QFETCH(quint32, pageSize);
    QFETCH(quint32, dataBytes);
    QCOMPARE(BadBlockTable::dataBytes(pageSize), dataBytes);
}

KORVANE_TEST_MAIN_WITH(QApplication, TestNandEngine)
#include "tst_nand_engine.moc"
