#include "NandSmartCopy.h"

#include "AnswerKind.h"
#include "CFileMemoryNode.h"
#include "EngineMessage.h"
#include "NandEngine.h"
#include "OperationHost.h"
#include "ProgramObjects.h"
#include "SmartCopyPlan.h"
#include "UiTextId.h"

#include <algorithm>

namespace {

constexpr uint MarkerAnswerLength = 2;

QString text(int id)
{
    return uiText().text(id);
}

} // namespace

int NandSmartCopy::start(NandEngine &engine)
{
    quint64 start = 0;
    quint64 length = 0;
    engine.normalizeRange(start, length);
    const quint32 startBlock = engine.m_window.startBlock();
    if (engine.refuseWithoutGeometry())
        return CommandStatus::Failed;
    // The image must be the window's: its size, and the blocks it was
    // loaded or read for.
    if (engine.m_nand->GetSize() != length || engine.m_nandWindow.base != start) {
        engine.log(text(UiTextId::LoadSourceFirst));
        return CommandStatus::Failed;
    }
    if (engine.m_targetTable.state(startBlock) == BadBlockTable::Unknown) {
        engine.log(text(UiTextId::EraseTheChipFirst));
        return CommandStatus::Failed;
    }
    if (engine.nodesClaimed()) {
        engine.log(text(UiTextId::Busy));
        return CommandStatus::Failed;
    }
    // The plan reads the source table: an unknown one is built first, and
    // the copy is planned when the table's last marker has come back.
    if (engine.m_sourceTable.state(startBlock) == BadBlockTable::Unknown) {
        if (!engine.buildSourceTable())
            return CommandStatus::Failed;
        // "Nand" stays as it is until the plan has read it.
        engine.m_nandClaimed = engine.m_nand->TryLock();
        m_pendingPlan = true;
        m_running = true;
        return JobCode::Program;
    }
    if (!plan(engine))
        return CommandStatus::Failed;
    return JobCode::Program;
}

void NandSmartCopy::sourceTableBuilt(NandEngine &engine)
{
    if (!m_pendingPlan)
        return;
    m_pendingPlan = false;
    m_running = false;
    if (!plan(engine))
        fail(engine);
}

bool NandSmartCopy::plan(NandEngine &engine)
{
    CFileMemoryNode &target = *engine.m_target;
    if (!target.CreateTempFile()) {
        engine.log(text(UiTextId::CreateTemporaryFile) + QLatin1Char(' ') +
                   text(UiTextId::FileError));
        return false;
    }
    engine.log(text(UiTextId::CreateTemporaryFile));
    const NandBlockWindow &window = engine.m_window;
    const quint64 blockBytes = engine.blockBytes();
    engine.setTargetWindow(quint64(window.startBlock()) * blockBytes,
                           quint64(window.blockCount()) * blockBytes);
    engine.claimNodes();
    m_running = true;
    m_blocks = window.blockCount();
    m_produced = 0;
    m_block.resize(blockBytes);
    if (OperationHost *host = engine.host())
        host->showTableProgress(0, m_blocks);
    CFileMemoryNode &source = *engine.m_nand;
    SmartCopyPlan::build(
        engine.m_sourceTable, engine.m_targetTable,
        {window.startBlock(), window.blockCount(), blockBytes}, engine.copySourceBadBlocks(),
        [&](quint64 offset, quint8 *buffer) { source.Read(offset, buffer, blockBytes); },
        [&](int tag) { engine.enqueueMarker(tag, BlockAnswer, MarkerAnswerLength); });
    if (m_blocks == 0)
        finish(engine);
    return true;
}

void NandSmartCopy::answer(NandEngine &engine, const EngineMessage &message)
{
    if (!m_running || m_pendingPlan || m_produced >= m_blocks)
        return;
    OperationHost *host = engine.host();
    if (host)
        host->showTableProgress(m_produced, m_blocks);
    // The progress may have let a Stop in.
    if (!m_running)
        return;
    ++m_produced;
    const int tag = message.tag();
    if (tag == SmartCopyPlan::BadTarget)
        std::fill(m_block.begin(), m_block.end(), quint8(0x00));
    else if (tag == SmartCopyPlan::Erased)
        std::fill(m_block.begin(), m_block.end(), quint8(0xFF));
    else
        engine.m_nand->Read(quint64(tag) * m_block.size(), m_block.data(), m_block.size());
    // Append logs a failed write itself.
    if (!engine.m_target->Append(m_block.data(), m_block.size())) {
        engine.clearQueue();
        fail(engine);
        return;
    }
    if (m_produced == m_blocks)
        finish(engine);
}

void NandSmartCopy::finish(NandEngine &engine)
{
    m_running = false;
    m_block = {};
    engine.releaseNodes();
    OperationHost *host = engine.host();
    if (host) {
        host->refreshNodeView(engine.m_target);
        host->showTableProgress(0, 0);
        host->refreshNodeView(engine.m_target);
    }
    quint64 start = 0;
    quint64 length = 0;
    engine.normalizeRange(start, length);
    if (engine.startProgram(start, length) != JobCode::Program && host)
        host->jobFailed(JobCode::Program);
}

void NandSmartCopy::stop(NandEngine &engine)
{
    const bool unfinished = m_running && !m_pendingPlan && m_produced < m_blocks;
    m_running = false;
    m_pendingPlan = false;
    m_block = {};
    if (unfinished)
        engine.m_target->CloseBackingFile();
}

void NandSmartCopy::fail(NandEngine &engine)
{
    stop(engine);
    engine.releaseNodes();
    if (OperationHost *host = engine.host()) {
        host->showTableProgress(0, 0);
        host->jobFailed(JobCode::Program);
    }
}
