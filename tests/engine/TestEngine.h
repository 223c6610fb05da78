#pragma once

#include "ChipEngine.h"
#include "FirmwareImages.h"
#include "UsbDriverTable.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include <vector>

// The smallest complete engine: the base's connection and protocol, with
// the chip operations reduced to what the tests observe. Like every engine
// it stops the worker first thing in its destructor.
class TestEngine : public ChipEngine
{
public:
    // Command that announces data: bytes 1-4 say how many follow.
    static constexpr quint8 DataCode = 0x1C;
    static constexpr quint8 AdapterCheckCode = 0x10;

    explicit TestEngine(UsbDriverTable &usb, FirmwareImageId image = NandImage1)
        : ChipEngine(usb), m_image(image)
    {
        setFirmwareRecords(::firmwareImage(image).records);
    }
    ~TestEngine() override { shutdown(); }

    using ChipEngine::chunkSize;
    using ChipEngine::outgoingCount;
    using ChipEngine::pipeBase;
    using ChipEngine::setCapabilities;
    using ChipEngine::setChunkSize;
    using ChipEngine::setPipeBase;
    using ChipEngine::setToolWidget;

    // Queues a data command for `descriptor`'s bytes; the data streamed
    // after it is byte i = tag + i.
    bool enqueueData(int tag, uint size)
    {
        quint8 bytes[5] = {DataCode};
        writeLE32(bytes + 1, size);
        return enqueueWithData(bytes, 5, -1, 0, 0,
                               std::make_unique<EngineMessage>(tag, size, quint8('D'), false));
    }

    void packetSent(const EngineRequest &request) override
    {
        {
            QMutexLocker lock(&m_mutex);
            m_sent.push_back(request);
        }
        if (request.code() != DataCode)
            return;
        OutgoingItem item = takeOutgoing();
        if (!item.descriptor)
            return;
        const int tag = item.descriptor->tag();
        const uint size = item.descriptor->size();
        std::vector<quint8> bytes(size);
        for (uint i = 0; i < size; ++i)
            bytes[i] = quint8(uint(tag) + i);
        const uint piece = chunkSize();
        uint sent = 0;
        while (sent < size && !stopping()) {
            const uint n = std::min(piece, size - sent);
            if (usb().write(0, bytes.data() + sent, int(n)) <= 0)
                break;
            sent += n;
        }
        reportProgress(uint(tag), sent);
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
    CMemoryNode *memoryNode(int) override { return nullptr; }
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

    // --- what the tests look at (GUI thread, except sent()) ---------------
    std::vector<EngineRequest> sent() const
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
    FirmwareImageId m_image;
    mutable QMutex m_mutex;
    std::vector<EngineRequest> m_sent; // m_mutex
    QList<int> m_adapterChecks;
    QList<quint8> m_replies;
    QList<quint8> m_handledKinds;
    int m_toggles = 0;
};
