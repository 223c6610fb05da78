// A script file's bytes through loading, preprocessing and fetching: every
// line handed to the runner, with `if` outcomes and `option` answers taken
// from the input. The input is also the script "f", so `run f` calls it
// again (up to the nesting limit).
#include "ApplicationFolders.h"
#include "FuzzChecks.h"
#include "ProgramObjects.h"
#include "ScriptEngine.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

namespace {

// Settings and script folder in a temporary folder of their own. Opening
// the settings makes their folder current: libFuzzer's relative corpus
// paths need the old one back.
struct Setup
{
    Setup()
    {
        const QString current = QDir::currentPath();
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
        objects = std::make_unique<ProgramObjects>();
        setScriptFolderOverride(home.path());
        QDir::setCurrent(current);
    }
    QTemporaryDir home;
    std::unique_ptr<ProgramObjects> objects;
};

bool visible(const QString &line)
{
    for (const QChar c : line) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

// Lines the runner asks for per input (a loop that dispatches commands
// fetches forever); loops that do not return "pause" after
// ScriptEngine::MaxFetches lines.
constexpr int MaxRunnerLines = 500;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Setup setup;
    const QByteArray bytes = fuzzBytes(data, size);
    {
        QFile file(setup.home.filePath(QStringLiteral("f.usp")));
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(bytes) == bytes.size());
    }
    qint64 printed = 0;
    ScriptEngine script([&printed](const QString &line) {
        ++printed;
        FUZZ_CHECK(visible(line));
    });
    const bool loaded = script.LoadScriptFile(QStringLiteral("f %1 b"));
    FUZZ_CHECK(loaded == (bytes.size() <= ScriptEngine::MaxFileSize));
    const QStringList &lines = script.lines();
    for (const QString &line : lines) {
        FUZZ_CHECK(!line.isEmpty() && line.size() <= ScriptEngine::MaxLineLength);
        FUZZ_CHECK(line.at(0) != QLatin1Char(' ') && line.at(0) != QLatin1Char('\t'));
    }
    for (const ScriptLabel &label : script.labels())
        FUZZ_CHECK(label.line >= 0 && label.line <= lines.size());

    const int choice = size > 0 ? data[size - 1] : 0;
    for (int i = 0; i < MaxRunnerLines; ++i) {
        const QString line = script.NextLine();
        if (line.isEmpty())
            break;
        FUZZ_CHECK(line.size() <= ScriptEngine::MaxLineLength);
        FUZZ_CHECK(script.callDepth() <= ScriptEngine::MaxRunDepth);
        FUZZ_CHECK(script.position() >= 0 && script.position() <= lines.size());
        const QString first = ScriptEngine::wordsOf(line).value(0).toLower();
        // The runner stops at a pause (also the one a loop ends in).
        if (first == QLatin1String("pause"))
            break;
        if (first == QLatin1String("if"))
            script.ApplyCondition(quint32((choice + i) & 3));
        else if (first == QLatin1String("option"))
            script.SelectOption(QString::number((choice + i) % 5));
    }
    // Nothing loaded after the end, and a new load starts afresh.
    script.unload();
    FUZZ_CHECK(!script.isLoaded() && script.callDepth() == 0 && !script.optionPending());
    return 0;
}
