#include "ApplicationFolders.h"
#include "CDeviceItemSPIFlash.h"
#include "CMemoryNode.h"
#include "EmulatedWindow.h"
#include "HexView.h"
#include "MainWindow.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"
#include "SpiEngine.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QApplication>
#include <QCheckBox>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The SPI engine in the real main window, offscreen, over the emulated
// programmer: console lines start the jobs, the emulator's command log shows
// every packet and its chip image every byte.
namespace {

std::string profile(const QString &file, const char *timing = "instant")
{
    std::string text = TestFiles::read(QStringLiteral(KVEMU_PROFILES "/") + file).toStdString();
    // The timing, in the profile's programmer section or a new one.
    const std::string section = "[programmer]\n";
    const std::string instant = "timing = " + std::string(timing) + "\n";
    const std::size_t at = text.find(section);
    if (at == std::string::npos)
        return section + instant + text;
    return text.insert(at + section.size(), instant);
}

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator random(seed);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

} // namespace

class TestSpiEngine : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void detection_data();
    void detection();
    void programErasesFirstThenReadsBack();
    void blankRangeSkipsTheErase();
    void dataFlashSectorZeroIsTwoSectors_data();
    void dataFlashSectorZeroIsTwoSectors();
    void fourByteChipAboveSixteenMiB();
    void sfdpChipAboveSixteenMiBUsesFourByteInstructions();
    void eepromWithoutIdentification();
    void singleIoBoxChoosesTheLines();
    void speedSteps_data();
    void speedSteps();
    void hexViewRepaintsWhileAProgramStreams();
    void stopInTheMiddleOfAProgram();
    void unplugInTheMiddleOfAProgram();

private:
    // False (with a warning) when the programmer did not come up.
    bool start(const std::string &profileText, const QString &target);
    bool job(const QString &line, int timeoutMs = 20000);
    SpiEngine *engine() const { return qobject_cast<SpiEngine *>(m_window->engine()); }
    QStringList commandsAfter(int from) const { return m_emulator.commandLines().mid(from); }
    QString file(const QString &name) const { return m_files.filePath(name); }
    QByteArray node(quint64 offset, quint64 length) const
    {
        QByteArray bytes(qsizetype(length), '\0');
        engine()->spiNode()->Read(offset, reinterpret_cast<quint8 *>(bytes.data()), length);
        return bytes;
    }

    EmulatedWindow m_session;
    DropInEmulator &m_emulator = m_session.emulator;
    ScriptedQuestions &m_questions = m_session.questions;
    std::unique_ptr<MainWindow> &m_window = m_session.window;
    QTemporaryDir m_files;
};

void TestSpiEngine::initTestCase()
{
    QVERIFY(m_session.load());
    QVERIFY(m_files.isValid());
}

void TestSpiEngine::init()
{
    m_session.begin();
}

void TestSpiEngine::cleanup()
{
    m_session.end();
}

bool TestSpiEngine::start(const std::string &profileText, const QString &target)
{
    return m_session.start(profileText, target);
}

bool TestSpiEngine::job(const QString &line, int timeoutMs)
{
    return m_session.job(line, timeoutMs);
}

void TestSpiEngine::detection_data()
{
    QTest::addColumn<QString>("profileFile");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("endsWell");
    // EF 40 17: the catalogue's first record of that ID.
    QTest::newRow("catalogue, 8 MiB") << "spi-w25q64fv.ini"
                                      << "W25Q64BV"
                                      << ""
                                      << "" << true;
    QTest::newRow("catalogue, 32 MiB") << "spi-w25q256.ini"
                                       << "W25Q256FV"
                                       << ""
                                       << "" << true;
    QTest::newRow("DataFlash") << "dataflash-at45db161d.ini"
                               << "AT45DB161D"
                               << ""
                               << "" << true;
    QTest::newRow("unknown ID, SFDP") << "spi-unknown-sfdp.ini"
                                      << "SPI SFDP"
                                      << ""
                                      << "" << true;
    QTest::newRow("unknown ID, no SFDP") << "spi-unknown-no-sfdp.ini"
                                         << "MX25L8005"
                                         << "Unknown device"
                                         << "define 1 New SPI | " << false;
    QTest::newRow("no chip") << "spi-no-chip.ini"
                             << "MX25L8005"
                             << "ID detection error, check pin connetion!!"
                             << "" << false;
}

