#include "CFileMemoryNode.h"
#include "HangGuard.h"
#include "NodeTestSupport.h"
#include "TestHome.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The engine's worker and the GUI thread share each node. These tests run
// the two sides on two threads the way the program does: the worker appends,
// writes and reads while the GUI side paints through Read, claims the node
// with TryLock around an operation and replaces files when it is unclaimed.
namespace {

// A worker whose end the test sees through a join, so that ThreadSanitizer
// sees it too: QThread::wait() on a thread that has already finished
// synchronises only inside the (uninstrumented) Qt library.
class WorkerThread
{
public:
    explicit WorkerThread(std::function<void()> work)
        : m_thread([this, work = std::move(work)] {
              work();
              std::lock_guard lock(m_lock);
              m_finished = true;
              m_done.notify_all();
          })
    {}
    ~WorkerThread()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    // False when the work has not ended within `limitMs`.
    bool wait(int limitMs)
    {
        std::unique_lock lock(m_lock);
        if (!m_done.wait_for(lock, std::chrono::milliseconds(limitMs),
                             [this] { return m_finished; }))
            return false;
        lock.unlock();
        m_thread.join();
        return true;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

std::unique_ptr<WorkerThread> startThread(std::function<void()> work)
{
    return std::make_unique<WorkerThread>(std::move(work));
}

} // namespace

class TestMemoryNodeThreads : public QObject
{
    Q_OBJECT
private slots:
    void claimHeldByOneThreadRefusesTheOther();
    void claimedNodeStillStreams_data();
    void claimedNodeStillStreams();
    void readsWhileAppendingSeeTheImage();
    void residentReadsNeverSeeHalfAWrite();
    void replacingFilesUnderAReader();

private:
    QTemporaryDir m_dir;
};

void TestMemoryNodeThreads::claimHeldByOneThreadRefusesTheOther()
{
    const QString file = m_dir.filePath(QStringLiteral("shared.bin"));
    writeFile(file, pattern(512));
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 1 << 20);
    NodeRecorder recorder(node);
    QVERIFY(node.Load(file, false));

    QSemaphore locked;
    QSemaphore release;
    QAtomicInt workerGotClaim = 0;
    auto worker = startThread([&] {
        workerGotClaim = node.TryLock() ? 1 : 0;
        locked.release();
        release.acquire();
        if (workerGotClaim)
            node.Unlock();
    });
    locked.acquire();
    QCOMPARE(workerGotClaim.loadRelaxed(), 1);
    // The GUI side gives up while the worker holds the claim.
    QVERIFY(!node.TryLock());
    QVERIFY(!node.Load(file, true));
    QVERIFY(!node.CreateTempFile());
    QCOMPARE(node.backingFileName(), file);
    release.release();
    QVERIFY(worker->wait(60000));

    QVERIFY(node.TryLock());
    node.Unlock();
    QVERIFY(node.CreateTempFile());

