#include "CFrameCmdLog.h"

#include "AnswerKind.h"
#include "CommandArguments.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"

int CFrameCmdLog::Execute(const QStringList &arguments, ChipEngine &, CommandConsole &console)
{
    bool enable = true;
    if (!arguments.isEmpty()) {
        const std::optional<quint64> value = CommandArguments::hex(arguments.first());
        if (!value) {
            printUsage(console);
            return CommandStatus::Error;
        }
        enable = *value != 0;
    }
    console.host().setLogFile(enable, QStringLiteral("korvane.log"));
    return CommandStatus::Done;
}
