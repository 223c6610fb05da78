#include "UnattendedRun.h"

UnattendedRun::UnattendedRun(Quit quit, Log log, QObject *parent)
    : QObject(parent), m_quit(std::move(quit)), m_log(std::move(log))
{
    m_ready.setSingleShot(true);
    m_ready.setInterval(ReadyTimeoutMs);
    connect(&m_ready, &QTimer::timeout, this, [this] {
        end(NoProgrammer, QStringLiteral("Unattended: no programmer ready within %1 s")
                              .arg(ReadyTimeoutMs / 1000));
    });
}

int UnattendedRun::exitCodeFor(ScriptStop how)
{
    switch (how) {
    case ScriptStop::Finished:
        return Success;
    case ScriptStop::Failed:
    case ScriptStop::Error:
    case ScriptStop::Paused:
    case ScriptStop::AwaitingOption:
    case ScriptStop::Exited:
    case ScriptStop::Aborted:
        break;
    }
    return Failed;
}

void UnattendedRun::start()
{
    m_ready.start();
}

void UnattendedRun::programmerReady()
{
    m_ready.stop();
}

void UnattendedRun::noTarget()
{
    end(Failed, QStringLiteral("Unattended: no target selected"));
}

void UnattendedRun::noScript(const QString &path)
{
    end(Failed, QStringLiteral("Unattended: no script ") + path);
}

void UnattendedRun::adapterIncompatible()
{
    end(Failed, QStringLiteral("Unattended: adapter does not fit the target"));
}

void UnattendedRun::scriptStopped(ScriptStop how)
{
    const int code = exitCodeFor(how);
    end(code, QStringLiteral("Unattended: exit code %1").arg(code));
}

void UnattendedRun::end(int exitCode, const QString &why)
{
    if (m_ended)
        return;
    m_ended = true;
    m_ready.stop();
    if (m_log)
        m_log(why);
    m_quit(exitCode);
}