void TestSpiEngine::detection()
{
    QFETCH(QString, profileFile);
    QFETCH(QString, target);
    QFETCH(QString, logged);
    QFETCH(QString, asked);
    QFETCH(bool, endsWell);
    QVERIFY(start(profile(profileFile), QStringLiteral("MX25L8005")));
    const int from = m_emulator.commandLines().size();
    QCOMPARE(job(QStringLiteral("detect")), endsWell);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->targetName(), target, 8000);
    QCOMPARE(commandsAfter(from).value(0),
             QStringLiteral("CMD 29 9f") + QString(" 00").repeated(62));
    if (!logged.isEmpty())
        QVERIFY2(m_window->logText().contains(logged), qPrintable(m_window->logText()));
    if (asked.isEmpty())
        QVERIFY(m_questions.asked.filter(QStringLiteral("define")).isEmpty());
    else
        QVERIFY(m_questions.asked.value(0).startsWith(asked));
    if (profileFile == QLatin1String("spi-no-chip.ini"))
        QVERIFY(m_window->logText().contains(QStringLiteral("ff,ff,ff")));
}

// A chip that may hold data is erased before it is programmed; the read
// gives the chip's bytes back and verify passes.
void TestSpiEngine::programErasesFirstThenReadsBack()
{
    QVERIFY(start(profile(QStringLiteral("spi-w25q64fv.ini")), QStringLiteral("W25Q64FV")));
    const QByteArray image = randomBytes(0x20000, 3);
    TestFiles::write(file(QStringLiteral("image.bin")), image);
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("image.bin")));
    QCOMPARE(node(0, 0x20000), image);

    int from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("program 0 20000")));
    QStringList sent = commandsAfter(from);
    QCOMPARE(sent.value(0), QStringLiteral("CMD 29 9f 00 00 00 00 00 00 00 00"));
    QCOMPARE(sent.filter(QStringLiteral("CMD 1b ")),
             (QStringList{"CMD 1b 06 d8 03 00 00 00 00 05 01 00 00 00 00 00 00 00 00 00 00",
                          "CMD 1b 06 d8 03 01 00 00 00 05 01 00 00 00 00 00 00 00 00 00 00"}));
    // Single IO (the box starts checked): 02h, 256 pages of 256 bytes per sector.
    QCOMPARE(sent.filter(QStringLiteral("CMD 1c ")).value(0),
             QStringLiteral("CMD 1c 02 03 00 00 00 00 00 00 00 00 01 00 00 00 00 05 01 00 00"));
    QVERIFY(m_emulator.readChip(0, 0, 0x20000) == image);

    QVERIFY(job(QStringLiteral("verify 0 20000")));
    m_window->issueCommand(QStringLiteral("init"));
    from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("read 0 20000")));
    sent = commandsAfter(from);
    QCOMPARE(sent.filter(QStringLiteral("CMD 27 ")),
             (QStringList{"CMD 27 03 03 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00",
                          "CMD 27 03 03 01 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00"}));
    QCOMPARE(node(0, 0x20000), image);
}

