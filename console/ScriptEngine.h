#pragma once

#include <QString>
#include <QStringList>

// A script file loaded for the console: its statement lines and the words
// of the line that started it (word 0 the script's name, then its
// arguments). A script counts as loaded while it has lines.
//
// This class only holds what was loaded; the runner that executes the lines
// (labels, goto, if/else/endif, echo, option, pause, wait, run) is
// CommandConsole::RunScript and comes with the script interpreter.
class ScriptEngine
{
public:
    // Reads the file at `path` and keeps its non-blank lines and
    // `arguments`. False, and nothing loaded, when the file cannot be read.
    // A readable file without statements loads nothing and returns true.
    bool load(const QString &path, const QStringList &arguments);
    void unload();

    bool isLoaded() const { return !m_lines.isEmpty(); }
    const QStringList &lines() const { return m_lines; }
    const QStringList &arguments() const { return m_arguments; }
    const QString &path() const { return m_path; }

private:
    QString m_path;
    QStringList m_arguments;
    QStringList m_lines;
};
