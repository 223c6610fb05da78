#pragma once

#include <QtGlobal>

#include <vector>

class EngineMessage;
class NandEngine;

// Smart copy of the NAND engine: builds the image of the target chip in the
// "Target" node, one block per marker answer 'R' (SmartCopyPlan decides
// what each target block holds), and starts programming the block window
// once after the last block. Runs on the GUI thread; the image is never
// held in memory: one block at a time goes from "Nand" to the temporary
// file of "Target".
class NandSmartCopy
{
public:
    static constexpr quint8 BlockAnswer = 'R';

    // The checks, the source table when it is still unknown, the plan. The
    // program job's code when the copy runs, CommandStatus::Failed when it
    // was refused (the log says why).
    int start(NandEngine &engine);
    // The source table that start asked for is complete: the copy is
    // planned now.
    void sourceTableBuilt(NandEngine &engine);
    // One target block.
    void answer(NandEngine &engine, const EngineMessage &message);
    // Stop, a lost connection, an operation's end: the run is over. A
    // target image that was not finished is dropped.
    void stop(NandEngine &engine);
    bool running() const { return m_running; }

private:
    bool plan(NandEngine &engine);
    void finish(NandEngine &engine);
    void fail(NandEngine &engine);

    bool m_running = false;
    // Waiting for the source table before planning.
    bool m_pendingPlan = false;
    quint32 m_blocks = 0;
    quint32 m_produced = 0;
    std::vector<quint8> m_block;
};
