#pragma once

#include "CCmd.h"

// ERASE (address length): erases the chip.
class CFrameCmdErase : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
