#include "ApplicationFolders.h"
#include "ProgramObjects.h"
#include "ScriptEngine.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

using Labels = QStringList; // "name=line"

// A script engine whose printed lines are kept.
struct Script
{
    Script() : engine([this](const QString &line) { printed << line; }) {}

    Labels labels() const
    {
        Labels names;
        for (const ScriptLabel &label : engine.labels())
            names << label.name + QLatin1Char('=') + QString::number(label.line);
        return names;
    }
    // Fetches until the end (at most `limit` lines): printed lines as they
    // are, fetched lines after "> ". Every `if` compares `condition`, every
    // `option` is answered with `answer`.
    QStringList transcript(quint32 condition = 0, const QString &answer = QString(),
                           int limit = 100)
    {
        for (int i = 0; i < limit; ++i) {
            const QString line = engine.NextLine();
            if (line.isEmpty())
                break;
            printed << QStringLiteral("> ") + line;
            const QString first = ScriptEngine::wordsOf(line).value(0).toLower();
            // As the runner: a condition of no kind tests 1.
            if (first == QLatin1String("if"))
                engine.ApplyCondition(
                    engine.conditionKind() == ScriptEngine::NoCondition ? 1 : condition);
            else if (first == QLatin1String("option") && !engine.SelectOption(answer))
                printed << QStringLiteral("(no option %1)").arg(answer);
        }
        return printed;
    }

    QStringList printed;
    ScriptEngine engine;
};

} // namespace

class TestScriptEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void preprocess_data();
    void preprocess();
    void fetch_data();
    void fetch();
    void options();
    void argumentsOfALongLine();
    void loadFile_data();
    void loadFile();
    void run_data();
    void run();
    void runItselfIsBounded();
    void loopsReturnToTheRunner_data();
    void loopsReturnToTheRunner();
    void binaryTextIsSafe();

private:
    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
    std::unique_ptr<QTemporaryDir> m_scripts;
};

void TestScriptEngine::initTestCase()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
}

void TestScriptEngine::init()
{
    m_scripts = std::make_unique<QTemporaryDir>();
    setScriptFolderOverride(m_scripts->path());
}

