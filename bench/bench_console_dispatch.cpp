// Typed command lines through CommandConsole::Dispatch: 100,000 lines, a mix
// of known commands (with and without range adjustment, help, speed) and
// unknown words, against a test engine and a host that records.
#include "CommandConsole.h"
#include "ConsoleTestEngine.h"
#include "ProgramObjects.h"
#include "RecordingConsoleHost.h"
#include "UsbDriverTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    // Settings of its own, never the user's.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("HOME", home.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    ProgramObjects objects;
    UsbDriverTable usb;
    RecordingConsoleHost host;
    ConsoleTestEngine engine(usb, 0xFF);
    CommandConsole console(host);
    console.RegisterCommands(&engine);

    const QStringList lines = {
        QStringLiteral("read"),           QStringLiteral("verify 0 20000"),
        QStringLiteral("READ 1800 100"),  QStringLiteral("speed 4"),
        QStringLiteral("help read"),      QStringLiteral("erase 1000 1000"),
        QStringLiteral("Detect"),         QStringLiteral("d 1f0"),
        QStringLiteral("nosuchword 1 2"), QStringLiteral("x"),
    };
    constexpr int Count = 100000;
    int matched = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < Count; ++i) {
        if (console.Dispatch(lines[i % lines.size()]) != 0)
            ++matched;
        if (host.log.size() > 1000) {
            host.log.clear();
            host.calls.clear();
            engine.calls.clear();
        }
    }
    const qint64 ns = clock.nsecsElapsed();
    std::printf("dispatch: %d lines (%d known, %d unknown) in %.1f ms: %.2f us per line\n", Count,
                matched, Count - matched, double(ns) / 1e6, double(ns) / 1e3 / Count);
    return 0;
}
