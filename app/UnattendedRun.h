#pragma once

#include "ScriptStop.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// A run nobody watches (the offscreen platform with "Auto Script" on): it
// must always end, with an exit code that says how. The main window reports
// what happens; this decides when and with which code the program ends.
class UnattendedRun : public QObject
{
    Q_OBJECT
public:
    enum ExitCode { Success = 0, Failed = 1, NoProgrammer = 2 };
    // How long the programmer may take to connect and answer its checks.
    static constexpr int ReadyTimeoutMs = 30000;
    // How long a failed run waits, unless the programmer is known to be
    // gone, for the report that it went away: an unplug fails the running
    // job (its answers stop) before the engine's report of the lost
    // connection arrives.
    static constexpr int LostReportWaitMs = 500;
    // How long a run that failed because the programmer went away waits for
    // it to come back, so that the log says whether it did: the reconnect
    // attempts come every 3 s, then the firmware download and its pause.
    static constexpr int ComeBackWaitMs = 8000;

    using Quit = std::function<void(int exitCode)>;
    using Log = std::function<void(const QString &line)>;
    UnattendedRun(Quit quit, Log log, QObject *parent = nullptr);

    // The exit code for a script that stopped so.
    static int exitCodeFor(ScriptStop how);

    // Starts waiting for the programmer.
    void start();
    void programmerReady();
    // The programmer went away: nobody sees the status bar, so the log
    // says it ("USB Not connected"), also while a failed run waits for it.
    void programmerLost();
    // The run has its result; no script starts any more.
    bool ended() const { return m_ended; }
    void noTarget();
    void noScript(const QString &path);
    void adapterIncompatible();
    void scriptStopped(ScriptStop how);

private:
    void end(int exitCode, const QString &why);
    void finish();

    Quit m_quit;
    Log m_log;
    QTimer m_ready;
    QTimer m_lostReport;
    QTimer m_comeBack;
    int m_exitCode = Success;
    QString m_why;
    bool m_lost = false;
    bool m_ended = false;
    bool m_finished = false;
};