void TestScriptEngine::preprocess_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Labels>("labels");
    QTest::addColumn<QStringList>("printed");
    const QStringList two{"echo a", "cls"};
    QTest::newRow("CR LF") << "echo a\r\ncls\r\n" << two << Labels{} << QStringList{};
    QTest::newRow("LF") << "echo a\ncls\n" << two << Labels{} << QStringList{};
    QTest::newRow("CR") << "echo a\rcls" << two << Labels{} << QStringList{};
    QTest::newRow("LF CR") << "echo a\n\rcls\n\r" << two << Labels{} << QStringList{};
    QTest::newRow("blank lines, blanks and tabs")
        << "\r\n  \t\r\n \techo a\n\n\t cls  " << QStringList{"echo a", "cls  "} << Labels{}
        << QStringList{};
    QTest::newRow("label designates the next statement")
        << "cls\nstart:\n  other: ignored text\necho a" << QStringList{"cls", "echo a"}
        << Labels{"start=1", "other=1"} << QStringList{};
    QTest::newRow("label at the end")
        << "cls\nend:" << QStringList{"cls"} << Labels{"end=1"} << QStringList{};
    QTest::newRow("colon after a blank is no label")
        << "echo a:b\nload c:x" << QStringList{"echo a:b", "load c:x"} << Labels{} << QStringList{};
    QTest::newRow("colon after a tab is no label")
        << "echo\ta:b" << QStringList{"echo\ta:b"} << Labels{} << QStringList{};
    QTest::newRow("odd label characters") << "%1:\n:\nä/\\\"*\x01:\ncls" << QStringList{"cls"}
                                          << Labels{"%1=0", "=0", "ä/\\\"*\x01=0"} << QStringList{};
    QTest::newRow("if without else") << "if MEMORY == 0\ncls\nendif\nabout"
                                     << QStringList{"if MEMORY == 0", "cls", "endif", "about"}
                                     << Labels{"if_1=1", "if_1_endif=3"} << QStringList{};
    QTest::newRow("else jumps over the else-part")
        << "if MEMORY == 0\ncls\nelse\nabout\nendif"
        << QStringList{"if MEMORY == 0", "cls", "goto if_1_endif", "about", "endif"}
        << Labels{"if_1=1", "if_1_else=3", "if_1_endif=5"} << QStringList{};
    QTest::newRow("nested block") << "if A\n if B\n cls\n else\n about\n endif\nendif"
                                  << QStringList{"if A",  "if B",  "cls",  "goto if_1_1_endif",
                                                 "about", "endif", "endif"}
                                  << Labels{"if_1=1", "if_1_1=2", "if_1_1_else=4", "if_1_1_endif=6",
                                            "if_1_endif=7"}
                                  << QStringList{};
    QTest::newRow("second blocks")
        << "if A\nif B\nendif\nif C\nendif\nendif\nif D\nif E\nendif\nendif"
        << QStringList{"if A",  "if B", "endif", "if C",  "endif",
                       "endif", "if D", "if E",  "endif", "endif"}
        << Labels{"if_1=1",       "if_1_1=2", "if_1_1_endif=3", "if_1_2=4",       "if_1_2_endif=5",
                  "if_1_endif=6", "if_2=7",   "if_2_1=8",       "if_2_1_endif=9", "if_2_endif=10"}
        << QStringList{};
    // A block in the else-part after one in the then-part gets a name of
    // its own, so its else and endif are its own.
    QTest::newRow("blocks in both parts")
        << "if A\nif B\nendif\nelse\nif C\nendif\nendif"
        << QStringList{"if A", "if B", "endif", "goto if_1_endif", "if C", "endif", "endif"}
        << Labels{"if_1=1",   "if_1_1=2",       "if_1_1_endif=3", "if_1_else=4",
                  "if_1_2=5", "if_1_2_endif=6", "if_1_endif=7"}
        << QStringList{};
    QTest::newRow("else without if")
        << "else\nendif" << QStringList{"else", "endif"} << Labels{}
        << QStringList{"Check statement for else", "Check statement for endif"};
    QTest::newRow("endif too many")
        << "if A\nendif\nendif" << QStringList{"if A", "endif", "endif"}
        << Labels{"if_1=1", "if_1_endif=2"} << QStringList{"Check statement for endif"};
    QTest::newRow("upper case is no block")
        << "IF A\nELSE\nENDIF" << QStringList{"IF A", "ELSE", "ENDIF"} << Labels{} << QStringList{};
    QTest::newRow("line cut to 511 characters")
        << QString(600, QLatin1Char('x')) + "\ncls"
        << QStringList{QString(511, QLatin1Char('x')), "cls"} << Labels{}
        << QStringList{"Script line 1 is longer than 511 characters: cut"};
    QTest::newRow("blanks do not count against the cut")
        << QString(520, QLatin1Char(' ')) + "cls" << QStringList{} << Labels{}
        << QStringList{"Script line 1 is longer than 511 characters: cut"};

    // Eleven blocks nested: the eleventh is refused, its else and endif
    // leave the others alone.
    QString deep;
    for (int i = 0; i < 11; ++i)
        deep += QStringLiteral("if A\n");
    deep += QStringLiteral("else\nendif\n");
    for (int i = 0; i < 10; ++i)
        deep += QStringLiteral("endif\n");
    QStringList deepLines;
    for (int i = 0; i < 11; ++i)
        deepLines << "if A";
    deepLines << "else";
    for (int i = 0; i < 11; ++i)
        deepLines << "endif";
    Labels deepLabels;
    QString name = QStringLiteral("if");
    for (int i = 0; i < 10; ++i) {
        name += QStringLiteral("_1");
        deepLabels << QStringLiteral("%1=%2").arg(name).arg(i + 1);
    }
    for (int i = 0; i < 10; ++i) {
        deepLabels << QStringLiteral("%1_endif=%2").arg(name).arg(14 + i);
        name.chop(2);
    }
    QTest::newRow("eleven levels")
        << deep << deepLines << deepLabels << QStringList{"If statement too deep"};
}

void TestScriptEngine::preprocess()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QFETCH(Labels, labels);
    QFETCH(QStringList, printed);
    Script script;
    script.engine.LoadScriptText(text);
    QCOMPARE(script.engine.lines(), lines);
    QCOMPARE(script.labels(), labels);
    QCOMPARE(script.printed, printed);
    QCOMPARE(script.engine.isLoaded(), !lines.isEmpty());
    QCOMPARE(script.engine.position(), 0);
}

