#include "ChipEngine.h"
#include "EngineMessage.h"
#include "TestEngine.h"
#include "TestHome.h"
#include "UsbDriverTable.h"

#include <QPointer>
#include <QTest>

// The base behaviours that need no programmer: range alignment, byte
// reading, the answer message and the defaults of a new engine.
class TestEngineBase : public QObject
{
    Q_OBJECT

private slots:
    void alignLength_data();
    void alignLength();
    void readLE();
    void messageData();
    void messageDescriptorHasNoData();
    void defaultsOfANewEngine();
    void unboundTableNeverConnects();
    void longDelayIsSplit();
    void refusesMalformedRequests();
    void destructionOfAnUnstartedEngine();
};

void TestEngineBase::alignLength_data()
{
    QTest::addColumn<quint64>("address");
    QTest::addColumn<quint64>("length");
    QTest::addColumn<quint64>("alignedAddress");
    QTest::addColumn<quint64>("alignedLength");
    QTest::newRow("aligned") << quint64(8) << quint64(16) << quint64(8) << quint64(16);
    QTest::newRow("empty") << quint64(0) << quint64(0) << quint64(0) << quint64(0);
    QTest::newRow("length up") << quint64(8) << quint64(5) << quint64(8) << quint64(8);
    QTest::newRow("address down") << quint64(5) << quint64(4) << quint64(4) << quint64(8);
    // Bytes 7 and 8: the aligned range must still hold byte 8.
    QTest::newRow("two across") << quint64(7) << quint64(2) << quint64(4) << quint64(8);
    QTest::newRow("one at 3") << quint64(3) << quint64(1) << quint64(0) << quint64(4);
    QTest::newRow("large") << quint64(0x100000001) << quint64(0x10) << quint64(0x100000000)
                           << quint64(0x14);
}

void TestEngineBase::alignLength()
{
    QFETCH(quint64, address);
    QFETCH(quint64, length);
    QFETCH(quint64, alignedAddress);
    QFETCH(quint64, alignedLength);
    UsbDriverTable table;
    TestEngine engine(table);
    const quint64 end = address + length;
    engine.alignLength(address, length);
    QCOMPARE(address, alignedAddress);
    QCOMPARE(length, alignedLength);
    QCOMPARE(address % 4, 0u);
    QCOMPARE(length % 4, 0u);
    QVERIFY(address + length >= end);
}

void TestEngineBase::readLE()
{
    UsbDriverTable table;
    TestEngine engine(table);
    const quint8 bytes[4] = {0x78, 0x56, 0x34, 0x12};
    QCOMPARE(engine.readLE(bytes, 1), 0x78u);
    QCOMPARE(engine.readLE(bytes, 2), 0x5678u);
    QCOMPARE(engine.readLE(bytes, 3), 0x345678u);
    QCOMPARE(engine.readLE(bytes, 4), 0x12345678u);
    QCOMPARE(engine.readLE(bytes, 0), 0x12345678u);
    QCOMPARE(engine.readLE(bytes, 7), 0x12345678u);
}

