// The NAND tools on a 1 GiB image (NAND08GW3C2B: 4096 blocks of 128 pages
// of 2112 bytes) through the real main window and its NAND engine over the
// emulated programmer: multiple read correction of the image with three
// further reads (a few single-bit differences each), and smart copy's
// analysis and target image onto a chip with bad blocks, then its program.
// Prints MB/s (10^6 bytes of image per second) and the peak resident memory.
// The files go to /dev/shm when it exists (what the program costs, apart
// from the disk), or to the folder given as the first argument.
#include "CFileMemoryNode.h"
#include "NandEngine.h"
#include "ProgramObjects.h"
#include "TestHome.h"
#include "WindowSession.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr quint64 PageBytes = 2112;
constexpr quint64 PagesPerBlock = 128;
constexpr quint64 BlockBytes = PageBytes * PagesPerBlock;
constexpr quint64 Blocks = 4096;
constexpr quint64 ImageBytes = BlockBytes * Blocks;
const QString Target = QStringLiteral("NAND08GW3C2B");

std::string profile()
{
    QFile file(QStringLiteral(KORVANE_SOURCE_DIR "/emulator/profiles/nand-1gib.ini"));
    // A target chip with factory bad blocks: the copy shifts the image.
    return file.open(QIODevice::ReadOnly)
               ? file.readAll().toStdString() + "bad_blocks = 5, 100, 101, 2000\n"
               : std::string();
}

