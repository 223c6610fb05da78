#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// The real program run as a production script runs it: offscreen, an
// isolated settings home with "Auto Script" on, the last target and its
// script, the emulated programmer as the transport beside a copy of the
// program. The exit code says how the run ended.
class TestUnattended : public QObject
{
    Q_OBJECT
private slots:
    void runEndsWithItsExitCode_data();
    void runEndsWithItsExitCode();
    void logFileHoldsTheRun();
    void reinitialisedProgrammerCarriesOn();
    void noProgrammerEndsWithTwo();
    void withoutTargetNobodyIsAsked();

private:
    struct Run
    {
        int exitCode = -1;
        QString output;
        QString logFile;
    };
    // Runs the program with `script` as "<target>.usp"; `withProgrammer`
    // false leaves the transport out, so no programmer is ever found.
    Run run(const QByteArray &script, bool withProgrammer = true, int timeoutMs = 60000,
            const QByteArray &target = "K9F1G08U0B");

    QTemporaryDir m_tree;
};

namespace {

const QByteArray NandProfile = "[programmer]\nfirmware = NAND image 1\n"
                               "[chip]\nfamily = nand\nid = EC F1 00 95 40\nblocks = 64\n";

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    TestFiles::write(path, bytes);
}

} // namespace

TestUnattended::Run TestUnattended::run(const QByteArray &script, bool withProgrammer,
                                        int timeoutMs, const QByteArray &target)
{
    Run result;
    QTemporaryDir home;
    const QString bin = m_tree.filePath(withProgrammer ? "with" : "without");
    const QString program = bin + QStringLiteral("/korvane");
    if (!QFile::exists(program)) {
        QDir().mkpath(bin);
        QFile::copy(QStringLiteral(KORVANE_EXECUTABLE), program);
        if (withProgrammer) {
            QDir().mkpath(bin + QStringLiteral("/dll"));
            QFile::copy(QStringLiteral(KVEMU_LIBRARY), bin + QStringLiteral("/dll/libkvusb.so"));
        }
    }
    const QString settingsFolder = home.path() + QStringLiteral("/Tessaline");
    write(settingsFolder + QStringLiteral("/Korvane.ini"),
          "[General]\nTest%20Name=" + target + "\nAuto%20Script=true\n");
    write(settingsFolder + QStringLiteral("/script/K9F1G08U0B.usp"), script);
    write(home.path() + QStringLiteral("/nand.ini"), NandProfile);
    QDir().mkpath(home.path() + QStringLiteral("/tmp"));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("TMPDIR"), home.path() + QStringLiteral("/tmp"));
    env.insert(QStringLiteral("KVEMU_CONFIG"), home.path() + QStringLiteral("/nand.ini"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, {QStringLiteral("-platform"), QStringLiteral("offscreen")});
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.output = QStringLiteral("(did not end)\n");
    }
    result.output += QString::fromLocal8Bit(process.readAll());
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.logFile = QString::fromLatin1(TestFiles::read(home.path() + "/tmp/korvane.log"));
    return result;
}

void TestUnattended::runEndsWithItsExitCode_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");
    QTest::newRow("exit") << QByteArray("speed 4\nhelp read\nexit\n") << 0 << "-exit";
    QTest::newRow("script finished") << QByteArray("speed 4\n") << 0 << "Script finished";
    QTest::newRow("failed job") << QByteArray("verify\nexit\n") << 1 << "Failed, Stop script";
    QTest::newRow("error") << QByteArray("load /no/such/file.bin\nexit\n") << 1
                           << "Error, Stop script";
    QTest::newRow("pause") << QByteArray("pause\nexit\n") << 1
                           << "Press enter to continue.Spacebar and enter to break....";
    QTest::newRow("bad command") << QByteArray("nosuchcommand\nexit\n") << 1 << "Bad command";
    QTest::newRow("option") << QByteArray("echo 1 go\noption 1 go\ngo:\nexit\n") << 1
                            << "Please select";
}

void TestUnattended::runEndsWithItsExitCode()
{
    QFETCH(QByteArray, script);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    const Run r = run(script);
    QVERIFY2(r.exitCode == exitCode, qPrintable(r.output));
    QVERIFY2(r.output.split(QLatin1Char('\n')).contains(said), qPrintable(r.output));
}

void TestUnattended::logFileHoldsTheRun()
{
    const Run r = run("log 1\nspeed 4\nhelp speed\nexit\n");
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY2(r.logFile.startsWith(
                 QStringLiteral("Log Start\r\n-speed 4\r\n-help speed\r\n"
                                "Usage: speed 0 (1) (2)\r\nAdjust target speed\r\n-exit\r\n")),
             qPrintable(r.logFile));
}

void TestUnattended::reinitialisedProgrammerCarriesOn()
{
    // The script goes on after its own INITUSB instead of starting again;
    // the stand-in firmware is told once although it went in twice; each
    // read goes to a file of its own in the target's folder.
    const Run r = run("read 0 21000\ninitusb\nread 0 21000\nexit\n");
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(r.output.count(QStringLiteral("-read")), 2);
    QCOMPARE(r.output.count(QStringLiteral("Firmware \"NAND image 1\" is a stand-in")), 1);
    const QStringList saved =
        r.output.split(QLatin1Char('\n'))
            .filter(QRegularExpression(QStringLiteral("^Save binary file: ")));
    QCOMPARE(saved.size(), 2);
    for (const QString &line : saved) {
        const QString file = line.mid(line.indexOf(QLatin1Char('/')));
        QVERIFY2(!file.contains(QStringLiteral("//")), qPrintable(file));
        QVERIFY2(file.contains(QStringLiteral("/Tessaline/data/K9F1G08U0B_")), qPrintable(file));
    }
    QVERIFY(saved[0] != saved[1]);
}

void TestUnattended::noProgrammerEndsWithTwo()
{
    const Run r = run("exit\n", false, 90000);
    QVERIFY2(r.exitCode == 2, qPrintable(r.output));
}

void TestUnattended::withoutTargetNobodyIsAsked()
{
    // A first start asks for a device; nobody can answer, so the question
    // is answered Cancel, said in the log, and the run ends.
    const Run r = run("exit\n", true, 60000, QByteArray());
    QVERIFY2(r.exitCode == 1, qPrintable(r.output));
    QVERIFY2(r.output.contains(
                 QStringLiteral("Unattended: \"Device Selection/Search\" answered Cancel")),
             qPrintable(r.output));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestUnattended)
#include "tst_unattended.moc"
