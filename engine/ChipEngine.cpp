#include "ChipEngine.h"

#include "OperationHost.h"

#include "AnswerKind.h"
#include "CMemoryNode.h"
#include "FirmwareImages.h"
#include "UsbDriverTable.h"

#include <QMetaMethod>
#include <QMetaObject>
#include <QMutexLocker>
#include <QTimerEvent>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// The packet size the tags count in when the driver reports none (no pipe
// table): the full-speed size, so tags still advance.
constexpr int FallbackPacketSize = 64;
constexpr uint MaxDelayMs = 0xFFFF;
constexpr int DelayRequestLength = 10;

} // namespace

ChipEngine::ChipEngine(UsbDriverTable &usb, QObject *parent) : QThread(parent), m_usb(usb)
{
    m_reconnectTimer = startTimer(ReconnectIntervalMs);
}

ChipEngine::~ChipEngine()
{
    shutdown();
}

void ChipEngine::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (m_reconnectTimer) {
        killTimer(m_reconnectTimer);
        m_reconnectTimer = 0;
    }
    {
        QMutexLocker lock(&m_queueLock);
        m_queue.clear();
    }
    m_stop.store(true);
    {
        // Taken so the worker is either before its inbox check or waiting.
        std::lock_guard lock(m_inboxLock);
    }
    m_inboxDrained.notify_all();
    wake();
    wait();
    {
        // Marking its end is the worker's last act: taking the lock orders
        // everything it did before the teardown below.
        std::lock_guard lock(m_waitLock);
    }
    dropOutgoing(-1);
    {
        std::lock_guard lock(m_inboxLock);
        m_inbox.clear();
        m_inboxBytes = 0;
    }
    m_nodes.clear();
    delete m_toolWidget.data();
}

CMemoryNode *ChipEngine::addMemoryNode(std::unique_ptr<CMemoryNode> node)
{
    m_nodes.push_back(std::move(node));
    return m_nodes.back().get();
}

// --- virtual operations with a base behaviour ----------------------------

int ChipEngine::sendCode1D(quint8 value)
{
    const quint8 bytes[2] = {Code1D, value};
    enqueue(bytes, 2, -1, 0, 0);
    return 129;
}

void ChipEngine::alignLength(quint64 &address, quint64 &length)
{
    const quint64 misalignment = address % 4;
    if (misalignment) {
        length += misalignment;
        address -= misalignment;
    }
    if (length % 4)
        length += 4 - length % 4;
}

void ChipEngine::exportBlocks(quint64, quint64, const QString &) {}
void ChipEngine::reserved17() {}
int ChipEngine::extraQuery()
{
    return 0;
}

void ChipEngine::forwardChipIdentification(int tag)
{
    queryChipIdentification(tag);
}

