#include "OperationProgress.h"
#include "ProgramObjects.h"
#include "TestHome.h"
#include "WindowTexts.h"

#include <QCoreApplication>
#include <QTest>

// The progress arithmetic of the main window without a window: the caller's
// operation clock is passed in, so every rate and end is exact.
class TestOperationProgress : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void beginSetsTheRange_data();
    void beginSetsTheRange();
    void readRateAtMostEvery500Ms();
    void readEndLogsTheTime();
    void nothingWhileIdle();
    void rateText_data();
    void rateText();
    void elapsedLine_data();
    void elapsedLine();
    void writeRateOnEveryReport();
    void eraseFromAnAbsoluteStart_data();
    void eraseFromAnAbsoluteStart();
    void capabilityBits_data();
    void capabilityBits();
    void titles();

private:
    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
};

void TestOperationProgress::initTestCase()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
}

void TestOperationProgress::beginSetsTheRange_data()
{
    QTest::addColumn<uint>("start");
    QTest::addColumn<uint>("count");
    QTest::addColumn<uint>("end");
    QTest::addColumn<int>("maximum");
    QTest::newRow("from 0") << 0u << 256u << 256u << 256;
    QTest::newRow("from 100") << 100u << 28u << 128u << 28;
    QTest::newRow("count 0 ends one later") << 7u << 0u << 8u << 1;
}

void TestOperationProgress::beginSetsTheRange()
{
    QFETCH(uint, start);
    QFETCH(uint, count);
    QFETCH(uint, end);
    QFETCH(int, maximum);
    OperationProgress p;
    QVERIFY(!p.running());
    p.begin(start, count);
    QVERIFY(p.running());
    QCOMPARE(p.start(), start);
    QCOMPARE(p.end(), end);
    QCOMPARE(p.barMaximum(), maximum);
}

void TestOperationProgress::readRateAtMostEvery500Ms()
{
    OperationProgress p;
    p.begin(0, 1000);
    QStringList shown;
    // One report every 100 ms for 1.9 s: rates at 500, 1000 and 1500 ms only.
    for (int i = 1; i < 20; ++i) {
        const OperationProgress::Update u = p.reached(uint(i * 10), i * 100, 512);
        QVERIFY(!u.ended);
        if (!u.status.isEmpty()) {
            shown << u.status;
            QCOMPARE(u.barValue, i * 10);
        }
    }
    // 50 packets of 512 bytes in 500 ms: 51.20 KB/s.
    QCOMPARE(shown, (QStringList{"Read speed 51.20 KB/s", "Read speed 51.20 KB/s",
                                 "Read speed 51.20 KB/s"}));
}

void TestOperationProgress::readEndLogsTheTime()
{
    OperationProgress p;
    p.begin(64, 64);
    QVERIFY(!p.reached(127, 100, 512).ended);
    const OperationProgress::Update u = p.reached(128, 3723456, 512);
    QVERIFY(u.ended);
    QVERIFY(u.setBar);
    QCOMPARE(u.barValue, 0);
    QCOMPARE(u.log, QStringLiteral("Time 01:02:03 (.456)"));
    QVERIFY(!p.running());
    QCOMPARE(p.start(), 0u);
}

void TestOperationProgress::nothingWhileIdle()
{
    OperationProgress p;
    const OperationProgress::Update u = p.reached(1000, 5000, 512);
    QVERIFY(!u.ended && !u.setBar && u.status.isEmpty() && u.log.isEmpty());
    QVERIFY(!p.erased(1000, 5000).ended);
    p.begin(0, 4);
    p.stop();
    QVERIFY(!p.reached(4, 5000, 512).ended);
}

void TestOperationProgress::rateText_data()
{
    QTest::addColumn<quint64>("value");
    QTest::addColumn<int>("packet");
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("high speed") << quint64(2048) << 512 << qint64(1000) << "x 1048.58 KB/s";
    QTest::newRow("full speed") << quint64(3) << 64 << qint64(7) << "x 27.43 KB/s";
    QTest::newRow("0 ms shows nothing") << quint64(10) << 512 << qint64(0) << QString();
    QTest::newRow("no packets shows nothing") << quint64(0) << 512 << qint64(10) << QString();
    QTest::newRow("a million KB/s is not shown")
        << quint64(2000000) << 512 << qint64(1) << QString();
    QTest::newRow("unknown packet size") << quint64(10) << 0 << qint64(10) << QString();
}