// An erase or a blank check that passed lets the next program of that
// range go without erasing; the program after it erases again.
void TestSpiEngine::blankRangeSkipsTheErase()
{
    QVERIFY(start(profile(QStringLiteral("spi-w25q64fv.ini")), QStringLiteral("W25Q64FV")));
    m_window->issueCommand(QStringLiteral("randomfile"));
    QVERIFY(job(QStringLiteral("blkchk 10000 10000")));
    int from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("program 10000 10000")));
    QCOMPARE(commandsAfter(from).filter(QStringLiteral("CMD 1b ")).size(), 0);
    QVERIFY(m_emulator.readChip(0, 0x10000, 0x10000) == node(0x10000, 0x10000));

    from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("program 10000 10000")));
    QCOMPARE(commandsAfter(from).filter(QStringLiteral("CMD 1b ")).size(), 1);

    QVERIFY(job(QStringLiteral("erase 20000 10000")));
    from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("program 20000 10000")));
    QCOMPARE(commandsAfter(from).filter(QStringLiteral("CMD 1b ")).size(), 0);
    QVERIFY(job(QStringLiteral("verify 10000 20000")));
}

void TestSpiEngine::dataFlashSectorZeroIsTwoSectors_data()
{
    QTest::addColumn<QString>("profileFile");
    QTest::addColumn<QString>("target");
    QTest::addColumn<quint32>("sector");
    QTest::addColumn<QStringList>("erases");
    const QString tail = QStringLiteral(" 00 d7 80 80 00 00 00 00 00 00 00 00 00");
    // Sector 0b starts at page 8: 8 << 10 with 528-byte pages, 8 × 512 otherwise.
    QTest::newRow("528-byte pages")
        << "dataflash-at45db161d.ini"
        << "AT45DB161D" << 0x21000u
        << QStringList{"CMD 1b 06 7c 03 00 00 00" + tail, "CMD 1b 06 7c 03 00 20 00" + tail,
                       "CMD 1b 06 7c 03 04 00 00" + tail};
    QTest::newRow("512-byte pages")
        << "dataflash-at45db161d-512.ini"
        << "AT45DB161D_512" << 0x20000u
        << QStringList{"CMD 1b 06 7c 03 00 00 00" + tail, "CMD 1b 06 7c 03 00 10 00" + tail,
                       "CMD 1b 06 7c 03 02 00 00" + tail};
}

void TestSpiEngine::dataFlashSectorZeroIsTwoSectors()
{
    QFETCH(QString, profileFile);
    QFETCH(QString, target);
    QFETCH(quint32, sector);
    QFETCH(QStringList, erases);
    QVERIFY(start(profile(profileFile), target));
    const int from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("erase 0 %1").arg(2 * sector, 0, 16)));
    QCOMPARE(commandsAfter(from).filter(QStringLiteral("CMD 1b ")), erases);
    // The second sector programmed and read back, one program per sector.
    m_window->issueCommand(QStringLiteral("randomfile"));
    const QString range = QStringLiteral("%1 %1").arg(sector, 0, 16);
    QVERIFY(job(QStringLiteral("program ") + range));
    QVERIFY(m_emulator.readChip(0, sector, sector) == node(sector, sector));
    QVERIFY(job(QStringLiteral("verify ") + range));
}

// The catalogue's start-up command puts the chip into 4-byte addressing:
// data above 16 MiB lands where it belongs.
void TestSpiEngine::fourByteChipAboveSixteenMiB()
{
    QVERIFY(start(profile(QStringLiteral("spi-w25q256.ini")), QStringLiteral("W25Q256FV")));
    QVERIFY(m_emulator.commandLog().contains(QStringLiteral("CMD 34 9f 02 06 06 00 06 b7 00")));
    m_window->issueCommand(QStringLiteral("randomfile"));
    const int from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("program 1010000 10000")));
    QCOMPARE(commandsAfter(from).filter(QStringLiteral("CMD 1b ")).value(0),
             QStringLiteral("CMD 1b 06 d8 04 01 01 00 00 05 01 00 00 00 00 00 00 00 00 00 00"));
    QVERIFY(m_emulator.readChip(0, 0x1010000, 0x10000) == node(0x1010000, 0x10000));
    QVERIFY(job(QStringLiteral("verify 1010000 10000")));
}

