#include "AnswerDispatcher.h"

#include "AnswerHost.h"
#include "AnswerKind.h"
#include "ChipEngine.h"
#include "EngineMessage.h"
#include "ProgramObjects.h"

#include <memory>

namespace {

enum UiTextIndex {
    ErrorTitle = 3,
    ProgramTime = 60,
    FlashBlanked = 71,
    FlashNotBlank = 72,
};

constexpr uint RevisionBytesPerLine = 16;

} // namespace

AnswerDispatcher::AnswerDispatcher(AnswerHost &host, QObject *parent)
    : QObject(parent), m_host(host)
{}

void AnswerDispatcher::setEngine(ChipEngine *engine)
{
    m_engine = engine;
}

AnswerDispatcher::ProgrammerKind AnswerDispatcher::programmerKind(quint32 identificationWord)
{
    switch ((identificationWord >> 8) & 0xFF) {
    case 1:
        return NandProgrammer;
    case 2:
        return SpiProgrammer;
    default:
        return UnknownProgrammer;
    }
}

QString AnswerDispatcher::elapsedText(qint64 milliseconds)
{
    const qint64 ms = qMax<qint64>(milliseconds, 0);
    return QString::asprintf(" %02d:%02d:%02d (.%03d)", int(ms / 3600000), int(ms / 60000 % 60),
                             int(ms / 1000 % 60), int(ms % 1000));
}

void AnswerDispatcher::dispatch(EngineMessage *message)
{
    const std::unique_ptr<EngineMessage> owned(message);
    if (!owned)
        return;
    switch (owned->kind()) {
    case AnswerKind::OperationEnd:
        operationEnded(*owned);
        break;
    case AnswerKind::BlankCheckResult:
        blankCheckResult(*owned);
        break;
    case AnswerKind::Identification:
        identification(*owned);
        break;
    case AnswerKind::AdapterCheck:
        adapterCheck(*owned);
        break;
    case AnswerKind::Revision:
        revision(*owned);
        break;
    case AnswerKind::Unused:
        break;
    default:
        other(*owned);
        break;
    }
}

void AnswerDispatcher::operationEnded(const EngineMessage &message)
{
    // The programmer reports pages whose program failed in the answer.
    if ((m_engine && m_engine->programEndFailed(message)) || !message.hasData()) {
        m_host.jobFailed(JobCode::Program);
        return;
    }
    // As every elapsed time: nothing while the operation clock shows 0 ms.
    const qint64 elapsed = m_host.operationElapsedMs();
    if (elapsed > 0)
        m_host.appendLog(uiText().text(ProgramTime) + elapsedText(elapsed));
    m_host.jobEnded(JobCode::Program);
}

void AnswerDispatcher::blankCheckResult(const EngineMessage &message)
{
    // Blank when the answered address equals the tag. A result too short to
    // hold an address proves nothing, so it never reads as blank.
    const quint32 address = message.readLE(0, 4);
    if (message.size() >= 4 && message.hasData() && address == quint32(message.tag())) {
        m_host.appendLog(uiText().text(FlashBlanked));
        m_host.jobEnded(JobCode::BlankCheck);
    } else {
        m_host.appendLog(uiText().text(FlashNotBlank) + QString::asprintf(" 0x%08x", address));
        m_host.jobFailed(JobCode::BlankCheck);
    }
}

void AnswerDispatcher::identification(const EngineMessage &message)
{
    const quint32 word = message.readLE(0, 4);
    const quint32 magic = message.size() >= 8 ? message.readLE(4, 4) : 0;
    if (magic == SupportedMagic) {
        if (word == 0 || word == 0xFFFFFFFF) {
            m_host.showDisconnected();
            m_host.showWarning(uiText().text(ErrorTitle), QStringLiteral("Adapter error"));
            m_host.adapterFailed();
            return;
        }
        if (m_engine)
            m_engine->checkAdapter(programmerKind(word));
        return;
    }
    if (magic == WrongBoardMagic) {
        if (m_engine) {
            m_engine->toggleBoardType();
            m_engine->forceReconnect();
        }
        m_host.showDisconnected();
        return;
    }
    m_host.showDisconnected();
    m_host.showWarning(uiText().text(ErrorTitle),
                       QStringLiteral("Missing adapter or incompatible adapter"));
}

void AnswerDispatcher::adapterCheck(const EngineMessage &message)
{
    if (message.byteAt(1) == 1) {
        if (message.byteAt(0) == 1) {
            m_host.programmerReady();
            return;
        }
        m_host.adapterIncompatible();
        return;
    }
    if (m_engine)
        m_engine->forceReconnect();
    m_host.showDisconnected();
}

void AnswerDispatcher::revision(const EngineMessage &message)
{
    if (message.size() == 1) {
        m_host.appendLog(QString::asprintf("Eco %02X", message.byteAt(0)));
    } else if (message.size() == 4) {
        m_host.appendLog(QString::asprintf("Eco :%08X", message.readLE(0, 4)));
    } else {
        QString line = QStringLiteral("Eco :");
        for (uint i = 0; i < message.size(); ++i) {
            if (i > 0 && i % RevisionBytesPerLine == 0) {
                m_host.appendLog(line);
                line = QStringLiteral("Eco :");
            }
            line += QString::asprintf("%02X", message.byteAt(i));
        }
        m_host.appendLog(line);
    }
}

void AnswerDispatcher::other(EngineMessage &message)
{
    // A job's answers arrive in many messages; the job ends when the
    // engine or the progress display says so, not with its first answer.
    if (m_engine)
        m_engine->handleReply(message);
}
