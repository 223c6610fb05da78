#include "NandEngine.h"

#include "AnswerKind.h"
#include "CDeviceItemNand.h"
#include "CFileMemoryNode.h"
#include "MultipleReadCorrection.h"
#include "NandPackets.h"
#include "NandProgramChunk.h"
#include "OperationHost.h"
#include "ProgramObjects.h"
#include "QuestionHost.h"
#include "Settings.h"
#include "UiTextId.h"
#include "UsbDriverTable.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int HighSpeedPacketSize = 512;
constexpr uint AdapterAnswerLength = 2;
constexpr uint IdAnswerLength = 6;
constexpr uint ChipIdQueryLength = 10;
constexpr uint ChipIdAnswerLength = 4;
constexpr uint EraseAnswerLength = 2;
constexpr uint ProgramEndAnswerLength = 2;
constexpr uint MarkerAnswerLength = 2;
constexpr int SpareBytesChecked = 6;

// Answer kinds of the NAND operations.
enum : quint8 {
    ScanAnswer = 'N',
    SourceBlock = 'T',
    // The bad-block mark of a block before it is erased.
    MarkAnswer = 'M',
};

QString text(int id)
{
    return uiText().text(id);
}

// The platform's classic 15-bit pseudo-random generator, seeded with 1.
class RandomWords
{
public:
    quint16 next()
    {
        m_state = m_state * 214013u + 2531011u;
        return quint16((m_state >> 16) & 0x7FFF);
    }

private:
    quint32 m_state = 1;
};

} // namespace

NandEngine::NandEngine(UsbDriverTable &usb, CDeviceItemNand &device, Settings &settings,
                       QObject *parent)
    : ChipEngine(usb, parent), m_device(device), m_settings(settings),
      m_boardFlag(settings.boolean(Settings::BoardType, false)),
      m_image(FirmwareSelection::nand(m_boardFlag)), m_geometry(NandGeometry::of(device)),
      m_sourceTable(device), m_targetTable(device), m_window(m_sourceTable.blockCount())
{
    setFirmwareRecords(firmwareImage(m_image).records);
    m_nand = static_cast<CFileMemoryNode *>(
        addMemoryNode(std::make_unique<CFileMemoryNode>(QStringLiteral("Nand"), 0, device.size)));
    m_target = static_cast<CFileMemoryNode *>(
        addMemoryNode(std::make_unique<CFileMemoryNode>(QStringLiteral("Target"), 0, device.size)));
    m_nandWindow = {0, device.size};
    m_targetWindow = {0, device.size};
    setChunkSize(CreationChunkSize);
    setCapabilities((capabilities() | EngineCapability::NandTools) &
                    ~quint32(EngineCapability::Save));
}

NandEngine::~NandEngine()
{
    shutdown();
}

// --- helpers -------------------------------------------------------------------

void NandEngine::queue(const NandPacket &packet, int tag, quint8 kind, uint answerLength)
{
    enqueue(packet.bytes.data(), packet.length, tag, kind, answerLength);
}

quint32 NandEngine::packetSize() const
{
    return transferPacketSize();
}

quint32 NandEngine::chipOfPage(quint64 page) const
{
    return m_geometry.pagesPerChip == 0 ? 0 : quint32(page / m_geometry.pagesPerChip);
}

quint32 NandEngine::rowOfPage(quint64 page) const
{
    return m_geometry.pagesPerChip == 0 ? quint32(page) : quint32(page % m_geometry.pagesPerChip);
}

void NandEngine::selectChip(quint32 chip)
{
    queue(NandPackets::selectChip(quint8(chip)));
    m_selectedChip = chip;
}

void NandEngine::selectChipOfPage(quint64 page)
{
    const quint32 chip = chipOfPage(page);
    if (qint64(chip) != m_selectedChip)
        selectChip(chip);
}

void NandEngine::setNandWindow(quint64 base, quint64 size)
{
    m_nandWindow = {base, size};
    m_nand->SetWindow(base, size);
}

void NandEngine::setTargetWindow(quint64 base, quint64 size)
{
    m_targetWindow = {base, size};
    m_target->SetWindow(base, size);
}

bool NandEngine::nodesClaimed() const
{
    return m_nandClaimed || m_targetClaimed || m_windowClaim || m_nand->IsClaimed() ||
           m_target->IsClaimed();
}

