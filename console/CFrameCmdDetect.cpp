#include "CFrameCmdDetect.h"

#include "AnswerKind.h"
#include "ChipEngine.h"
#include "ChipJobs.h"

int CFrameCmdDetect::Execute(const QStringList &, ChipEngine &engine, CommandConsole &console)
{
    // Not connected is a refusal, not "done": a script must not go on as
    // if the chip had been detected.
    if (const int refused = ChipJobs::refuseWhenBusy(console))
        return refused;
    return engine.detectChip();
}
