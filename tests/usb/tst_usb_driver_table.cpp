#include "FirmwareImages.h"
#include "TestHome.h"
#include "UsbDriverTable.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QTest>

namespace {
int fakeCalls(int exportNumber)
{
    using Calls = int (*)(int);
    auto calls = reinterpret_cast<Calls>(
        QLibrary::resolve(QStringLiteral(FAKE_TRANSPORT), "fake_transport_calls"));
    return calls ? calls(exportNumber) : -2;
}

void checkFallbacks(UsbDriverTable &table)
{
    unsigned char buffer[16] = {};
    QCOMPARE(table.open(), 0);
    table.close();
    QCOMPARE(table.write(0, buffer, 16), -1);
    QCOMPARE(table.read(2, buffer, 16), -1);
    QCOMPARE(table.download(firmwareImage(NandImage1).records, true), 0);
    QCOMPARE(table.status(), 0);
}
} // namespace

class TestUsbDriverTable : public QObject
{
    Q_OBJECT
private slots:
    void unboundTableGivesFixedResults();
    void missingLibraryLeavesFallbacks();
    void bindsTheSixExportsInRowZero();
    void bindingTwiceKeepsTheFirst();
    void nullImageNeverReachesTheLibrary();
    void partialLibraryFallsBackPerOperation();
    void defaultPathIsBesideTheExecutable();
};

void TestUsbDriverTable::unboundTableGivesFixedResults()
{
    UsbDriverTable table;
    QCOMPARE(table.currentDriver(), -1);
    QVERIFY(!table.isResolved());
    checkFallbacks(table);
}

void TestUsbDriverTable::missingLibraryLeavesFallbacks()
{
    UsbDriverTable table;
    table.bind(QStringLiteral("/nonexistent/dll/kvusb"));
    QCOMPARE(table.currentDriver(), 0);
    QVERIFY(!table.isResolved());
    checkFallbacks(table);
    table.unbind();
    QCOMPARE(table.currentDriver(), -1);
}

void TestUsbDriverTable::bindsTheSixExportsInRowZero()
{
    UsbDriverTable table;
    table.bind(QStringLiteral(FAKE_TRANSPORT));
    QCOMPARE(table.currentDriver(), 0);
    QVERIFY(table.isResolved());
    unsigned char buffer[64] = {};
    QCOMPARE(table.open(), 2);
    QCOMPARE(table.read(3, buffer, 64), 64);
    QCOMPARE(table.write(1, buffer, 7), 1007);
    QCOMPARE(table.download(firmwareImage(SpiImage2).records, true), 1);
    QCOMPARE(table.download(firmwareImage(SpiImage2).records, false), 2);
    QCOMPARE(table.status(), 512);
    table.close();
    QCOMPARE(fakeCalls(4), 1);
    QCOMPARE(fakeCalls(1), 1);
    QCOMPARE(fakeCalls(2), 1);
    QCOMPARE(fakeCalls(3), 2);
    QCOMPARE(fakeCalls(6), 1);
    QCOMPARE(fakeCalls(5), 1);

    table.unbind();
    QCOMPARE(table.currentDriver(), -1);
    checkFallbacks(table);
    QCOMPARE(fakeCalls(4), 1); // nothing reached the library after unbinding
    // Unbinding did not unload the library: its state is still there.
    QVERIFY(QLibrary(QStringLiteral(FAKE_TRANSPORT)).isLoaded());
}

void TestUsbDriverTable::bindingTwiceKeepsTheFirst()
{
    UsbDriverTable table;
    table.bind(QStringLiteral(FAKE_TRANSPORT));
    table.bind(QStringLiteral("/nonexistent/dll/kvusb"));
    QVERIFY(table.isResolved());
    QCOMPARE(table.status(), 512);

    UsbDriverTable missingFirst;
    missingFirst.bind(QStringLiteral("/nonexistent/dll/kvusb"));
    missingFirst.bind(QStringLiteral(FAKE_TRANSPORT));
    QVERIFY(!missingFirst.isResolved());
    QCOMPARE(missingFirst.status(), 0);
}

void TestUsbDriverTable::nullImageNeverReachesTheLibrary()
{
    UsbDriverTable table;
    table.bind(QStringLiteral(FAKE_TRANSPORT));
    const int before = fakeCalls(3);
    QCOMPARE(table.download(nullptr, true), 0);
    QCOMPARE(table.download(nullptr, false), 0);
    QCOMPARE(fakeCalls(3), before);
}

void TestUsbDriverTable::partialLibraryFallsBackPerOperation()
{
    UsbDriverTable table;
    table.bind(QStringLiteral(PARTIAL_TRANSPORT));
    QVERIFY(!table.isResolved());
    unsigned char buffer[4] = {};
    QCOMPARE(table.open(), 1);
    QCOMPARE(table.status(), 64);
    table.close();
    QCOMPARE(table.read(2, buffer, 4), -1);
    QCOMPARE(table.write(0, buffer, 4), -1);
    QCOMPARE(table.download(firmwareImage(NandImage1).records, false), 0);
}

void TestUsbDriverTable::defaultPathIsBesideTheExecutable()
{
    QCOMPARE(UsbDriverTable::defaultLibraryPath(),
             QCoreApplication::applicationDirPath() + QStringLiteral("/dll/kvusb"));
    // QLibrary finds libkvusb.so from the name "kvusb" in the program's dll folder.
    QLibrary library(QFileInfo(QStringLiteral(KVUSB_LIBRARY)).absolutePath() +
                     QStringLiteral("/kvusb"));
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    QVERIFY(QStringLiteral(KVUSB_LIBRARY).endsWith(QStringLiteral("/bin/dll/libkvusb.so")));
    QVERIFY(library.resolve("func4"));
    QVERIFY(!library.resolve("kvusb_pipe_address")); // internals stay hidden
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestUsbDriverTable)
#include "tst_usb_driver_table.moc"
