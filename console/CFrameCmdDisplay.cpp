#include "CFrameCmdDisplay.h"

#include "AnswerKind.h"
#include "CommandArguments.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"

int CFrameCmdDisplay::Execute(const QStringList &arguments, ChipEngine &, CommandConsole &console)
{
    if (arguments.isEmpty())
        return CommandStatus::Done;
    const std::optional<quint64> address = CommandArguments::hex(arguments.first());
    if (!address) {
        printUsage(console);
        return CommandStatus::Error;
    }
    console.host().makeAddressVisible(*address);
    return CommandStatus::Done;
}
