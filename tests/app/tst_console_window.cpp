#include "CMemoryNode.h"
#include "ChipEngine.h"
#include "CommandConsole.h"
#include "ConsoleLineView.h"
#include "DropInEmulator.h"
#include "HexView.h"
#include "MainActions.h"
#include "MainWindow.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The console of the real main window, offscreen, over the emulated
// programmer: lines typed into the console input, menu actions and the
// speed slider all run the same commands.
namespace {

const QString Nand = QStringLiteral("K9F1G08U0B");
const QString Spi = QStringLiteral("W25Q64FV");

const std::string SpiProfile = "[programmer]\nfirmware = SPI image 0\nidentification = 0x4B560200\n"
                               "[chip]\nfamily = spi\nid = EF 40 17\nsize = 8M\n";

} // namespace

class TestConsoleWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void typedLineAndMenuActionRunTheSameCommand_data();
    void typedLineAndMenuActionRunTheSameCommand();
    void keywordsIgnoreCase_data();
    void keywordsIgnoreCase();
    void sliderIssuesTheSpeedCommand();
    void speedCommandMovesTheSlider_data();
    void speedCommandMovesTheSlider();
    void logCommandWritesTheLogFile();
    void displayCommandShowsTheAddress();
    void deviceCommandSelectsTheTarget_data();
    void deviceCommandSelectsTheTarget();
    void saveAndLoadThroughTheConsole();
    void clsAndColorChangeTheMessageLog();
    void commandsFollowTheEngine();

private:
    std::unique_ptr<MainWindow> start(const QString &target);
    void type(const QString &line);
    int logCount(const QString &line) const;

    DropInEmulator m_emulator;
    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
    ScriptedQuestions m_questions;
    std::unique_ptr<MainWindow> m_window;
    QTemporaryDir m_files;
};

void TestConsoleWindow::initTestCase()
{
    QVERIFY(m_emulator.load());
    QVERIFY(m_emulator.configure(SpiProfile));
}

void TestConsoleWindow::init()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
    m_questions = ScriptedQuestions();
}

void TestConsoleWindow::cleanup()
{
    m_window.reset();
    m_objects.reset();
    m_home.reset();
}

std::unique_ptr<MainWindow> TestConsoleWindow::start(const QString &target)
{
    settings().setString(Settings::TestName, target);
    auto window = std::make_unique<MainWindow>(&m_questions);
    window->resize(900, 600);
    window->show();
    return window;
}

void TestConsoleWindow::type(const QString &line)
{
    ConsoleLineView *view = m_window->consoleView();
    QTest::keyClicks(view, line);
    QTest::keyClick(view, Qt::Key_Return);
}

int TestConsoleWindow::logCount(const QString &line) const
{
    return int(m_window->logText().split(QLatin1Char('\n')).count(line));
}

void TestConsoleWindow::typedLineAndMenuActionRunTheSameCommand_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("result");
    // The emulated chip is erased and the buffer holds 0xFF: every job ends well.
    QTest::newRow("read") << "read "
                          << "read"
                          << "Time";
    QTest::newRow("verify") << "verify "
                            << "verify"
                            << "Compare data OK";
    QTest::newRow("blank check") << "blkchk "
                                 << "blankCheck"
                                 << "Flash blanked";
}

void TestConsoleWindow::typedLineAndMenuActionRunTheSameCommand()
{
    QFETCH(QString, line);
    QFETCH(QString, action);
    QFETCH(QString, result);
    m_window = start(Spi);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->programmerConnected(), 8000);
    const auto ended = [&] {
        return int(
            m_window->logText()
                .split(QLatin1Char('\n'))
                .filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(result)))
                .size());
    };
    type(line);
    QCOMPARE(logCount("-" + line), 1);
    QTRY_COMPARE_WITH_TIMEOUT(ended(), 1, 10000);
    MainActions &a = m_window->actions();
    QAction *menu = action == "read" ? a.read : action == "verify" ? a.verify : a.blankCheck;
    menu->trigger();
    QCOMPARE(logCount("-" + line), 2);
    QTRY_COMPARE_WITH_TIMEOUT(ended(), 2, 10000);
}

void TestConsoleWindow::keywordsIgnoreCase_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("lower") << "help read";
    QTest::newRow("upper") << "HELP READ";
    QTest::newRow("mixed") << "Help Read";
}

void TestConsoleWindow::keywordsIgnoreCase()
{
    QFETCH(QString, line);
    m_window = start(Spi);
    type(line);
    QCOMPARE(logCount("Usage: read address length"), 1);
    QCOMPARE(logCount(" Usage:read"), 1);
    QCOMPARE(logCount(" Read memory from target to PC memory"), 1);
}

void TestConsoleWindow::sliderIssuesTheSpeedCommand()
{
    m_window = start(Spi);
    QSignalSpy issued(m_window.get(), &MainWindow::commandIssued);
    m_window->speedSlider()->setValue(4);
    QCOMPARE(issued.size(), 1);
    QCOMPARE(issued.at(0).at(0).toString(), QStringLiteral("speed 4"));
    QCOMPARE(logCount("-speed 4"), 1);
    QCOMPARE(m_window->speedLabel()->text(), QStringLiteral("   Speed: (4)  "));
}

