#pragma once

#include "ScriptEngine.h"
#include "ScriptStop.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

class CCmd;
class ChipEngine;
class ConsoleHost;

// Turns command lines into calls on the current chip engine. Lines come
// from the console input (SubmitLine), from the main window's actions
// (Dispatch) and from scripts, all through Dispatch, so a menu click, a
// typed command and a script step run the same command.
//
// The main window owns the one console and calls RegisterCommands whenever
// it creates the engine of a newly selected device family (and with null
// when it deletes the engine). GUI thread only.
class CommandConsole
{
public:
    // `host` must outlive the console.
    explicit CommandConsole(ConsoleHost &host);
    ~CommandConsole();
    CommandConsole(const CommandConsole &) = delete;
    CommandConsole &operator=(const CommandConsole &) = delete;

    // Deletes every command, keeps `engine` (not owned) and, when it is not
    // null, registers the commands its capability bits admit, in table order.
    void RegisterCommands(ChipEngine *engine);
    // Runs `line`: prints "-" and the line, runs the command named by its
    // first word (ignoring case) with the other words. Returns the
    // command's status, or 0 when the line is blank (nothing printed) or no
    // command has that name.
    int Dispatch(const QString &line);
    // A line entered in the console input. While a script is loaded the
    // line only steers it: an empty line continues it (also while it waits
    // for a job or for time), any other line ends it ("Exit Script"); while
    // it waits for an `option` answer the line is the answer. Otherwise the
    // line is a command, else the script "<word>.usp" in the script folder
    // with the other words as arguments, else "Bad command". A blank line
    // does nothing.
    void SubmitLine(const QString &line);
    // Loads the script named by the first word of `commandLine` (the other
    // words its arguments) and runs it. False, with "Bad command" printed,
    // when the file cannot be read.
    bool StartScript(const QString &commandLine);
    // Runs the loaded script from where it stands, until it ends or waits
    // (for a job, the wait timer, the user's line or an option answer).
    void RunScript();
    // A job of `jobCode` ended: a script waiting for it goes on.
    void ResumeOnJob(int jobCode);
    // A job ended in failure (`jobCode` 0: whichever job the script awaits):
    // a script waiting for it stops with "Failed, Stop script".
    void JobFailed(int jobCode);
    // The host's wait timer (started for `wait`) fired.
    void WaitElapsed();
    bool scriptLoaded() const { return m_script.isLoaded(); }
    // Tab completion among the keywords that start with `prefix` (ignoring
    // case): the keyword after `candidate` when it is one of them (wrapping
    // round), else the first. False, and `candidate` unchanged, when no
    // keyword starts with `prefix`.
    bool Complete(const QString &prefix, QString &candidate) const;
    // Prints every keyword, preceded by one blank, one per line.
    void ListKeywords();
    // The first command whose keyword equals `word` ignoring case, or null.
    CCmd *FindCommand(const QString &word) const;

    ConsoleHost &host() const { return m_host; }
    ChipEngine *engine() const { return m_engine; }
    int commandCount() const { return int(m_commands.size()); }
    CCmd *command(int index) const { return m_commands.at(size_t(index)).get(); }

    // One line in the message log.
    void print(const QString &line);
    // `text` in the message log, one line per line of it (CR LF, LF or CR).
    void printLines(const QString &text);

    // The job code a waiting script awaits, 0x81 while it waits for an
    // option answer, 0 when nothing is awaited.
    quint8 awaitedStatus() const { return m_awaitedStatus; }
    // The values the script conditions PEEK, MEMORY and FLASHSET test.
    // Nothing sets them: they stay 0.
    qint32 peekValue() const { return m_peekValue; }
    qint32 memoryValue() const { return m_memoryValue; }
    quint8 flashSetValue() const { return m_flashSetValue; }

    ScriptEngine &script() { return m_script; }
    // The file a script call "<word>" reads: "<word>.usp" in the script
    // folder. Empty for a word that cannot name a file there (a path
    // separator, a control character, "." or "..", too long).
    static QString scriptPath(const QString &word) { return ScriptEngine::scriptPath(word); }

private:
    // The runner's loop: why it stopped, or nothing when it waits for a job
    // or the timer, or when a command replaced the script.
    std::optional<ScriptStop> runLines();
    // Prints `textId` and "Script finished" and unloads the script.
    ScriptStop failScript(int textId, ScriptStop how);
    quint32 conditionValue() const;
    void stopWaiting();

    ConsoleHost &m_host;
    ChipEngine *m_engine = nullptr;
    std::vector<std::unique_ptr<CCmd>> m_commands;
    // Commands replaced while one of them ran; deleted when Dispatch returns.
    std::vector<std::unique_ptr<CCmd>> m_retired;
    int m_dispatchDepth = 0;
    qint32 m_peekValue = 0;
    qint32 m_memoryValue = 0;
    quint8 m_awaitedStatus = 0;
    quint8 m_flashSetValue = 0;
    // The compare flag CMPRAM tests; nothing sets it.
    quint8 m_compareFlag = 0;
    ScriptEngine m_script;
    // The runner is on the stack; a nested RunScript leaves the work to it.
    bool m_running = false;
    // The runner is inside a command: a job that ends (or fails) before the
    // command has returned its code is noted here.
    bool m_inScriptCommand = false;
    int m_endedDuringCommand = -1;
    int m_failedDuringCommand = -1;
    bool m_waitPending = false;
};
