#pragma once

// Why the script runner stopped, told to the console's host each time it
// stops for a reason other than a running job or the wait timer.
enum class ScriptStop {
    Finished,       // the script ran to its end ("Script finished")
    Failed,         // a command failed or an awaited job failed
    Error,          // a command could not run (missing input, cancelled)
    Paused,         // `pause`, a command the engine lacks, or too many lines in a row
    AwaitingOption, // an `option` line waits for the user's answer
    Exited,         // a typed line ended the script ("Exit Script")
    Aborted,        // `run` calls nested too deep
};
