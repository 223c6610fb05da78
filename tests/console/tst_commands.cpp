#include "AnswerKind.h"
#include "ApplicationFolders.h"
#include "CCmd.h"
#include "CommandConsole.h"
#include "CommandTable.h"
#include "ConsoleTestEngine.h"
#include "ProgramObjects.h"
#include "RecordingConsoleHost.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "UsbDriverTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr quint32 AllCapabilities = 0xFF;

// A console over the recording host and the test engine.
struct Rig
{
    explicit Rig(quint32 capabilities = AllCapabilities) : engine(usb, capabilities)
    {
        console.RegisterCommands(&engine);
    }
    // Dispatches `line`; `log` then holds what it printed.
    int run(const QString &line)
    {
        host.log.clear();
        return console.Dispatch(line);
    }
    QStringList keywords() const
    {
        QStringList words;
        for (int i = 0; i < console.commandCount(); ++i)
            words << console.command(i)->keyword();
        return words;
    }

    UsbDriverTable usb;
    RecordingConsoleHost host;
    ConsoleTestEngine engine;
    CommandConsole console{host};
};

const QStringList AlwaysRegistered = {"EXIT",   "HELP",   "INITUSB", "READ",       "LOAD",
                                      "DEVICE", "ABOUT",  "CLS",     "SPEED",      "DEVICES",
                                      "LOG",    "SCRIPT", "COLOR",   "RANDOMFILE", "D"};

const QByteArray SpiCatalogue =
    "Name=\"W25Q64FV\",MFG=\"WINBOND\",ID1=\"efh\",ID2=\"40h\",ID3=\"17h\",size=\"800000h\","
    "SectorSize=\"10000h\",SectorNum=\"80h\",IO=\"4\"\n";

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void tableIsConsistent();
    void registration_data();
    void registration();
    void noEngineNoCommands();

    void keywordIgnoresCase_data();
    void keywordIgnoresCase();
    void blankLinesDoNothing_data();
    void blankLinesDoNothing();
    void menuAndTypedLinesRunOneCommand();

    void rangeCommands_data();
    void rangeCommands();
    void writeCommands_data();
    void writeCommands();

    void simpleCommands_data();
    void simpleCommands();
    void save_data();
    void save();
    void load_data();
    void load();
    void device_data();
    void device();
    void deviceReplacingTheEngine();
    void script_data();
    void script();
    void scriptListing();

    void submitLine_data();
    void submitLine();
    void scriptInsteadOfMissingCommand();
    void complete_data();
    void complete();

private:
    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
    std::unique_ptr<QTemporaryDir> m_scripts;
    QTemporaryDir m_files;
};

void TestCommands::initTestCase()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
    QVERIFY(m_files.isValid());
    TestFiles::write(m_files.filePath("SPI.txt"), SpiCatalogue);
    TestFiles::write(m_files.filePath("Nand.txt"), QByteArray());
}

void TestCommands::init()
{
    m_scripts = std::make_unique<QTemporaryDir>();
    setScriptFolderOverride(m_scripts->path());
}

void TestCommands::tableIsConsistent()
{
    QSet<QString> seen;
    int withoutUsage = 0;
    for (const CommandRow &row : commandTable()) {
        const QString keyword = QString::fromLatin1(row.keyword);
        QVERIFY2(!seen.contains(keyword.toUpper()), row.keyword);
        seen.insert(keyword.toUpper());
        QCOMPARE(keyword, keyword.toUpper());
        const std::unique_ptr<CCmd> command = row.make(row);
        QCOMPARE(command->keyword(), keyword);
        QCOMPARE(command->usageNumber(), row.usageNumber);
        if (row.usageNumber < 0) {
            ++withoutUsage;
            QCOMPARE(keyword, QStringLiteral("RANDOMFILE"));
            QVERIFY(command->usage().isEmpty());
            continue;
        }
        // Every usage text exists; one that starts "Usage:" names its command.
        const QString usage = command->usage();
        QVERIFY2(!usage.isEmpty(), row.keyword);
        if (usage.startsWith(QStringLiteral("Usage:")))
            QVERIFY2(usage.startsWith(QStringLiteral("Usage: ") + keyword.toLower()), row.keyword);
    }
    QCOMPARE(seen.size(), 25);
    QCOMPARE(withoutUsage, 1);
}

