#pragma once

#include "CCmd.h"

// DETECT: the engine's chip detection, when the programmer is connected.
class CFrameCmdDetect : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
