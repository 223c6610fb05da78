#include "EmulatedWindow.h"
#include "MainWindow.h"
#include "NandDetection.h"
#include "NandEngine.h"
#include "NandPanel.h"
#include "TestFiles.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A hostile programmer: the emulated firmware spoils one answer (fewer bytes
// than asked for, none, more, pseudo-random or zero bytes) of each kind the
// engines wait for, and the operation that waits for it must end - failed,
// or with what the programmer really said - and never report a success it
// was not told.
namespace {

const QString K9 = QStringLiteral("K9F1G08U0B");
const QString W25 = QStringLiteral("W25Q64FV");
constexpr int PageSize = 2112;
constexpr int BlockBytes = PageSize * 64;

// A K9F1G08U0B (2112-byte pages, 64 pages per block) with factory bad block 3.
const char *const NandProfile =
    "[programmer]\nfirmware = NAND image 1\nlink = high\ntiming = instant\n"
    "[chip]\nfamily = nand\nid = EC F1 00 95 40\ndata_bytes = 2048\n"
    "spare_bytes = 64\npages_per_block = 64\nblocks = 1024\nbad_blocks = 3\n";

std::string shippedProfile(const char *file)
{
    std::string text =
        TestFiles::read(QStringLiteral(KVEMU_PROFILES "/") + QLatin1String(file)).toStdString();
    if (text.find("\ntiming") != std::string::npos)
        return text;
    const std::string section = "[programmer]\n";
    const std::size_t at = text.find(section);
    if (at == std::string::npos)
        return section + "timing = instant\n" + text;
    return text.insert(at + section.size(), "timing = instant\n");
}

enum class JobEnd { Ended, Failed, None };

const QStringList Faults{"answer_short", "answer_missing", "answer_oversized", "answer_garbage",
                         "answer_zeroed"};

} // namespace

class TestHostileAnswers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void operationAnswer_data();
    void operationAnswer();
    void connectionAnswer_data();
    void connectionAnswer();

private:
    JobEnd job(const QString &line);
    bool prepare(const QStringList &steps);
    void setWindow(int start, int count);

    EmulatedWindow m_session;
    DropInEmulator &m_emulator = m_session.emulator;
    std::unique_ptr<MainWindow> &m_window = m_session.window;
    QTemporaryDir m_files;
};

void TestHostileAnswers::initTestCase()
{
    QVERIFY(m_session.load());
    QVERIFY(m_files.isValid());
}

void TestHostileAnswers::init()
{
    m_session.begin();
    NandDetection::resetProgramState();
}

void TestHostileAnswers::cleanup()
{
    m_session.end();
}

JobEnd TestHostileAnswers::job(const QString &line)
{
    QSignalSpy ended(m_window.get(), &MainWindow::jobEndReported);
    QSignalSpy failed(m_window.get(), &MainWindow::jobFailureReported);
    m_window->issueCommand(line);
    if (!QTest::qWaitFor([&] { return !ended.isEmpty() || !failed.isEmpty(); }, 10000))
        return JobEnd::None;
    return failed.isEmpty() ? JobEnd::Ended : JobEnd::Failed;
}

void TestHostileAnswers::setWindow(int start, int count)
{
    auto *engine = qobject_cast<NandEngine *>(m_window->engine());
    auto *panel = engine ? qobject_cast<NandPanel *>(engine->toolWidget()) : nullptr;
    QVERIFY(panel);
    panel->startEdit()->setText(QString::number(start));
    panel->countEdit()->setText(QString::number(count));
}

// Steps before the spoilt answer: "job <line>" must end well, "image <blocks>"
// loads a NAND image of that many good blocks, anything else is a console line.
bool TestHostileAnswers::prepare(const QStringList &steps)
{
    for (const QString &step : steps) {
        if (step.startsWith(QLatin1String("job "))) {
            if (job(step.mid(4)) != JobEnd::Ended) {
                qWarning("preparing \"%s\" failed:\n%s", qPrintable(step),
                         qPrintable(m_window->logText()));
                return false;
            }
        } else if (step.startsWith(QLatin1String("image "))) {
            QByteArray image(step.mid(6).toInt() * BlockBytes, '\0');
            QRandomGenerator random(11);
            for (char &byte : image)
                byte = char(random.bounded(256));
            for (int block = 0; block * BlockBytes < image.size(); ++block)
                image[block * BlockBytes + 2048] = char(0xFF);
            const QString path = m_files.filePath(QStringLiteral("image.bin"));
            TestFiles::write(path, image);
            m_window->issueCommand(QStringLiteral("load ") + path);
        } else {
            m_window->issueCommand(step);
        }
    }
    return true;
}