void TestScriptEngine::fetch_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<quint32>("condition");
    QTest::addColumn<QStringList>("transcript");
    const QStringList none;
    QTest::newRow("LF only runs as CR LF") << "cls\nabout\n"
                                           << none << 0u << QStringList{"> cls", "> about"};
    QTest::newRow("comment shown, not run")
        << "// erase first\ncls\nload c://image.bin" << none << 0u
        << QStringList{"// erase first", "> cls", "load c://image.bin"};
    QTest::newRow("echo: each word and a blank")
        << "echo a b\nECHO\t x\nEcho" << none << 0u << QStringList{"a b ", "x ", ""};
    QTest::newRow("words of a command line")
        << "read\t 0   100 " << none << 0u << QStringList{"> read 0 100"};
    QTest::newRow("%2 and %3") << "read %2 %3\nload %1" << QStringList{"s", "x", "y"} << 0u
                               << QStringList{"> read y ", "> load x"};
    QTest::newRow("words that are no argument") << "load %0 %1x % 50% %01" << QStringList{"s", "x"}
                                                << 0u << QStringList{"> load %0 %1x % 50% x"};
    QTest::newRow("%99 and a huge number") << "load %99 %99999999999999999999 end"
                                           << QStringList{"s"} << 0u << QStringList{"> load   end"};
    QTest::newRow("label and goto loop")
        << "start:\ngoto start\ncls" << none << 0u << QStringList{"loop detected!", "> cls"};
    QTest::newRow("goto forward") << "goto skip\ncls\nskip:\nabout" << none << 0u
                                  << QStringList{"> about"};
    QTest::newRow("goto is case sensitive")
        << "goto Skip\ncls\nskip:\nabout" << none << 0u << QStringList{"Label Skip not found"};
    QTest::newRow("goto without label")
        << "goto\ncls" << none << 0u << QStringList{"Label  not found"};
    QTest::newRow("first label of a name")
        << "goto a\na:\ncls\na:\nabout" << none << 0u << QStringList{"> cls", "> about"};
    QTest::newRow("if without else fails") << "if MEMORY == 1\ncls\nendif\nabout" << none << 0u
                                           << QStringList{"> if MEMORY == 1", "> about"};
    QTest::newRow("if without else holds") << "if MEMORY == 1\ncls\nendif\nabout" << none << 1u
                                           << QStringList{"> if MEMORY == 1", "> cls", "> about"};
    QTest::newRow("else-part") << "if PEEK != 0\ncls\nelse\nabout\nendif\nlog" << none << 0u
                               << QStringList{"> if PEEK != 0", "> about", "> log"};
    QTest::newRow("then-part skips the else-part")
        << "if PEEK != 0\ncls\nelse\nabout\nendif\nlog" << none << 5u
        << QStringList{"> if PEEK != 0", "> cls", "> log"};
    QTest::newRow("hexadecimal value") << "if FLASHSET == 1f\ncls\nendif" << none << 0x1fu
                                       << QStringList{"> if FLASHSET == 1f", "> cls"};
    QTest::newRow("failing outer block skips the inner")
        << "if MEMORY == 1\nif MEMORY == 0\ncls\nelse\nabout\nendif\nendif\nlog" << none << 0u
        << QStringList{"> if MEMORY == 1", "> log"};
    QTest::newRow("inner block of the else-part")
        << "if MEMORY == 1\nif MEMORY == 1\ncls\nendif\nelse\nif MEMORY == "
           "1\nabout\nendif\nlog\nendif"
           "\nd 1"
        << none << 0u << QStringList{"> if MEMORY == 1", "> if MEMORY == 1", "> log", "> d 1"};
    QTest::newRow("incomplete if is false")
        << "if MEMORY\ncls\nendif\nabout" << none << 0u
        << QStringList{"Check if statement", "> if MEMORY", "> about"};
    QTest::newRow("unknown condition is false") << "if OTHER == 1\ncls\nelse\nabout\nendif" << none
                                                << 1u << QStringList{"> if OTHER == 1", "> about"};
    QTest::newRow("operator error keeps the operator")
        << "if MEMORY != 5\nendif\nif MEMORY <> 5\ncls\nendif" << none << 0u
        << QStringList{"> if MEMORY != 5", "operator error", "> if MEMORY <> 5", "> cls"};
    QTest::newRow("if in upper case has no block: failing ends the script")
        << "IF MEMORY == 1\ncls\nENDIF\nabout" << none << 0u << QStringList{"> IF MEMORY == 1"};
    QTest::newRow("if refused as too deep has no block")
        << QString("if MEMORY == 0\n").repeated(11) + "cls" << none << 0u
        << QStringList{"If statement too deep"} + QStringList(11, "> if MEMORY == 0") +
               QStringList{"> cls"};
    QTest::newRow("endif and labels are not run")
        << "a:\nendif\ncls" << none << 0u << QStringList{"Check statement for endif", "> cls"};
}

