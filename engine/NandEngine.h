#pragma once

#include "BadBlockTable.h"
#include "ChipEngine.h"
#include "FirmwareImages.h"
#include "NandBlockWindow.h"
#include "NandDetection.h"
#include "NandGeometry.h"
#include "NandReadPlan.h"
#include "NandSmartCopy.h"

#include <QString>

#include <memory>
#include <set>

class CDeviceItemNand;
class CFileMemoryNode;
class Settings;
struct NandPacket;

// The chip engine of parallel NAND flash. It turns the user's operations
// into programmer packets (NandPackets), which the worker sends in order,
// and handles their answers on the GUI thread. Images live in two file nodes,
// "Nand" (read from the chip or loaded) and "Target" (built by smart copy and
// programmed instead of "Nand" while it holds data), so a chip of gigabytes
// never sits in memory. Two bad-block tables describe the source image and
// the chip in the socket; every operation is limited to the block window of
// the NAND panel (NandBlockWindow).
//
// Buffer ownership: from the start of its chip traffic to its end (or Stop,
// a lost connection, a refusal) an operation claims both nodes (TryLock);
// loads, drops, edits and target changes are refused while they are
// claimed. tryLockBuffer/unlockBuffer are the main window's own claim of
// "Nand", released only when it was taken.
class NandEngine : public ChipEngine
{
    Q_OBJECT

public:
    static constexpr uint CreationChunkSize = 0x8000;
    static constexpr uint ParameterPageChunk = 512;

    // `device` (owned by the catalogue) and `settings` outlive the engine.
    NandEngine(UsbDriverTable &usb, CDeviceItemNand &device, Settings &settings,
               QObject *parent = nullptr);
    ~NandEngine() override;

    // --- ChipEngine -------------------------------------------------------
    void packetSent(const EngineRequest &request) override;
    void exportBlocks(quint64 firstBlock, quint64 blockCount, const QString &fileName) override;
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
    void toggleBoardType() override;
    void reportChipEnables() override;
    void newChip() override;
    void postReadStep() override;
    bool postEraseStep() override;
    bool programEndFailed(const EngineMessage &message) override;
    void operationFinished() override;
    // Multiple read correction of the "Nand" image with further reads the
    // user selects; with an argument (the console's) it does nothing.
    void multipleReadCorrection(bool withArgument) override;
    int startSmartCopy() override;

    // --- NAND ---------------------------------------------------------------
    CDeviceItemNand &device() const { return m_device; }
    const NandGeometry &geometry() const { return m_geometry; }
    quint64 blockBytes() const { return m_geometry.blockBytes; }
    BadBlockTable &sourceTable() { return m_sourceTable; }
    BadBlockTable &targetTable() { return m_targetTable; }
    NandBlockWindow &blockWindow() { return m_window; }
    CFileMemoryNode *nandNode() const { return m_nand; }
    CFileMemoryNode *targetNode() const { return m_target; }
    quint32 dataBytes() const { return m_dataBytes; }
    FirmwareImageId image() const { return m_image; }
    bool boardFlag() const { return m_boardFlag; }

    // Queues 0x36 for chip enable `chip` and remembers it as the selected one.
    void selectChip(quint32 chip);
    // Fills the source table from the "Nand" image; false (nothing queued)
    // without a connection, for an image that is not the block window's
    // size, or for an unsupported page size.
    bool buildSourceTable();
    // Asks the chip for the first page of every block of start .. start +
    // length and fills the target table.
    void scanTargetBlocks(quint64 start, quint64 length);
    // Takes startBlock and blockCount from the panel's edits.
    void readWindowEdits() { m_window.readEdits(); }
    // The "Copy source badblock" option of smart copy.
    bool copySourceBadBlocks() const { return m_copySourceBadBlocks; }
    void setCopySourceBadBlocks(bool on) { m_copySourceBadBlocks = on; }
    void saveSourceTable(const QString &fileName);
    void loadSourceTable(const QString &fileName);

signals:
    // The start edit's text changed through startBlockEdited: the panel
    // shows the new count.
    void windowChanged();

public slots:
    void startBlockEdited(const QString &text);

private:
    friend class NandDetection;
    friend class NandSmartCopy;

    enum class Operation { None, Read, Verify, BlankCheck, Erase, Program };

    OperationHost *host() const { return operationHost(); }
    void queue(const NandPacket &packet, int tag = -1, quint8 kind = 0, uint answerLength = 0);
    void selectChipOfPage(quint64 page);
    quint32 chipOfPage(quint64 page) const;
    quint32 rowOfPage(quint64 page) const;
    quint32 packetSize() const;
    // Where a node's bytes sit on the device: a read's range, or the block
    // window of a load.
    struct Window
    {
        quint64 base = 0;
        quint64 size = 0;
    };
    void setNandWindow(quint64 base, quint64 size);
    void setTargetWindow(quint64 base, quint64 size);
    const Window &windowOf(const CFileMemoryNode *node) const;
    // "Target" while it holds data, otherwise "Nand".
    CFileMemoryNode *programSource() const;
    bool nodesClaimed() const;
    bool hasGeometry() const;
    // Logs why and returns true for a record without page or block size.
    bool refuseWithoutGeometry();
    void failJob(int job);
    void claimNodes();
    void releaseNodes();
    // The operation's start: chip 0, then the identification with `kind`.
    void queueOperationStart(quint8 kind);
    void confirmedStart(const EngineMessage &message);
    void readPages();
    void eraseBlocks();
    // After the marks are known: an erase per block, a stand-in answer for
    // a bad one.
    void queueErases();
    void markAnswer(const EngineMessage &message);
    void programPages();
    void readAnswer(EngineMessage &message);
    void readFailed(const QString &line);
    void eraseAnswer(const EngineMessage &message);
    void scanAnswer(const EngineMessage &message);
    void sourceBlockAnswer(const EngineMessage &message);
    void endScan();

    CDeviceItemNand &m_device;
    Settings &m_settings;
    bool m_boardFlag = false;
    FirmwareImageId m_image;
    NandGeometry m_geometry;
    BadBlockTable m_sourceTable;
    BadBlockTable m_targetTable;
    NandBlockWindow m_window;
    CFileMemoryNode *m_nand = nullptr;
    CFileMemoryNode *m_target = nullptr;
    quint32 m_dataBytes = 0;
    bool m_copySourceBadBlocks = false;
    NandDetection m_detection;
    NandSmartCopy m_smartCopy;
    Window m_nandWindow;
    Window m_targetWindow;
    // The source table being built: its first block and block count.
    quint32 m_tableFirst = 0;
    quint32 m_tableBlocks = 0;

    // The recorded operation (GUI thread).
    Operation m_operation = Operation::None;
    quint8 m_operationKind = 0;
    quint64 m_start = 0;
    quint64 m_length = 0;
    NandReadPlan m_plan;
    // Chip enable of the last 0x36 queued; -1: none yet.
    qint64 m_selectedChip = -1;
    // Nodes the running operation has claimed; the window's own claim.
    bool m_nandClaimed = false;
    bool m_targetClaimed = false;
    bool m_windowClaim = false;
    // The scan after an erase: its first block, blocks, answers so far, and
    // the blocks whose erase failed or that were not erased for want of
    // their mark.
    quint32 m_scanFirst = 0;
    quint32 m_scanBlocks = 0;
    quint32 m_scanAnswered = 0;
    bool m_scanning = false;
    bool m_scanIncomplete = false; // a block's scan answer did not come
    std::set<quint32> m_eraseFailed;
    // The source of the running program (worker reads it in packetSent).
    std::atomic<CFileMemoryNode *> m_programSource{nullptr};
};
