#include "EngineRig.h"
#include "HangGuard.h"
#include "TestHome.h"

#include <QTest>

#include <chrono>
#include <thread>

using namespace kvemu;

namespace {

// Test commands: 0x40 is answered with as many pattern bytes as its bytes
// 1-4 ask for; 0x41 gets no answer.
constexpr quint8 ReadCode = 0x40;
constexpr quint8 PlainCode = 0x41;

std::uint32_t le32(const ScriptedFirmware::Bytes &packet, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && at + i < packet.size(); ++i)
        value |= std::uint32_t(packet[at + i]) << (8 * i);
    return value;
}

void answerReads(ScriptedFirmware &firmware)
{
    firmware.setAnswer(ReadCode, [](const ScriptedFirmware::Bytes &packet, const std::string &) {
        return pattern(le32(packet, 1));
    });
    firmware.setData(TestEngine::DataCode,
                     [](const ScriptedFirmware::Bytes &packet) { return le32(packet, 1); });
}

bool enqueueRead(ChipEngine &engine, int tag, uint length, quint8 kind = 'A')
{
    const quint8 bytes[5] = {ReadCode, quint8(length), quint8(length >> 8), quint8(length >> 16),
                             quint8(length >> 24)};
    return engine.enqueue(bytes, 5, tag, kind, length);
}

bool enqueuePlain(ChipEngine &engine, quint8 parameter)
{
    const quint8 bytes[2] = {PlainCode, parameter};
    return engine.enqueue(bytes, 2, -1, 0, 0);
}

// Connects; then the worker waits in the answer of a first read (16 bytes)
// while two data commands (tags 1 and 2, 100 and 200 bytes) queue behind it.
bool queueDataBehindAHeldAnswer(EngineRig &rig)
{
    answerReads(*rig.firmware);
    if (!rig.startConnected())
        return false;
    rig.firmware->holdAfter(0);
    return enqueueRead(*rig.engine, 0, 16) &&
           QTest::qWaitFor([&] { return rig.firmware->commands().size() == 1; }, 5000) &&
           rig.engine->enqueueData(1, 100) && rig.engine->enqueueData(2, 200);
}

// The data bytes the firmware received after data commands.
QByteArray receivedData(const ScriptedFirmware &firmware)
{
    const ScriptedFirmware::Bytes data = firmware.data();
    return QByteArray(reinterpret_cast<const char *>(data.data()), qsizetype(data.size()));
}

QString readCommand(uint length)
{
    return QString::fromStdString(
        ScriptedFirmware::hex({ReadCode, std::uint8_t(length), std::uint8_t(length >> 8),
                               std::uint8_t(length >> 16), std::uint8_t(length >> 24)}));
}

bool hasDownload(const EzUsbDevice &model)
{
    for (const ControlRecord &record : model.controlLog())
        if (record.setup.request == 0xA0 && !record.setup.isIn())
            return true;
    return false;
}

QList<int> tags(const std::vector<Received> &received)
{
    QList<int> out;
    for (const Received &r : received)
        out.append(r.tag);
    return out;
}

QList<uint> sizes(const std::vector<Received> &received)
{
    QList<uint> out;
    for (const Received &r : received)
        out.append(r.size);
    return out;
}

QList<int> endpoints(const std::vector<ScriptedFirmware::Read> &reads)
{
    QList<int> out;
    for (const ScriptedFirmware::Read &r : reads)
        out.append(r.endpoint);
    return out;
}

QStringList lines(const std::vector<std::string> &list)
{
    QStringList out;
    for (const std::string &line : list)
        out.append(QString::fromStdString(line));
    return out;
}

} // namespace