void TestScriptEngine::fetch()
{
    QFETCH(QString, text);
    QFETCH(QStringList, arguments);
    QFETCH(quint32, condition);
    QFETCH(QStringList, transcript);
    const QString name = arguments.value(0, QStringLiteral("s"));
    TestFiles::write(m_scripts->filePath(name + ".usp"), text.toUtf8());
    Script script;
    QVERIFY(script.engine.LoadScriptFile(arguments.isEmpty() ? name : arguments.join(' ')));
    QCOMPARE(script.transcript(condition), transcript);
    QCOMPARE(script.engine.NextLine(), QString());
}

void TestScriptEngine::options()
{
    Script script;
    script.engine.LoadScriptText("echo 1 one\noption 1 one 2 two 0 one 3 none 4\n"
                                 "one:\ncls\ntwo:\nabout\n");
    QCOMPARE(script.engine.NextLine(), QString("option 1 one 2 two 0 one 3 none 4"));
    QCOMPARE(script.printed, (QStringList{"1 one ", "Please select", "Label none not found"}));
    QVERIFY(script.engine.optionPending());
    QCOMPARE(script.engine.options().size(), 2);
    QVERIFY(!script.engine.SelectOption("0"));
    QVERIFY(!script.engine.SelectOption("3"));
    QVERIFY(!script.engine.SelectOption("x"));
    QVERIFY(script.engine.SelectOption(" 2"));
    QCOMPARE(script.engine.NextLine(), QString("about"));
    QVERIFY(!script.engine.optionPending());
}

void TestScriptEngine::argumentsOfALongLine()
{
    // A typed line of any length: substituted lines stay script lines.
    TestFiles::write(m_scripts->filePath("s.usp"), "load %1 %1");
    Script script;
    QVERIFY(script.engine.LoadScriptFile("s " + QString(100000, QLatin1Char('a'))));
    const QString line = script.engine.NextLine();
    QCOMPARE(line.size(), ScriptEngine::MaxLineLength);
    QVERIFY(line.startsWith("load aaa"));
}

void TestScriptEngine::loadFile_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("arguments") << "ok\tA  b" << true << QStringList{}
                               << QStringList{"ok", "A", "b"};
    QTest::newRow("suffix always added")
        << "ok.usp" << false << QStringList{"Bad command"} << QStringList{};
    QTest::newRow("missing") << "none" << false << QStringList{"Bad command"} << QStringList{};
    QTest::newRow("empty line") << "  " << false << QStringList{"Bad command"} << QStringList{};
    QTest::newRow("outside the folder")
        << "../ok" << false << QStringList{"Bad command"} << QStringList{};
    QTest::newRow("too large") << "big" << false << QStringList{"Script file error!"}
                               << QStringList{};
    QTest::newRow("largest") << "largest" << true << QStringList{} << QStringList{"largest"};
}

void TestScriptEngine::loadFile()
{
    QFETCH(QString, commandLine);
    QFETCH(bool, loaded);
    QFETCH(QStringList, printed);
    QFETCH(QStringList, arguments);
    TestFiles::write(m_scripts->filePath("ok.usp"), "cls");
    QByteArray big(ScriptEngine::MaxFileSize, '\n');
    big.append("cls");
    TestFiles::write(m_scripts->filePath("largest.usp"), big.right(ScriptEngine::MaxFileSize));
    TestFiles::write(m_scripts->filePath("big.usp"), big);
    Script script;
    script.engine.LoadScriptText("about");
    QCOMPARE(script.engine.LoadScriptFile(commandLine), loaded);
    QCOMPARE(script.engine.isLoaded(), loaded);
    QCOMPARE(script.printed, printed);
    QCOMPARE(script.engine.arguments(), arguments);
}

