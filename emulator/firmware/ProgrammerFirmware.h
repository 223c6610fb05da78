#pragma once

#include "AnswerQueue.h"
#include "ChipBoard.h"
#include "CommandLog.h"
#include "DeviceClock.h"
#include "FamilyProtocol.h"
#include "FirmwareSettings.h"
#include "FirmwareSide.h"
#include "HostileAnswer.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace kvemu {

// The programmer's firmware: it answers the program's commands on the bulk
// pipes with the chips on a ChipBoard.
//
// Pipe 0 (EP 0x02) takes one command packet per transfer, or, after a
// program command, its data. Answers queue in the order the commands
// produced them and are read from pipe 2 or 3 (EP 0x86, 0x88) in any chunks;
// a read with nothing pending answers 0 bytes at once. Pipe 1 (EP 0x04) is
// not used: its bytes are dropped and logged as an error.
//
// Base commands, in every image:
//   0x18 identification: the identification word, then the magic 0x170640DD
//        (0xDD400617 when a NAND image runs that does not fit the board)
//   0x10 adapter check: byte 0 = 1 when the adapter matches the programmer
//        kind in byte 1 (0 NAND, 1 SPI), byte 1 = 1 when an adapter is fitted
//   0x1D, 0x30 (timing), 0x33 (operation end), 0x34, 0x35 (pins), 0x36:
//        taken without an answer (0x34 and 0x36 act in their family)
// and the family's commands (NandProtocol, SpiProtocol). Delay (0x2E) and
// marker (0x38) requests, unknown codes and short packets are protocol
// errors: logged, answered with nothing.
//
// A second board, when given, waits beside the socket: swapChips() puts it
// in and the one in the socket aside, both keeping their contents.
//
// Thread-safe; the USB model calls it with its own lock held.
class ProgrammerFirmware : public FirmwareSide
{
public:
    static constexpr std::uint32_t Magic = 0x170640DD;
    static constexpr std::uint32_t WrongImageMagic = 0xDD400617;

    ProgrammerFirmware(FirmwareSettings settings, std::unique_ptr<ChipBoard> board,
                       std::unique_ptr<ChipBoard> secondBoard = nullptr);
    ~ProgrammerFirmware() override;

    void onStart(const ImageInfo &image, LinkSpeed speed) override;
    TransferResult bulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data) override;
    TransferResult bulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) override;
    void onStop() override;

    // --- inspection and faults (any thread) ---------------------------------
    const FirmwareSettings &settings() const { return m_settings; }
    CommandLog &log() { return m_log; }
    std::optional<ImageInfo> runningImage() const;
    std::uint64_t pendingAnswerBytes() const;
    std::uint64_t expectedProgramData() const;
    ChipFamily chipFamily() const;
    bool chipContents(unsigned chip, std::uint64_t offset, std::span<std::uint8_t> out) const;
    std::uint64_t chipBytes(unsigned chip) const;
    // Overwrites bytes of a chip in the socket as chipContents() reads them;
    // the bytes written, or nothing without such a chip (or when the image
    // file fails).
    std::optional<std::uint64_t> setChipContents(unsigned chip, std::uint64_t offset,
                                                 std::span<const std::uint8_t> data);
    bool hasSecondBoard() const;
    // 0 while the first board sits in the socket, 1 while the second does.
    unsigned socketBoard() const;
    // Swaps the boards and logs "SOCKET first" or "SOCKET second"; false
    // (nothing changes) without a second board. The rest of a program in
    // progress still goes to the chip it started on.
    bool swapChips();
    // How often the firmware has started (downloads and a start running).
    unsigned starts() const;
    // The `nth` bulk read from now on fails, once (0: none).
    void failRead(unsigned nth);
    // The `nth` answer (0 or 1: the next) to command `code` from now is
    // spoilt by `fault`, once; the command log gets a FAULT line when it is.
    // A later call replaces one not yet used.
    void spoilAnswer(AnswerFault fault, std::uint8_t code, unsigned nth);
    // Real time at which the device has done what it was asked so far (the
    // past when timing is instant); a host that paces waits for it.
    std::chrono::steady_clock::time_point readyAt() const;
    // Where the firmware's clock takes "now" from; for tests.
    void setClock(std::function<std::chrono::steady_clock::time_point()> clock);

private:
    void command(std::span<const std::uint8_t> packet);
    void baseCommand(std::span<const std::uint8_t> packet);
    chips::Nanos usbTime(std::size_t bytes) const;
    void spoilNewAnswer(std::uint8_t code, std::size_t answersBefore);

    const FirmwareSettings m_settings;
    CommandLog m_log;
    mutable std::mutex m_mutex;
    std::unique_ptr<ChipBoard> m_board;
    std::unique_ptr<ChipBoard> m_waitingBoard; // null without a second board
    unsigned m_socketBoard = 0;
    AnswerQueue m_answers;
    DeviceClock m_clock;
    ProtocolContext m_context;
    std::unique_ptr<FamilyProtocol> m_family;
    std::optional<ImageInfo> m_image;
    LinkSpeed m_speed = LinkSpeed::High;
    unsigned m_starts = 0;
    unsigned m_readsUntilFailure = 0;
    struct SpoiltAnswer
    {
        AnswerFault fault;
        std::uint8_t code;
        unsigned answersUntil;
    };
    std::optional<SpoiltAnswer> m_spoilt;
};

} // namespace kvemu
