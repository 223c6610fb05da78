#include "AnswerKind.h"
#include "ApplicationFolders.h"
#include "CMemoryNode.h"
#include "ChipEngine.h"
#include "DropInEmulator.h"
#include "MainActions.h"
#include "MainWindow.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"
#include "SpiEngine.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "UsbDriverTable.h"
#include "WindowGeometry.h"
#include "WorkingFolderPanel.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QUrl>

#include <memory>
#include <string>

// The real main window, offscreen, in a fresh settings home, with the
// emulated programmer as its transport (tests/bin/dll/libkvusb.so). What
// reached the programmer is read from the emulator's command log.
namespace {

const QString Nand = QStringLiteral("K9F1G08U0B");
const QString Spi = QStringLiteral("W25Q64FV");
const QString Identify = QStringLiteral("CMD 18 00 02 00 0a 00 00 00 00");
const QString OperationEnd = QStringLiteral("CMD 33 00");
const QString AdapterCheck = QStringLiteral("CMD 10 ");

// The NAND programmer with its image running, a K9F1G08U0B in the socket.
std::string nandProfile(const char *link = "high")
{
    return std::string("[programmer]\nfirmware = NAND image 1\nlink = ") + link +
           "\n[faults]\nreplug_ms = 500\n"
           "[chip]\nfamily = nand\nid = EC F1 00 95 40\nblocks = 64\n";
}

const std::string SpiProfile = "[programmer]\nfirmware = SPI image 0\nidentification = 0x4B560200\n"
                               "[chip]\nfamily = spi\nid = EF 40 17\nsize = 8M\n";

// One main window with its questions answered by the test.
struct Session
{
    explicit Session(const QString &lastTarget = QString(), const QString &deviceAnswer = QString())
    {
        if (!lastTarget.isEmpty())
            settings().setString(Settings::TestName, lastTarget);
        questions.deviceAnswer = deviceAnswer;
        window = std::make_unique<MainWindow>(&questions);
        window->setUrlOpener([this](const QUrl &url) {
            opened << url.toString();
            return true;
        });
    }
    bool connected() const
    {
        return window->usbStatusLabel()->text().startsWith(QStringLiteral("USB connected"));
    }
    bool waitConnected()
    {
        return QTest::qWaitFor([this] { return connected(); }, 8000);
    }
    int logCount(const QString &line) const
    {
        return int(window->logText().split(QLatin1Char('\n')).count(line));
    }

    ScriptedQuestions questions;
    QStringList opened;
    std::unique_ptr<MainWindow> window;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstStartAsksForADevice();
    void withoutATargetNothingNeedsAnEngine();
    void dialogChoiceSelectsAndConnects();
    void connectionShowsTheLinkSpeed_data();
    void connectionShowsTheLinkSpeed();
    void lastTargetWithoutRecordOpensTheDialog();
    void wrongBoardSwitchesTheNandImage();
    void autoScriptRunsOnceTheProgrammerIsReady();
    void recentTargetSwitchesTheEngine();
    void busyRefusesTargetChanges();
    void unplugShowsDisconnectionAndRefusesOperations();
    void progressEndsWithItsLogLine_data();
    void progressEndsWithItsLogLine();
    void eraseProgressCountsFromItsStart();
    void verifyMismatchStopsTheOperation();
    void stopSendsTheOperationEnd();
    void confirmations_data();
    void confirmations();
    void panelOpensFilesAndFollowsTheFolder();
    void logFileInLatin1WithCrLf();
    void editDeviceFileOpensTheFamilyFile();
    void restoresGeometryFromSettings();
    void storesGeometryAndFolderAtClose();

private:
    DropInEmulator m_emulator;
    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(m_emulator.load());
    m_emulator.setDownloadPause(0);
}

void TestMainWindow::init()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
    QVERIFY(m_emulator.configure(nandProfile()));
    m_emulator.clearLog();
}

void TestMainWindow::cleanup()
{
    m_objects.reset();
    m_home.reset();
}

void TestMainWindow::firstStartAsksForADevice()
{
    Session s;
    QCOMPARE(s.questions.asked, QStringList{QStringLiteral("device")});
    QVERIFY(!s.window->engine());
    QCOMPARE(s.window->windowTitle(), QStringLiteral("Korvane 1.10  "));
    QCOMPARE(s.window->usbStatusLabel()->text(), QStringLiteral("USB Not connected  "));
    // The catalogue was loaded: the shipped files were installed and read.
    QVERIFY(s.window->catalogue().findByName(Nand));
    QVERIFY(s.window->catalogue().findByName(Spi));
    // The emulator is the transport, bound for the window's lifetime.
    QVERIFY(UsbDriverTable::instance().isResolved());
    s.window.reset();
    QCOMPARE(UsbDriverTable::instance().currentDriver(), -1);
}

