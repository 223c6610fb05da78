#include "SpiEngine.h"

#include "AnswerKind.h"
#include "CDeviceFamilySPI.h"
#include "CDeviceItemSPIFlash.h"
#include "CMemoryNode.h"
#include "DeviceCatalogue.h"
#include "OperationHost.h"
#include "ProgramObjects.h"
#include "QuestionHost.h"
#include "SpiPackets.h"
#include "UiTextId.h"
#include "UsbDriverTable.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int HighSpeedPacketSize = 512;
constexpr uint AdapterAnswerLength = 2;
constexpr uint IdAnswerLength = 3;
constexpr uint EraseAnswerLength = 2;
constexpr uint ProgramEndAnswerLength = 2;
constexpr uint DataFlashStatusLength = 1;
constexpr uint SfdpMinimum = 512;
constexpr quint32 ProgramPage = 256;
constexpr quint32 RandomSeed = 0x1234567;
constexpr quint32 DataFlashLargeSector = 0x21000;

// Answer kinds of the SPI operations.
enum : quint8 {
    DataFlashStatus = 'M',
};

QString text(int id)
{
    return uiText().text(id);
}

// The classic linear congruential generator behind the platform's rand(),
// 16 bits of each value used.
class RandomWords
{
public:
    explicit RandomWords(quint32 seed) : m_state(seed) {}
    quint16 next()
    {
        m_state = m_state * 1103515245u + 12345u;
        return quint16(m_state >> 16);
    }

private:
    quint32 m_state;
};

} // namespace

SpiEngine::SpiEngine(UsbDriverTable &usb, CDeviceItemSPIFlash &device, QObject *parent)
    : ChipEngine(usb, parent), m_device(device), m_image(FirmwareSelection::spi(device.algo))
{
    setFirmwareRecords(firmwareImage(m_image).records);
    m_node = addMemoryNode(
        std::make_unique<CMemoryNode>(QStringLiteral("SPI"), 0, device.size, quint8(0xFF)));
    setChunkSize(CreationChunkSize);
    if (device.algo == SpiGeometry::Eeprom)
        setCapabilities(capabilities() &
                        ~quint32(EngineCapability::Erase | EngineCapability::BlankCheck));
}

SpiEngine::~SpiEngine()
{
    shutdown();
}

// --- helpers -------------------------------------------------------------------

void SpiEngine::queue(const SpiPacket &packet, int tag, quint8 kind, uint answerLength)
{
    enqueue(packet.bytes.data(), packet.length, tag, kind, answerLength);
}

quint32 SpiEngine::packetSize() const
{
    return transferPacketSize();
}

SpiGeometry SpiEngine::geometry() const
{
    return SpiGeometry::of(m_device, packetSize(), m_singleIo);
}

bool SpiEngine::claimNode()
{
    if (!m_claimed)
        m_claimed = m_node->TryLock();
    return m_claimed;
}

void SpiEngine::releaseNode()
{
    if (m_claimed)
        m_node->Unlock();
    m_claimed = false;
}

void SpiEngine::failJob(int job)
{
    m_operation = Operation::None;
    m_programPending = false;
    releaseNode();
    if (host())
        host()->jobFailed(job);
}

bool SpiEngine::knownBlank(quint64 start, quint64 length) const
{
    if (m_device.algo == SpiGeometry::Eeprom)
        return true;
    return length != 0 && start >= m_blankStart && start + length <= m_blankEnd;
}

void SpiEngine::setBlank(quint64 start, quint64 end)
{
    m_blankStart = start;
    m_blankEnd = end;
}

// --- ChipEngine operations --------------------------------------------------------

void SpiEngine::checkAdapter(int programmerKind)
{
    queue(SpiPackets::adapterCheck(programmerKind, linkPacketSize() == HighSpeedPacketSize,
                                   m_device.algo),
          -1, AnswerKind::AdapterCheck, AdapterAnswerLength);
}

void SpiEngine::writeLE32(quint8 *destination, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        destination[i] = quint8(value >> (8 * i));
}

