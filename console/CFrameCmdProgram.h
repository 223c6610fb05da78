#pragma once

#include "CCmd.h"

// PROGRAM (address length): programs the chip from memory.
class CFrameCmdProgram : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
