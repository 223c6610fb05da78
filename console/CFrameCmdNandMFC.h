#pragma once

#include "CCmd.h"

// MFC (anything): the NAND multiple read file correction.
class CFrameCmdNandMFC : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
