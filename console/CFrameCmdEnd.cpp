#include "CFrameCmdEnd.h"

#include "AnswerKind.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"

int CFrameCmdEnd::Execute(const QStringList &, ChipEngine &, CommandConsole &console)
{
    console.host().quitApplication(0);
    return CommandStatus::Done;
}
