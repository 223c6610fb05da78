#pragma once

#include "ChipEngine.h"
#include "FirmwareImages.h"

#include <QString>

class CDeviceItem;
class Settings;

// The engine of a device family whose chip operations are not built yet:
// the connection of the engine base with the family's firmware image
// (identification, adapter answers, board type) and the family's memory
// nodes (NAND: the file nodes "Nand" and "Target"; SPI: the resident node
// "SPI" filled with 0xFF), so images load, show and save; every chip
// operation says in the message log that it is not available and fails.
class ConnectionEngine : public ChipEngine
{
    Q_OBJECT

public:
    // `record` and `settings` must outlive the engine.
    ConnectionEngine(UsbDriverTable &usb, const CDeviceItem &record, Settings &settings,
                     QObject *parent = nullptr);
    ~ConnectionEngine() override;

    static constexpr quint8 AdapterCheckCode = 0x10;

    FirmwareImageId image() const { return m_image; }

    void packetSent(const EngineRequest &request) override;
    void checkAdapter(int programmerKind) override;
    void writeLE32(quint8 *destination, quint32 value) override;
    int startRead(quint64 start, quint64 length, int operation) override;
    int startErase(quint64 start, quint64 length) override;
    int startProgram(quint64 start, quint64 length) override;
    // No range: the whole device; a range past the end is cut at the end.
    quint64 normalizeRange(quint64 &start, quint64 &length) override;
    void queryChipIdentification(int tag) override;
    int detectChip() override;
    CMemoryNode *memoryNode(int index) override;
    bool handleReply(EngineMessage &message) override;
    void loadImage(const QString &fileName) override;
    void saveImage(const QString &tabName, const QString &fileName) override;
    void setSpeed(int step) override;
    bool tryLockBuffer() override;
    void unlockBuffer() override;
    // NAND: the other board layout's image, remembered in the settings.
    void toggleBoardType() override;

private:
    int notAvailable(const QString &operation);

    const CDeviceItem &m_record;
    Settings &m_settings;
    FirmwareImageId m_image;
    CMemoryNode *m_nodes[2] = {nullptr, nullptr};
};
