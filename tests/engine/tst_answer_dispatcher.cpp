#include "AnswerDispatcher.h"
#include "AnswerHost.h"
#include "AnswerKind.h"
#include "ProgramObjects.h"
#include "TestEngine.h"
#include "TestHome.h"

#include <QPointer>
#include <QStringList>
#include <QTest>

#include <initializer_list>
#include <memory>
#include <vector>

namespace {

// The main window's side of the dispatch, written down in call order.
class RecordingHost : public AnswerHost
{
public:
    void appendLog(const QString &line) override { events << QStringLiteral("log ") + line; }
    qint64 operationElapsedMs() const override { return elapsed; }
    void jobEnded(int job) override { events << QStringLiteral("ended %1").arg(job); }
    void jobFailed(int job) override { events << QStringLiteral("failed %1").arg(job); }
    void programmerReady() override { events << QStringLiteral("ready"); }
    void showDisconnected() override { events << QStringLiteral("disconnected"); }
    void showWarning(const QString &title, const QString &text) override
    {
        events << QStringLiteral("warning ") + title + QStringLiteral(" | ") + text;
    }
    void adapterFailed() override { events << QStringLiteral("adapter failed"); }
    void adapterIncompatible() override { events << QStringLiteral("adapter incompatible"); }

    QStringList take()
    {
        QStringList out = events;
        events.clear();
        return out;
    }

    QStringList events;
    qint64 elapsed = 0;
};

// A message that says when it is deleted.
class TrackedMessage : public EngineMessage
{
public:
    TrackedMessage(int tag, quint8 kind, const std::vector<quint8> &bytes, bool &deleted)
        : EngineMessage(tag, uint(bytes.size()), kind), m_deleted(deleted)
    {
        std::copy(bytes.begin(), bytes.end(), data());
    }
    ~TrackedMessage() override { m_deleted = true; }

private:
    bool &m_deleted;
};

EngineMessage *message(quint8 kind, std::initializer_list<quint8> bytes, int tag = -1)
{
    auto *m = new EngineMessage(tag, uint(bytes.size()), kind);
    std::copy(bytes.begin(), bytes.end(), m->data());
    return m;
}

EngineMessage *sequence(quint8 kind, uint size)
{
    auto *m = new EngineMessage(-1, size, kind);
    for (uint i = 0; i < size; ++i)
        m->data()[i] = quint8(i);
    return m;
}

// An identification answer: word and magic, least significant byte first.
EngineMessage *identification(quint32 word, quint32 magic)
{
    auto *m = new EngineMessage(-1, 8, 'I');
    for (int i = 0; i < 4; ++i) {
        m->data()[i] = quint8(word >> (8 * i));
        m->data()[4 + i] = quint8(magic >> (8 * i));
    }
    return m;
}

QString ended(int job)
{
    return QStringLiteral("ended %1").arg(job);
}

constexpr quint32 NandUnit = 0x4B560103; // NAND programmer, revision 3
constexpr quint32 SpiUnit = 0x4B560207;  // SPI programmer, revision 7

} // namespace

class TestAnswerDispatcher : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void operationEndLogsTheProgramTime();
    void blankCheckResult();
    void identificationOfASupportedProgrammer();
    void identificationAdapterFailureEndsTheApplication();
    void identificationOfTheWrongBoardSwitchesImage();
    void identificationWithUnknownMagic();
    void adapterCheck();
    void revisionReadout();
    void unusedKindIsIgnored();
    void otherKindsGoToTheEngine();
    void everyMessageIsDeleted();
    void deletedEngineIsNotReached();
    void programmerKindFromTheIdentificationWord();

private:
    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
    std::unique_ptr<UsbDriverTable> m_table;
    std::unique_ptr<TestEngine> m_engine;
    RecordingHost m_host;
    std::unique_ptr<AnswerDispatcher> m_dispatcher;
};

void TestAnswerDispatcher::init()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
    // An engine that is never started: its reactions are what is looked at.
    m_table = std::make_unique<UsbDriverTable>();
    m_engine = std::make_unique<TestEngine>(*m_table);
    m_host.events.clear();
    m_host.elapsed = 0;
    m_dispatcher = std::make_unique<AnswerDispatcher>(m_host);
    m_dispatcher->setEngine(m_engine.get());
}

void TestAnswerDispatcher::cleanup()
{
    m_dispatcher.reset();
    m_engine.reset();
    m_table.reset();
    m_objects.reset();
    m_home.reset();
}

