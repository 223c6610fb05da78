#pragma once

#include <cstdint>
#include <string>

namespace kvemu {

// The adapter (top module) on the programmer.
enum class AdapterKind { None, Nand, Spi };

// How the emulated programmer's firmware behaves beyond its chips.
struct FirmwareSettings
{
    // Identification words of the two units: the second byte names the kind
    // (1 NAND, 2 SPI), and the program checks the adapter of that kind.
    static constexpr std::uint32_t NandIdentification = 0x4B560100;
    static constexpr std::uint32_t SpiIdentification = 0x4B560200;

    // Identification word of the programmer unit (answer to 0x18); 0 and
    // 0xFFFFFFFF stand for a faulty adapter. Profiles default to the word of
    // their adapter's kind.
    std::uint32_t identification = NandIdentification;
    AdapterKind adapter = AdapterKind::Nand;
    // The NAND image (1 or 2) that fits the adapter board; the other one
    // identifies with the "wrong image" magic.
    unsigned board = 1;
    // Realistic timing: transfers and chip operations take their real time.
    bool realistic = false;
    // Bulk rates in bytes per second.
    double highSpeedRate = 40e6;
    double fullSpeedRate = 1e6;
    // Firmware already runs when the device appears: its first start is no
    // download.
    bool startsRunning = false;
    // The command log file (empty: memory only).
    std::string logFile;
    // N > 0: the N-th bulk read fails (once); its bytes are lost.
    unsigned failRead = 0;
};

} // namespace kvemu