void TestCommands::registration_data()
{
    QTest::addColumn<quint32>("capabilities");
    QTest::addColumn<QStringList>("extra");
    QTest::newRow("none") << 0u << QStringList();
    QTest::newRow("detect") << 0x01u << QStringList{"DETECT"};
    QTest::newRow("erase") << 0x02u << QStringList{"ERASE"};
    QTest::newRow("blank check") << 0x04u << QStringList{"BLKCHK"};
    QTest::newRow("program") << 0x08u << QStringList{"PROGRAM", "WRITE"};
    QTest::newRow("nand tools") << 0x10u << QStringList{"NEWCHIP", "MFC", "SMTCPY"};
    QTest::newRow("bit 5 admits nothing") << 0x20u << QStringList();
    QTest::newRow("save") << 0x40u << QStringList{"SAVE"};
    QTest::newRow("verify") << 0x80u << QStringList{"VERIFY"};
}

void TestCommands::registration()
{
    QFETCH(quint32, capabilities);
    QFETCH(QStringList, extra);
    Rig rig(capabilities);
    QStringList registered = rig.keywords();
    for (const QString &word : extra)
        QVERIFY2(registered.removeOne(word), qPrintable(word));
    QCOMPARE(registered, AlwaysRegistered);

    // All bits: every command, in the table's order.
    Rig all(AllCapabilities);
    QCOMPARE(all.keywords(), (QStringList{"EXIT",    "HELP",    "DETECT", "INITUSB",    "READ",
                                          "PROGRAM", "SAVE",    "LOAD",   "VERIFY",     "BLKCHK",
                                          "WRITE",   "NEWCHIP", "MFC",    "SMTCPY",     "DEVICE",
                                          "ABOUT",   "CLS",     "ERASE",  "SPEED",      "DEVICES",
                                          "LOG",     "SCRIPT",  "COLOR",  "RANDOMFILE", "D"}));
}

void TestCommands::noEngineNoCommands()
{
    Rig rig;
    rig.console.RegisterCommands(nullptr);
    QCOMPARE(rig.console.commandCount(), 0);
    QCOMPARE(rig.run("read"), 0);
    QCOMPARE(rig.host.log, QStringList{"-read"});
    // Registering again starts afresh.
    rig.console.RegisterCommands(&rig.engine);
    rig.console.RegisterCommands(&rig.engine);
    QCOMPARE(rig.console.commandCount(), 25);
}

void TestCommands::keywordIgnoresCase_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("lower") << "detect";
    QTest::newRow("upper") << "DETECT";
    QTest::newRow("mixed") << "Detect";
}

void TestCommands::keywordIgnoresCase()
{
    QFETCH(QString, line);
    Rig rig;
    QCOMPARE(rig.run(line), int(JobCode::Detect));
    QCOMPARE(rig.engine.calls, QStringList{"detect"});
    QCOMPARE(rig.host.log, QStringList{"-" + line});
}

void TestCommands::blankLinesDoNothing_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("empty") << "";
    QTest::newRow("blanks") << "     ";
}

void TestCommands::blankLinesDoNothing()
{
    QFETCH(QString, line);
    Rig rig;
    QCOMPARE(rig.run(line), 0);
    QVERIFY(rig.host.log.isEmpty());
    rig.console.SubmitLine(line);
    QVERIFY(rig.host.log.isEmpty());
}

void TestCommands::menuAndTypedLinesRunOneCommand()
{
    Rig rig;
    // The Read action issues "read "; typed, the line has extra blanks.
    QCOMPARE(rig.run("read "), int(JobCode::Read));
    rig.host.log.clear();
    rig.console.SubmitLine("  READ  ");
    QCOMPARE(rig.host.log, (QStringList{"-  READ  "}));
    QCOMPARE(rig.host.calls,
             (QStringList{"startOperation 0 100000 65", "startOperation 0 100000 65"}));
}

