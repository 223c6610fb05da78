#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

// Runs the real program, headless, in a fresh settings home: a first start
// leaves the default catalogue in the configuration folder.
class TestCatalogueStartup : public QObject
{
    Q_OBJECT
private slots:
    void firstStartInstallsTheCatalogue();
    void userCatalogueIsKept();
};

namespace {
bool runBriefly(const TestHome::Fresh &home, QByteArray &output)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(KORVANE_EXECUTABLE),
                  {QStringLiteral("-platform"), QStringLiteral("offscreen")});
    if (!program.waitForStarted(10000))
        return false;
    // The files are written before the main window opens.
    const QString spi = home.settingsFolder() + QStringLiteral("/config/SPI.txt");
    for (int waited = 0; waited < 10000 && !QFile::exists(spi); waited += 50)
        QTest::qWait(50);
    QTest::qWait(200);
    const bool running = program.state() == QProcess::Running;
    program.terminate();
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished();
    }
    output = program.readAll();
    return running;
}

} // namespace

void TestCatalogueStartup::firstStartInstallsTheCatalogue()
{
    TestHome::Fresh home;
    QByteArray output;
    QVERIFY2(runBriefly(home, output), output.constData());
    const QString config = home.settingsFolder() + QStringLiteral("/config/");
    const QByteArray nand = TestFiles::read(config + QStringLiteral("Nand.txt"));
    const QByteArray spi = TestFiles::read(config + QStringLiteral("SPI.txt"));
    QVERIFY(nand.contains("Name=\"K9F1G08U0B\""));
    QVERIFY(spi.contains("Name=\"W25Q64FV\""));
}

void TestCatalogueStartup::userCatalogueIsKept()
{
    TestHome::Fresh home;
    const QString config = home.settingsFolder() + QStringLiteral("/config/");
    QVERIFY(QDir().mkpath(config));
    const QByteArray mine = "Name=\"MY OWN\",BlockSize=\"40h\"\r\n";
    QFile file(config + QStringLiteral("Nand.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(mine);
    file.close();
    QByteArray output;
    QVERIFY2(runBriefly(home, output), output.constData());
    QCOMPARE(TestFiles::read(config + QStringLiteral("Nand.txt")), mine);
    QVERIFY(TestFiles::read(config + QStringLiteral("SPI.txt")).contains("Name=\"W25Q64FV\""));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestCatalogueStartup)
#include "tst_catalogue_startup.moc"