void NandEngine::claimNodes()
{
    if (!m_nandClaimed)
        m_nandClaimed = m_nand->TryLock();
    if (!m_targetClaimed)
        m_targetClaimed = m_target->TryLock();
}

void NandEngine::releaseNodes()
{
    if (m_nandClaimed)
        m_nand->Unlock();
    if (m_targetClaimed)
        m_target->Unlock();
    m_nandClaimed = false;
    m_targetClaimed = false;
}

bool NandEngine::hasGeometry() const
{
    return m_geometry.blockBytes != 0 && m_device.pageSize != 0 && m_sourceTable.blockCount() != 0;
}

bool NandEngine::refuseWithoutGeometry()
{
    if (hasGeometry())
        return false;
    log(m_device.displayName() + QStringLiteral(": ") + text(UiTextId::UnsupportedPageSize));
    return true;
}

CFileMemoryNode *NandEngine::programSource() const
{
    return m_target->GetSize() != 0 ? m_target : m_nand;
}

const NandEngine::Window &NandEngine::windowOf(const CFileMemoryNode *node) const
{
    return node == m_target ? m_targetWindow : m_nandWindow;
}

void NandEngine::queueOperationStart(quint8 kind)
{
    selectChip(0);
    queue(NandPackets::readId(), -1, kind, IdAnswerLength);
}

void NandEngine::failJob(int job)
{
    m_operation = Operation::None;
    releaseNodes();
    if (host())
        host()->jobFailed(job);
}

// --- ChipEngine operations --------------------------------------------------------

void NandEngine::exportBlocks(quint64 firstBlock, quint64 blockCount, const QString &fileName)
{
    const quint64 address = firstBlock * blockBytes();
    const quint64 offset = address >= m_nandWindow.base ? address - m_nandWindow.base : address;
    m_nand->ExportRange(offset, blockCount * blockBytes(), fileName);
}

void NandEngine::checkAdapter(int programmerKind)
{
    queue(NandPackets::adapterCheck(programmerKind, linkPacketSize() == HighSpeedPacketSize,
                                    m_geometry),
          -1, AnswerKind::AdapterCheck, AdapterAnswerLength);
}

void NandEngine::writeLE32(quint8 *destination, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        destination[i] = quint8(value >> (8 * i));
}

quint64 NandEngine::normalizeRange(quint64 &start, quint64 &length)
{
    readWindowEdits();
    const quint64 block = blockBytes();
    if (block == 0) {
        start = 0;
        length = 0;
        return 0;
    }
    start -= start % block;
    length -= length % block;
    const quint64 size = quint64(m_sourceTable.blockCount()) * block;
    if (start > size)
        start = 0;
    if (length > size - start) {
        start = 0;
        length = size;
    } else if (length == 0) {
        start = 0;
        length = size;
    }
    // Every operation stays inside the block window.
    const quint64 windowStart = quint64(m_window.startBlock()) * block;
    const quint64 windowEnd = windowStart + quint64(m_window.blockCount()) * block;
    const quint64 first = std::max(start, windowStart);
    const quint64 end = std::min(start + length, windowEnd);
    if (first >= end) {
        start = windowStart;
        length = windowEnd - windowStart;
    } else {
        start = first;
        length = end - first;
    }
    return length;
}

void NandEngine::queryChipIdentification(int tag)
{
    quint8 bytes[ChipIdQueryLength] = {NandPackets::ReadId};
    enqueue(bytes, sizeof bytes, tag, AnswerKind::ChipId, ChipIdAnswerLength);
}

int NandEngine::detectChip()
{
    m_detection.start(*this);
    return JobCode::Detect;
}

CMemoryNode *NandEngine::memoryNode(int index)
{
    switch (index) {
    case 0:
        return m_nand;
    case 1:
        return m_target;
    default:
        return nullptr;
    }
}

void NandEngine::saveImage(const QString &, const QString &) {}

bool NandEngine::tryLockBuffer()
{
    if (m_windowClaim || !m_nand->TryLock())
        return false;
    m_windowClaim = true;
    return true;
}

void NandEngine::unlockBuffer()
{
    if (!m_windowClaim)
        return;
    m_windowClaim = false;
    m_nand->Unlock();
}

void NandEngine::setSpeed(int step)
{
    queue(NandPackets::timing(step));
}

void NandEngine::initTarget()
{
    queue(NandPackets::pins(m_device));
    m_window.reset();
}

