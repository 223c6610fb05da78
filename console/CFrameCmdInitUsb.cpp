#include "CFrameCmdInitUsb.h"

#include "AnswerKind.h"
#include "ChipEngine.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"

int CFrameCmdInitUsb::Execute(const QStringList &, ChipEngine &engine, CommandConsole &console)
{
    console.host().showDisconnected();
    engine.forceReconnect();
    return CommandStatus::Done;
}
