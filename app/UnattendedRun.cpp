#include "UnattendedRun.h"

#include "ProgramObjects.h"
#include "UiText.h"
#include "UiTextId.h"

UnattendedRun::UnattendedRun(Quit quit, Log log, QObject *parent)
    : QObject(parent), m_quit(std::move(quit)), m_log(std::move(log))
{
    m_ready.setSingleShot(true);
    m_ready.setInterval(ReadyTimeoutMs);
    connect(&m_ready, &QTimer::timeout, this, [this] {
        end(NoProgrammer, QStringLiteral("Unattended: no programmer ready within %1 s")
                              .arg(ReadyTimeoutMs / 1000));
    });
    m_lostReport.setSingleShot(true);
    m_lostReport.setInterval(LostReportWaitMs);
    connect(&m_lostReport, &QTimer::timeout, this, &UnattendedRun::finish);
    m_comeBack.setSingleShot(true);
    m_comeBack.setInterval(ComeBackWaitMs);
    connect(&m_comeBack, &QTimer::timeout, this, [this] {
        if (m_log)
            m_log(QStringLiteral("Unattended: the programmer did not come back within %1 s")
                      .arg(ComeBackWaitMs / 1000));
        finish();
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
    m_lost = false;
    m_ready.stop();
    if (m_comeBack.isActive()) {
        m_comeBack.stop();
        if (m_log)
            m_log(QStringLiteral("Unattended: the programmer is back"));
        finish();
    }
}

void UnattendedRun::programmerLost()
{
    if (m_finished)
        return;
    m_lost = true;
    if (m_log)
        m_log(uiText().text(UiTextId::UsbNotConnected));
    if (m_lostReport.isActive()) {
        m_lostReport.stop();
        m_comeBack.start();
    }
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
    m_exitCode = exitCode;
    m_why = why;
    if (exitCode != Failed)
        finish();
    else if (m_lost)
        m_comeBack.start();
    else
        m_lostReport.start();
}

void UnattendedRun::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_log)
        m_log(m_why);
    m_quit(m_exitCode);
}