void TestCommands::rangeCommands_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<QStringList>("calls");
    const QStringList none;
    const QStringList readUsage = {"Usage: read address length", " Usage:read",
                                   " Read memory from target to PC memory"};
    QTest::newRow("whole device") << "read" << true << 65 << none
                                  << QStringList{"startOperation 0 100000 65"};
    QTest::newRow("one argument: whole device")
        << "read 1000" << true << 65 << none << QStringList{"startOperation 0 100000 65"};
    QTest::newRow("three arguments: whole device")
        << "read 1 2 3" << true << 65 << none << QStringList{"startOperation 0 100000 65"};
    QTest::newRow("range kept, nothing printed")
        << "read 1000 2000" << true << 65 << none << QStringList{"startOperation 1000 2000 65"};
    QTest::newRow("range adjusted, printed")
        << "read 1800 100" << true << 65 << QStringList{"READ 1000 1000"}
        << QStringList{"startOperation 1000 1000 65"};
    QTest::newRow("upper-case hex in, lower-case out")
        << "READ ABC 1" << true << 65 << QStringList{"READ 0 1000"}
        << QStringList{"startOperation 0 1000 65"};
    QTest::newRow("zero length: whole device, printed")
        << "read 1000 0" << true << 65 << QStringList{"READ 0 100000"}
        << QStringList{"startOperation 0 100000 65"};
    QTest::newRow("verify") << "verify 0 20000" << true << 66 << none
                            << QStringList{"startOperation 0 20000 66"};
    QTest::newRow("blank check widened")
        << "blkchk 10 10" << true << 75 << QStringList{"BLKCHK 0 1000"}
        << QStringList{"startOperation 0 1000 75"};
    QTest::newRow("not connected: Busy") << "read" << false << 0x80 << QStringList{"Busy"} << none;
    QTest::newRow("not a number") << "read zz 100" << true << 0x82 << readUsage << none;
    QTest::newRow("0x prefix is not a number")
        << "read 0x10 100" << true << 0x82 << readUsage << none;
    QTest::newRow("beyond 64 bits")
        << "read 1 10000000000000000" << true << 0x82 << readUsage << none;
    QTest::newRow("64 bits") << "read ffffffffffffffff ffffffffffffffff" << true << 65
                             << QStringList{"READ 0 100000"}
                             << QStringList{"startOperation 0 100000 65"};
}

void TestCommands::rangeCommands()
{
    QFETCH(QString, line);
    QFETCH(bool, connected);
    QFETCH(int, status);
    QFETCH(QStringList, printed);
    QFETCH(QStringList, calls);
    Rig rig;
    rig.host.connected = connected;
    QCOMPARE(rig.run(line), status);
    QCOMPARE(rig.host.log.mid(1), printed);
    QCOMPARE(rig.host.calls, calls);
}

void TestCommands::writeCommands_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("running");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<QStringList>("calls");
    const QStringList none;
    QTest::newRow("erase whole device")
        << "erase" << true << false << int(JobCode::Erase) << none << QStringList{"erase 0 100000"};
    QTest::newRow("erase exact sectors")
        << "erase 1000 1000" << true << false << int(JobCode::Erase) << none
        << QStringList{"erase 1000 1000"};
    QTest::newRow("erase shorter than a sector: refused")
        << "erase 1000 800" << true << false << 0x80
        << QStringList{"Check memory range. ERASE 1000 1000"} << none;
    QTest::newRow("erase zero length: refused")
        << "erase 1000 0" << true << false << 0x80
        << QStringList{"Check memory range. ERASE 0 100000"} << none;
    QTest::newRow("erase past the end: refused")
        << "erase 100000 1000" << true << false << 0x80
        << QStringList{"Check memory range. ERASE 0 100000"} << none;
    QTest::newRow("program cut at the end")
        << "program ff000 2000" << true << false << int(JobCode::Program)
        << QStringList{"PROGRAM ff000 1000"} << QStringList{"program ff000 1000"};
    QTest::newRow("program not connected")
        << "program" << false << false << 0x80 << QStringList{"Busy"} << none;
    QTest::newRow("erase while a job runs")
        << "erase" << true << true << 0x80 << QStringList{"Busy"} << none;
    QTest::newRow("detect not connected")
        << "detect" << false << false << 0x80 << QStringList{"Busy"} << none;
    QTest::newRow("erase not a number")
        << "erase 1 -2" << true << false << 0x82
        << QStringList{"Usage: erase address length", " Usage:erase", " Erase the flash"} << none;
}

