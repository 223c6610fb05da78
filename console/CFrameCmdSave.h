#pragma once

#include "CCmd.h"

// SAVE tabname (filename) or start end (filename): saves a memory tab or exports blocks.
class CFrameCmdSave : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