class TestChipEngine : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void connectsAfterDownloadingItsImage();
    void identificationQueryReadsTheShortAnswerPipe();
    void longAnswerInChunksWithPacketTags();
    void midSizedAnswerInSmallChunks();
    void fullSpeedTagsCountSmallerPackets();
    void shortAnswerPipeDependsOnTagAndLength();
    void failedChunkReadIsDroppedAndTheRestRead();
    void pipeBaseOneReadsEveryAnswerFromIt();
    void baseCommands();
    void dataCommandsStreamTheirDescriptors();
    void clearQueueDropsDescriptorsOfDroppedCommands();
    void guiNeverWaitsForADataSend_data();
    void guiNeverWaitsForADataSend();
    void unplugDuringLongAnswerDropsQueueAndReconnects();
    void forceReconnectDownloadsAgain();
    void destructionWaitsForTheRunningRequest();
    void staysDisconnectedWithoutProgrammer();
};

void TestChipEngine::init()
{
    QVERIFY2(UmockdevProgrammer::preloadActive(), "run with the umockdev preload (ctest does)");
}

void TestChipEngine::connectsAfterDownloadingItsImage()
{
    EngineRig rig(UsbConfig{}, NandImage2);
    rig.programmer.model().clearControlLog();
    const std::uint32_t enumerations = rig.programmer.enumerationCount();

    QVERIFY(rig.startConnected(30000));
    QCOMPARE(rig.connects, 1);
    QCOMPARE(rig.disconnects, 0);
    QVERIFY(hasDownload(rig.programmer.model()));
    QVERIFY(rig.programmer.enumerationCount() > enumerations);
    QCOMPARE(rig.firmware->image(), std::string("NAND image 2"));
    QCOMPARE(rig.engine->linkPacketSize(), 512);

    // The link works after the programmer came back.
    answerReads(*rig.firmware);
    QVERIFY(enqueueRead(*rig.engine, 0, 16));
    QVERIFY(rig.waitForMessages(1));
    QCOMPARE(rig.received[0].data, patternBytes(16));
}

void TestChipEngine::identificationQueryReadsTheShortAnswerPipe()
{
    EngineRig rig;
    const ScriptedFirmware::Bytes answer = {0x01, 0x02, 0x03, 0x4E, 0xDD, 0x40, 0x06, 0x17};
    rig.firmware->setAnswer(ChipEngine::IdentifyCode, answer);
    QVERIFY(rig.startConnected());

    rig.engine->queryIdentification();
    QVERIFY(rig.waitForMessages(1));
    QCOMPARE(lines(rig.firmware->commands()), (QStringList{"18 00 02 00 0a 00 00 00 00"}));
    QCOMPARE(rig.received.size(), std::size_t(1));
    QCOMPARE(rig.received[0].kind, quint8('I'));
    QCOMPARE(rig.received[0].tag, -1);
    QCOMPARE(rig.received[0].size, 8u);
    QCOMPARE(rig.received[0].data,
             QByteArray(reinterpret_cast<const char *>(answer.data()), qsizetype(answer.size())));
    QCOMPARE(endpoints(rig.firmware->reads()), QList<int>{0x86});
}

void TestChipEngine::longAnswerInChunksWithPacketTags()
{
    EngineRig rig;
    answerReads(*rig.firmware);
    QVERIFY(rig.startConnected());

    QVERIFY(enqueueRead(*rig.engine, 0, 20000));
    QVERIFY(rig.waitForMessages(3));
    QCOMPARE(sizes(rig.received), (QList<uint>{8192, 8192, 3616}));
    QCOMPARE(tags(rig.received), (QList<int>{0, 16, 32}));
    QByteArray all;
    for (const Received &r : rig.received) {
        QCOMPARE(r.kind, quint8('A'));
        all += r.data;
    }
    QCOMPARE(all, patternBytes(20000));
    QCOMPARE(endpoints(rig.firmware->reads()), (QList<int>{0x88, 0x88, 0x88}));
    QCOMPARE(lines(rig.firmware->commands()), (QStringList{readCommand(20000)}));
}

