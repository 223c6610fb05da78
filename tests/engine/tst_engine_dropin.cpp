#include "AnswerDispatcher.h"
#include "AnswerHost.h"
#include "DropInEmulator.h"
#include "EngineSession.h"
#include "HangGuard.h"
#include "ProgramObjects.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

// The engine as the program runs it, over the drop-in emulator library: the
// emulator's libkvemu.so copied into a "dll" folder as libkvusb.so and bound
// through the program's driver table. The emulated firmware answers the
// commands with emulated chips; what reached the programmer is read back
// from its command log (KVEMU_LOG names the file, see CMakeLists.txt). The
// library stays loaded for the whole process; each test function gives it
// a profile of its own.
namespace {

// A W25Q64 in the socket, SPI image 0 already running, an SPI programmer
// unit; `programmer` adds lines to the [programmer] section.
std::string spiRunning(const std::string &programmer = {})
{
    return "[programmer]\nfirmware = SPI image 0\nidentification = 0x4B560200\n" + programmer +
           "[faults]\nreplug_ms = 7000\n"
           "[chip]\nfamily = spi\nid = EF 40 17\nsize = 8M\n";
}

// A 64-block NAND; the part is bare unless `programmer` says otherwise.
std::string nand(const std::string &programmer = {})
{
    return "[programmer]\n" + programmer +
           "[chip]\nfamily = nand\nid = EC F1 00 95 40\nblocks = 64\n";
}

const std::string NandRunning = "firmware = NAND image 1\n";

// SPI read (0x27): opcode 03h, 3 address bytes, `count` bytes, one line.
QByteArray spiRead(quint32 address, quint32 count)
{
    QByteArray p(20, '\0');
    p[0] = char(0x27);
    p[1] = char(0x03);
    p[2] = 3;
    p[3] = char(address >> 16);
    p[4] = char(address >> 8);
    p[5] = char(address);
    for (int i = 0; i < 4; ++i)
        p[7 + i] = char(count >> (8 * i));
    return p;
}

// SPI program (0x1C): opcode 02h, 3 address bytes, `pages` 256-byte pages,
// each polled with 05h until bit 0 reads 0.
QByteArray spiProgram(quint32 address, quint8 pages)
{
    QByteArray p(20, '\0');
    p[0] = char(0x1C);
    p[1] = char(0x02);
    p[2] = 3;
    p[3] = char(address >> 16);
    p[4] = char(address >> 8);
    p[5] = char(address);
    p[10] = char(pages);
    p[11] = 1;
    p[16] = char(0x05);
    p[17] = char(0x01);
    p[18] = 0;
    return p;
}

const quint8 *bytes(const QByteArray &packet)
{
    return reinterpret_cast<const quint8 *>(packet.constData());
}

QString hexLine(const QByteArray &packet)
{
    return QString::fromLatin1(packet.toHex(' '));
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

// The main window's side of the answer dispatch, written down in order.
class RecordingHost : public AnswerHost
{
public:
    void appendLog(const QString &line) override { events << QStringLiteral("log ") + line; }
    qint64 operationElapsedMs() const override { return 1500; }
    void jobEnded(int job) override { events << QStringLiteral("ended %1").arg(job); }
    void jobFailed(int job) override { events << QStringLiteral("failed %1").arg(job); }
    void programmerReady() override { events << QStringLiteral("ready"); }
    void showDisconnected() override { events << QStringLiteral("disconnected"); }
    void showWarning(const QString &title, const QString &text) override
    {
        events << QStringLiteral("warning ") + title + QStringLiteral(" | ") + text;
    }
    void adapterFailed() override { events << QStringLiteral("adapter failed"); }
    void adapterIncompatible() override { events << QStringLiteral("adapter incompatible"); }

    QStringList events;
};

// A session whose answers go through the dispatch, and which asks for the
// programmer's identification on every connection, as the main window does.
struct DispatchedSession
{
    DispatchedSession(UsbDriverTable &table, FirmwareImageId image)
        : session(std::make_unique<TestEngine>(table, image)), dispatcher(host)
    {
        TestEngine *engine = session.engine.get();
        dispatcher.setEngine(engine);
        QObject::disconnect(engine, &ChipEngine::dataReady, &session.context, nullptr);
        QObject::connect(engine, &ChipEngine::dataReady, &dispatcher, &AnswerDispatcher::dispatch);
        QObject::connect(engine, &ChipEngine::connectionChanged, &dispatcher, [engine](bool up) {
            if (up)
                engine->queryIdentification();
        });
    }

    RecordingHost host;
    EngineSession session;
    AnswerDispatcher dispatcher;
};

} // namespace

class TestEngineDropIn : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void connectsWithoutDownloadWhenFirmwareRuns();
    void connectsAfterDownloadingItsImage();
    void programAndReadBackInChunks();
    void delayAndMarkersNeverReachTheProgrammer();
    void unplugDuringLongAnswerDropsQueueAndReconnects();
    void workerWaitsForTheGuiToTakeItsAnswers();
    void destructionFinishesTheRunningRequest();
    void wrongBoardSwitchesImageThenAdapterIsChecked();
    void adapterOfTheOtherKindOpensTheDeviceDialog();
    void missingAdapterReconnects();
    void adapterFailureEndsTheApplication();
    void operationEndLogsProgramTime();

private:
    QString log() const;
    int count(const QString &line) const;
    bool configure(const std::string &profile);

    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
    QTemporaryDir m_dir;
    UsbDriverTable m_table;
    DropInEmulator m_emulator;
};

