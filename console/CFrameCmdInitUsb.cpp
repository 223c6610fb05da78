#include "CFrameCmdInitUsb.h"

#include "AnswerKind.h"
#include "ChipEngine.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"
#include "ProgramObjects.h"
#include "UiTextId.h"

int CFrameCmdInitUsb::Execute(const QStringList &, ChipEngine &engine, CommandConsole &console)
{
    // A reconnection ends whatever streams through the buffers.
    if (console.host().operationRunning() || !engine.tryLockBuffer()) {
        console.print(uiText().text(UiTextId::Busy));
        return CommandStatus::Failed;
    }
    engine.unlockBuffer();
    console.host().showDisconnected();
    engine.forceReconnect();
    return CommandStatus::Done;
}