void TestHostileAnswers::operationAnswer_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("nth");
    QTest::addColumn<QString>("fault");
    // Whether the operation may end well: only when the answer it needed
    // came whole (more bytes after it), or said what the operation reports.
    QTest::addColumn<bool>("mayEnd");
    // A packet the operation must not send once the answer was spoilt.
    QTest::addColumn<QString>("forbidden");

    struct Case
    {
        const char *name;
        const char *profile;
        QString target;
        QStringList steps;
        const char *line;
        int code;
        int nth;
        QStringList mayEnd; // the faults after which ending well is honest
        const char *forbidden;
    };
    const char *const nand = "nand";
    const char *const w25 = "spi-w25q64fv.ini";
    const QStringList over{"answer_oversized"};
    const QStringList whole{"answer_oversized", "answer_garbage", "answer_zeroed"};
    const QStringList overZeroed{"answer_oversized", "answer_zeroed"};
    const QList<Case> cases{
        // The NAND engine (window: blocks 5 and 6).
        {"NAND ID", nand, K9, {}, "detect", 0x29, 1, over, ""},
        {"NAND parameter page", "nand-onfi-unknown.ini", K9, {}, "detect", 0x2A, 1, over, ""},
        {"NAND start check", nand, K9, {}, "read", 0x29, 1, whole, ""},
        {"NAND read data", nand, K9, {}, "read", 0x27, 1, whole, ""},
        {"NAND verify data", nand, K9, {"job read"}, "verify", 0x27, 1, over, ""},
        {"NAND blank check data", nand, K9, {}, "blkchk", 0x27, 1, over, ""},
        // Blocks 2 to 4: the mark of factory bad block 3 spoilt; it must not
        // be erased (row 0xC0).
        {"NAND bad-block mark", "nand2", K9, {}, "erase", 0x27, 2, whole, "CMD 1b 03 c0 00 00"},
        {"NAND erase status", nand, K9, {}, "erase", 0x1B, 1, over, ""},
        // Spare bytes that are not FF make the scan call the block bad.
        {"NAND erase scan", nand, K9, {}, "erase", 0x37, 1, whole, ""},
        {"NAND program end", nand, K9, {"job erase", "image 2"}, "program", 0x32, 1, over, ""},
        // The SPI engine. An ID nobody knows is followed by the SFDP table,
        // which describes the chip.
        {"SPI ID", w25, W25, {}, "detect", 0x29, 1, whole, ""},
        {"SPI SFDP", "spi-unknown-sfdp.ini", W25, {}, "detect", 0x2A, 1, over, ""},
        {"SPI start check", w25, W25, {}, "read 0 20000", 0x29, 1, whole, ""},
        {"SPI read data", w25, W25, {}, "read 0 20000", 0x27, 1, whole, ""},
        {"SPI verify data", w25, W25, {"job read 0 20000"}, "verify 0 20000", 0x27, 1, over, ""},
        {"SPI blank check data", w25, W25, {}, "blkchk 0 20000", 0x27, 1, over, ""},
        // 00 00: status register 0 (ready), no time-out.
        {"SPI erase status", w25, W25, {}, "erase 0 20000", 0x1B, 1, overZeroed, ""},
        {"SPI program end", w25, W25, {"randomfile"}, "program 0 10000", 0x32, 1, over, ""},
    };
    for (const Case &c : cases) {
        for (const QString &fault : Faults) {
            QTest::addRow("%s, %s", c.name, qPrintable(fault.mid(7)))
                << QString::fromLatin1(c.profile) << c.target << c.steps
                << QString::fromLatin1(c.line) << c.code << c.nth << fault
                << c.mayEnd.contains(fault) << QString::fromLatin1(c.forbidden);
        }
    }
}

