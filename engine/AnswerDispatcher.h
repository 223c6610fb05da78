#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class AnswerHost;
class ChipEngine;
class EngineMessage;

// Handles the engine's answer messages on the GUI thread: the kinds that
// concern the main window itself (operation end, blank-check result,
// programmer identification, adapter check, revision) here, every other
// kind through the engine's handleReply. The main window owns one, points
// it at the current engine and connects the engine's dataReady to dispatch.
class AnswerDispatcher : public QObject
{
    Q_OBJECT

public:
    // Magic values of the identification answer (bytes 4-7).
    static constexpr quint32 SupportedMagic = 0x170640DD;
    static constexpr quint32 WrongBoardMagic = 0xDD400617;

    // Programmer kinds for ChipEngine::checkAdapter.
    enum ProgrammerKind { NandProgrammer = 0, SpiProgrammer = 1, UnknownProgrammer = 2 };

    explicit AnswerDispatcher(AnswerHost &host, QObject *parent = nullptr);

    // The engine that gets the other kinds and the adapter reactions; may
    // be null. Held weakly: a deleted engine is not reached.
    void setEngine(ChipEngine *engine);
    ChipEngine *engine() const { return m_engine; }

    // The programmer's kind from its identification word, least significant
    // byte first 0x00 0x01 0x56 0x4B for 0x4B560100: bits 31-16 are the
    // product code, bits 15-8 the kind of programmer unit (1 NAND, 2 SPI),
    // bits 7-0 its revision. Any other kind byte is not recognised.
    static ProgrammerKind programmerKind(quint32 identificationWord);

    // " %02d:%02d:%02d (.%03d)" of `milliseconds`.
    static QString elapsedText(qint64 milliseconds);

public slots:
    // Handles `message` once and deletes it.
    void dispatch(EngineMessage *message);

private:
    void operationEnded(const EngineMessage &message);
    void blankCheckResult(const EngineMessage &message);
    void identification(const EngineMessage &message);
    void adapterCheck(const EngineMessage &message);
    void revision(const EngineMessage &message);
    void other(EngineMessage &message);

    AnswerHost &m_host;
    QPointer<ChipEngine> m_engine;
};