void TestEngineBase::messageData()
{
    EngineMessage message(16, 6, 'A');
    QCOMPARE(message.tag(), 16);
    QCOMPARE(message.size(), 6u);
    QCOMPARE(message.kind(), quint8('A'));
    QVERIFY(message.hasData());
    QCOMPARE(message.bytes(), QByteArray(6, '\0'));
    const quint8 bytes[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    std::copy(bytes, bytes + 6, message.data());
    QCOMPARE(message.readLE(0, 4), 0x04030201u);
    QCOMPARE(message.readLE(4, 2), 0x0605u);
    // Past the end counts as 0; nothing outside the data is read.
    QCOMPARE(message.readLE(4, 4), 0x0605u);
    QCOMPARE(message.readLE(100, 4), 0u);
    QCOMPARE(message.byteAt(5), quint8(6));
    QCOMPARE(message.byteAt(6), quint8(0));
}

void TestEngineBase::messageDescriptorHasNoData()
{
    EngineMessage descriptor(3, 4096, 'D', false);
    QVERIFY(!descriptor.hasData());
    QCOMPARE(descriptor.data(), nullptr);
    QCOMPARE(descriptor.size(), 4096u);
    QCOMPARE(descriptor.bytes(), QByteArray());
    QCOMPARE(descriptor.readLE(0, 4), 0u);
}

void TestEngineBase::defaultsOfANewEngine()
{
    UsbDriverTable table;
    TestEngine engine(table);
    QCOMPARE(engine.capabilities(), 0xCFu);
    QCOMPARE(engine.pipeBase(), 2);
    QCOMPARE(engine.chunkSize(), 8192u);
    QVERIFY(!engine.isConnected());
    QCOMPARE(engine.linkPacketSize(), 0);
    QCOMPARE(engine.toolWidget(), nullptr);
    QCOMPARE(engine.firmwareRecords(), firmwareImage(NandImage1).records);
    QCOMPARE(engine.extraQuery(), 0);
    QCOMPARE(engine.detectChip(), 0x81);
    QCOMPARE(engine.hook3(), 0);
    QVERIFY(engine.tryLockBuffer());
    QVERIFY(engine.memoryNode(0));
    QCOMPARE(engine.memoryNode(0)->name(), QStringLiteral("Test"));
    QCOMPARE(engine.memoryNode(1), nullptr);
    engine.setChunkSize(0);
    QCOMPARE(engine.chunkSize(), 8192u);
    engine.setCapabilities(0xC9);
    QCOMPARE(engine.capabilities(), 0xC9u);
}

void TestEngineBase::unboundTableNeverConnects()
{
    UsbDriverTable table; // nothing bound: open answers 0
    TestEngine engine(table);
    int changes = 0;
    QObject::connect(&engine, &ChipEngine::connectionChanged, &engine, [&] { ++changes; });
    engine.start();
    QVERIFY(QTest::qWaitFor([&] { return engine.connectAttempts() >= 1; }, 2000));
    engine.queryIdentification(); // wakes the worker: one more attempt
    QVERIFY(QTest::qWaitFor([&] { return engine.connectAttempts() >= 2; }, 2000));
    QTest::qWait(20);
    QCOMPARE(changes, 0);
    QVERIFY(!engine.isConnected());
    QCOMPARE(engine.queuedRequests(), 1);
}

void TestEngineBase::longDelayIsSplit()
{
    UsbDriverTable table;
    TestEngine engine(table);
    engine.enqueueDelay(70000); // 65535 + 4465
    QCOMPARE(engine.queuedRequests(), 2);
    engine.enqueueDelay(0);
    QCOMPARE(engine.queuedRequests(), 3);
    engine.clearQueue();
    QCOMPARE(engine.queuedRequests(), 0);
}

void TestEngineBase::refusesMalformedRequests()
{
    UsbDriverTable table;
    TestEngine engine(table);
    quint8 bytes[EngineRequest::MaxBytes + 1] = {0x41};
    QVERIFY(!engine.enqueue(nullptr, 2, -1, 0, 0));
    QVERIFY(!engine.enqueue(bytes, 0, -1, 0, 0));
    QVERIFY(!engine.enqueue(bytes, -1, -1, 0, 0));
    QVERIFY(!engine.enqueue(bytes, EngineRequest::MaxBytes + 1, -1, 0, 0));
    QCOMPARE(engine.queuedRequests(), 0);
    QVERIFY(!engine.enqueueWithData(bytes, 0, -1, 0, 0,
                                    std::make_unique<EngineMessage>(0, 16, 'D', false)));
    QCOMPARE(engine.outgoingCount(), 0);
    QVERIFY(engine.enqueue(bytes, EngineRequest::MaxBytes, -1, 0, 0));
    QCOMPARE(engine.queuedRequests(), 1);
    QVERIFY(engine.enqueueData(3, 64));
    QCOMPARE(engine.queuedRequests(), 2);
    QCOMPARE(engine.outgoingCount(), 1);
}

// The queue, the outgoing list, the nodes and the tool widget go with the
// engine (the sanitizer build sees any leak).
void TestEngineBase::destructionOfAnUnstartedEngine()
{
    UsbDriverTable table;
    auto engine = std::make_unique<TestEngine>(table);
    auto *widget = new QObject;
    QPointer<QObject> watch(widget);
    engine->setToolWidget(widget);
    QCOMPARE(engine->toolWidget(), widget);
    QVERIFY(engine->enqueueData(0, 10));
    engine->queryIdentification();
    engine.reset();
    QVERIFY(watch.isNull());
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestEngineBase)
#include "tst_engine_base.moc"