QString TestEngineDropIn::log() const
{
    return m_emulator.commandLog();
}

int TestEngineDropIn::count(const QString &line) const
{
    return int(log().split('\n').count(line));
}

bool TestEngineDropIn::configure(const std::string &profile)
{
    return m_emulator.configure(profile);
}

void TestEngineDropIn::initTestCase()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
    const QString logFile = qEnvironmentVariable("KVEMU_LOG");
    QVERIFY(!logFile.isEmpty());
    QVERIFY(QDir().mkpath(QFileInfo(logFile).path()));
    QFile::remove(logFile);
    // The program's layout: <folder>/dll/libkvusb.so.
    QVERIFY(QDir(m_dir.path()).mkpath("dll"));
    const QString copy = m_dir.filePath("dll/libkvusb.so");
    QVERIFY(QFile::copy(QStringLiteral(KVEMU_LIBRARY), copy));
    m_table.bind(m_dir.filePath("dll/kvusb"));
    QVERIFY(m_table.isResolved());
    QVERIFY(m_emulator.load(copy));
}

void TestEngineDropIn::init()
{
    // The program's pause after a download is the transport's; the engine's
    // own waits (200 ms per try, 900 ms once back) stay as they are.
    m_emulator.setDownloadPause(0);
}

void TestEngineDropIn::connectsWithoutDownloadWhenFirmwareRuns()
{
    QVERIFY(configure(nand(NandRunning)));
    EngineSession s(std::make_unique<TestEngine>(m_table, NandImage1));
    QVERIFY(s.startConnected());
    QTest::qWait(50);
    QCOMPARE(s.changes, QList<bool>{true});
    QCOMPARE(s.engine->connectAttempts(), 1);
    QCOMPARE(s.engine->linkPacketSize(), 512);
    QVERIFY(!log().contains(QStringLiteral("DOWNLOAD")));

    s.engine->queryIdentification();
    QVERIFY(s.waitForMessages(1));
    QCOMPARE(log(), QStringLiteral("CMD 18 00 02 00 0a 00 00 00 00\n"));
    QCOMPARE(s.received[0].kind, quint8('I'));
    QCOMPARE(s.received[0].data, QByteArray::fromHex("0001564bdd400617"));
}

void TestEngineDropIn::connectsAfterDownloadingItsImage()
{
    QVERIFY(configure(nand()));
    m_emulator.setDownloadPause(1800); // as the real transport pauses
    EngineSession s(std::make_unique<TestEngine>(m_table, NandImage1));
    QVERIFY(s.startConnected(15000));
    QCOMPARE(s.changes, QList<bool>{true});
    QCOMPARE(log(), QStringLiteral("DOWNLOAD NAND image 1\n"));
    QCOMPARE(s.engine->linkPacketSize(), 512);

    s.engine->queryIdentification();
    QVERIFY(s.waitForMessages(1));
    QCOMPARE(s.received[0].data, QByteArray::fromHex("0001564bdd400617"));
}

