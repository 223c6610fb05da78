#pragma once

#include "EngineMessage.h"
#include "EngineRequest.h"

#include <QMutex>
#include <QPointer>
#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

class CMemoryNode;
class OperationHost;
class UsbDriverTable;
struct FirmwareRecord;

// The connection to the programmer and the base of the chip engines.
//
// The object lives on the GUI thread: it is built there, its operations are
// called there, its timer runs there. Its worker thread (run) only moves
// bytes: it connects (firmware download, waiting for the programmer to come
// back), takes requests from the queue, writes each to pipe 0, reads the
// answer in chunks and posts every chunk as an EngineMessage (dataReady).
//
// Locks, each named with what it guards:
//   m_queueLock - the request queue;
//   m_sendLock  - the worker's alone: held while it takes an outgoing item
//                 and sends its data (packetSent, through OutgoingItem);
//   m_listLock  - the outgoing data list;
//   m_waitLock  - the worker's check-and-wait, m_wakePending and
//                 m_workerEnded;
//   m_inboxLock - answer messages on their way to the GUI thread. The
//                 worker never runs more than InboxLimit bytes of answers
//                 ahead of the GUI thread: it waits for the GUI to take
//                 them (the GUI never waits for the worker), so a fast
//                 link cannot fill memory faster than files are written.
// Order: m_sendLock before m_listLock; m_waitLock before m_queueLock. No
// other two are ever held together. The GUI thread never waits for a
// transfer: it takes only the list, queue, wait and inbox locks, each for a
// few list operations, never m_sendLock. An item the worker has taken is
// its own; dropping the list (clearQueue) leaves it alone.
//
// Every signal is emitted on the GUI thread. The worker posts each one as a
// call to the engine object (connectionChanged, progress), answer messages
// through the engine's inbox: the worker appends one and posts a call that
// takes exactly one out and emits dataReady. So signals keep the order in
// which the worker raised them, and a receiver's slot never runs on the
// worker. Messages still in the inbox when the engine goes are deleted with
// it: answers of a deleted engine never reach its successor.
//
// A subclass's destructor must call shutdown() first: the worker calls the
// subclass's packetSent, so it has to be gone before the subclass is.
class ChipEngine : public QThread
{
    Q_OBJECT

public:
    static constexpr quint32 DefaultCapabilities = 0xCF;
    static constexpr int DefaultPipeBase = 2;
    static constexpr uint DefaultChunkSize = 8192;
    static constexpr int ReconnectIntervalMs = 3000;
    // Waiting for the programmer after a download: tries, pause before each
    // try, settling time once it opens.
    static constexpr int WaitTries = 100;
    static constexpr int WaitTryMs = 200;
    static constexpr int WaitSettleMs = 900;

    // Command codes of the engine base.
    enum : quint8 {
        IdentifyCode = 0x18,
        Code1D = 0x1D,
        DelayCode = 0x2E,
        OperationEndCode = 0x33,
        MarkerCode = 0x38,
    };
    static constexpr quint8 IdentifyKind = 'I';
    static constexpr uint IdentifyAnswerLength = 8;
    // Answers shorter than this with tag -1 come from the short-answer pipe.
    static constexpr uint ShortAnswerLimit = 48;
    // Answers from MidAnswerMin up to the chunk size are read in MidChunk pieces.
    static constexpr uint MidAnswerMin = 257;
    static constexpr uint MidChunk = 512;
    // Answer bytes the worker may have posted that the GUI has not taken.
    static constexpr std::size_t InboxLimit = 8u << 20;

    // Every transfer goes through `usb`, which must stay bound while the
    // worker runs. Starts the reconnect timer.
    explicit ChipEngine(UsbDriverTable &usb, QObject *parent = nullptr);
    ~ChipEngine() override;