void TestChipEngine::midSizedAnswerInSmallChunks()
{
    EngineRig rig;
    answerReads(*rig.firmware);
    QVERIFY(rig.startConnected());

    QVERIFY(enqueueRead(*rig.engine, 5, 1000));
    QVERIFY(rig.waitForMessages(2));
    QCOMPARE(sizes(rig.received), (QList<uint>{512, 488}));
    QCOMPARE(tags(rig.received), (QList<int>{5, 6}));
    QCOMPARE(rig.received[0].data + rig.received[1].data, patternBytes(1000));

    // 256 bytes are read at once; a chunk size below the answer length
    // makes the engine's own chunk size apply.
    rig.received.clear();
    QVERIFY(enqueueRead(*rig.engine, 0, 256));
    QVERIFY(rig.waitForMessages(1));
    QCOMPARE(sizes(rig.received), QList<uint>{256});
    rig.received.clear();
    rig.engine->setChunkSize(600);
    QVERIFY(enqueueRead(*rig.engine, 0, 1000));
    QVERIFY(rig.waitForMessages(2));
    QCOMPARE(sizes(rig.received), (QList<uint>{600, 400}));
    QCOMPARE(tags(rig.received), (QList<int>{0, 1}));
}

void TestChipEngine::fullSpeedTagsCountSmallerPackets()
{
    EngineRig rig(runningConfig(LinkSpeed::Full));
    answerReads(*rig.firmware);
    QVERIFY(rig.startConnected());
    QCOMPARE(rig.engine->linkPacketSize(), 64);

    QVERIFY(enqueueRead(*rig.engine, 0, 20000));
    QVERIFY(rig.waitForMessages(3));
    QCOMPARE(sizes(rig.received), (QList<uint>{8192, 8192, 3616}));
    QCOMPARE(tags(rig.received), (QList<int>{0, 128, 256}));
    QCOMPARE(rig.received[0].data + rig.received[1].data + rig.received[2].data,
             patternBytes(20000));
}

void TestChipEngine::shortAnswerPipeDependsOnTagAndLength()
{
    EngineRig rig;
    answerReads(*rig.firmware);
    QVERIFY(rig.startConnected());

    QVERIFY(enqueueRead(*rig.engine, -1, 47));
    QVERIFY(enqueueRead(*rig.engine, -1, 48));
    QVERIFY(enqueueRead(*rig.engine, 0, 8));
    QVERIFY(rig.waitForMessages(3));
    QCOMPARE(endpoints(rig.firmware->reads()), (QList<int>{0x86, 0x88, 0x88}));
    QCOMPARE(sizes(rig.received), (QList<uint>{47, 48, 8}));
    QCOMPARE(rig.received[1].data, patternBytes(48));
}

void TestChipEngine::failedChunkReadIsDroppedAndTheRestRead()
{
    EngineRig rig;
    answerReads(*rig.firmware);
    QVERIFY(rig.startConnected());

    rig.firmware->answerEmptyAt(1); // the second chunk comes back empty
    QVERIFY(enqueueRead(*rig.engine, 0, 20000));
    QVERIFY(QTest::qWaitFor([&] { return rig.firmware->reads().size() == 3; }, 5000));
    QVERIFY(rig.waitForMessages(3));
    QTest::qWait(50);
    // The missing chunk is reported by an empty message with its tag.
    QCOMPARE(tags(rig.received), (QList<int>{0, 16, 32}));
    QCOMPARE(sizes(rig.received), (QList<uint>{8192, 0, 3616}));
    QCOMPARE(rig.received[0].data, patternBytes(8192));
    QCOMPARE(rig.received[2].data, patternBytes(3616, 8192));
    QVERIFY(rig.engine->isConnected());
    QCOMPARE(rig.disconnects, 0);
}