void TestMainWindow::withoutATargetNothingNeedsAnEngine()
{
    Session s;
    s.window->stopOperation();
    s.window->speedSlider()->setValue(3);
    s.window->actions().newChip->trigger();
    s.window->actions().save->trigger();
    QCOMPARE(s.window->startOperation(0, 0, JobCode::Read), int(CommandStatus::Failed));
    QCOMPARE(s.logCount(QStringLiteral("Busy")), 1);
    s.window->actions().editDeviceFile->trigger();
    QVERIFY(s.opened.isEmpty());
    QVERIFY(!s.window->actions().nandMenu->isEnabled());
    QVERIFY(!s.window->actions().smartCopy->isVisible());
    // Menu actions still issue their command lines.
    QSignalSpy issued(s.window.get(), &MainWindow::commandIssued);
    s.window->actions().read->trigger();
    QCOMPARE(issued.size(), 1);
    QCOMPARE(issued.at(0).at(0).toString(), QStringLiteral("read "));
    QCOMPARE(s.logCount(QStringLiteral("-read ")), 1);
    QTest::qWait(100);
    QVERIFY(m_emulator.commandLog().isEmpty());
}

void TestMainWindow::dialogChoiceSelectsAndConnects()
{
    Session s(QString(), Nand);
    QCOMPARE(s.questions.asked, QStringList{QStringLiteral("device")});
    QVERIFY(s.window->engine());
    QCOMPARE(s.window->windowTitle(), QStringLiteral("Korvane 1.10  Target: K9F1G08U0B "));
    QCOMPARE(s.logCount(QStringLiteral("Korvane   1.10")), 1);
    QCOMPARE(s.logCount(QStringLiteral("Target: K9F1G08U0B")), 1);
    QVERIFY(s.waitConnected());
    QCOMPARE(s.window->usbStatusLabel()->text(), QStringLiteral("USB connected (2.0)"));
    QTRY_VERIFY(m_emulator.commandLines().contains(Identify));
    QCOMPARE(settings().string(Settings::TestName), Nand);
    QCOMPARE(settings().list(Settings::RecentTargetList), QStringList{Nand});
    QCOMPARE(s.window->actions().nandMenu->title(), QStringLiteral("Nand"));
    QVERIFY(s.window->actions().smartCopy->isVisible());
    // The speed follows the record's speed step.
    QCOMPARE(s.window->speedSlider()->value(), s.window->targetRecord()->speed);
    QCOMPARE(s.window->speedLabel()->text(),
             QStringLiteral("   Speed: (%1)  ").arg(s.window->targetRecord()->speed));
}

void TestMainWindow::connectionShowsTheLinkSpeed_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QString>("status");
    QTest::newRow("NAND, high speed") << Nand << QByteArray::fromStdString(nandProfile())
                                      << QStringLiteral("USB connected (2.0)");
    QTest::newRow("NAND, full speed") << Nand << QByteArray::fromStdString(nandProfile("full"))
                                      << QStringLiteral("USB connected (1.1)");
    QTest::newRow("SPI") << Spi << QByteArray::fromStdString(SpiProfile)
                         << QStringLiteral("USB connected (2.0)");
}

void TestMainWindow::connectionShowsTheLinkSpeed()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, profile);
    QFETCH(QString, status);
    QVERIFY(m_emulator.configure(profile.toStdString()));
    m_emulator.clearLog();
    Session s(target);
    QVERIFY(s.questions.asked.isEmpty());
    QCOMPARE(s.window->targetName(), target);
    QVERIFY(s.waitConnected());
    QCOMPARE(s.window->usbStatusLabel()->text(), status);
    QVERIFY(s.window->connectedDisplay());
    // Already running: no download, straight to the identification.
    QTRY_COMPARE(m_emulator.commandLines().value(0), Identify);
}

void TestMainWindow::lastTargetWithoutRecordOpensTheDialog()
{
    Session s(QStringLiteral("NO SUCH CHIP"));
    QCOMPARE(s.questions.asked, QStringList{QStringLiteral("device")});
    QVERIFY(!s.window->engine());
    QCOMPARE(s.window->windowTitle(), QStringLiteral("Korvane 1.10  "));
}

