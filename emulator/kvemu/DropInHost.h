#pragma once

#include "CommandLog.h"
#include "EmulatedProgrammer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace kvemu {

// kvusb's six functions over an emulated programmer, with kvusb's module
// state: one device at a time, the pipe table of 8 entries (entry 0 reads
// 0xFF until a firmware's endpoints were recorded, a failed open resets
// all), open results 1 and 2 (vendor 0x0547), the download through
// firmware-load requests with the CPU held in reset, and the pause after a
// successful download. An open device is one enumeration of the model: once
// the device re-enumerates or unplugs, transfers on it fail. A forced
// download into a programmer whose firmware has run before (the program's
// re-initialisation) swaps the chips when the profile has a second one.
//
// The profile comes from the file named by KVEMU_CONFIG, read at first use;
// KVEMU_LOG names the command log file. With realistic timing a transfer
// returns when the emulated device would have finished it.
//
// Thread-safe (the program calls status() from a second thread); sleeps
// happen without the lock.
class DropInHost
{
public:
    static constexpr int Pipes = 8;
    static constexpr unsigned DownloadPauseMs = 1800;
    static constexpr unsigned TransferTimeoutMs = 60000;

    static DropInHost &instance();

    DropInHost();
    ~DropInHost();

    int open();
    int close();
    int read(int pipe, unsigned char *buffer, int length);
    int write(int pipe, unsigned char *buffer, int length);
    int download(const void *records, unsigned char force);
    int status() const { return m_pipe1PacketSize.load(); }

    // --- for tests ---------------------------------------------------------------
    bool configure(std::string_view profile);
    bool reset();
    std::string lastError() const;
    long long readChip(int chip, std::uint64_t offset, unsigned char *buffer, std::uint64_t length);
    long long writeChip(int chip, std::uint64_t offset, const unsigned char *buffer,
                        std::uint64_t length);
    long long chipSize(int chip);
    int socketChip();
    bool swapChip();
    std::string commandLog();
    void clearLog();
    bool injectFault(std::string_view fault, std::uint64_t value);
    void setDownloadPauseMs(unsigned milliseconds) { m_pauseMs = milliseconds; }

private:
    struct Pipe
    {
        unsigned address = 0;
        unsigned packetSize = 0;
    };

    void ensureLoaded();
    bool build(std::string_view profile, const std::string &folder);
    void resetPipeTable();
    void forgetPipes();
    int openLocked();
    int closeLocked();
    bool stillOpen();
    int transfer(int pipe, unsigned char *buffer, int length, bool in);
    bool load(std::uint16_t address, const std::uint8_t *data, std::uint16_t length);
    int writeRecords(const unsigned char *record);
    CommandLog &log();

    mutable std::mutex m_mutex;
    bool m_loaded = false;
    std::unique_ptr<EmulatedProgrammer> m_programmer;
    std::unique_ptr<CommandLog> m_hostLog; // errors while no programmer exists
    std::string m_profile;                 // text of the last profile
    std::string m_profileFolder;
    std::string m_error;
    Pipe m_pipes[Pipes];
    std::atomic<int> m_pipe1PacketSize{0};
    bool m_open = false;
    int m_openResult = 0;
    std::uint32_t m_openEnumeration = 0;
    std::atomic<unsigned> m_pauseMs{DownloadPauseMs};
};

} // namespace kvemu