quint32 ChipEngine::readLE(const quint8 *bytes, int width) const
{
    if (width < 1 || width > 4)
        width = 4;
    quint32 value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

int ChipEngine::detectChip()
{
    return 0x81;
}

void ChipEngine::hook1() {}
void ChipEngine::hook2() {}
int ChipEngine::hook3()
{
    return 0;
}
void ChipEngine::hook4() {}
void ChipEngine::fillRandom() {}
bool ChipEngine::tryLockBuffer()
{
    return true;
}
void ChipEngine::unlockBuffer() {}
void ChipEngine::initTarget() {}
void ChipEngine::toggleBoardType() {}
void ChipEngine::reportChipEnables() {}
void ChipEngine::newChip() {}
void ChipEngine::postReadStep() {}
bool ChipEngine::postEraseStep()
{
    return true;
}
void ChipEngine::multipleReadCorrection(bool) {}
int ChipEngine::startSmartCopy()
{
    return CommandStatus::Failed;
}

bool ChipEngine::programEndFailed(const EngineMessage &)
{
    return false;
}

void ChipEngine::operationFinished() {}

void ChipEngine::setChunkSize(uint bytes)
{
    // A read's length is an int at the driver table.
    if (bytes > 0)
        m_chunkSize.store(std::min(bytes, uint(std::numeric_limits<int>::max())));
}

// --- queue -----------------------------------------------------------------

bool ChipEngine::enqueue(const quint8 *bytes, int length, int tag, quint8 kind, uint answerLength)
{
    return enqueueWithData(bytes, length, tag, kind, answerLength, nullptr);
}

bool ChipEngine::enqueueWithData(const quint8 *bytes, int length, int tag, quint8 kind,
                                 uint answerLength, std::unique_ptr<EngineMessage> descriptor)
{
    if (!bytes || length < 1 || length > EngineRequest::MaxBytes)
        return false;
    EngineRequest request;
    std::memcpy(request.bytes.data(), bytes, size_t(length));
    request.length = length;
    request.tag = tag;
    request.kind = kind;
    request.answerLength = answerLength;
    request.announcesData = descriptor != nullptr;
    if (descriptor) {
        QMutexLocker list(&m_listLock);
        m_outgoing.push_back(std::move(descriptor));
    }
    {
        QMutexLocker lock(&m_queueLock);
        m_queue.push_back(request);
    }
    wake();
    return true;
}

void ChipEngine::enqueueDelay(uint milliseconds)
{
    do {
        const uint part = std::min(milliseconds, MaxDelayMs);
        const quint8 bytes[DelayRequestLength] = {DelayCode, quint8(part >> 8),
                                                  quint8(part & 0xFF)};
        enqueue(bytes, DelayRequestLength, -1, 0, 0);
        milliseconds -= part;
    } while (milliseconds > 0);
}

void ChipEngine::enqueueMarker(int tag, quint8 kind, uint size)
{
    const quint8 bytes[1] = {MarkerCode};
    enqueue(bytes, 1, tag, kind, size);
}

void ChipEngine::sendOperationEnd(quint8 value)
{
    const quint8 bytes[2] = {OperationEndCode, value};
    enqueue(bytes, 2, -1, 0, 0);
}

void ChipEngine::queryIdentification()
{
    const quint8 bytes[9] = {IdentifyCode, 0x00, 0x02, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00};
    enqueue(bytes, 9, -1, IdentifyKind, IdentifyAnswerLength);
}

void ChipEngine::clearQueue()
{
    int announced = 0;
    {
        QMutexLocker lock(&m_queueLock);
        for (const EngineRequest &request : m_queue)
            announced += request.announcesData ? 1 : 0;
        m_queue.clear();
    }
    // The descriptors of the dropped commands are the last ones appended:
    // the worker takes them in queue order, so the descriptor of a command
    // it has already taken is at the front of the list or in its hands.
    // Only the list lock: a send in progress is never waited for.
    if (announced)
        dropOutgoing(announced);
}

int ChipEngine::queuedRequests() const
{
    QMutexLocker lock(&m_queueLock);
    return int(m_queue.size());
}

ChipEngine::OutgoingItem ChipEngine::takeOutgoing()
{
    OutgoingItem item{std::unique_lock<QMutex>(m_sendLock), nullptr};
    QMutexLocker list(&m_listLock);
    if (!m_outgoing.empty()) {
        item.descriptor = std::move(m_outgoing.front());
        m_outgoing.pop_front();
    }
    return item;
}

int ChipEngine::outgoingCount() const
{
    QMutexLocker list(&m_listLock);
    return int(m_outgoing.size());
}

void ChipEngine::dropOutgoing(int fromTail)
{
    std::deque<std::unique_ptr<EngineMessage>> dropped;
    {
        QMutexLocker list(&m_listLock);
        if (fromTail < 0 || size_t(fromTail) >= m_outgoing.size()) {
            dropped.swap(m_outgoing);
        } else {
            for (int i = 0; i < fromTail; ++i) {
                dropped.push_back(std::move(m_outgoing.back()));
                m_outgoing.pop_back();
            }
        }
    }
}

// --- connection ----------------------------------------------------------

void ChipEngine::forceReconnect()
{
    m_reconnectRequested.store(true);
    m_connected.store(false);
    wake();
}

void ChipEngine::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_reconnectTimer) {
        if (!m_connected.load())
            wake();
        return;
    }
    QThread::timerEvent(event);
}

void ChipEngine::wake()
{
    std::lock_guard lock(m_waitLock);
    m_wakePending = true;
    m_wakeCondition.notify_all();
}

// Sleeps until woken; returns at once when a wake is pending, the engine
// stops, or it is connected with requests waiting.
void ChipEngine::waitForWork()
{
    std::unique_lock lock(m_waitLock);
    m_wakeCondition.wait(lock, [this] {
        return m_wakePending || m_stop.load() || (canSend() && queuedRequests() > 0);
    });
    m_wakePending = false;
}

void ChipEngine::sleepUnlessStopped(int milliseconds)
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock lock(m_waitLock);
    m_wakeCondition.wait_until(lock, deadline, [this] { return m_stop.load(); });
}

