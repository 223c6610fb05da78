#include "ScriptEngine.h"

#include "ApplicationFolders.h"
#include "ProgramObjects.h"
#include "ScriptPreprocessor.h"
#include "UiTextId.h"
#include "VisibleLine.h"

#include <QFile>

#include <limits>

namespace {

// Longest script name a call may use (a file name's usual limit, less ".usp").
constexpr int MaxScriptName = 251;

} // namespace

int ScriptEngine::decimalValue(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && ScriptPreprocessor::isBlank(text.at(i)))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        negative = text.at(i++) == QLatin1Char('-');
    qint64 value = 0;
    while (i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9')) {
        value = std::min<qint64>(value * 10 + (text.at(i++).unicode() - '0'),
                                 qint64(std::numeric_limits<int>::max()) + 1);
    }
    value = negative ? -value : value;
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(),
                                  std::numeric_limits<int>::max()));
}

namespace {

// N of a word "%N" with N a positive decimal number; 0 for any other word,
// and for a number too large to be an argument (it gives nothing).
int argumentNumber(const QString &word, bool &isArgument)
{
    isArgument = false;
    if (word.size() < 2 || word.at(0) != QLatin1Char('%'))
        return 0;
    qint64 value = 0;
    for (qsizetype i = 1; i < word.size(); ++i) {
        const QChar c = word.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        value = std::min<qint64>(value * 10 + (c.unicode() - '0'), std::numeric_limits<int>::max());
    }
    isArgument = value > 0;
    return int(value);
}

} // namespace

ScriptEngine::ScriptEngine(Sink print) : m_print(std::move(print)), m_root(this) {}

ScriptEngine::ScriptEngine(ScriptEngine &root, const Sink &print, int depth)
    : m_print(print), m_root(&root), m_depth(depth)
{}

ScriptEngine::~ScriptEngine() = default;

bool ScriptEngine::LoadScriptFile(const QString &commandLine)
{
    unload();
    const QStringList words = wordsOf(commandLine);
    const QString path = words.isEmpty() ? QString() : scriptPath(words.first());
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        print(uiText().text(UiTextId::BadCommand));
        return false;
    }
    // One byte more than allowed tells a file that is too large.
    const QByteArray bytes = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        print(uiText().text(UiTextId::BadCommand));
        return false;
    }
    if (bytes.size() > MaxFileSize) {
        print(uiText().text(UiTextId::ScriptFileError));
        return false;
    }
    m_arguments = words;
    LoadScriptText(QString::fromLocal8Bit(bytes));
    return true;
}

void ScriptEngine::LoadScriptText(const QString &text)
{
    ++m_root->m_generation;
    m_lines.clear();
    m_labels.clear();
    m_options.clear();
    m_callee.reset();
    m_position = 0;
    m_conditionKind = NoCondition;
    m_conditionOperator = 0;
    m_conditionValue = 0;
    m_thenLine = 0;
    m_elseLine = -1;
    m_endifLine = -1;
    if (m_root == this)
        m_aborted = false;
    const Sink sink = [this](const QString &line) { print(line); };
    ScriptPreprocessor(sink).run(text, m_lines, m_labels);
}

void ScriptEngine::unload()
{
    LoadScriptText(QString());
    m_arguments.clear();
}

QString ScriptEngine::NextLine()
{
    m_options.clear();
    if (m_root->m_aborted)
        return QString();
    if (m_callee) {
        const QString line = m_callee->NextLine();
        if (!line.isEmpty())
            return line;
        m_callee.reset();
        if (m_root->m_aborted)
            return QString();
        print(QStringLiteral(" "));
    }
    for (;;) {
        if (m_position < 0 || m_position >= m_lines.size())
            return QString();
        if (++m_root->m_fetches > MaxFetches) {
            m_root->m_fetches = 0;
            print(QStringLiteral("Script paused after %1 lines in a row").arg(MaxFetches));
            return QStringLiteral("pause");
        }
        const QString line = m_lines.at(m_position++);
        if (line.contains(QLatin1String("//"))) {
            print(line);
            continue;
        }
        const QStringList words = wordsOf(line);
        const QString first = words.value(0).toLower();
        if (first == QLatin1String("echo")) {
            QString text;
            for (qsizetype i = 1; i < words.size(); ++i)
                text += words.at(i) + QLatin1Char(' ');
            print(text);
        } else if (first == QLatin1String("goto")) {
            JumpTo(words.value(1));
        } else if (first == QLatin1String("run")) {
            print(line);
            return startCallee(words);
        } else if (first == QLatin1String("option")) {
            SetupOptions(words);
            return line;
        } else if (first == QLatin1String("if")) {
            SetupCondition(words);
            return line;
        } else if (first != QLatin1String("endif") && !words.isEmpty()) {
            return substituted(words);
        }
    }
}

QString ScriptEngine::startCallee(const QStringList &words)
{
    if (m_depth >= MaxRunDepth) {
        print(QStringLiteral("Scripts run more than %1 deep: script stopped").arg(MaxRunDepth));
        m_root->m_aborted = true;
        return QString();
    }
    m_callee.reset(new ScriptEngine(*m_root, m_print, m_depth + 1));
    QString first;
    if (m_callee->LoadScriptFile(substituted(words.mid(1))))
        first = m_callee->NextLine();
    if (first.isEmpty())
        m_callee.reset();
    return first;
}