quint64 SpiEngine::normalizeRange(quint64 &start, quint64 &length)
{
    const quint64 sector = m_device.sectorSize;
    const quint64 size = m_device.size;
    if (sector != 0) {
        start -= start % sector;
        length -= length % sector;
    }
    if (start > size)
        start = 0;
    if (length == 0 || length > size - start) {
        start = 0;
        length = size;
    }
    return length;
}

void SpiEngine::queryChipIdentification(int tag)
{
    quint8 bytes[10] = {SpiPackets::ReadId};
    enqueue(bytes, sizeof bytes, tag, AnswerKind::ChipId, IdAnswerLength);
}

int SpiEngine::detectChip()
{
    m_detecting = true;
    queue(SpiPackets::readId(SpiPackets::DetectLength), -1, AnswerKind::ChipId, IdAnswerLength);
    if (m_device.algo == SpiGeometry::DataFlash)
        queue(SpiPackets::dataFlashStatus(), -1, DataFlashStatus, DataFlashStatusLength);
    return JobCode::Detect;
}

CMemoryNode *SpiEngine::memoryNode(int index)
{
    return index == 0 ? m_node : nullptr;
}

void SpiEngine::loadImage(const QString &fileName)
{
    if (m_claimed || m_windowClaim || m_node->IsClaimed()) {
        log(text(UiTextId::Busy));
        return;
    }
    m_node->Load(fileName, true);
}

void SpiEngine::saveImage(const QString &tabName, const QString &fileName)
{
    if (tabName == m_node->name())
        m_node->Save(fileName);
}

void SpiEngine::fillRandom()
{
    if (m_claimed || m_windowClaim || m_node->IsClaimed()) {
        log(text(UiTextId::Busy));
        return;
    }
    const quint32 sector = m_device.sectorSize;
    if (sector == 0 || !m_node->CreateBackingFile())
        return;
    std::vector<quint8> buffer(sector);
    RandomWords random(RandomSeed);
    for (quint64 at = 0; at < m_device.size; at += sector) {
        for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) {
            const quint16 word = random.next();
            buffer[i] = quint8(word);
            buffer[i + 1] = quint8(word >> 8);
        }
        m_node->Write(buffer.data(), quint32(at), sector);
    }
}

bool SpiEngine::tryLockBuffer()
{
    if (m_windowClaim || !m_node->TryLock())
        return false;
    m_windowClaim = true;
    return true;
}

void SpiEngine::unlockBuffer()
{
    if (!m_windowClaim)
        return;
    m_windowClaim = false;
    m_node->Unlock();
}

void SpiEngine::setSpeed(int step)
{
    queue(SpiPackets::timing(step, geometry()));
}

void SpiEngine::initTarget()
{
    if (m_device.initCount > 0)
        queue(SpiPackets::startUp(m_device));
}

void SpiEngine::singleIoToggled(bool checked)
{
    m_singleIo = checked || m_device.io <= 1;
    setSpeed(m_device.speed);
    if (host())
        host()->setSpeedDisplay(m_device.speed);
}

void SpiEngine::operationFinished()
{
    // A read that ended early leaves the node's bytes after it as they were:
    // say so before anybody saves them as an image.
    if (m_operation == Operation::Read && m_readEnd < m_start + m_length)
        log(QStringLiteral("Read incomplete: %1 holds %2 of %3 bytes")
                .arg(m_node->name())
                .arg(m_readEnd - m_start)
                .arg(m_length));
    m_operation = Operation::None;
    m_programPending = false;
    releaseNode();
}

// --- starting an operation -----------------------------------------------------------

int SpiEngine::startRead(quint64 start, quint64 length, int operation)
{
    m_operation = operation == JobCode::Verify       ? Operation::Verify
                  : operation == JobCode::BlankCheck ? Operation::BlankCheck
                                                     : Operation::Read;
    m_operationKind = quint8(m_operation == Operation::Verify       ? JobCode::Verify
                             : m_operation == Operation::BlankCheck ? JobCode::BlankCheck
                                                                    : JobCode::Read);
    m_start = start;
    m_length = length;
    m_readEnd = start;
    checkThenStart(AnswerKind::ReadStart);
    return m_operationKind;
}

