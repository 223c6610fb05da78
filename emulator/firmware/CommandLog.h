#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace kvemu {

// What the emulated programmer saw, one line per event:
//
//   CMD 18 00 02 00 0a 00 00 00 00   a packet written to pipe 0 (every byte,
//                                    two-digit lower-case hex, one blank apart)
//   DATA 135168                      a block of program data after 0x1C
//   DOWNLOAD NAND image 1            a firmware download completed
//   SOCKET second                    the chips were swapped: the second chip
//                                    sits in the socket now (SOCKET first: the
//                                    first one again)
//   ERROR short packet 0x27 ...      a protocol error (the packet got no answer)
//   FAULT answer_short 0x1b: 1 of 2 bytes   an injected fault spoilt an answer
//   UNPLUG 1765231512345 ms after 4096 bulk bytes   the device went away (wall
//                                    clock in ms since 1970, bulk bytes moved
//                                    since the start, both directions)
//   REPLUG 1765231512845 ms          it came back (the time it was due)
//   END after 138412032 bulk bytes   the emulated programmer was destroyed
//
// With a file named, each line is appended to it at once (one write, so the
// file is complete at every moment). The last KeptLines lines are also kept
// in memory for inspection. Thread-safe.
class CommandLog
{
public:
    static constexpr std::size_t KeptLines = 65536;

    // `file` empty: memory only. A file that cannot be opened is reported
    // by an ERROR line in memory.
    explicit CommandLog(const std::string &file = {});
    ~CommandLog();
    CommandLog(const CommandLog &) = delete;
    CommandLog &operator=(const CommandLog &) = delete;

    void command(std::span<const std::uint8_t> packet);
    void data(std::uint64_t bytes);
    void download(const std::string &image);
    // `chip` 0: the first chip went into the socket, else the second.
    void socket(unsigned chip);
    void error(const std::string &reason);
    void fault(const std::string &what);
    // A line of the plug's own: UNPLUG, REPLUG and END (see EmulatedProgrammer).
    void plug(const std::string &line);

    std::vector<std::string> lines() const;
    // The kept lines, each ended by '\n'.
    std::string text() const;
    void clear();

    static std::string hex(std::span<const std::uint8_t> bytes);

private:
    void append(std::string line);

    mutable std::mutex m_mutex;
    std::deque<std::string> m_lines;
    int m_fd = -1;
};

} // namespace kvemu
