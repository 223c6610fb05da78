#pragma once

#include "CMemoryNode.h"
#include "ChipEngine.h"
#include "FirmwareImages.h"
#include "UsbDriverTable.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

// The smallest complete engine: the base's connection and protocol, with
// the chip operations reduced to what the tests observe. Its memory node 0
// ("Test") holds byte i % 251 at offset i; a data command streams from it.
// Like every engine it stops the worker first thing in its destructor.
class TestEngine : public ChipEngine
{
public:
    // Command of the scripted test firmware that announces data: bytes 1-4
    // say how many follow.
    static constexpr quint8 DataCode = 0x1C;
    static constexpr quint8 AdapterCheckCode = 0x10;
    static constexpr uint NodeSize = 65536;
    // A descriptor's tag counts units of this many node bytes.
    static constexpr uint StreamUnit = 256;

    using Clock = std::chrono::steady_clock;
    struct Sent
    {
        EngineRequest request;
        Clock::time_point at;
    };

    explicit TestEngine(UsbDriverTable &usb, FirmwareImageId image = NandImage1)
        : ChipEngine(usb), m_image(image)
    {
        setFirmwareRecords(::firmwareImage(image).records);
        auto node = std::make_unique<CMemoryNode>(QStringLiteral("Test"), 0, NodeSize, 0xFF);
        std::vector<quint8> bytes(NodeSize);
        for (uint i = 0; i < NodeSize; ++i)
            bytes[i] = quint8(i % 251);
        node->Write(bytes.data(), 0, NodeSize);
        m_node = addMemoryNode(std::move(node));
    }
    ~TestEngine() override
    {
        releaseDataSends();
        shutdown();
    }

    using ChipEngine::chunkSize;
    using ChipEngine::outgoingCount;
    using ChipEngine::pipeBase;
    using ChipEngine::setCapabilities;
    using ChipEngine::setChunkSize;
    using ChipEngine::setPipeBase;
    using ChipEngine::setToolWidget;

    // Queues `bytes` as a command that is followed by `size` bytes of node 0
    // from offset tag x StreamUnit.
    bool enqueueData(const quint8 *bytes, int length, int tag, uint size)
    {
        return enqueueWithData(bytes, length, -1, 0, 0,
                               std::make_unique<EngineMessage>(tag, size, quint8('D'), false));
    }
    // The scripted firmware's data command.
    bool enqueueData(int tag, uint size)
    {
        quint8 bytes[5] = {DataCode};
        writeLE32(bytes + 1, size);
        return enqueueData(bytes, 5, tag, size);
    }

    void packetSent(const EngineRequest &request) override
    {
        {
            QMutexLocker lock(&m_mutex);
            m_sent.push_back({request, Clock::now()});
        }
        if (!request.announcesData)
            return;
        OutgoingItem item = takeOutgoing();
        if (!item.descriptor)
            return;
        waitWhileSendsHeld();
        const uint tag = uint(item.descriptor->tag());
        const uint size = item.descriptor->size();
        std::vector<quint8> bytes(size);
        m_node->Read(quint64(tag) * StreamUnit, bytes.data(), size);
        const uint piece = chunkSize();
        uint sent = 0;
        while (sent < size && !stopping()) {
            const uint n = std::min(piece, size - sent);
            if (usb().write(0, bytes.data() + sent, int(n)) <= 0)
                break;
            sent += n;
        }
        reportProgress(tag, sent);
    }

    void checkAdapter(int programmerKind) override
    {
        m_adapterChecks.append(programmerKind);
        quint8 bytes[10] = {AdapterCheckCode, quint8(programmerKind), 0,
                            quint8(linkPacketSize() == 512 ? 1 : 0)};
        enqueue(bytes, 10, -1, 'J', 2);
    }
    void writeLE32(quint8 *destination, quint32 value) override
    {
        for (int i = 0; i < 4; ++i)
            destination[i] = quint8(value >> (8 * i));
    }
    int startRead(quint64, quint64, int operation) override { return operation; }
    int startErase(quint64, quint64) override { return 71; }
    int startProgram(quint64, quint64) override { return 68; }
    quint64 normalizeRange(quint64 &, quint64 &length) override { return length; }
    void queryChipIdentification(int tag) override
    {
        const quint8 bytes[10] = {0x29};
        enqueue(bytes, 10, tag, 'H', 4);
    }
    CMemoryNode *memoryNode(int index) override { return index == 0 ? m_node : nullptr; }
    bool handleReply(EngineMessage &message) override
    {
        m_replies.append(message.kind());
        return m_handledKinds.contains(message.kind());
    }
    void loadImage(const QString &) override {}
    void saveImage(const QString &, const QString &) override {}
    void setSpeed(int) override {}
    void toggleBoardType() override
    {
        m_image = m_image == NandImage1 ? NandImage2 : NandImage1;
        setFirmwareRecords(::firmwareImage(m_image).records);
        ++m_toggles;
    }

    // The bytes node 0 streams for a descriptor with `tag` and `size`.
    static QByteArray nodeBytes(int tag, uint size)
    {
        QByteArray bytes(qsizetype(size), '\0');
        for (uint i = 0; i < size; ++i)
            bytes[i] = char((uint(tag) * StreamUnit + i) % 251);
        return bytes;
    }

    // While sends are held, packetSent stops once it has taken a data
    // command's descriptor, keeping it (and the send lock) as a long or hung
    // write does, until releaseDataSends. Any thread.
    void holdDataSends()
    {
        std::lock_guard lock(m_gateLock);
        m_holdSends = true;
    }
    void releaseDataSends()
    {
        std::lock_guard lock(m_gateLock);
        m_holdSends = false;
        m_gate.notify_all();
    }
    // Waits up to `timeoutMs` for packetSent to stop with a descriptor.
    bool waitUntilSendHeld(int timeoutMs)
    {
        std::unique_lock lock(m_gateLock);
        return m_gate.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return m_sendHeld; });
    }

    // --- what the tests look at (GUI thread, except sent()) ---------------
    std::vector<Sent> sent() const
    {
        QMutexLocker lock(&m_mutex);
        return m_sent;
    }
    QList<int> adapterChecks() const { return m_adapterChecks; }
    QList<quint8> replies() const { return m_replies; }
    void handleKinds(const QList<quint8> &kinds) { m_handledKinds = kinds; }
    int toggles() const { return m_toggles; }
    FirmwareImageId image() const { return m_image; }

private:
    void waitWhileSendsHeld()
    {
        std::unique_lock lock(m_gateLock);
        if (!m_holdSends)
            return;
        m_sendHeld = true;
        m_gate.notify_all();
        m_gate.wait(lock, [this] { return !m_holdSends; });
        m_sendHeld = false;
    }

    FirmwareImageId m_image;
    CMemoryNode *m_node = nullptr;
    mutable QMutex m_mutex;
    std::vector<Sent> m_sent; // m_mutex
    QList<int> m_adapterChecks;
    QList<quint8> m_replies;
    QList<quint8> m_handledKinds;
    int m_toggles = 0;
    std::mutex m_gateLock;
    std::condition_variable m_gate;
    bool m_holdSends = false; // m_gateLock
    bool m_sendHeld = false;  // m_gateLock
};