int SpiEngine::startErase(quint64 start, quint64 length)
{
    m_operation = Operation::Erase;
    m_operationKind = JobCode::Erase;
    m_programPending = false;
    m_start = start;
    m_length = length;
    checkThenStart(AnswerKind::EraseStart);
    return JobCode::Erase;
}

int SpiEngine::startProgram(quint64 start, quint64 length)
{
    if (m_windowClaim || m_node->IsClaimed()) {
        log(text(UiTextId::Busy));
        return CommandStatus::Failed;
    }
    m_operation = Operation::Program;
    m_operationKind = JobCode::Program;
    m_start = start;
    m_length = length;
    checkThenStart(AnswerKind::ProgramStart);
    return JobCode::Program;
}

void SpiEngine::checkThenStart(quint8 kind)
{
    // An EEPROM has no JEDEC identification (it answers FF FF FF): the
    // operation starts without the check.
    if (m_device.algo == SpiGeometry::Eeprom) {
        start();
        return;
    }
    queue(SpiPackets::readId(SpiPackets::CheckLength), -1, kind, IdAnswerLength);
}

void SpiEngine::confirmedStart(const EngineMessage &message)
{
    const Operation expected = message.kind() == AnswerKind::ReadStart    ? m_operation
                               : message.kind() == AnswerKind::EraseStart ? Operation::Erase
                                                                          : Operation::Program;
    if (m_operation == Operation::None || m_operation != expected || !host())
        return;
    const bool noChip = !message.hasData() || message.byteAt(0) == 0xFF;
    if (noChip && message.kind() == AnswerKind::ReadStart) {
        if (!host()->questions().confirm(text(UiTextId::AreYouSure),
                                         text(UiTextId::IdDetectionError))) {
            failJob(m_operationKind);
            return;
        }
    } else if (noChip) {
        host()->questions().warn(text(UiTextId::Error), text(UiTextId::IdDetectionError));
        failJob(m_operationKind);
        return;
    }
    start();
}

void SpiEngine::start()
{
    switch (m_operation) {
    case Operation::Read:
    case Operation::Verify:
    case Operation::BlankCheck:
        readChunks();
        break;
    case Operation::Erase:
        eraseSectors();
        break;
    case Operation::Program:
        if (!knownBlank(m_start, m_length)) {
            // Not known to be blank: erase first, program when it is done.
            m_operation = Operation::Erase;
            m_programPending = true;
            eraseSectors();
            break;
        }
        programSectors();
        break;
    case Operation::None:
        break;
    }
}

// --- read, verify, blank check --------------------------------------------------------

void SpiEngine::readChunks()
{
    if (!claimNode()) {
        log(text(UiTextId::Busy));
        failJob(m_operationKind);
        return;
    }
    const SpiGeometry g = geometry();
    const quint32 packet = packetSize();
    const quint32 chunk = std::max(packet, m_device.sectorSize);
    setChunkSize(chunk);
    if (host())
        host()->beginProgress(uint(m_start / packet), uint((m_length + packet - 1) / packet));
    quint64 address = m_start;
    uint position = uint(m_start / packet);
    quint64 remaining = m_length;
    while (remaining > 0) {
        const quint32 bytes = quint32(std::min<quint64>(chunk, remaining));
        const quint32 rounded = (bytes + packet - 1) / packet * packet;
        queue(SpiPackets::read(m_device, g, g.deviceAddress(address), rounded), int(position),
              m_operationKind, rounded);
        address += chunk;
        position += rounded / packet;
        remaining -= bytes;
    }
    sendOperationEnd(0);
}

