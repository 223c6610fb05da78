#pragma once

#include "ChipBoard.h"
#include "FirmwareSettings.h"
#include "UsbConfig.h"

#include <optional>
#include <string>

namespace kvemu {

// Everything an emulated programmer is built from: its USB part, its
// firmware's behaviour and the chips in its socket.
struct EmulatorConfig
{
    UsbConfig usb;
    FirmwareSettings firmware;
    ChipBoardLayout board;
    // A second chip of the same family that waits beside the socket; the
    // two change places each time the programmer is re-initialised.
    std::optional<ChipBoardLayout> secondBoard;
    // After an unplug fault the device stays away this long.
    unsigned replugDelayMs = 3000;
};

} // namespace kvemu