void TestAnswerDispatcher::operationEndLogsTheProgramTime()
{
    m_host.elapsed = 3723004; // 1 h 2 min 3 s 4 ms
    m_dispatcher->dispatch(message('D', {}));
    QCOMPARE(m_host.take(),
             (QStringList{"log Program time 01:02:03 (.004)", ended(JobCode::Program)}));

    // Nothing to log while the operation clock shows 0 ms; the console is
    // still told.
    m_host.elapsed = 0;
    m_dispatcher->dispatch(message('D', {}));
    QCOMPARE(m_host.take(), (QStringList{ended(JobCode::Program)}));
    QVERIFY(m_engine->replies().isEmpty());
}

void TestAnswerDispatcher::blankCheckResult()
{
    const QString failed = QStringLiteral("failed %1").arg(int(JobCode::BlankCheck));
    m_dispatcher->dispatch(message('F', {0x00, 0x10, 0x02, 0x00}, 0x21000));
    QCOMPARE(m_host.take(), (QStringList{"log Flash blanked", ended(JobCode::BlankCheck)}));

    m_dispatcher->dispatch(message('F', {0x34, 0x08, 0x00, 0x00, 0xFF}, 0x21000));
    QCOMPARE(m_host.take(), (QStringList{"log Flash is not blank at address 0x00000834", failed}));

    // Too short to say anything: never "blanked", even where the bytes
    // there are would match.
    m_dispatcher->dispatch(message('F', {0x00, 0x00}, 0));
    QCOMPARE(m_host.take(), (QStringList{"log Flash is not blank at address 0x00000000", failed}));
}

void TestAnswerDispatcher::identificationOfASupportedProgrammer()
{
    m_dispatcher->dispatch(identification(NandUnit, AnswerDispatcher::SupportedMagic));
    m_dispatcher->dispatch(identification(SpiUnit, AnswerDispatcher::SupportedMagic));
    m_dispatcher->dispatch(identification(0x12345678, AnswerDispatcher::SupportedMagic));
    QCOMPARE(m_engine->adapterChecks(), (QList<int>{0, 1, 2}));
    QVERIFY(m_host.events.isEmpty());
    // checkAdapter queued one adapter check each.
    QCOMPARE(m_engine->queuedRequests(), 3);
}

void TestAnswerDispatcher::identificationAdapterFailureEndsTheApplication()
{
    for (quint32 word : {0u, 0xFFFFFFFFu}) {
        m_dispatcher->dispatch(identification(word, AnswerDispatcher::SupportedMagic));
        QCOMPARE(m_host.take(),
                 (QStringList{"disconnected", "warning Error | Adapter error", "adapter failed"}));
    }
    QVERIFY(m_engine->adapterChecks().isEmpty());
}

void TestAnswerDispatcher::identificationOfTheWrongBoardSwitchesImage()
{
    QCOMPARE(m_engine->firmwareRecords(), firmwareImage(NandImage1).records);
    m_dispatcher->dispatch(identification(NandUnit, AnswerDispatcher::WrongBoardMagic));
    QCOMPARE(m_host.take(), QStringList{"disconnected"});
    QCOMPARE(m_engine->toggles(), 1);
    QCOMPARE(m_engine->firmwareRecords(), firmwareImage(NandImage2).records);
    QVERIFY(!m_engine->isConnected());
    QVERIFY(m_engine->adapterChecks().isEmpty());
}

void TestAnswerDispatcher::identificationWithUnknownMagic()
{
    const QStringList expected{"disconnected",
                               "warning Error | Missing adapter or incompatible adapter"};
    m_dispatcher->dispatch(identification(NandUnit, 0x12345678));
    QCOMPARE(m_host.take(), expected);
    // An answer cut short has no magic at all.
    m_dispatcher->dispatch(message('I', {0x23, 0x01, 0x00, 0x4E, 0xDD, 0x40, 0x06}));
    QCOMPARE(m_host.take(), expected);
    QVERIFY(m_engine->adapterChecks().isEmpty());
    QCOMPARE(m_engine->toggles(), 0);
}

void TestAnswerDispatcher::adapterCheck()
{
    m_dispatcher->dispatch(message('J', {1, 1}));
    QCOMPARE(m_host.take(), QStringList{"ready"});

    m_dispatcher->dispatch(message('J', {2, 1}));
    QCOMPARE(m_host.take(), QStringList{"adapter incompatible"});

    m_dispatcher->dispatch(message('J', {1, 0}));
    QCOMPARE(m_host.take(), QStringList{"disconnected"});
    m_dispatcher->dispatch(message('J', {}));
    QCOMPARE(m_host.take(), QStringList{"disconnected"});
    QVERIFY(m_engine->replies().isEmpty());
}

