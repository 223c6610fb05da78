#include "CFrameCmdSpeed.h"

#include "AnswerKind.h"
#include "ChipEngine.h"
#include "CommandArguments.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"

namespace {
constexpr quint16 SlowestStep = 1;
constexpr quint16 FastestStep = 10;
} // namespace

int CFrameCmdSpeed::Execute(const QStringList &arguments, ChipEngine &engine,
                            CommandConsole &console)
{
    if (arguments.isEmpty()) {
        printUsage(console);
        return CommandStatus::Done;
    }
    const std::optional<quint16> step = CommandArguments::decimal16(arguments.first());
    if (!step) {
        printUsage(console);
        return CommandStatus::Error;
    }
    // Numbers outside the steps are ignored without a word.
    if (*step < SlowestStep || *step > FastestStep)
        return CommandStatus::Done;
    engine.setSpeed(*step);
    console.host().setSpeedDisplay(*step);
    return CommandStatus::Done;
}
