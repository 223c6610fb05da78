#pragma once

#include "CCmd.h"

// CLS: clears the message log.
class CFrameCmdCls : public CCmd
{
public:
    using CCmd::CCmd;
    int Execute(const QStringList &arguments, ChipEngine &engine, CommandConsole &console) override;
};
