#pragma once

#include "CCmd.h"

// D address: makes the address visible in the hex view.
class CFrameCmdDisplay : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
