#pragma once

#include <QString>

class CommandConsole;

// The image files SAVE and LOAD work on: the file choosers they fall back
// to, and the checks that keep a command from failing silently or
// overwriting a file the user did not choose.
class CommandFiles
{
public:
    // "Binary files (*.bin);;All files (*.*)".
    static QString imageFilter();
    // The save-file chooser ("Save binary file"), starting in the window's
    // last-used folder; empty when cancelled.
    static QString askSaveFile(CommandConsole &console);
    // The open-file chooser ("Load binary file"); empty when cancelled.
    static QString askOpenFile(CommandConsole &console);

    // A file named on the command line may be written: it can be created
    // or written, and when it exists the user agreed to replace it. Prints
    // "<path> File Error" when it cannot be written.
    static bool mayWrite(CommandConsole &console, const QString &path);
    // A readable file; prints "<path> File Error" otherwise.
    static bool mayRead(CommandConsole &console, const QString &path);
};
