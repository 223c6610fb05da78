#pragma once

#include <QString>
#include <QStringList>

class ChipEngine;
class CommandConsole;

// The base of the console commands. A command has its keyword (upper case,
// e.g. "DETECT"), the number of its usage text in the UI text table (-1
// when it has none) and a usage string that stands in when the number is
// negative. Each command class sets these through the registration table
// (CommandTable) and overrides Execute only.
class CCmd
{
public:
    CCmd(const QString &keyword, int usageNumber, const QString &usageText = QString());
    virtual ~CCmd();
    CCmd(const CCmd &) = delete;
    CCmd &operator=(const CCmd &) = delete;

    // Runs the command with the words typed after the keyword. Returns
    // CommandStatus::Failed, Done or Error, or the code of the engine job it
    // started (a JobCode), whose end the main window reports to the console.
    virtual int Execute(const QStringList &arguments, ChipEngine &engine,
                        CommandConsole &console) = 0;

    const QString &keyword() const { return m_keyword; }
    int usageNumber() const { return m_usageNumber; }
    const QString &usageString() const { return m_usageText; }
    // The usage text: the table's text for a usage number, else the usage
    // string.
    QString usage() const;
    // Prints the usage text, one log line per text line; nothing when empty.
    void printUsage(CommandConsole &console) const;

private:
    int m_usageNumber;
    QString m_usageText;
    QString m_keyword;
};