// Program 80 pages from the engine's memory node through the outgoing list,
// then read them back: 20000 bytes at tag 0 on the high-speed link arrive as
// 8192, 8192 and 3616 bytes tagged 0, 16, 32; 1000 bytes as 512 and 488.
void TestEngineDropIn::programAndReadBackInChunks()
{
    QVERIFY(configure(spiRunning()));
    EngineSession s(std::make_unique<TestEngine>(m_table, SpiImage0));
    QVERIFY(s.startConnected());

    const QByteArray program = spiProgram(0, 80);
    QVERIFY(s.engine->enqueueData(bytes(program), 20, 0, 80 * 256));
    const QByteArray read = spiRead(0, 20000);
    QVERIFY(s.engine->enqueue(bytes(read), 20, 0, 'A', 20000));
    QVERIFY(s.waitForMessages(3));
    QCOMPARE(sizes(s.received), (QList<uint>{8192, 8192, 3616}));
    QCOMPARE(tags(s.received), (QList<int>{0, 16, 32}));
    const QByteArray data = s.received[0].data + s.received[1].data + s.received[2].data;
    QCOMPARE(data, TestEngine::nodeBytes(0, 20000));
    QTRY_COMPARE(s.progress.size(), 1);
    QCOMPARE(s.progress.first(), qMakePair(0u, 20480u));

    QCOMPARE(m_emulator.readChip(0, 0, 20480), TestEngine::nodeBytes(0, 20480));

    s.received.clear();
    const QByteArray mid = spiRead(0x1000, 1000);
    QVERIFY(s.engine->enqueue(bytes(mid), 20, 5, 'A', 1000));
    QVERIFY(s.waitForMessages(2));
    QCOMPARE(sizes(s.received), (QList<uint>{512, 488}));
    QCOMPARE(tags(s.received), (QList<int>{5, 6}));
    QCOMPARE(s.received[0].data + s.received[1].data, TestEngine::nodeBytes(16, 1000));

    QCOMPARE(log().split('\n', Qt::SkipEmptyParts),
             (QStringList{"CMD " + hexLine(program), "DATA 8192", "DATA 8192", "DATA 4096",
                          "CMD " + hexLine(read), "CMD " + hexLine(mid)}));
    QCOMPARE(s.engine->outgoingCount(), 0);
}

void TestEngineDropIn::delayAndMarkersNeverReachTheProgrammer()
{
    QVERIFY(configure(spiRunning()));
    EngineSession s(std::make_unique<TestEngine>(m_table, SpiImage0));
    QVERIFY(s.startConnected());

    s.engine->queryIdentification();
    const quint8 delay[10] = {0x2E, 0x01, 0xF4}; // 500 ms, big-endian
    QVERIFY(s.engine->enqueue(delay, 10, -1, 0, 0));
    s.engine->enqueueMarker(7, 'M', 2);
    s.engine->queryIdentification();
    s.engine->enqueueMarker(8, 'N');
    QVERIFY(s.waitForMessages(4));

    QList<quint8> kinds;
    for (const Received &r : s.received)
        kinds.append(r.kind);
    QCOMPARE(kinds, (QList<quint8>{'I', 'M', 'I', 'N'}));
    QCOMPARE(tags(s.received), (QList<int>{-1, 7, -1, 8}));
    QCOMPARE(s.received[1].data, QByteArray(2, '\0'));
    QCOMPARE(s.received[2].data, QByteArray::fromHex("0002564bdd400617"));
    QCOMPARE(log(), QStringLiteral("CMD 18 00 02 00 0a 00 00 00 00\n"
                                   "CMD 18 00 02 00 0a 00 00 00 00\n"));
    const std::vector<TestEngine::Sent> sent = s.engine->sent();
    QCOMPARE(sent.size(), std::size_t(2));
    QVERIFY(sent[1].at - sent[0].at >= std::chrono::milliseconds(500));
}

