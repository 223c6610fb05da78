#include "CFrameCmdLdram.h"

#include "AnswerKind.h"
#include "ChipEngine.h"
#include "CommandConsole.h"
#include "CommandFiles.h"
#include "ConsoleHost.h"

#include <QFileInfo>

int CFrameCmdLdram::Execute(const QStringList &arguments, ChipEngine &engine,
                            CommandConsole &console)
{
    ConsoleHost &host = console.host();
    if (!host.hasTarget()) {
        printUsage(console);
        return CommandStatus::Error;
    }
    const QString file =
        arguments.isEmpty() ? CommandFiles::askOpenFile(console) : arguments.first();
    if (file.isEmpty())
        return CommandStatus::Error;
    if (!CommandFiles::mayRead(console, file))
        return CommandStatus::Error;
    host.rememberFile(QFileInfo(file).absoluteFilePath());
    engine.loadImage(file);
    return CommandStatus::Done;
}
