#include "CFrameCmdInitUsb.h"

#include "AnswerKind.h"
#include "ChipEngine.h"
#include "CommandConsole.h"
#include "ConsoleHost.h"
#include "OperationHost.h"
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
    // A script goes on once the programmer is back and its adapter checked
    // (instead of starting the auto script again).
    OperationHost *host = console.scriptLoaded() ? engine.operationHost() : nullptr;
    if (host)
        host->endJobWhenReady(JobCode::Reconnect);
    console.host().showDisconnected();
    engine.forceReconnect();
    return host ? int(JobCode::Reconnect) : int(CommandStatus::Done);
}
