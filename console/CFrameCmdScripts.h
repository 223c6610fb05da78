#pragma once

#include "CCmd.h"

// SCRIPT (name): lists the script files, or shows one.
class CFrameCmdScripts : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