void TestChipEngine::pipeBaseOneReadsEveryAnswerFromIt()
{
    EngineRig rig;
    answerReads(*rig.firmware);
    QVERIFY(rig.startConnected());
    rig.engine->setPipeBase(1);
    // Pipe 1 carries data to the programmer: every chunk read from it
    // fails, the first is reported empty once, and the worker goes on with
    // the next request.
    const quint8 unanswered[1] = {0x42};
    QVERIFY(rig.engine->enqueue(unanswered, 1, 0, 'A', 20000));
    rig.engine->enqueueMarker(1, 'M');
    QVERIFY(rig.waitForMessages(2));
    QCOMPARE(rig.received[0].kind, quint8('A'));
    QCOMPARE(rig.received[0].data.size(), 0);
    QCOMPARE(rig.received[1].kind, quint8('M'));

    rig.engine->setPipeBase(2);
    QVERIFY(enqueueRead(*rig.engine, -1, 4, 'Z'));
    QVERIFY(rig.waitForMessages(3));
    QCOMPARE(rig.received.size(), std::size_t(3));
    QCOMPARE(rig.received[2].kind, quint8('Z'));
    QCOMPARE(rig.received[2].data, patternBytes(4));
    QVERIFY(rig.engine->isConnected());
    QCOMPARE(rig.disconnects, 0);
}

void TestChipEngine::baseCommands()
{
    EngineRig rig;
    QCOMPARE(rig.engine->capabilities(), 0xCFu);
    QCOMPARE(rig.engine->pipeBase(), 2);
    QCOMPARE(rig.engine->chunkSize(), 8192u);
    QVERIFY(!rig.engine->isConnected());
    rig.firmware->setAnswer(0x29, ScriptedFirmware::Bytes{0xEC, 0xD3, 0x51, 0x95});
    QVERIFY(rig.startConnected());

    QCOMPARE(rig.engine->sendCode1D(0x05), 129);
    rig.engine->sendOperationEnd(0);
    rig.engine->forwardChipIdentification(9);
    enqueuePlain(*rig.engine, 0x77);
    QVERIFY(QTest::qWaitFor([&] { return rig.firmware->commands().size() == 4; }, 5000));
    QCOMPARE(lines(rig.firmware->commands()),
             (QStringList{"1d 05", "33 00", "29 00 00 00 00 00 00 00 00 00", "41 77"}));
    // The worker records a request once its write has returned, which can
    // be after the firmware has taken the bytes.
    QVERIFY(QTest::qWaitFor([&] { return rig.engine->sent().size() == 4; }, 5000));
    const std::vector<TestEngine::Sent> sent = rig.engine->sent();
    QCOMPARE(sent[0].request.length, 2);
    QCOMPARE(sent[0].request.kind, quint8(0));
    QCOMPARE(sent[0].request.answerLength, 0u);
    QCOMPARE(sent[0].request.tag, -1);
    QCOMPARE(sent[2].request.tag, 9);
    QCOMPARE(sent[2].request.kind, quint8('H'));
    QVERIFY(rig.waitForMessages(1));
    QCOMPARE(rig.received[0].tag, 9);
    QCOMPARE(rig.received[0].data, QByteArray("\xEC\xD3\x51\x95"));
}

void TestChipEngine::dataCommandsStreamTheirDescriptors()
{
    EngineRig rig;
    answerReads(*rig.firmware);
    QVERIFY(rig.startConnected());

    QVERIFY(rig.engine->enqueueData(3, 5000));
    QVERIFY(enqueuePlain(*rig.engine, 9));
    QVERIFY(QTest::qWaitFor([&] { return rig.firmware->commands().size() == 2; }, 5000));
    QCOMPARE(lines(rig.firmware->log()),
             (QStringList{"CMD 1c 88 13 00 00", "DATA 5000", "CMD 41 09"}));
    const ScriptedFirmware::Bytes data = rig.firmware->data();
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(data.data()), qsizetype(data.size())),
             TestEngine::nodeBytes(3, 5000));
    QTRY_COMPARE(rig.progress.size(), 1);
    QCOMPARE(rig.progress.first(), qMakePair(3u, 5000u));
    QCOMPARE(rig.engine->outgoingCount(), 0);
}

