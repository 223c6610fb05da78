#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// What the main window writes in its title and status bar, and which of its
// actions an engine's capability bits enable. Core only.
namespace WindowTexts {

// "Korvane 1.10  " and, for a target, "Target: " + its display name + " ".
QString title(const QString &targetDisplayName);
// The USB status texts (not connected, full speed, high speed) padded with
// blanks to the longest, so the label keeps its width.
QStringList usbStatus();
enum UsbState { NotConnected = 0, FullSpeed = 1, HighSpeed = 2 };
// "   Speed: (<value>)  ".
QString speedLabel(int value);
// "Korvane   1.10": the first line about a selected target.
QString productLine();

} // namespace WindowTexts

// The actions an engine's capability bits enable: bit 0 Detect Chip, bit 1
// Erase chip, bit 2 Blank Check.
struct CapabilityActions
{
    bool detect = false;
    bool erase = false;
    bool blankCheck = false;

    static CapabilityActions from(quint32 bits)
    {
        return {(bits & 0x1) != 0, (bits & 0x2) != 0, (bits & 0x4) != 0};
    }
};
