#include "CFrameCmdNandMFC.h"

#include "AnswerKind.h"
#include "ChipEngine.h"

int CFrameCmdNandMFC::Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &)
{
    engine.multipleReadCorrection(!arguments.isEmpty());
    return CommandStatus::Done;
}
