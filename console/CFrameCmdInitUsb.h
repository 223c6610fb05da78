#pragma once

#include "CCmd.h"

// INITUSB: shows the programmer as not connected and reconnects it.
class CFrameCmdInitUsb : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
