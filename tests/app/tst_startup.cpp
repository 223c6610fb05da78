#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

// Runs the real program, headless, in a fresh settings home.
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void startsAndInstallsShippedLanguage();
    void startsInStoredLanguageFromAnotherDirectory();
    void startsWithoutTheDllFolder();
};

namespace {
QProcessEnvironment environmentFor(const TestHome::Fresh &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

// Starts the program, lets it run for a moment, then asks it to quit.
bool runBriefly(QProcess &program, const TestHome::Fresh &home,
                const QString &executable = QStringLiteral(KORVANE_EXECUTABLE))
{
    program.setProcessEnvironment(environmentFor(home));
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(executable, {QStringLiteral("-platform"), QStringLiteral("offscreen")});
    if (!program.waitForStarted(10000))
        return false;
    QTest::qWait(1500);
    const bool running = program.state() == QProcess::Running;
    program.terminate();
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished();
    }
    return running;
}
} // namespace

void TestStartup::startsAndInstallsShippedLanguage()
{
    TestHome::Fresh home;
    QProcess program;
    QVERIFY2(runBriefly(program, home), program.readAll().constData());
    QVERIFY(QFile::exists(home.settingsFolder() + QStringLiteral("/Languages/KVGerman.txt")));
}

void TestStartup::startsInStoredLanguageFromAnotherDirectory()
{
    TestHome::Fresh home;
    QDir().mkpath(home.settingsFolder());
    QFile ini(home.settingsFolder() + QStringLiteral("/Korvane.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[General]\nLanguageFile=/nonexistent/KVGone.txt\n");
    ini.close();
    QProcess program;
    program.setWorkingDirectory(QDir::rootPath());
    QVERIFY2(runBriefly(program, home), program.readAll().constData());
    // A stored translation that has gone is no reason to stop or to forget it.
    QVERIFY(
        QFile(home.settingsFolder() + QStringLiteral("/Korvane.ini")).open(QIODevice::ReadOnly));
}

void TestStartup::startsWithoutTheDllFolder()
{
    QVERIFY(QFile::exists(QFileInfo(QStringLiteral(KORVANE_EXECUTABLE)).absolutePath() +
                          QStringLiteral("/dll/libkvusb.so")));
    // A copy of the program in a folder of its own has no "dll" folder beside it.
    QTemporaryDir alone;
    const QString copy = alone.filePath(QStringLiteral("korvane"));
    QVERIFY(QFile::copy(QStringLiteral(KORVANE_EXECUTABLE), copy));
    TestHome::Fresh home;
    QProcess program;
    QVERIFY2(runBriefly(program, home, copy), program.readAll().constData());
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestStartup)
#include "tst_startup.moc"
