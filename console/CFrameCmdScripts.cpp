#include "CFrameCmdScripts.h"

#include "AnswerKind.h"
#include "ApplicationFolders.h"
#include "CommandConsole.h"
#include "ProgramObjects.h"
#include "UiTextId.h"

#include <QDir>
#include <QFile>

namespace {

void listScripts(CommandConsole &console)
{
    const QStringList names =
        QDir(applicationFolder(ScriptFolder)).entryList({QStringLiteral("*.usp")}, QDir::Files);
    if (names.isEmpty()) {
        console.print(uiText().text(UiTextId::NoScriptFiles));
        return;
    }
    for (const QString &name : names)
        console.print(name);
}

// The script file `name` names: in the script folder, ".usp" added unless
// the name holds it. Empty for a name that reaches outside the folder.
QString scriptFile(const QString &name)
{
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name == QLatin1String("..") || name == QLatin1String("."))
        return QString();
    const QString suffix = QStringLiteral(".usp");
    return applicationFolder(ScriptFolder) + name + (name.contains(suffix) ? QString() : suffix);
}

} // namespace

int CFrameCmdScripts::Execute(const QStringList &arguments, ChipEngine &, CommandConsole &console)
{
    if (arguments.isEmpty()) {
        listScripts(console);
        return CommandStatus::Done;
    }
    const QString path = scriptFile(arguments.first());
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        console.print(uiText().text(UiTextId::ScriptFileError));
        return CommandStatus::Done;
    }
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        console.print(uiText().text(UiTextId::ScriptFileError));
        return CommandStatus::Done;
    }
    console.printLines(QString::fromLatin1(text));
    return CommandStatus::Done;
}
