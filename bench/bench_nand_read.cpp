// A whole 1 GiB NAND chip (NAND08GW3C2B: 4096 blocks of 128 pages of 2112
// bytes) read into a backing file and verified against it, through the real
// main window, its NAND engine and the emulated programmer at instant timing:
// prints MB/s (10^6 bytes per second) of each and the process's peak resident
// memory. Then 64 blocks read at realistic timing, straight through the
// library's exports (the emulated high-speed link's rate) and through the
// window: the share of the link's rate the program reaches.
#include "EmulatorLink.h"
#include "NandEngine.h"
#include "NandPanel.h"
#include "ProgramObjects.h"
#include "TestHome.h"
#include "WindowSession.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <string>

namespace {

std::string profile(const char *timing)
{
    QFile file(QStringLiteral(KORVANE_SOURCE_DIR "/emulator/profiles/nand-1gib.ini"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::string text = file.readAll().toStdString();
    const std::string instant = "timing = instant";
    const std::size_t at = text.find(instant);
    if (at != std::string::npos)
        text.replace(at, instant.size(), std::string("timing = ") + timing);
    return text;
}

// Sets the NAND panel's block window.
void setBlocks(MainWindow &window, quint32 start, quint32 count)
{
    auto *engine = qobject_cast<NandEngine *>(window.engine());
    auto *panel = engine ? qobject_cast<NandPanel *>(engine->toolWidget()) : nullptr;
    if (!panel)
        return;
    panel->startEdit()->setText(QString::number(start));
    panel->countEdit()->setText(QString::number(count));
}

constexpr double BlockBytes = 128.0 * 2112.0;
const QString Target = QStringLiteral("NAND08GW3C2B");

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
    QTemporaryDir files;
    ScriptedQuestions questions;
    questions.saveAnswer = files.filePath(QStringLiteral("chip.bin"));

    {
        WindowSession session(emulator, profile("instant"), Target, questions);
        if (!session.ready()) {
            std::fprintf(stderr, "the programmer did not come up\n");
            return 1;
        }
        const double bytes = 4096 * BlockBytes;
        const double read = session.run(QStringLiteral("read"));
        const double afterRead = peakResidentMiB();
        const double verify = session.run(QStringLiteral("verify"));
        if (read < 0 || verify < 0) {
            std::fprintf(stderr, "the read or the verify failed\n");
            return 1;
        }
        std::printf("instant timing, 1 GiB chip (1081 MB): read %.1f s = %.0f MB/s, "
                    "verify %.1f s = %.0f MB/s\n",
                    read, bytes / read / 1e6, verify, bytes / verify / 1e6);
        std::printf("peak resident memory: %.0f MiB after the read, %.0f MiB after the verify\n",
                    afterRead, peakResidentMiB());
    }
    QFile::remove(questions.saveAnswer);

    const std::string realistic = profile("realistic");
    EmulatorLink::Library lib;
    const std::string library =
        QCoreApplication::applicationDirPath().toStdString() + "/dll/libkvusb.so";
    if (!EmulatorLink::load(library, lib) || !EmulatorLink::connect(lib, realistic.c_str())) {
        std::fprintf(stderr, "the emulated programmer did not come up\n");
        return 1;
    }
    const double link = EmulatorLink::readMegabytesPerSecond(lib, quint64(64 * BlockBytes), 8192);
    lib.close();

    WindowSession session(emulator, realistic, Target, questions);
    if (!session.ready()) {
        std::fprintf(stderr, "the programmer did not come up\n");
        return 1;
    }
    setBlocks(session.window(), 0, 64);
    const double read = session.run(QStringLiteral("read"));
    if (read < 0 || link <= 0) {
        std::fprintf(stderr, "the realistic read failed\n");
        return 1;
    }
    const double rate = 64 * BlockBytes / read / 1e6;
    std::printf("realistic timing, high speed, 64 blocks (17.3 MB): link %.1f MB/s, "
                "window read %.2f s = %.1f MB/s, %.0f %% of the link\n",
                link, read, rate, 100.0 * rate / link);
    return 0;
}
