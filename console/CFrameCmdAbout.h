#pragma once

#include "CCmd.h"

// ABOUT: shows the about box.
class CFrameCmdAbout : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
