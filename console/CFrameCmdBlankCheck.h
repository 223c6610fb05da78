#pragma once

#include "CCmd.h"

// BLKCHK (address length): checks that the chip is blank (job BlankCheck).
class CFrameCmdBlankCheck : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
