// A whole 1 GiB NAND chip (NAND08GW3C2B: 4096 blocks of 128 pages of 2112
// bytes) read into a backing file and verified against it, through the real
// main window, its NAND engine and the emulated programmer at instant timing:
// prints MB/s (10^6 bytes per second) of each and the process's peak resident
// memory. Then 64 blocks read at realistic timing, straight through the
// library's exports (the emulated high-speed link's rate) and through the
// window: the share of the link's rate the program reaches.
#include "DropInEmulator.h"
#include "EmulatorLink.h"
#include "MainWindow.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"
#include "TestHome.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "NandEngine.h"
#include "NandPanel.h"

#include <sys/resource.h>

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

double peakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

class Session
{
public:
    Session(DropInEmulator &emulator, const std::string &chip, ScriptedQuestions &questions)
    {
        if (!emulator.configure(chip))
            return;
        settings().setString(Settings::TestName, QStringLiteral("NAND08GW3C2B"));
        m_window = std::make_unique<MainWindow>(&questions);
        m_ready =
            QTest::qWaitFor([&] { return m_window->programmerConnected(); }, 10000) &&
            QTest::qWaitFor(
                [&] { return emulator.commandLog().contains(QStringLiteral("CMD 10 ")); }, 10000);
        QTest::qWait(50);
    }

    bool ready() const { return m_ready; }

    void setBlocks(quint32 start, quint32 count)
    {
        auto *engine = qobject_cast<NandEngine *>(m_window->engine());
        auto *panel = engine ? qobject_cast<NandPanel *>(engine->toolWidget()) : nullptr;
        if (!panel)
            return;
        panel->startEdit()->setText(QString::number(start));
        panel->countEdit()->setText(QString::number(count));
    }

    // Seconds the job took, or a negative number when it failed.
    double run(const QString &line)
    {
        QSignalSpy ended(m_window.get(), &MainWindow::jobEndReported);
        QSignalSpy failed(m_window.get(), &MainWindow::jobFailureReported);
        QElapsedTimer timer;
        timer.start();
        m_window->issueCommand(line);
        if (!QTest::qWaitFor([&] { return !ended.isEmpty() || !failed.isEmpty(); }, 600000) ||
            !failed.isEmpty())
            return -1;
        return double(timer.nsecsElapsed()) / 1e9;
    }

private:
    std::unique_ptr<MainWindow> m_window;
    bool m_ready = false;
};

constexpr double BlockBytes = 128.0 * 2112.0;

} // namespace

int main(int argc, char **argv)
{
    TestHome::prepareProcess();
    QApplication application(argc, argv);
    ProgramObjects objects;
    TestHome::Fresh home;
    DropInEmulator emulator;
    if (!emulator.load()) {
        std::fprintf(stderr, "the emulated programmer is not in %s/dll\n",
                     qPrintable(QCoreApplication::applicationDirPath()));
        return 1;
    }
    emulator.setDownloadPause(0);
    QTemporaryDir files;
    ScriptedQuestions questions;
    questions.saveAnswer = files.filePath(QStringLiteral("chip.bin"));

    {
        Session session(emulator, profile("instant"), questions);
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

    Session session(emulator, realistic, questions);
    if (!session.ready()) {
        std::fprintf(stderr, "the programmer did not come up\n");
        return 1;
    }
    session.setBlocks(0, 64);
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