void TestCommands::writeCommands()
{
    QFETCH(QString, line);
    QFETCH(bool, connected);
    QFETCH(bool, running);
    QFETCH(int, status);
    QFETCH(QStringList, printed);
    QFETCH(QStringList, calls);
    Rig rig;
    rig.host.connected = connected;
    rig.host.running = running;
    QCOMPARE(rig.run(line), status);
    QCOMPARE(rig.host.log.mid(1), printed);
    QCOMPARE(rig.engine.calls, calls);
}

void TestCommands::simpleCommands_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<QStringList>("hostCalls");
    QTest::addColumn<QStringList>("engineCalls");
    const QStringList none;
    const QStringList speedUsage = {"Usage: speed 0 (1) (2)", "Adjust target speed"};
    const QStringList colorUsage = {"Usage: color ffffff", " Change back ground color"};
    QTest::newRow("exit") << "exit" << 0x81 << none << QStringList{"quit 0"} << none;
    QTest::newRow("help") << "help" << 0x81
                          << QStringList{" EXIT",   " HELP",    " DETECT", " INITUSB",
                                         " READ",   " PROGRAM", " SAVE",   " LOAD",
                                         " VERIFY", " BLKCHK",  " WRITE",  " NEWCHIP",
                                         " MFC",    " SMTCPY",  " DEVICE", " ABOUT",
                                         " CLS",    " ERASE",   " SPEED",  " DEVICES",
                                         " LOG",    " SCRIPT",  " COLOR",  " RANDOMFILE",
                                         " D"}
                          << none << none;
    QTest::newRow("help read") << "help read" << 0x81
                               << QStringList{"Usage: read address length", " Usage:read",
                                              " Read memory from target to PC memory"}
                               << none << none;
    QTest::newRow("help devices: LF alone")
        << "help DEVICES" << 0x81 << QStringList{"Usage: devices", " Display all the devices"}
        << none << none;
    QTest::newRow("help unknown") << "help nosuch" << 0x81 << none << none << none;
    QTest::newRow("help randomfile") << "help randomfile" << 0x81 << none << none << none;
    QTest::newRow("initusb") << "initusb" << 0x81 << none << QStringList{"showDisconnected"}
                             << none;
    QTest::newRow("cls") << "cls" << 0x81 << none << QStringList{"clearLog"} << none;
    QTest::newRow("about") << "about" << 0x81 << none << none << none;
    QTest::newRow("speed 4") << "speed 4" << 0x81 << none << QStringList{"speedDisplay 4"}
                             << QStringList{"speed 4"};
    QTest::newRow("speed 10") << "speed 10" << 0x81 << none << QStringList{"speedDisplay 10"}
                              << QStringList{"speed 10"};
    QTest::newRow("speed 0") << "speed 0" << 0x81 << none << none << none;
    QTest::newRow("speed 11") << "speed 11" << 0x81 << none << none << none;
    QTest::newRow("speed 65537 does not wrap")
        << "speed 65537" << 0x82 << speedUsage << none << none;
    QTest::newRow("speed is decimal") << "speed a" << 0x82 << speedUsage << none << none;
    QTest::newRow("speed alone") << "speed" << 0x81 << speedUsage << none << none;
    QTest::newRow("log") << "log" << 0x81 << none << QStringList{"logFile 1 korvane.log"} << none;
    QTest::newRow("log 1") << "log 1" << 0x81 << none << QStringList{"logFile 1 korvane.log"}
                           << none;
    QTest::newRow("log 0") << "log 0" << 0x81 << none << QStringList{"logFile 0 korvane.log"}
                           << none;
    QTest::newRow("log is hex") << "log a0" << 0x81 << none << QStringList{"logFile 1 korvane.log"}
                                << none;
    QTest::newRow("log word") << "log on" << 0x82
                              << QStringList{"Usage: log (1) 0", " Enable/disable the log."} << none
                              << none;
    QTest::newRow("color alone") << "color" << 0x81 << colorUsage << none << none;
    QTest::newRow("color") << "color ffeedd" << 0x81 << none
                           << QStringList{"styleSheet QPlainTextEdit{background-color:#ffeedd}"}
                           << none;
    QTest::newRow("color that ends the rule")
        << "color fff}QWidget{color:red" << 0x82 << colorUsage << none << none;
    QTest::newRow("randomfile") << "randomfile" << 0x81 << none << none << QStringList{"random"};
    QTest::newRow("d") << "d 1F0" << 0x81 << none << QStringList{"show 1f0"} << none;
    QTest::newRow("d alone") << "d" << 0x81 << none << none << none;
    QTest::newRow("d word") << "d x1" << 0x82
                            << QStringList{"Usage: d address.", " Make the address visible"} << none
                            << none;
    QTest::newRow("write does nothing") << "write 0 10" << 0x81 << none << none << none;
    QTest::newRow("newchip") << "newchip" << 0x81 << none << QStringList{"newChipReset"}
                             << QStringList{"newchip"};
    QTest::newRow("mfc") << "mfc" << 0x81 << none << none << QStringList{"mfc 0"};
    QTest::newRow("mfc with argument") << "mfc x" << 0x81 << none << none << QStringList{"mfc 1"};
    QTest::newRow("smtcpy without the tool fails") << "smtcpy" << 0x80 << none << none << none;
    QTest::newRow("devices") << "devices" << 0x81 << QStringList{"-NAND"} << none << none;
}

