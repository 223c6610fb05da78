// How fast the emulated programmer delivers data: 256 MiB of NAND pages read
// through func1 of the drop-in library (loaded as the program loads kvusb),
// in 8 KiB and in 128 KiB chunks with instant timing, and a shorter read with
// realistic timing on a high-speed link. Prints MB/s (10^6 bytes per second).
#include "EmulatorLink.h"

#include <cstdio>
#include <string>

namespace {

// 2048 blocks of 64 pages of 2112 bytes: 264 MiB, more than is read.
const char *profile(bool realistic)
{
    return realistic ? "[programmer]\ntiming = realistic\n"
                       "[chip]\nfamily = nand\nid = EC DA 10 95 44\nblocks = 2048\n"
                     : "[programmer]\ntiming = instant\n"
                       "[chip]\nfamily = nand\nid = EC DA 10 95 44\nblocks = 2048\n";
}

} // namespace

int main(int argc, char **argv)
{
    using namespace EmulatorLink;
    Library lib;
    if (!load(argc > 1 ? argv[1] : KVEMU_LIBRARY, lib))
        return 1;

    if (!connect(lib, profile(false))) {
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
    if (!connect(lib, profile(true))) {
        std::fprintf(stderr, "the emulated programmer did not come up\n");
        return 1;
    }
    const double realistic = readMegabytesPerSecond(lib, 8ull << 20, 8192);
    std::printf("realistic timing, high speed, 8 KiB chunks: 8 MiB at %6.1f MB/s\n", realistic);
    lib.close();
    return 0;
}
