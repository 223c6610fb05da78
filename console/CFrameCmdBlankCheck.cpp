#include "CFrameCmdBlankCheck.h"

#include "AnswerKind.h"
#include "ChipJobs.h"

int CFrameCmdBlankCheck::Execute(const QStringList &arguments, ChipEngine &engine,
                                 CommandConsole &console)
{
    return ChipJobs::startReadJob(*this, arguments, engine, console, JobCode::BlankCheck);
}