// The image: pseudo-random data, erased spare bytes (good blocks), every
// eighth block erased; each further read flips one bit in `flips` blocks.
bool writeImages(const QStringList &names, int flips)
{
    std::vector<QFile *> files;
    for (const QString &name : names) {
        auto *file = new QFile(name);
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        files.push_back(file);
    }
    std::vector<quint8> block(BlockBytes);
    quint64 state = 0x9E3779B97F4A7C15ull;
    bool ok = true;
    for (quint64 b = 0; b < Blocks && ok; ++b) {
        std::fill(block.begin(), block.end(), quint8(0xFF));
        if (b % 8 != 7) {
            for (quint64 page = 0; page < PagesPerBlock; ++page) {
                auto *words = reinterpret_cast<quint64 *>(block.data() + page * PageBytes);
                for (int i = 0; i < 2048 / 8; ++i) {
                    state ^= state << 13;
                    state ^= state >> 7;
                    state ^= state << 17;
                    words[i] = state;
                }
            }
        }
        for (size_t f = 0; f < files.size() && ok; ++f) {
            const bool flip = f > 0 && b % (Blocks / quint64(flips)) == f;
            if (flip)
                block[100 + f] ^= 0x10;
            ok = files[f]->write(reinterpret_cast<const char *>(block.data()), BlockBytes) ==
                 qint64(BlockBytes);
            if (flip)
                block[100 + f] ^= 0x10;
        }
    }
    for (QFile *file : files)
        delete file;
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    TestHome::prepareProcess();
    QApplication application(argc, argv);
    ProgramObjects objects;
    TestHome::Fresh home;
    DropInEmulator emulator;
    if (!loadEmulator(emulator))
        return 1;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1])
                           : QFileInfo(QStringLiteral("/dev/shm")).isDir()
                               ? QStringLiteral("/dev/shm")
                               : QDir::tempPath();
    QTemporaryDir files(folder + QStringLiteral("/korvane-bench-XXXXXX"));
    std::printf("files in %s\n", qPrintable(folder));
    const auto path = [&](const char *name) { return files.filePath(QLatin1String(name)); };
    const QStringList names{path("image.bin"), path("read1.bin"), path("read2.bin"),
                            path("read3.bin")};
    QElapsedTimer writing;
    writing.start();
    if (!writeImages(names, 16)) {
        std::fprintf(stderr, "cannot write the images in %s\n", qPrintable(files.path()));
        return 1;
    }

    std::printf("4 images written in %.1f s\n", double(writing.nsecsElapsed()) / 1e9);
    std::fflush(stdout);
    ScriptedQuestions questions;
    WindowSession session(emulator, profile(), Target, questions);
    if (!session.ready()) {
        std::fprintf(stderr, "the programmer did not come up\n");
        return 1;
    }
    MainWindow &window = session.window();
    auto *engine = qobject_cast<NandEngine *>(window.engine());
    window.issueCommand(QStringLiteral("load ") + names[0]);
    if (!engine || engine->nandNode()->GetSize() != ImageBytes) {
        std::fprintf(stderr, "the image did not load\n");
        return 1;
    }
    const double megabytes = double(ImageBytes) / 1e6;

    // What writing a file of the image's size costs here, apart from the
    // program: the floor under the correction's figure.
    {
        QFile plain(path("plain.bin"));
        std::vector<char> block(BlockBytes, 0x5A);
        QElapsedTimer timer;
        timer.start();
        bool written = plain.open(QIODevice::WriteOnly);
        for (quint64 b = 0; b < Blocks && written; ++b)
            written = plain.write(block.data(), qint64(block.size())) == qint64(block.size());
        plain.close();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        plain.remove();
        std::printf("writing a file of the image's size: %.2f s = %.0f MB/s\n", seconds,
                    megabytes / seconds);
    }
    questions.filesAccepted = true;
    questions.filesAnswer = names.mid(1);
    questions.saveAnswer = path("corrected.bin");
    // Twice: the first run's output takes memory this machine has not given
    // out before, which costs more here than the program's own work; the
    // second reuses the pages the first one's output freed.
    for (const char *run : {"first run", "second run"}) {
        QElapsedTimer timer;
        timer.start();
        window.issueCommand(QStringLiteral("mfc"));
        const double correction = double(timer.nsecsElapsed()) / 1e9;
        const bool corrected = QFile(questions.saveAnswer).size() == qint64(ImageBytes);
        std::printf("multiple read correction, 1 GiB image (%.0f MB) and 3 further reads, %s: "
                    "%.2f s = %.0f MB/s%s\n",
                    megabytes, run, correction, megabytes / correction,
                    corrected ? "" : " (the output is incomplete)");
        std::fflush(stdout);
        QFile::remove(questions.saveAnswer);
    }
    for (int i = 1; i < names.size(); ++i)
        QFile::remove(names[i]);

    // The target chip (factory bad blocks in the profile) erased and
    // scanned, then the copy.
    if (session.run(QStringLiteral("erase")) < 0 &&
        engine->targetTable().state(Blocks - 1) == BadBlockTable::Unknown) {
        std::fprintf(stderr, "the erase failed\n");
        return 1;
    }
    QSignalSpy ended(&window, &MainWindow::jobEndReported);
    QSignalSpy failed(&window, &MainWindow::jobFailureReported);
    QElapsedTimer timer;
    timer.start();
    window.issueCommand(QStringLiteral("smtcpy"));
    const bool built =
        QTest::qWaitFor([&] { return engine->targetNode()->GetSize() == ImageBytes; }, 600000);
    const double analysis = double(timer.nsecsElapsed()) / 1e9;
    const bool programmed =
        QTest::qWaitFor([&] { return !ended.isEmpty() || !failed.isEmpty(); }, 600000) &&
        failed.isEmpty();
    const double total = double(timer.nsecsElapsed()) / 1e9;
    if (!built || !programmed) {
        std::fprintf(stderr, "smart copy did not complete\n");
        return 1;
    }
    std::printf("smart copy, 1 GiB image: analysis and target image %.2f s = %.0f MB/s; "
                "with the program %.2f s = %.0f MB/s\n",
                analysis, megabytes / analysis, total, megabytes / total);
    std::printf("peak resident memory: %.0f MiB\n", peakResidentMiB());
    return 0;
}
