#pragma once

#include "ScriptLabel.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Turns a script file's text into statement lines and labels, once per load.
//
// Lines end at CR, LF, CR LF or LF CR; leading blanks and tabs are skipped and
// empty lines dropped. A line whose first ':' comes before its first blank
// is a label for the next statement. `if`/`else`/`endif` blocks get labels
// "if_1", "if_1_2" (nested), "<block>_else" and "<block>_endif"; each `else`
// becomes "goto <block>_endif" so that the then-part jumps over the
// else-part. Blocks nest at most 10 deep.
//
// A line longer than MaxLineLength characters is cut to that length (with a
// note in the log), so no statement is longer than that.
class ScriptPreprocessor
{
public:
    using Sink = std::function<void(const QString &line)>;

    static constexpr int MaxLineLength = 511;
    static constexpr int Levels = 10;

    explicit ScriptPreprocessor(const Sink &print) : m_print(print) {}

    // Appends the statements of `text` to `lines` and its labels to `labels`.
    void run(const QString &text, QStringList &lines, QList<ScriptLabel> &labels);

    // A blank or a tab: what separates the words of a script line.
    static bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

private:
    void statement(const QString &line, QStringList &lines, QList<ScriptLabel> &labels);
    QString blockLabel() const;
    void print(const QString &line) const;

    const Sink &m_print;
    bool m_open[Levels] = {};
    int m_counter[Levels] = {};
    int m_level = 0;
    // `if` lines refused as too deep whose `endif` has not come yet: their
    // `else` and `endif` leave the open blocks alone.
    int m_tooDeep = 0;
};
