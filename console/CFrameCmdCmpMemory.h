#pragma once

#include "CCmd.h"

// VERIFY (address length): compares the chip with memory (job Verify).
class CFrameCmdCmpMemory : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