void TestScriptEngine::run_data()
{
    QTest::addColumn<QString>("top");
    QTest::addColumn<QStringList>("transcript");
    QTest::newRow("callee first, a blank line after it")
        << "run callee x\nabout"
        << QStringList{"run callee x", "> read x", "> erase ", " ", "> about"};
    QTest::newRow("arguments of the caller")
        << "run callee %2 %1\nabout"
        << QStringList{"run callee %2 %1", "> read b", "> erase a", " ", "> about"};
    QTest::newRow("missing callee ends the script")
        << "run none\nabout" << QStringList{"run none", "Bad command"};
    QTest::newRow("run without name") << "run\nabout" << QStringList{"run", "Bad command"};
    QTest::newRow("callee without statements ends the script")
        << "run empty\nabout" << QStringList{"run empty"};
    QTest::newRow("goto in the callee stays there")
        << "run jumper\nabout"
        << QStringList{"run jumper", "> log", "Label top not found", " ", "> about"};
}

void TestScriptEngine::run()
{
    QFETCH(QString, top);
    QFETCH(QStringList, transcript);
    TestFiles::write(m_scripts->filePath("top.usp"), top.toUtf8());
    TestFiles::write(m_scripts->filePath("callee.usp"), "read %1\nerase %2");
    TestFiles::write(m_scripts->filePath("empty.usp"), "label:\n");
    TestFiles::write(m_scripts->filePath("jumper.usp"), "log\ngoto top\ncls");
    Script script;
    QVERIFY(script.engine.LoadScriptFile("top a b"));
    QCOMPARE(script.transcript(), transcript);
    QCOMPARE(script.engine.callDepth(), 0);
}

void TestScriptEngine::runItselfIsBounded()
{
    TestFiles::write(m_scripts->filePath("self.usp"), "run self\ncls");
    Script script;
    QVERIFY(script.engine.LoadScriptFile("self"));
    QCOMPARE(script.engine.NextLine(), QString());
    QVERIFY(script.engine.aborted());
    QCOMPARE(script.printed.count("run self"), ScriptEngine::MaxRunDepth + 1);
    QCOMPARE(script.printed.last(), QString("Scripts run more than 16 deep: script stopped"));
    QCOMPARE(script.engine.callDepth(), 0);
    QCOMPARE(script.engine.NextLine(), QString());
    // Loading again starts afresh.
    TestFiles::write(m_scripts->filePath("self.usp"), "cls");
    QVERIFY(script.engine.LoadScriptFile("self"));
    QVERIFY(!script.engine.aborted());
    QCOMPARE(script.engine.NextLine(), QString("cls"));
}

void TestScriptEngine::loopsReturnToTheRunner_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("echo loop") << "a:\necho x\ngoto a";
    QTest::newRow("two labels") << "a:\ngoto b\nb:\ngoto a";
    QTest::newRow("comments") << "a:\n// x\ngoto a";
    QTest::newRow("else loop") << "a:\nif MEMORY == 0\nelse\nendif\ngoto a";
}

void TestScriptEngine::loopsReturnToTheRunner()
{
    QFETCH(QString, text);
    Script script;
    script.engine.LoadScriptText(text);
    QString line;
    int fetched = 0;
    for (; fetched < 2 * ScriptEngine::MaxFetches && line != QLatin1String("pause"); ++fetched) {
        line = script.engine.NextLine();
        if (line.startsWith(QLatin1String("if")))
            script.engine.ApplyCondition(0);
    }
    QCOMPARE(line, QString("pause"));
    QVERIFY(script.printed.contains("Script paused after 10000 lines in a row"));
    QVERIFY(script.printed.size() <= ScriptEngine::MaxFetches + 1);
    // The script stays where it was: the next call goes on.
    QVERIFY(script.engine.isLoaded());
    script.engine.resetFetchCount();
    QVERIFY(!script.engine.NextLine().isEmpty());
}

void TestScriptEngine::binaryTextIsSafe()
{
    QByteArray bytes;
    for (int i = 0; i < 4096; ++i)
        bytes.append(char((i * 7919) >> 3));
    bytes.append(QByteArray(2000, '\0'));
    bytes.append(":\n\0goto \0\n%1:if\0 == \0", 21);
    Script script;
    script.engine.LoadScriptText(QString::fromLatin1(bytes));
    for (const QString &line : script.engine.lines())
        QVERIFY(line.size() <= ScriptEngine::MaxLineLength);
    script.transcript(0, "1", 1000);
    for (const QString &line : std::as_const(script.printed)) {
        if (line.startsWith(QLatin1String("> ")))
            continue; // fetched, not printed
        for (const QChar c : line)
            QVERIFY(c.category() != QChar::Other_Control);
    }
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestScriptEngine)
#include "tst_script_engine.moc"
