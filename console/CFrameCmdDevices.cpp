#include "CFrameCmdDevices.h"

#include "AnswerKind.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"
#include "DeviceCatalogue.h"

int CFrameCmdDevices::Execute(const QStringList &, ChipEngine &, CommandConsole &console)
{
    console.host().catalogue().printAll([&console](const QString &line) { console.print(line); },
                                        false);
    return CommandStatus::Done;
}