void NandEngine::toggleBoardType()
{
    m_boardFlag = !m_boardFlag;
    m_settings.setBoolean(Settings::BoardType, m_boardFlag);
    m_image = FirmwareSelection::nand(m_boardFlag);
    setFirmwareRecords(firmwareImage(m_image).records);
}

void NandEngine::reportChipEnables()
{
    log(QString::asprintf("CE Pin = %d", m_device.ce));
}

void NandEngine::newChip()
{
    m_targetTable.clear();
    m_target->CloseBackingFile();
    if (host())
        host()->refreshBadBlocks(2);
}

void NandEngine::startBlockEdited(const QString &text)
{
    m_window.startEdited(text);
    emit windowChanged();
}

void NandEngine::operationFinished()
{
    // A read that ended early keeps every byte it read: its file holds
    // exactly those, and the log says which file and how much of the range.
    if (m_operation == Operation::Read && m_nand->hasBackingFile() && m_nand->GetSize() < m_length)
        log(QStringLiteral("Read incomplete: %1 holds %2 of %3 bytes")
                .arg(m_nand->backingFileName())
                .arg(m_nand->GetSize())
                .arg(m_length));
    m_smartCopy.stop(*this);
    m_operation = Operation::None;
    m_plan.clear();
    releaseNodes();
}

// --- images ------------------------------------------------------------------------

void NandEngine::loadImage(const QString &fileName)
{
    if (nodesClaimed()) {
        log(text(UiTextId::Busy));
        return;
    }
    readWindowEdits();
    m_nand->CloseBackingFile();
    m_target->CloseBackingFile();
    const quint64 start = quint64(m_window.startBlock()) * blockBytes();
    const quint64 size = quint64(m_window.blockCount()) * blockBytes();
    setNandWindow(start, size);
    setTargetWindow(start, size);
    m_nand->Load(fileName, true);
    m_sourceTable.clear();
    buildSourceTable();
}

void NandEngine::fillRandom()
{
    if (nodesClaimed()) {
        log(text(UiTextId::Busy));
        return;
    }
    if (refuseWithoutGeometry() || !m_nand->CreateBackingFile())
        return;
    setNandWindow(0, m_device.size);
    const quint64 pages = m_device.size / m_device.pageSize;
    std::vector<quint8> page(m_device.pageSize, 0xFF);
    RandomWords random;
    for (quint64 p = 0; p < pages; ++p) {
        for (size_t i = 0; i + 1 < page.size(); i += 2) {
            const quint16 word = random.next();
            page[i] = quint8(word);
            page[i + 1] = quint8(word >> 8);
        }
        if (!m_nand->Append(page.data(), page.size()))
            return;
    }
}

void NandEngine::saveSourceTable(const QString &fileName)
{
    if (!m_sourceTable.save(fileName))
        log(fileName + QLatin1Char(' ') + text(UiTextId::FileError));
}

void NandEngine::loadSourceTable(const QString &fileName)
{
    m_sourceTable.load(fileName);
    if (host())
        host()->refreshBadBlocks(0);
}

// --- smart copy and multiple read correction ---------------------------------------

int NandEngine::startSmartCopy()
{
    return m_smartCopy.start(*this);
}

void NandEngine::multipleReadCorrection(bool withArgument)
{
    readWindowEdits();
    if (withArgument || !host())
        return;
    if (nodesClaimed()) {
        log(text(UiTextId::Busy));
        return;
    }
    if (m_nand->GetSize() != m_device.size || blockBytes() == 0) {
        log(text(UiTextId::SizeDoesNotMatch));
        return;
    }
    QStringList files;
    if (!host()->questions().selectFiles(m_nand->backingFileName(), host()->lastUsedFolder(),
                                         files))
        return;
    if (files.size() < 2) {
        log(text(UiTextId::FileError));
        return;
    }
    MultipleReadCorrection::Output output;
    output.base = quint64(m_window.startBlock()) * blockBytes();
    output.size = quint64(m_window.blockCount()) * blockBytes();
    output.hooks.log = m_nand->hooks().log;
    output.hooks.askSaveFileName = m_nand->hooks().askSaveFileName;
    output.hooks.rememberFile = m_nand->hooks().rememberFile;
    MultipleReadCorrection::run(*m_nand, files, m_device.size, blockBytes(), output,
                                [this](const QString &line) { log(line); });
}

// --- start operations ---------------------------------------------------------------

