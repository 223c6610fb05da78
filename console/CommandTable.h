#pragma once

#include <QtGlobal>

#include <memory>
#include <span>

class CCmd;

// The console's commands in registration order, each with its keyword, the
// number of its usage text (-1: none) and the engine capability bits it
// needs (0: always registered).
struct CommandRow
{
    const char *keyword;
    int usageNumber;
    quint32 condition;
    std::unique_ptr<CCmd> (*make)(const CommandRow &row);

    // True when an engine with `capabilities` admits the command.
    bool admittedBy(quint32 capabilities) const { return (capabilities & condition) == condition; }
};

// The one registration table, read by CommandConsole::RegisterCommands.
std::span<const CommandRow> commandTable();
