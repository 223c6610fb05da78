#include "CFrameCmdRandomFile.h"

#include "AnswerKind.h"
#include "ChipEngine.h"

int CFrameCmdRandomFile::Execute(const QStringList &, ChipEngine &engine, CommandConsole &)
{
    engine.fillRandom();
    return CommandStatus::Done;
}
