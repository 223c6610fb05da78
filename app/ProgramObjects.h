#pragma once

#include "Settings.h"
#include "UiText.h"

#include <QString>

// The program-wide objects that exist before the main window and outlive it.
// Members are built in declaration order and destroyed in reverse order. One
// instance is made at process start; current() reaches it from anywhere.
class ProgramObjects
{
public:
    ProgramObjects();
    ~ProgramObjects();
    ProgramObjects(const ProgramObjects &) = delete;
    ProgramObjects &operator=(const ProgramObjects &) = delete;

    // The live instance, or null when none exists.
    static ProgramObjects *current();

    static QString productName() { return QStringLiteral("Korvane"); }
    static QString version() { return QStringLiteral("1.10"); }
    static QString sfdpDeviceName() { return QStringLiteral("SPI SFDP"); }
    static QString onfiDeviceName() { return QStringLiteral("NAND OFNI"); }

    QString scriptFolderOverride;
    UiText uiText;
    // Opened last: opening it makes the settings folder the current directory.
    Settings settings;

private:
    ProgramObjects *m_previous;
};

// Short forms for the live program-wide objects. They must not be called
// while no ProgramObjects instance exists.
UiText &uiText();
Settings &settings();
