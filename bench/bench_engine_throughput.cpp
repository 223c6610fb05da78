// How fast the program itself takes data: 256 MiB of answers streamed by the
// real engine worker from the emulated programmer (drop-in library bound as
// dll/libkvusb.so through the program's driver table, instant timing) into
//   (a) a resident memory node, by Write at tag x packet size, and
//   (b) a file memory node, by Append.
// Each case runs in a child process of its own so that its peak RSS is its
// own. Prints MB/s (10^6 bytes per second), CPU seconds and peak RSS.
#include "CFileMemoryNode.h"
#include "CMemoryNode.h"
#include "ChipEngine.h"
#include "EngineMessage.h"
#include "FirmwareImages.h"
#include "ProgramObjects.h"
#include "UsbDriverTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibrary>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <memory>

namespace {

constexpr quint64 Total = 256ull << 20;
constexpr quint32 ChipSize = 16u << 20; // each read request takes the whole chip
constexpr int Requests = int(Total / ChipSize);

// The least an engine needs to stream answers: SPI reads of the whole chip.
class StreamEngine : public ChipEngine
{
public:
    explicit StreamEngine(UsbDriverTable &usb) : ChipEngine(usb)
    {
        setFirmwareRecords(firmwareImage(SpiImage0).records);
    }
    ~StreamEngine() override { shutdown(); }

    // SPI read (0x27): opcode 03h, 3 address bytes, `count` bytes on one line.
    void queueRead(int tag, quint32 count)
    {
        quint8 p[20] = {0x27, 0x03, 3};
        writeLE32(p + 7, count);
        enqueue(p, 20, tag, 'A', int(count));
    }

    void packetSent(const EngineRequest &) override {}
    void checkAdapter(int) override {}
    void writeLE32(quint8 *destination, quint32 value) override
    {
        for (int i = 0; i < 4; ++i)
            destination[i] = quint8(value >> (8 * i));
    }
    int startRead(quint64, quint64, int operation) override { return operation; }
    int startErase(quint64, quint64) override { return 0x80; }
    int startProgram(quint64, quint64) override { return 0x80; }
    quint64 normalizeRange(quint64 &, quint64 &length) override { return length; }
    void queryChipIdentification(int) override {}
    CMemoryNode *memoryNode(int) override { return nullptr; }
    bool handleReply(EngineMessage &) override { return true; }
    void loadImage(const QString &) override {}
    void saveImage(const QString &, const QString &) override {}
    void setSpeed(int) override {}
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int runCase(const QString &mode)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    ProgramObjects objects;

    // The program's layout: <folder>/dll/libkvusb.so is the emulator.
    QTemporaryDir folder;
    QDir(folder.path()).mkpath(QStringLiteral("dll"));
    const QString library = folder.filePath(QStringLiteral("dll/libkvusb.so"));
    if (!QFile::copy(QStringLiteral(KVEMU_LIBRARY), library))
        return 2;
    QLibrary emulator(library);
    using Configure = int (*)(const char *);
    auto configure = reinterpret_cast<Configure>(emulator.resolve("kvemu_configure"));
    const QByteArray profile = "[programmer]\ntiming = instant\nfirmware = SPI image 0\n"
                               "[chip]\nfamily = spi\nid = EF 40 18\nsize = 16M\n";
    if (!configure || configure(profile.constData()) != 1)
        return 2;
    UsbDriverTable usb;
    usb.bind(folder.filePath(QStringLiteral("dll/kvusb")));

    const bool resident = mode == QLatin1String("resident");
    std::unique_ptr<CMemoryNode> residentNode;
    std::unique_ptr<CFileMemoryNode> fileNode;
    if (resident)
        residentNode = std::make_unique<CMemoryNode>(QStringLiteral("Buffer"), 0, Total, 0xFF);
    else {
        fileNode = std::make_unique<CFileMemoryNode>(QStringLiteral("Image"), 0, Total);
        if (!fileNode->CreateTempFile())
            return 2;
    }

    StreamEngine engine(usb);
    quint64 received = 0;
    QElapsedTimer clock;
    double cpuAtStart = 0;
    QObject::connect(&engine, &ChipEngine::dataReady, &engine, [&](EngineMessage *message) {
        std::unique_ptr<EngineMessage> owned(message);
        if (owned->kind() != 'A' || !owned->hasData())
            return;
        if (resident)
            residentNode->Write(owned->data(), quint32(quint64(owned->tag()) * 512), owned->size());
        else
            fileNode->Append(owned->data(), owned->size());
        received += owned->size();
        if (received >= Total)
            QCoreApplication::quit();
    });
    QObject::connect(&engine, &ChipEngine::connectionChanged, &engine, [&](bool connected) {
        if (!connected)
            return;
        clock.start();
        cpuAtStart = cpuSeconds();
        // Tags count 512-byte packets: request i starts where request i-1 ended.
        for (int i = 0; i < Requests; ++i)
            engine.queueRead(i * int(ChipSize / 512), ChipSize);
    });
    QTimer::singleShot(120000, [] { QCoreApplication::exit(3); });
    engine.start();
    const int result = QCoreApplication::exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuAtStart;
    std::printf("%-44s %8.1f MB/s  %6.2f s wall  %6.2f s CPU  peak RSS %7.1f MiB  (%llu MiB)\n",
                resident ? "(a) resident node, Write at tag x 512:" : "(b) file node, Append:",
                double(received) / 1e6 / seconds, seconds, cpu, peakRssKiB() / 1024.0,
                static_cast<unsigned long long>(received >> 20));
    return result == 0 && received == Total ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() > 1)
        return runCase(arguments.at(1));
    std::printf("256 MiB through the engine worker from the emulated programmer "
                "(instant timing, high-speed link, 8 KiB chunks)\n");
    std::fflush(stdout);
    int failures = 0;
    for (const char *mode : {"resident", "file"}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(application.applicationFilePath(), {QString::fromLatin1(mode)});
        child.waitForFinished(-1);
        failures += child.exitCode() != 0 ? 1 : 0;
    }
    std::printf("Goal: at least 530 MB/s for both (ten times USB 2.0 high speed).\n");
    return failures;
}
