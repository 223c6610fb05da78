#include "CFrameCmdConfig.h"

#include "AnswerKind.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"
#include "DeviceCatalogue.h"
#include "ProgramObjects.h"
#include "UiTextId.h"

int CFrameCmdConfig::Execute(const QStringList &arguments, ChipEngine &, CommandConsole &console)
{
    ConsoleHost &host = console.host();
    // Selecting a target replaces the engine and the commands: nothing
    // here touches either afterwards.
    if (arguments.isEmpty()) {
        host.openDeviceDialog();
        return CommandStatus::Done;
    }
    // Device names may hold blanks; the words come back as typed.
    const QString name = arguments.join(QLatin1Char(' '));
    if (host.catalogue().findByName(name))
        host.selectTarget(name);
    else
        console.print(uiText().text(UiTextId::TargetNotExist));
    return CommandStatus::Done;
}
