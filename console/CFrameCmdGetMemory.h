#pragma once

#include "CCmd.h"

// READ (address length): reads the chip into memory (job Read).
class CFrameCmdGetMemory : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