void TestOperationProgress::rateText()
{
    QFETCH(quint64, value);
    QFETCH(int, packet);
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QCOMPARE(OperationProgress::rateText(QStringLiteral("x"), value, packet, ms), text);
}

void TestOperationProgress::elapsedLine_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("line");
    QTest::newRow("0 ms") << qint64(0) << QString();
    QTest::newRow("1 ms") << qint64(1) << "Erase time 00:00:00 (.001)";
    QTest::newRow("over a day") << qint64(100 * 3600000 + 59999) << "Erase time 100:00:59 (.999)";
}

void TestOperationProgress::elapsedLine()
{
    QFETCH(qint64, ms);
    QFETCH(QString, line);
    QCOMPARE(OperationProgress::elapsedLine(QStringLiteral("Erase time"), ms), line);
}

void TestOperationProgress::writeRateOnEveryReport()
{
    OperationProgress p;
    p.begin(10, 20);
    // Two reports 1 ms apart both show a rate.
    OperationProgress::Update u = p.written(10, 5, 100, 512);
    QCOMPARE(u.status, QStringLiteral("Write speed 25.60 KB/s"));
    QCOMPARE(u.barValue, 5);
    u = p.written(15, 5, 101, 512);
    QVERIFY(!u.status.isEmpty());
    QVERIFY(!u.ended);
    // b = 0 counts as one packet.
    u = p.written(29, 0, 200, 512);
    QVERIFY(u.ended);
    QCOMPARE(u.barValue, 0);
    QVERIFY(!p.running());
}

void TestOperationProgress::eraseFromAnAbsoluteStart_data()
{
    QTest::addColumn<uint>("start");
    QTest::addColumn<uint>("count");
    QTest::newRow("from 0") << 0u << 64u;
    QTest::newRow("block 10 of 64 pages") << 640u << 128u;
    QTest::newRow("sector 4096") << 4096u << 1u;
}

void TestOperationProgress::eraseFromAnAbsoluteStart()
{
    QFETCH(uint, start);
    QFETCH(uint, count);
    OperationProgress p;
    p.begin(start, count);
    for (uint n = 0; n < count; ++n) {
        const OperationProgress::Update u = p.erased(start + n, 10);
        QVERIFY2(!u.ended, qPrintable(QString::number(n)));
        QCOMPARE(u.barValue, int(n));
    }
    const OperationProgress::Update u = p.erased(start + count, 10);
    QVERIFY(u.ended);
    QCOMPARE(u.log, QStringLiteral("Erase time 00:00:00 (.010)"));
    QVERIFY(!p.running());
}

void TestOperationProgress::capabilityBits_data()
{
    QTest::addColumn<quint32>("bits");
    QTest::addColumn<bool>("detect");
    QTest::addColumn<bool>("erase");
    QTest::addColumn<bool>("blank");
    QTest::newRow("engine default 0xCF") << 0xCFu << true << true << true;
    QTest::newRow("none") << 0u << false << false << false;
    QTest::newRow("bit 0") << 1u << true << false << false;
    QTest::newRow("bit 1") << 2u << false << true << false;
    QTest::newRow("bit 2") << 4u << false << false << true;
}

void TestOperationProgress::capabilityBits()
{
    QFETCH(quint32, bits);
    const CapabilityActions a = CapabilityActions::from(bits);
    QTEST(a.detect, "detect");
    QTEST(a.erase, "erase");
    QTEST(a.blankCheck, "blank");
}

void TestOperationProgress::titles()
{
    QCOMPARE(WindowTexts::title(QString()), QStringLiteral("Korvane 1.10  "));
    QCOMPARE(WindowTexts::title(QStringLiteral("K9F1G08U0B")),
             QStringLiteral("Korvane 1.10  Target: K9F1G08U0B "));
    QCOMPARE(WindowTexts::speedLabel(7), QStringLiteral("   Speed: (7)  "));
    QCOMPARE(WindowTexts::usbStatus(),
             (QStringList{"USB Not connected  ", "USB connected (1.1)", "USB connected (2.0)"}));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestOperationProgress)
#include "tst_operation_progress.moc"
