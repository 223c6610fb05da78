#include "AnswerKind.h"
#include "ApplicationFolders.h"
#include "CommandConsole.h"
#include "ConsoleTestEngine.h"
#include "ProgramObjects.h"
#include "RecordingConsoleHost.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "UsbDriverTable.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr quint32 AllCapabilities = 0xFF;

QString stopName(ScriptStop how)
{
    static const char *const names[] = {"Finished", "Failed", "Error",  "Paused",
                                        "Option",   "Exited", "Aborted"};
    return QString::fromLatin1(names[int(how)]);
}

// A console over the recording host and the test engine.
struct Rig
{
    explicit Rig(quint32 capabilities = AllCapabilities) : engine(usb, capabilities)
    {
        console.RegisterCommands(&engine);
    }
    QStringList stops() const
    {
        QStringList names;
        for (ScriptStop how : host.stops)
            names << stopName(how);
        return names;
    }
    QStringList waitCalls() const { return host.calls.filter(QStringLiteral("WaitTimer")); }
    // One step of a case: "start:<line>", "submit:<line>", "resume:<job>",
    // "fail:<job>", "elapsed", "offline", "no target", "fail on start",
    // "end on start".
    void step(const QString &step)
    {
        const QString argument = step.section(QLatin1Char(':'), 1);
        if (step.startsWith(QLatin1String("start:")))
            console.StartScript(argument);
        else if (step.startsWith(QLatin1String("submit:")))
            console.SubmitLine(argument);
        else if (step.startsWith(QLatin1String("resume:")))
            console.ResumeOnJob(argument.toInt());
        else if (step.startsWith(QLatin1String("fail:")))
            console.JobFailed(argument.toInt());
        else if (step == QLatin1String("elapsed"))
            console.WaitElapsed();
        else if (step == QLatin1String("offline"))
            host.connected = false;
        else if (step == QLatin1String("no target"))
            host.target = false;
        else if (step == QLatin1String("fail on start"))
            host.onStart = [this](int) { console.JobFailed(0); };
        else if (step == QLatin1String("end on start"))
            host.onStart = [this](int job) { console.ResumeOnJob(job); };
        else
            qFatal("unknown step %s", qPrintable(step));
    }

    UsbDriverTable usb;
    RecordingConsoleHost host;
    ConsoleTestEngine engine;
    CommandConsole console{host};
};

} // namespace

class TestScriptRunner : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void runner_data();
    void runner();
    void loopPausesTheScript();
    void runNestedTooDeep();
    void unreadableScript();
    void typedCommandStartsAScript();

private:
    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
    std::unique_ptr<QTemporaryDir> m_scripts;
};

void TestScriptRunner::initTestCase()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
}

void TestScriptRunner::init()
{
    m_scripts = std::make_unique<QTemporaryDir>();
    setScriptFolderOverride(m_scripts->path());
}

