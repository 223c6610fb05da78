#pragma once

// The emulated programmer's drop-in library driven directly through its
// exports, as the program's transport binding drives it: for benchmarks that
// measure the emulated link itself.
#include "FirmwareImages.h"

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace EmulatorLink {

using Pipe = int (*)(int, unsigned char *, int);
using Download = int (*)(const void *, unsigned char);
using Call = int (*)();
using Configure = int (*)(const char *);
using LastError = const char *(*)();
using SetPause = void (*)(unsigned);

struct Library
{
    Pipe read = nullptr;
    Pipe write = nullptr;
    Download download = nullptr;
    Call open = nullptr;
    Call close = nullptr;
    Configure configure = nullptr;
    LastError lastError = nullptr;
    SetPause setPause = nullptr;
};

// A new programmer from the INI text `profile`, downloaded and opened.
inline bool connect(const Library &lib, const char *profile, FirmwareImageId image = NandImage1)
{
    if (lib.configure(profile) != 1) {
        std::fprintf(stderr, "profile refused: %s\n", lib.lastError());
        return false;
    }
    lib.setPause(0);
    lib.close();
    if (lib.download(firmwareImage(image).records, 0) != 1)
        return false;
    for (int i = 0; i < 200; ++i) {
        lib.close();
        if (lib.open() == 1)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Reads `total` bytes as the program reads a NAND chip: one read command per
// block (64 pages), its answer fetched in chunks of `chunk` bytes.
inline double readMegabytesPerSecond(const Library &lib, std::uint64_t total, int chunk)
{
    constexpr std::uint32_t PageBytes = 2112;
    constexpr std::uint32_t BlockBytes = 64 * PageBytes;
    std::vector<unsigned char> buffer(static_cast<std::size_t>(chunk));
    std::uint64_t done = 0;
    std::uint32_t row = 0;
    const auto start = std::chrono::steady_clock::now();
    while (done < total) {
        unsigned char command[20] = {0x27,
                                     5,
                                     0,
                                     0,
                                     static_cast<unsigned char>(row),
                                     static_cast<unsigned char>(row >> 8),
                                     static_cast<unsigned char>(row >> 16),
                                     0,
                                     0x40,
                                     0x08,
                                     0x40,
                                     0x01};
        if (lib.write(0, command, 20) != 20)
            return -1;
        std::uint32_t left = BlockBytes;
        while (left > 0) {
            const int want =
                static_cast<int>(std::min<std::uint32_t>(left, static_cast<std::uint32_t>(chunk)));
            const int got = lib.read(3, buffer.data(), want);
            if (got <= 0)
                return -1;
            left -= static_cast<std::uint32_t>(got);
        }
        done += BlockBytes;
        row += 64;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return static_cast<double>(done) / seconds / 1e6;
}

// Reads `total` bytes of a serial flash chip as the program does: 64 KiB
// per read command (3 address bytes, single line), fetched in chunks of
// `chunk` bytes.
inline double readSpiMegabytesPerSecond(const Library &lib, std::uint64_t total, int chunk)
{
    constexpr std::uint32_t CommandBytes = 0x10000;
    std::vector<unsigned char> buffer(static_cast<std::size_t>(chunk));
    std::uint64_t done = 0;
    const auto start = std::chrono::steady_clock::now();
    while (done < total) {
        const auto address = static_cast<std::uint32_t>(done);
        unsigned char command[20] = {0x27,
                                     0x03,
                                     3,
                                     static_cast<unsigned char>(address >> 16),
                                     static_cast<unsigned char>(address >> 8),
                                     static_cast<unsigned char>(address),
                                     0,
                                     0,
                                     0,
                                     1};
        if (lib.write(0, command, 20) != 20)
            return -1;
        std::uint32_t left = CommandBytes;
        while (left > 0) {
            const int want =
                static_cast<int>(std::min<std::uint32_t>(left, static_cast<std::uint32_t>(chunk)));
            const int got = lib.read(3, buffer.data(), want);
            if (got <= 0)
                return -1;
            left -= static_cast<std::uint32_t>(got);
        }
        done += CommandBytes;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return static_cast<double>(done) / seconds / 1e6;
}

template <typename T> inline bool resolve(void *handle, const char *name, T &function)
{
    function = reinterpret_cast<T>(dlsym(handle, name));
    if (!function)
        std::fprintf(stderr, "%s is not exported\n", name);
    return function != nullptr;
}

// Loads the library at `path` (or finds it loaded) and resolves its exports.
inline bool load(const std::string &path, Library &lib)
{
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
        return false;
    }
    return resolve(handle, "func1", lib.read) && resolve(handle, "func2", lib.write) &&
           resolve(handle, "func3", lib.download) && resolve(handle, "func4", lib.open) &&
           resolve(handle, "func5", lib.close) &&
           resolve(handle, "kvemu_configure", lib.configure) &&
           resolve(handle, "kvemu_last_error", lib.lastError) &&
           resolve(handle, "kvemu_set_download_pause_ms", lib.setPause);
}

} // namespace EmulatorLink
