#pragma once

#include "CCmd.h"

// COLOR rrggbb: the message log's background colour.
class CFrameCmdColor : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
