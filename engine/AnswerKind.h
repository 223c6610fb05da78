#pragma once

#include <QtGlobal>

// The kinds of the programmer's answers: single letters that say what an
// answer is. The same codes name the jobs between the console, the main
// window and the engines (a read is job 'A', an erase job 'G', ...).
namespace AnswerKind {
enum : quint8 {
    Read = 'A',
    Verify = 'B',
    OperationEnd = 'D', // also the program job
    BlankCheckResult = 'F',
    Erase = 'G',
    ChipId = 'H', // also the detect job
    Identification = 'I',
    AdapterCheck = 'J',
    BlankCheck = 'K',
    Revision = 'S',
    Unused = 'U',
    // The identification check before an operation, by the operation it
    // starts.
    ReadStart = 'O',
    EraseStart = 'P',
    ProgramStart = 'Q',
    // The chip's own table: a NAND parameter page, an SPI chip's SFDP area.
    ChipTable = 'L',
};
} // namespace AnswerKind

// What a command or an engine operation returns: one of these, or the code
// of the job it started (an AnswerKind).
namespace CommandStatus {
enum : int {
    Failed = 0x80,
    Done = 0x81,
    Error = 0x82,
};
} // namespace CommandStatus

// The job codes of the chip operations.
namespace JobCode {
enum : int {
    Read = AnswerKind::Read,
    Verify = AnswerKind::Verify,
    Program = AnswerKind::OperationEnd,
    Erase = AnswerKind::Erase,
    Detect = AnswerKind::ChipId,
    BlankCheck = AnswerKind::BlankCheck,
    // Not an answer: the programmer re-initialised (INITUSB) and ready again.
    Reconnect = 'C',
};
} // namespace JobCode

// The capability bits of an engine (ChipEngine::capabilities()), named by
// the console commands and actions they admit.
namespace EngineCapability {
enum : quint32 {
    Detect = 0x01,
    Erase = 0x02,
    BlankCheck = 0x04,
    Program = 0x08, // PROGRAM and WRITE
    NandTools = 0x10,
    Save = 0x40,
    Verify = 0x80,
};
} // namespace EngineCapability