int NandEngine::startRead(quint64 start, quint64 length, int operation)
{
    if (refuseWithoutGeometry())
        return CommandStatus::Failed;
    if (operation == JobCode::Verify) {
        const CFileMemoryNode *node = m_target->GetSize() != 0 ? m_target : m_nand;
        const Window &window = windowOf(node);
        if (start < window.base || start + length > window.base + node->GetSize()) {
            log(text(UiTextId::NotEnoughData));
            return CommandStatus::Failed;
        }
    }
    m_operation = operation == JobCode::Verify       ? Operation::Verify
                  : operation == JobCode::BlankCheck ? Operation::BlankCheck
                                                     : Operation::Read;
    m_operationKind =
        quint8(operation == JobCode::Verify || operation == JobCode::BlankCheck ? operation
                                                                                : JobCode::Read);
    m_start = start;
    m_length = length;
    queueOperationStart(AnswerKind::ReadStart);
    return m_operationKind;
}

int NandEngine::startErase(quint64 start, quint64 length)
{
    if (refuseWithoutGeometry())
        return CommandStatus::Failed;
    // The target image may be streaming (a smart copy).
    if (nodesClaimed()) {
        log(text(UiTextId::Busy));
        return CommandStatus::Failed;
    }
    m_operation = Operation::Erase;
    m_operationKind = JobCode::Erase;
    m_start = start;
    m_length = length;
    m_target->CloseBackingFile();
    queueOperationStart(AnswerKind::EraseStart);
    return JobCode::Erase;
}

int NandEngine::startProgram(quint64 start, quint64 length)
{
    if (refuseWithoutGeometry())
        return CommandStatus::Failed;
    CFileMemoryNode *source = programSource();
    const Window &window = windowOf(source);
    if (source->GetSize() != window.size) {
        log(text(UiTextId::SizeDoesNotMatch));
        return CommandStatus::Error;
    }
    if (start < window.base || start + length > window.base + source->GetSize()) {
        log(text(UiTextId::NotEnoughData));
        return CommandStatus::Failed;
    }
    if (nodesClaimed()) {
        log(text(UiTextId::Busy));
        return CommandStatus::Failed;
    }
    m_operation = Operation::Program;
    m_operationKind = JobCode::Program;
    m_start = start;
    m_length = length;
    claimNodes();
    queueOperationStart(AnswerKind::ProgramStart);
    return JobCode::Program;
}

void NandEngine::confirmedStart(const EngineMessage &message)
{
    const Operation expected = message.kind() == AnswerKind::ReadStart    ? m_operation
                               : message.kind() == AnswerKind::EraseStart ? Operation::Erase
                                                                          : Operation::Program;
    if (m_operation == Operation::None || m_operation != expected)
        return;
    // No answer, or the bus's idle level: no chip answered.
    const bool noChip = !message.hasData() || message.byteAt(0) == 0xFF;
    if (noChip && host() &&
        !host()->questions().confirm(text(UiTextId::AreYouSure),
                                     text(UiTextId::IdDetectionError))) {
        failJob(m_operationKind);
        return;
    }
    switch (m_operation) {
    case Operation::Read:
    case Operation::Verify:
    case Operation::BlankCheck:
        readPages();
        break;
    case Operation::Erase:
        eraseBlocks();
        break;
    case Operation::Program:
        programPages();
        break;
    case Operation::None:
        break;
    }
}

// --- read, verify, blank check --------------------------------------------------------

void NandEngine::readPages()
{
    if (m_operation == Operation::Read) {
        if (!m_nand->CreateBackingFile()) {
            log(text(UiTextId::FileError));
            failJob(JobCode::Read);
            return;
        }
        // The new file holds exactly the range read.
        setNandWindow(m_start, m_length);
    }
    claimNodes();
    const quint32 packet = packetSize();
    const quint32 pageSize = m_device.pageSize;
    const quint64 block = blockBytes();
    const quint32 blockPackets = quint32((block + packet - 1) / packet);
    // Every answer of one block comes as one message.
    setChunkSize(blockPackets * packet);

    m_plan.start(packet);
    const uint firstTag = uint(m_start / packet);
    uint position = firstTag;
    quint64 page = m_start / pageSize;
    quint64 remaining = m_length;
    std::vector<std::pair<NandPacket, NandReadPlan::Request>> requests;
    while (remaining > 0) {
        const quint32 pages = quint32(std::min<quint64>(remaining, block) / pageSize);
        if (pages == 0)
            break;
        const quint32 bytes = pages * pageSize;
        const quint32 packets = (bytes + packet - 1) / packet;
        NandReadPlan::Request request{page * pageSize, bytes, packets, int(position)};
        requests.emplace_back(NandPackets::pages(NandPackets::ReadPages, m_geometry,
                                                 rowOfPage(page), pageSize, pages),
                              request);
        m_plan.add(request);
        position += packets;
        page += pages;
        remaining -= std::min<quint64>(remaining, block);
    }
    if (host())
        host()->beginProgress(firstTag, position - firstTag);
    selectChip(chipOfPage(m_start / pageSize));
    for (const auto &[command, request] : requests) {
        selectChipOfPage(request.address / pageSize);
        queue(command, request.firstTag, m_operationKind, request.packets * packet);
    }
    sendOperationEnd(0);
}

