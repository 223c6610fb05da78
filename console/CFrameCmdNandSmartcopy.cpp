#include "CFrameCmdNandSmartcopy.h"

#include "ChipEngine.h"

int CFrameCmdNandSmartcopy::Execute(const QStringList &, ChipEngine &engine, CommandConsole &)
{
    // The engine's answer, so that a smart copy that cannot start stops a
    // script instead of reading as done.
    return engine.startSmartCopy();
}
