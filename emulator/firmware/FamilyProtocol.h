#pragma once

#include "AnswerQueue.h"
#include "ChipBoard.h"
#include "CommandLog.h"
#include "DeviceClock.h"

#include <cstdint>
#include <span>

namespace kvemu {

// What the firmware's command handlers work on.
struct ProtocolContext
{
    ChipBoard &board;
    AnswerQueue &answers;
    DeviceClock &clock;
    unsigned packetSize = 512; // of the link the firmware enumerated on
};

// The commands of one firmware family (NAND or SPI) beyond the base set.
// Handlers check a packet completely before they act, and throw
// ProtocolError for one they cannot carry out; the firmware logs it.
class FamilyProtocol
{
public:
    explicit FamilyProtocol(ProtocolContext &context) : m_context(context) {}
    virtual ~FamilyProtocol() = default;
    FamilyProtocol(const FamilyProtocol &) = delete;
    FamilyProtocol &operator=(const FamilyProtocol &) = delete;

    // Carries out a command of this family; false when `packet` is none.
    virtual bool command(std::span<const std::uint8_t> packet) = 0;
    // Program data still expected on pipe 0 after a program command.
    std::uint64_t expectedData() const { return m_expected; }
    // Takes program data (at most expectedData() bytes).
    virtual void data(std::span<const std::uint8_t> bytes) = 0;

protected:
    // 0x32, end of programming: 'D' and the number of pages whose program
    // failed since the last 0x32 (at most 255).
    void endOfProgramming();

    ProtocolContext &m_context;
    std::uint64_t m_expected = 0;
    unsigned m_failedPages = 0;
};

} // namespace kvemu
