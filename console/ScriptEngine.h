#pragma once

#include "ScriptLabel.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>

// A loaded script of the console and the scripts it calls with `run`.
//
// Loading preprocesses the file (ScriptPreprocessor) into statement lines
// and labels; NextLine then hands the runner (CommandConsole::RunScript)
// the next line to execute. NextLine runs the script statements itself:
// comments (a line with "//" is printed and skipped), `echo`, `goto`, `run`
// (the callee's lines come first), `endif`, and sets up `option` and `if`
// lines, whose outcome the runner applies. Command lines come back with the
// words "%N" replaced by argument N (nothing when there is none).
//
// Limits, so a user's file cannot hang the program or exhaust its memory:
// files up to MaxFileSize bytes, lines up to MaxLineLength characters (cut),
// `run` nested MaxRunDepth deep (deeper ends the whole script), and at most
// MaxFetches lines fetched between two returns to the user or a job (then
// NextLine returns "pause", so a `goto` loop waits for the user's line).
//
// `if` and `option` lines of a called script are set up and applied in that
// script: ApplyCondition, SelectOption, optionPending and conditionKind work
// on the innermost script that is running. GUI thread only.
class ScriptEngine
{
public:
    using Sink = std::function<void(const QString &line)>;

    static constexpr int MaxLineLength = 511;
    static constexpr qint64 MaxFileSize = 256 * 1024;
    static constexpr int MaxRunDepth = 16;
    static constexpr int MaxFetches = 10000;

    enum ConditionKind { Memory = 0, Peek = 1, FlashSet = 2, CmpRam = 3, NoCondition = 4 };

    struct Option
    {
        int value = 0;
        int line = 0;
    };

    // `print` receives every line the script prints (the message log).
    explicit ScriptEngine(Sink print = Sink());
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine &) = delete;
    ScriptEngine &operator=(const ScriptEngine &) = delete;

    void setSink(Sink print) { m_print = std::move(print); }

    // Splits `commandLine` into words (word 0 the script's name, then its
    // arguments) and loads "<name>.usp" from the script folder. False, with
    // "Bad command" printed and nothing loaded, when the file cannot be read
    // ("Script file error!" when it is larger than MaxFileSize).
    bool LoadScriptFile(const QString &commandLine);
    // Replaces the lines and labels by those of `text`, from its first line.
    // A text without statements leaves nothing loaded. Keeps the arguments.
    void LoadScriptText(const QString &text);
    // Forgets the script, its arguments and every called script.
    void unload();

    // The next line the runner executes; empty at the end of the script.
    QString NextLine();
    void SetupCondition(const QStringList &words);
    // The `if` just fetched compares `value`: goes on with its then-part,
    // else-part or the line after its `endif`.
    void ApplyCondition(quint32 value);
    void SetupOptions(const QStringList &words);
    // The answer to the pending `option`: true, and the script goes on at
    // the label of the offered value, when it is one; else false.
    bool SelectOption(const QString &answer);
    void JumpTo(const QString &label);

    bool isLoaded() const { return !m_lines.isEmpty(); }
    bool optionPending() const { return !active().m_options.isEmpty(); }
    int conditionKind() const { return active().m_conditionKind; }
    // True when the script was ended by a refused `run` (too deep).
    bool aborted() const { return m_root->m_aborted; }
    // Changes with every load and unload, so a caller can tell that the
    // script was replaced while a command ran.
    quint64 generation() const { return m_root->m_generation; }
    // Starts a new count of lines fetched in a row (MaxFetches).
    void resetFetchCount() { m_root->m_fetches = 0; }

    const QStringList &lines() const { return m_lines; }
    const QList<ScriptLabel> &labels() const { return m_labels; }
    const QStringList &arguments() const { return m_arguments; }
    int position() const { return m_position; }
    const QList<Option> &options() const { return active().m_options; }
    int callDepth() const;

    // The file a script call "<word>" reads: "<word>.usp" in the script
    // folder. Empty for a word that cannot name a file there (a path
    // separator, a control character, "." or "..", too long).
    static QString scriptPath(const QString &word);
    // `line` split at blanks and tabs.
    static QStringList wordsOf(const QString &line);
    // The decimal number at the start of `word`, as C's atoi reads it
    // (0 when there is none); values beyond int are clamped.
    static int decimalValue(const QString &word);

private:
    ScriptEngine(ScriptEngine &root, const Sink &print, int depth);

    const ScriptEngine &active() const;
    ScriptEngine &active();
    int labelIndex(const QString &name) const;
    int labelLine(const QString &name) const;
    QString substituted(const QStringList &words) const;
    QString startCallee(const QStringList &words);
    void print(const QString &line) const;

    Sink m_print;
    ScriptEngine *m_root;
    int m_depth = 0;

    QStringList m_arguments;
    int m_position = 0;
    QStringList m_lines;
    QList<ScriptLabel> m_labels;
    QList<Option> m_options;
    std::unique_ptr<ScriptEngine> m_callee;
    int m_conditionKind = NoCondition;
    int m_conditionOperator = 0;
    quint32 m_conditionValue = 0;
    int m_thenLine = 0;
    int m_elseLine = -1;
    int m_endifLine = -1;

    // Kept by the top-level script for the whole chain.
    int m_fetches = 0;
    bool m_aborted = false;
    quint64 m_generation = 0;
};
