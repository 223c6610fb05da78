#pragma once

#include <QStringList>

class CCmd;
class ChipEngine;
class CommandConsole;

// The steps the range commands share: READ, VERIFY and BLKCHK start their
// job through the main window; PROGRAM and ERASE call the engine.
class ChipJobs
{
public:
    // Adjusts the range, prints it when the adjustment changed a typed
    // range, and asks the window to start `job`. Returns the window's
    // answer (the job's code, or CommandStatus::Failed after "Busy").
    static int startReadJob(const CCmd &command, const QStringList &arguments, ChipEngine &engine,
                            CommandConsole &console, int job);

    // Refuses with "Busy" and CommandStatus::Failed while the programmer is
    // not connected or a job runs. A typed range that the adjustment would
    // widen (a shorter length than the device's unit, a zero length, a
    // range past the end) is refused too, with "Check memory range." and
    // the adjusted range: these commands never change more of the chip
    // than asked. Otherwise `start` runs on the adjusted range; its result
    // is returned.
    using Start = int (*)(ChipEngine &engine, quint64 start, quint64 length);
    static int startWriteJob(const CCmd &command, const QStringList &arguments, ChipEngine &engine,
                             CommandConsole &console, Start start);

    // "Busy" and CommandStatus::Failed, when the programmer is not connected
    // or a job runs; 0 when the chip may be used.
    static int refuseWhenBusy(CommandConsole &console);
};