void TestMainWindow::wrongBoardSwitchesTheNandImage()
{
    // A bare programmer on the other adapter board: the first image says so
    // in its identification, the engine downloads the other one.
    QVERIFY(m_emulator.configure("[programmer]\nboard = 2\n"
                                 "[chip]\nfamily = nand\nid = EC F1 00 95 40\nblocks = 64\n"));
    m_emulator.clearLog();
    Session s(Nand);
    // The connection's own packets (timing, pins) aside.
    const auto connectionSteps = [this] {
        QStringList steps = m_emulator.commandLines();
        steps.removeIf([](const QString &line) {
            return line.startsWith(QStringLiteral("CMD 30 ")) ||
                   line.startsWith(QStringLiteral("CMD 35 "));
        });
        return steps;
    };
    QTRY_COMPARE_WITH_TIMEOUT(connectionSteps().size(), 5, 15000);
    // The adapter check of the NAND programmer: kind 0, high speed, two
    // column and three row address bytes (2112-byte pages, 65536 per chip).
    QCOMPARE(connectionSteps(),
             (QStringList{"DOWNLOAD NAND image 1", Identify, "DOWNLOAD NAND image 2", Identify,
                          "CMD 10 00 00 01 00 02 03 00 00 00"}));
    QVERIFY(settings().boolean(Settings::BoardType, false));
    QVERIFY(s.waitConnected());
    QVERIFY(s.questions.asked.isEmpty());
}

