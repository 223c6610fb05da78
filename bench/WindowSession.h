#pragma once

// The real main window over the emulated programmer, for benchmarks: a
// fresh programmer from a profile, the target selected, jobs started by
// console lines and timed to their end.
#include "DropInEmulator.h"
#include "MainWindow.h"
#include "ScriptedQuestions.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <sys/resource.h>

#include <cstdio>

#include <memory>
#include <string>

inline double peakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// The emulated programmer from the dll folder beside the benchmark, without
// download pauses; false (and a line on stderr) when it is not there.
inline bool loadEmulator(DropInEmulator &emulator)
{
    if (!emulator.load()) {
        std::fprintf(stderr, "the emulated programmer is not in %s/dll\n",
                     qPrintable(QCoreApplication::applicationDirPath()));
        return false;
    }
    emulator.setDownloadPause(0);
    return true;
}

class WindowSession
{
public:
    WindowSession(DropInEmulator &emulator, const std::string &chip, const QString &target,
                  ScriptedQuestions &questions)
    {
        if (!emulator.configure(chip))
            return;
        settings().setString(Settings::TestName, target);
        m_window = std::make_unique<MainWindow>(&questions);
        m_ready =
            QTest::qWaitFor([&] { return m_window->programmerConnected(); }, 10000) &&
            QTest::qWaitFor(
                [&] { return emulator.commandLog().contains(QStringLiteral("CMD 10 ")); }, 10000);
        QTest::qWait(50);
    }

    bool ready() const { return m_ready; }
    MainWindow &window() { return *m_window; }

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
