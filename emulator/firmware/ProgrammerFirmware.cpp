#include "ProgrammerFirmware.h"

#include "NandProtocol.h"
#include "Packet.h"
#include "ProtocolError.h"
#include "SpiProtocol.h"

#include <algorithm>

namespace kvemu {

namespace {

constexpr std::uint8_t CommandPipe = 0x02;
constexpr std::uint8_t UnusedPipe = 0x04;
constexpr std::uint8_t ShortAnswerPipe = 0x86;
constexpr std::uint8_t BulkAnswerPipe = 0x88;

void putLe32(std::vector<std::uint8_t> &bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

ProgrammerFirmware::ProgrammerFirmware(FirmwareSettings settings, std::unique_ptr<ChipBoard> board,
                                       std::unique_ptr<ChipBoard> secondBoard)
    : m_settings(std::move(settings)), m_log(m_settings.logFile),
      m_board(board ? std::move(board) : std::make_unique<ChipBoard>(ChipBoardLayout{})),
      m_waitingBoard(std::move(secondBoard)),
      m_clock(m_settings.realistic), m_context{*m_board, m_answers, m_clock, 512},
      m_readsUntilFailure(m_settings.failRead)
{}

ProgrammerFirmware::~ProgrammerFirmware() = default;

void ProgrammerFirmware::onStart(const ImageInfo &image, LinkSpeed speed)
{
    std::lock_guard lock(m_mutex);
    ++m_starts;
    m_image = image;
    m_speed = speed;
    m_context.packetSize = speed == LinkSpeed::High ? 512 : 64;
    m_answers.clear();
    if (image.family == ImageFamily::Nand)
        m_family = std::make_unique<NandProtocol>(m_context);
    else
        m_family = std::make_unique<SpiProtocol>(m_context, image.number);
    if (!(m_starts == 1 && m_settings.startsRunning))
        m_log.download(image.name);
}

void ProgrammerFirmware::onStop()
{
    std::lock_guard lock(m_mutex);
    m_image.reset();
    m_answers.clear();
    m_family.reset();
}

chips::Nanos ProgrammerFirmware::usbTime(std::size_t bytes) const
{
    const double rate =
        m_speed == LinkSpeed::High ? m_settings.highSpeedRate : m_settings.fullSpeedRate;
    if (!(rate > 0.0))
        return 0;
    return static_cast<chips::Nanos>(static_cast<double>(bytes) * 1e9 / rate);
}

TransferResult ProgrammerFirmware::bulkOut(std::uint8_t endpoint,
                                           std::span<const std::uint8_t> data)
{
    std::lock_guard lock(m_mutex);
    if (endpoint != CommandPipe && endpoint != UnusedPipe)
        return TransferResult::failed(TransferStatus::Stall);
    m_clock.begin();
    m_clock.spend(usbTime(data.size()));
    if (endpoint == UnusedPipe) {
        m_log.error("pipe 1 is not used: " + std::to_string(data.size()) + " bytes dropped");
        return TransferResult::done(data.size());
    }
    try {
        if (m_family && m_family->expectedData() > 0) {
            const std::size_t take = static_cast<std::size_t>(
                std::min<std::uint64_t>(data.size(), m_family->expectedData()));
            m_log.data(take);
            m_family->data(data.first(take));
            if (take < data.size())
                m_log.error(std::to_string(data.size() - take) +
                            " bytes past the program data dropped");
        } else {
            const std::size_t answersBefore = m_answers.count();
            command(data);
            spoilNewAnswer(data[0], answersBefore);
        }
    } catch (const ProtocolError &e) {
        m_log.error(e.what());
    } catch (const std::exception &e) {
        m_log.error(std::string("chip image: ") + e.what());
    }
    return TransferResult::done(data.size());
}

void ProgrammerFirmware::command(std::span<const std::uint8_t> packet)
{
    m_log.command(packet);
    if (packet.empty())
        throw ProtocolError("empty packet");
    const std::uint8_t code = packet[0];
    switch (code) {
    case 0x2E:
        throw ProtocolError("delay request 0x2e never goes to the programmer");
    case 0x38:
        throw ProtocolError("marker request 0x38 never goes to the programmer");
    case 0x18:
    case 0x10:
    case 0x1D:
    case 0x30:
    case 0x33:
    case 0x35:
        baseCommand(packet);
        return;
    default:
        break;
    }
    if (!m_family)
        throw ProtocolError("no firmware runs");
    if (m_family->command(packet))
        return;
    if (code == 0x34) {
        baseCommand(packet);
        return;
    }
    throw ProtocolError("unknown command " + packet::hexByte(code));
}

void ProgrammerFirmware::baseCommand(std::span<const std::uint8_t> packet)
{
    switch (packet[0]) {
    case 0x18: {
        packet::requireLength(packet, 9);
        const bool wrongImage =
            m_image && m_image->family == ImageFamily::Nand && m_image->number != m_settings.board;
        std::vector<std::uint8_t> answer;
        putLe32(answer, m_settings.identification);
        putLe32(answer, wrongImage ? WrongImageMagic : Magic);
        m_answers.push(std::move(answer));
        return;
    }
    case 0x10: {
        packet::requireLength(packet, 10);
        const AdapterKind adapter = m_settings.adapter;
        const bool fitted = adapter != AdapterKind::None;
        const bool matches = (packet[1] == 0 && adapter == AdapterKind::Nand) ||
                             (packet[1] == 1 && adapter == AdapterKind::Spi);
        m_answers.push({static_cast<std::uint8_t>(matches ? 1 : 0),
                        static_cast<std::uint8_t>(fitted ? 1 : 0)});
        return;
    }
    case 0x1D:
    case 0x33:
        packet::requireLength(packet, 2);
        return;
    case 0x30:
    case 0x35:
        packet::requireLength(packet, 10);
        return;
    case 0x34:
        packet::requireLength(packet, 1);
        return;
    default:
        throw ProtocolError("unknown command " + packet::hexByte(packet[0]));
    }
}

TransferResult ProgrammerFirmware::bulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer)
{
    std::lock_guard lock(m_mutex);
    if (endpoint != ShortAnswerPipe && endpoint != BulkAnswerPipe)
        return TransferResult::failed(TransferStatus::Stall);
    m_clock.begin();
    try {
        if (m_readsUntilFailure > 0 && --m_readsUntilFailure == 0) {
            const std::size_t lost = m_answers.drop(buffer.size());
            m_log.error("read fault: " + std::to_string(lost) + " bytes lost");
            return TransferResult::failed(TransferStatus::Invalid);
        }
        const AnswerQueue::Taken taken = m_answers.take(buffer);
        // The firmware streams chip data through its USB buffers: chip reads
        // and packets overlap, the slower of the two sets the pace.
        m_clock.spend(std::max(taken.busy, usbTime(taken.bytes)));
        return TransferResult::done(taken.bytes);
    } catch (const std::exception &e) {
        m_log.error(std::string("chip image: ") + e.what());
        m_answers.clear();
        return TransferResult::failed(TransferStatus::Invalid);
    }
}

std::optional<ImageInfo> ProgrammerFirmware::runningImage() const
{
    std::lock_guard lock(m_mutex);
    return m_image;
}

std::uint64_t ProgrammerFirmware::pendingAnswerBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_answers.pendingBytes();
}

std::uint64_t ProgrammerFirmware::expectedProgramData() const
{
    std::lock_guard lock(m_mutex);
    return m_family ? m_family->expectedData() : 0;
}

ChipFamily ProgrammerFirmware::chipFamily() const
{
    std::lock_guard lock(m_mutex);
    return m_board->family();
}

bool ProgrammerFirmware::chipContents(unsigned chip, std::uint64_t offset,
                                      std::span<std::uint8_t> out) const
{
    std::lock_guard lock(m_mutex);
    try {
        return m_board->contents(chip, offset, out);
    } catch (const std::exception &) {
        return false;
    }
}

std::uint64_t ProgrammerFirmware::chipBytes(unsigned chip) const
{
    std::lock_guard lock(m_mutex);
    return m_board->chipBytes(chip);
}

std::optional<std::uint64_t> ProgrammerFirmware::setChipContents(unsigned chip,
                                                                 std::uint64_t offset,
                                                                 std::span<const std::uint8_t> data)
{
    std::lock_guard lock(m_mutex);
    try {
        return m_board->setContents(chip, offset, data);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

bool ProgrammerFirmware::hasSecondBoard() const
{
    std::lock_guard lock(m_mutex);
    return m_waitingBoard != nullptr;
}

unsigned ProgrammerFirmware::socketBoard() const
{
    std::lock_guard lock(m_mutex);
    return m_socketBoard;
}

bool ProgrammerFirmware::swapChips()
{
    std::lock_guard lock(m_mutex);
    if (!m_waitingBoard)
        return false;
    // The protocol handlers hold the board by reference: the boards trade
    // their contents, not their places.
    m_board->swap(*m_waitingBoard);
    m_socketBoard = 1 - m_socketBoard;
    m_log.socket(m_socketBoard);
    return true;
}

unsigned ProgrammerFirmware::starts() const
{
    std::lock_guard lock(m_mutex);
    return m_starts;
}

void ProgrammerFirmware::failRead(unsigned nth)
{
    std::lock_guard lock(m_mutex);
    m_readsUntilFailure = nth;
}

void ProgrammerFirmware::spoilAnswer(AnswerFault fault, std::uint8_t code, unsigned nth)
{
    std::lock_guard lock(m_mutex);
    m_spoilt = SpoiltAnswer{fault, code, std::max(nth, 1u)};
}

void ProgrammerFirmware::spoilNewAnswer(std::uint8_t code, std::size_t answersBefore)
{
    if (!m_spoilt || m_spoilt->code != code || m_answers.count() <= answersBefore ||
        --m_spoilt->answersUntil > 0)
        return;
    std::unique_ptr<AnswerSource> answer = m_answers.takeLast();
    const std::uint64_t length = answer->remaining();
    auto spoilt = std::make_unique<HostileAnswer>(std::move(answer), m_spoilt->fault);
    m_log.fault(std::string(answerFaultName(m_spoilt->fault)) + " " + packet::hexByte(code) + ": " +
                std::to_string(spoilt->remaining()) + " of " + std::to_string(length) + " bytes");
    m_answers.push(std::move(spoilt));
    m_spoilt.reset();
}

std::chrono::steady_clock::time_point ProgrammerFirmware::readyAt() const
{
    std::lock_guard lock(m_mutex);
    return m_clock.readyAt();
}

void ProgrammerFirmware::setClock(std::function<std::chrono::steady_clock::time_point()> clock)
{
    std::lock_guard lock(m_mutex);
    m_clock.setClock(std::move(clock));
}

} // namespace kvemu