    // And the other way round: the worker is refused while the GUI holds it.
    QVERIFY(node.TryLock());
    QAtomicInt workerRefused = 0;
    auto second = startThread([&] { workerRefused = node.TryLock() ? 0 : 1; });
    QVERIFY(second->wait(60000));
    node.Unlock();
    QCOMPARE(workerRefused.loadRelaxed(), 1);
}

void TestMemoryNodeThreads::claimedNodeStillStreams_data()
{
    QTest::addColumn<bool>("resident");
    QTest::newRow("resident") << true;
    QTest::newRow("file") << false;
}

// The GUI side claims the node around an operation; the worker streams
// through the node meanwhile and never waits for the claim.
void TestMemoryNodeThreads::claimedNodeStillStreams()
{
    QFETCH(bool, resident);
    const QByteArray image = pattern(4096);
    const std::unique_ptr<CMemoryNode> node = nodeHolding(image, resident);
    QVERIFY(node);
    NodeRecorder recorder(*node);

    QVERIFY(node->TryLock());
    QByteArray seen(4096, 0);
    bool compared = false;
    QAtomicInt finished = 0;
    auto worker = startThread([&] {
        node->Read(0, u8(seen), 4096);
        compared = node->Compare(0, 4096, u8(image));
        finished.storeRelease(1);
    });
    HangGuard guard([&node] { node->Unlock(); });
    const bool done = worker->wait(60000);
    const bool byItself = guard.finish();
    QVERIFY2(byItself, "the worker's read waited for the claim");
    QVERIFY(done);
    QCOMPARE(finished.loadAcquire(), 1);
    QCOMPARE(seen, image);
    QVERIFY(compared);
    QVERIFY(!node->TryLock());
    node->Unlock();
    QVERIFY(recorder.lines().isEmpty());
}

void TestMemoryNodeThreads::readsWhileAppendingSeeTheImage()
{
    constexpr int Chunks = 1500;
    constexpr qint64 ChunkBytes = 4096;
    CFileMemoryNode node(QStringLiteral("Nand"), 0, quint64(Chunks) * ChunkBytes);
    NodeRecorder recorder(node);
    QVERIFY(node.CreateTempFile());

    QAtomicInt appendFailures = 0;
    QAtomicInt finished = 0;
    auto worker = startThread([&] {
        for (int chunk = 0; chunk < Chunks; ++chunk) {
            const QByteArray bytes = pattern(ChunkBytes, quint64(chunk) * ChunkBytes);
            if (!node.Append(u8(bytes), ChunkBytes))
                appendFailures.ref();
        }
        finished = 1;
    });

    // The view paints rows of what is there so far; a seek of the view must
    // never send an append to the wrong place, nor an append a read.
    QRandomGenerator random(1234);
    int reads = 0;
    int mismatches = 0;
    while (!finished.loadAcquire() || reads < 200) {
        const quint64 size = node.GetSize();
        if (size < 64) {
            QThread::yieldCurrentThread();
            continue;
        }
        const quint64 offset = random.bounded(quint64(size - 63));
        const QByteArray seen = readNode(node, offset, 64);
        if (seen != pattern(64, offset))
            ++mismatches;
        if (!node.Contains(offset + 63))
            ++mismatches;
        ++reads;
    }
    QVERIFY(worker->wait(60000));
    QCOMPARE(appendFailures.loadRelaxed(), 0);
    QCOMPARE(mismatches, 0);
    QCOMPARE(node.GetSize(), quint64(Chunks) * ChunkBytes);
    QCOMPARE(readFile(node.backingFileName()), pattern(Chunks * ChunkBytes));
    QVERIFY(recorder.lines().isEmpty());
}

void TestMemoryNodeThreads::residentReadsNeverSeeHalfAWrite()
{
    constexpr quint32 Slots = 64;
    constexpr quint32 SlotBytes = 8192;
    CMemoryNode node(QStringLiteral("SPI"), 0, quint64(Slots) * SlotBytes, 0xFF);
    QAtomicInt finished = 0;
    auto worker = startThread([&] {
        // Each write fills one slot with a single generation value.
        QByteArray bytes(SlotBytes, 0);
        for (int round = 0; round < 40; ++round) {
            for (quint32 slot = 0; slot < Slots; ++slot) {
                bytes.fill(char(round));
                node.Write(u8(bytes), slot * SlotBytes, SlotBytes);
            }
        }
        finished = 1;
    });
    int torn = 0;
    int reads = 0;
    QByteArray seen(SlotBytes, 0);
    while (!finished.loadAcquire() || reads < 100) {
        const quint32 slot = quint32(reads) % Slots;
        node.Read(quint64(slot) * SlotBytes, u8(seen), SlotBytes);
        if (seen.count(seen.at(0)) != seen.size())
            ++torn;
        ++reads;
    }
    QVERIFY(worker->wait(60000));
    QCOMPARE(torn, 0);
    QCOMPARE(readNode(node, 0, SlotBytes), QByteArray(SlotBytes, char(39)));
}

void TestMemoryNodeThreads::replacingFilesUnderAReader()
{
    // Every image holds the same pattern, so a reader sees either the pattern
    // or, while no file is attached, nothing (its preset bytes).
    const QByteArray image = pattern(16384);
    const QString file = m_dir.filePath(QStringLiteral("replaced.bin"));
    writeFile(file, image);
    CFileMemoryNode node(QStringLiteral("Nand"), 0, 1 << 20);
    NodeRecorder recorder(node);
    QVERIFY(node.Load(file, false));

    QAtomicInt stop = 0;
    QAtomicInt bad = 0;
    QAtomicInt reads = 0;
    auto worker = startThread([&] {
        QRandomGenerator random(99);
        while (!stop.loadAcquire()) {
            const quint64 offset = random.bounded(16384 - 256);
            QByteArray seen(256, char(0x5A));
            node.Read(offset, u8(seen), 256);
            // A file shorter than the range reads the fill value beyond its end.
            const QByteArray expected = pattern(256, offset);
            bool fine = seen == QByteArray(256, char(0x5A));
            for (int i = 0; !fine && i <= 256; ++i) {
                if (seen.left(i) == expected.left(i) &&
                    seen.mid(i) == QByteArray(256 - i, char(0xFF)))
                    fine = true;
            }
            if (!fine)
                bad.ref();
            node.GetSize();
            node.Contains(offset);
            reads.ref();
        }
    });

    int replaced = 0;
    for (int round = 0; round < 300; ++round) {
        switch (round % 3) {
        case 0:
            replaced += node.CreateTempFile() ? 1 : 0;
            node.Append(u8(image), quint64(image.size()));
            break;
        case 1:
            node.CloseBackingFile();
            break;
        default:
            replaced += node.Load(file, false) ? 1 : 0;
            break;
        }
    }
    while (reads.loadAcquire() < 100)
        QThread::yieldCurrentThread();
    stop = 1;
    QVERIFY(worker->wait(60000));
    QCOMPARE(bad.loadRelaxed(), 0);
    QVERIFY(replaced > 0);
    QCOMPARE(readFile(file), image);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestMemoryNodeThreads)
#include "tst_memory_node_threads.moc"
