#include "CFrameCmdNandNewChip.h"

#include "AnswerKind.h"
#include "ChipEngine.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"

int CFrameCmdNandNewChip::Execute(const QStringList &, ChipEngine &engine, CommandConsole &console)
{
    engine.newChip();
    console.host().newChipReset();
    return CommandStatus::Done;
}
