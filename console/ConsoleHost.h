#pragma once

#include "ScriptStop.h"

#include <QString>
#include <QtGlobal>

class DeviceCatalogue;
class QuestionHost;

// What the console commands need from the main window: the message log,
// the operations the window runs itself (start of a chip job, target
// selection, saving a tab, the log file) and what it shows (speed,
// hex view). Every modal question goes through questions(), so a command
// run by a test or a script never blocks on a dialog. The main window
// implements it; tests replace it. Core only.
class ConsoleHost
{
public:
    virtual ~ConsoleHost();

    // One line in the message log (and the log file when it is on).
    virtual void appendLog(const QString &line) = 0;
    // Empties the message log.
    virtual void clearLog() = 0;
    // The message log's style sheet (COLOR).
    virtual void setLogStyleSheet(const QString &styleSheet) = 0;

    // Starts a read, verify or blank check (`job` a JobCode) on the engine
    // when the programmer is connected and no job runs; otherwise logs
    // "Busy" and returns CommandStatus::Failed. Returns what the engine
    // returned: the job's code or a status.
    virtual int startOperation(quint64 start, quint64 length, int job) = 0;
    // True while the programmer is connected and the window shows it so.
    virtual bool programmerConnected() const = 0;
    // True while a chip job runs (between its start and its end or Stop).
    virtual bool operationRunning() const = 0;
    // The window's not-connected state: status text, title, actions (INITUSB).
    virtual void showDisconnected() = 0;
    // Ends the event loop with `exitCode` once the current event is done.
    virtual void quitApplication(int exitCode) = 0;

    // The device selection action: asks for a device and selects it.
    virtual void openDeviceDialog() = 0;
    // Selects the catalogue record named `name` as target; false when
    // refused or when no record has that name.
    virtual bool selectTarget(const QString &name) = 0;
    // True when a target device is selected.
    virtual bool hasTarget() const = 0;
    virtual DeviceCatalogue &catalogue() = 0;

    // The speed slider and label show `step` (1 to 10); the engine's speed
    // is set by the caller.
    virtual void setSpeedDisplay(int step) = 0;
    // Closes the log file; with `enable` opens `fileName` in the temporary
    // folder for appending.
    virtual void setLogFile(bool enable, const QString &fileName) = 0;
    // Scrolls every hex view whose node holds `address` to it and brings
    // its tab to the front; false when no node holds it.
    virtual bool makeAddressVisible(quint64 address) = 0;
    // The Save action for the current memory tab (asks for the file).
    virtual void saveCurrentTab() = 0;
    // Enters `path` in the recent files and makes its folder the working one.
    virtual void rememberFile(const QString &path) = 0;
    // The folder file choosers start in.
    virtual QString lastUsedFolder() const = 0;
    // What the window resets after the engine's new-chip step (NEWCHIP).
    virtual void newChipReset() = 0;
    // Answers every modal question.
    virtual QuestionHost &questions() = 0;

    // A script's `wait`: fires once after `milliseconds`, then the window
    // calls CommandConsole::WaitElapsed.
    virtual void startWaitTimer(int milliseconds) = 0;
    // The wait ended early (a typed line): the timer must not fire.
    virtual void stopWaitTimer() = 0;
    // The script runner stopped for `how` (not when it waits for a job or
    // for the wait timer): unattended runs end here.
    virtual void scriptStopped(ScriptStop how) = 0;
};
