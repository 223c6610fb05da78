#include "CommandConsole.h"

#include "ApplicationFolders.h"
#include "CCmd.h"
#include "ChipEngine.h"
#include "CommandTable.h"
#include "ConsoleHost.h"
#include "ProgramObjects.h"
#include "UiTextId.h"

#include <QRegularExpression>

namespace {

// Longest script name a call may use (a file name's usual limit, less ".usp").
constexpr int MaxScriptName = 251;

bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control;
}

// The line as the log shows it: control characters as '?', so one command
// line stays one log line.
QString visibleLine(const QString &line)
{
    QString shown = line;
    for (QChar &c : shown) {
        if (isControl(c))
            c = QLatin1Char('?');
    }
    return shown;
}

QStringList wordsOf(const QString &line)
{
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

CommandConsole::CommandConsole(ConsoleHost &host) : m_host(host) {}

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
    // The script branches (an answer to a waiting script, "Exit Script")
    // come with the script interpreter; until then every line is a command.
    if (wordsOf(line).isEmpty())
        return;
    m_awaitedStatus = 0;
    m_script.unload();
    if (Dispatch(line) != 0)
        return;
    const QStringList words = wordsOf(line);
    const QString path = scriptPath(words.first());
    if (!path.isEmpty() && m_script.load(path, words)) {
        RunScript();
        return;
    }
    print(uiText().text(UiTextId::BadCommand));
}

void CommandConsole::RunScript()
{
    // The entry point of the script runner, which the script interpreter
    // fills: it fetches the loaded script's lines, dispatches them and
    // stops at a job code (awaited status), pause, option or wait. Until
    // then a loaded script stays loaded and is not run; the next submitted
    // line unloads it.
}

void CommandConsole::ResumeOnJob(int jobCode)
{
    if (m_awaitedStatus == 0 || quint8(jobCode) != m_awaitedStatus || !m_script.isLoaded())
        return;
    m_awaitedStatus = 0;
    RunScript();
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

QString CommandConsole::scriptPath(const QString &word)
{
    if (word.isEmpty() || word.size() > MaxScriptName || word == QLatin1String(".") ||
        word == QLatin1String(".."))
        return QString();
    for (const QChar c : word) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || isControl(c))
            return QString();
    }
    return applicationFolder(ScriptFolder) + word + QStringLiteral(".usp");
}
