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
    // Tells the console and a running script that an answer of `kind` arrived.
    virtual void resumeOnJob(int kind) = 0;
    // "USB Not connected" in the status bar, window title refreshed.
    virtual void showDisconnected() = 0;
    // A modal warning box; returns when the user closed it.
    virtual void showWarning(const QString &title, const QString &text) = 0;
    // Ends the application with `exitCode` once the current event is done.
    virtual void quitApplication(int exitCode) = 0;
    // Opens the device selection dialog.
    virtual void openDeviceDialog() = 0;
};