void TestHostileAnswers::operationAnswer()
{
    QFETCH(QString, profile);
    QFETCH(QString, target);
    QFETCH(QStringList, steps);
    QFETCH(QString, line);
    QFETCH(int, code);
    QFETCH(int, nth);
    QFETCH(QString, fault);
    QFETCH(bool, mayEnd);
    QFETCH(QString, forbidden);

    const bool nand = profile.startsWith(QLatin1String("nand")) && !profile.endsWith(".ini");
    QVERIFY(m_session.start(
        nand ? std::string(NandProfile) : shippedProfile(profile.toLatin1().constData()), target));
    m_session.questions.saveAnswer = m_files.filePath(QStringLiteral("read.bin"));
    QFile::remove(m_session.questions.saveAnswer);
    if (nand)
        setWindow(profile == QLatin1String("nand2") ? 2 : 5,
                  profile == QLatin1String("nand2") ? 3 : 2);
    QVERIFY(prepare(steps));
    const int from = int(m_emulator.commandLines().size());
    QVERIFY(m_emulator.inject(fault.toLatin1().constData(), quint64(nth) << 8 | quint64(code)));

    const JobEnd end = job(line);
    const QStringList sent = m_emulator.commandLines().mid(from);
    QVERIFY2(!sent.filter(QStringLiteral("FAULT ") + fault).isEmpty(),
             "the answer was never spoilt");
    QVERIFY2(end != JobEnd::None,
             qPrintable(QStringLiteral("no end of \"%1\":\n%2").arg(line, m_window->logText())));
    if (!mayEnd)
        QVERIFY2(end == JobEnd::Failed, qPrintable(m_window->logText()));
    if (!forbidden.isEmpty())
        QVERIFY2(sent.filter(forbidden).isEmpty(), qPrintable(sent.join(QLatin1Char('\n'))));
    // The window is still there and answers.
    QVERIFY(m_window->engine());
}

void TestHostileAnswers::connectionAnswer_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("fault");
    // "warning": the missing-adapter warning, the window not ready;
    // "reconnect": the programmer is identified again; "": anything honest.
    QTest::addColumn<QString>("reaction");
    for (const int code : {0x18, 0x10}) {
        for (const QString &fault : Faults) {
            const bool whole = fault == QLatin1String("answer_oversized");
            QTest::addRow("%s, %s", code == 0x18 ? "identification" : "adapter check",
                          qPrintable(fault.mid(7)))
                << code << fault
                << QString(whole          ? ""
                           : code == 0x18 ? "warning"
                                          : "reconnect");
        }
    }
}

// The identification (0x18) and the adapter check (0x10) when the window
// connects: a spoilt one never leaves the programmer shown ready.
void TestHostileAnswers::connectionAnswer()
{
    QFETCH(int, code);
    QFETCH(QString, fault);
    QFETCH(QString, reaction);
    QVERIFY(m_emulator.configure(NandProfile));
    m_emulator.clearLog();
    QVERIFY(m_emulator.inject(fault.toLatin1().constData(), quint64(code) | 1u << 8));
    settings().setString(Settings::TestName, K9);
    m_window = std::make_unique<MainWindow>(&m_session.questions);
    QTRY_VERIFY_WITH_TIMEOUT(!m_emulator.commandLines().filter(QStringLiteral("FAULT ")).isEmpty(),
                             8000);
    QTest::qWait(500);
    const QStringList lines = m_emulator.commandLines();
    const qsizetype spoilt = lines.indexOf(lines.filter(QStringLiteral("FAULT ")).value(0));
    const QString details = m_emulator.commandLog() + m_window->logText();
    QVERIFY(spoilt >= 0);
    if (reaction == QLatin1String("warning")) {
        QVERIFY2(m_session.questions.asked.contains(
                     QStringLiteral("warn Error | Missing adapter or incompatible adapter")),
                 qPrintable(m_session.questions.asked.join(QLatin1Char('\n'))));
        QVERIFY2(!m_window->programmerConnected(), qPrintable(details));
    } else if (reaction == QLatin1String("reconnect")) {
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_emulator.commandLines().mid(spoilt).filter(QStringLiteral("CMD 18 ")).isEmpty(),
            8000);
    }
}

KORVANE_TEST_MAIN_WITH(QApplication, TestHostileAnswers)

#include "tst_hostile_answers.moc"
