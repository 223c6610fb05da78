#include "ApplicationFolders.h"
#include "ProgramObjects.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>

class TestApplicationFolders : public QObject
{
    Q_OBJECT
private slots:
    void foldersUnderTheSettingsFolder();
    void scriptDirOverridesScriptFolder();
    void temporaryFolderEndsWithOneSlash();
    void libraryFolderFollowsTheExecutable();
    void unknownKindsLeaveTheStringAlone();
    void programObjects();
};

void TestApplicationFolders::foldersUnderTheSettingsFolder()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    const QString base = QDir::currentPath();
    QCOMPARE(QDir(base).canonicalPath(), QDir(home.settingsFolder()).canonicalPath());
    QCOMPARE(applicationFolder(ConfigFolder), base + QStringLiteral("/config/"));
    QCOMPARE(applicationFolder(ScriptFolder), base + QStringLiteral("/script/"));
    QCOMPARE(applicationFolder(DataFolder), base + QStringLiteral("/data/"));
    QCOMPARE(applicationFolder(BaseFolder), base + QStringLiteral("/"));
}

void TestApplicationFolders::scriptDirOverridesScriptFolder()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    setScriptFolderOverride(QStringLiteral("/srv/scripts"));
    QCOMPARE(applicationFolder(ScriptFolder), QStringLiteral("/srv/scripts/"));
    setScriptFolderOverride(QString());
    QCOMPARE(applicationFolder(ScriptFolder), QDir::currentPath() + QStringLiteral("/script/"));
}

void TestApplicationFolders::temporaryFolderEndsWithOneSlash()
{
    const QByteArray saved = qgetenv("TMPDIR");
    QTemporaryDir dir;
    for (const QString &form : {dir.path(), dir.path() + QStringLiteral("/")}) {
        qputenv("TMPDIR", form.toLocal8Bit());
        const QString path = applicationFolder(TempFolder);
        QCOMPARE(path, QDir(dir.path()).canonicalPath() + QStringLiteral("/"));
        QVERIFY(!path.endsWith(QStringLiteral("//")));
    }
    qputenv("TMPDIR", saved);
}

void TestApplicationFolders::libraryFolderFollowsTheExecutable()
{
    const QString expected = QCoreApplication::applicationDirPath() + QStringLiteral("/dll/");
    QCOMPARE(applicationFolder(LibraryFolder), expected);
    QTemporaryDir elsewhere;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    QCOMPARE(applicationFolder(LibraryFolder), expected);
    QDir::setCurrent(previous);
    QVERIFY(expected.contains(QStringLiteral("/tests/bin/dll/")));
}

void TestApplicationFolders::unknownKindsLeaveTheStringAlone()
{
    QString path = QStringLiteral("unchanged");
    QVERIFY(!applicationFolder(6, path));
    QVERIFY(!applicationFolder(-1, path));
    QCOMPARE(path, QStringLiteral("unchanged"));
    QVERIFY(applicationFolder(0, path));
    QVERIFY(path.endsWith(QStringLiteral("/config/")));
    QCOMPARE(applicationFolder(42), QString());
}

void TestApplicationFolders::programObjects()
{
    QVERIFY(!ProgramObjects::current());
    QCOMPARE(scriptFolderOverride(), QString());
    TestHome::Fresh home;
    {
        ProgramObjects objects;
        QCOMPARE(ProgramObjects::current(), &objects);
        QCOMPARE(&uiText(), &objects.uiText);
        QCOMPARE(&settings(), &objects.settings);
        QCOMPARE(ProgramObjects::productName(), QStringLiteral("Korvane"));
        QCOMPARE(ProgramObjects::version(), QStringLiteral("1.10"));
        QCOMPARE(ProgramObjects::sfdpDeviceName(), QStringLiteral("SPI SFDP"));
        QCOMPARE(ProgramObjects::onfiDeviceName(), QStringLiteral("NAND OFNI"));
        QVERIFY(objects.scriptFolderOverride.isEmpty());
        QCOMPARE(uiText().text(0), QStringLiteral("File"));
    }
    QVERIFY(!ProgramObjects::current());
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestApplicationFolders)
#include "tst_application_folders.moc"
