#pragma once

#include "CCmd.h"

// WRITE: registered with its usage text; does nothing.
class CFrameCmdSetMemory : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
