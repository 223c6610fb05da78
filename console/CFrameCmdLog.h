#pragma once

#include "CCmd.h"

// LOG (value): switches the log file "korvane.log" in the temporary folder on or off.
class CFrameCmdLog : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
