// How fast the emulated programmer delivers data: 256 MiB of NAND pages read
// through func1 of the drop-in library (loaded as the program loads kvusb),
// in 8 KiB and in 128 KiB chunks with instant timing, and a shorter read with
// realistic timing on a high-speed link. Prints MB/s (10^6 bytes per second).
#include "FirmwareImages.h"

#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

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

// 2048 blocks of 64 pages of 2112 bytes: 264 MiB, more than is read.
const char *profile(bool realistic)
{
    return realistic ? "[programmer]\ntiming = realistic\n"
                       "[chip]\nfamily = nand\nid = EC DA 10 95 44\nblocks = 2048\n"
                     : "[programmer]\ntiming = instant\n"
                       "[chip]\nfamily = nand\nid = EC DA 10 95 44\nblocks = 2048\n";
}

bool connect(const Library &lib, bool realistic)
{
    if (lib.configure(profile(realistic)) != 1) {
        std::fprintf(stderr, "profile refused: %s\n", lib.lastError());
        return false;
    }
    lib.setPause(0);
    lib.close();
    if (lib.download(firmwareImage(NandImage1).records, 0) != 1)
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
double readMegabytesPerSecond(const Library &lib, std::uint64_t total, int chunk)
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

template <typename T> bool resolve(void *handle, const char *name, T &function)
{
    function = reinterpret_cast<T>(dlsym(handle, name));
    if (!function)
        std::fprintf(stderr, "%s is not exported\n", name);
    return function != nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string path = argc > 1 ? argv[1] : KVEMU_LIBRARY;
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
        return 1;
    }
    Library lib;
    if (!resolve(handle, "func1", lib.read) || !resolve(handle, "func2", lib.write) ||
        !resolve(handle, "func3", lib.download) || !resolve(handle, "func4", lib.open) ||
        !resolve(handle, "func5", lib.close) ||
        !resolve(handle, "kvemu_configure", lib.configure) ||
        !resolve(handle, "kvemu_last_error", lib.lastError) ||
        !resolve(handle, "kvemu_set_download_pause_ms", lib.setPause))
        return 1;

    if (!connect(lib, false)) {
        std::fprintf(stderr, "the emulated programmer did not come up\n");
        return 1;
    }
    constexpr std::uint64_t Total = 256ull << 20;
    for (const int chunk : {8192, 131072}) {
        readMegabytesPerSecond(lib, 16ull << 20, chunk); // warm up
        const double rate = readMegabytesPerSecond(lib, Total, chunk);
        if (rate < 0) {
            std::fprintf(stderr, "transfer failed\n");
            return 1;
        }
        std::printf("instant timing, %3d KiB chunks: 256 MiB at %8.0f MB/s\n", chunk / 1024, rate);
    }
    if (!connect(lib, true)) {
        std::fprintf(stderr, "the emulated programmer did not come up\n");
        return 1;
    }
    const double realistic = readMegabytesPerSecond(lib, 8ull << 20, 8192);
    std::printf("realistic timing, high speed, 8 KiB chunks: 8 MiB at %6.1f MB/s\n", realistic);
    lib.close();
    return 0;
}
