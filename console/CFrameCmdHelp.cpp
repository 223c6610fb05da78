#include "CFrameCmdHelp.h"

#include "AnswerKind.h"
#include "CommandConsole.h"

int CFrameCmdHelp::Execute(const QStringList &arguments, ChipEngine &, CommandConsole &console)
{
    if (arguments.isEmpty()) {
        console.ListKeywords();
        return CommandStatus::Done;
    }
    if (const CCmd *command = console.FindCommand(arguments.first()))
        command->printUsage(console);
    return CommandStatus::Done;
}
