#include "CFrameCmdGetMemory.h"

#include "AnswerKind.h"
#include "ChipJobs.h"

int CFrameCmdGetMemory::Execute(const QStringList &arguments, ChipEngine &engine,
                                CommandConsole &console)
{
    return ChipJobs::startReadJob(*this, arguments, engine, console, JobCode::Read);
}
