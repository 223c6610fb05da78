#pragma once

#include "CCmd.h"

// DEVICE (name): the device selection dialog, or selects the named device.
class CFrameCmdConfig : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