void TestMainWindow::autoScriptRunsOnceTheProgrammerIsReady()
{
    // The first image is the wrong one: the programmer connects twice, but
    // is ready only once, after the second image's adapter check.
    QVERIFY(m_emulator.configure("[programmer]\nboard = 2\n"
                                 "[chip]\nfamily = nand\nid = EC F1 00 95 40\nblocks = 64\n"));
    settings().setBoolean(Settings::AutoScript, true);
    QVERIFY(QDir().mkpath(applicationFolder(ScriptFolder)));
    TestFiles::write(applicationFolder(ScriptFolder) + Nand + QStringLiteral(".usp"),
                     "echo auto script\nspeed 3\n");
    Session s(Nand);
    QVERIFY(s.window->actions().autoScript->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(s.logCount(QStringLiteral("Script finished")) == 1, 15000);
    QTest::qWait(200);
    QCOMPARE(s.logCount(QStringLiteral("auto script ")), 1);
    QCOMPARE(s.logCount(QStringLiteral("-speed 3")), 1);
    QCOMPARE(s.window->speedSlider()->value(), 3);
    // Switched off in the Tools menu, it stays off for the next start.
    s.window->actions().autoScript->setChecked(false);
    QVERIFY(!settings().boolean(Settings::AutoScript, true));
}

void TestMainWindow::recentTargetSwitchesTheEngine()
{
    settings().setList(Settings::RecentTargetList, {Spi, Nand});
    Session s(Nand);
    QVERIFY(s.waitConnected());
    const QList<QAction *> recent = s.window->actions().recentTargets->actions();
    QCOMPARE(recent.at(0)->text(), QStringLiteral("&1 ") + Nand);
    QCOMPARE(recent.at(1)->text(), QStringLiteral("&2 ") + Spi);
    QVERIFY(!recent.at(2)->isVisible());

    QVERIFY(m_emulator.configure(SpiProfile));
    recent.at(1)->trigger();
    QCOMPARE(s.window->targetName(), Spi);
    const auto *engine = qobject_cast<SpiEngine *>(s.window->engine());
    QVERIFY(engine);
    QCOMPARE(engine->image(), SpiImage0);
    QCOMPARE(s.window->windowTitle(), QStringLiteral("Korvane 1.10  Target: W25Q64FV "));
    QCOMPARE(s.window->actions().nandMenu->title(), QString());
    QVERIFY(!s.window->actions().smartCopy->isVisible());
    QVERIFY(s.window->actions().save->isVisible());
    QCOMPARE(settings().list(Settings::RecentTargetList), (QStringList{Spi, Nand}));
    QVERIFY(s.waitConnected());
}

void TestMainWindow::busyRefusesTargetChanges()
{
    Session s(Nand);
    QVERIFY(s.waitConnected());
    s.window->beginProgress(0, 10);
    QVERIFY(!s.window->selectTarget(Spi));
    s.window->actions().selectDevice->trigger();
    QCOMPARE(s.logCount(QStringLiteral("Busy")), 2);
    QVERIFY(s.questions.asked.isEmpty());
    QCOMPARE(s.window->targetName(), Nand);
    QCOMPARE(s.window->startOperation(0, 0, JobCode::Read), int(CommandStatus::Failed));
    QCOMPARE(s.logCount(QStringLiteral("Busy")), 3);
}

void TestMainWindow::unplugShowsDisconnectionAndRefusesOperations()
{
    Session s(Nand);
    QVERIFY(s.waitConnected());
    QSignalSpy failed(s.window.get(), &MainWindow::jobFailureReported);
    s.window->beginProgress(0, 100);
    QVERIFY(m_emulator.inject("unplug", 1500));
    // The next request finds the programmer gone.
    s.window->engine()->queryIdentification();
    QTRY_COMPARE(s.window->usbStatusLabel()->text(), QStringLiteral("USB Not connected  "));
    QVERIFY(!s.window->operationRunning());
    QCOMPARE(s.window->startOperation(0, 0, JobCode::Read), int(CommandStatus::Failed));
    QCOMPARE(s.logCount(QStringLiteral("Busy")), 1);
    // Back after the replug, by the engine's reconnect.
    QVERIFY(s.waitConnected());
    QVERIFY(s.window->connectedDisplay());
    // The lost connection failed whatever job ran.
    QVERIFY(!failed.isEmpty());
    QCOMPARE(failed.first().first().toInt(), 0);
}

void TestMainWindow::progressEndsWithItsLogLine_data()
{
    QTest::addColumn<int>("job");
    QTest::addColumn<QString>("line");
    QTest::newRow("read") << int(JobCode::Read) << QString();
    QTest::newRow("verify") << int(JobCode::Verify) << QStringLiteral("Compare data OK");
    QTest::newRow("blank check") << int(JobCode::BlankCheck) << QStringLiteral("Flash blanked");
}

void TestMainWindow::progressEndsWithItsLogLine()
{
    QFETCH(int, job);
    QFETCH(QString, line);
    Session s(Nand);
    QVERIFY(s.waitConnected());
    QSignalSpy ended(s.window.get(), &MainWindow::jobEndReported);
    CMemoryNode node(QStringLiteral("Test"), 0, 4096, 0xFF);
    const QByteArray erased(512, char(0xFF));
    const auto *bytes = reinterpret_cast<const quint8 *>(erased.constData());
    s.window->beginProgress(0, 8);
    QTest::qWait(20); // the elapsed time is logged only when it is not 0 ms
    for (uint position = 0; position < 8; ++position) {
        QVERIFY(s.window->operationRunning());
        if (job == JobCode::Read)
            s.window->showChunkProgress(position, 1, &node);
        else if (job == JobCode::Verify)
            s.window->showVerifyProgress(position, 1, &node, position * 512, bytes, 512, nullptr);
        else
            s.window->showBlankProgress(position, 1, true);
    }
    QVERIFY(!s.window->operationRunning());
    QCOMPARE(s.window->progressBar()->value(), 0);
    const QStringList log = s.window->logText().split(QLatin1Char('\n'));
    QVERIFY(log.count() >= 2);
    const QString last = line.isEmpty() ? log.last() : log.at(log.size() - 2);
    QVERIFY2(last.startsWith(QStringLiteral("Time ")), qPrintable(last));
    QVERIFY(QRegularExpression(QStringLiteral("^Time \\d\\d:\\d\\d:\\d\\d \\(\\.\\d\\d\\d\\)$"))
                .match(last)
                .hasMatch());
    if (!line.isEmpty())
        QCOMPARE(log.last(), line);
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.at(0).at(0).toInt(), job);
}

void TestMainWindow::eraseProgressCountsFromItsStart()
{
    Session s(Nand);
    QVERIFY(s.waitConnected());
    QSignalSpy ended(s.window.get(), &MainWindow::jobEndReported);
    // Pages 640 to 767: the answers carry absolute page numbers.
    s.window->beginProgress(640, 128);
    QTest::qWait(20);
    s.window->showEraseProgress(640 + 64);
    QCOMPARE(s.window->progressBar()->value(), 64);
    QVERIFY(s.window->operationRunning());
    s.window->showEraseProgress(640 + 127);
    QVERIFY(s.window->operationRunning());
    s.window->showEraseProgress(640 + 128);
    QVERIFY(!s.window->operationRunning());
    QVERIFY(s.window->logText().split(QLatin1Char('\n')).last().startsWith("Erase time "));
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.at(0).at(0).toInt(), int(JobCode::Erase));
    // An answer after the end changes nothing.
    s.window->showEraseProgress(640 + 128);
    QCOMPARE(ended.size(), 1);
}