void TestCommands::simpleCommands()
{
    QFETCH(QString, line);
    QFETCH(int, status);
    QFETCH(QStringList, printed);
    QFETCH(QStringList, hostCalls);
    QFETCH(QStringList, engineCalls);
    Rig rig;
    if (line == QLatin1String("devices")) {
        rig.host.devices.load(m_files.path() + QLatin1Char('/'));
        QStringList expected;
        rig.host.devices.printAll([&expected](const QString &l) { expected << l; }, false);
        QVERIFY(expected.size() > 1);
        printed = expected;
    }
    QCOMPARE(rig.run(line), status);
    QCOMPARE(rig.host.log.mid(1), printed);
    QCOMPARE(rig.host.calls, hostCalls);
    QCOMPARE(rig.engine.calls, engineCalls);
    if (line == QLatin1String("about"))
        QCOMPARE(rig.host.asked.asked, QStringList{"about"});
}

void TestCommands::save_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("answer"); // the save dialog's answer
    QTest::addColumn<bool>("existing");  // the named file exists ...
    QTest::addColumn<bool>("agree");     // ... and the user agrees to replace it
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<QStringList>("engineCalls");
    QTest::addColumn<int>("questions");
    const QStringList none;
    QTest::newRow("current tab") << "save"
                                 << "" << false << false << 0x81 << none << none << 0;
    QTest::newRow("one argument: current tab") << "save 1"
                                               << "" << false << false << 0x81 << none << none << 0;
    QTest::newRow("tab to a named file")
        << "save Buffer %1/a.bin"
        << "" << false << false << 0x81 << none << QStringList{"save Buffer %1/a.bin"} << 0;
    QTest::newRow("tab name ignores case, file asked")
        << "save spare"
        << "%1/b.bin" << false << false << 0x81 << none << QStringList{"save Spare %1/b.bin"} << 1;
    QTest::newRow("tab, dialog cancelled") << "save Spare"
                                           << "" << false << false << 0x82 << none << none << 1;
    QTest::newRow("blocks to a named file")
        << "save 1 2 %1/c.bin"
        << "" << false << false << 0x81 << none << QStringList{"export 1 2 %1/c.bin"} << 0;
    QTest::newRow("blocks, file asked")
        << "save 1 2"
        << "%1/d.bin" << false << false << 0x81 << none << QStringList{"export 1 2 %1/d.bin"} << 1;
    QTest::newRow("start beyond end")
        << "save 2 1 %1/e.bin"
        << "" << false << false << 0x82 << QStringList{"Check memory range. SAVE 2 1"} << none << 0;
    QTest::newRow("beyond 32 bits")
        << "save 0 100000000 %1/e.bin"
        << "" << false << false << 0x82 << QStringList{"Check memory range. SAVE 0 100000000"}
        << none << 0;
    QTest::newRow("not numbers") << "save x 1"
                                 << "" << false << false << 0x82
                                 << QStringList{"Usage: save tabname (filename)",
                                                " save start end (filename)",
                                                " Save the data in the tab"}
                                 << none << 0;
    QTest::newRow("existing file kept") << "save 1 2 %1/f.bin"
                                        << "" << true << false << 0x82 << none << none << 1;
    QTest::newRow("existing file replaced")
        << "save 1 2 %1/f.bin"
        << "" << true << true << 0x81 << none << QStringList{"export 1 2 %1/f.bin"} << 1;
    QTest::newRow("folder missing")
        << "save Buffer %1/no/g.bin"
        << "" << false << false << 0x82 << QStringList{"%1/no/g.bin File Error"} << none << 0;
}