bool ChipEngine::canSend() const
{
    return m_connected.load() && !m_reconnectRequested.load();
}

void ChipEngine::run()
{
    startupConnect();
    for (;;) {
        if (m_stop.load())
            break;
        waitForWork();
        if (m_stop.load())
            break;
        if (m_reconnectRequested.exchange(false))
            m_connected.store(false);
        if (!m_connected.load()) {
            reconnectAttempt();
            continue;
        }
        processQueue();
    }
    m_usb.close();
    std::lock_guard lock(m_waitLock);
    m_workerEnded = true;
}

bool ChipEngine::startupConnect()
{
    m_connectAttempts.fetch_add(1);
    if (m_usb.open() == 0)
        return false;
    m_usb.close();
    const FirmwareRecord *image = m_firmwareImage.load();
    const int result = m_usb.download(image, false);
    if (result == 1)
        downloaded(image);
    if (result == 2 || (result == 1 && waitForProgrammer())) {
        if (m_stop.load())
            return false;
        becomeConnected();
        return true;
    }
    return false;
}

void ChipEngine::reconnectAttempt()
{
    m_connectAttempts.fetch_add(1);
    m_usb.close();
    if (m_usb.open() == 0)
        return;
    m_usb.close();
    m_pipeBase.store(DefaultPipeBase);
    m_chunkSize.store(DefaultChunkSize);
    const FirmwareRecord *image = m_firmwareImage.load();
    const int result = m_usb.download(image, true);
    if (result == 0)
        return;
    if (result == 1)
        downloaded(image);
    if (result == 1 && !waitForProgrammer())
        return;
    if (!m_stop.load())
        becomeConnected();
}

// After a download the programmer leaves the bus and comes back with its
// own firmware; it is back once it opens.
bool ChipEngine::waitForProgrammer()
{
    for (int i = 0; i < WaitTries; ++i) {
        sleepUnlessStopped(WaitTryMs);
        if (m_stop.load())
            return false;
        if (m_usb.open() != 0) {
            sleepUnlessStopped(WaitSettleMs);
            m_usb.close();
            return !m_stop.load();
        }
        m_usb.close();
    }
    return false;
}

void ChipEngine::becomeConnected()
{
    m_connected.store(true);
    m_usb.open();
    const int packet = m_usb.status();
    m_packetSize.store(packet > 0 ? packet : 0);
    announceConnection(true);
}

bool ChipEngine::takeRequest(EngineRequest &request)
{
    QMutexLocker lock(&m_queueLock);
    if (m_queue.empty())
        return false;
    request = m_queue.front();
    m_queue.pop_front();
    return true;
}

void ChipEngine::processQueue()
{
    EngineRequest request;
    while (!m_stop.load() && canSend() && takeRequest(request)) {
        if (request.code() == DelayCode) {
            sleepUnlessStopped(request.bytes[1] << 8 | request.bytes[2]);
            continue;
        }
        if (request.code() == MarkerCode) {
            post(new EngineMessage(request.tag, request.answerLength, request.kind));
            continue;
        }
        if (m_usb.write(0, request.bytes.data(), request.length) <= 0) {
            connectionLost();
            return;
        }
        packetSent(request);
        // The answer to a command that went out is read even while the
        // engine stops, so the programmer is left with nothing pending;
        // only data cut short by the stop leaves it waiting for the rest.
        if (request.answerLength > 0 && !(request.announcesData && m_stop.load()))
            readAnswer(request);
    }
}

void ChipEngine::readAnswer(const EngineRequest &request)
{
    const int base = m_pipeBase.load();
    const bool shortAnswer = request.tag == -1 && request.answerLength < ShortAnswerLimit;
    const int pipe = base == 1 || shortAnswer ? base : base + 1;
    const uint engineChunk = m_chunkSize.load();
    const uint chunk = request.answerLength >= MidAnswerMin && request.answerLength < engineChunk
                           ? MidChunk
                           : engineChunk;
    const int reported = m_usb.status();
    if (reported > 0)
        m_packetSize.store(reported);
    const uint packet = uint(reported > 0 ? reported : FallbackPacketSize);

    int tag = request.tag;
    uint remaining = request.answerLength;
    bool gapReported = false;
    while (remaining > 0) {
        const uint n = std::min(chunk, remaining);
        auto message = std::make_unique<EngineMessage>(tag, n, request.kind);
        const int got = m_usb.read(pipe, message->data(), int(n));
        // The first chunk of an answer that did not come whole is reported
        // as an empty message with its tag, so the receiver knows what is
        // missing instead of taking padding for data or waiting for ever.
        // Later chunks are still read to stay in step with the programmer.
        if (uint(std::max(got, 0)) != n) {
            if (!gapReported)
                post(new EngineMessage(tag, 0, request.kind, false));
            gapReported = true;
        } else if (got > 0)
            post(message.release());
        tag += int(n / packet);
        remaining -= n;
    }
}