void SpiEngine::readAnswer(const EngineMessage &message)
{
    if (!host() || !host()->operationRunning() || message.kind() != m_operationKind ||
        m_operation == Operation::None)
        return;
    const quint32 packet = packetSize();
    const uint packets = message.size() / packet;
    const quint64 address = quint64(message.tag()) * packet;
    if (!message.hasData() || address >= m_start + m_length) {
        log(QString::asprintf("Read answer missing at address %llX: ",
                              static_cast<unsigned long long>(address)) +
            text(UiTextId::Stop));
        host()->stopOperation();
        return;
    }
    // Answers come in whole packets; only the range's bytes count.
    const quint32 length = quint32(std::min<quint64>(message.size(), m_start + m_length - address));
    const quint8 *data = message.data();
    switch (m_operation) {
    case Operation::Read:
        m_node->Write(data, quint32(address), length);
        m_readEnd = address + length;
        host()->showChunkProgress(uint(message.tag()), packets, m_node);
        break;
    case Operation::Verify:
        host()->showVerifyProgress(uint(message.tag()), packets, m_node, address, data, length,
                                   nullptr);
        break;
    case Operation::BlankCheck: {
        const quint8 *end = data + length;
        const quint8 *dirty = std::find_if(data, end, [](quint8 b) { return b != 0xFF; });
        if (dirty != end) {
            log(text(UiTextId::FlashNotBlank) +
                QString::asprintf(
                    " %llX", static_cast<unsigned long long>(address + quint64(dirty - data))) +
                QString::asprintf(" ,target %02X", *dirty));
            setBlank(0, 0);
            host()->showBlankProgress(uint(message.tag()), packets, false);
            break;
        }
        if (address + length >= m_start + m_length)
            setBlank(m_start, m_start + m_length);
        host()->showBlankProgress(uint(message.tag()), packets, true);
        break;
    }
    default:
        break;
    }
}

// --- erase ------------------------------------------------------------------------------

void SpiEngine::eraseSectors()
{
    const SpiGeometry g = geometry();
    const quint32 sector = m_device.sectorSize;
    if (sector == 0) {
        failJob(m_programPending ? JobCode::Program : JobCode::Erase);
        return;
    }
    const quint64 count = m_length / sector;
    const quint64 first = m_start / sector;
    m_eraseFailed = false;
    log(text(UiTextId::EraseStarts));
    if (host())
        host()->beginProgress(uint(first), uint(count));
    quint64 address = m_start;
    for (quint64 i = 0; i < count; ++i) {
        const int tag = int(first + i + 1);
        queue(SpiPackets::eraseSector(m_device, g, g.deviceAddress(address)), tag,
              AnswerKind::Erase, EraseAnswerLength);
        if (m_device.algo == SpiGeometry::DataFlash && address == 0) {
            // DataFlash sector 0 is sectors 0a and 0b; 0b starts at page 8.
            const quint32 second = m_device.sectorSize == DataFlashLargeSector ? 0x2000 : 0x1000;
            queue(SpiPackets::eraseSector(m_device, g, second), tag, AnswerKind::Erase,
                  EraseAnswerLength);
        }
        address += sector;
    }
    sendOperationEnd(0);
}

void SpiEngine::eraseAnswer(const EngineMessage &message)
{
    if (!host() || m_operation != Operation::Erase)
        return;
    // Byte 0 is the chip's status, byte 1 is 1 when the chip stayed busy
    // past the programmer's time-out.
    if (!message.hasData() || message.size() < EraseAnswerLength || message.byteAt(1) != 0) {
        log(QString::asprintf("Erase failed: sector %d, status %02X", message.tag() - 1,
                              message.byteAt(0)));
        m_eraseFailed = true;
    }
    host()->showEraseProgress(uint(message.tag()));
}

bool SpiEngine::postEraseStep()
{
    if (m_operation != Operation::Erase)
        return true;
    if (m_eraseFailed) {
        // Nothing is known blank, and a program waiting for it does not start.
        setBlank(0, 0);
        failJob(m_programPending ? JobCode::Program : JobCode::Erase);
        return false;
    }
    setBlank(m_start, m_start + m_length);
    if (!m_programPending) {
        m_operation = Operation::None;
        return true;
    }
    // The program this erase was for follows; its end ends the job.
    m_programPending = false;
    m_operation = Operation::Program;
    programSectors();
    return false;
}