    // --- virtual operations -------------------------------------------------
    // Worker thread, after each successful request write: the subclass
    // streams pending data here (takeOutgoing).
    virtual void packetSent(const EngineRequest &request) = 0;
    // Queues command 0x1D with `value`, no answer. Returns 129.
    virtual int sendCode1D(quint8 value);
    // Moves the address down to a multiple of 4 (the length grows by what
    // the address moved), then rounds the length up to a multiple of 4.
    virtual void alignLength(quint64 &address, quint64 &length);
    virtual void exportBlocks(quint64 firstBlock, quint64 blockCount, const QString &fileName);
    virtual void reserved17();
    // Queues the adapter check, answered with kind 'J'. programmerKind: 0
    // NAND programmer, 1 SPI programmer, 2 not recognised.
    virtual void checkAdapter(int programmerKind) = 0;
    virtual void writeLE32(quint8 *destination, quint32 value) = 0;
    // Read ('A'), verify ('B') or blank check ('K'); returns a status or job code.
    virtual int startRead(quint64 start, quint64 length, int operation) = 0;
    virtual int startErase(quint64 start, quint64 length) = 0;
    virtual int startProgram(quint64 start, quint64 length) = 0;
    virtual quint64 normalizeRange(quint64 &start, quint64 &length) = 0;
    // Returns 0.
    virtual int extraQuery();
    // Queues the chip identification query with `tag`.
    virtual void queryChipIdentification(int tag) = 0;
    // Calls queryChipIdentification(tag).
    virtual void forwardChipIdentification(int tag);
    // The unsigned value of `width` (1 to 4) bytes, least significant first;
    // any other width reads 4 bytes.
    virtual quint32 readLE(const quint8 *bytes, int width) const;
    // Returns 0x81.
    virtual int detectChip();
    virtual void hook1();
    virtual void hook2();
    virtual int hook3();
    virtual void hook4();
    // Memory node 0 or 1, null for any other index.
    virtual CMemoryNode *memoryNode(int index) = 0;
    // An answer the main window did not handle; true when the kind was
    // recognised. The caller keeps ownership and deletes it afterwards.
    virtual bool handleReply(EngineMessage &message) = 0;
    virtual void loadImage(const QString &fileName) = 0;
    virtual void saveImage(const QString &tabName, const QString &fileName) = 0;
    virtual void fillRandom();
    // Locks the main memory buffer if it is free; the base has none: true.
    virtual bool tryLockBuffer();
    virtual void unlockBuffer();
    virtual void setSpeed(int step) = 0;
    virtual void initTarget();
    virtual void toggleBoardType();
    virtual void reportChipEnables();
    virtual void newChip();
    // Called by the main window when a read's progress has reached its end,
    // before the job counts as ended (the NAND engine rebuilds its source
    // table here). The base does nothing.
    virtual void postReadStep();
    // Called when an erase's progress has reached its end. Returns true
    // when the erase job has ended with it; false when the engine goes on
    // with a step of its own and ends the job later. The base: true.
    virtual bool postEraseStep();
    // The NAND multiple read file correction (console command MFC);
    // `withArgument` says whether the command was given any argument. The
    // base does nothing: only the NAND engine has the tool.
    virtual void multipleReadCorrection(bool withArgument);
    // Starts the NAND smart copy onto the target (console command SMTCPY).
    // Returns a status or the job's code. The base has no smart copy and
    // returns CommandStatus::Failed.
    virtual int startSmartCopy();
    // The answer 'D' that ends a program: true when it reports pages whose
    // program failed (the engine has said so in the log). The base: false.
    virtual bool programEndFailed(const EngineMessage &message);
    // The running job has ended, failed or was stopped: the engine lets go
    // of the memory buffers its operation claimed. The base does nothing.
    virtual void operationFinished();

    // --- queue (GUI thread) -----------------------------------------------
    // Copies `length` (1 to 100) bytes into a new request at the end of the
    // queue and wakes the worker. False, and nothing queued, for a length
    // outside 1..100 or null bytes.
    bool enqueue(const quint8 *bytes, int length, int tag, quint8 kind, uint answerLength);
    // A command that announces a block of data: `descriptor` (tag and size
    // saying what to send, owned by the engine from now on) goes to the
    // outgoing list, then the command to the queue. packetSent takes the
    // descriptor once the command is written. False as enqueue (the
    // descriptor is then deleted).
    bool enqueueWithData(const quint8 *bytes, int length, int tag, quint8 kind, uint answerLength,
                         std::unique_ptr<EngineMessage> descriptor);
    // The worker pauses `milliseconds` before the next request; longer
    // pauses than 65535 ms are queued as several delay requests.
    void enqueueDelay(uint milliseconds);
    // Posts a message with `tag`, `kind` and `size` zeroed bytes once the
    // requests queued before it are done; nothing goes to the programmer.
    void enqueueMarker(int tag, quint8 kind, uint size = 0);
    // Command 0x33 with `value`: a chip operation ended or was stopped.
    void sendOperationEnd(quint8 value);
    // Command 0x18: the programmer identifies itself (answer kind 'I').
    void queryIdentification();
    // Drops every queued request, and the outgoing descriptors of the data
    // commands among them. A request the worker has taken goes on.
    void clearQueue();
    int queuedRequests() const;
    // Answer bytes posted by the worker that the GUI thread has not taken.
    std::size_t pendingAnswerBytes() const;

    // --- connection -------------------------------------------------------
    // Drops the connection and has the worker reconnect at once, with a
    // firmware download. Emits nothing.
    void forceReconnect();
    bool isConnected() const { return m_connected.load(); }
    // The link's packet size (pipe 1), as the worker last read it from the
    // driver table; 0 before the first connection. Safe from any thread.
    int linkPacketSize() const { return m_packetSize.load(); }
    // Connection attempts the worker has made (start-up and reconnects).
    int connectAttempts() const { return m_connectAttempts.load(); }

    // Where the engine's operations report to the user; null until the main
    // window sets it. Not owned.
    void setOperationHost(OperationHost *host) { m_host = host; }
    OperationHost *operationHost() const { return m_host; }
    // One line in the operation host's message log; nothing without a host.
    void log(const QString &line) const;

