#pragma once

#include "CCmd.h"

// EXIT: ends the application's event loop with exit code 0.
class CFrameCmdEnd : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