// The worker stops reading once 8 MiB of answers wait for the GUI thread,
// goes on as they are taken, and does not hold up the engine's end.
void TestEngineDropIn::workerWaitsForTheGuiToTakeItsAnswers()
{
    QVERIFY(configure(spiRunning()));
    EngineSession s(std::make_unique<TestEngine>(m_table, SpiImage0));
    QVERIFY(s.startConnected());
    constexpr quint32 Whole = 8u << 20;
    constexpr quint32 Part = 4u << 20;
    const auto queueReads = [&] {
        const QByteArray whole = spiRead(0, Whole);
        const QByteArray part = spiRead(0, Part);
        return s.engine->enqueue(bytes(whole), 20, 0, 'A', Whole) &&
               s.engine->enqueue(bytes(part), 20, 0, 'B', Part);
    };
    QVERIFY(queueReads());
    // No events are processed here, so the GUI takes nothing.
    const auto settle = [&] {
        for (int i = 0; i < 500 && s.engine->pendingAnswerBytes() < ChipEngine::InboxLimit; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    };
    settle();
    QVERIFY(s.engine->pendingAnswerBytes() >= ChipEngine::InboxLimit);
    QVERIFY(s.engine->pendingAnswerBytes() <= ChipEngine::InboxLimit + s.engine->chunkSize());

    QVERIFY(s.waitForMessages((Whole + Part) / s.engine->chunkSize()));
    quint64 total = 0;
    for (const Received &r : s.received)
        total += r.size;
    QCOMPARE(total, quint64(Whole + Part));
    QCOMPARE(s.received.back().kind, quint8('B'));

    // Gone while the worker waits for the GUI: the engine still ends.
    QVERIFY(queueReads());
    settle();
    HangGuard guard([] { qFatal("the engine did not end while its worker waited"); });
    s.end();
    QVERIFY(guard.finish());
}

void TestEngineDropIn::unplugDuringLongAnswerDropsQueueAndReconnects()
{
    QVERIFY(configure(spiRunning()));
    EngineSession s(std::make_unique<TestEngine>(m_table, SpiImage0));
    QVERIFY(s.startConnected());

    // The device goes once the command and two chunks have moved.
    QVERIFY(m_emulator.inject("unplug_after_bytes", 20 + 2 * 8192));
    const QByteArray read = spiRead(0, 65536);
    QVERIFY(s.engine->enqueue(bytes(read), 20, 0, 'A', 65536));
    s.engine->queryIdentification();
    const QByteArray program = spiProgram(0x10000, 4);
    QVERIFY(s.engine->enqueueData(bytes(program), 20, 0, 1024));
    QVERIFY(QTest::qWaitFor([&] { return s.disconnects > 0; }, 10000));
    QCOMPARE(s.engine->queuedRequests(), 0);
    QCOMPARE(s.engine->outgoingCount(), 0);
    QVERIFY(!s.engine->isConnected());
    // The chunk the unplug cut short is reported empty, once.
    QCOMPARE(sizes(s.received), (QList<uint>{8192, 8192, 0}));
    QCOMPARE(tags(s.received), (QList<int>{0, 16, 32}));
    QVERIFY(log().startsWith("CMD " + hexLine(read) + "\nUNPLUG "));
    QCOMPARE(log().count(QStringLiteral("CMD ")), 1);

    // Away for 7 s: attempts at once and on every 3 s tick, without reports;
    // then back bare, downloaded again, connected.
    const int attempts = s.engine->connectAttempts();
    QVERIFY(QTest::qWaitFor([&] { return s.connects == 2; }, 20000));
    QVERIFY(s.engine->connectAttempts() >= attempts + 2);
    QCOMPARE(s.changes, (QList<bool>{true, false, true}));
    QVERIFY(log().endsWith(QStringLiteral("DOWNLOAD SPI image 0\n")));

    s.received.clear();
    s.engine->queryIdentification();
    QVERIFY(s.waitForMessages(1));
    QCOMPARE(s.received[0].data, QByteArray::fromHex("0002564bdd400617"));
}

// Deleting the engine while it reads a long answer waits for the rest of it,
// so the next engine finds the programmer with nothing pending.
void TestEngineDropIn::destructionFinishesTheRunningRequest()
{
    QVERIFY(configure(spiRunning("timing = realistic\n")));
    {
        EngineSession s(std::make_unique<TestEngine>(m_table, SpiImage0));
        QVERIFY(s.startConnected());
        const QByteArray read = spiRead(0, 2 * 1024 * 1024);
        QVERIFY(s.engine->enqueue(bytes(read), 20, 0, 'A', 2 * 1024 * 1024));
        s.engine->queryIdentification();
        QVERIFY(s.waitForMessages(1));
        s.end();
        QVERIFY(s.received.size() < 256); // most of it went with the engine
    }
    m_emulator.clearLog();
    EngineSession next(std::make_unique<TestEngine>(m_table, SpiImage0));
    QVERIFY(next.startConnected());
    next.engine->queryIdentification();
    QVERIFY(next.waitForMessages(1));
    QCOMPARE(next.received[0].data, QByteArray::fromHex("0002564bdd400617"));
    QCOMPARE(log(), QStringLiteral("CMD 18 00 02 00 0a 00 00 00 00\n"));
}

// Board 2 does not run NAND image 1: the identification says so, the engine
// switches image and reconnects; image 2 is accepted and the adapter checked.
void TestEngineDropIn::wrongBoardSwitchesImageThenAdapterIsChecked()
{
    QVERIFY(configure(nand("board = 2\n")));
    DispatchedSession d(m_table, NandImage1);
    d.session.engine->start();
    QVERIFY(QTest::qWaitFor([&] { return !d.session.engine->adapterChecks().isEmpty(); }, 20000));
    QTRY_VERIFY(log().contains(QStringLiteral("CMD 10")));
    QTest::qWait(100);
    QCOMPARE(d.session.engine->toggles(), 1);
    QCOMPARE(d.session.engine->adapterChecks(), QList<int>{AnswerDispatcher::NandProgrammer});
    QCOMPARE(d.session.changes, (QList<bool>{true, true}));
    // The second image's adapter check passes: the programmer is ready.
    QTRY_COMPARE(d.host.events, (QStringList{"disconnected", "ready"}));
    QCOMPARE(log().split('\n', Qt::SkipEmptyParts),
             (QStringList{"DOWNLOAD NAND image 1", "CMD 18 00 02 00 0a 00 00 00 00",
                          "DOWNLOAD NAND image 2", "CMD 18 00 02 00 0a 00 00 00 00",
                          "CMD 10 00 00 01 00 00 00 00 00 00"}));
}

void TestEngineDropIn::adapterOfTheOtherKindOpensTheDeviceDialog()
{
    QVERIFY(configure(nand(NandRunning + "adapter = spi\n")));
    DispatchedSession d(m_table, NandImage1);
    d.session.engine->start();
    QVERIFY(QTest::qWaitFor([&] { return !d.host.events.isEmpty(); }, 5000));
    QCOMPARE(d.host.events, QStringList{"adapter incompatible"});
    QVERIFY(d.session.engine->isConnected());
}

void TestEngineDropIn::missingAdapterReconnects()
{
    QVERIFY(configure(nand(NandRunning + "adapter = none\n")));
    DispatchedSession d(m_table, NandImage1);
    d.session.engine->start();
    QVERIFY(QTest::qWaitFor([&] { return d.session.connects == 2; }, 15000));
    QCOMPARE(d.host.events.first(), QStringLiteral("disconnected"));
    QVERIFY(log().contains(QStringLiteral("DOWNLOAD NAND image 1\n")));
    QCOMPARE(d.session.disconnects, 0);
}

void TestEngineDropIn::adapterFailureEndsTheApplication()
{
    QVERIFY(configure(nand(NandRunning + "identification = 0\n")));
    DispatchedSession d(m_table, NandImage1);
    d.session.engine->start();
    QVERIFY(QTest::qWaitFor([&] { return d.host.events.size() >= 3; }, 5000));
    QCOMPARE(d.host.events,
             (QStringList{"disconnected", "warning Error | Adapter error", "adapter failed"}));
    QVERIFY(d.session.engine->adapterChecks().isEmpty());
}

void TestEngineDropIn::operationEndLogsProgramTime()
{
    QVERIFY(configure(nand(NandRunning)));
    DispatchedSession d(m_table, NandImage1);
    d.session.engine->start();
    QVERIFY(QTest::qWaitFor([&] { return !d.session.engine->adapterChecks().isEmpty(); }, 5000));
    // End of programming: answered 'D' and the count of failed pages.
    const quint8 end[1] = {0x32};
    QVERIFY(d.session.engine->enqueue(end, 1, -1, 'D', 2));
    // "ready" may reach the host before or after the answer is sent.
    QVERIFY(QTest::qWaitFor([&] { return d.host.events.size() >= 3; }, 5000));
    QCOMPARE(d.host.events, (QStringList{"ready", "log Program time 00:00:01 (.500)",
                                         QStringLiteral("ended %1").arg(int('D'))}));
    QVERIFY(log().contains(QStringLiteral("CMD 32\n")));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestEngineDropIn)
#include "tst_engine_dropin.moc"