// --- program -----------------------------------------------------------------------------------

void SpiEngine::programSectors()
{
    if (!claimNode()) {
        log(text(UiTextId::Busy));
        failJob(JobCode::Program);
        return;
    }
    const SpiGeometry g = geometry();
    const quint32 unit = std::max<quint32>(g.programUnit, 1);
    m_programUnit.store(unit);
    const quint32 packet = packetSize();
    const quint32 sector = std::max<quint32>(m_device.sectorSize, unit);
    log(text(UiTextId::ProgramStarts));
    setChunkSize(sector);
    uint position = uint(m_start / unit);
    if (host())
        host()->beginProgress(position, uint((m_length + unit - 1) / unit));
    quint64 remaining = m_length;
    while (remaining > 0) {
        const quint32 bytes = quint32(std::min<quint64>(sector, remaining));
        const quint32 pages = (bytes + unit - 1) / unit;
        quint32 address = 0;
        quint32 count = 0;
        switch (g.algo) {
        case SpiGeometry::DataFlash:
            address = g.pagedAddresses() ? position << 10 : position * unit;
            count = pages;
            break;
        case SpiGeometry::Eeprom:
            address = position * unit;
            count =
                m_device.pageSize == 0 ? 0 : (bytes + m_device.pageSize - 1) / m_device.pageSize;
            break;
        default:
            address = position * unit;
            count = (bytes + packet - 1) / packet * packet / ProgramPage;
            break;
        }
        const uint size = g.algo == SpiGeometry::Eeprom ? bytes : pages * unit;
        auto descriptor =
            std::make_unique<EngineMessage>(int(position), size, AnswerKind::OperationEnd, false);
        const SpiPacket command = SpiPackets::program(m_device, g, address, count);
        enqueueWithData(command.bytes.data(), command.length, -1, 0, 0, std::move(descriptor));
        position += pages;
        remaining -= bytes;
    }
    queue(SpiPackets::endOfProgram(), int(position), AnswerKind::OperationEnd,
          ProgramEndAnswerLength);
    sendOperationEnd(0);
    // The range holds data now.
    setBlank(0, 0);
}

// Worker thread: the data of a program command, right after it went out.
void SpiEngine::packetSent(const EngineRequest &request)
{
    if (request.code() != SpiPackets::ProgramPages)
        return;
    OutgoingItem item = takeOutgoing();
    if (!item.descriptor)
        return;
    const quint32 unit = m_programUnit.load();
    std::vector<quint8> buffer(item.descriptor->size(), 0xFF);
    m_node->Read(quint64(item.descriptor->tag()) * unit, buffer.data(), buffer.size());
    const uint written = sendData(buffer.data(), uint(buffer.size()));
    reportProgress(uint(item.descriptor->tag()), written / unit);
}

bool SpiEngine::programEndFailed(const EngineMessage &message)
{
    if (m_operation != Operation::Program)
        return false;
    m_operation = Operation::None;
    return programEndReportsFailure(message);
}

// --- detection ------------------------------------------------------------------------------

