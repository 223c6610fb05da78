#pragma once

#include "CCmd.h"

// SPEED value: sets the programmer's speed step (decimal 1 to 10).
class CFrameCmdSpeed : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