void TestConsoleWindow::speedCommandMovesTheSlider_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("slider");
    QTest::newRow("3") << "speed 3" << 3;
    QTest::newRow("10") << "speed 10" << 10;
    QTest::newRow("0 changes nothing") << "speed 0" << 7;
    QTest::newRow("11 changes nothing") << "speed 11" << 7;
}

void TestConsoleWindow::speedCommandMovesTheSlider()
{
    QFETCH(QString, line);
    QFETCH(int, slider);
    m_window = start(Spi);
    m_window->setSpeedDisplay(7);
    QSignalSpy issued(m_window.get(), &MainWindow::commandIssued);
    type(line);
    QCOMPARE(m_window->speedSlider()->value(), slider);
    QCOMPARE(m_window->speedLabel()->text(), QStringLiteral("   Speed: (%1)  ").arg(slider));
    // Moving the slider from the command issues no second command.
    QCOMPARE(issued.size(), 0);
}

void TestConsoleWindow::logCommandWritesTheLogFile()
{
    m_window = start(Spi);
    const QString path = QDir::tempPath() + QStringLiteral("/korvane.log");
    QFile::remove(path);
    type("log 1");
    type("help cls");
    type("log 0");
    type("help exit");
    QCOMPARE(TestFiles::read(path), QByteArray("Log Start\r\n-help cls\r\nUsage: cls\r\n"
                                               " Clear the output display\r\n-log 0\r\n"));
    QFile::remove(path);
}

void TestConsoleWindow::displayCommandShowsTheAddress()
{
    m_window = start(Spi);
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->tabs()->setCurrentIndex(0);
    type("d 7ffff0");
    HexView *view = m_window->memoryViews().value(0);
    QCOMPARE(m_window->tabs()->currentWidget(), view);
    QVERIFY(view->firstRow() <= 0x7ffff0 / 16);
    QVERIFY(0x7ffff0 / 16 < view->firstRow() + quint64(view->visibleRows()));
}

void TestConsoleWindow::deviceCommandSelectsTheTarget_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("said");
    QTest::newRow("known name") << "device " + Nand << Nand << QString();
    QTest::newRow("unknown name") << "device NO-SUCH-CHIP" << Spi << "Target not exist";
    QTest::newRow("names are case-sensitive") << "device k9f1g08u0b" << Spi << "Target not exist";
}

void TestConsoleWindow::deviceCommandSelectsTheTarget()
{
    QFETCH(QString, line);
    QFETCH(QString, target);
    QFETCH(QString, said);
    m_window = start(Spi);
    type(line);
    QCOMPARE(m_window->targetName(), target);
    if (!said.isEmpty())
        QCOMPARE(logCount(said), 1);
    // Without a name the device dialog is asked.
    m_questions.deviceAnswer = Spi;
    type("device");
    QVERIFY(m_questions.asked.contains(QStringLiteral("device")));
    QCOMPARE(m_window->targetName(), Spi);
}

void TestConsoleWindow::saveAndLoadThroughTheConsole()
{
    m_window = start(Spi);
    const QString in = m_files.filePath(QStringLiteral("in.bin"));
    QByteArray bytes(256, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(255 - i);
    TestFiles::write(in, bytes);
    type("load " + in);
    QCOMPARE(settings().list(Settings::RecentFileList).value(0), in);
    const QString out = m_files.filePath(QStringLiteral("out.bin"));
    type("save SPI " + out);
    const QByteArray written = TestFiles::read(out);
    QCOMPARE(written.size(), 8 * 1024 * 1024);
    QCOMPARE(written.left(256), bytes);
}

void TestConsoleWindow::clsAndColorChangeTheMessageLog()
{
    m_window = start(Spi);
    type("color");
    QCOMPARE(logCount("Usage: color ffffff"), 1);
    QCOMPARE(logCount(" Change back ground color"), 1);
    type("color 102030");
    m_window->actions().clear->trigger();
    QVERIFY(m_window->logText().isEmpty());
    QVERIFY(m_window->consoleView()->input().lines().isEmpty());
}

void TestConsoleWindow::commandsFollowTheEngine()
{
    m_window = start(Spi);
    CommandConsole &console = m_window->console();
    QVERIFY(console.FindCommand(QStringLiteral("read")));
    QCOMPARE(console.engine(), m_window->engine());
    // The NAND tools come with the NAND engine only.
    QVERIFY(!console.FindCommand(QStringLiteral("mfc")));
    QVERIFY(m_window->selectTarget(Nand));
    QCOMPARE(console.engine(), m_window->engine());
    QVERIFY(console.FindCommand(QStringLiteral("mfc")));
    QVERIFY(console.FindCommand(QStringLiteral("smtcpy")));
}

KORVANE_TEST_MAIN_WITH(QApplication, TestConsoleWindow)
#include "tst_console_window.moc"
