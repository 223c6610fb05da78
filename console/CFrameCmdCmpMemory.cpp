#include "CFrameCmdCmpMemory.h"

#include "AnswerKind.h"
#include "ChipJobs.h"

int CFrameCmdCmpMemory::Execute(const QStringList &arguments, ChipEngine &engine,
                                CommandConsole &console)
{
    return ChipJobs::startReadJob(*this, arguments, engine, console, JobCode::Verify);
}
