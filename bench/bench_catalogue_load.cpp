// Loads the shipped device catalogue (Nand.txt and SPI.txt) repeatedly from a
// configuration folder and prints the time per load.
#include "CDeviceFamilyNand.h"
#include "CDeviceFamilySPI.h"
#include "CatalogueFiles.h"
#include "DeviceCatalogue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const int rounds = argc > 1 ? QByteArray(argv[1]).toInt() : 100;
    if (rounds <= 0) {
        std::fprintf(stderr, "usage: bench_catalogue_load [rounds]\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    if (CatalogueFiles::installShipped(folder).size() != 2) {
        std::fprintf(stderr, "cannot install the shipped catalogue into %s\n", qPrintable(folder));
        return 1;
    }

    DeviceCatalogue catalogue;
    catalogue.load(folder); // warm-up: file cache, first allocations
    const int lines = catalogue.nand()->count() - 1 + catalogue.spi()->count() - 1;

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        catalogue.load(folder);
    const double fileMs = timer.nsecsElapsed() / 1e6;

    // The same text without file access: cutting lines and parsing records.
    QFile nandFile(folder + QStringLiteral("Nand.txt"));
    QFile spiFile(folder + QStringLiteral("SPI.txt"));
    if (!nandFile.open(QIODevice::ReadOnly) || !spiFile.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray nandText = nandFile.readAll();
    const QByteArray spiText = spiFile.readAll();
    int kept = 0;
    timer.restart();
    for (int i = 0; i < rounds; ++i) {
        CDeviceFamilyNand nand;
        CDeviceFamilySPI spi;
        kept += nand.addText(nandText) + spi.addText(spiText);
    }
    const double parseMs = timer.nsecsElapsed() / 1e6;
    if (kept != rounds * lines)
        return 1;

    std::printf("catalogue load: %d devices (%d NAND, %d SPI), %d rounds\n", lines,
                catalogue.nand()->count() - 1, catalogue.spi()->count() - 1, rounds);
    std::printf("  from files:  %8.3f ms per load (%.1f us per device line)\n", fileMs / rounds,
                1000.0 * fileMs / rounds / lines);
    std::printf("  from memory: %8.3f ms per load (%.1f us per device line)\n", parseMs / rounds,
                1000.0 * parseMs / rounds / lines);
    return 0;
}
