#pragma once

#include <QString>
#include <QStringList>

// Every modal question the program asks the user: confirmations, warnings
// and file or folder choosers. The main window answers them with dialogs;
// tests and unattended runs answer them without blocking. Core only, so
// deciding code that needs an answer stays free of widgets.
class QuestionHost
{
public:
    virtual ~QuestionHost();

    // A warning box with Yes and No; true only for Yes.
    virtual bool confirm(const QString &title, const QString &text) = 0;
    // A warning box with one button; returns when it was closed.
    virtual void warn(const QString &title, const QString &text) = 0;
    // A folder chooser starting in `start`; empty when cancelled.
    virtual QString chooseFolder(const QString &title, const QString &start) = 0;
    // An open-file chooser; empty when cancelled.
    virtual QString chooseOpenFile(const QString &title, const QString &start,
                                   const QString &filter) = 0;
    // A save-file chooser; empty when cancelled.
    virtual QString chooseSaveFile(const QString &title, const QString &start,
                                   const QString &filter) = 0;
    // The device selection dialog; the chosen device's name, or empty when
    // cancelled or nothing was chosen.
    virtual QString chooseDevice() = 0;
    // One of several devices that answer to the same ID; the chosen row, or
    // -1 when cancelled.
    virtual int chooseAmong(const QStringList &names) = 0;
    // The custom device dialog (`mode` 0 NAND, 1 SPI) under `title`, its ID
    // fields filled from `presetIds`; the catalogue line of the device the
    // user described, or empty when cancelled.
    virtual QString defineDevice(int mode, const QString &title, const QStringList &presetIds) = 0;
    // The file list of multiple read correction ("Select Files"): the user
    // adds files (never `excluded`, no name twice) starting in `start`.
    // False when cancelled; otherwise `files` holds the list in order.
    virtual bool selectFiles(const QString &excluded, const QString &start, QStringList &files) = 0;
    // The about box; returns when it was closed.
    virtual void showAbout() = 0;
};
