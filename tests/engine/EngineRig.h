#pragma once

#include "EngineSession.h"
#include "ScriptedFirmware.h"
#include "UmockdevProgrammer.h"
#include "UsbDriverTable.h"

#include <QCoreApplication>
#include <QObject>
#include <QTest>

#include <memory>
#include <vector>

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
        : firmware(std::make_shared<ScriptedFirmware>()), programmer(config, firmware),
          table(boundTable()), session(std::make_unique<TestEngine>(*table, image))
    {}
    ~EngineRig()
    {
        firmware->release();
        session.end();
        // The transport keeps the pipes it read from a programmer until an
        // open finds none; have it forget them, so that the next test's
        // programmer is seen as it is (bare, or on a full-speed link).
        programmer.unplug();
        programmer.waitForState(kvemu::DeviceState::Gone, 2000);
        if (table->open() != 0)
            table->close();
    }
    EngineRig(const EngineRig &) = delete;
    EngineRig &operator=(const EngineRig &) = delete;

    bool startConnected(int timeoutMs = 5000) { return session.startConnected(timeoutMs); }
    bool waitForMessages(std::size_t count, int timeoutMs = 5000)
    {
        return session.waitForMessages(count, timeoutMs);
    }

    std::shared_ptr<ScriptedFirmware> firmware;
    kvemu::UmockdevProgrammer programmer;
    std::unique_ptr<UsbDriverTable> table;
    EngineSession session;
    // The session's parts under short names.
    std::unique_ptr<TestEngine> &engine = session.engine;
    std::vector<Received> &received = session.received;
    QList<bool> &changes = session.changes;
    QList<QPair<uint, uint>> &progress = session.progress;
    int &connects = session.connects;
    int &disconnects = session.disconnects;

private:
    // The driver table bound to the real libkvusb.so.
    static std::unique_ptr<UsbDriverTable> boundTable()
    {
        auto bound = std::make_unique<UsbDriverTable>();
        bound->bind(QStringLiteral(KVUSB_DLL_FOLDER "/kvusb"));
        return bound;
    }
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
