#include "CFrameCmdCls.h"

#include "AnswerKind.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"

int CFrameCmdCls::Execute(const QStringList &, ChipEngine &, CommandConsole &console)
{
    console.host().clearLog();
    return CommandStatus::Done;
}