void TestCommands::save()
{
    QFETCH(QString, line);
    QFETCH(QString, answer);
    QFETCH(bool, existing);
    QFETCH(bool, agree);
    QFETCH(int, status);
    QFETCH(QStringList, printed);
    QFETCH(QStringList, engineCalls);
    QFETCH(int, questions);
    QTemporaryDir dir;
    const auto fill = [&dir](QString text) { return text.replace("%1", dir.path()); };
    Rig rig;
    rig.host.asked.saveAnswer = fill(answer);
    rig.host.asked.confirmAnswer = agree;
    if (existing)
        TestFiles::write(dir.filePath("f.bin"), "old");
    QCOMPARE(rig.run(fill(line)), status);
    QCOMPARE(rig.host.log.mid(1), printed.replaceInStrings("%1", dir.path()));
    QCOMPARE(rig.engine.calls, engineCalls.replaceInStrings("%1", dir.path()));
    QCOMPARE(rig.host.asked.asked.size(), questions);
    QCOMPARE(rig.host.calls.contains("saveCurrentTab"), line == "save" || line == "save 1");
    if (existing)
        QCOMPARE(TestFiles::read(dir.filePath("f.bin")), QByteArray("old"));
}

void TestCommands::load_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("target");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<QStringList>("engineCalls");
    const QStringList none;
    QTest::newRow("no device") << "load %1/image.bin" << false << "" << 0x82
                               << QStringList{"Usage: load (filename)", " Load file into memory."}
                               << none;
    QTest::newRow("named") << "load %1/image.bin" << true << "" << 0x81 << none
                           << QStringList{"load %1/image.bin"};
    QTest::newRow("asked") << "load" << true << "%1/image.bin" << 0x81 << none
                           << QStringList{"load %1/image.bin"};
    QTest::newRow("cancelled") << "load" << true << "" << 0x82 << none << none;
    QTest::newRow("missing file") << "load %1/none.bin" << true << "" << 0x82
                                  << QStringList{"%1/none.bin File Error"} << none;
    QTest::newRow("a folder") << "load %1" << true << "" << 0x82 << QStringList{"%1 File Error"}
                              << none;
}

