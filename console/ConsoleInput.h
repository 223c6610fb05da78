#pragma once

#include <QString>
#include <QStringList>

class CommandConsole;

// What the console input line decides: the entered lines (at most 40) and
// browsing them, the input line, and Tab completion cycling through the
// keywords of one prefix. ConsoleLineView maps keys onto it and draws it.
class ConsoleInput
{
public:
    static constexpr int MaxLines = 40;

    // Typed characters: leaves history browsing and appends them.
    void type(const QString &text);
    // Pasted text: line breaks and tabs become blanks, other control
    // characters are dropped, the rest is typed.
    void paste(const QString &text);
    void backspace();
    // Return or Enter: a non-empty input line joins the entered lines (the
    // oldest goes beyond 40), the input line empties. Returns the entered
    // text (possibly empty) for CommandConsole::SubmitLine.
    QString enter();
    // Up: the first Up after typing starts browsing at the end; each steps
    // one line back and copies it into the input line.
    void up();
    // Down: while browsing, one line forward unless at the last one.
    void down();
    // Tab: completes the input line from `console`'s keywords; false when
    // nothing starts with the completion prefix (the line stays).
    bool tab(const CommandConsole &console);
    // Any other key: the next Tab starts from the input line again.
    void otherKey() { m_prefix.clear(); }
    // The Clear action: entered lines, completion prefix and input line.
    void clear();

    const QStringList &lines() const { return m_lines; }
    const QString &input() const { return m_input; }
    int historyPosition() const { return m_position; }
    bool browsing() const { return m_browsing; }
    const QString &completionPrefix() const { return m_prefix; }

private:
    QStringList m_lines;
    QString m_input;
    QString m_prefix;
    int m_position = 0;
    bool m_browsing = false;
};
