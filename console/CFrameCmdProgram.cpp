#include "CFrameCmdProgram.h"

#include "ChipEngine.h"
#include "ChipJobs.h"

int CFrameCmdProgram::Execute(const QStringList &arguments, ChipEngine &engine,
                              CommandConsole &console)
{
    return ChipJobs::startWriteJob(*this, arguments, engine, console,
                                   [](ChipEngine &chip, quint64 start, quint64 length) {
                                       return chip.startProgram(start, length);
                                   });
}
