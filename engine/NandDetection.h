#pragma once

#include <QtGlobal>

#include <array>

class EngineMessage;
class NandEngine;

// Detection of the NAND chip in the socket: its identification on chip
// enable 0, then on chip enable 1, and which device record describes it (the
// current one, a catalogue record, one filled from the chip's ONFI parameter
// page, or none: the user defines a new device). The answers 'H' and 'L'
// arrive on the GUI thread through the engine.
//
// The chip count and the last unknown identification are process-wide: a
// detection that switches the device re-creates the engine.
class NandDetection
{
public:
    using Id = std::array<quint8, 6>;

    static quint8 detectedChipCount() { return s_chipCount; }
    static const Id &lastUnknownId() { return s_lastUnknownId; }
    // Forgets both (tests start from a clean program state).
    static void resetProgramState();

    bool idDone() const { return m_idDone; }

    void start(NandEngine &engine);
    void idAnswer(NandEngine &engine, const EngineMessage &message);
    void parameterPage(NandEngine &engine, const EngineMessage &message);

private:
    void match(NandEngine &engine, const Id &id);
    void unknownChip(NandEngine &engine, const Id &id);
    static Id idOf(const EngineMessage &message);

    bool m_idDone = true;
    bool m_secondChipProbe = false;
    Id m_firstChipId{};

    static inline quint8 s_chipCount = 1;
    static inline Id s_lastUnknownId{};
};
