#include "ChipJobs.h"

#include "AnswerKind.h"
#include "CCmd.h"
#include "CommandArguments.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"
#include "ProgramObjects.h"
#include "UiTextId.h"

int ChipJobs::startReadJob(const CCmd &command, const QStringList &arguments, ChipEngine &engine,
                           CommandConsole &console, int job)
{
    const auto range = CommandArguments::range(arguments, engine, command, console);
    if (!range)
        return CommandStatus::Error;
    if (range->changed)
        console.print(CommandArguments::rangeLine(command, *range));
    return console.host().startOperation(range->start, range->length, job);
}

int ChipJobs::startWriteJob(const CCmd &command, const QStringList &arguments, ChipEngine &engine,
                            CommandConsole &console, Start start)
{
    if (const int refused = refuseWhenBusy(console))
        return refused;
    const auto range = CommandArguments::range(arguments, engine, command, console);
    if (!range)
        return CommandStatus::Error;
    if (range->widened) {
        console.print(uiText().text(UiTextId::CheckMemoryRange) + QLatin1Char(' ') +
                      CommandArguments::rangeLine(command, *range));
        return CommandStatus::Failed;
    }
    if (range->changed)
        console.print(CommandArguments::rangeLine(command, *range));
    return start(engine, range->start, range->length);
}

int ChipJobs::refuseWhenBusy(CommandConsole &console)
{
    ConsoleHost &host = console.host();
    if (host.programmerConnected() && !host.operationRunning())
        return 0;
    console.print(uiText().text(UiTextId::Busy));
    return CommandStatus::Failed;
}
