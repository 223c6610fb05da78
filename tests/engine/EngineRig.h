#pragma once

#include "ScriptedFirmware.h"
#include "TestEngine.h"
#include "UmockdevProgrammer.h"
#include "UsbDriverTable.h"

#include <QCoreApplication>
#include <QObject>
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

// A programmer whose firmware (NAND image 1) already runs.
inline kvemu::UsbConfig runningConfig(kvemu::LinkSpeed speed = kvemu::LinkSpeed::High)
{
    kvemu::UsbConfig config;
    config.runningImage = "NAND image 1";
    config.speed = speed;
    return config;
}

// An engine bound through the program's driver table to the real
// libkvusb.so, which drives an emulated programmer on a umockdev bus whose
// firmware answers as the test sets. Members go in reverse order: the
// engine (closing the device) before the table, the programmer last.
class EngineRig
{
public:
    explicit EngineRig(kvemu::UsbConfig config = runningConfig(),
                       FirmwareImageId image = NandImage1)
        : firmware(std::make_shared<ScriptedFirmware>()), programmer(config, firmware)
    {
        table.bind(QStringLiteral(KVUSB_DLL_FOLDER "/kvusb"));
        engine = std::make_unique<TestEngine>(table, image);
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
    ~EngineRig()
    {
        firmware->release();
        engine.reset();
        // Messages posted by the worker before it ended are still owned by
        // their receiver.
        QCoreApplication::sendPostedEvents();
        // The transport keeps the pipes it read from a programmer until an
        // open finds none; have it forget them, so that the next test's
        // programmer is seen as it is (bare, or on a full-speed link).
        programmer.unplug();
        programmer.waitForState(kvemu::DeviceState::Gone, 2000);
        if (table.open() != 0)
            table.close();
    }
    EngineRig(const EngineRig &) = delete;
    EngineRig &operator=(const EngineRig &) = delete;

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

    std::shared_ptr<ScriptedFirmware> firmware;
    kvemu::UmockdevProgrammer programmer;
    UsbDriverTable table;
    QObject context;
    std::vector<Received> received;
    QList<bool> changes;
    QList<QPair<uint, uint>> progress;
    int connects = 0;
    int disconnects = 0;
    std::unique_ptr<TestEngine> engine;
};

// Answer bytes 0, 1, 2, ... (mod 251, so that chunks of 8192 differ).
inline ScriptedFirmware::Bytes pattern(std::size_t size, std::size_t from = 0)
{
    ScriptedFirmware::Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((from + i) % 251);
    return bytes;
}

inline QByteArray patternBytes(std::size_t size, std::size_t from = 0)
{
    const ScriptedFirmware::Bytes bytes = pattern(size, from);
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}
