#include "RecentList.h"
#include "Settings.h"
#include "TargetSettings.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    // Must run first: it checks the default location, before any test
    // redirects the settings home.
    void opensPerUserIniAndMakesItsFolderCurrent();
    void defaultsOfTheKeyTable();
    void valuesSurviveReopening();
    void writesOnlyWhatChanged();
    void splitterListWithNonNumericEntry();
    void targetChangeStoresPreviousFolderFirst();
    void restoreFallsBackToMostRecentFile();
};

void TestSettings::opensPerUserIniAndMakesItsFolderCurrent()
{
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    QVERIFY(!home.isEmpty());
    Settings store;
    const QString expected = QDir(home).absoluteFilePath(QStringLiteral("Tessaline"));
    QCOMPARE(store.fileName(), expected + QStringLiteral("/Korvane.ini"));
    QCOMPARE(store.folder(), expected);
    QCOMPARE(QDir::currentPath(), QDir(expected).canonicalPath());
    store.setString(Settings::TestName, QStringLiteral("W25Q64"));
    QVERIFY(QFile::exists(expected + QStringLiteral("/Korvane.ini")));
}

void TestSettings::defaultsOfTheKeyTable()
{
    TestHome::Fresh home;
    Settings store;
    QCOMPARE(store.folder(), home.settingsFolder());
    const char *expectedKeys[] = {"LanguageFile",       "Test Name",      "Auto Script",
                                  "Script Dir",         "recentFileList", "recentTargetList",
                                  "FavoriteDiviceList", "Window Size",    "Windows 2",
                                  "Windows 1",          "Board Type"};
    for (int i = 0; i < Settings::KeyCount; ++i)
        QCOMPARE(Settings::keyName(i), expectedKeys[i]);
    QCOMPARE(Settings::keyName(11), "");

    QVERIFY(store.string(Settings::LanguageFile).isEmpty());
    QVERIFY(store.string(Settings::TestName).isEmpty());
    QCOMPARE(store.boolean(Settings::AutoScript, false), false);
    QCOMPARE(store.boolean(Settings::BoardType, true), true); // caller's default
    QVERIFY(store.list(Settings::RecentFileList).isEmpty());
    QCOMPARE(store.windowSize(), QSize(850, 600));
    QVERIFY(store.targetFolder(QStringLiteral("X")).isEmpty());
}

void TestSettings::valuesSurviveReopening()
{
    TestHome::Fresh home;
    {
        Settings store;
        store.setString(Settings::LanguageFile, QStringLiteral("/l/KVGerman.txt"));
        store.setBoolean(Settings::BoardType, true);
        store.setList(Settings::RecentTargetList, {QStringLiteral("A"), QStringLiteral("B C")});
        store.setWindowSizeIfChanged(QSize(1000, 700));
        store.setTargetFolder(QStringLiteral("MX25L6405"), QStringLiteral("/data/mx/"));
    }
    Settings store;
    QCOMPARE(store.string(Settings::LanguageFile), QStringLiteral("/l/KVGerman.txt"));
    QCOMPARE(store.boolean(Settings::BoardType, false), true);
    QCOMPARE(store.list(Settings::RecentTargetList),
             QStringList({QStringLiteral("A"), QStringLiteral("B C")}));
    QCOMPARE(store.windowSize(), QSize(1000, 700));
    QCOMPARE(store.stringAt(QStringLiteral("MX25L6405Dir")), QStringLiteral("/data/mx/"));
}

void TestSettings::writesOnlyWhatChanged()
{
    TestHome::Fresh home;
    Settings store;
    QVERIFY(store.setStringIfChanged(QStringLiteral("XDir"), QStringLiteral("/a/")));
    QVERIFY(!store.setStringIfChanged(QStringLiteral("XDir"), QStringLiteral("/a/")));
    QVERIFY(store.setStringIfChanged(QStringLiteral("XDir"), QStringLiteral("/b/")));
    // An empty value is still written once, so the key exists afterwards.
    QVERIFY(store.setStringIfChanged(QStringLiteral("YDir"), QString()));
    QVERIFY(!store.setStringIfChanged(QStringLiteral("YDir"), QString()));

    // The default size is not stored until a size is written.
    QVERIFY(store.setWindowSizeIfChanged(QSize(850, 600)));
    QVERIFY(!store.setWindowSizeIfChanged(QSize(850, 600)));
    QVERIFY(store.setWindowSizeIfChanged(QSize(851, 600)));
}

void TestSettings::splitterListWithNonNumericEntry()
{
    TestHome::Fresh home;
    Settings store;
    store.setList(Settings::VerticalSplitter, {QStringLiteral("abc"), QStringLiteral("200")});
    const QStringList stored = store.list(Settings::VerticalSplitter);
    QCOMPARE(stored.size(), 2);
    QCOMPARE(stored.at(0).toInt(), 0);
    QCOMPARE(stored.at(1).toInt(), 200);
}

void TestSettings::targetChangeStoresPreviousFolderFirst()
{
    TestHome::Fresh home;
    Settings store;
    store.setTargetFolder(QStringLiteral("Y"), QStringLiteral("/work/y/"));

    TargetSettings target(store);
    target.restore();
    target.autoScript = true;
    target.scriptDir = QStringLiteral("/scripts");
    target.changeTarget(QStringLiteral("X"));
    QCOMPARE(store.string(Settings::TestName), QStringLiteral("X"));
    QVERIFY(!QSettings(store.fileName(), QSettings::IniFormat).contains(QStringLiteral("Dir")));

    target.workingFolder = QStringLiteral("/work/x/");
    target.changeTarget(QStringLiteral("Y"));
    QCOMPARE(store.targetFolder(QStringLiteral("X")), QStringLiteral("/work/x/"));
    QCOMPARE(target.workingFolder, QStringLiteral("/work/y/"));
    QCOMPARE(store.string(Settings::TestName), QStringLiteral("Y"));
    QCOMPARE(store.boolean(Settings::AutoScript, false), true);
    QCOMPARE(store.string(Settings::ScriptDir), QStringLiteral("/scripts"));

    // A target without a folder of its own keeps the current working folder.
    target.changeTarget(QStringLiteral("Z"));
    QCOMPARE(target.workingFolder, QStringLiteral("/work/y/"));
    QCOMPARE(store.targetFolder(QStringLiteral("Y")), QStringLiteral("/work/y/"));

    // Choosing the same target again does not rewrite its folder key.
    target.workingFolder = QStringLiteral("/elsewhere/");
    target.changeTarget(QStringLiteral("Z"));
    QVERIFY(store.targetFolder(QStringLiteral("Z")).isEmpty());
    target.save();
    QCOMPARE(store.targetFolder(QStringLiteral("Z")), QStringLiteral("/elsewhere/"));
}

void TestSettings::restoreFallsBackToMostRecentFile()
{
    TestHome::Fresh home;
    Settings store;
    store.setString(Settings::TestName, QStringLiteral("K9F1G08U0B"));
    RecentList::add(store, Settings::RecentFileList, QStringLiteral("/dumps/old/a.bin"));
    RecentList::add(store, Settings::RecentFileList, QStringLiteral("/dumps/new/b.bin"));

    TargetSettings target(store);
    target.restore();
    QCOMPARE(target.targetName, QStringLiteral("K9F1G08U0B"));
    QCOMPARE(target.workingFolder, QStringLiteral("/dumps/new/"));

    store.setTargetFolder(QStringLiteral("K9F1G08U0B"), QStringLiteral("/own/"));
    target.restore();
    QCOMPARE(target.workingFolder, QStringLiteral("/own/"));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestSettings)
#include "tst_settings.moc"