void NandEngine::readFailed(const QString &line)
{
    log(line);
    m_plan.clear();
    if (host())
        host()->stopOperation();
}

void NandEngine::readAnswer(EngineMessage &message)
{
    if (!host() || !host()->operationRunning() || m_operationKind != message.kind())
        return;
    NandReadPlan::Piece piece;
    if (!message.hasData()) {
        readFailed(QString::asprintf("Read answer missing at address %llX: ",
                                     static_cast<unsigned long long>(m_plan.expectedAddress())) +
                   text(UiTextId::Stop));
        return;
    }
    switch (m_plan.place(message.tag(), message.size(), piece)) {
    case NandReadPlan::Result::Unexpected:
        return;
    case NandReadPlan::Result::Missing:
        readFailed(QString::asprintf("Read answer missing at address %llX: ",
                                     static_cast<unsigned long long>(m_plan.expectedAddress())) +
                   text(UiTextId::Stop));
        return;
    case NandReadPlan::Result::Placed:
        break;
    }
    const uint packets = message.size() / m_plan.packetSize();
    const quint8 *data = message.data();
    switch (message.kind()) {
    case JobCode::Read:
        if (piece.length && !m_nand->Append(data, piece.length)) {
            readFailed(text(UiTextId::FileError));
            return;
        }
        host()->showChunkProgress(uint(message.tag()), packets, m_nand);
        break;
    case JobCode::Verify: {
        CFileMemoryNode *node = m_target->GetSize() != 0 ? m_target : m_nand;
        const BadBlockSkip skip = (node == m_target ? m_targetTable : m_sourceTable).skip();
        host()->showVerifyProgress(uint(message.tag()), packets, piece.length ? node : nullptr,
                                   piece.address, data, piece.length, &skip);
        break;
    }
    default: {
        bool blank = true;
        const quint64 block = blockBytes();
        for (quint32 i = 0; i < piece.length; ++i) {
            if (data[i] == 0xFF)
                continue;
            const quint64 address = piece.address + i;
            const quint64 bad = address / block;
            if (m_targetTable.isBad(quint32(bad))) {
                const quint64 next = (bad + 1) * block - piece.address;
                i = quint32(std::min<quint64>(next, piece.length)) - 1;
                continue;
            }
            log(text(UiTextId::FlashNotBlank) +
                QString::asprintf(" %llX", static_cast<unsigned long long>(address)) +
                QString::asprintf(" ,target %02X", data[i]));
            blank = false;
            break;
        }
        host()->showBlankProgress(uint(message.tag()), packets, blank);
        break;
    }
    }
}

void NandEngine::postReadStep()
{
    // Only a read of this engine has put a new image into "Nand".
    if (m_operation != Operation::Read)
        return;
    m_operation = Operation::None;
    m_sourceTable.clear();
    buildSourceTable();
}

// --- erase and the target scan -----------------------------------------------------------

