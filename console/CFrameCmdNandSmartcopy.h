#pragma once

#include "CCmd.h"

// SMTCPY: the NAND smart copy onto the target.
class CFrameCmdNandSmartcopy : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
