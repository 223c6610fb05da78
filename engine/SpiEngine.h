#pragma once

#include "ChipEngine.h"
#include "FirmwareImages.h"
#include "SpiGeometry.h"

#include <QString>

#include <array>
#include <atomic>

class CDeviceItemSPIFlash;
class CMemoryNode;
struct SpiPacket;

// The chip engine of serial flash: SPI NOR, AT45 DataFlash and small 25xx
// EEPROMs. Everything that differs between parts comes from the record
// (opcodes, status polling, sector and page sizes, line mode, start-up
// commands, `algo`); the image lives in one resident node "SPI" filled with
// 0xFF. The programmer polls the chip's status itself; the engine queues
// packets (SpiPackets) and handles the answers on the GUI thread.
//
// Automatic erase: a program erases its range first unless the engine
// knows that range is blank (an erase or a passing blank check covered
// it since the last program or detection). EEPROMs are never erased.
//
// Buffer ownership: a read, verify, blank check or program claims "SPI"
// (TryLock) from its start to its end, Stop, a lost connection or a
// refusal; loads, edits and target changes are refused meanwhile.
class SpiEngine : public ChipEngine
{
    Q_OBJECT

public:
    static constexpr uint CreationChunkSize = 0x8000;
    static constexpr uint SfdpChunk = 2048;

    // `device` (owned by the catalogue) outlives the engine.
    SpiEngine(UsbDriverTable &usb, CDeviceItemSPIFlash &device, QObject *parent = nullptr);
    ~SpiEngine() override;

    // --- ChipEngine -------------------------------------------------------
    void packetSent(const EngineRequest &request) override;
    void checkAdapter(int programmerKind) override;
    void writeLE32(quint8 *destination, quint32 value) override;
    int startRead(quint64 start, quint64 length, int operation) override;
    int startErase(quint64 start, quint64 length) override;
    int startProgram(quint64 start, quint64 length) override;
    quint64 normalizeRange(quint64 &start, quint64 &length) override;
    void queryChipIdentification(int tag) override;
    int detectChip() override;
    CMemoryNode *memoryNode(int index) override;
    bool handleReply(EngineMessage &message) override;
    void loadImage(const QString &fileName) override;
    void saveImage(const QString &tabName, const QString &fileName) override;
    void fillRandom() override;
    bool tryLockBuffer() override;
    void unlockBuffer() override;
    void setSpeed(int step) override;
    void initTarget() override;
    bool postEraseStep() override;
    bool programEndFailed(const EngineMessage &message) override;
    void operationFinished() override;

    // --- SPI ----------------------------------------------------------------
    CDeviceItemSPIFlash &device() const { return m_device; }
    SpiGeometry geometry() const;
    FirmwareImageId image() const { return m_image; }
    CMemoryNode *spiNode() const { return m_node; }
    // Whether a program of start .. start + length goes without an erase.
    bool knownBlank(quint64 start, quint64 length) const;
    bool singleIo() const { return m_singleIo; }

public slots:
    // The "Single IO" box: single-line transfers for a dual or quad chip.
    void singleIoToggled(bool checked);

private:
    enum class Operation { None, Read, Verify, BlankCheck, Erase, Program };

    OperationHost *host() const { return operationHost(); }
    void queue(const SpiPacket &packet, int tag = -1, quint8 kind = 0, uint answerLength = 0);
    quint32 packetSize() const;
    bool claimNode();
    void releaseNode();
    void failJob(int job);
    // Starts after the identification check, or at once for an EEPROM.
    void checkThenStart(quint8 kind);
    void confirmedStart(const EngineMessage &message);
    void start();
    void readChunks();
    void eraseSectors();
    void programSectors();
    void readAnswer(const EngineMessage &message);
    void idAnswer(const EngineMessage &message);
    void sfdpAnswer(const EngineMessage &message);
    void dataFlashStatusAnswer(const EngineMessage &message);
    void eraseAnswer(const EngineMessage &message);
    void unknownChip();
    void setBlank(quint64 start, quint64 end);

    CDeviceItemSPIFlash &m_device;
    FirmwareImageId m_image;
    CMemoryNode *m_node = nullptr;
    // The "Single IO" box, checked when the engine starts.
    bool m_singleIo = true;
    bool m_programPending = false;
    std::array<quint8, 3> m_detectedId{0xFF, 0xFF, 0xFF};
    // The range known to be blank: [m_blankStart, m_blankEnd).
    quint64 m_blankStart = 0;
    quint64 m_blankEnd = 0;

    // The recorded operation (GUI thread).
    Operation m_operation = Operation::None;
    quint8 m_operationKind = 0;
    quint64 m_start = 0;
    quint64 m_length = 0;
    // Where the bytes a read has put into the node end.
    quint64 m_readEnd = 0;
    bool m_claimed = false;
    bool m_windowClaim = false;
    bool m_detecting = false;
    bool m_eraseFailed = false; // a sector of the running erase did not report done
    // The program unit of the running program (the worker streams by it).
    std::atomic<quint32> m_programUnit{1};
};
