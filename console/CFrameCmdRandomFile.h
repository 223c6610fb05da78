#pragma once

#include "CCmd.h"

// RANDOMFILE: fills the engine's memory with random bytes.
class CFrameCmdRandomFile : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
