#include "CFrameCmdSetMemory.h"

#include "AnswerKind.h"

int CFrameCmdSetMemory::Execute(const QStringList &, ChipEngine &, CommandConsole &)
{
    // Writing memory to the target is what PROGRAM does, with its range
    // checks and confirmation in the window. WRITE stays registered so that
    // old scripts and "help write" keep working, and does nothing: a
    // second path to the chip would bypass those checks.
    return CommandStatus::Done;
}
