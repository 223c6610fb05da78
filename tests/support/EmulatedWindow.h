#pragma once

// The real main window over the drop-in emulated programmer, for end-to-end
// tests: a fresh settings home and program objects for every case, the
// programmer configured from a profile, jobs issued as console lines and
// waited for. The window's "file:///" openings are recorded, not opened.
#include "DropInEmulator.h"
#include "MainWindow.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"
#include "TestHome.h"

#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <memory>
#include <string>

class EmulatedWindow
{
public:
    // initTestCase: the emulator library beside the test, without pauses.
    bool load()
    {
        if (!emulator.load())
            return false;
        emulator.setDownloadPause(0);
        return true;
    }
    // init: a clean home, program objects and answers.
    void begin()
    {
        home = std::make_unique<TestHome::Fresh>();
        objects = std::make_unique<ProgramObjects>();
        questions = ScriptedQuestions();
        opened.clear();
    }
    // cleanup: the window first, then what it used.
    void end()
    {
        window.reset();
        objects.reset();
        home.reset();
    }
    // The programmer from `profile` and a window with `target` selected;
    // true once the programmer is connected and its adapter check answered,
    // so nothing of the connection interleaves with the test's packets.
    bool start(const std::string &profile, const QString &target)
    {
        if (!emulator.configure(profile))
            return false;
        emulator.clearLog();
        settings().setString(Settings::TestName, target);
        window = std::make_unique<MainWindow>(&questions);
        window->setUrlOpener([this](const QUrl &url) {
            opened << url.toString();
            return true;
        });
        if (!QTest::qWaitFor([&] { return window->programmerConnected(); }, 8000) ||
            !QTest::qWaitFor(
                [&] { return emulator.commandLog().contains(QStringLiteral("CMD 10 ")); }, 8000)) {
            qWarning("the programmer did not come up:\n%s", qPrintable(window->logText()));
            return false;
        }
        QTest::qWait(50);
        return true;
    }
    // Issues `line` and waits for its job's end; true when it ended well.
    bool job(const QString &line, int timeoutMs = 20000)
    {
        QSignalSpy ended(window.get(), &MainWindow::jobEndReported);
        QSignalSpy failed(window.get(), &MainWindow::jobFailureReported);
        window->issueCommand(line);
        if (!QTest::qWaitFor([&] { return !ended.isEmpty() || !failed.isEmpty(); }, timeoutMs))
            return false;
        return failed.isEmpty();
    }
    // True when the message log has `line` as a whole line.
    bool logged(const QString &line) const
    {
        return window->logText().split(QLatin1Char('\n')).contains(line);
    }

    DropInEmulator emulator;
    std::unique_ptr<TestHome::Fresh> home;
    std::unique_ptr<ProgramObjects> objects;
    ScriptedQuestions questions;
    std::unique_ptr<MainWindow> window;
    QStringList opened;
};