void TestScriptRunner::runner_data()
{
    QTest::addColumn<quint32>("capabilities");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("stops");
    QTest::addColumn<QStringList>("waitCalls");
    const QStringList noWait;
    const QString readThenShow = "read\nd 10";
    const QStringList finished{"Finished"};

    QTest::newRow("job awaited until its end")
        << AllCapabilities << readThenShow
        << QStringList{"start:s", "resume:66", "resume:322", "resume:65"}
        << QStringList{"-read", "-d 10", "Script finished"} << finished << noWait;
    QTest::newRow("job failed") << AllCapabilities << readThenShow
                                << QStringList{"start:s", "fail:0", "resume:65"}
                                << QStringList{"-read", "Failed, Stop script", "Script finished"}
                                << QStringList{"Failed"} << noWait;
    QTest::newRow("failure of another job")
        << AllCapabilities << readThenShow << QStringList{"start:s", "fail:66", "resume:65"}
        << QStringList{"-read", "-d 10", "Script finished"} << finished << noWait;
    QTest::newRow("job failed while its command ran")
        << AllCapabilities << readThenShow << QStringList{"fail on start", "start:s"}
        << QStringList{"-read", "Failed, Stop script", "Script finished"} << QStringList{"Failed"}
        << noWait;
    QTest::newRow("job ended while its command ran")
        << AllCapabilities << readThenShow << QStringList{"end on start", "start:s"}
        << QStringList{"-read", "-d 10", "Script finished"} << finished << noWait;
    QTest::newRow("empty line does not wait for the job")
        << AllCapabilities << readThenShow << QStringList{"start:s", "submit:", "resume:65"}
        << QStringList{"-read", "-d 10", "Script finished"} << finished << noWait;
    QTest::newRow("typed line ends the waiting script")
        << AllCapabilities << readThenShow << QStringList{"start:s", "submit:cls", "resume:65"}
        << QStringList{"-read", "Exit Script"} << QStringList{"Exited"} << noWait;
    QTest::newRow("failed command")
        << AllCapabilities << readThenShow << QStringList{"offline", "start:s"}
        << QStringList{"-read", "Busy", "Failed, Stop script", "Script finished"}
        << QStringList{"Failed"} << noWait;
    QTest::newRow("command that cannot run")
        << AllCapabilities << "load\nd 10" << QStringList{"no target", "start:s"}
        << QStringList{"-load", "Usage: load (filename)", " Load file into memory.",
                       "Error, Stop script", "Script finished"}
        << QStringList{"Error"} << noWait;
    QTest::newRow("pause, then an empty line")
        << AllCapabilities << "pause\nd 10" << QStringList{"start:s", "submit:"}
        << QStringList{"Press enter to continue.Spacebar and enter to break....", "-d 10",
                       "Script finished"}
        << QStringList{"Paused", "Finished"} << noWait;
    QTest::newRow("pause, then a blank")
        << AllCapabilities << "pause\nd 10" << QStringList{"start:s", "submit: "}
        << QStringList{"Press enter to continue.Spacebar and enter to break....", "Exit Script"}
        << QStringList{"Paused", "Exited"} << noWait;
    QTest::newRow("command the engine lacks pauses")
        << (AllCapabilities & ~quint32(EngineCapability::Save)) << "save 0 1 x.bin\nd 10"
        << QStringList{"start:s", "submit:"}
        << QStringList{"-save 0 1 x.bin", "Bad command", "-d 10", "Script finished"}
        << QStringList{"Paused", "Finished"} << noWait;
    QTest::newRow("option answers")
        << AllCapabilities
        << "echo 1 one 2 two\noption 1 one 2 two\none:\nd 1\ngoto end\ntwo:\nd 2\nend:"
        << QStringList{"start:s", "submit:", "submit:x", "submit:3", "submit:2"}
        << QStringList{"1 one 2 two ",
                       "Please select",
                       "Please select",
                       "x",
                       "Please select right value",
                       "3",
                       "Please select right value",
                       "2",
                       "-d 2",
                       "Script finished"}
        << QStringList{"Option", "Finished"} << noWait;
    QTest::newRow("job does not answer an option")
        << AllCapabilities << "option 1 one\none:\nd 1"
        << QStringList{"start:s", "resume:129", "fail:0", "submit:1"}
        << QStringList{"Please select", "1", "-d 1", "Script finished"}
        << QStringList{"Option", "Finished"} << noWait;
    QTest::newRow("wait") << AllCapabilities << "wait 250\nd 10"
                          << QStringList{"start:s", "elapsed"}
                          << QStringList{"-d 10", "Script finished"} << finished
                          << QStringList{"startWaitTimer 250"};
    QTest::newRow("wait cut short")
        << AllCapabilities << "wait 250\nd 10" << QStringList{"start:s", "submit:", "elapsed"}
        << QStringList{"-d 10", "Script finished"} << finished
        << QStringList{"startWaitTimer 250", "stopWaitTimer"};
    QTest::newRow("wait ended by a line")
        << AllCapabilities << "wait 250\nd 10" << QStringList{"start:s", "submit:x", "elapsed"}
        << QStringList{"Exit Script"} << QStringList{"Exited"}
        << QStringList{"startWaitTimer 250", "stopWaitTimer"};
    QTest::newRow("no time is no wait")
        << AllCapabilities << "wait 0\nwait\nwait -5\nwait x\nd 10" << QStringList{"start:s"}
        << QStringList{"-d 10", "Script finished"} << finished << noWait;
    QTest::newRow("conditions test the console's values")
        << AllCapabilities
        << "if MEMORY == 0\nd 1\nendif\nif CMPRAM != 0\nd 2\nendif\nif PEEK == 0\nif FLASHSET "
           "== 0\nd 3\nendif\nendif\nif OTHER == 1\nd 4\nendif"
        << QStringList{"start:s"} << QStringList{"-d 1", "-d 3", "Script finished"} << finished
        << noWait;
    QTest::newRow("checkm is ignored")
        << AllCapabilities << "checkm 1\nxcheckmx\nCHECKM\nd 10"
        << QStringList{"start:s", "submit:"}
        << QStringList{"-CHECKM", "Bad command", "-d 10", "Script finished"}
        << QStringList{"Paused", "Finished"} << noWait;
    QTest::newRow("arguments") << AllCapabilities << "d %2\nd %3" << QStringList{"start:s 1 20"}
                               << QStringList{"-d 20", "-d ", "Script finished"} << finished
                               << noWait;
    QTest::newRow("called script")
        << AllCapabilities << "run t 5\nd 10" << QStringList{"start:s", "resume:65"}
        << QStringList{"run t 5", "-read", "-d 5", " ", "-d 10", "Script finished"} << finished
        << noWait;
}