void TestChipEngine::clearQueueDropsDescriptorsOfDroppedCommands()
{
    EngineRig rig;
    QVERIFY(queueDataBehindAHeldAnswer(rig));
    QCOMPARE(rig.engine->queuedRequests(), 2);
    QCOMPARE(rig.engine->outgoingCount(), 2);

    rig.engine->clearQueue(); // as the Stop action does
    QCOMPARE(rig.engine->queuedRequests(), 0);
    QCOMPARE(rig.engine->outgoingCount(), 0);
    rig.firmware->release();
    QVERIFY(rig.waitForMessages(1));

    // The next program command streams its own data, not a stale block.
    QVERIFY(rig.engine->enqueueData(7, 64));
    QVERIFY(QTest::qWaitFor([&] { return rig.firmware->log().size() == 3; }, 5000));
    QCOMPARE(lines(rig.firmware->log()),
             (QStringList{"CMD " + readCommand(16), "CMD 1c 40 00 00 00", "DATA 64"}));
    QCOMPARE(receivedData(*rig.firmware), TestEngine::nodeBytes(7, 64));
}

void TestChipEngine::guiNeverWaitsForADataSend_data()
{
    QTest::addColumn<bool>("clear");
    QTest::newRow("enqueue with data") << false;
    QTest::newRow("clear queue (Stop)") << true;
}

// While the worker sends a data block (a program command streaming a
// chip's worth, or a write that hangs), the GUI thread goes on queueing and
// can stop the operation.
void TestChipEngine::guiNeverWaitsForADataSend()
{
    QFETCH(bool, clear);
    EngineRig rig;
    // Two data commands queue behind a held answer; then the worker takes
    // the first one's block and stops in its send.
    QVERIFY(queueDataBehindAHeldAnswer(rig));
    rig.engine->holdDataSends();
    rig.firmware->release();
    QVERIFY(rig.engine->waitUntilSendHeld(10000));
    QCOMPARE(rig.engine->queuedRequests(), 1);
    QCOMPARE(rig.engine->outgoingCount(), 1);

    HangGuard guard([&rig] { rig.engine->releaseDataSends(); });
    if (clear)
        rig.engine->clearQueue();
    else
        QVERIFY(rig.engine->enqueueData(3, 300));
    QVERIFY2(guard.finish(), "the GUI thread waited for the worker's data send");

    QCOMPARE(rig.engine->queuedRequests(), clear ? 0 : 2);
    QCOMPARE(rig.engine->outgoingCount(), clear ? 0 : 2);
    rig.engine->releaseDataSends();
    // The block in the worker's hands is sent whole either way.
    const QStringList expected =
        clear ? QStringList{"CMD " + readCommand(16), "CMD 1c 64 00 00 00", "DATA 100"}
              : QStringList{"CMD " + readCommand(16),
                            "CMD 1c 64 00 00 00",
                            "DATA 100",
                            "CMD 1c c8 00 00 00",
                            "DATA 200",
                            "CMD 1c 2c 01 00 00",
                            "DATA 300"};
    QVERIFY(QTest::qWaitFor(
        [&] { return qsizetype(rig.firmware->log().size()) >= expected.size(); }, 5000));
    QTRY_COMPARE(rig.progress.size(), clear ? 1 : 3);
    QCOMPARE(lines(rig.firmware->log()), expected);
    QCOMPARE(receivedData(*rig.firmware), clear ? TestEngine::nodeBytes(1, 100)
                                                : TestEngine::nodeBytes(1, 100) +
                                                      TestEngine::nodeBytes(2, 200) +
                                                      TestEngine::nodeBytes(3, 300));
    QCOMPARE(rig.engine->outgoingCount(), 0);
}