void TestCommands::load()
{
    QFETCH(QString, line);
    QFETCH(bool, target);
    QFETCH(QString, answer);
    QFETCH(int, status);
    QFETCH(QStringList, printed);
    QFETCH(QStringList, engineCalls);
    QTemporaryDir dir;
    TestFiles::write(dir.filePath("image.bin"), "data");
    Rig rig;
    rig.host.target = target;
    rig.host.asked.openAnswer = QString(answer).replace("%1", dir.path());
    QCOMPARE(rig.run(QString(line).replace("%1", dir.path())), status);
    QCOMPARE(rig.host.log.mid(1), printed.replaceInStrings("%1", dir.path()));
    QCOMPARE(rig.engine.calls, engineCalls.replaceInStrings("%1", dir.path()));
    if (status == 0x81)
        QCOMPARE(rig.host.calls, QStringList{"remember " + dir.filePath("image.bin")});
}

void TestCommands::device_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<QStringList>("hostCalls");
    QTest::newRow("dialog") << "device" << QStringList() << QStringList{"deviceDialog"};
    QTest::newRow("by name") << "device W25Q64FV" << QStringList()
                             << QStringList{"selectTarget W25Q64FV"};
    QTest::newRow("name is case-sensitive")
        << "device w25q64fv" << QStringList{"Target not exist"} << QStringList();
    QTest::newRow("unknown") << "device nosuch" << QStringList{"Target not exist"} << QStringList();
}

void TestCommands::device()
{
    QFETCH(QString, line);
    QFETCH(QStringList, printed);
    QFETCH(QStringList, hostCalls);
    Rig rig;
    rig.host.devices.load(m_files.path() + QLatin1Char('/'));
    QCOMPARE(rig.run(line), 0x81);
    QCOMPARE(rig.host.log.mid(1), printed);
    QCOMPARE(rig.host.calls, hostCalls);
}

void TestCommands::deviceReplacingTheEngine()
{
    // Selecting a target replaces the engine and the commands while DEVICE
    // still runs: the command must outlive its own replacement.
    Rig rig;
    rig.host.devices.load(m_files.path() + QLatin1Char('/'));
    ConsoleTestEngine other(rig.usb, 0);
    rig.host.onSelect = [&rig, &other] { rig.console.RegisterCommands(&other); };
    QCOMPARE(rig.run("device W25Q64FV"), 0x81);
    QCOMPARE(rig.console.engine(), &other);
    QVERIFY(!rig.console.FindCommand("erase"));
    QCOMPARE(rig.run("erase"), 0);
}

void TestCommands::script_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("printed");
    QTest::newRow("name") << "script test" << QStringList{"echo plain", "cls"};
    QTest::newRow("name.usp") << "script test.usp" << QStringList{"echo plain", "cls"};
    QTest::newRow("exact name") << "script test.usp.bak" << QStringList{"echo backup"};
    QTest::newRow("missing") << "script none" << QStringList{"Script file error!"};
    QTest::newRow("outside the folder") << "script ../test" << QStringList{"Script file error!"};
}

void TestCommands::script()
{
    QFETCH(QString, line);
    QFETCH(QStringList, printed);
    TestFiles::write(m_scripts->filePath("test.usp"), "echo plain\r\ncls");
    TestFiles::write(m_scripts->filePath("test.usp.bak"), "echo backup");
    Rig rig;
    QCOMPARE(rig.run(line), 0x81);
    QCOMPARE(rig.host.log.mid(1), printed);
}

void TestCommands::scriptListing()
{
    Rig rig;
    QCOMPARE(rig.run("script"), 0x81);
    QCOMPARE(rig.host.log.mid(1), QStringList{"No script files"});
    TestFiles::write(m_scripts->filePath("b.usp"), "cls");
    TestFiles::write(m_scripts->filePath("a.usp"), "cls");
    TestFiles::write(m_scripts->filePath("a.usp.bak"), "cls");
    QCOMPARE(rig.run("script"), 0x81);
    QCOMPARE(rig.host.log.mid(1), (QStringList{"a.usp", "b.usp"}));
    // A script folder that does not exist lists nothing.
    setScriptFolderOverride(m_scripts->filePath("missing"));
    QCOMPARE(rig.run("script"), 0x81);
    QCOMPARE(rig.host.log.mid(1), QStringList{"No script files"});
}

