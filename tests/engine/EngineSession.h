#pragma once

#include "TestEngine.h"

#include <QCoreApplication>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTest>

#include <memory>
#include <vector>

// What a test keeps of an answer message (the message itself is deleted on
// arrival, as its receiver must).
struct Received
{
    int tag;
    uint size;
    quint8 kind;
    QByteArray data;
};

// A test engine with receivers for its three signals, as the main window
// connects them.
class EngineSession
{
public:
    explicit EngineSession(std::unique_ptr<TestEngine> testEngine) : engine(std::move(testEngine))
    {
        QObject::connect(engine.get(), &ChipEngine::dataReady, &context,
                         [this](EngineMessage *message) {
                             received.push_back({message->tag(), message->size(), message->kind(),
                                                 message->bytes()});
                             delete message;
                         });
        QObject::connect(engine.get(), &ChipEngine::connectionChanged, &context, [this](bool up) {
            changes.append(up);
            (up ? connects : disconnects) += 1;
        });
        QObject::connect(engine.get(), &ChipEngine::progress, &context,
                         [this](uint position, uint count) {
                             progress.append({position, count});
                         });
    }
    ~EngineSession() { end(); }
    EngineSession(const EngineSession &) = delete;
    EngineSession &operator=(const EngineSession &) = delete;

    // Deletes the engine and delivers what was posted before it went.
    void end()
    {
        engine.reset();
        QCoreApplication::sendPostedEvents();
    }

    // Starts the worker and waits for the connection.
    bool startConnected(int timeoutMs = 5000)
    {
        engine->start();
        return QTest::qWaitFor([this] { return connects > 0; }, timeoutMs);
    }

    bool waitForMessages(std::size_t count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return received.size() >= count; }, timeoutMs);
    }

    QObject context;
    std::vector<Received> received;
    QList<bool> changes;
    QList<QPair<uint, uint>> progress;
    int connects = 0;
    int disconnects = 0;
    std::unique_ptr<TestEngine> engine;
};