void NandEngine::eraseBlocks()
{
    const quint64 blocks = m_length / blockBytes();
    const quint64 startPage = m_start / m_device.pageSize;
    m_eraseFailed.clear();
    if (host())
        host()->beginProgress(uint(startPage), uint(blocks));
    log(text(UiTextId::EraseStarts));
    // A factory bad block is never erased: its mark would be gone for good.
    // Blocks the target table does not know yet get their mark read first
    // (the first spare byte of their first page).
    m_dataBytes = BadBlockTable::dataBytes(m_device.pageSize);
    const quint32 first = quint32(m_start / blockBytes());
    std::vector<quint32> unknown;
    for (quint32 k = 0; k < blocks; ++k) {
        if (m_targetTable.state(first + k) == BadBlockTable::Unknown)
            unknown.push_back(first + k);
    }
    if (m_dataBytes == 0 || unknown.empty()) {
        queueErases();
        return;
    }
    const quint32 packet = packetSize();
    const quint32 answer = (m_device.pageSize + packet - 1) / packet * packet;
    setChunkSize(answer);
    selectChip(chipOfPage(quint64(unknown.front()) * quint64(m_device.blockSize)));
    for (const quint32 block : unknown) {
        const quint64 page = quint64(block) * quint64(m_device.blockSize);
        selectChipOfPage(page);
        queue(NandPackets::pages(NandPackets::ReadPages, m_geometry, rowOfPage(page),
                                 m_device.pageSize, 1),
              int(block + 1), MarkAnswer, answer);
    }
    enqueueMarker(-1, MarkAnswer, MarkerAnswerLength);
}

void NandEngine::markAnswer(const EngineMessage &message)
{
    if (m_operation != Operation::Erase)
        return;
    if (message.tag() < 0) {
        queueErases();
        return;
    }
    // Only a mark is taken: a block is called good by the scan after the
    // erase. A block whose mark did not come is not erased either: it may
    // be a factory bad block.
    const quint32 block = quint32(message.tag() - 1);
    if (!message.hasData() || message.size() <= m_dataBytes) {
        log(QStringLiteral("Bad-block mark not read: block %1 not erased").arg(block));
        m_targetTable.setState(block, BadBlockTable::Bad);
        m_eraseFailed.insert(block);
    } else if (message.byteAt(m_dataBytes) != 0xFF) {
        m_targetTable.setState(block, BadBlockTable::Bad);
    }
}

void NandEngine::queueErases()
{
    const quint64 blocks = m_length / blockBytes();
    quint64 page = m_start / m_device.pageSize;
    const quint64 startPage = page;
    selectChip(chipOfPage(page));
    for (quint64 n = 1; n <= blocks; ++n) {
        const quint32 block = quint32(page / quint64(m_device.blockSize));
        if (m_targetTable.isBad(block)) {
            // Its answer in the erase's order, reporting nothing failed.
            enqueueMarker(int(startPage + n), AnswerKind::Erase, EraseAnswerLength);
        } else {
            selectChipOfPage(page);
            queue(NandPackets::eraseBlock(m_geometry, rowOfPage(page)), int(startPage + n),
                  AnswerKind::Erase, EraseAnswerLength);
        }
        page += quint64(m_device.blockSize);
    }
    sendOperationEnd(0);
}

void NandEngine::eraseAnswer(const EngineMessage &message)
{
    if (!host() || m_operation != Operation::Erase)
        return;
    const quint64 startPage = m_start / m_device.pageSize;
    const quint64 n = quint64(message.tag()) - startPage;
    const quint32 block = quint32(startPage / quint64(m_device.blockSize) + n - 1);
    // Byte 0 is the chip's status register: ready, without FAIL. A block
    // the table called bad was not erased: its answer is our own marker.
    constexpr quint8 Ready = 0x40;
    constexpr quint8 Fail = 0x01;
    const bool skipped = m_targetTable.isBad(block);
    if (!skipped && (!message.hasData() || message.size() < EraseAnswerLength ||
                     message.byteAt(1) != 0 || (message.byteAt(0) & (Ready | Fail)) != Ready)) {
        log(QString::asprintf("Erase failed: block %u, status %02X", block, message.byteAt(0)));
        m_eraseFailed.insert(block);
        m_targetTable.setState(block, BadBlockTable::Bad);
    }
    host()->showEraseProgress(uint(message.tag()));
}

bool NandEngine::postEraseStep()
{
    m_operation = Operation::None;
    scanTargetBlocks(m_start, m_length);
    return false;
}

void NandEngine::scanTargetBlocks(quint64 start, quint64 length)
{
    m_target->CloseBackingFile();
    const quint64 block = blockBytes();
    m_scanBlocks = block == 0 ? 0 : quint32(length / block);
    m_scanFirst = block == 0 ? 0 : quint32(start / block);
    m_scanAnswered = 0;
    m_scanning = true;
    m_scanIncomplete = false;
    if (host())
        host()->showTableProgress(0, m_scanBlocks);
    if (m_scanBlocks == 0) {
        endScan();
        return;
    }
    const quint32 packet = packetSize();
    selectChip(0);
    for (quint32 k = 0; k < m_scanBlocks; ++k) {
        const quint64 page = quint64(m_scanFirst + k) * quint64(m_device.blockSize);
        selectChipOfPage(page);
        queue(NandPackets::scanBlock(m_geometry, rowOfPage(page), packet), int(m_scanFirst + k + 1),
              ScanAnswer, packet);
    }
    sendOperationEnd(0);
}

