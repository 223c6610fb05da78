#pragma once

#include <QString>

// What the answer dispatch needs from the main window. The main window
// implements it; tests replace it.
class AnswerHost
{
public:
    virtual ~AnswerHost();

    // One line in the message log.
    virtual void appendLog(const QString &line) = 0;
    // Milliseconds on the operation clock (since the running operation began).
    virtual qint64 operationElapsedMs() const = 0;
    // The job `job` (a JobCode) has ended as it should: a script waiting
    // on it goes on.
    virtual void jobEnded(int job) = 0;
    // The job `job` has failed: a script waiting on it stops.
    virtual void jobFailed(int job) = 0;
    // The programmer has answered its identification and the adapter check:
    // it is ready for the target's work.
    virtual void programmerReady() = 0;
    // "USB Not connected" in the status bar, window title refreshed.
    virtual void showDisconnected() = 0;
    // A modal warning box; returns when the user closed it.
    virtual void showWarning(const QString &title, const QString &text) = 0;
    // The programmer reported an adapter failure: the application ends once
    // the current event is done (exit code 0, or 1 in an unattended run).
    virtual void adapterFailed() = 0;
    // The adapter on the programmer does not fit the target's family: the
    // user is told (UI text 73) and asked for another device.
    virtual void adapterIncompatible() = 0;
};
