#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
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
    void unplugFailsTheRunAndKeepsWhatWasRead_data();
    void unplugFailsTheRunAndKeepsWhatWasRead();

private:
    struct Run
    {
        int exitCode = -1;
        QString output;
        QString logFile;
        // The files the run left in its data folder, by path, with their sizes.
        QHash<QString, qint64> dataFiles;
    };
    // Runs the program with `script` as "<target>.usp"; `withProgrammer`
    // false leaves the transport out, so no programmer is ever found.
    // `profile` is the emulator's (empty: a NAND programmer with 64 blocks).
    Run run(const QByteArray &script, bool withProgrammer = true, int timeoutMs = 60000,
            const QByteArray &target = "K9F1G08U0B", const QByteArray &profile = QByteArray());

    QTemporaryDir m_tree;
};

namespace {

const QByteArray NandProfile = "[programmer]\nfirmware = NAND image 1\n"
                               "[chip]\nfamily = nand\nid = EC F1 00 95 40\nblocks = 64\n";
const QByteArray SpiProfile = "[programmer]\nadapter = spi\nfirmware = SPI image 0\n"
                              "[chip]\nfamily = spi\nid = C2 20 14\nsize = 1M\n"
                              "page_size = 256\nsfdp = no\ndemo_data = yes\n";

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    TestFiles::write(path, bytes);
}

} // namespace

TestUnattended::Run TestUnattended::run(const QByteArray &script, bool withProgrammer,
                                        int timeoutMs, const QByteArray &target,
                                        const QByteArray &profile)
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
    const QString scriptName = QString::fromLatin1(target.isEmpty() ? "K9F1G08U0B" : target);
    write(settingsFolder + QStringLiteral("/script/") + scriptName + QStringLiteral(".usp"),
          script);
    write(home.path() + QStringLiteral("/nand.ini"), profile.isEmpty() ? NandProfile : profile);
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
    const QFileInfoList data =
        QDir(settingsFolder + QStringLiteral("/data")).entryInfoList(QDir::Files);
    for (const QFileInfo &file : data)
        result.dataFiles.insert(file.absoluteFilePath(), file.size());
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

void TestUnattended::unplugFailsTheRunAndKeepsWhatWasRead_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QByteArray>("script");
    // Where an unfinished read is said to be: its file, the SPI node, or
    // nowhere (no read).
    QTest::addColumn<QString>("incomplete");
    QTest::addColumn<qint64>("rangeBytes");
    const QByteArray unplug = "[faults]\nreplug_ms = 500\nunplug_after_bytes = ";
    // The 64 blocks of 64 pages of 2112 bytes: 840000h bytes.
    QTest::newRow("NAND read") << QByteArray("K9F1G08U0B") << NandProfile + unplug + "3000000\n"
                               << QByteArray("read 0 840000\nexit\n") << "file" << qint64(0x840000);
    QTest::newRow("NAND read, second block")
        << QByteArray("K9F1G08U0B") << NandProfile + unplug + "150000\n"
        << QByteArray("read 0 840000\nexit\n") << "file" << qint64(0x840000);
    QTest::newRow("NAND erase") << QByteArray("K9F1G08U0B") << NandProfile + unplug + "60000\n"
                                << QByteArray("erase 0 840000\nexit\n") << QString() << qint64(0);
    QTest::newRow("SPI read") << QByteArray("MX25L8005") << SpiProfile + unplug + "300000\n"
                              << QByteArray("read\nexit\n") << "SPI" << qint64(0x100000);
    QTest::newRow("SPI erase") << QByteArray("MX25L8005") << SpiProfile + unplug + "250\n"
                               << QByteArray("erase\nexit\n") << QString() << qint64(0);
}

void TestUnattended::unplugFailsTheRunAndKeepsWhatWasRead()
{
    // The programmer goes away inside the operation: the run fails with 1,
    // says once that the programmer is gone, and a read keeps every byte it
    // read, saying how many of how many.
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, profile);
    QFETCH(QByteArray, script);
    QFETCH(QString, incomplete);
    QFETCH(qint64, rangeBytes);
    const Run r = run(script, true, 60000, target, profile);
    QVERIFY2(r.exitCode == 1, qPrintable(r.output));
    const QStringList lines = r.output.split(QLatin1Char('\n'));
    QVERIFY2(lines.contains(QStringLiteral("Failed, Stop script")), qPrintable(r.output));
    QVERIFY2(lines.count(QStringLiteral("USB Not connected")) == 1, qPrintable(r.output));
    // The notice comes before the run says how it ends, and the run waits
    // to see the programmer back.
    const qsizetype gone = lines.indexOf(QStringLiteral("USB Not connected"));
    const qsizetype back = lines.indexOf(QStringLiteral("Unattended: the programmer is back"));
    QVERIFY2(gone < back && back < lines.indexOf(QStringLiteral("Unattended: exit code 1")),
             qPrintable(r.output));

    static const QRegularExpression said(
        QStringLiteral("^Read incomplete: (.+) holds (\\d+) of (\\d+) bytes$"));
    const QStringList told = lines.filter(said);
    if (incomplete.isEmpty()) {
        QVERIFY2(told.isEmpty(), qPrintable(r.output));
        return;
    }
    QVERIFY2(told.size() == 1, qPrintable(r.output));
    const QRegularExpressionMatch match = said.match(told.first());
    const qint64 held = match.captured(2).toLongLong();
    QCOMPARE(match.captured(3).toLongLong(), rangeBytes);
    QVERIFY2(held < rangeBytes, qPrintable(told.first()));
    if (incomplete != QLatin1String("file")) {
        QCOMPARE(match.captured(1), incomplete);
        return;
    }
    // The file the read announced holds exactly the bytes it said.
    const QStringList saved =
        lines.filter(QRegularExpression(QStringLiteral("^Save binary file: ")));
    QCOMPARE(saved.size(), 1);
    const QString file = saved.first().mid(saved.first().indexOf(QLatin1Char('/')));
    QCOMPARE(match.captured(1), file);
    QCOMPARE(r.dataFiles.value(file, -1), held);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestUnattended)
#include "tst_unattended.moc"