void TestChipEngine::unplugDuringLongAnswerDropsQueueAndReconnects()
{
    EngineRig rig;
    answerReads(*rig.firmware);
    QVERIFY(rig.startConnected());

    rig.firmware->holdAfter(16384);
    QVERIFY(enqueueRead(*rig.engine, 0, 65536));
    QVERIFY(enqueuePlain(*rig.engine, 1));
    QVERIFY(rig.engine->enqueueData(5, 1000));
    QVERIFY(enqueuePlain(*rig.engine, 2));
    QVERIFY(rig.waitForMessages(2));
    QCOMPARE(rig.engine->queuedRequests(), 3);
    QCOMPARE(rig.engine->outgoingCount(), 1);
    const int attempts = rig.engine->connectAttempts();

    rig.programmer.unplug();
    QVERIFY(QTest::qWaitFor([&] { return rig.disconnects > 0; }, 10000));
    QCOMPARE(rig.engine->queuedRequests(), 0);
    QCOMPARE(rig.engine->outgoingCount(), 0);
    QVERIFY(!rig.engine->isConnected());
    // The chunks after the unplug are lost (the first of them reported
    // empty); nothing after the long read reached the programmer.
    QCOMPARE(rig.received.size(), std::size_t(3));
    QCOMPARE(rig.received[2].data.size(), 0);
    QCOMPARE(lines(rig.firmware->commands()), (QStringList{readCommand(65536)}));

    // Attempts follow at once and then on every tick of the 3 s timer,
    // without another report.
    QVERIFY(QTest::qWaitFor([&] { return rig.engine->connectAttempts() >= attempts + 3; }, 15000));
    QCOMPARE(rig.disconnects, 1);
    QCOMPARE(rig.connects, 1);

    rig.firmware->release();
    rig.programmer.model().clearControlLog();
    QVERIFY(rig.programmer.replug());
    QVERIFY(QTest::qWaitFor([&] { return rig.connects == 2; }, 30000));
    QVERIFY(hasDownload(rig.programmer.model()));
    QCOMPARE(rig.firmware->image(), std::string("NAND image 1"));
    QCOMPARE(rig.disconnects, 1);

    rig.received.clear();
    QVERIFY(enqueueRead(*rig.engine, 0, 100));
    QVERIFY(rig.waitForMessages(1));
    QCOMPARE(rig.received[0].data, patternBytes(100));
}

void TestChipEngine::forceReconnectDownloadsAgain()
{
    EngineRig rig;
    QVERIFY(rig.startConnected());
    rig.programmer.model().clearControlLog();
    const std::uint32_t enumerations = rig.programmer.enumerationCount();

    rig.engine->forceReconnect();
    QVERIFY(!rig.engine->isConnected());
    QVERIFY(QTest::qWaitFor([&] { return rig.connects == 2; }, 30000));
    QVERIFY(rig.engine->isConnected());
    QVERIFY(hasDownload(rig.programmer.model()));
    QVERIFY(rig.programmer.enumerationCount() > enumerations);
    QCOMPARE(rig.changes, (QList<bool>{true, true}));
}

void TestChipEngine::destructionWaitsForTheRunningRequest()
{
    EngineRig rig;
    answerReads(*rig.firmware);
    QVERIFY(rig.startConnected());

    rig.firmware->holdAfter(0);
    QVERIFY(enqueueRead(*rig.engine, 0, 1000));
    QVERIFY(enqueuePlain(*rig.engine, 1));
    QVERIFY(QTest::qWaitFor([&] { return rig.firmware->commands().size() == 1; }, 5000));

    std::thread releaser([&rig] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        rig.firmware->release();
    });
    rig.engine.reset();
    releaser.join();

    // The request in progress was read to its end; the queued one was not
    // sent. Its answer went with the engine: no receiver hears of it now.
    QCOMPARE(rig.firmware->servedBytes(), std::uint64_t(1000));
    QCOMPARE(lines(rig.firmware->commands()), (QStringList{readCommand(1000)}));
    QCoreApplication::sendPostedEvents();
    QVERIFY(rig.received.empty());
}

void TestChipEngine::staysDisconnectedWithoutProgrammer()
{
    EngineRig rig;
    rig.programmer.unplug();
    QVERIFY(rig.programmer.waitForState(DeviceState::Gone, 2000));
    rig.engine->start();
    QVERIFY(QTest::qWaitFor([&] { return rig.engine->connectAttempts() >= 2; }, 10000));
    QCOMPARE(rig.connects, 0);
    QCOMPARE(rig.disconnects, 0);
    QVERIFY(!rig.engine->isConnected());
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestChipEngine)
#include "tst_chip_engine.moc"
