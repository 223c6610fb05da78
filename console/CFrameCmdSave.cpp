#include "CFrameCmdSave.h"

#include "AnswerKind.h"
#include "CMemoryNode.h"
#include "ChipEngine.h"
#include "CommandArguments.h"
#include "CommandConsole.h"
#include "CommandFiles.h"
#include "ConsoleHost.h"
#include "ProgramObjects.h"
#include "UiTextId.h"

#include <QFileInfo>

#include <limits>

namespace {

// The name of the engine's memory tab called `word` (ignoring case), or
// empty when it has none of that name.
QString tabNamed(ChipEngine &engine, const QString &word)
{
    for (int index = 0; index < 2; ++index) {
        const CMemoryNode *node = engine.memoryNode(index);
        if (node && node->name().compare(word, Qt::CaseInsensitive) == 0)
            return node->name();
    }
    return QString();
}

// The file named as argument `index`, else asked for. Empty when cancelled
// or when the named file may not be written.
QString targetFile(const QStringList &arguments, qsizetype index, CommandConsole &console)
{
    if (arguments.size() <= index)
        return CommandFiles::askSaveFile(console);
    const QString file = arguments[index];
    return CommandFiles::mayWrite(console, file) ? file : QString();
}

} // namespace

int CFrameCmdSave::Execute(const QStringList &arguments, ChipEngine &engine,
                           CommandConsole &console)
{
    ConsoleHost &host = console.host();
    // "save tabname (filename)": a tab of the engine, e.g. from a script.
    if (!arguments.isEmpty()) {
        const QString tab = tabNamed(engine, arguments.first());
        if (!tab.isEmpty()) {
            const QString file = targetFile(arguments, 1, console);
            if (file.isEmpty())
                return CommandStatus::Error;
            engine.saveImage(tab, file);
            host.rememberFile(QFileInfo(file).absoluteFilePath());
            return CommandStatus::Done;
        }
    }
    if (arguments.size() < 2) {
        host.saveCurrentTab();
        return CommandStatus::Done;
    }
    // "save start end (filename)": the engine's block export.
    const std::optional<quint64> start = CommandArguments::hex(arguments[0]);
    const std::optional<quint64> end = CommandArguments::hex(arguments[1]);
    if (!start || !end) {
        printUsage(console);
        return CommandStatus::Error;
    }
    constexpr quint64 Max32 = std::numeric_limits<quint32>::max();
    if (*start > *end || *end > Max32) {
        console.print(uiText().text(UiTextId::CheckMemoryRange) + QLatin1Char(' ') + keyword() +
                      QLatin1Char(' ') + CommandArguments::hexText(*start) + QLatin1Char(' ') +
                      CommandArguments::hexText(*end));
        return CommandStatus::Error;
    }
    const QString file = targetFile(arguments, 2, console);
    if (file.isEmpty())
        return CommandStatus::Error;
    engine.exportBlocks(*start, *end, file);
    return CommandStatus::Done;
}