void TestScriptRunner::runner()
{
    QFETCH(quint32, capabilities);
    QFETCH(QString, script);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, log);
    QFETCH(QStringList, stops);
    QFETCH(QStringList, waitCalls);
    TestFiles::write(m_scripts->filePath("s.usp"), script.toUtf8());
    TestFiles::write(m_scripts->filePath("t.usp"), "read\nd %1");
    Rig rig(capabilities);
    for (const QString &step : std::as_const(steps))
        rig.step(step);
    QCOMPARE(rig.host.log, log);
    QCOMPARE(rig.stops(), stops);
    QCOMPARE(rig.waitCalls(), waitCalls);
    QVERIFY(!rig.console.scriptLoaded());
    QCOMPARE(rig.console.awaitedStatus(), quint8(0));
}

void TestScriptRunner::loopPausesTheScript()
{
    TestFiles::write(m_scripts->filePath("loop.usp"), "top:\nd 10\ngoto top");
    Rig rig;
    QVERIFY(rig.console.StartScript("loop"));
    QCOMPARE(rig.stops(), QStringList{"Paused"});
    QCOMPARE(rig.host.log.size(), ScriptEngine::MaxFetches / 2 + 2);
    QCOMPARE(rig.host.log.mid(rig.host.log.size() - 2),
             (QStringList{"Script paused after 10000 lines in a row",
                          "Press enter to continue.Spacebar and enter to break...."}));
    // An empty line goes on for as long again; any other line ends it.
    rig.console.SubmitLine(QString());
    QCOMPARE(rig.stops(), (QStringList{"Paused", "Paused"}));
    rig.console.SubmitLine("x");
    QCOMPARE(rig.stops(), (QStringList{"Paused", "Paused", "Exited"}));
    QVERIFY(!rig.console.scriptLoaded());
}

void TestScriptRunner::runNestedTooDeep()
{
    TestFiles::write(m_scripts->filePath("self.usp"), "run self\nd 10");
    Rig rig;
    QVERIFY(rig.console.StartScript("self"));
    QCOMPARE(rig.stops(), QStringList{"Aborted"});
    QCOMPARE(rig.host.log.count("run self"), ScriptEngine::MaxRunDepth + 1);
    QCOMPARE(rig.host.log.mid(rig.host.log.size() - 2),
             (QStringList{"Scripts run more than 16 deep: script stopped", "Script finished"}));
    QVERIFY(!rig.console.scriptLoaded());
}

void TestScriptRunner::unreadableScript()
{
    Rig rig;
    QVERIFY(!rig.console.StartScript("none"));
    QCOMPARE(rig.host.log, QStringList{"Bad command"});
    QVERIFY(rig.host.stops.isEmpty());
    TestFiles::write(m_scripts->filePath("big.usp"),
                     QByteArray(ScriptEngine::MaxFileSize + 1, '\n'));
    QVERIFY(!rig.console.StartScript("big"));
    QCOMPARE(rig.host.log.last(), QString("Script file error!"));
}

void TestScriptRunner::typedCommandStartsAScript()
{
    // A typed word that is no command runs the script of that name with
    // the other words as arguments.
    TestFiles::write(m_scripts->filePath("go.usp"), "d %1\npause\nd 2");
    Rig rig;
    rig.console.SubmitLine("go 30");
    QCOMPARE(rig.host.log,
             (QStringList{"-go 30", "-d 30",
                          "Press enter to continue.Spacebar and enter to break...."}));
    QVERIFY(rig.console.scriptLoaded());
    // While the script is loaded a command line only ends it.
    rig.console.SubmitLine("d 40");
    QCOMPARE(rig.host.log.last(), QString("Exit Script"));
    QCOMPARE(rig.host.calls.filter("show"), QStringList{"show 30"});
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestScriptRunner)
#include "tst_script_runner.moc"
