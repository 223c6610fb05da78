#pragma once

#include "AnswerKind.h"
#include "ConsoleHost.h"
#include "DeviceCatalogue.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"
#include "UiTextId.h"

#include <QList>
#include <QStringList>

#include <functional>

// A main window for the console tests: the message log is a list of lines,
// every other call is written down in calls. The programmer counts as
// connected and idle unless a test says otherwise.
class RecordingConsoleHost : public ConsoleHost
{
public:
    QStringList log;
    QStringList calls;
    // Every ScriptStop the console reported, in order.
    QList<ScriptStop> stops;
    ScriptedQuestions asked;
    DeviceCatalogue devices;
    bool connected = true;
    bool running = false;
    bool target = true;
    QString folder;
    // Runs inside selectTarget, e.g. to replace the engine as the window does.
    std::function<void()> onSelect;
    // Runs inside startOperation before it returns the job's code, e.g. to
    // end the job at once.
    std::function<void(int job)> onStart;

    void appendLog(const QString &line) override { log << line; }
    void clearLog() override { calls << QStringLiteral("clearLog"); }
    void setLogStyleSheet(const QString &sheet) override
    {
        calls << QStringLiteral("styleSheet ") + sheet;
    }
    int startOperation(quint64 start, quint64 length, int job) override
    {
        if (!connected || running) {
            log << uiText().text(UiTextId::Busy);
            return CommandStatus::Failed;
        }
        calls << QStringLiteral("startOperation %1 %2 %3")
                     .arg(QString::number(start, 16), QString::number(length, 16))
                     .arg(job);
        if (onStart)
            onStart(job);
        return job;
    }
    bool programmerConnected() const override { return connected; }
    bool operationRunning() const override { return running; }
    void showDisconnected() override { calls << QStringLiteral("showDisconnected"); }
    void quitApplication(int code) override { calls << QStringLiteral("quit %1").arg(code); }
    void openDeviceDialog() override { calls << QStringLiteral("deviceDialog"); }
    bool selectTarget(const QString &name) override
    {
        calls << QStringLiteral("selectTarget ") + name;
        if (onSelect)
            onSelect();
        return true;
    }
    bool hasTarget() const override { return target; }
    DeviceCatalogue &catalogue() override { return devices; }
    void setSpeedDisplay(int step) override
    {
        calls << QStringLiteral("speedDisplay %1").arg(step);
    }
    void setLogFile(bool enable, const QString &fileName) override
    {
        calls << QStringLiteral("logFile %1 %2").arg(int(enable)).arg(fileName);
    }
    bool makeAddressVisible(quint64 address) override
    {
        calls << QStringLiteral("show %1").arg(QString::number(address, 16));
        return true;
    }
    void saveCurrentTab() override { calls << QStringLiteral("saveCurrentTab"); }
    void rememberFile(const QString &path) override { calls << QStringLiteral("remember ") + path; }
    QString lastUsedFolder() const override { return folder; }
    void newChipReset() override { calls << QStringLiteral("newChipReset"); }
    QuestionHost &questions() override { return asked; }
    void startWaitTimer(int milliseconds) override
    {
        calls << QStringLiteral("startWaitTimer %1").arg(milliseconds);
    }
    void stopWaitTimer() override { calls << QStringLiteral("stopWaitTimer"); }
    void scriptStopped(ScriptStop how) override { stops << how; }
};