// A 32 MiB chip the catalogue does not know, found by its SFDP table: its
// commands use the four-byte instructions.
void TestSpiEngine::sfdpChipAboveSixteenMiBUsesFourByteInstructions()
{
    QVERIFY(start(profile(QStringLiteral("spi-unknown-sfdp-32m.ini")), QStringLiteral("W25Q64FV")));
    QVERIFY(job(QStringLiteral("detect")));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->targetName(), QStringLiteral("SPI SFDP"), 8000);
    QTRY_VERIFY_WITH_TIMEOUT(engine() && m_window->programmerConnected(), 8000);
    QTest::qWait(100);
    QCOMPARE(engine()->device().size, quint64(0x2000000));
    m_window->issueCommand(QStringLiteral("randomfile"));
    const int from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("program 1ff0000 10000")));
    const QStringList sent = commandsAfter(from);
    QCOMPARE(sent.filter(QStringLiteral("CMD 1b ")).value(0),
             QStringLiteral("CMD 1b 06 dc 04 01 ff 00 00 05 01 00 00 00 00 00 00 00 00 00 00"));
    QVERIFY(sent.filter(QStringLiteral("CMD 1c "))
                .value(0)
                .startsWith(QStringLiteral("CMD 1c 12 04 01 ff 00 00")));
    QVERIFY(m_emulator.readChip(0, 0x1FF0000, 0x10000) == node(0x1FF0000, 0x10000));
    QVERIFY(job(QStringLiteral("verify 1ff0000 10000")));
}

// An EEPROM answers FF FF FF to the identification: its operations start
// without the check, and it is written without an erase.
void TestSpiEngine::eepromWithoutIdentification()
{
    QVERIFY(start(profile(QStringLiteral("eeprom-m95320.ini")), QStringLiteral("M95320")));
    const QByteArray image = randomBytes(0x1000, 5);
    TestFiles::write(file(QStringLiteral("eeprom.bin")), image);
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("eeprom.bin")));
    const int from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("program")));
    const QStringList sent = commandsAfter(from);
    QCOMPARE(sent.filter(QStringLiteral("CMD 29 ")).size(), 0);
    QCOMPARE(sent.filter(QStringLiteral("CMD 1b ")).size(), 0);
    QVERIFY(m_emulator.readChip(0, 0, 0x1000) == image);
    QVERIFY(job(QStringLiteral("verify")));
    QVERIFY(m_questions.asked.isEmpty());
}

// The "Single IO" box starts checked; unchecked, a quad chip reads on four
// lines with its quad opcode.
void TestSpiEngine::singleIoBoxChoosesTheLines()
{
    QVERIFY(start(profile(QStringLiteral("spi-w25q64fv.ini")), QStringLiteral("W25Q64FV")));
    auto *box = qobject_cast<QCheckBox *>(engine()->toolWidget());
    QVERIFY(box);
    QVERIFY(box->isChecked());
    int from = m_emulator.commandLines().size();
    box->setChecked(false);
    QTRY_VERIFY(commandsAfter(from).value(0).startsWith(QStringLiteral("CMD 30 ")));
    from = m_emulator.commandLines().size();
    QVERIFY(job(QStringLiteral("read 0 10000")));
    QCOMPARE(commandsAfter(from).filter(QStringLiteral("CMD 27 ")),
             QStringList{"CMD 27 6b 03 00 00 00 00 00 00 01 00 00 00 00 00 02 00 00 00 00"});
}

void TestSpiEngine::speedSteps_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<QString>("packet");
    QTest::newRow("10") << 10 << "CMD 30 00 01 20 01 01 0e 21 0e 00";
    QTest::newRow("6") << 6 << "CMD 30 00 05 20 05 01 12 21 12 00";
    QTest::newRow("4") << 4 << "CMD 30 00 04 20 04 01 21 21 21 01";
    QTest::newRow("1") << 1 << "CMD 30 00 03 20 03 01 3c 21 3c 02";
}

