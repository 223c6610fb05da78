#include "TestHome.h"
#include "WindowGeometry.h"

#include <QTest>

class TestWindowGeometry : public QObject
{
    Q_OBJECT
private slots:
    void startFrame_data();
    void startFrame();
    void splitterDefaultsFollowDesktopHeight();
    void storedSplitterSizes();
    void splitterListForm();
};

void TestWindowGeometry::startFrame_data()
{
    QTest::addColumn<QSize>("stored");
    QTest::addColumn<int>("desktopHeight");
    QTest::addColumn<int>("screenWidth");
    QTest::addColumn<QRect>("frame");

    // (1080 - 600) / 2 - 20 = 220; (1920 - 850) / 2 = 535
    QTest::newRow("tall desktop") << QSize(850, 600) << 1080 << 1920 << QRect(535, 220, 850, 600);
    // Exactly 700: centred without the 20-pixel lift.
    QTest::newRow("700 no lift") << QSize(850, 600) << 700 << 1024 << QRect(87, 50, 850, 600);
    QTest::newRow("701 lifted") << QSize(850, 600) << 701 << 1024 << QRect(87, 30, 850, 600);
    // 699 and below: 35 from the top, height H - 70, whatever was stored.
    QTest::newRow("600 high") << QSize(850, 900) << 600 << 800 << QRect(-25, 35, 850, 530);
    QTest::newRow("699 high") << QSize(850, 600) << 699 << 1024 << QRect(87, 35, 850, 629);
    // A tall stored window on a tall desktop: the top never goes above 30.
    QTest::newRow("top at least 30") << QSize(850, 1000) << 900 << 1024 << QRect(87, 30, 850, 1000);
    // Odd differences use integer division.
    QTest::newRow("odd") << QSize(851, 601) << 1001 << 1001 << QRect(75, 180, 851, 601);
}

void TestWindowGeometry::startFrame()
{
    QFETCH(QSize, stored);
    QFETCH(int, desktopHeight);
    QFETCH(int, screenWidth);
    QFETCH(QRect, frame);
    QCOMPARE(WindowGeometry::atStart(stored, desktopHeight, screenWidth, {}, {}).frame, frame);
}

void TestWindowGeometry::splitterDefaultsFollowDesktopHeight()
{
    const WindowGeometry tall = WindowGeometry::atStart(QSize(850, 600), 700, 1024, {}, {});
    QCOMPARE(tall.verticalSizes, QList<int>({550, 180}));
    QCOMPARE(tall.horizontalSizes, QList<int>({160, 500}));
    const WindowGeometry low = WindowGeometry::atStart(QSize(850, 600), 699, 1024, {}, {});
    QCOMPARE(low.verticalSizes, QList<int>({250, 100}));
    QCOMPARE(low.horizontalSizes, QList<int>({80, 300}));
    // Fewer than two stored entries also give the defaults.
    const WindowGeometry one =
        WindowGeometry::atStart(QSize(850, 600), 1080, 1920, {QStringLiteral("300")}, {});
    QCOMPARE(one.verticalSizes, QList<int>({550, 180}));
}

void TestWindowGeometry::storedSplitterSizes()
{
    const WindowGeometry geometry = WindowGeometry::atStart(
        QSize(850, 600), 600, 1024, {QStringLiteral("400"), QStringLiteral("x")},
        {QStringLiteral("120"), QStringLiteral("700"), QStringLiteral("9")});
    QCOMPARE(geometry.verticalSizes, QList<int>({400, 0}));
    QCOMPARE(geometry.horizontalSizes, QList<int>({120, 700}));
}

void TestWindowGeometry::splitterListForm()
{
    QCOMPARE(WindowGeometry::splitterList({550, 180}),
             QStringList({QStringLiteral("550"), QStringLiteral("180")}));
    QCOMPARE(WindowGeometry::splitterList({7}),
             QStringList({QStringLiteral("7"), QStringLiteral("0")}));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestWindowGeometry)
#include "tst_window_geometry.moc"
