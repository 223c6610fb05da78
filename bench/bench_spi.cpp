// A 16 MiB serial flash chip (W25Q128, EF 40 18) through the real main
// window, its SPI engine and the emulated programmer at instant timing: read
// and verify, then erase, program (without a second erase) and verify,
// each printed in seconds and MB/s (10^6 bytes per second). Then 4 MiB read
// at realistic timing, straight through the library's exports (the emulated
// high-speed link's rate) and through the window: the share of the link's
// rate the program reaches.
#include "EmulatorLink.h"
#include "ProgramObjects.h"
#include "TestHome.h"
#include "WindowSession.h"

#include <QApplication>

#include <cstdio>
#include <string>

namespace {

std::string profile(const char *timing)
{
    return std::string("[programmer]\nadapter = spi\ntiming = ") + timing +
           "\n[chip]\nfamily = spi\nid = EF 40 18\nsize = 16M\npage_size = 256\nsfdp = yes\n"
           "dual = yes\nquad = yes\n";
}

const QString Target = QStringLiteral("W25Q128.V");
constexpr double ChipBytes = 16.0 * 1024 * 1024;

bool step(WindowSession &session, const char *name, const QString &line, double bytes,
          double &total)
{
    const double seconds = session.run(line);
    if (seconds < 0) {
        std::fprintf(stderr, "%s failed\n", name);
        return false;
    }
    total += seconds;
    std::printf("  %-8s %.3f s = %6.0f MB/s\n", name, seconds, bytes / seconds / 1e6);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    TestHome::prepareProcess();
    QApplication application(argc, argv);
    ProgramObjects objects;
    TestHome::Fresh home;
    DropInEmulator emulator;
    if (!loadEmulator(emulator))
        return 1;
    ScriptedQuestions questions;
    {
        WindowSession session(emulator, profile("instant"), Target, questions);
        if (!session.ready()) {
            std::fprintf(stderr, "the programmer did not come up\n");
            return 1;
        }
        session.window().issueCommand(QStringLiteral("randomfile"));
        std::printf("instant timing, 16 MiB chip:\n");
        double first = 0;
        double second = 0;
        if (!step(session, "read", QStringLiteral("read"), ChipBytes, first) ||
            !step(session, "verify", QStringLiteral("verify"), ChipBytes, first))
            return 1;
        // The verify compared the chip with what was read: fill again.
        session.window().issueCommand(QStringLiteral("randomfile"));
        if (!step(session, "erase", QStringLiteral("erase"), ChipBytes, second) ||
            !step(session, "program", QStringLiteral("program"), ChipBytes, second) ||
            !step(session, "verify", QStringLiteral("verify"), ChipBytes, second))
            return 1;
        std::printf("read + verify %.3f s; erase + program + verify %.3f s; peak RSS %.0f MiB\n",
                    first, second, peakResidentMiB());
    }

    const std::string realistic = profile("realistic");
    EmulatorLink::Library lib;
    const std::string library =
        QCoreApplication::applicationDirPath().toStdString() + "/dll/libkvusb.so";
    if (!EmulatorLink::load(library, lib) ||
        !EmulatorLink::connect(lib, realistic.c_str(), SpiImage0)) {
        std::fprintf(stderr, "the emulated programmer did not come up\n");
        return 1;
    }
    constexpr double Part = 4.0 * 1024 * 1024;
    const double link = EmulatorLink::readSpiMegabytesPerSecond(lib, quint64(Part), 8192);
    lib.close();
    WindowSession session(emulator, realistic, Target, questions);
    if (!session.ready() || link <= 0) {
        std::fprintf(stderr, "the programmer did not come up\n");
        return 1;
    }
    const double read = session.run(QStringLiteral("read 0 400000"));
    if (read < 0) {
        std::fprintf(stderr, "the realistic read failed\n");
        return 1;
    }
    const double rate = Part / read / 1e6;
    std::printf("realistic timing, high speed, 4 MiB: link %.1f MB/s, window read %.3f s = %.1f "
                "MB/s, %.0f %% of the link\n",
                link, read, rate, 100.0 * rate / link);
    return 0;
}
