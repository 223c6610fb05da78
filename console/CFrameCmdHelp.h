#pragma once

#include "CCmd.h"

// HELP (keyword): every keyword, or the usage text of one command.
class CFrameCmdHelp : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
