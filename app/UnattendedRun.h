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

    using Quit = std::function<void(int exitCode)>;
    using Log = std::function<void(const QString &line)>;
    UnattendedRun(Quit quit, Log log, QObject *parent = nullptr);

    // The exit code for a script that stopped so.
    static int exitCodeFor(ScriptStop how);

    // Starts waiting for the programmer.
    void start();
    void programmerReady();
    void noTarget();
    void noScript(const QString &path);
    void adapterIncompatible();
    void scriptStopped(ScriptStop how);

private:
    void end(int exitCode, const QString &why);

    Quit m_quit;
    Log m_log;
    QTimer m_ready;
    bool m_ended = false;
};