void TestMainWindow::verifyMismatchStopsTheOperation()
{
    Session s(Nand);
    QVERIFY(s.waitConnected());
    // Past the identification and the adapter check that follows it.
    QTRY_VERIFY(m_emulator.commandLog().contains(AdapterCheck));
    m_emulator.clearLog();
    CMemoryNode node(QStringLiteral("Test"), 0, 4096, 0xFF);
    MemoryNodeHooks hooks;
    hooks.log = [&s](const QString &line) { s.window->appendLog(line); };
    node.setHooks(hooks);
    QByteArray chip(512, char(0xFF));
    chip[7] = 0x12;
    s.window->beginProgress(0, 8);
    s.window->showVerifyProgress(0, 1, &node, 0, reinterpret_cast<const quint8 *>(chip.data()), 512,
                                 nullptr);
    QVERIFY(!s.window->operationRunning());
    QVERIFY(s.window->logText().contains(QStringLiteral("Compare data Failed address")));
    QTRY_COMPARE(m_emulator.commandLines(), QStringList{OperationEnd});
}

void TestMainWindow::stopSendsTheOperationEnd()
{
    Session s(Nand);
    QVERIFY(s.waitConnected());
    // Past the identification and the adapter check that follows it.
    QTRY_VERIFY(m_emulator.commandLog().contains(AdapterCheck));
    m_emulator.clearLog();
    s.window->beginProgress(0, 8);
    s.window->progressBar()->setValue(3);
    s.window->actions().stop->trigger();
    QVERIFY(!s.window->operationRunning());
    QCOMPARE(s.window->progressBar()->value(), 0);
    QTRY_COMPARE(m_emulator.commandLines(), QStringList{OperationEnd});
    QCOMPARE(s.window->actions().stop->shortcut(), QKeySequence(Qt::Key_Escape));
}

void TestMainWindow::confirmations_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("line");
    const QString erase = QStringLiteral("Are you sure you want to erase?  ");
    const QString program = QStringLiteral("Are you sure you want to program?  ");
    QTest::newRow("F4, No") << "erase" << false << erase << QString();
    QTest::newRow("F4, Yes") << "erase" << true << erase << "erase ";
    QTest::newRow("write, No") << "write" << false << program << QString();
    QTest::newRow("write, Yes") << "write" << true << program << "program ";
    QTest::newRow("smart copy, Yes") << "smartCopy" << true << program << "smtcpy";
}

void TestMainWindow::confirmations()
{
    QFETCH(QString, action);
    QFETCH(bool, yes);
    QFETCH(QString, question);
    QFETCH(QString, line);
    Session s(Nand);
    QVERIFY(s.waitConnected());
    // Past the identification and the adapter check that follows it.
    QTRY_VERIFY(m_emulator.commandLog().contains(AdapterCheck));
    m_emulator.clearLog();
    s.questions.confirmAnswer = yes;
    QSignalSpy issued(s.window.get(), &MainWindow::commandIssued);
    MainActions &a = s.window->actions();
    QAction *triggered = action == "erase" ? a.erase : action == "write" ? a.write : a.smartCopy;
    triggered->trigger();
    QCOMPARE(s.questions.asked, QStringList{QStringLiteral("confirm Warning!! | ") + question});
    QCOMPARE(issued.size(), line.isEmpty() ? 0 : 1);
    if (!line.isEmpty())
        QCOMPARE(issued.at(0).at(0).toString(), line);
    // A refused question sends nothing to the programmer.
    QTest::qWait(50);
    if (line.isEmpty())
        QVERIFY(m_emulator.commandLog().isEmpty());
}

