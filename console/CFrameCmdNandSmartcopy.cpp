#include "CFrameCmdNandSmartcopy.h"

#include "ChipEngine.h"
#include "ChipJobs.h"

int CFrameCmdNandSmartcopy::Execute(const QStringList &, ChipEngine &engine,
                                    CommandConsole &console)
{
    // The copy is planned and programmed through the programmer's queue.
    if (const int refused = ChipJobs::refuseWhenBusy(console))
        return refused;
    // The program job's code while the copy runs, so that a script waits
    // for the whole clone; a refusal stops a script instead of reading as
    // done.
    return engine.startSmartCopy();
}
