// Moves chip images through the memory nodes the way a read from the chip
// does and prints the rate, CPU time and peak resident memory of each run:
//  - a NAND read: 256 MiB appended to a file node in 8 KiB reply chunks;
//  - programming from that image: the same 256 MiB read back in 8 KiB chunks;
//  - an SPI read: 256 MiB written into a resident node, each 8 KiB chunk at
//    tag x 512 (the tag counts 512-byte link packets).
// Optional argument: the image size in MiB (default 256).
#include "CFileMemoryNode.h"
#include "CMemoryNode.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <sys/resource.h>

#include <cstdio>
#include <vector>

namespace {

constexpr quint32 ChunkBytes = 8192;
constexpr quint32 PacketBytes = 512;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double peakRssMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB
}

// Measures one run from construction to report().
class Run
{
public:
    Run() : m_cpu(cpuSeconds()) { m_timer.start(); }
    void report(const char *what, quint64 bytes) const
    {
        const double seconds = double(m_timer.nsecsElapsed()) / 1e9;
        std::printf("%-44s %8.1f MB/s  %6.2f s wall  %6.2f s CPU  peak RSS %7.1f MiB\n", what,
                    double(bytes) / 1e6 / seconds, seconds, cpuSeconds() - m_cpu, peakRssMiB());
    }

private:
    QElapsedTimer m_timer;
    double m_cpu;
};

std::vector<quint8> chunkPattern()
{
    std::vector<quint8> chunk(ChunkBytes);
    for (quint32 i = 0; i < ChunkBytes; ++i)
        chunk[i] = quint8(i * 7 + 3);
    return chunk;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const int mebibytes = argc > 1 ? QByteArray(argv[1]).toInt() : 256;
    if (mebibytes <= 0) {
        std::fprintf(stderr, "usage: bench_memory_nodes [MiB]\n");
        return 2;
    }
    const quint64 total = quint64(mebibytes) << 20;
    const quint64 chunks = total / ChunkBytes;
    std::vector<quint8> chunk = chunkPattern();
    std::printf("image %d MiB in %u-byte chunks; peak RSS at start %.1f MiB\n", mebibytes,
                ChunkBytes, peakRssMiB());

    // The file node runs first, so its peak RSS is not the resident node's.
    {
        CFileMemoryNode node(QStringLiteral("Nand"), 0, total);
        if (!node.CreateTempFile()) {
            std::fprintf(stderr, "cannot create a temporary file\n");
            return 1;
        }
        Run append;
        for (quint64 i = 0; i < chunks; ++i) {
            if (!node.Append(chunk.data(), ChunkBytes)) {
                std::fprintf(stderr, "append failed at chunk %llu\n",
                             static_cast<unsigned long long>(i));
                return 1;
            }
        }
        append.report("file node: Append 8 KiB chunks", total);
        if (node.GetSize() != total) {
            std::fprintf(stderr, "the image has %llu bytes\n",
                         static_cast<unsigned long long>(node.GetSize()));
            return 1;
        }

        std::vector<quint8> back(ChunkBytes);
        quint64 checksum = 0;
        Run read;
        for (quint64 i = 0; i < chunks; ++i) {
            node.Read(i * ChunkBytes, back.data(), ChunkBytes);
            checksum += back[i % ChunkBytes];
        }
        read.report("file node: Read 8 KiB chunks", total);
        std::printf("  (checksum %llu)\n", static_cast<unsigned long long>(checksum));
    }

    {
        Run construct;
        CMemoryNode node(QStringLiteral("SPI"), 0, total, 0xFF);
        if (node.GetSize() != total) {
            std::fprintf(stderr, "cannot allocate %d MiB\n", mebibytes);
            return 1;
        }
        construct.report("resident node: construct, fill 0xFF", total);
        Run write;
        for (quint64 i = 0; i < chunks; ++i) {
            const quint64 tag = i * (ChunkBytes / PacketBytes);
            node.Write(chunk.data(), quint32(tag * PacketBytes), ChunkBytes);
        }
        write.report("resident node: Write 8 KiB at tag x 512", total);
    }
    return 0;
}