void TestSpiEngine::speedSteps()
{
    QFETCH(int, speed);
    QFETCH(QString, packet);
    QVERIFY(start(profile(QStringLiteral("spi-w25q64fv.ini")), QStringLiteral("W25Q64FV")));
    const int from = m_emulator.commandLines().size();
    m_window->issueCommand(QStringLiteral("speed %1").arg(speed));
    QTRY_COMPARE(commandsAfter(from).filter(QStringLiteral("CMD 30 ")).value(0), packet);
}

// The "SPI" tab repaints from the buffer the worker streams from.
void TestSpiEngine::hexViewRepaintsWhileAProgramStreams()
{
    QVERIFY(start(profile(QStringLiteral("spi-w25q64fv.ini"), "realistic"),
                  QStringLiteral("W25Q64FV")));
    m_window->show();
    m_window->issueCommand(QStringLiteral("randomfile"));
    QVERIFY(job(QStringLiteral("blkchk 0 80000")));
    QSignalSpy ended(m_window.get(), &MainWindow::jobEndReported);
    m_window->issueCommand(QStringLiteral("program 0 80000"));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->progress().running(), 5000);
    HexView *view = m_window->memoryViews().value(0);
    QVERIFY(view);
    int repaints = 0;
    while (ended.isEmpty() && repaints < 2000) {
        view->repaint();
        ++repaints;
        QTest::qWait(5);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!ended.isEmpty(), 20000);
    QVERIFY(repaints > 10);
    QVERIFY(m_emulator.readChip(0, 0, 0x80000) == node(0, 0x80000));
}

void TestSpiEngine::stopInTheMiddleOfAProgram()
{
    QVERIFY(start(profile(QStringLiteral("spi-w25q64fv.ini"), "realistic"),
                  QStringLiteral("W25Q64FV")));
    m_window->issueCommand(QStringLiteral("randomfile"));
    QVERIFY(job(QStringLiteral("blkchk 0 100000")));
    QSignalSpy failed(m_window.get(), &MainWindow::jobFailureReported);
    m_window->issueCommand(QStringLiteral("program 0 100000"));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->progress().running(), 5000);
    QTest::qWait(300);
    const int from = m_emulator.commandLines().size();
    m_window->stopOperation();
    QCOMPARE(failed.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(commandsAfter(from).contains(QStringLiteral("CMD 33 00")), 8000);
    // The buffer is free again.
    TestFiles::write(file(QStringLiteral("after-stop.bin")), QByteArray(16, 'x'));
    m_window->issueCommand(QStringLiteral("load ") + file(QStringLiteral("after-stop.bin")));
    QVERIFY(!m_window->logText().contains(QStringLiteral("Busy")));
    QCOMPARE(node(0, 16), QByteArray(16, 'x'));
}

void TestSpiEngine::unplugInTheMiddleOfAProgram()
{
    QVERIFY(start(profile(QStringLiteral("spi-w25q64fv.ini")) + "[faults]\nreplug_ms = 300\n",
                  QStringLiteral("W25Q64FV")));
    const QByteArray image = randomBytes(0x100000, 9);
    const QString source = file(QStringLiteral("unplug.bin"));
    TestFiles::write(source, image);
    m_window->issueCommand(QStringLiteral("load ") + source);
    QVERIFY(job(QStringLiteral("blkchk 0 100000")));
    QSignalSpy connection(engine(), &ChipEngine::connectionChanged);
    QVERIFY(m_emulator.inject("unplug_after_bytes", 0x40000));
    QVERIFY(!job(QStringLiteral("program 0 100000")));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->programmerConnected(), 8000);
    QCOMPARE(connection.count(), 2);
    QCOMPARE(connection.at(0).at(0).toBool(), false);
    QVERIFY(TestFiles::read(source) == image);
    QCOMPARE(node(0, 0x100000), image);
}

KORVANE_TEST_MAIN_WITH(QApplication, TestSpiEngine)
#include "tst_spi_engine.moc"