void TestCommands::submitLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("printed");
    QTest::newRow("unknown") << "foo 1 2" << QStringList{"-foo 1 2", "Bad command"};
    QTest::newRow("path in the name") << "../foo" << QStringList{"-../foo", "Bad command"};
    QTest::newRow("control characters")
        << QString("fo\to\x1b") << QStringList{"-fo?o?", "Bad command"};
    QTest::newRow("very long line")
        << QString(10000, QLatin1Char('x'))
        << QStringList{"-" + QString(10000, QLatin1Char('x')), "Bad command"};
    QTest::newRow("empty script file") << "empty" << QStringList{"-empty", "Script finished"};
    QTest::newRow("script folder entry that is a folder")
        << "folder" << QStringList{"-folder", "Bad command"};
}

void TestCommands::submitLine()
{
    QFETCH(QString, line);
    QFETCH(QStringList, printed);
    TestFiles::write(m_scripts->filePath("empty.usp"), "\r\n  \n");
    QVERIFY(QDir(m_scripts->path()).mkdir("folder.usp"));
    Rig rig;
    rig.console.SubmitLine(line);
    QCOMPARE(rig.host.log, printed);
    QVERIFY(!rig.console.script().isLoaded());
}

void TestCommands::scriptInsteadOfMissingCommand()
{
    TestFiles::write(m_scripts->filePath("detect.usp"), "// found\r\nread\r\n");
    // Without the detect bit DETECT is no command: the script of that name
    // runs with its arguments and waits for its read.
    Rig rig(AllCapabilities & ~0x01u);
    rig.console.SubmitLine("detect a b");
    QCOMPARE(rig.host.log, (QStringList{"-detect a b", "// found", "-read"}));
    QVERIFY(rig.console.script().isLoaded());
    QCOMPARE(rig.console.script().lines(), (QStringList{"// found", "read"}));
    QCOMPARE(rig.console.script().arguments(), (QStringList{"detect", "a", "b"}));
    QCOMPARE(rig.console.awaitedStatus(), quint8(JobCode::Read));
    // The next typed line ends it.
    rig.console.SubmitLine("cls");
    QVERIFY(!rig.console.script().isLoaded());
    QCOMPARE(rig.host.log.last(), QString("Exit Script"));
    // With the bit the command runs, not the script.
    Rig withDetect;
    withDetect.console.SubmitLine("detect");
    QVERIFY(!withDetect.console.script().isLoaded());
    QCOMPARE(withDetect.engine.calls, QStringList{"detect"});
}

void TestCommands::complete_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("candidate");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("answer");
    QTest::newRow("first match") << "DE"
                                 << "DE" << true << "DETECT";
    QTest::newRow("empty candidate") << "DE"
                                     << "" << true << "DETECT";
    QTest::newRow("next") << "DE"
                          << "DETECT" << true << "DEVICE";
    QTest::newRow("next again") << "DE"
                                << "DEVICE" << true << "DEVICES";
    QTest::newRow("wraps") << "DE"
                           << "DEVICES" << true << "DETECT";
    QTest::newRow("D itself is last") << "D"
                                      << "D" << true << "DETECT";
    QTest::newRow("candidate in lower case") << "DE"
                                             << "detect" << true << "DEVICE";
    QTest::newRow("no keyword") << "X"
                                << "X" << false << "X";
}

void TestCommands::complete()
{
    QFETCH(QString, prefix);
    QFETCH(QString, candidate);
    QFETCH(bool, found);
    QFETCH(QString, answer);
    Rig rig;
    QCOMPARE(rig.console.Complete(prefix, candidate), found);
    QCOMPARE(candidate, answer);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestCommands)
#include "tst_commands.moc"
