#include "Favourites.h"
#include "RecentList.h"
#include "Settings.h"
#include "TestHome.h"

#include <QTest>

class TestLists : public QObject
{
    Q_OBJECT
private slots:
    void recentEntryMovesToFront();
    void recentListKeepsTwenty();
    void recentListIsStored();
    void recentActionTexts();
    void folderOfPath();
    void favouritesAddOnlyOnce();
    void favouritesRemoveWholeNames();
};

void TestLists::recentEntryMovesToFront()
{
    QStringList list = RecentList::withEntry({}, QStringLiteral("/a.bin"));
    list = RecentList::withEntry(list, QStringLiteral("/b.bin"));
    list = RecentList::withEntry(list, QStringLiteral("/a.bin"));
    QCOMPARE(list, QStringList({QStringLiteral("/a.bin"), QStringLiteral("/b.bin")}));
    // Duplicates already in a stored list are all removed.
    list = RecentList::withEntry({QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("x")},
                                 QStringLiteral("x"));
    QCOMPARE(list, QStringList({QStringLiteral("x"), QStringLiteral("y")}));
}

void TestLists::recentListKeepsTwenty()
{
    QStringList list;
    for (int i = 1; i <= 21; ++i)
        list = RecentList::withEntry(list, QStringLiteral("/f%1.bin").arg(i));
    QCOMPARE(list.size(), 20);
    QCOMPARE(list.first(), QStringLiteral("/f21.bin"));
    QCOMPARE(list.last(), QStringLiteral("/f2.bin"));
    QVERIFY(!list.contains(QStringLiteral("/f1.bin")));
    // Re-adding an entry already in a full list keeps all twenty others.
    list = RecentList::withEntry(list, QStringLiteral("/f2.bin"));
    QCOMPARE(list.size(), 20);
    QCOMPARE(list.first(), QStringLiteral("/f2.bin"));
    QCOMPARE(list.last(), QStringLiteral("/f3.bin"));
}

void TestLists::recentListIsStored()
{
    TestHome::Fresh home;
    Settings store;
    RecentList::add(store, Settings::RecentTargetList, QStringLiteral("W25Q64"));
    RecentList::add(store, Settings::RecentTargetList, QStringLiteral("MX25L"));
    RecentList::add(store, Settings::RecentTargetList, QStringLiteral("W25Q64"));
    QCOMPARE(store.list(Settings::RecentTargetList),
             QStringList({QStringLiteral("W25Q64"), QStringLiteral("MX25L")}));
    QVERIFY(store.list(Settings::RecentFileList).isEmpty());
}

void TestLists::recentActionTexts()
{
    QCOMPARE(RecentList::actionText(1, QStringLiteral("/home/u/dump 1.bin"), true),
             QStringLiteral("&1 dump 1.bin"));
    QCOMPARE(RecentList::actionText(12, QStringLiteral("W25Q64/BV"), false),
             QStringLiteral("&12 W25Q64/BV"));
}

void TestLists::folderOfPath()
{
    QCOMPARE(RecentList::folderOf(QStringLiteral("/home/u/a.bin")), QStringLiteral("/home/u"));
    QCOMPARE(RecentList::folderOf(QStringLiteral("/a.bin")), QString());
    QCOMPARE(RecentList::folderOf(QStringLiteral("a.bin")), QString());
}

void TestLists::favouritesAddOnlyOnce()
{
    QString favourites;
    favourites = Favourites::added(favourites, QStringLiteral("W25Q64"));
    favourites = Favourites::added(favourites, QStringLiteral("MX25L6405"));
    favourites = Favourites::added(favourites, QStringLiteral("W25Q64"));
    QCOMPARE(favourites, QStringLiteral("W25Q64,MX25L6405,"));
    // A name that is part of another one is still a name of its own.
    favourites = Favourites::added(favourites, QStringLiteral("W25Q"));
    QCOMPARE(favourites, QStringLiteral("W25Q64,MX25L6405,W25Q,"));
    QVERIFY(Favourites::contains(favourites, QStringLiteral("W25Q")));
    QVERIFY(!Favourites::contains(favourites, QStringLiteral("MX25")));
    QCOMPARE(Favourites::names(favourites).size(), 3);
}

void TestLists::favouritesRemoveWholeNames()
{
    QCOMPARE(Favourites::removed(QStringLiteral("A1,B2,"), QStringLiteral("B2")),
             QStringLiteral("A1,"));
    QCOMPARE(Favourites::removed(QStringLiteral("A1,B2,"), QStringLiteral("A1")),
             QStringLiteral("B2,"));
    // Only the first occurrence goes.
    QCOMPARE(Favourites::removed(QStringLiteral("A,B,A,"), QStringLiteral("A")),
             QStringLiteral("B,A,"));
    // Removing "W25Q" must not cut it out of "W25Q64".
    QCOMPARE(Favourites::removed(QStringLiteral("W25Q64,W25Q,"), QStringLiteral("W25Q")),
             QStringLiteral("W25Q64,"));
    QCOMPARE(Favourites::removed(QStringLiteral("XW25Q,"), QStringLiteral("W25Q")),
             QStringLiteral("XW25Q,"));
    QCOMPARE(Favourites::removed(QStringLiteral("A1,"), QStringLiteral("Z")),
             QStringLiteral("A1,"));
    // A hand-edited list without its last comma.
    QCOMPARE(Favourites::removed(QStringLiteral("A1,B2"), QStringLiteral("B2")),
             QStringLiteral("A1,"));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestLists)
#include "tst_lists.moc"