void TestMainWindow::panelOpensFilesAndFollowsTheFolder()
{
    QTemporaryDir dir;
    const QString dump = dir.filePath(QStringLiteral("dump.bin"));
    TestFiles::write(dump, QByteArray());
    {
        Session s(Nand);
        s.questions.folderAnswer = dir.path();
        QTest::mouseClick(s.window->folderPanel()->browseButton(), Qt::LeftButton);
        QCOMPARE(s.window->workingFolder(), dir.path() + QLatin1Char('/'));
        QCOMPARE(s.window->folderPanel()->folder(), dir.path() + QLatin1Char('/'));

        emit s.window->folderPanel()->fileOpened(dump);
        QCOMPARE(settings().list(Settings::RecentFileList), QStringList{dump});
        QAction *first = s.window->actions().recentFiles->actions().value(0);
        QVERIFY(first && first->isVisible());
        QCOMPARE(first->text(), QStringLiteral("&1 dump.bin"));
        // The file becomes the "Nand" node's image.
        QCOMPARE(s.logCount(dump + QStringLiteral(" Loaded")), 1);
        QCOMPARE(s.window->engine()->memoryNode(0)->fileName(), dump);
    }
    // The target keeps its working folder.
    QCOMPARE(settings().targetFolder(Nand), dir.path() + QLatin1Char('/'));
}

void TestMainWindow::logFileInLatin1WithCrLf()
{
    Session s;
    const QString name =
        QStringLiteral("korvane-test-%1.log").arg(QCoreApplication::applicationPid());
    const QString path = QDir::tempPath() + QLatin1Char('/') + name;
    QFile::remove(path);
    s.window->appendLog(QStringLiteral("before"));
    s.window->setLogFile(true, name);
    s.window->appendLog(QStringLiteral("Gr\u00fc\u00dfe"));
    s.window->setLogFile(false, name);
    s.window->appendLog(QStringLiteral("after"));
    QCOMPARE(TestFiles::read(path), QByteArray("Log Start\r\nGr\xfc\xdf"
                                               "e\r\n"));
    // Opening again appends.
    s.window->setLogFile(true, name);
    s.window->setLogFile(false, name);
    QVERIFY(TestFiles::read(path).endsWith("e\r\nLog Start\r\n"));
    QFile::remove(path);
}

void TestMainWindow::editDeviceFileOpensTheFamilyFile()
{
    Session s(Spi);
    s.window->actions().editDeviceFile->trigger();
    s.window->actions().configFolder->trigger();
    QCOMPARE(s.opened.size(), 2);
    QCOMPARE(s.opened.at(0),
             QUrl(QStringLiteral("file:///") + QDir::currentPath() + "/config/SPI.txt").toString());
    QVERIFY(s.opened.at(1).endsWith(QStringLiteral("/config/")));
}

void TestMainWindow::restoresGeometryFromSettings()
{
    settings().setWindowSizeIfChanged(QSize(700, 500));
    settings().setList(Settings::VerticalSplitter, {QStringLiteral("300"), QStringLiteral("150")});
    Session s;
    QCOMPARE(s.window->size(), QSize(700, 500));
    s.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(s.window.get()));
    const QList<int> sizes = s.window->verticalSplitter()->sizes();
    QCOMPARE(sizes.size(), 2);
    QVERIFY2(sizes.at(0) > sizes.at(1),
             qPrintable(QStringLiteral("%1 %2").arg(sizes.at(0)).arg(sizes.at(1))));
    QVERIFY(!s.window->actions().mainToolBar->isMovable());
    QCOMPARE(s.window->actions().mainToolBar->actions().size(), 12);
}

void TestMainWindow::storesGeometryAndFolderAtClose()
{
    settings().setList(Settings::HorizontalSplitter,
                       {QStringLiteral("200"), QStringLiteral("600")});
    QList<int> shownSizes;
    {
        Session s(Nand);
        s.window->resize(900, 640);
        s.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(s.window.get()));
        s.window->horizontalSplitter()->setSizes({150, 700});
        shownSizes = s.window->horizontalSplitter()->sizes();
        s.questions.folderAnswer = QDir::tempPath();
    }
    QCOMPARE(settings().windowSize(), QSize(900, 640));
    const QStringList vertical = settings().list(Settings::VerticalSplitter);
    const QStringList horizontal = settings().list(Settings::HorizontalSplitter);
    QCOMPARE(vertical.size(), 2);
    QCOMPARE(horizontal, WindowGeometry::splitterList(shownSizes));
    QVERIFY(horizontal != QStringList({QStringLiteral("200"), QStringLiteral("600")}));
}

KORVANE_TEST_MAIN_WITH(QApplication, TestMainWindow)
#include "tst_main_window.moc"