void TestAnswerDispatcher::revisionReadout()
{
    // A readout is no job: nothing waits for it.
    m_dispatcher->dispatch(message('S', {0x0A}));
    QCOMPARE(m_host.take(), (QStringList{"log Eco 0A"}));

    m_dispatcher->dispatch(message('S', {0x78, 0x56, 0x34, 0x12}));
    QCOMPARE(m_host.take(), (QStringList{"log Eco :12345678"}));

    m_dispatcher->dispatch(message('S', {0x01, 0xAB, 0x03}));
    QCOMPARE(m_host.take(), (QStringList{"log Eco :01AB03"}));

    m_dispatcher->dispatch(sequence('S', 20));
    QCOMPARE(m_host.take(),
             (QStringList{"log Eco :000102030405060708090A0B0C0D0E0F", "log Eco :10111213"}));

    m_dispatcher->dispatch(sequence('S', 32));
    QCOMPARE(m_host.take(), (QStringList{"log Eco :000102030405060708090A0B0C0D0E0F",
                                         "log Eco :101112131415161718191A1B1C1D1E1F"}));
}

void TestAnswerDispatcher::unusedKindIsIgnored()
{
    m_engine->handleKinds({'U'});
    m_dispatcher->dispatch(message('U', {1, 2, 3}));
    QVERIFY(m_host.events.isEmpty());
    QVERIFY(m_engine->replies().isEmpty());
}

void TestAnswerDispatcher::otherKindsGoToTheEngine()
{
    m_engine->handleKinds({'A', 'H'});
    m_dispatcher->dispatch(message('A', {1, 2}));
    m_dispatcher->dispatch(message('Z', {3}));
    m_dispatcher->dispatch(message('H', {}));
    QCOMPARE(m_engine->replies(), (QList<quint8>{'A', 'Z', 'H'}));
    // A job's answers do not end it: the console hears nothing here.
    QVERIFY(m_host.take().isEmpty());

    m_dispatcher->setEngine(nullptr);
    m_dispatcher->dispatch(message('A', {1}));
    QVERIFY(m_host.events.isEmpty());
    QCOMPARE(m_engine->replies().size(), 3);
}

void TestAnswerDispatcher::everyMessageIsDeleted()
{
    m_engine->handleKinds({'A'});
    const std::vector<std::pair<quint8, std::vector<quint8>>> cases = {
        {'D', {}},     {'F', {0, 0, 0, 0}}, {'I', {1, 2, 3, 4, 0xDD, 0x40, 0x06, 0x17}},
        {'J', {1, 1}}, {'S', {1}},          {'U', {}},
        {'A', {1}},    {'Z', {1}},
    };
    for (const auto &c : cases) {
        bool deleted = false;
        m_dispatcher->dispatch(new TrackedMessage(-1, c.first, c.second, deleted));
        QVERIFY2(deleted, qPrintable(QStringLiteral("kind %1").arg(QChar(c.first))));
    }
    m_dispatcher->dispatch(nullptr);
}

void TestAnswerDispatcher::deletedEngineIsNotReached()
{
    m_engine.reset();
    QCOMPARE(m_dispatcher->engine(), nullptr);
    m_dispatcher->dispatch(identification(NandUnit, AnswerDispatcher::SupportedMagic));
    m_dispatcher->dispatch(identification(NandUnit, AnswerDispatcher::WrongBoardMagic));
    m_dispatcher->dispatch(message('J', {0, 0}));
    m_dispatcher->dispatch(message('A', {0}));
    QCOMPARE(m_host.take(), (QStringList{"disconnected", "disconnected"}));
}

void TestAnswerDispatcher::programmerKindFromTheIdentificationWord()
{
    QCOMPARE(AnswerDispatcher::programmerKind(0x4B560100), AnswerDispatcher::NandProgrammer);
    QCOMPARE(AnswerDispatcher::programmerKind(0x000001FF), AnswerDispatcher::NandProgrammer);
    QCOMPARE(AnswerDispatcher::programmerKind(0x12340200), AnswerDispatcher::SpiProgrammer);
    QCOMPARE(AnswerDispatcher::programmerKind(0x4B560000), AnswerDispatcher::UnknownProgrammer);
    QCOMPARE(AnswerDispatcher::programmerKind(0x4B560300), AnswerDispatcher::UnknownProgrammer);
    QCOMPARE(AnswerDispatcher::programmerKind(0x01000001), AnswerDispatcher::UnknownProgrammer);
    QCOMPARE(AnswerDispatcher::elapsedText(0), QStringLiteral(" 00:00:00 (.000)"));
    QCOMPARE(AnswerDispatcher::elapsedText(100 * 3600000LL + 59999),
             QStringLiteral(" 100:00:59 (.999)"));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestAnswerDispatcher)
#include "tst_answer_dispatcher.moc"
