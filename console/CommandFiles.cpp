#include "CommandFiles.h"

#include "CommandConsole.h"
#include "ConsoleHost.h"
#include "ProgramObjects.h"
#include "QuestionHost.h"
#include "UiTextId.h"

#include <QFileInfo>

namespace {

void printFileError(CommandConsole &console, const QString &path)
{
    console.print(path + QLatin1Char(' ') + uiText().text(UiTextId::FileError));
}

} // namespace

QString CommandFiles::imageFilter()
{
    return QStringLiteral("Binary files (*.bin);;All files (*.*)");
}

QString CommandFiles::askSaveFile(CommandConsole &console)
{
    ConsoleHost &host = console.host();
    return host.questions().chooseSaveFile(uiText().text(UiTextId::SaveBinaryFile),
                                           host.lastUsedFolder(), imageFilter());
}

QString CommandFiles::askOpenFile(CommandConsole &console)
{
    ConsoleHost &host = console.host();
    return host.questions().chooseOpenFile(uiText().text(UiTextId::OpenTip), host.lastUsedFolder(),
                                           imageFilter());
}

bool CommandFiles::mayWrite(CommandConsole &console, const QString &path)
{
    const QFileInfo file(path);
    if (file.exists()) {
        if (!file.isFile() || !file.isWritable()) {
            printFileError(console, path);
            return false;
        }
        return console.host().questions().confirm(uiText().text(UiTextId::WarningTitle),
                                                  file.absoluteFilePath() + QLatin1Char('\n') +
                                                      uiText().text(UiTextId::AreYouSure));
    }
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir() || !folder.isWritable()) {
        printFileError(console, path);
        return false;
    }
    return true;
}

bool CommandFiles::mayRead(CommandConsole &console, const QString &path)
{
    const QFileInfo file(path);
    if (file.isFile() && file.isReadable())
        return true;
    printFileError(console, path);
    return false;
}