void SpiEngine::idAnswer(const EngineMessage &message)
{
    OperationHost *h = host();
    if (!h || !m_detecting)
        return;
    m_detecting = false;
    // What the chip holds is unknown again.
    setBlank(0, 0);
    QByteArray bytes(3, char(0xFF));
    for (uint i = 0; i < 3 && i < message.size() && message.hasData(); ++i)
        bytes[int(i)] = char(message.byteAt(i));
    const bool noAnswer =
        quint8(bytes[0]) == 0xFF && quint8(bytes[1]) == 0xFF && quint8(bytes[2]) == 0xFF;
    CDeviceItem *found = nullptr;
    if (noAnswer) {
        // Nothing answered, or an EEPROM (they have no JEDEC ID): records
        // whose ID reads FF FF FF are not chosen by it.
        if (m_device.algo == SpiGeometry::Eeprom)
            found = &m_device;
    } else if (m_device.matchId(bytes)) {
        found = &m_device;
    } else {
        found = h->deviceCatalogue().findById(CDeviceItem::SpiKind, bytes, false);
    }
    if (!found && noAnswer) {
        m_detectedId = {0xFF, 0xFF, 0xFF};
        unknownChip();
        return;
    }
    if (!found) {
        for (int i = 0; i < 3; ++i)
            m_detectedId[std::size_t(i)] = quint8(bytes[i]);
        setChunkSize(SfdpChunk);
        queue(SpiPackets::readSfdp(), 0, AnswerKind::ChipTable, SfdpChunk);
        return;
    }
    h->deviceCatalogue().reportDuplicates([this](const QString &line) { log(line); },
                                          CDeviceItem::SpiKind, bytes);
    if (found == &m_device || found->name == h->currentTargetName()) {
        log(found->displayName());
        initTarget();
        h->jobEnded(JobCode::Detect);
        return;
    }
    h->setTarget(found->name, true);
    h->endJobWhenReady(JobCode::Detect);
}

void SpiEngine::sfdpAnswer(const EngineMessage &message)
{
    OperationHost *h = host();
    if (!h)
        return;
    if (!message.hasData() || message.size() < SfdpMinimum) {
        unknownChip();
        return;
    }
    const SfdpParameters parameters = CDeviceItemSPIFlash::parseSfdp(
        QByteArray(reinterpret_cast<const char *>(message.data()), qsizetype(message.size())));
    CDeviceFamily *family = h->deviceCatalogue().spi();
    auto *placeholder =
        family ? static_cast<CDeviceItemSPIFlash *>(family->placeholder()) : nullptr;
    if (parameters.valid && placeholder) {
        placeholder->id[0] = m_detectedId[0];
        placeholder->fillFromSfdp(parameters, family);
        h->setTarget(placeholder->name, true);
        h->endJobWhenReady(JobCode::Detect);
        return;
    }
    unknownChip();
}

void SpiEngine::unknownChip()
{
    OperationHost *h = host();
    log(text(UiTextId::UnknownDevice));
    log(QString::asprintf("%02x,%02x,%02x", m_detectedId[0], m_detectedId[1], m_detectedId[2]));
    if (m_detectedId[0] == 0xFF) {
        log(QStringLiteral(" "));
        log(text(UiTextId::IdDetectionError));
        h->jobFailed(JobCode::Detect);
        return;
    }
    QStringList preset;
    for (quint8 byte : m_detectedId)
        preset << QString::asprintf("%02xh", byte);
    const QString line =
        h->questions().defineDevice(CDeviceItem::SpiKind, QStringLiteral("New SPI"), preset);
    if (!line.isEmpty()) {
        log(line);
        h->openCatalogueFile(CDeviceItem::SpiKind);
    }
    h->jobFailed(JobCode::Detect);
}

void SpiEngine::dataFlashStatusAnswer(const EngineMessage &message)
{
    if (!message.hasData() || message.size() < 1)
        return;
    const bool smallPages = (message.byteAt(0) & 0x01) != 0;
    const bool largeSectors = m_device.sectorSize == DataFlashLargeSector;
    if (smallPages == largeSectors)
        log(QStringLiteral("AT45 Config page size error"));
}

// --- answers ----------------------------------------------------------------------------------

bool SpiEngine::handleReply(EngineMessage &message)
{
    switch (message.kind()) {
    case AnswerKind::ReadStart:
    case AnswerKind::EraseStart:
    case AnswerKind::ProgramStart:
        confirmedStart(message);
        return true;
    case AnswerKind::Read:
    case AnswerKind::Verify:
    case AnswerKind::BlankCheck:
        readAnswer(message);
        return true;
    case AnswerKind::Erase:
        eraseAnswer(message);
        return true;
    case AnswerKind::ChipId:
        idAnswer(message);
        return true;
    case AnswerKind::ChipTable:
        sfdpAnswer(message);
        return true;
    case DataFlashStatus:
        dataFlashStatusAnswer(message);
        return true;
    default:
        return false;
    }
}