QString ScriptEngine::substituted(const QStringList &words) const
{
    QString line;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (i > 0)
            line += QLatin1Char(' ');
        bool isArgument = false;
        const int number = argumentNumber(words.at(i), isArgument);
        if (!isArgument)
            line += words.at(i);
        else if (number < m_arguments.size())
            line += m_arguments.at(number);
    }
    // Arguments come from a typed line of any length; the line stays a
    // script line.
    line.truncate(MaxLineLength);
    return line;
}

void ScriptEngine::JumpTo(const QString &label)
{
    const int index = labelIndex(label);
    if (index < 0) {
        print(QStringLiteral("Label %1 not found").arg(label));
        m_position = int(m_lines.size());
        return;
    }
    const int line = m_labels.at(index).line;
    if (line == m_position - 1) {
        print(QStringLiteral("loop detected!"));
        return;
    }
    m_position = line;
}

void ScriptEngine::SetupCondition(const QStringList &words)
{
    // The jump targets are always this block's (or none), never those of an
    // earlier `if`.
    m_thenLine = m_position;
    m_elseLine = -1;
    m_endifLine = -1;
    for (const ScriptLabel &label : std::as_const(m_labels)) {
        if (label.line == m_position) {
            m_elseLine = labelLine(label.name + QStringLiteral("_else"));
            m_endifLine = labelLine(label.name + QStringLiteral("_endif"));
            break;
        }
    }
    // A condition that cannot be read is false: kind 4 tests 1 == 0.
    m_conditionKind = NoCondition;
    if (words.size() < 4) {
        print(QStringLiteral("Check if statement"));
        m_conditionOperator = 0;
        m_conditionValue = 0;
        return;
    }
    static const char *const kinds[] = {"MEMORY", "PEEK", "FLASHSET", "CMPRAM"};
    for (int kind = Memory; kind <= CmpRam; ++kind) {
        if (words.at(1) == QLatin1String(kinds[kind]))
            m_conditionKind = kind;
    }
    if (m_conditionKind == NoCondition) {
        m_conditionOperator = 0;
        m_conditionValue = 0;
        return;
    }
    if (words.at(2) == QLatin1String("=="))
        m_conditionOperator = 0;
    else if (words.at(2) == QLatin1String("!="))
        m_conditionOperator = 1;
    else
        print(QStringLiteral("operator error"));
    m_conditionValue = quint32(words.at(3).toULongLong(nullptr, 16));
}

void ScriptEngine::ApplyCondition(quint32 value)
{
    ScriptEngine &script = active();
    const bool holds = script.m_conditionOperator == 0 ? value == script.m_conditionValue
                                                       : value != script.m_conditionValue;
    if (holds)
        script.m_position = script.m_thenLine;
    else if (script.m_elseLine >= 0)
        script.m_position = script.m_elseLine;
    else if (script.m_endifLine >= 0)
        script.m_position = script.m_endifLine;
    else
        script.m_position = int(script.m_lines.size());
}

void ScriptEngine::SetupOptions(const QStringList &words)
{
    print(uiText().text(UiTextId::PleaseSelect));
    m_options.clear();
    for (qsizetype i = 1; i + 1 < words.size(); i += 2) {
        const int value = decimalValue(words.at(i));
        const int index = labelIndex(words.at(i + 1));
        if (index < 0)
            print(QStringLiteral("Label %1 not found").arg(words.at(i + 1)));
        else if (value > 0)
            m_options.append({value, m_labels.at(index).line});
    }
}

bool ScriptEngine::SelectOption(const QString &answer)
{
    ScriptEngine &script = active();
    const int value = decimalValue(answer);
    for (const Option &option : std::as_const(script.m_options)) {
        if (option.value == value) {
            script.m_position = option.line;
            return true;
        }
    }
    return false;
}

int ScriptEngine::callDepth() const
{
    return m_callee ? 1 + m_callee->callDepth() : 0;
}

const ScriptEngine &ScriptEngine::active() const
{
    const ScriptEngine *script = this;
    while (script->m_callee)
        script = script->m_callee.get();
    return *script;
}

ScriptEngine &ScriptEngine::active()
{
    ScriptEngine *script = this;
    while (script->m_callee)
        script = script->m_callee.get();
    return *script;
}

int ScriptEngine::labelIndex(const QString &name) const
{
    for (qsizetype i = 0; i < m_labels.size(); ++i) {
        if (m_labels.at(i).name == name)
            return int(i);
    }
    return -1;
}

int ScriptEngine::labelLine(const QString &name) const
{
    const int index = labelIndex(name);
    return index < 0 ? -1 : m_labels.at(index).line;
}

QString ScriptEngine::scriptPath(const QString &word)
{
    if (word.isEmpty() || word.size() > MaxScriptName || word == QLatin1String(".") ||
        word == QLatin1String(".."))
        return QString();
    for (const QChar c : word) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return QString();
    }
    return applicationFolder(ScriptFolder) + word + QStringLiteral(".usp");
}

QStringList ScriptEngine::wordsOf(const QString &line)
{
    QStringList words;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        const bool blank = i == line.size() || ScriptPreprocessor::isBlank(line.at(i));
        if (!blank && start < 0)
            start = i;
        else if (blank && start >= 0) {
            words << line.mid(start, i - start);
            start = -1;
        }
    }
    return words;
}

void ScriptEngine::print(const QString &line) const
{
    if (m_print)
        m_print(visibleLine(line));
}
