#pragma once

#include "CCmd.h"

// DEVICES: prints every catalogue device.
class CFrameCmdDevices : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
