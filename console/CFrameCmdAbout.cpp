#include "CFrameCmdAbout.h"

#include "AnswerKind.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"
#include "QuestionHost.h"

int CFrameCmdAbout::Execute(const QStringList &, ChipEngine &, CommandConsole &console)
{
    console.host().questions().showAbout();
    return CommandStatus::Done;
}