void NandEngine::scanAnswer(const EngineMessage &message)
{
    if (!m_scanning || message.tag() < 1)
        return;
    const quint32 tag = quint32(message.tag());
    const quint32 block = tag - 1;
    if (!message.hasData()) {
        // No answer: the block's state stays unknown, the erase is not done.
        m_targetTable.setState(block, BadBlockTable::Unknown);
        m_scanIncomplete = true;
        log(QStringLiteral("Scan answer missing: block %1").arg(block));
    }
    bool good = message.size() >= SpareBytesChecked && !m_eraseFailed.count(block);
    for (int i = 0; good && i < SpareBytesChecked; ++i)
        good = message.byteAt(uint(i)) == 0xFF;
    if (message.hasData()) {
        m_targetTable.setState(block, good ? BadBlockTable::Good : BadBlockTable::Bad);
        if (!good)
            log(text(UiTextId::TargetBadBlockNo) + QString::number(tag));
    }
    m_scanAnswered = tag - m_scanFirst;
    if (host())
        host()->showTableProgress(m_scanAnswered, m_scanBlocks);
    if (m_scanAnswered >= m_scanBlocks)
        endScan();
}

void NandEngine::endScan()
{
    m_scanning = false;
    if (!host())
        return;
    host()->showTableProgress(0, 0);
    host()->refreshBadBlocks(2);
    if (m_eraseFailed.empty() && !m_scanIncomplete)
        host()->jobEnded(JobCode::Erase);
    else
        host()->jobFailed(JobCode::Erase);
}

// --- the source table ----------------------------------------------------------------------

bool NandEngine::buildSourceTable()
{
    if (!isConnected())
        return false;
    const quint64 block = blockBytes();
    if (block == 0 || m_nand->GetSize() != m_nandWindow.size || m_nandWindow.size % block != 0) {
        log(text(UiTextId::SourceBbtTip) + QStringLiteral(", ") + text(UiTextId::SizeDoesNotMatch));
        return false;
    }
    m_dataBytes = BadBlockTable::dataBytes(m_device.pageSize);
    if (m_dataBytes == 0) {
        log(text(UiTextId::UnsupportedPageSize));
        return false;
    }
    const quint32 blocks = quint32(m_nandWindow.size / block);
    m_tableFirst = quint32(m_nandWindow.base / block);
    m_tableBlocks = blocks;
    if (host())
        host()->showTableProgress(0, blocks);
    if (quint64(blocks) * block > m_dataBytes) {
        for (quint32 n = 0; n < blocks; ++n)
            enqueueMarker(int(n), SourceBlock, MarkerAnswerLength);
    }
    enqueueMarker(-1, SourceBlock, MarkerAnswerLength);
    return true;
}

void NandEngine::sourceBlockAnswer(const EngineMessage &message)
{
    if (!host())
        return;
    if (message.tag() < 0) {
        host()->showTableProgress(0, 0);
        host()->refreshBadBlocks(0);
        host()->refreshBadBlocks(1);
        m_smartCopy.sourceTableBuilt(*this);
        return;
    }
    const quint32 n = quint32(message.tag());
    host()->showTableProgress(n, m_tableBlocks);
    quint8 spare[SpareBytesChecked];
    m_nand->Read(quint64(n) * blockBytes() + m_dataBytes, spare, sizeof spare);
    const bool good = spare[0] == 0xFF;
    m_sourceTable.setState(m_tableFirst + n, good ? BadBlockTable::Good : BadBlockTable::Bad);
    if (!good)
        log(text(UiTextId::SourceBadBlockNo) + QString::number(n + 1));
}

// --- program -----------------------------------------------------------------------------------