    quint32 capabilities() const { return m_capabilities; }
    // A widget (as QObject) for the main window's tool bar, or null.
    QObject *toolWidget() const { return m_toolWidget; }
    // The engine owns `widget` from now on (the main window builds the
    // widget of an engine that has one).
    void setToolWidget(QObject *widget) { m_toolWidget = widget; }
    const FirmwareRecord *firmwareRecords() const { return m_firmwareImage.load(); }

signals:
    void connectionChanged(bool connected);
    // Emitted on the GUI thread; the receiver owns `message` and deletes it.
    void dataReady(EngineMessage *message);
    // Raised through reportProgress.
    void progress(uint position, uint count);

protected:
    void run() override;
    void timerEvent(QTimerEvent *event) override;

    // Stops and joins the worker, then drops the queue and the outgoing
    // list and deletes the memory nodes and the tool widget. Idempotent;
    // GUI thread.
    void shutdown();

    // The engine owns its memory nodes from now on; they go after the
    // worker has ended (packetSent may read them until then). GUI thread,
    // before start().
    CMemoryNode *addMemoryNode(std::unique_ptr<CMemoryNode> node);
    const std::vector<std::unique_ptr<CMemoryNode>> &memoryNodes() const { return m_nodes; }

    void setFirmwareRecords(const FirmwareRecord *image) { m_firmwareImage.store(image); }
    void setCapabilities(quint32 bits) { m_capabilities = bits; }
    int pipeBase() const { return m_pipeBase.load(); }
    void setPipeBase(int index) { m_pipeBase.store(index); }
    uint chunkSize() const { return m_chunkSize.load(); }
    // Largest read per message; 0 is ignored.
    void setChunkSize(uint bytes);
    bool stopping() const { return m_stop.load(); }
    // Emits progress on the GUI thread; callable from either thread.
    void reportProgress(uint position, uint count);
    UsbDriverTable &usb() const { return m_usb; }

    // The next outgoing descriptor (null when none), with the send lock
    // that the caller keeps while it sends the data. Worker thread, from
    // packetSent; the GUI thread never waits for this lock.
    struct OutgoingItem
    {
        std::unique_lock<QMutex> sendLock;
        std::unique_ptr<EngineMessage> descriptor;
    };
    OutgoingItem takeOutgoing();
    int outgoingCount() const;
    // Worker thread: writes `size` bytes to the programmer in pieces of the
    // chunk size, stopping early at a failed write or when stopping; the
    // bytes written.
    uint sendData(const quint8 *data, uint size);
    // The link's packet size, 64 before the programmer reported one.
    quint32 transferPacketSize() const;
    // The end-of-program answer ('D': status, failed page count): logs and
    // returns true when it reports a failure or did not come.
    bool programEndReportsFailure(const EngineMessage &message);

private:
    void wake();
    void waitForWork();
    void sleepUnlessStopped(int milliseconds);
    bool startupConnect();
    void reconnectAttempt();
    bool waitForProgrammer();
    void becomeConnected();
    void processQueue();
    bool takeRequest(EngineRequest &request);
    void readAnswer(const EngineRequest &request);
    void post(EngineMessage *message);
    void deliverMessage();
    void announceConnection(bool connected);
    // Worker: `image` went into the programmer.
    void downloaded(const FirmwareRecord *image);
    void connectionLost();
    void dropOutgoing(int fromTail);
    bool canSend() const;

    UsbDriverTable &m_usb;
    OperationHost *m_host = nullptr; // GUI thread only
    int m_reconnectTimer = 0;
    std::atomic<const FirmwareRecord *> m_firmwareImage{nullptr};
    quint32 m_capabilities = DefaultCapabilities;
    std::atomic<int> m_pipeBase{DefaultPipeBase};
    std::atomic<uint> m_chunkSize{DefaultChunkSize};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_stop{false};
    // Set by forceReconnect; the worker drops the connection when it sees it.
    std::atomic<bool> m_reconnectRequested{false};
    std::atomic<int> m_packetSize{0};
    std::atomic<int> m_connectAttempts{0};
    bool m_shutDown = false; // GUI thread only

    mutable QMutex m_queueLock;
    std::deque<EngineRequest> m_queue; // m_queueLock

    QMutex m_sendLock;
    mutable QMutex m_listLock;
    std::deque<std::unique_ptr<EngineMessage>> m_outgoing; // m_listLock

    // Standard primitives: their waits are visible to ThreadSanitizer,
    // QWaitCondition's only when Qt itself is instrumented.
    std::mutex m_waitLock;
    std::condition_variable m_wakeCondition;
    bool m_wakePending = false; // m_waitLock
    bool m_workerEnded = false; // m_waitLock

    mutable std::mutex m_inboxLock;
    std::deque<std::unique_ptr<EngineMessage>> m_inbox; // m_inboxLock
    std::size_t m_inboxBytes = 0;                       // m_inboxLock
    // The worker waits here while the inbox holds InboxLimit bytes or more.
    std::condition_variable m_inboxDrained;

    std::vector<std::unique_ptr<CMemoryNode>> m_nodes;
    QPointer<QObject> m_toolWidget;
};
