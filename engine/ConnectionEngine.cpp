#include "ConnectionEngine.h"

#include "AnswerKind.h"
#include "CDeviceItem.h"
#include "CDeviceItemNand.h"
#include "CFileMemoryNode.h"
#include "NandGeometry.h"
#include "OperationHost.h"
#include "ProgramObjects.h"
#include "Settings.h"
#include "UiTextId.h"

namespace {

FirmwareImageId imageFor(const CDeviceItem &record, Settings &settings)
{
    if (record.kind == CDeviceItem::NandKind)
        return FirmwareSelection::nand(settings);
    int algo = record.algo;
    return FirmwareSelection::spi(algo);
}

QString familyName(const CDeviceItem &record)
{
    return record.kind == CDeviceItem::NandKind ? QStringLiteral("Nand") : QStringLiteral("SPI");
}

} // namespace

ConnectionEngine::ConnectionEngine(UsbDriverTable &usb, const CDeviceItem &record,
                                   Settings &settings, QObject *parent)
    : ChipEngine(usb, parent), m_record(record), m_settings(settings),
      m_image(imageFor(record, settings))
{
    setFirmwareRecords(firmwareImage(m_image).records);
    if (record.kind == CDeviceItem::NandKind) {
        m_nodes[0] = addMemoryNode(
            std::make_unique<CFileMemoryNode>(QStringLiteral("Nand"), 0, record.size));
        m_nodes[1] = addMemoryNode(
            std::make_unique<CFileMemoryNode>(QStringLiteral("Target"), 0, record.size));
    } else {
        m_nodes[0] = addMemoryNode(
            std::make_unique<CMemoryNode>(QStringLiteral("SPI"), 0, record.size, 0xFF));
    }
}

ConnectionEngine::~ConnectionEngine()
{
    shutdown();
}

int ConnectionEngine::notAvailable(const QString &operation)
{
    if (operationHost())
        operationHost()->appendLog(familyName(m_record) +
                                   QStringLiteral(" engine not available: ") + operation +
                                   QStringLiteral(" not run"));
    return CommandStatus::Failed;
}

void ConnectionEngine::packetSent(const EngineRequest &) {}

void ConnectionEngine::checkAdapter(int programmerKind)
{
    // Command 0x10, answered with kind 'J': byte 3 says whether the link
    // runs at high speed; NAND adds the address sizes, SPI the algorithm.
    constexpr uint AnswerLength = 2;
    constexpr int HighSpeedPacket = 512;
    constexpr int MaxAlgo = 4;
    quint8 packet[10] = {AdapterCheckCode, quint8(programmerKind)};
    packet[3] = linkPacketSize() == HighSpeedPacket ? 1 : 0;
    if (m_record.kind == CDeviceItem::NandKind) {
        const NandGeometry g = NandGeometry::of(static_cast<const CDeviceItemNand &>(m_record));
        packet[5] = quint8(g.columnBytes);
        packet[6] = quint8(g.rowBytes);
    } else {
        packet[2] = 0x01;
        packet[4] = quint8(m_record.algo > MaxAlgo || m_record.algo < 0 ? 0 : m_record.algo);
    }
    enqueue(packet, sizeof packet, -1, AnswerKind::AdapterCheck, AnswerLength);
}

void ConnectionEngine::writeLE32(quint8 *destination, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        destination[i] = quint8(value >> (8 * i));
}

int ConnectionEngine::startRead(quint64, quint64, int operation)
{
    switch (operation) {
    case JobCode::Verify:
        return notAvailable(QStringLiteral("verify"));
    case JobCode::BlankCheck:
        return notAvailable(QStringLiteral("blank check"));
    default:
        return notAvailable(QStringLiteral("read"));
    }
}

int ConnectionEngine::startErase(quint64, quint64)
{
    return notAvailable(QStringLiteral("erase"));
}

int ConnectionEngine::startProgram(quint64, quint64)
{
    return notAvailable(QStringLiteral("program"));
}

quint64 ConnectionEngine::normalizeRange(quint64 &start, quint64 &length)
{
    const quint64 size = m_record.size;
    if (length == 0 || start >= size) {
        start = 0;
        length = size;
    } else if (length > size - start) {
        length = size - start;
    }
    return length;
}

void ConnectionEngine::queryChipIdentification(int) {}

int ConnectionEngine::detectChip()
{
    return notAvailable(QStringLiteral("detect"));
}

CMemoryNode *ConnectionEngine::memoryNode(int index)
{
    return index == 0 || index == 1 ? m_nodes[index] : nullptr;
}

bool ConnectionEngine::handleReply(EngineMessage &)
{
    return false;
}

void ConnectionEngine::loadImage(const QString &fileName)
{
    m_nodes[0]->Load(fileName, true);
}

void ConnectionEngine::saveImage(const QString &tabName, const QString &fileName)
{
    for (CMemoryNode *node : m_nodes) {
        if (node && (tabName.isEmpty() || node->name() == tabName)) {
            node->Save(fileName);
            return;
        }
    }
    if (operationHost())
        operationHost()->appendLog(tabName + QStringLiteral(" ") +
                                   uiText().text(UiTextId::FileError));
}

bool ConnectionEngine::tryLockBuffer()
{
    return m_nodes[0]->TryLock();
}

void ConnectionEngine::unlockBuffer()
{
    m_nodes[0]->Unlock();
}

void ConnectionEngine::setSpeed(int) {}

void ConnectionEngine::toggleBoardType()
{
    if (m_record.kind != CDeviceItem::NandKind)
        return;
    const bool boardType = !m_settings.boolean(Settings::BoardType, false);
    m_settings.setBoolean(Settings::BoardType, boardType);
    m_image = FirmwareSelection::nand(boardType);
    setFirmwareRecords(firmwareImage(m_image).records);
}
