#include "CommandConsole.h"

#include "AnswerKind.h"
#include "CCmd.h"
#include "ChipEngine.h"
#include "CommandTable.h"
#include "ConsoleHost.h"
#include "ProgramObjects.h"
#include "UiTextId.h"
#include "VisibleLine.h"

#include <QRegularExpression>

namespace {

QStringList wordsOf(const QString &line)
{
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

CommandConsole::CommandConsole(ConsoleHost &host)
    : m_host(host), m_script([this](const QString &line) { print(line); })
{}

CommandConsole::~CommandConsole() = default;

void CommandConsole::RegisterCommands(ChipEngine *engine)
{
    // A command may change the engine while it runs (DEVICE selects a
    // target of another family): it stays alive until Dispatch is back.
    if (m_dispatchDepth > 0) {
        for (auto &command : m_commands)
            m_retired.push_back(std::move(command));
    }
    m_commands.clear();
    m_engine = engine;
    if (!engine)
        return;
    const quint32 capabilities = engine->capabilities();
    for (const CommandRow &row : commandTable()) {
        if (row.admittedBy(capabilities))
            m_commands.push_back(row.make(row));
    }
}

int CommandConsole::Dispatch(const QString &line)
{
    const QStringList words = wordsOf(line);
    if (words.isEmpty())
        return 0;
    print(QStringLiteral("-") + visibleLine(line));
    CCmd *command = FindCommand(words.first());
    if (!command)
        return 0;
    ++m_dispatchDepth;
    const int status = command->Execute(words.mid(1), *m_engine, *this);
    if (--m_dispatchDepth == 0)
        m_retired.clear();
    return status;
}

void CommandConsole::SubmitLine(const QString &line)
{
    if (m_script.isLoaded() && m_script.optionPending()) {
        if (line.isEmpty()) {
            print(uiText().text(UiTextId::PleaseSelect));
            return;
        }
        print(visibleLine(line));
        if (!m_script.SelectOption(line)) {
            print(uiText().text(UiTextId::PleaseSelectRightValue));
            return;
        }
        m_awaitedStatus = 0;
        RunScript();
        return;
    }
    if (m_script.isLoaded()) {
        // Whatever the script waits for, the user's line decides.
        m_awaitedStatus = 0;
        stopWaiting();
        if (line.isEmpty()) {
            RunScript();
            return;
        }
        print(uiText().text(UiTextId::ExitScript));
        m_script.unload();
        m_host.scriptStopped(ScriptStop::Exited);
        return;
    }
    if (wordsOf(line).isEmpty())
        return;
    m_awaitedStatus = 0;
    stopWaiting();
    m_script.unload();
    if (Dispatch(line) == 0)
        StartScript(line);
}

bool CommandConsole::StartScript(const QString &commandLine)
{
    m_awaitedStatus = 0;
    stopWaiting();
    if (!m_script.LoadScriptFile(commandLine))
        return false;
    RunScript();
    return true;
}

void CommandConsole::RunScript()
{
    // A command that starts a script runs it here, in the loop already on
    // the stack.
    if (m_running)
        return;
    m_running = true;
    const std::optional<ScriptStop> how = runLines();
    m_running = false;
    if (how)
        m_host.scriptStopped(*how);
}

std::optional<ScriptStop> CommandConsole::runLines()
{
    m_script.resetFetchCount();
    for (;;) {
        const QString line = m_script.NextLine();
        if (line.isEmpty()) {
            const bool aborted = m_script.aborted();
            m_awaitedStatus = 0;
            m_script.unload();
            print(uiText().text(UiTextId::ScriptFinished));
            return aborted ? ScriptStop::Aborted : ScriptStop::Finished;
        }
        const QStringList words = ScriptEngine::wordsOf(line);
        const QString first = words.value(0).toLower();
        if (first == QLatin1String("pause")) {
            print(uiText().text(UiTextId::PressEnterToContinue));
            return ScriptStop::Paused;
        }
        if (first == QLatin1String("option")) {
            m_awaitedStatus = CommandStatus::Done;
            return ScriptStop::AwaitingOption;
        }
        if (first == QLatin1String("wait")) {
            // A negative time is no time.
            const int milliseconds = ScriptEngine::decimalValue(words.value(1));
            if (milliseconds > 0) {
                m_waitPending = true;
                m_host.startWaitTimer(milliseconds);
                return std::nullopt;
            }
            continue;
        }
        if (first == QLatin1String("if")) {
            m_script.ApplyCondition(conditionValue());
            continue;
        }
        if (words.value(0).contains(QLatin1String("checkm")))
            continue;

        const quint64 generation = m_script.generation();
        m_inScriptCommand = true;
        m_endedDuringCommand = -1;
        m_failedDuringCommand = -1;
        const quint8 status = quint8(Dispatch(line));
        m_inScriptCommand = false;
        if (m_script.generation() != generation) {
            // The command started another script (which goes on here) or
            // ended this one.
            if (!m_script.isLoaded())
                return std::nullopt;
            continue;
        }
        switch (status) {
        case 0:
            print(uiText().text(UiTextId::BadCommand));
            m_awaitedStatus = 0;
            return ScriptStop::Paused;
        case CommandStatus::Done:
            continue;
        case CommandStatus::Failed:
            return failScript(UiTextId::FailedStopScript, ScriptStop::Failed);
        case CommandStatus::Error:
            return failScript(UiTextId::ErrorStopScript, ScriptStop::Error);
        default:
            break;
        }
        // A job: its end continues the script, its failure stops it. Either
        // may have been told while the command still ran.
        if (m_failedDuringCommand == 0 ||
            (m_failedDuringCommand > 0 && quint8(m_failedDuringCommand) == status))
            return failScript(UiTextId::FailedStopScript, ScriptStop::Failed);
        if (m_endedDuringCommand >= 0 && quint8(m_endedDuringCommand) == status)
            continue;
        m_awaitedStatus = status;
        return std::nullopt;
    }
}

ScriptStop CommandConsole::failScript(int textId, ScriptStop how)
{
    print(uiText().text(textId));
    print(uiText().text(UiTextId::ScriptFinished));
    m_awaitedStatus = 0;
    m_script.unload();
    return how;
}

quint32 CommandConsole::conditionValue() const
{
    switch (m_script.conditionKind()) {
    case ScriptEngine::Memory:
        return quint32(m_memoryValue);
    case ScriptEngine::Peek:
        return quint32(m_peekValue);
    case ScriptEngine::FlashSet:
        return m_flashSetValue;
    case ScriptEngine::CmpRam:
        return m_compareFlag;
    default:
        return 1;
    }
}

void CommandConsole::ResumeOnJob(int jobCode)
{
    if (m_inScriptCommand) {
        m_endedDuringCommand = jobCode;
        return;
    }
    // 0x81 marks an option question, which only the user's answer ends.
    if (m_awaitedStatus == 0 || m_awaitedStatus == CommandStatus::Done ||
        quint8(jobCode) != m_awaitedStatus || !m_script.isLoaded())
        return;
    m_awaitedStatus = 0;
    RunScript();
}

void CommandConsole::JobFailed(int jobCode)
{
    if (m_inScriptCommand) {
        m_failedDuringCommand = jobCode;
        return;
    }
    if (m_awaitedStatus == 0 || m_awaitedStatus == CommandStatus::Done || !m_script.isLoaded() ||
        (jobCode != 0 && quint8(jobCode) != m_awaitedStatus))
        return;
    m_host.scriptStopped(failScript(UiTextId::FailedStopScript, ScriptStop::Failed));
}

void CommandConsole::WaitElapsed()
{
    if (!m_waitPending)
        return;
    m_waitPending = false;
    if (m_script.isLoaded())
        RunScript();
}

void CommandConsole::stopWaiting()
{
    if (!m_waitPending)
        return;
    m_waitPending = false;
    m_host.stopWaitTimer();
}

bool CommandConsole::Complete(const QString &prefix, QString &candidate) const
{
    std::vector<const CCmd *> matches;
    for (const auto &command : m_commands) {
        if (command->keyword().startsWith(prefix, Qt::CaseInsensitive))
            matches.push_back(command.get());
    }
    if (matches.empty())
        return false;
    size_t next = 0;
    if (!candidate.isEmpty()) {
        for (size_t i = 0; i < matches.size(); ++i) {
            if (matches[i]->keyword().compare(candidate, Qt::CaseInsensitive) == 0) {
                next = (i + 1) % matches.size();
                break;
            }
        }
    }
    candidate = matches[next]->keyword();
    return true;
}

void CommandConsole::ListKeywords()
{
    for (const auto &command : m_commands)
        print(QLatin1Char(' ') + command->keyword());
}

CCmd *CommandConsole::FindCommand(const QString &word) const
{
    for (const auto &command : m_commands) {
        if (command->keyword().compare(word, Qt::CaseInsensitive) == 0)
            return command.get();
    }
    return nullptr;
}

void CommandConsole::print(const QString &line)
{
    m_host.appendLog(line);
}

void CommandConsole::printLines(const QString &text)
{
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    for (const QString &line : text.split(lineEnd))
        print(line);
}