uint ChipEngine::sendData(const quint8 *data, uint size)
{
    const uint piece = std::max(chunkSize(), 1u);
    uint written = 0;
    while (written < size && !stopping()) {
        const uint n = std::min(piece, size - written);
        if (m_usb.write(0, const_cast<quint8 *>(data) + written, int(n)) <= 0)
            break;
        written += n;
    }
    return written;
}

quint32 ChipEngine::transferPacketSize() const
{
    const int size = linkPacketSize();
    return quint32(size > 0 ? size : FallbackPacketSize);
}

bool ChipEngine::programEndReportsFailure(const EngineMessage &message)
{
    constexpr uint ProgramEndAnswerLength = 2;
    QString line;
    constexpr quint8 ProgramEndMark = 'D';
    if (!message.hasData() || message.size() < ProgramEndAnswerLength)
        line = QStringLiteral("Program failed: the programmer did not answer its end");
    else if (message.byteAt(0) != ProgramEndMark)
        line = QString::asprintf("Program failed: the programmer answered its end with %02X %02X",
                                 message.byteAt(0), message.byteAt(1));
    else if (message.byteAt(1) != 0)
        line = QString::asprintf("Program failed: %u pages", message.byteAt(1));
    if (line.isEmpty())
        return false;
    log(line);
    return true;
}

void ChipEngine::log(const QString &line) const
{
    if (m_host)
        m_host->appendLog(line);
}

std::size_t ChipEngine::pendingAnswerBytes() const
{
    std::lock_guard lock(m_inboxLock);
    return m_inboxBytes;
}

void ChipEngine::post(EngineMessage *message)
{
    {
        std::unique_lock lock(m_inboxLock);
        if (QThread::currentThread() == this)
            m_inboxDrained.wait(lock,
                                [this] { return m_inboxBytes < InboxLimit || m_stop.load(); });
        m_inboxBytes += message->size();
        m_inbox.emplace_back(message);
    }
    QMetaObject::invokeMethod(this, &ChipEngine::deliverMessage, Qt::QueuedConnection);
}

// The built-in images stand in for the programmer's own firmware: the log
// says so once per run, when the first of them goes into a programmer.
void ChipEngine::downloaded(const FirmwareRecord *image)
{
    // The records are the program's constants: the GUI thread reads the name.
    QMetaObject::invokeMethod(
        this,
        [this, image] {
            const QString name = standInImageName(image);
            if (name.isEmpty())
                return;
            static bool told = false;
            if (!std::exchange(told, true))
                log(QStringLiteral("Firmware \"%1\" is a stand-in built with Korvane, not the "
                                   "programmer's own firmware: a real programmer needs the real "
                                   "images (KORVANE_FIRMWARE_DIR when building).")
                        .arg(name));
        },
        Qt::QueuedConnection);
}

void ChipEngine::announceConnection(bool connected)
{
    QMetaObject::invokeMethod(
        this, [this, connected] { emit connectionChanged(connected); }, Qt::QueuedConnection);
}

void ChipEngine::reportProgress(uint position, uint count)
{
    if (QThread::currentThread() == thread()) {
        emit progress(position, count);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, position, count] { emit progress(position, count); }, Qt::QueuedConnection);
}

// GUI thread: hands the oldest message of the inbox to the receiver.
void ChipEngine::deliverMessage()
{
    std::unique_ptr<EngineMessage> message;
    {
        std::lock_guard lock(m_inboxLock);
        if (m_inbox.empty())
            return;
        message = std::move(m_inbox.front());
        m_inbox.pop_front();
        m_inboxBytes -= message->size();
    }
    m_inboxDrained.notify_one();
    // Without a receiver nobody would own the message.
    if (isSignalConnected(QMetaMethod::fromSignal(&ChipEngine::dataReady)))
        emit dataReady(message.release());
}

void ChipEngine::connectionLost()
{
    m_usb.close();
    {
        QMutexLocker lock(&m_queueLock);
        m_queue.clear();
    }
    dropOutgoing(-1);
    m_connected.store(false);
    announceConnection(false);
    wake();
}
