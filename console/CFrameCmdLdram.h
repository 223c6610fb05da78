#pragma once

#include "CCmd.h"

// LOAD (filename): loads an image file into the engine's main memory tab.
class CFrameCmdLdram : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