void NandEngine::programPages()
{
    const quint32 packet = packetSize();
    const quint32 pageSize = m_device.pageSize;
    CFileMemoryNode *source = programSource();
    const quint64 base = windowOf(source).base;
    m_programSource.store(source);
    setChunkSize(packet * pageSize);
    log(text(UiTextId::ProgramStarts));

    const uint firstTag = uint(m_start / packet);
    uint position = firstTag;
    quint64 page = m_start / pageSize;
    const quint64 endPage = (m_start + m_length) / pageSize;
    // The chunks first: the progress needs their packet count.
    struct Chunk
    {
        quint64 page;
        quint32 pages;
        quint32 packets;
        uint tag;
    };
    std::vector<Chunk> chunks;
    // A block the target table calls bad is left alone (programming it can
    // only fail) when nothing of the image is lost there: the smart-copy
    // image holds filler for it, an image of the same chip its bad block.
    const bool fromTarget = source == m_target;
    const auto skipped = [&](quint64 block) {
        return m_targetTable.isBad(quint32(block)) &&
               (fromTarget || m_sourceTable.isBad(quint32(block)));
    };
    const quint64 pagesPerBlock = quint64(m_device.blockSize);
    while (page < endPage) {
        quint64 pages = std::min<quint64>(endPage - page, packet);
        if (m_geometry.pagesPerChip != 0)
            pages = std::min<quint64>(pages, m_geometry.pagesPerChip - rowOfPage(page));
        {
            const quint64 block = page / pagesPerBlock;
            if (skipped(block)) {
                const quint64 next = std::min(endPage, (block + 1) * pagesPerBlock);
                position += quint32(((next - page) * pageSize + packet - 1) / packet);
                page = next;
                continue;
            }
            // A chunk ends before the next bad block.
            for (quint64 b = block + 1; b * pagesPerBlock < page + pages; ++b) {
                if (skipped(b)) {
                    pages = b * pagesPerBlock - page;
                    break;
                }
            }
        }
        const quint32 packets = quint32((pages * pageSize + packet - 1) / packet);
        chunks.push_back({page, quint32(pages), packets, position});
        position += packets;
        page += pages;
    }
    if (host())
        host()->beginProgress(firstTag, position - firstTag);
    selectChip(chipOfPage(m_start / pageSize));
    for (const Chunk &chunk : chunks) {
        selectChipOfPage(chunk.page);
        const quint32 bytes = chunk.pages * pageSize;
        auto descriptor = std::make_unique<NandProgramChunk>(int(chunk.tag), chunk.packets * packet,
                                                             AnswerKind::OperationEnd,
                                                             chunk.page * pageSize - base, bytes);
        const NandPacket command = NandPackets::pages(NandPackets::ProgramPages, m_geometry,
                                                      rowOfPage(chunk.page), pageSize, chunk.pages);
        enqueueWithData(command.bytes.data(), command.length, -1, 0, 0, std::move(descriptor));
    }
    queue(NandPackets::endOfProgram(), int(position), AnswerKind::OperationEnd,
          ProgramEndAnswerLength);
    sendOperationEnd(0);
}

// Worker thread: the data of a program command, right after it went out.
void NandEngine::packetSent(const EngineRequest &request)
{
    if (request.code() != NandPackets::ProgramPages)
        return;
    OutgoingItem item = takeOutgoing();
    if (!item.descriptor)
        return;
    const auto *chunk = static_cast<const NandProgramChunk *>(item.descriptor.get());
    CFileMemoryNode *source = m_programSource.load();
    std::vector<quint8> buffer(chunk->size(), 0xFF);
    if (source)
        source->Read(chunk->offset, buffer.data(), chunk->dataBytes);
    const uint written = sendData(buffer.data(), uint(buffer.size()));
    reportProgress(uint(chunk->tag()), written / std::max(packetSize(), 1u));
}

bool NandEngine::programEndFailed(const EngineMessage &message)
{
    if (m_operation != Operation::Program)
        return false;
    m_operation = Operation::None;
    return programEndReportsFailure(message);
}

// --- answers ----------------------------------------------------------------------------------

bool NandEngine::handleReply(EngineMessage &message)
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
    case ScanAnswer:
        scanAnswer(message);
        return true;
    case MarkAnswer:
        markAnswer(message);
        return true;
    case SourceBlock:
        sourceBlockAnswer(message);
        return true;
    case NandSmartCopy::BlockAnswer:
        m_smartCopy.answer(*this, message);
        return true;
    case AnswerKind::ChipId:
        m_detection.idAnswer(*this, message);
        return true;
    case AnswerKind::ChipTable:
        m_detection.parameterPage(*this, message);
        return true;
    default:
        return false;
    }
}
