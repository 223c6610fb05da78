#include "CFrameCmdColor.h"

#include "AnswerKind.h"
#include "CommandArguments.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"

namespace {
// The lengths of the colour forms a style sheet takes after "#": rgb,
// rrggbb, aarrggbb, rrrgggbbb, rrrrggggbbbb.
bool isColour(const QString &word)
{
    const qsizetype n = word.size();
    return (n == 3 || n == 6 || n == 8 || n == 9 || n == 12) && CommandArguments::hex(word);
}
} // namespace

int CFrameCmdColor::Execute(const QStringList &arguments, ChipEngine &, CommandConsole &console)
{
    if (arguments.isEmpty()) {
        printUsage(console);
        return CommandStatus::Done;
    }
    // Only a colour reaches the style sheet: any other text could end the
    // rule and style the whole window.
    if (!isColour(arguments.first())) {
        printUsage(console);
        return CommandStatus::Error;
    }
    console.host().setLogStyleSheet(
        QStringLiteral("QPlainTextEdit{background-color:#%1}").arg(arguments.first()));
    return CommandStatus::Done;
}
