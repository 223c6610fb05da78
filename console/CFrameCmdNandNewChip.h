#pragma once

#include "CCmd.h"

// NEWCHIP: the engine's new-chip step, then the window's new-chip reset.
class CFrameCmdNandNewChip : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
